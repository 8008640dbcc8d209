// TRegistry, IRegistryBase and PRegistry: typed values with defaults, where keys
// lie, sections, transfers, the quiet error count, and registry failures raised as
// base-library errors of "TRegistry::RegistryErrors".
#include "testsupport.h"

#include <zanth/win32/zanthext.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>

namespace {

using testsupport::CatchError;

class TRegistryTest : public ::testing::Test
{
protected:
    void SetUp() override { ZanthRegCloseDatabases(); }
    void TearDown() override
    {
        ClearError();
        ZanthRegCloseDatabases();
    }

    static bool KeyExists(const WCHAR* path)
    {
        HKEY key = nullptr;
        if (::RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS) {
            return false;
        }
        ::RegCloseKey(key);
        return true;
    }

    static DWORD RawType(const WCHAR* path, const WCHAR* name)
    {
        HKEY key = nullptr;
        DWORD type = REG_NONE;
        if (::RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) == ERROR_SUCCESS) {
            ::RegQueryValueExW(key, name, nullptr, &type, nullptr, nullptr);
            ::RegCloseKey(key);
        }
        return type;
    }

    static void SetRaw(const WCHAR* path, const WCHAR* name, DWORD type, const void* data,
                       DWORD size)
    {
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, 0,
                                                   KEY_ALL_ACCESS, nullptr, &key, nullptr));
        ASSERT_EQ(ERROR_SUCCESS,
                  ::RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size));
        ::RegCloseKey(key);
    }
};

TEST_F(TRegistryTest, TypedValuesRoundTripUnderSoftwareOfTheRoot)
{
    {
        TRegistry registry(TEXT("ZANTH"), TEXT("FORMAT\\ADMIN"), 0);
        EXPECT_EQ(TString(TEXT("HKEY_CURRENT_USER\\Software\\ZANTH\\FORMAT\\ADMIN")),
                  registry.GetKeyName());
        for (int value : {0, 1, -1, INT_MIN, INT_MAX}) {
            ASSERT_TRUE(registry.Write(TEXT("int"), value, 0, 0));
            int read = 7;
            EXPECT_TRUE(registry.Read(TEXT("int"), read, 99, 0, 0));
            EXPECT_EQ(value, read);
        }
        for (unsigned int value : {0u, 1u, 0x80000000u, 0xFFFFFFFFu}) {
            ASSERT_TRUE(registry.Write(TEXT("unsigned"), value, 0, 0));
            unsigned int read = 7;
            EXPECT_TRUE(registry.Read(TEXT("unsigned"), read, 99u, 0, 0));
            EXPECT_EQ(value, read);
        }
        for (const WCHAR* value :
             {TEXT(""), TEXT("A4 quer"), TEXT("Grüße \U0001F600"), TEXT("a\\b")}) {
            ASSERT_TRUE(registry.Write(TEXT("string"), TString(value), 0, 0));
            TString read(TEXT("old"));
            EXPECT_TRUE(registry.Read(TEXT("string"), read, TString(TEXT("default")), 0, 0));
            EXPECT_EQ(TString(value), read);
        }
        for (const TPoint& value : {TPoint(0, 0), TPoint(-5, 7), TPoint(INT_MIN, INT_MAX)}) {
            ASSERT_TRUE(registry.Write(TEXT("point"), value, 0, 0));
            TPoint read(1, 1);
            EXPECT_TRUE(registry.Read(TEXT("point"), read, TPoint(2, 2), 0, 0));
            EXPECT_EQ(value, read);
        }
    }
    // The root name lies under HKEY_CURRENT_USER\Software, in the types documented.
    const WCHAR* path = TEXT("Software\\ZANTH\\FORMAT\\ADMIN");
    EXPECT_EQ(REG_DWORD, RawType(path, TEXT("int")));
    EXPECT_EQ(REG_DWORD, RawType(path, TEXT("unsigned")));
    EXPECT_EQ(REG_SZ, RawType(path, TEXT("string")));
    EXPECT_EQ(REG_BINARY, RawType(path, TEXT("point")));
}

