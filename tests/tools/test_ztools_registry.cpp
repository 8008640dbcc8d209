// ztools registry and ztools formats: values of every type survive an export to a
// .reg file and an import, regedit's own files (UTF-16, CRLF, continued lines,
// deletions) are understood, a bad file changes nothing, and the format list
// commands edit what ZCUserFormat reads.
#include "testsupport.h"

#include <zanth/win32/zanthext.h>

#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

class ZtoolsRegistry : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_Ztools = testsupport::HelperPath("ztools");
        if (::access(m_Ztools.c_str(), X_OK) != 0) {
            GTEST_SKIP() << "ztools is not built";
        }
        ZanthRegCloseDatabases();
    }
    void TearDown() override { ZanthRegCloseDatabases(); }

    testsupport::ChildResult Run(std::vector<std::string> args)
    {
        ZanthRegCloseDatabases(); // the child writes the same file
        args.insert(args.begin(), m_Ztools);
        return testsupport::RunChild(args);
    }

    static void SetValue(const WCHAR* path, const WCHAR* name, DWORD type,
                         const std::vector<BYTE>& data)
    {
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, 0,
                                                   KEY_ALL_ACCESS, nullptr, &key, nullptr));
        ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExW(key, name, 0, type, data.data(),
                                                  static_cast<DWORD>(data.size())));
        ::RegCloseKey(key);
    }

    static bool GetValue(const WCHAR* path, const WCHAR* name, DWORD& type, std::vector<BYTE>& data)
    {
        HKEY key = nullptr;
        if (::RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS) {
            return false;
        }
        BYTE buffer[4096];
        DWORD size = sizeof buffer;
        LSTATUS status = ::RegQueryValueExW(key, name, nullptr, &type, buffer, &size);
        ::RegCloseKey(key);
        data.assign(buffer, buffer + (status == ERROR_SUCCESS ? size : 0));
        return status == ERROR_SUCCESS;
    }

    static void WriteFile(const std::string& path, const std::string& bytes)
    {
        std::ofstream out(path, std::ios::binary);
        out << bytes;
    }

    std::string m_Ztools;
};

std::vector<BYTE> Text(const std::basic_string<WCHAR>& text, bool terminator = true)
{
    const BYTE* bytes = reinterpret_cast<const BYTE*>(text.c_str());
    return std::vector<BYTE>(bytes, bytes + (text.size() + (terminator ? 1 : 0)) * 2);
}

TEST_F(ZtoolsRegistry, EveryValueSurvivesExportAndImport)
{
    std::vector<BYTE> longBinary(300);
    for (std::size_t i = 0; i < longBinary.size(); ++i) {
        longBinary[i] = static_cast<BYTE>(i * 7);
    }
    struct Case
    {
        const WCHAR* name;
        DWORD type;
        std::vector<BYTE> data;
    };
    const Case cases[] = {
        {TEXT("dword"), REG_DWORD, {0x2a, 0, 0, 0x80}},
        {TEXT("qword"), REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8}},
        {TEXT("quoted \"name\" \\ here"), REG_SZ, Text(TEXT("C:\\path \"with\" quotes, Grüße"))},
        {TEXT(""), REG_SZ, Text(TEXT("the default value"))},
        {TEXT("no terminator"), REG_SZ, Text(TEXT("ab"), false)},
        {TEXT("line break"), REG_SZ, Text(TEXT("one\ntwo"))},
        {TEXT("expand"), REG_EXPAND_SZ, Text(TEXT("%HOME%/x"))},
        {TEXT("multi"), REG_MULTI_SZ, Text(std::basic_string<WCHAR>(TEXT("a\0b\0"), 4))},
        {TEXT("long binary"), REG_BINARY, longBinary},
        {TEXT("empty"), REG_BINARY, {}},
        {TEXT("short dword"), REG_DWORD, {1, 2}},
    };
    for (const Case& c : cases) {
        SetValue(TEXT("Software\\Export\\Inner"), c.name, c.type, c.data);
    }
    SetValue(TEXT("Software\\Export"), TEXT("top"), REG_DWORD, {1, 0, 0, 0});

    for (bool utf8 : {false, true}) {
        SCOPED_TRACE(utf8 ? "UTF-8" : "UTF-16");
        const std::string file = testsupport::TempPath(utf8 ? "export8.reg" : "export16.reg");
        std::vector<std::string> args = {"registry", "export", "HKCU\\Software\\Export", file};
        if (utf8) {
            args.push_back("--utf8");
        }
        ASSERT_EQ(0, Run(args).status);
        ASSERT_EQ(0, Run({"registry", "delete", "Software\\Export"}).status);
        DWORD type = 0;
        std::vector<BYTE> data;
        ASSERT_FALSE(GetValue(TEXT("Software\\Export"), TEXT("top"), type, data));
        testsupport::ChildResult imported = Run({"registry", "import", file});
        ASSERT_EQ(0, imported.status) << imported.output;
        for (const Case& c : cases) {
            SCOPED_TRACE(TString(c.name).AsAnsi());
            ASSERT_TRUE(GetValue(TEXT("Software\\Export\\Inner"), c.name, type, data));
            EXPECT_EQ(c.type, type);
            EXPECT_EQ(c.data, data);
        }
        EXPECT_TRUE(GetValue(TEXT("Software\\Export"), TEXT("top"), type, data));
    }
}

