// COSVersionInfo: which family of Windows the program runs on, and the font it
// should use by default.
#ifndef ZANTH_OSVERSION_H
#define ZANTH_OSVERSION_H

#include <zanth/config.h>

// The Win32 version record with questions about it. Every question reads the
// version afresh with GetVersionExW; if that fails the record keeps what it held.
// The fields other than dwOSVersionInfoSize are undefined until the first query.
// Thread rules: one thread at a time per object (each query rewrites the record);
// distinct objects are independent.
class ZANTH_TOOLS_API COSVersionInfo : public OSVERSIONINFOW
{
public:
    COSVersionInfo();
    COSVersionInfo(const COSVersionInfo& other);
    COSVersionInfo& operator=(const COSVersionInfo& other);
    virtual ~COSVersionInfo();

    // Fills the record with GetVersionExW; the call's result is ignored.
    void LoadVersionInfo();
    // 1 on the NT family (platform id 2), else 0.
    UINT IsWinNT();
    // 1 for NT before version 4 and for any platform other than the Windows 95
    // family and NT; 0 for the Windows 95 family and NT 4 or later.
    UINT IsOldstyle();
    // "Lucida Sans Unicode" on the NT family, "Arial" otherwise; static text that
    // the caller must not free.
    const WCHAR* GetDefaultFontName();
};

#endif // ZANTH_OSVERSION_H
