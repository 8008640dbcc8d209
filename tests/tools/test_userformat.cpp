// ZCUserFormat: the registry layout of the user's formats, the unit setting and
// TheUnits, name cutting, null records, the auto flag and the destructor guard,
// copies that own their records, and the change notification.
#include "testsupport.h"

#include <zanth/win32/zanthext.h>

#include <cstdio>
#include <stdexcept>
#include <vector>

namespace {

using TFormatInfo = ZCFormat::TFormatInfo;

class UserFormatTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ZanthRegCloseDatabases();
        m_SavedUnit = TheUnits.GetDefault();
    }
    void TearDown() override
    {
        TheUnits.SetDefault(m_SavedUnit);
        ClearError();
        ZanthRegCloseDatabases();
    }

    // Stores a format key the way a saved list has it; a null name leaves "Name" out.
    static void StoreFormat(int index, ULONG sizeX, ULONG sizeY, const WCHAR* name)
    {
        TRegistry registry(TEXT("ZANTH"), TString::Formatted(TEXT("FORMAT\\%d"), index), 0);
        registry.Write(TEXT("SkipX"), 1u, 0, 0);
        registry.Write(TEXT("SkipY"), 2u, 0, 0);
        registry.Write(TEXT("SizeX"), static_cast<unsigned int>(sizeX), 0, 0);
        registry.Write(TEXT("SizeY"), static_cast<unsigned int>(sizeY), 0, 0);
        registry.Write(TEXT("Class"), 4, 0, 0);
        registry.Write(TEXT("Land"), 1u, 0, 0);
        if (name) {
            registry.Write(TEXT("Name"), TString(name), 0, 0);
        }
    }

    static void StoreAdmin(int entries, int units)
    {
        TRegistry admin(TEXT("ZANTH"), TEXT("FORMAT\\ADMIN"), 0);
        admin.Write(TEXT("Entries"), entries, 0, 0);
        admin.Write(TEXT("Units"), units, 0, 0);
    }

    static int ReadAdmin(const WCHAR* name)
    {
        TRegistry admin(TEXT("ZANTH"), TEXT("FORMAT\\ADMIN"), 0);
        int value = -99;
        admin.Read(name, value, -1, 0, 0);
        return value;
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

    static TFormatInfo* NewRecord(ULONG sizeX, const WCHAR* name)
    {
        auto* record = new TFormatInfo();
        record->SizeX = sizeX;
        record->SizeY = sizeX * 2;
        record->Class = 0xFFFF;
        std::basic_string<WCHAR> text(name);
        text.copy(record->Name, 31);
        return record;
    }

    static std::vector<TFormatInfo*> Records(ZCUserFormat& formats)
    {
        std::vector<TFormatInfo*> records;
        for (POSITION position = formats.FormatList().GetHeadPosition(); position;) {
            records.push_back(formats.FormatList().GetNext(position));
        }
        return records;
    }

    ULONG m_SavedUnit = 1;
};

TEST_F(UserFormatTest, WithoutTheAutoFlagNothingIsReadOrCreated)
{
    TheUnits.SetDefault(2);
    ZCUserFormat formats(0);
    EXPECT_TRUE(formats.FormatList().IsEmpty());
    EXPECT_EQ(2u, formats.GetUnits()); // starts as TheUnits' default unit
    EXPECT_FALSE(KeyExists(TEXT("Software\\ZANTH")));
}