TEST_F(ZtoolsRegistry, RegeditFilesWithDeletionsAndContinuedLines)
{
    SetValue(TEXT("Software\\Old"), TEXT("x"), REG_DWORD, {1, 0, 0, 0});
    SetValue(TEXT("Software\\Keep"), TEXT("gone"), REG_DWORD, {1, 0, 0, 0});
    SetValue(TEXT("Software\\Keep"), TEXT("stays"), REG_DWORD, {2, 0, 0, 0});
    const std::basic_string<WCHAR> text = TEXT("Windows Registry Editor Version 5.00\r\n")
        TEXT("\r\n") TEXT("; a comment\r\n") TEXT("[-HKEY_CURRENT_USER\\Software\\Old]\r\n")
            TEXT("\r\n") TEXT("[HKEY_CURRENT_USER\\Software\\Keep]\r\n") TEXT("\"gone\"=-\r\n")
                TEXT("\"bytes\"=hex:01,02,\\\r\n") TEXT("  03,04\r\n") TEXT("@=\"default\"\r\n");
    std::string bytes = "\xFF\xFE";
    for (WCHAR c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    const std::string file = testsupport::TempPath("regedit.reg");
    WriteFile(file, bytes);
    testsupport::ChildResult result = Run({"registry", "import", file});
    ASSERT_EQ(0, result.status) << result.output;
    DWORD type = 0;
    std::vector<BYTE> data;
    EXPECT_FALSE(GetValue(TEXT("Software\\Old"), TEXT("x"), type, data));
    EXPECT_FALSE(GetValue(TEXT("Software\\Keep"), TEXT("gone"), type, data));
    EXPECT_TRUE(GetValue(TEXT("Software\\Keep"), TEXT("stays"), type, data));
    ASSERT_TRUE(GetValue(TEXT("Software\\Keep"), TEXT("bytes"), type, data));
    EXPECT_EQ((std::vector<BYTE>{1, 2, 3, 4}), data);
    ASSERT_TRUE(GetValue(TEXT("Software\\Keep"), TEXT(""), type, data));
    EXPECT_EQ(Text(TEXT("default")), data);
}

TEST_F(ZtoolsRegistry, ABadFileChangesNothing)
{
    struct Case
    {
        const char* what;
        std::string text;
    };
    const Case cases[] = {
        {"no header", "[HKEY_CURRENT_USER\\Software\\Bad]\n\"v\"=dword:1\n"},
        {"bad hex",
         "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Bad]\n\"a\"=dword:1\n\"v\"=hex:1,zz\n"},
        {"value before a key", "REGEDIT4\n\"v\"=dword:1\n"},
        {"unknown root", "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Bad]\n\"a\"=dword:1\n"
                         "[HKEY_USERS\\x]\n"},
        {"dword too long", "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Bad]\n\"v\"=dword:123456789\n"},
        {"open quote", "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Bad]\n\"v\"=\"abc\n"},
        {"not UTF-8", "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\B\xE4\xE4]\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string file = testsupport::TempPath("bad.reg");
        WriteFile(file, c.text);
        testsupport::ChildResult result = Run({"registry", "import", file});
        EXPECT_NE(0, result.status);
        HKEY key = nullptr;
        EXPECT_EQ(ERROR_FILE_NOT_FOUND,
                  ::RegOpenKeyExW(HKEY_CURRENT_USER, TEXT("Software\\Bad"), 0, KEY_READ, &key));
    }
}

TEST_F(ZtoolsRegistry, SetGetAndDeleteFromTheCommandLine)
{
    ASSERT_EQ(0,
              Run({"registry", "set", "HKCU\\Software\\Cli", "n", "-5", "--type", "dword"}).status);
    testsupport::ChildResult got = Run({"registry", "get", "Software\\Cli", "N"});
    EXPECT_EQ(0, got.status);
    EXPECT_EQ("\"n\"=dword:fffffffb\n", got.output);
    EXPECT_NE(
        0, Run({"registry", "set", "Software\\Cli", "n", "4294967296", "--type", "dword"}).status);
    EXPECT_NE(0, Run({"registry", "set", "Software\\Cli", "n", "12", "--type", "word"}).status);
    EXPECT_NE(0, Run({"registry", "set", "HKEY_USERS\\x", "n", "1"}).status);
    EXPECT_EQ(0, Run({"registry", "delete", "Software\\Cli", "n"}).status);
    EXPECT_NE(0, Run({"registry", "get", "Software\\Cli", "n"}).status);
}

TEST_F(ZtoolsRegistry, FormatCommandsEditTheUserFormatList)
{
    ASSERT_EQ(0, Run({"formats", "add", "A4", "210x297mm"}).status);
    ASSERT_EQ(0, Run({"formats", "add", "Wide", "11x8.5in"}).status);
    ASSERT_EQ(0, Run({"formats", "units", "in"}).status);
    EXPECT_NE(0, Run({"formats", "add", "A4", "1x1mm"}).status);     // the name exists
    EXPECT_NE(0, Run({"formats", "add", "Bad", "210by297"}).status); // no size
    EXPECT_NE(0, Run({"formats", "add", std::string(32, 'n'), "1x1mm"}).status);
    EXPECT_NE(0, Run({"formats", "units", "cm"}).status);

    ZanthRegCloseDatabases();
    const ULONG saved = TheUnits.GetDefault();
    {
        ZCUserFormat formats(1);
        EXPECT_EQ(2u, formats.GetUnits());
        ASSERT_EQ(2, formats.FormatList().GetCount());
        const ZCFormat::TFormatInfo* wide = formats.FormatList().GetTail();
        EXPECT_EQ(TString(TEXT("Wide")), TString(wide->Name));
        EXPECT_EQ(ZCUnit::ConvertInchToZanth(8.5), wide->SizeX);
        EXPECT_EQ(ZCUnit::ConvertInchToZanth(11), wide->SizeY);
        EXPECT_EQ(1u, wide->Land);
        EXPECT_EQ(ZCUnit::ConvertMmToZanth(210), formats.FormatList().GetHead()->SizeX);
    }
    ZanthRegCloseDatabases();
    ASSERT_EQ(0, Run({"formats", "remove", "A4"}).status);
    EXPECT_NE(0, Run({"formats", "remove", "A4"}).status);
    testsupport::ChildResult listed = Run({"formats", "list"});
    EXPECT_EQ(0, listed.status);
    EXPECT_EQ("unit: inches\n0  Wide  8.50 x 11.00  landscape\n", listed.output);
    TheUnits.SetDefault(saved);
}

} // namespace