TEST_F(TRegistryTest, MissingValuesGiveTheDefaultAndCreateNothing)
{
    TRegistry registry(TEXT("ZANTH"), TEXT("Nothing\\Here"), 0);
    int number = 5;
    unsigned int count = 5;
    TString text(TEXT("x"));
    TPoint point(1, 2);
    EXPECT_FALSE(registry.Read(TEXT("a"), number, -3, 0, 0));
    EXPECT_FALSE(registry.Read(TEXT("b"), count, 9u, 0, 0));
    EXPECT_FALSE(registry.Read(TEXT("c"), text, TString(0L, 10), 0, 0));
    EXPECT_FALSE(registry.Read(TEXT("d"), point, TPoint(4, 5), 0, 0));
    EXPECT_EQ(-3, number);
    EXPECT_EQ(9u, count);
    EXPECT_EQ(TString(TEXT("0")), text);
    EXPECT_EQ(TPoint(4, 5), point);
    // The default may be the variable itself.
    EXPECT_FALSE(registry.Read(TEXT("c"), text, text, 0, 0));
    EXPECT_EQ(TString(TEXT("0")), text);
    EXPECT_FALSE(KeyExists(TEXT("Software\\ZANTH\\Nothing")));
    EXPECT_EQ(0u, registry.GetErrorCount());

    // With writeDefault the default is stored.
    EXPECT_FALSE(registry.Read(TEXT("a"), number, -3, 0, 1));
    EXPECT_TRUE(registry.Read(TEXT("a"), number, 0, 0, 0));
    EXPECT_EQ(-3, number);
}

TEST_F(TRegistryTest, IntegersAreReadFromTheTypesAPersonMightStore)
{
    const WCHAR* path = TEXT("Software\\ZANTH\\Types");
    const ULONGLONG small = 42;
    const ULONGLONG large = 0x100000000ull;
    SetRaw(path, TEXT("qword"), REG_QWORD, &small, 8);
    SetRaw(path, TEXT("large"), REG_QWORD, &large, 8);
    SetRaw(path, TEXT("text"), REG_SZ, TEXT("-17"), 8);
    SetRaw(path, TEXT("junk"), REG_SZ, TEXT("12x"), 8);
    SetRaw(path, TEXT("binary"), REG_BINARY, "abc", 3);
    TRegistry registry(TEXT("ZANTH"), TEXT("Types"), 0);
    int value = 0;
    EXPECT_TRUE(registry.Read(TEXT("qword"), value, 0, 0, 0));
    EXPECT_EQ(42, value);
    EXPECT_TRUE(registry.Read(TEXT("text"), value, 0, 0, 0));
    EXPECT_EQ(-17, value);
    unsigned int unsignedValue = 0;

    struct Case
    {
        const WCHAR* name;
        std::function<void()> read;
    };
    const Case mismatches[] = {
        {TEXT("large"), [&] { registry.Read(TEXT("large"), value, 1, 0, 0); }},
        {TEXT("junk"), [&] { registry.Read(TEXT("junk"), value, 1, 0, 0); }},
        {TEXT("binary"), [&] { registry.Read(TEXT("binary"), value, 1, 0, 0); }},
        {TEXT("negative as unsigned"),
         [&] { registry.Read(TEXT("text"), unsignedValue, 1u, 0, 0); }},
        {TEXT("number as string"),
         [&] {
             TString text;
             registry.Read(TEXT("qword"), text, TString(), 0, 0);
         }},
        {TEXT("string as point"),
         [&] {
             TPoint point;
             registry.Read(TEXT("text"), point, TPoint(), 0, 0);
         }},
    };
    for (const Case& c : mismatches) {
        SCOPED_TRACE(TString(c.name).AsAnsi());
        testsupport::CaughtError error = CatchError(c.read);
        EXPECT_TRUE(error.raised);
        EXPECT_EQ(TRegistry::RegistryErrors().Number(), error.catalog);
        EXPECT_EQ(4, error.message);
    }
}

