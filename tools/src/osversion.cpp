// COSVersionInfo over GetVersionExW.
#include <zanth/osversion.h>

namespace {

constexpr DWORD kRecordSize = sizeof(OSVERSIONINFOW);
static_assert(kRecordSize == 276, "the Win32 version record is 276 bytes");

} // namespace

COSVersionInfo::COSVersionInfo() : OSVERSIONINFOW()
{
    dwOSVersionInfoSize = kRecordSize;
}

COSVersionInfo::COSVersionInfo(const COSVersionInfo& other) : OSVERSIONINFOW(other) {}

COSVersionInfo& COSVersionInfo::operator=(const COSVersionInfo& other)
{
    OSVERSIONINFOW::operator=(other);
    return *this;
}

COSVersionInfo::~COSVersionInfo() = default;

void COSVersionInfo::LoadVersionInfo()
{
    dwOSVersionInfoSize = kRecordSize;
    // On failure the record keeps its previous contents and the queries answer
    // from them.
    ::GetVersionExW(this);
}

UINT COSVersionInfo::IsWinNT()
{
    LoadVersionInfo();
    return dwPlatformId == VER_PLATFORM_WIN32_NT ? 1 : 0;
}

UINT COSVersionInfo::IsOldstyle()
{
    LoadVersionInfo();
    switch (dwPlatformId) {
    case VER_PLATFORM_WIN32_WINDOWS:
        return 0;
    case VER_PLATFORM_WIN32_NT:
        return dwMajorVersion < 4 ? 1 : 0;
    default:
        return 1;
    }
}

const WCHAR* COSVersionInfo::GetDefaultFontName()
{
    return IsWinNT() ? TEXT("Lucida Sans Unicode") : TEXT("Arial");
}
