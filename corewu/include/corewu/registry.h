// Typed settings in the registry: the interface IRegistry, the class TRegistry that
// implements it on the Win32 registry calls, the factory IRegistryBase and the
// holder PRegistry that gives a factory-made object back to the factory.
#ifndef COREWU_REGISTRY_H
#define COREWU_REGISTRY_H

#include <corewu/geometry.h>
#include <corewu/messages.h>
#include <corewu/tstring.h>

#include <vector>

// Typed values of one registry key, read with a default and written.
//
// Integers (int, unsigned int, and unsigned long where it is a type of its own) are
// stored as REG_DWORD, strings as REG_SZ with their terminator, points as REG_BINARY
// of eight bytes (x, then y, each a little-endian 32-bit integer). Reading also
// accepts a REG_QWORD whose value fits and a REG_SZ holding a decimal number for an
// integer, and REG_EXPAND_SZ (unexpanded) for a string.
//
// A missing value or key is no error: the read gives the default and returns FALSE.
// Every other failure becomes a base-library error of the catalog
// "TRegistry::RegistryErrors" with the system error beneath it. With the `quiet`
// flag of a call set, the error is pushed onto the thread's error stack (not thrown)
// and counted in the object's error count, and a read gives its default; the caller
// looks at GetErrorCount and clears the stack and the count when it is done.
//
// Sections are subkeys: BeginSection enters one below the current key (they nest),
// EndSection goes back up one level.
//
// Thread rules: one thread at a time per object; separate objects may be used on
// separate threads, and by several processes, at once.
class COREWU_API IRegistry
{
public:
    // The directions of Transfer.
    enum
    {
        TransferRead = 0, // registry -> variable
        TransferWrite = 1 // variable -> registry
    };

    virtual ~IRegistry() = default;

    // Reads a value into `value`; TRUE when it was stored, FALSE when the default
    // was taken. `writeDefault` nonzero: a missing value is stored with the default,
    // so that it can be found and edited later.
    virtual BOOL Read(const TString& name, int& value, int defaultValue, UINT quiet = 0,
                      UINT writeDefault = 0) = 0;
    virtual BOOL Read(const TString& name, unsigned int& value, unsigned int defaultValue,
                      UINT quiet = 0, UINT writeDefault = 0) = 0;
    virtual BOOL Read(const TString& name, TString& value, const TString& defaultValue,
                      UINT quiet = 0, UINT writeDefault = 0) = 0;
    virtual BOOL Read(const TString& name, TPoint& value, const TPoint& defaultValue,
                      UINT quiet = 0, UINT writeDefault = 0) = 0;

    // Writes a value, creating the key when it does not exist yet; TRUE on success
    // (FALSE only with `quiet`). `flush` nonzero: the value is on the disk (and not
    // only in the log that survives a crash of the process) when the call returns.
    virtual BOOL Write(const TString& name, int value, UINT quiet = 0, UINT flush = 0) = 0;
    virtual BOOL Write(const TString& name, unsigned int value, UINT quiet = 0, UINT flush = 0) = 0;
    virtual BOOL Write(const TString& name, const TString& value, UINT quiet = 0,
                       UINT flush = 0) = 0;
    virtual BOOL Write(const TString& name, const WCHAR* value, UINT quiet = 0, UINT flush = 0) = 0;
    virtual BOOL Write(const TString& name, const TPoint& value, UINT quiet = 0,
                       UINT flush = 0) = 0;

#ifdef _WIN32
    // Where unsigned long is a type of its own (on Linux it is unsigned int).
    virtual BOOL Read(const TString& name, ULONG& value, ULONG defaultValue, UINT quiet = 0,
                      UINT writeDefault = 0) = 0;
    virtual BOOL Write(const TString& name, ULONG value, UINT quiet = 0, UINT flush = 0) = 0;
#endif