TEST_F(TRegistryTest, QuietCallsPushAndCountTheirErrors)
{
    SetRaw(TEXT("Software\\ZANTH\\Quiet"), TEXT("bad"), REG_BINARY, "abc", 3);
    TRegistry registry(TEXT("ZANTH"), TEXT("Quiet"), 0);
    int value = 0;
    EXPECT_FALSE(registry.Read(TEXT("bad"), value, 11, 1, 0));
    EXPECT_EQ(11, value);
    EXPECT_EQ(1u, registry.GetErrorCount());
    EXPECT_EQ(1u, GetErrorCount());
    EXPECT_EQ(0, GetPendingCount());
    EXPECT_NE(std::string::npos, GetErrorText().AsAnsi().find("\"bad\""));

    TRegistry readOnly(TEXT("ZANTH"), TEXT("Quiet"), TRegistry::ReadOnly);
    EXPECT_FALSE(readOnly.Write(TEXT("x"), 1, 1, 0));
    EXPECT_EQ(1u, readOnly.GetErrorCount());
    EXPECT_FALSE(registry.Transfer(7, TEXT("x"), value, 0, 1));
    EXPECT_EQ(2u, registry.GetErrorCount());
    registry.ResetErrorCount();
    EXPECT_EQ(0u, registry.GetErrorCount());
    ClearError();

    // Without quiet the same failures are raised.
    testsupport::CaughtError error = CatchError([&] { readOnly.Write(TEXT("x"), 1, 0, 0); });
    EXPECT_TRUE(error.raised);
    EXPECT_EQ(7, error.message);
    error = CatchError([&] { registry.Transfer(2, TEXT("x"), value, 0, 0); });
    EXPECT_EQ(8, error.message);
    EXPECT_EQ(0u, registry.GetErrorCount());
}

TEST_F(TRegistryTest, SectionsAreSubkeysThatNest)
{
    TRegistry registry(TEXT("ZANTH"), TEXT("App"), 0);
    registry.BeginSection(TEXT("Window"));
    registry.Write(TEXT("w"), 1, 0, 0);
    registry.BeginSection(TEXT("Inner"));
    registry.Write(TEXT("i"), 2, 0, 0);
    EXPECT_EQ(TString(TEXT("HKEY_CURRENT_USER\\Software\\ZANTH\\App\\Window\\Inner")),
              registry.GetKeyName());
    registry.EndSection();
    int value = 0;
    EXPECT_TRUE(registry.Read(TEXT("w"), value, 0, 0, 0));
    EXPECT_EQ(1, value);
    EXPECT_FALSE(registry.Read(TEXT("i"), value, 0, 0, 0));
    registry.EndSection();
    EXPECT_FALSE(registry.Read(TEXT("w"), value, 0, 0, 0));
    EXPECT_TRUE(KeyExists(TEXT("Software\\ZANTH\\App\\Window\\Inner")));

    testsupport::CaughtError error = CatchError([&] { registry.EndSection(); });
    EXPECT_TRUE(error.raised);
    EXPECT_EQ(9, error.message);
}

TEST_F(TRegistryTest, TransferGoesBothWays)
{
    TRegistry registry(TEXT("ZANTH"), TEXT("Transfer"), 0);
    TPoint point(3, -4);
    int number = 12;
    TString text(TEXT("t"));
    EXPECT_TRUE(registry.Transfer(IRegistry::TransferWrite, TEXT("p"), point, TPoint(), 1));
    EXPECT_TRUE(registry.Transfer(IRegistry::TransferWrite, TEXT("n"), number, 0, 1));
    EXPECT_TRUE(registry.Transfer(IRegistry::TransferWrite, TEXT("s"), text, TString(), 1));
    point = TPoint();
    number = 0;
    text = TEXT("");
    EXPECT_TRUE(registry.Transfer(IRegistry::TransferRead, TEXT("p"), point, TPoint(), 1));
    EXPECT_TRUE(registry.Transfer(IRegistry::TransferRead, TEXT("n"), number, 0, 1));
    EXPECT_TRUE(registry.Transfer(IRegistry::TransferRead, TEXT("s"), text, TString(), 1));
    EXPECT_EQ(TPoint(3, -4), point);
    EXPECT_EQ(12, number);
    EXPECT_EQ(TString(TEXT("t")), text);
    EXPECT_EQ(0u, registry.GetErrorCount());
}

