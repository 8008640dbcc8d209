// TRegistry over the Win32 registry calls, the factory IRegistryBase and the
// catalog of registry errors.
#include <corewu/registry.h>

#include <corewu/errors.h>
#include <corewu/file.h>

#include <climits>
#include <cstring>

namespace {

const TMessageBase& RegistryCatalog()
{
    static const TMessageBase catalog(TEXT("TRegistry::RegistryErrors"), TEXT("COREWU"),
                                      TEXT("corewu/src/registry.cpp"), __LINE__);
    return catalog;
}

enum Message : WORD
{
    kCannotOpen = 0,
    kCannotCreate = 1,
    kCannotRead = 2,
    kCannotWrite = 3,
    kWrongType = 4,
    kCannotDelete = 5,
    kUnknownRoot = 6,
    kReadOnly = 7,
    kBadDirection = 8,
    kNoSection = 9
};

TString RootText(HKEY root)
{
    if (root == HKEY_CURRENT_USER) {
        return TString(TEXT("HKEY_CURRENT_USER"));
    }
    if (root == HKEY_LOCAL_MACHINE) {
        return TString(TEXT("HKEY_LOCAL_MACHINE"));
    }
    return TString(TEXT("(key)"));
}

// "a" + "\" + "b", leaving empty parts out.
TString Join(const TString& a, const TString& b)
{
    if (a.IsEmpty()) {
        return b;
    }
    if (b.IsEmpty()) {
        return a;
    }
    return a + TEXT("\\") + b;
}

// The program's name: its file name without directory and extension.
TString ProgramName()
{
    TString path = TFile::GetExeName();
    LONG slash = path.ReverseFind(TEXT('/'));
    LONG backslash = path.ReverseFind(TEXT('\\'));
    TString name = path.Right((slash > backslash ? slash : backslash) + 1);
    LONG dot = name.ReverseFind(TEXT('.'));
    if (dot > 0) {
        name = name.Left(dot);
    }
    return name.IsEmpty() ? TString(TEXT("program")) : name;
}

// A decimal integer (optionally signed) that fills the whole text.
bool ParseDecimal(const std::basic_string<WCHAR>& text, bool isSigned, DWORD& value)
{
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == TEXT('-') || text[i] == TEXT('+'))) {
        negative = text[i] == TEXT('-');
        ++i;
    }
    if (i == text.size() || (negative && !isSigned)) {
        return false;
    }
    long long number = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < TEXT('0') || text[i] > TEXT('9')) {
            return false;
        }
        number = number * 10 + (text[i] - TEXT('0'));
        if (number > 0xFFFFFFFFll) {
            return false;
        }
    }
    if (negative) {
        number = -number;
    }
    if (isSigned ? (number < INT_MIN || number > INT_MAX) : number > 0xFFFFFFFFll) {
        return false;
    }
    value = static_cast<DWORD>(number);
    return true;
}

// The text of REG_SZ data, without the terminator (and whatever follows it).
std::basic_string<WCHAR> StringOf(const std::basic_string<WCHAR>& data)
{
    std::size_t end = data.find(TEXT('\0'));
    return end == std::basic_string<WCHAR>::npos ? data : data.substr(0, end);
}

TString TypeText(DWORD type)
{
    return TString(type, 10);
}

} // namespace

const TMessageBase& TRegistry::RegistryErrors()
{
    return RegistryCatalog();
}

TRegistry::TRegistry(const TString& rootName, const TString& keyPath, UINT access)
    : m_hRoot(HKEY_CURRENT_USER), m_RootName(TEXT("HKEY_CURRENT_USER")),
      m_Path(Join(Join(TString(TEXT("Software")), rootName), keyPath)), m_Access(access)
{}

TRegistry::TRegistry(HKEY root, const TString& keyPath, UINT access)
    : m_hRoot(root), m_RootName(RootText(root)), m_Path(keyPath), m_Access(access)
{}

TRegistry::~TRegistry()
{
    CloseCurrent();
}

TString TRegistry::GetKeyName() const
{
    return Join(m_RootName, m_Path);
}

void TRegistry::CloseCurrent()
{
    if (m_hKey) {
        ::RegCloseKey(m_hKey);
        m_hKey = nullptr;
    }
    m_KeyWritable = false;
}