    // Read (TransferRead) or Write (TransferWrite) of one value, with `quiet` as
    // above; any other direction is a bad argument.
    virtual BOOL Transfer(UINT direction, const TString& name, int& value, int defaultValue,
                          UINT quiet = 0) = 0;
    virtual BOOL Transfer(UINT direction, const TString& name, unsigned int& value,
                          unsigned int defaultValue, UINT quiet = 0) = 0;
    virtual BOOL Transfer(UINT direction, const TString& name, TString& value,
                          const TString& defaultValue, UINT quiet = 0) = 0;
    virtual BOOL Transfer(UINT direction, const TString& name, TPoint& value,
                          const TPoint& defaultValue, UINT quiet = 0) = 0;

    // Removes a value; FALSE when there was none.
    virtual BOOL DeleteValue(const TString& name, UINT quiet = 0) = 0;

    virtual void BeginSection(const TString& name) = 0;
    virtual void EndSection() = 0;

    // Errors recorded by calls with `quiet` since the object was made or reset.
    virtual ULONG GetErrorCount() const = 0;
    virtual void ResetErrorCount() = 0;

    // The full path of the current key, e.g. "HKEY_CURRENT_USER\Software\ZANTH\FORMAT".
    virtual TString GetKeyName() const = 0;
};

// IRegistry on the Win32 registry. The key is opened when it exists and created by
// the first write; reads of a key that does not exist give their defaults and
// create nothing. The object owns its key handles and closes them when destroyed.
// Thread rules: those of IRegistry.
class COREWU_API TRegistry : public IRegistry
{
public:
    // The access of the constructors' third argument.
    enum
    {
        ReadWrite = 0, // read, and create and write on demand
        ReadOnly = 1   // writes are refused with an error
    };

    // The key HKEY_CURRENT_USER\Software\<rootName>\<keyPath>; the path uses "\"
    // between its names, and an empty rootName or keyPath leaves its level out.
    TRegistry(const TString& rootName, const TString& keyPath, UINT access);
    // The key <root>\<keyPath> below an open key or a predefined root.
    TRegistry(HKEY root, const TString& keyPath, UINT access);
    ~TRegistry() override;
    TRegistry(const TRegistry&) = delete;
    TRegistry& operator=(const TRegistry&) = delete;

    BOOL Read(const TString& name, int& value, int defaultValue, UINT quiet = 0,
              UINT writeDefault = 0) override;
    BOOL Read(const TString& name, unsigned int& value, unsigned int defaultValue, UINT quiet = 0,
              UINT writeDefault = 0) override;
    BOOL Read(const TString& name, TString& value, const TString& defaultValue, UINT quiet = 0,
              UINT writeDefault = 0) override;
    BOOL Read(const TString& name, TPoint& value, const TPoint& defaultValue, UINT quiet = 0,
              UINT writeDefault = 0) override;
    BOOL Write(const TString& name, int value, UINT quiet = 0, UINT flush = 0) override;
    BOOL Write(const TString& name, unsigned int value, UINT quiet = 0, UINT flush = 0) override;
    BOOL Write(const TString& name, const TString& value, UINT quiet = 0, UINT flush = 0) override;
    BOOL Write(const TString& name, const WCHAR* value, UINT quiet = 0, UINT flush = 0) override;
    BOOL Write(const TString& name, const TPoint& value, UINT quiet = 0, UINT flush = 0) override;
#ifdef _WIN32
    BOOL Read(const TString& name, ULONG& value, ULONG defaultValue, UINT quiet = 0,
              UINT writeDefault = 0) override;
    BOOL Write(const TString& name, ULONG value, UINT quiet = 0, UINT flush = 0) override;
#endif
    BOOL Transfer(UINT direction, const TString& name, int& value, int defaultValue,
                  UINT quiet = 0) override;
    BOOL Transfer(UINT direction, const TString& name, unsigned int& value,
                  unsigned int defaultValue, UINT quiet = 0) override;
    BOOL Transfer(UINT direction, const TString& name, TString& value, const TString& defaultValue,
                  UINT quiet = 0) override;
    BOOL Transfer(UINT direction, const TString& name, TPoint& value, const TPoint& defaultValue,
                  UINT quiet = 0) override;
    BOOL DeleteValue(const TString& name, UINT quiet = 0) override;
    void BeginSection(const TString& name) override;
    void EndSection() override;
    ULONG GetErrorCount() const override
    {
        return m_ErrorCount;
    }
    void ResetErrorCount() override
    {
        m_ErrorCount = 0;
    }
    TString GetKeyName() const override;

