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

    static bool KeyExists(const char16_t* path)
    {
        HKEY key = nullptr;
        if (::RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS) {
            return false;
        }
        ::RegCloseKey(key);
        return true;
    }

    static DWORD RawType(const char16_t* path, const char16_t* name)
    {
        HKEY key = nullptr;
        DWORD type = REG_NONE;
        if (::RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) == ERROR_SUCCESS) {
            ::RegQueryValueExW(key, name, nullptr, &type, nullptr, nullptr);
            ::RegCloseKey(key);
        }
        return type;
    }

    static void SetRaw(const char16_t* path, const char16_t* name, DWORD type, const void* data,
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
        TRegistry registry(u"ZANTH", u"FORMAT\\ADMIN", 0);
        EXPECT_EQ(TString(u"HKEY_CURRENT_USER\\Software\\ZANTH\\FORMAT\\ADMIN"),
                  registry.GetKeyName());
        for (int value : {0, 1, -1, INT_MIN, INT_MAX}) {
            ASSERT_TRUE(registry.Write(u"int", value, 0, 0));
            int read = 7;
            EXPECT_TRUE(registry.Read(u"int", read, 99, 0, 0));
            EXPECT_EQ(value, read);
        }
        for (unsigned int value : {0u, 1u, 0x80000000u, 0xFFFFFFFFu}) {
            ASSERT_TRUE(registry.Write(u"unsigned", value, 0, 0));
            unsigned int read = 7;
            EXPECT_TRUE(registry.Read(u"unsigned", read, 99u, 0, 0));
            EXPECT_EQ(value, read);
        }
        for (const char16_t* value : {u"", u"A4 quer", u"Grüße \U0001F600", u"a\\b"}) {
            ASSERT_TRUE(registry.Write(u"string", TString(value), 0, 0));
            TString read(u"old");
            EXPECT_TRUE(registry.Read(u"string", read, TString(u"default"), 0, 0));
            EXPECT_EQ(TString(value), read);
        }
        for (const TPoint& value : {TPoint(0, 0), TPoint(-5, 7), TPoint(INT_MIN, INT_MAX)}) {
            ASSERT_TRUE(registry.Write(u"point", value, 0, 0));
            TPoint read(1, 1);
            EXPECT_TRUE(registry.Read(u"point", read, TPoint(2, 2), 0, 0));
            EXPECT_EQ(value, read);
        }
    }
    // The root name lies under HKEY_CURRENT_USER\Software, in the types documented.
    const char16_t* path = u"Software\\ZANTH\\FORMAT\\ADMIN";
    EXPECT_EQ(REG_DWORD, RawType(path, u"int"));
    EXPECT_EQ(REG_DWORD, RawType(path, u"unsigned"));
    EXPECT_EQ(REG_SZ, RawType(path, u"string"));
    EXPECT_EQ(REG_BINARY, RawType(path, u"point"));
}

TEST_F(TRegistryTest, MissingValuesGiveTheDefaultAndCreateNothing)
{
    TRegistry registry(u"ZANTH", u"Nothing\\Here", 0);
    int number = 5;
    unsigned int count = 5;
    TString text(u"x");
    TPoint point(1, 2);
    EXPECT_FALSE(registry.Read(u"a", number, -3, 0, 0));
    EXPECT_FALSE(registry.Read(u"b", count, 9u, 0, 0));
    EXPECT_FALSE(registry.Read(u"c", text, TString(0L, 10), 0, 0));
    EXPECT_FALSE(registry.Read(u"d", point, TPoint(4, 5), 0, 0));
    EXPECT_EQ(-3, number);
    EXPECT_EQ(9u, count);
    EXPECT_EQ(TString(u"0"), text);
    EXPECT_EQ(TPoint(4, 5), point);
    // The default may be the variable itself.
    EXPECT_FALSE(registry.Read(u"c", text, text, 0, 0));
    EXPECT_EQ(TString(u"0"), text);
    EXPECT_FALSE(KeyExists(u"Software\\ZANTH\\Nothing"));
    EXPECT_EQ(0u, registry.GetErrorCount());

    // With writeDefault the default is stored.
    EXPECT_FALSE(registry.Read(u"a", number, -3, 0, 1));
    EXPECT_TRUE(registry.Read(u"a", number, 0, 0, 0));
    EXPECT_EQ(-3, number);
}