LSTATUS TRegistry::Current(Need need, HKEY& key)
{
    key = nullptr;
    if (need == Need::Write && m_Access == ReadOnly) {
        return ERROR_ACCESS_DENIED;
    }
    if (m_hKey && (need == Need::Read || m_KeyWritable)) {
        key = m_hKey;
        return ERROR_SUCCESS;
    }
    LSTATUS status;
    HKEY opened = nullptr;
    const REGSAM desired = m_Access == ReadOnly ? KEY_READ : KEY_READ | KEY_WRITE;
    if (need == Need::Write) {
        status = ::RegCreateKeyExW(m_hRoot, m_Path, 0, nullptr, REG_OPTION_NON_VOLATILE, desired,
                                   nullptr, &opened, nullptr);
    } else {
        status = ::RegOpenKeyExW(m_hRoot, m_Path, 0, desired, &opened);
    }
    if (status != ERROR_SUCCESS) {
        return status;
    }
    CloseCurrent();
    m_hKey = opened;
    m_KeyWritable = m_Access != ReadOnly;
    key = m_hKey;
    return ERROR_SUCCESS;
}

void TRegistry::Fail(WORD message, LSTATUS status, const TString& name, UINT quiet,
                     const TString& extra)
{
    if (status != ERROR_SUCCESS) {
        ::SetLastError(static_cast<DWORD>(status));
        PushSystemError();
    }
    if (quiet) {
        PushError(RegistryCatalog(), message, GetKeyName(), name, extra);
        ++m_ErrorCount;
        return;
    }
    ThrowNewError(RegistryCatalog(), message, GetKeyName(), name, extra, nullptr);
}

LSTATUS TRegistry::Query(const TString& name, DWORD& type, std::basic_string<WCHAR>& text,
                         BYTE* fixed, DWORD& size)
{
    HKEY key = nullptr;
    LSTATUS status = Current(Need::Read, key);
    if (status != ERROR_SUCCESS) {
        if (status == ERROR_FILE_NOT_FOUND) {
            // A key that went away (another process deleted it) reads as missing.
            CloseCurrent();
        }
        return status;
    }
    const DWORD fixedSize = size;
    status = ::RegQueryValueExW(key, name, nullptr, &type, fixed, &size);
    if (status == ERROR_KEY_DELETED) {
        CloseCurrent();
        return ERROR_FILE_NOT_FOUND;
    }
    // Longer data (a string, or something unexpected): read it whole, trying again
    // if another process makes it longer in between.
    while (status == ERROR_MORE_DATA) {
        std::basic_string<WCHAR> buffer((size + 1) / 2, TEXT('\0'));
        DWORD bytes = size;
        status = ::RegQueryValueExW(key, name, nullptr, &type,
                                    reinterpret_cast<BYTE*>(buffer.data()), &bytes);
        if (status == ERROR_SUCCESS) {
            buffer.resize(bytes / 2);
            text = std::move(buffer);
            size = bytes;
            return ERROR_SUCCESS;
        }
        size = bytes;
    }
    if (status == ERROR_SUCCESS && size <= fixedSize) {
        text.assign(reinterpret_cast<const WCHAR*>(fixed), size / 2);
    }
    return status;
}

BOOL TRegistry::ReadInteger(const TString& name, DWORD& value, UINT quiet, bool isSigned)
{
    DWORD type = 0;
    alignas(8) BYTE data[8] = {};
    DWORD size = sizeof data;
    std::basic_string<WCHAR> text;
    LSTATUS status = Query(name, type, text, data, size);
    if (status == ERROR_FILE_NOT_FOUND) {
        return FALSE;
    }
    if (status != ERROR_SUCCESS) {
        Fail(kCannotRead, status, name, quiet);
        return FALSE;
    }
    if (type == REG_DWORD && size == 4) {
        std::memcpy(&value, data, 4);
        return TRUE;
    }
    if (type == REG_QWORD && size == 8) {
        ULONGLONG wide = 0;
        std::memcpy(&wide, data, 8);
        const auto asSigned = static_cast<LONGLONG>(wide);
        if (isSigned ? (asSigned >= INT_MIN && asSigned <= INT_MAX) : wide <= 0xFFFFFFFFull) {
            value = static_cast<DWORD>(wide);
            return TRUE;
        }
    }
    if ((type == REG_SZ || type == REG_EXPAND_SZ) &&
        ParseDecimal(StringOf(text), isSigned, value)) {
        return TRUE;
    }
    Fail(kWrongType, ERROR_SUCCESS, name, quiet, TypeText(type));
    return FALSE;
}

BOOL TRegistry::Read(const TString& name, int& value, int defaultValue, UINT quiet,
                     UINT writeDefault)
{
    DWORD raw = 0;
    const ULONG pending = m_ErrorCount;
    value = defaultValue; // also when the read raises
    if (ReadInteger(name, raw, quiet, true)) {
        value = static_cast<int>(raw);
        return TRUE;
    }
    if (writeDefault && m_ErrorCount == pending) {
        Write(name, defaultValue, quiet, 0);
    }
    return FALSE;
}