TEST_F(TRegistryTest, FactoryRootsAndTheHolder)
{
    struct Case
    {
        int root;
        const WCHAR* first;
        const WCHAR* name;
        std::string expected;
    };
    const Case cases[] = {
        {0, TEXT(""), TEXT("K"), "HKEY_CURRENT_USER\\K"},
        {1, TEXT("A"), TEXT("K"), "HKEY_LOCAL_MACHINE\\A\\K"},
        {2, TEXT("Vendor"), TEXT(""), "HKEY_CURRENT_USER\\Software\\Vendor"},
        {4, TEXT("A"), TEXT("B"), "HKEY_CURRENT_USER\\Software\\ZANTH\\A\\B"},
        {5, TEXT(""), TEXT("B"), "HKEY_LOCAL_MACHINE\\Software\\ZANTH\\B"},
        {6, TEXT(""), TEXT("Child"),
         "HKEY_CURRENT_USER\\Software\\ZANTH\\corewu_test_registry\\Child"},
        {6, TEXT("Viewer"), TEXT("Child"), "HKEY_CURRENT_USER\\Software\\ZANTH\\Viewer\\Child"},
    };
    for (const Case& c : cases) {
        PRegistry registry(IRegistryBase::CreateClass(c.root, c.first, c.name, 0));
        ASSERT_NE(nullptr, registry.Get());
        EXPECT_EQ(c.expected, registry->GetKeyName().AsAnsi());
    }
    for (int root : {-1, 8, 100}) {
        testsupport::CaughtError error =
            CatchError([&] { IRegistryBase::CreateClass(root, TEXT(""), TEXT("x"), 0); });
        EXPECT_TRUE(error.raised);
        EXPECT_EQ(6, error.message);
    }
    PRegistry held(IRegistryBase::CreateClass(4, TEXT(""), TEXT("Held"), 0));
    held->Write(TEXT("v"), 1, 0, 0);
    IRegistryBase::DestroyClass(held.Detach());
    EXPECT_EQ(nullptr, held.Get());
}

TEST_F(TRegistryTest, AKeyDeletedMeanwhileIsMadeAgainByTheNextWrite)
{
    TRegistry registry(TEXT("ZANTH"), TEXT("Gone"), 0);
    ASSERT_TRUE(registry.Write(TEXT("a"), 1, 0, 0));
    HKEY parent = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExW(HKEY_CURRENT_USER, TEXT("Software\\ZANTH"), 0,
                                             KEY_ALL_ACCESS, &parent));
    ASSERT_EQ(ERROR_SUCCESS, ::RegDeleteKeyW(parent, TEXT("Gone")));
    ::RegCloseKey(parent);
    int value = 0;
    EXPECT_FALSE(registry.Read(TEXT("a"), value, 5, 0, 0));
    EXPECT_EQ(5, value);
    EXPECT_TRUE(registry.Write(TEXT("b"), 2, 0, 0));
    EXPECT_TRUE(registry.Read(TEXT("b"), value, 0, 0, 0));
    EXPECT_EQ(2, value);
}

TEST_F(TRegistryTest, ADamagedDatabaseIsRaisedWithTheSystemErrorBeneath)
{
    {
        TRegistry registry(TEXT("ZANTH"), TEXT("Damage"), 0);
        registry.Write(TEXT("v"), 1, 0, 0);
    }
    WCHAR path[1024];
    DWORD size = 1024;
    ASSERT_EQ(ERROR_SUCCESS, ZanthRegGetDatabasePath(HKEY_CURRENT_USER, path, &size));
    ZanthRegCloseDatabases();
    {
        std::FILE* file = std::fopen(TString(path).AsAnsi().c_str(), "r+b");
        ASSERT_NE(nullptr, file);
        std::fwrite("this is not a database header", 1, 29, file);
        std::fclose(file);
    }
    TRegistry registry(TEXT("ZANTH"), TEXT("Damage"), 0);
    int value = 0;
    bool raised = false;
    try {
        registry.Read(TEXT("v"), value, 3, 0, 0);
    } catch (const TException& error) {
        raised = true;
        EXPECT_EQ(TRegistry::RegistryErrors().Number(), error.Catalog());
        EXPECT_EQ(2, error.Message());
        // The error stack holds the registry's own code beneath the message.
        EXPECT_NE(std::string::npos, GetErrorText().AsAnsi().find("1015"));
        DecrementPendingCount();
        ClearError();
    }
    EXPECT_TRUE(raised);
    EXPECT_EQ(3, value);
    ::remove(TString(path).AsAnsi().c_str());
}

} // namespace
