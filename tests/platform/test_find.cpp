// Win32 directory search: FindFirstFileW/FindNextFileW/FindClose with the Windows
// wildcard rules, "." and "..", attributes and sizes, errors, long paths, and
// GetFileAttributesW on directories.
#include "testsupport.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using testsupport::TempPath;

namespace {

std::string Utf8(const WCHAR* text)
{
    return TString(text).AsAnsi();
}

TString Wide(const std::string& text)
{
    return TString::FromAnsi(text.c_str());
}

void WriteFile(const fs::path& path, std::size_t size)
{
    std::ofstream(path, std::ios::binary) << std::string(size, 'x');
}

// Every name a search reports, in order; error is the last error when the search
// could not be opened (0 otherwise).
struct Listing
{
    std::vector<std::string> names;
    DWORD error = 0;
};

Listing Search(const std::string& pattern)
{
    Listing result;
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW(Wide(pattern), &data);
    if (find == INVALID_HANDLE_VALUE) {
        result.error = ::GetLastError();
        return result;
    }
    do {
        result.names.push_back(Utf8(data.cFileName));
    } while (::FindNextFileW(find, &data));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    EXPECT_TRUE(::FindClose(find));
    return result;
}

std::set<std::string> Sorted(const std::vector<std::string>& names)
{
    return {names.begin(), names.end()};
}

class Find : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_Dir = TempPath(::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(m_Dir + "/Sub.dir");
        fs::create_directories(m_Dir + "/plain");
        for (const char* name : {"a.txt", "B.TXT", "c.txt.bak", "noext", "d.t", "ab.txt", ".hidden",
                                 "x.y.z", "name", "name.ext"}) {
            WriteFile(m_Dir + "/" + name, 3);
        }
    }
    std::string m_Dir;
};