BOOL TRegistry::Read(const TString& name, unsigned int& value, unsigned int defaultValue,
                     UINT quiet, UINT writeDefault)
{
    DWORD raw = 0;
    const ULONG pending = m_ErrorCount;
    value = defaultValue; // also when the read raises
    if (ReadInteger(name, raw, quiet, false)) {
        value = raw;
        return TRUE;
    }
    if (writeDefault && m_ErrorCount == pending) {
        Write(name, defaultValue, quiet, 0);
    }
    return FALSE;
}

BOOL TRegistry::Read(const TString& name, TString& value, const TString& defaultValue, UINT quiet,
                     UINT writeDefault)
{
    DWORD type = 0;
    BYTE data[256];
    DWORD size = sizeof data;
    std::basic_string<WCHAR> text;
    const ULONG pending = m_ErrorCount;
    LSTATUS status = Query(name, type, text, data, size);
    if (status == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ)) {
        value = TString(StringOf(text));
        return TRUE;
    }
    value = defaultValue; // also when the failure below raises
    if (status == ERROR_SUCCESS) {
        Fail(kWrongType, ERROR_SUCCESS, name, quiet, TypeText(type));
    } else if (status != ERROR_FILE_NOT_FOUND) {
        Fail(kCannotRead, status, name, quiet);
    }
    const TString& fallback = value;
    if (writeDefault && status == ERROR_FILE_NOT_FOUND && m_ErrorCount == pending) {
        Write(name, fallback, quiet, 0);
    }
    return FALSE;
}

BOOL TRegistry::Read(const TString& name, TPoint& value, const TPoint& defaultValue, UINT quiet,
                     UINT writeDefault)
{
    DWORD type = 0;
    alignas(8) BYTE data[16] = {};
    DWORD size = sizeof data;
    std::basic_string<WCHAR> text;
    const ULONG pending = m_ErrorCount;
    LSTATUS status = Query(name, type, text, data, size);
    if (status == ERROR_SUCCESS && type == REG_BINARY && size == 8) {
        LONG x = 0, y = 0;
        std::memcpy(&x, data, 4);
        std::memcpy(&y, data + 4, 4);
        value = TPoint(x, y);
        return TRUE;
    }
    value = defaultValue; // also when the failure below raises
    if (status == ERROR_SUCCESS) {
        Fail(kWrongType, ERROR_SUCCESS, name, quiet, TypeText(type));
    } else if (status != ERROR_FILE_NOT_FOUND) {
        Fail(kCannotRead, status, name, quiet);
    }
    const TPoint& fallback = value;
    if (writeDefault && status == ERROR_FILE_NOT_FOUND && m_ErrorCount == pending) {
        Write(name, fallback, quiet, 0);
    }
    return FALSE;
}

BOOL TRegistry::WriteRaw(const TString& name, DWORD type, const void* data, DWORD size, UINT quiet,
                         UINT flush)
{
    HKEY key = nullptr;
    LSTATUS status = Current(Need::Write, key);
    if (status != ERROR_SUCCESS) {
        if (m_Access == ReadOnly) {
            Fail(kReadOnly, ERROR_SUCCESS, name, quiet);
        } else {
            Fail(kCannotCreate, status, name, quiet);
        }
        return FALSE;
    }
    status = ::RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
    if (status == ERROR_KEY_DELETED) {
        // Another process deleted the key since it was opened: make it again.
        CloseCurrent();
        status = Current(Need::Write, key);
        if (status == ERROR_SUCCESS) {
            status = ::RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
        }
    }
    if (status == ERROR_SUCCESS && flush) {
        status = ::RegFlushKey(key);
    }
    if (status != ERROR_SUCCESS) {
        Fail(kCannotWrite, status, name, quiet);
        return FALSE;
    }
    return TRUE;
}

BOOL TRegistry::Write(const TString& name, int value, UINT quiet, UINT flush)
{
    return WriteRaw(name, REG_DWORD, &value, 4, quiet, flush);
}

BOOL TRegistry::Write(const TString& name, unsigned int value, UINT quiet, UINT flush)
{
    return WriteRaw(name, REG_DWORD, &value, 4, quiet, flush);
}

BOOL TRegistry::Write(const TString& name, const TString& value, UINT quiet, UINT flush)
{
    const std::basic_string<WCHAR>& text = value.str();
    return WriteRaw(name, REG_SZ, text.c_str(),
                    static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR)), quiet, flush);
}

BOOL TRegistry::Write(const TString& name, const WCHAR* value, UINT quiet, UINT flush)
{
    return Write(name, TString(value ? value : TEXT("")), quiet, flush);
}