TEST_F(UserFormatTest, ReadAppendsTheStoredFormatsInKeyOrder)
{
    StoreAdmin(3, 1);
    StoreFormat(0, 100, 200, TEXT("First"));
    StoreFormat(1, 300, 400, nullptr); // no "Name"
    StoreFormat(2, 500, 600, TEXT("Third"));
    StoreFormat(3, 700, 800, TEXT("Not counted"));

    ZCUserFormat formats(0);
    formats.ReadFormatList();
    std::vector<TFormatInfo*> records = Records(formats);
    ASSERT_EQ(3u, records.size());
    EXPECT_EQ(TString(TEXT("First")), TString(records[0]->Name));
    EXPECT_EQ(TString(TEXT("0")), TString(records[1]->Name));
    EXPECT_EQ(TString(TEXT("Third")), TString(records[2]->Name));
    EXPECT_EQ(100u, records[0]->SizeX);
    EXPECT_EQ(400u, records[1]->SizeY);
    EXPECT_EQ(1u, records[2]->SkipX);
    EXPECT_EQ(2u, records[2]->SkipY);
    EXPECT_EQ(4, records[2]->Class);
    EXPECT_EQ(1u, records[2]->Land);
    EXPECT_EQ(0u, records[2]->Index);

    // The list is not emptied first.
    formats.ReadFormatList();
    EXPECT_EQ(6, formats.FormatList().GetCount());
}

TEST_F(UserFormatTest, NamesAreCutToThirtyOneCharacters)
{
    const std::basic_string<WCHAR> forty(40, TEXT('x'));
    struct Case
    {
        std::basic_string<WCHAR> stored;
        std::basic_string<WCHAR> read;
    };
    const Case cases[] = {
        {forty, forty.substr(0, 31)},
        {std::basic_string<WCHAR>(32, TEXT('y')), std::basic_string<WCHAR>(31, TEXT('y'))},
        {std::basic_string<WCHAR>(31, TEXT('z')), std::basic_string<WCHAR>(31, TEXT('z'))},
        {TEXT(""), TEXT("")},
    };
    StoreAdmin(4, 1);
    for (int i = 0; i < 4; ++i) {
        StoreFormat(i, 1, 2, cases[i].stored.c_str());
    }
    ZCUserFormat formats(1);
    std::vector<TFormatInfo*> records = Records(formats);
    ASSERT_EQ(4u, records.size());
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(cases[i].read, std::basic_string<WCHAR>(records[i]->Name));
        EXPECT_EQ(0, records[i]->Name[31]);
    }
}

TEST_F(UserFormatTest, TheStoredUnitBecomesTheLibrarysDefault)
{
    StoreAdmin(0, 2);
    ZCUserFormat formats(1);
    EXPECT_EQ(2u, TheUnits.GetDefault());
    EXPECT_EQ(TString(TEXT("inches")), formats.GetDefaultName());
    // TheUnits now converts in inches: one inch is 4800 Zanth units.
    EXPECT_DOUBLE_EQ(1.0, TheUnits.ConvertZanthToDefault(4800, 0));

    // A fresh registry keeps TheUnits' unit.
    ZanthRegCloseDatabases();
    HKEY software = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExW(HKEY_CURRENT_USER, TEXT("Software\\ZANTH\\FORMAT"), 0,
                                             KEY_ALL_ACCESS, &software));
    ASSERT_EQ(ERROR_SUCCESS, ::RegDeleteKeyW(software, TEXT("ADMIN")));
    ::RegCloseKey(software);
    TheUnits.SetDefault(0);
    ZCUserFormat fresh(1);
    EXPECT_EQ(0u, fresh.GetUnits());
    EXPECT_EQ(0u, TheUnits.GetDefault());
}

TEST_F(UserFormatTest, DefaultNames)
{
    const std::pair<ULONG, const WCHAR*> cases[] = {{0, TEXT("pixel")},
                                                    {1, TEXT("mm")},
                                                    {2, TEXT("inches")},
                                                    {3, TEXT("unknown")},
                                                    {0xFFFFFFFF, TEXT("unknown")}};
    ZCUserFormat formats(0);
    for (const auto& [unit, name] : cases) {
        formats.SetUnits(unit);
        EXPECT_EQ(TString(name), formats.GetDefaultName()) << unit;
    }
}

