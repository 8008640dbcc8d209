// ZCUserFormat: the paper formats that the user defines, kept in the registry
// under the root "ZANTH", with the unit in which the user works.
#ifndef ZANTH_USERFORMAT_H
#define ZANTH_USERFORMAT_H

#include <corewu/callback.h>
#include <corewu/ptrlist.h>
#include <corewu/tstring.h>
#include <zanth/config.h>
#include <zanth/paper.h>

// The user's list of paper formats, plus the unit setting. It is a ZCFormat (the
// standard table and its searches) and a TCallback: views register with it and
// are told, with code 2, when InvokeChange reports a change of the list.
//
// The registry holds "FORMAT\ADMIN" with "Entries" (the number of formats) and
// "Units" (the unit code), and one key "FORMAT\<i>" per format with "SkipX",
// "SkipY", "SizeX", "SizeY", "Class", "Land" and "Name".
//
// Ownership: the object owns the records in its list (each made with `new`; the
// object deletes them). A copy copies the records, so a copy and its source never
// share one; listeners are not copied. With the auto flag set the list is read by
// the constructor and written back by Destructor.
//
// Thread rules: one thread at a time. ReadFormatList also sets the default unit of
// the library-wide TheUnits, which is not locked.
class ZANTH_TOOLS_API ZCUserFormat : public ZCFormat, public TCallback
{
public:
    // The callback code of InvokeChange.
    static constexpr DWORD ChangeCode = 2;
    // The most formats ReadFormatList accepts from "Entries"; a larger count is
    // taken for a damaged registry and raised as an error.
    static constexpr int MaxEntries = 100000;

    explicit ZCUserFormat(UINT autoFlag);
    ZCUserFormat(const ZCUserFormat& other);
    ZCUserFormat& operator=(const ZCUserFormat& other);
    ~ZCUserFormat() noexcept(false) override;

    // Appends the formats stored in the registry to the list (it is not emptied
    // first) and reads the unit setting, which becomes TheUnits' default unit.
    void ReadFormatList();
    // Writes the list and the unit setting. Null records are skipped but counted
    // in "Entries"; format keys beyond the list that an older, longer list left
    // behind stay in the registry.
    void WriteFormatList();
    // "pixel", "mm" or "inches" for unit setting 0, 1 or 2; "unknown" otherwise.
    TString GetDefaultName();
    // Tells every registered listener that the list changed (code 2, no data).
    void InvokeChange();

    // Saves the list when the auto flag is set, then deletes every record. After
    // it the object is empty and saves nothing more.
    virtual void Destructor();

    TPtrList<ZCFormat::TFormatInfo*>& FormatList() { return m_FormatList; }
    const TPtrList<ZCFormat::TFormatInfo*>& FormatList() const { return m_FormatList; }
    ULONG GetUnits() const { return m_Units; }
    void SetUnits(ULONG units) { m_Units = units; }
    UINT GetAutoFlag() const { return m_AutoFlag; }

protected:
    // The callback entry; does nothing in this class.
    virtual void Notify(LONG code, const void* data, void* context);

private:
    void CopyRecordsFrom(const ZCUserFormat& other);
    void DeleteRecords();

    TPtrList<ZCFormat::TFormatInfo*> m_FormatList;
    ULONG m_Units;
    UINT m_AutoFlag;
};

#endif // ZANTH_USERFORMAT_H