BOOL TRegistry::Write(const TString& name, const TPoint& value, UINT quiet, UINT flush)
{
    BYTE data[8];
    const LONG x = value.X();
    const LONG y = value.Y();
    std::memcpy(data, &x, 4);
    std::memcpy(data + 4, &y, 4);
    return WriteRaw(name, REG_BINARY, data, 8, quiet, flush);
}

#ifdef _WIN32
BOOL TRegistry::Read(const TString& name, ULONG& value, ULONG defaultValue, UINT quiet,
                     UINT writeDefault)
{
    unsigned int raw = 0;
    BOOL found = Read(name, raw, static_cast<unsigned int>(defaultValue), quiet, writeDefault);
    value = raw;
    return found;
}

BOOL TRegistry::Write(const TString& name, ULONG value, UINT quiet, UINT flush)
{
    return Write(name, static_cast<unsigned int>(value), quiet, flush);
}
#endif

template <class Value, class Default>
BOOL TRegistry::TransferValue(UINT direction, const TString& name, Value& value,
                              const Default& defaultValue, UINT quiet)
{
    if (direction > TransferWrite) {
        Fail(kBadDirection, ERROR_SUCCESS, name, quiet, TString(static_cast<DWORD>(direction), 10));
        return FALSE;
    }
    return direction == TransferRead ? Read(name, value, defaultValue, quiet, 0)
                                     : Write(name, value, quiet, 0);
}

BOOL TRegistry::Transfer(UINT direction, const TString& name, int& value, int defaultValue,
                         UINT quiet)
{
    return TransferValue(direction, name, value, defaultValue, quiet);
}

BOOL TRegistry::Transfer(UINT direction, const TString& name, unsigned int& value,
                         unsigned int defaultValue, UINT quiet)
{
    return TransferValue(direction, name, value, defaultValue, quiet);
}

BOOL TRegistry::Transfer(UINT direction, const TString& name, TString& value,
                         const TString& defaultValue, UINT quiet)
{
    return TransferValue(direction, name, value, defaultValue, quiet);
}

BOOL TRegistry::Transfer(UINT direction, const TString& name, TPoint& value,
                         const TPoint& defaultValue, UINT quiet)
{
    return TransferValue(direction, name, value, defaultValue, quiet);
}

BOOL TRegistry::DeleteValue(const TString& name, UINT quiet)
{
    if (m_Access == ReadOnly) {
        Fail(kReadOnly, ERROR_SUCCESS, name, quiet);
        return FALSE;
    }
    HKEY key = nullptr;
    LSTATUS status = Current(Need::Write, key);
    if (status == ERROR_SUCCESS) {
        status = ::RegDeleteValueW(key, name);
    }
    if (status == ERROR_FILE_NOT_FOUND || status == ERROR_KEY_DELETED) {
        return FALSE;
    }
    if (status != ERROR_SUCCESS) {
        Fail(kCannotDelete, status, name, quiet);
        return FALSE;
    }
    return TRUE;
}

void TRegistry::BeginSection(const TString& name)
{
    m_SectionLengths.push_back(m_Path.GetLength());
    m_Path = Join(m_Path, name);
    CloseCurrent();
}

void TRegistry::EndSection()
{
    if (m_SectionLengths.empty()) {
        ThrowNewError(RegistryCatalog(), kNoSection, GetKeyName(), TString::NullString,
                      TString::NullString, nullptr);
    }
    m_Path = m_Path.Left(m_SectionLengths.back());
    m_SectionLengths.pop_back();
    CloseCurrent();
}

IRegistry* IRegistryBase::CreateClass(int root, const TString& firstName, const TString& name,
                                      UINT access)
{
    static const WCHAR* const kBase[] = {TEXT(""),
                                         TEXT(""),
                                         TEXT("Software"),
                                         TEXT("Software"),
                                         TEXT("Software\\ZANTH"),
                                         TEXT("Software\\ZANTH"),
                                         TEXT("Software\\ZANTH"),
                                         TEXT("Software\\ZANTH")};
    if (root < 0 || root > 7) {
        ThrowNewError(RegistryCatalog(), kUnknownRoot, TString(static_cast<LONG>(root), 10),
                      TString::NullString, TString::NullString, nullptr);
    }
    HKEY hive = (root % 2 == 0) ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    TString first = firstName;
    if (root >= 6 && first.IsEmpty()) {
        first = ProgramName();
    }
    return new TRegistry(hive, Join(Join(TString(kBase[root]), first), name), access);
}

void IRegistryBase::DestroyClass(IRegistry* registry)
{
    delete registry;
}