TEST_F(UserFormatTest, WriteLeavesStaleKeysThatAreNotReadBack)
{
    {
        ZCUserFormat formats(0);
        for (const WCHAR* name : {TEXT("a"), TEXT("b"), TEXT("c")}) {
            formats.FormatList().AddTail(NewRecord(10, name));
        }
        formats.WriteFormatList();
    }
    ZCUserFormat formats(0);
    formats.SetUnits(1);
    formats.FormatList().AddTail(NewRecord(20, TEXT("new a")));
    formats.FormatList().AddTail(NewRecord(30, TEXT("new b")));
    formats.WriteFormatList();
    EXPECT_EQ(2, ReadAdmin(TEXT("Entries")));
    EXPECT_EQ(1, ReadAdmin(TEXT("Units")));
    EXPECT_TRUE(KeyExists(TEXT("Software\\ZANTH\\FORMAT\\2"))); // left behind

    ZCUserFormat read(1);
    std::vector<TFormatInfo*> records = Records(read);
    ASSERT_EQ(2u, records.size());
    EXPECT_EQ(TString(TEXT("new a")), TString(records[0]->Name));
    EXPECT_EQ(30u, records[1]->SizeX);
    EXPECT_EQ(0xFFFF, records[1]->Class); // the unsigned short survives the int
}

TEST_F(UserFormatTest, NullRecordsAreCountedButNotWritten)
{
    ZCUserFormat formats(0);
    formats.FormatList().AddTail(NewRecord(10, TEXT("one")));
    formats.FormatList().AddTail(nullptr);
    formats.FormatList().AddTail(NewRecord(30, TEXT("three")));
    formats.WriteFormatList();
    EXPECT_EQ(3, ReadAdmin(TEXT("Entries")));
    EXPECT_FALSE(KeyExists(TEXT("Software\\ZANTH\\FORMAT\\1")));

    ZCUserFormat read(1);
    std::vector<TFormatInfo*> records = Records(read);
    ASSERT_EQ(3u, records.size());
    ASSERT_NE(nullptr, records[1]);
    EXPECT_EQ(0u, records[1]->SizeX);
    EXPECT_EQ(0u, records[1]->SkipY);
    EXPECT_EQ(TString(TEXT("0")), TString(records[1]->Name));
}

TEST_F(UserFormatTest, BadEntryCounts)
{
    StoreAdmin(-5, 1);
    EXPECT_TRUE(ZCUserFormat(1).FormatList().IsEmpty());

    StoreAdmin(0x7FFFFFFF, 1);
    testsupport::CaughtError error = testsupport::CatchError([] { ZCUserFormat formats(1); });
    EXPECT_TRUE(error.raised);
    EXPECT_NE(std::string::npos, error.text.find("2147483647"));
}

TEST_F(UserFormatTest, TheAutoFlagSavesBeforeTheRecordsGo)
{
    {
        ZCUserFormat formats(1);
        formats.FormatList().AddTail(NewRecord(42, TEXT("kept")));
        formats.SetUnits(2);
    }
    EXPECT_EQ(1, ReadAdmin(TEXT("Entries")));
    EXPECT_EQ(2, ReadAdmin(TEXT("Units")));
    ZCUserFormat read(0);
    read.ReadFormatList();
    ASSERT_EQ(1, read.FormatList().GetCount());
    EXPECT_EQ(TString(TEXT("kept")), TString(read.FormatList().GetHead()->Name));

    // Destructor called by hand: the object is emptied and its destructor saves
    // no empty list over the one just saved.
    {
        ZCUserFormat formats(1);
        EXPECT_EQ(1, formats.FormatList().GetCount());
        formats.Destructor();
        EXPECT_TRUE(formats.FormatList().IsEmpty());
    }
    EXPECT_EQ(1, ReadAdmin(TEXT("Entries")));
}

std::string DatabasePath()
{
    WCHAR path[1024];
    DWORD size = 1024;
    EXPECT_EQ(ERROR_SUCCESS, ZanthRegGetDatabasePath(HKEY_CURRENT_USER, path, &size));
    return TString(path).AsAnsi();
}

// Makes the user database unreadable as a database.
void DamageDatabase()
{
    const std::string path = DatabasePath();
    ZanthRegCloseDatabases();
    std::FILE* file = std::fopen(path.c_str(), "r+b");
    ASSERT_NE(nullptr, file);
    std::fwrite("not a database at all, not at all", 1, 32, file);
    std::fclose(file);
}