TEST_F(Find, MasksFollowTheWindowsWildcardRules)
{
    const std::set<std::string> all = {".",       "..",        "Sub.dir", "plain",   "a.txt",
                                       "B.TXT",   "c.txt.bak", "noext",   "d.t",     "ab.txt",
                                       ".hidden", "x.y.z",     "name",    "name.ext"};
    struct Case
    {
        const char* mask;
        std::set<std::string> expected;
    } cases[] = {
        {"*", all},
        {"*.*", all}, // also the names without a dot
        {"*.txt", {"a.txt", "B.TXT", "ab.txt"}},
        {"*.TXT", {"a.txt", "B.TXT", "ab.txt"}},
        {"?.txt", {"a.txt", "B.TXT"}},
        {"??.txt", {"a.txt", "B.TXT", "ab.txt"}}, // "?" before a dot may match nothing
        {"*.t", {"d.t"}},
        {"name.*", {"name", "name.ext"}}, // ".*" also matches the end of the name
        {"*.", {".", "..", "plain", "noext", "name"}},
        {"*.dir", {"Sub.dir"}},
        {"x*z", {"x.y.z"}},
        {"A.TXT", {"a.txt"}}, // a literal name, case ignored
        {"missing*", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mask);
        const Listing listing = Search(m_Dir + "/" + c.mask);
        EXPECT_EQ(Sorted(listing.names), c.expected);
        EXPECT_EQ(listing.names.size(), c.expected.size()) << "no name is reported twice";
        if (c.expected.empty()) {
            EXPECT_EQ(listing.error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
        }
    }
}

TEST_F(Find, DotEntriesComeFirst)
{
    const Listing listing = Search(m_Dir + "/*");
    ASSERT_GE(listing.names.size(), 2u);
    EXPECT_EQ(listing.names[0], ".");
    EXPECT_EQ(listing.names[1], "..");
}

TEST_F(Find, ReportsAttributesAndSizes)
{
    WriteFile(m_Dir + "/big", 70000);
    fs::permissions(m_Dir + "/noext", fs::perms::owner_read | fs::perms::group_read);
    struct Case
    {
        const char* name;
        DWORD set;
        DWORD clear;
        ULONGLONG size;
    } cases[] = {
        {"big", FILE_ATTRIBUTE_NORMAL, FILE_ATTRIBUTE_DIRECTORY, 70000},
        {"Sub.dir", FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_READONLY, 0},
        {".hidden", FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_DIRECTORY, 3},
        {"noext", FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_DIRECTORY, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WIN32_FIND_DATAW data;
        HANDLE find = ::FindFirstFileW(Wide(m_Dir + "/" + c.name), &data);
        ASSERT_NE(find, INVALID_HANDLE_VALUE);
        EXPECT_EQ(Utf8(data.cFileName), c.name);
        EXPECT_EQ(data.dwFileAttributes & c.set, c.set);
        EXPECT_EQ(data.dwFileAttributes & c.clear, 0u);
        EXPECT_EQ((ULONGLONG(data.nFileSizeHigh) << 32) | data.nFileSizeLow, c.size);
        EXPECT_NE(data.ftLastWriteTime.dwHighDateTime, 0u);
        EXPECT_FALSE(::FindNextFileW(find, &data));
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
        EXPECT_TRUE(::FindClose(find));
    }
}

TEST_F(Find, ReportsErrorsAndRejectsForeignHandles)
{
    struct Case
    {
        std::string pattern;
        DWORD error;
    } cases[] = {
        {m_Dir + "/missing/*", ERROR_PATH_NOT_FOUND},
        {m_Dir + "/a.txt/*", ERROR_PATH_NOT_FOUND},
        {m_Dir + "/nothing.here", ERROR_FILE_NOT_FOUND},
        {m_Dir + "/", ERROR_FILE_NOT_FOUND},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern);
        EXPECT_EQ(Search(c.pattern).error, c.error);
    }
    WIN32_FIND_DATAW data;
    EXPECT_EQ(::FindFirstFileW(nullptr, &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_FALSE(::FindClose(event)) << "an event is no search";
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(::FindNextFileW(event, &data));
    EXPECT_TRUE(::CloseHandle(event));
    EXPECT_FALSE(::FindClose(INVALID_HANDLE_VALUE));
}

TEST_F(Find, AnOpenSearchSurvivesItsDirectoryAndHoldsNoDescriptor)
{
    const DWORD handles = ::ZanthOpenHandleCount();
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW(Wide(m_Dir + "/plain/../*.txt"), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    fs::remove_all(m_Dir);
    int count = 1;
    while (::FindNextFileW(find, &data)) {
        ++count;
    }
    EXPECT_EQ(count, 3);
    EXPECT_TRUE(::FindClose(find));
    EXPECT_EQ(::ZanthOpenHandleCount(), handles);
}

TEST_F(Find, LongPathsAreNeitherCutNorRefused)
{
    // A path far beyond MAX_PATH and beyond the kernel's PATH_MAX, built with
    // relative steps so that no single call of the fixture needs it whole.
    const std::string component(200, 'd');
    std::string path = m_Dir;
    fs::path cwd = fs::current_path();
    fs::current_path(m_Dir);
    for (int i = 0; i < 30; ++i) {
        fs::create_directory(component);
        fs::current_path(component);
        path += "/" + component;
    }
    WriteFile("deep.txt", 5);
    fs::current_path(cwd);
    ASSERT_GT(path.size(), 6000u);

    const Listing listing = Search(path + "/*.txt");
    EXPECT_EQ(listing.names, std::vector<std::string>{"deep.txt"});
    EXPECT_EQ(::GetFileAttributesW(Wide(path)), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(::GetFileAttributesW(Wide(path + "/deep.txt")) & FILE_ATTRIBUTE_DIRECTORY, 0u);
    ULONGLONG volume = 0, index = 0;
    EXPECT_TRUE(::ZanthGetFileIdentity(Wide(path), &volume, &index));
}

TEST_F(Find, DirectoryAttributesAndIdentity)
{
    EXPECT_EQ(::GetFileAttributesW(Wide(m_Dir + "/plain")),
              static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(::GetFileAttributesW(Wide(m_Dir + "/plain/")),
              static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
    fs::create_directory_symlink(m_Dir + "/plain", m_Dir + "/link");
    ULONGLONG v1, i1, v2, i2;
    ASSERT_TRUE(::ZanthGetFileIdentity(Wide(m_Dir + "/plain"), &v1, &i1));
    ASSERT_TRUE(::ZanthGetFileIdentity(Wide(m_Dir + "/link"), &v2, &i2));
    EXPECT_EQ(v1, v2);
    EXPECT_EQ(i1, i2) << "a link names the directory it points to";
    ASSERT_TRUE(::ZanthGetFileIdentity(Wide(m_Dir + "/Sub.dir"), &v2, &i2));
    EXPECT_NE(i1, i2);
    EXPECT_FALSE(::ZanthGetFileIdentity(Wide(m_Dir + "/missing"), &v2, &i2));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW(Wide(m_Dir + "/link"), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    EXPECT_NE(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_NE(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
    ::FindClose(find);
}

} // namespace
