// ZCUserFormat: the user's paper formats in the registry.
#include <corewu/errors.h>
#include <corewu/registry.h>
#include <zanth/userformat.h>

#include <zanth/units.h>

#include <cstring>
#include <memory>

namespace {

constexpr const WCHAR* kRoot = TEXT("ZANTH");
constexpr const WCHAR* kAdminKey = TEXT("FORMAT\\ADMIN");
constexpr LONG kMaxNameLength = 31;

TString FormatKey(LONG index)
{
    return TString::Formatted(TEXT("FORMAT\\%d"), static_cast<int>(index));
}

// A name cut to 31 characters and always terminated.
void CopyName(ZCFormat::TFormatInfo& record, const TString& name)
{
    const LONG length = name.GetLength() < kMaxNameLength ? name.GetLength() : kMaxNameLength;
    std::memcpy(record.Name, name.c_str(), static_cast<std::size_t>(length) * sizeof(WCHAR));
    record.Name[length] = 0;
}

} // namespace

ZCUserFormat::ZCUserFormat(UINT autoFlag)
    : m_FormatList(10), m_Units(TheUnits.GetDefault()), m_AutoFlag(autoFlag)
{
    if (m_AutoFlag) {
        ReadFormatList();
    }
}

ZCUserFormat::ZCUserFormat(const ZCUserFormat& other)
    : ZCFormat(other), TCallback(), m_FormatList(10), m_Units(other.m_Units),
      m_AutoFlag(other.m_AutoFlag)
{
    CopyRecordsFrom(other);
}

ZCUserFormat& ZCUserFormat::operator=(const ZCUserFormat& other)
{
    if (this != &other) {
        ZCFormat::operator=(other);
        DeleteRecords();
        CopyRecordsFrom(other);
        m_Units = other.m_Units;
        m_AutoFlag = other.m_AutoFlag;
    }
    return *this;
}

ZCUserFormat::~ZCUserFormat() noexcept(false)
{
    RunDestructorWork([this] { Destructor(); });
}

void ZCUserFormat::CopyRecordsFrom(const ZCUserFormat& other)
{
    for (POSITION position = other.m_FormatList.GetHeadPosition(); position;) {
        const ZCFormat::TFormatInfo* record = other.m_FormatList.GetNext(position);
        m_FormatList.AddTail(record ? new ZCFormat::TFormatInfo(*record) : nullptr);
    }
}

void ZCUserFormat::DeleteRecords()
{
    for (POSITION position = m_FormatList.GetHeadPosition(); position;) {
        delete m_FormatList.GetNext(position);
    }
    m_FormatList.RemoveAll();
}

void ZCUserFormat::ReadFormatList()
{
    int count = 0;
    {
        TRegistry admin(kRoot, kAdminKey, 0);
        admin.Read(TEXT("Entries"), count, 0, 0, 0);
        int units = 0;
        admin.Read(TEXT("Units"), units, static_cast<int>(TheUnits.GetDefault()), 0, 0);
        if (count > MaxEntries) {
            ThrowNewError(
                0, 0,
                TString::Formatted(TEXT("The registry value \"Entries\" of \"%s\" counts %d ")
                                       TEXT("paper formats, more than the %d a list can hold."),
                                   admin.GetKeyName().c_str(), count, MaxEntries),
                TString::NullString, TString::NullString, nullptr);
        }
        m_Units = static_cast<ULONG>(units);
    }
    TheUnits.SetDefault(m_Units);

    for (int i = 0; i < count; ++i) {
        // Value-initialised, so that Index (which is not stored) reads as 0.
        auto record = std::make_unique<ZCFormat::TFormatInfo>();
        {
            TRegistry registry(kRoot, FormatKey(i), 0);
            unsigned int skipX = 0, skipY = 0, sizeX = 0, sizeY = 0, land = 0;
            int formatClass = 0;
            TString name;
            registry.Read(TEXT("SkipX"), skipX, 0u, 0, 0);
            registry.Read(TEXT("SkipY"), skipY, 0u, 0, 0);
            registry.Read(TEXT("SizeX"), sizeX, 0u, 0, 0);
            registry.Read(TEXT("SizeY"), sizeY, 0u, 0, 0);
            registry.Read(TEXT("Class"), formatClass, 0, 0, 0);
            registry.Read(TEXT("Land"), land, 0u, 0, 0);
            registry.Read(TEXT("Name"), name, TString(0L, 10), 0, 0);
            record->SkipX = skipX;
            record->SkipY = skipY;
            record->SizeX = sizeX;
            record->SizeY = sizeY;
            record->Class = static_cast<WORD>(formatClass);
            record->Land = land;
            CopyName(*record, name);
        }
        m_FormatList.AddTail(record.release());
    }
}

void ZCUserFormat::WriteFormatList()
{
    const LONG count = m_FormatList.GetCount();
    POSITION position = m_FormatList.GetHeadPosition();
    for (LONG i = 0; i < count && position; ++i) {
        const ZCFormat::TFormatInfo* record = m_FormatList.GetNext(position);
        if (!record) {
            continue;
        }
        TRegistry registry(kRoot, FormatKey(i), 0);
        registry.Write(TEXT("SkipX"), static_cast<unsigned int>(record->SkipX), 0, 0);
        registry.Write(TEXT("SkipY"), static_cast<unsigned int>(record->SkipY), 0, 0);
        registry.Write(TEXT("SizeX"), static_cast<unsigned int>(record->SizeX), 0, 0);
        registry.Write(TEXT("SizeY"), static_cast<unsigned int>(record->SizeY), 0, 0);
        registry.Write(TEXT("Class"), static_cast<int>(record->Class), 0, 0);
        registry.Write(TEXT("Land"), static_cast<unsigned int>(record->Land), 0, 0);
        // A record's name is read only up to its terminator or its 32 characters.
        WCHAR name[32];
        std::memcpy(name, record->Name, sizeof name);
        name[31] = 0;
        registry.Write(TEXT("Name"), TString(name), 0, 0);
    }
    TRegistry admin(kRoot, kAdminKey, 0);
    admin.Write(TEXT("Entries"), static_cast<int>(count), 0, 0);
    admin.Write(TEXT("Units"), static_cast<int>(m_Units), 0, 0);
}

TString ZCUserFormat::GetDefaultName()
{
    switch (m_Units) {
    case 0:
        return TString(TEXT("pixel"));
    case 1:
        return TString(TEXT("mm"));
    case 2:
        return TString(TEXT("inches"));
    default:
        return TString(TEXT("unknown"));
    }
}

void ZCUserFormat::InvokeChange()
{
    InvokeAll(ChangeCode, nullptr);
}

void ZCUserFormat::Destructor()
{
    // The records go even when the save fails, and a second call (the destructor
    // after an explicit Destructor) must not write the emptied list over the saved one.
    struct Cleanup
    {
        ZCUserFormat& self;
        ~Cleanup()
        {
            self.m_AutoFlag = 0;
            self.DeleteRecords();
        }
    } cleanup{*this};
    if (m_AutoFlag) {
        WriteFormatList();
    }
}

void ZCUserFormat::Notify(LONG /*code*/, const void* /*data*/, void* /*context*/) {}