void RemoveDatabase()
{
    const std::string path = DatabasePath();
    ZanthRegCloseDatabases();
    std::remove(path.c_str());
}

TEST_F(UserFormatTest, TheDestructorGuard)
{
    // No other error pending: the failed save is raised from the destructor.
    StoreAdmin(0, 1);
    testsupport::CaughtError error = testsupport::CatchError([] {
        ZCUserFormat formats(1);
        formats.FormatList().AddTail(NewRecord(1, TEXT("x")));
        DamageDatabase();
    });
    EXPECT_TRUE(error.raised);
    EXPECT_EQ(TRegistry::RegistryErrors().Number(), error.catalog);
    EXPECT_EQ(0, GetPendingCount());
    RemoveDatabase();

    // While another error unwinds, the failed save is dropped and the other one
    // arrives with its own catalog and message.
    StoreAdmin(0, 1);
    error = testsupport::CatchError([] {
        ZCUserFormat formats(1);
        formats.FormatList().AddTail(NewRecord(1, TEXT("x")));
        DamageDatabase();
        ThrowNewError(0, 0, TString(TEXT("the first error")), TString::NullString,
                      TString::NullString, nullptr);
    });
    EXPECT_TRUE(error.raised);
    EXPECT_EQ(0, error.catalog);
    EXPECT_NE(std::string::npos, error.text.find("the first error"));
    EXPECT_EQ(0, GetPendingCount());

    // Any other exception passes through, the failed save dropped.
    RemoveDatabase();
    StoreAdmin(0, 1);
    EXPECT_THROW(
        {
            ZCUserFormat formats(1);
            DamageDatabase();
            throw std::runtime_error("other");
        },
        std::runtime_error);
    ClearError();
    RemoveDatabase();
}

TEST_F(UserFormatTest, CopiesOwnTheirRecords)
{
    ZCUserFormat source(0);
    source.SetUnits(2);
    source.FormatList().AddTail(NewRecord(10, TEXT("one")));
    source.FormatList().AddTail(nullptr);
    {
        ZCUserFormat copy(source);
        std::vector<TFormatInfo*> mine = Records(copy);
        std::vector<TFormatInfo*> theirs = Records(source);
        ASSERT_EQ(2u, mine.size());
        EXPECT_NE(theirs[0], mine[0]);
        EXPECT_EQ(TString(TEXT("one")), TString(mine[0]->Name));
        EXPECT_EQ(nullptr, mine[1]);
        EXPECT_EQ(2u, copy.GetUnits());
        mine[0]->SizeX = 99;
        EXPECT_EQ(10u, theirs[0]->SizeX);

        ZCUserFormat assigned(0);
        assigned.FormatList().AddTail(NewRecord(5, TEXT("replaced")));
        assigned = copy;
        ASSERT_EQ(2, assigned.FormatList().GetCount());
        EXPECT_EQ(99u, assigned.FormatList().GetHead()->SizeX);
        ZCUserFormat& alias = assigned;
        assigned = alias;
        EXPECT_EQ(2, assigned.FormatList().GetCount());
    }
    // The copies are gone; the source's records are still its own (ASan checks).
    EXPECT_EQ(10u, source.FormatList().GetHead()->SizeX);
}

TEST_F(UserFormatTest, InvokeChangeTellsEveryListenerWithCodeTwo)
{
    struct Heard
    {
        std::vector<DWORD> codes;
        std::vector<void*> data;
    } heard;
    ZCUserFormat formats(0);
    auto listener = [](DWORD id, void* data, void* context) {
        static_cast<Heard*>(context)->codes.push_back(id);
        static_cast<Heard*>(context)->data.push_back(data);
    };
    formats.Add(listener, &heard);
    formats.Add(listener, &heard);
    formats.InvokeChange();
    EXPECT_EQ((std::vector<DWORD>{2, 2}), heard.codes);
    EXPECT_EQ((std::vector<void*>{nullptr, nullptr}), heard.data);
}

} // namespace