    // The catalog "TRegistry::RegistryErrors": 0 a key that cannot be opened, 1 one
    // that cannot be created, 2 a value that cannot be read, 3 one that cannot be
    // written, 4 a value whose type does not fit, 5 one that cannot be deleted,
    // 6 an unknown root, 7 a write to a read-only key, 8 a bad transfer direction,
    // 9 an EndSection without a section.
    static const TMessageBase& RegistryErrors();

private:
    enum class Need
    {
        Read,
        Write
    };
    // The handle of the current key (null when it does not exist and `need` is
    // Read), or the error status.
    LSTATUS Current(Need need, HKEY& key);
    void CloseCurrent();
    // Reports a failure: raises it, or with `quiet` pushes and counts it.
    void Fail(WORD message, LSTATUS status, const TString& name, UINT quiet,
              const TString& extra = TString::NullString);
    // Reads raw data; ERROR_FILE_NOT_FOUND when the value or key is missing.
    LSTATUS Query(const TString& name, DWORD& type, std::basic_string<WCHAR>& text, BYTE* fixed,
                  DWORD& size);
    BOOL ReadInteger(const TString& name, DWORD& value, UINT quiet, bool isSigned);
    BOOL WriteRaw(const TString& name, DWORD type, const void* data, DWORD size, UINT quiet,
                  UINT flush);
    // What every Transfer does: reads or writes by the direction, and refuses any
    // other direction.
    template <class Value, class Default>
    BOOL TransferValue(UINT direction, const TString& name, Value& value,
                       const Default& defaultValue, UINT quiet);

    HKEY m_hRoot;
    TString m_RootName; // the text of m_hRoot for messages
    TString m_Path;     // below m_hRoot, sections included
    std::vector<LONG> m_SectionLengths;
    UINT m_Access;
    HKEY m_hKey = nullptr;
    bool m_KeyWritable = false;
    ULONG m_ErrorCount = 0;
};

// Makes registry objects by root number. Roots:
//   0 HKEY_CURRENT_USER           1 HKEY_LOCAL_MACHINE
//   2 HKEY_CURRENT_USER\Software  3 HKEY_LOCAL_MACHINE\Software
//   4 HKEY_CURRENT_USER\Software\ZANTH (the product's user settings)
//   5 HKEY_LOCAL_MACHINE\Software\ZANTH (the product's machine settings)
//   6 HKEY_CURRENT_USER\Software\ZANTH\<program> (one program's user settings)
//   7 HKEY_LOCAL_MACHINE\Software\ZANTH\<program>
// The key is <root>\<firstName>\<name>, an empty part left out; for roots 6 and 7
// an empty firstName stands for the program's name (its file name without the
// extension). `access` is TRegistry's. An unknown root raises an error.
// Thread rules: any thread.
class COREWU_API IRegistryBase
{
public:
    static IRegistry* CreateClass(int root, const TString& firstName, const TString& name,
                                  UINT access);
    static void DestroyClass(IRegistry* registry);
};

// Holds a registry object made by IRegistryBase::CreateClass and gives it back to
// DestroyClass when it goes (unless Detach took it first).
// Thread rules: one thread at a time.
class COREWU_API PRegistry
{
public:
    explicit PRegistry(IRegistry* registry = nullptr) : m_pRegistry(registry) {}
    ~PRegistry() { IRegistryBase::DestroyClass(m_pRegistry); }
    PRegistry(const PRegistry&) = delete;
    PRegistry& operator=(const PRegistry&) = delete;

    IRegistry* operator->() const { return m_pRegistry; }
    IRegistry& operator*() const { return *m_pRegistry; }
    IRegistry* Get() const { return m_pRegistry; }
    IRegistry* Detach()
    {
        IRegistry* registry = m_pRegistry;
        m_pRegistry = nullptr;
        return registry;
    }

private:
    IRegistry* m_pRegistry;
};

#endif // COREWU_REGISTRY_H