TEST_F(TRegistryTest, IntegersAreReadFromTheTypesAPersonMightStore)
{
    const char16_t* path = u"Software\\ZANTH\\Types";
    const ULONGLONG small = 42;
    const ULONGLONG large = 0x100000000ull;
    SetRaw(path, u"qword", REG_QWORD, &small, 8);
    SetRaw(path, u"large", REG_QWORD, &large, 8);
    SetRaw(path, u"text", REG_SZ, u"-17", 8);
    SetRaw(path, u"junk", REG_SZ, u"12x", 8);
    SetRaw(path, u"binary", REG_BINARY, "abc", 3);
    TRegistry registry(u"ZANTH", u"Types", 0);
    int value = 0;
    EXPECT_TRUE(registry.Read(u"qword", value, 0, 0, 0));
    EXPECT_EQ(42, value);
    EXPECT_TRUE(registry.Read(u"text", value, 0, 0, 0));
    EXPECT_EQ(-17, value);
    unsigned int unsignedValue = 0;

    struct Case
    {
        const char16_t* name;
        std::function<void()> read;
    };
    const Case mismatches[] = {
        {u"large", [&] { registry.Read(u"large", value, 1, 0, 0); }},
        {u"junk", [&] { registry.Read(u"junk", value, 1, 0, 0); }},
        {u"binary", [&] { registry.Read(u"binary", value, 1, 0, 0); }},
        {u"negative as unsigned", [&] { registry.Read(u"text", unsignedValue, 1u, 0, 0); }},
        {u"number as string",
         [&] {
             TString text;
             registry.Read(u"qword", text, TString(), 0, 0);
         }},
        {u"string as point",
         [&] {
             TPoint point;
             registry.Read(u"text", point, TPoint(), 0, 0);
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
    SetRaw(u"Software\\ZANTH\\Quiet", u"bad", REG_BINARY, "abc", 3);
    TRegistry registry(u"ZANTH", u"Quiet", 0);
    int value = 0;
    EXPECT_FALSE(registry.Read(u"bad", value, 11, 1, 0));
    EXPECT_EQ(11, value);
    EXPECT_EQ(1u, registry.GetErrorCount());
    EXPECT_EQ(1u, GetErrorCount());
    EXPECT_EQ(0, GetPendingCount());
    EXPECT_NE(std::string::npos, GetErrorText().AsAnsi().find("\"bad\""));

    TRegistry readOnly(u"ZANTH", u"Quiet", TRegistry::ReadOnly);
    EXPECT_FALSE(readOnly.Write(u"x", 1, 1, 0));
    EXPECT_EQ(1u, readOnly.GetErrorCount());
    EXPECT_FALSE(registry.Transfer(7, u"x", value, 0, 1));
    EXPECT_EQ(2u, registry.GetErrorCount());
    registry.ResetErrorCount();
    EXPECT_EQ(0u, registry.GetErrorCount());
    ClearError();

    // Without quiet the same failures are raised.
    testsupport::CaughtError error = CatchError([&] { readOnly.Write(u"x", 1, 0, 0); });
    EXPECT_TRUE(error.raised);
    EXPECT_EQ(7, error.message);
    error = CatchError([&] { registry.Transfer(2, u"x", value, 0, 0); });
    EXPECT_EQ(8, error.message);
    EXPECT_EQ(0u, registry.GetErrorCount());
}

TEST_F(TRegistryTest, SectionsAreSubkeysThatNest)
{
    TRegistry registry(u"ZANTH", u"App", 0);
    registry.BeginSection(u"Window");
    registry.Write(u"w", 1, 0, 0);
    registry.BeginSection(u"Inner");
    registry.Write(u"i", 2, 0, 0);
    EXPECT_EQ(TString(u"HKEY_CURRENT_USER\\Software\\ZANTH\\App\\Window\\Inner"),
              registry.GetKeyName());
    registry.EndSection();
    int value = 0;
    EXPECT_TRUE(registry.Read(u"w", value, 0, 0, 0));
    EXPECT_EQ(1, value);
    EXPECT_FALSE(registry.Read(u"i", value, 0, 0, 0));
    registry.EndSection();
    EXPECT_FALSE(registry.Read(u"w", value, 0, 0, 0));
    EXPECT_TRUE(KeyExists(u"Software\\ZANTH\\App\\Window\\Inner"));

    testsupport::CaughtError error = CatchError([&] { registry.EndSection(); });
    EXPECT_TRUE(error.raised);
    EXPECT_EQ(9, error.message);
}

TEST_F(TRegistryTest, TransferGoesBothWays)
{
    TRegistry registry(u"ZANTH", u"Transfer", 0);
    TPoint point(3, -4);
    int number = 12;
    TString text(u"t");
    EXPECT_TRUE(registry.Transfer(IRegistry::TransferWrite, u"p", point, TPoint(), 1));
    EXPECT_TRUE(registry.Transfer(IRegistry::TransferWrite, u"n", number, 0, 1));
    EXPECT_TRUE(registry.Transfer(IRegistry::TransferWrite, u"s", text, TString(), 1));
    point = TPoint();
    number = 0;
    text = u"";
    EXPECT_TRUE(registry.Transfer(IRegistry::TransferRead, u"p", point, TPoint(), 1));
    EXPECT_TRUE(registry.Transfer(IRegistry::TransferRead, u"n", number, 0, 1));
    EXPECT_TRUE(registry.Transfer(IRegistry::TransferRead, u"s", text, TString(), 1));
    EXPECT_EQ(TPoint(3, -4), point);
    EXPECT_EQ(12, number);
    EXPECT_EQ(TString(u"t"), text);
    EXPECT_EQ(0u, registry.GetErrorCount());
}

TEST_F(TRegistryTest, FactoryRootsAndTheHolder)
{
    struct Case
    {
        int root;
        const char16_t* first;
        const char16_t* name;
        std::string expected;
    };
    const Case cases[] = {
        {0, u"", u"K", "HKEY_CURRENT_USER\\K"},
        {1, u"A", u"K", "HKEY_LOCAL_MACHINE\\A\\K"},
        {2, u"Vendor", u"", "HKEY_CURRENT_USER\\Software\\Vendor"},
        {4, u"A", u"B", "HKEY_CURRENT_USER\\Software\\ZANTH\\A\\B"},
        {5, u"", u"B", "HKEY_LOCAL_MACHINE\\Software\\ZANTH\\B"},
        {6, u"", u"Child", "HKEY_CURRENT_USER\\Software\\ZANTH\\corewu_test_registry\\Child"},
        {6, u"Viewer", u"Child", "HKEY_CURRENT_USER\\Software\\ZANTH\\Viewer\\Child"},
    };
    for (const Case& c : cases) {
        PRegistry registry(IRegistryBase::CreateClass(c.root, c.first, c.name, 0));
        ASSERT_NE(nullptr, registry.Get());
        EXPECT_EQ(c.expected, registry->GetKeyName().AsAnsi());
    }
    for (int root : {-1, 8, 100}) {
        testsupport::CaughtError error =
            CatchError([&] { IRegistryBase::CreateClass(root, u"", u"x", 0); });
        EXPECT_TRUE(error.raised);
        EXPECT_EQ(6, error.message);
    }
    PRegistry held(IRegistryBase::CreateClass(4, u"", u"Held", 0));
    held->Write(u"v", 1, 0, 0);
    IRegistryBase::DestroyClass(held.Detach());
    EXPECT_EQ(nullptr, held.Get());
}

TEST_F(TRegistryTest, AKeyDeletedMeanwhileIsMadeAgainByTheNextWrite)
{
    TRegistry registry(u"ZANTH", u"Gone", 0);
    ASSERT_TRUE(registry.Write(u"a", 1, 0, 0));
    HKEY parent = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              ::RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\ZANTH", 0, KEY_ALL_ACCESS, &parent));
    ASSERT_EQ(ERROR_SUCCESS, ::RegDeleteKeyW(parent, u"Gone"));
    ::RegCloseKey(parent);
    int value = 0;
    EXPECT_FALSE(registry.Read(u"a", value, 5, 0, 0));
    EXPECT_EQ(5, value);
    EXPECT_TRUE(registry.Write(u"b", 2, 0, 0));
    EXPECT_TRUE(registry.Read(u"b", value, 0, 0, 0));
    EXPECT_EQ(2, value);
}

TEST_F(TRegistryTest, ADamagedDatabaseIsRaisedWithTheSystemErrorBeneath)
{
    {
        TRegistry registry(u"ZANTH", u"Damage", 0);
        registry.Write(u"v", 1, 0, 0);
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
    TRegistry registry(u"ZANTH", u"Damage", 0);
    int value = 0;
    bool raised = false;
    try {
        registry.Read(u"v", value, 3, 0, 0);
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
