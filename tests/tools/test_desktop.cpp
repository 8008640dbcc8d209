// The desktop helpers: the file browser on trees the tests build, the operating
// system's version, and the single-instance guard (with a second process, and with
// windows on an X server the test starts).
#include "testsupport.h"
#include "xserver.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <list>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using testsupport::TempPath;

namespace {

TString Wide(const std::string& text)
{
    return TString::FromAnsi(text.c_str());
}

void Touch(const fs::path& path)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "x";
}

std::vector<std::string> Strings(const std::list<TString>& list)
{
    std::vector<std::string> result;
    for (const TString& item : list) {
        result.push_back(item.AsAnsi());
    }
    return result;
}

std::vector<std::string> Strings(const std::vector<TString>& list)
{
    return Strings(std::list<TString>(list.begin(), list.end()));
}

std::set<std::string> Set(const std::vector<std::string>& items)
{
    return {items.begin(), items.end()};
}

std::vector<std::string> List(const std::string& dir, const char* mask, UINT recurse)
{
    PFileBrowser browser;
    std::list<TString> out;
    browser->GetFileList(Wide(dir), Wide(mask), &out, recurse, 1);
    return Strings(out);
}

std::vector<std::string> Vector(const std::string& dir, const char* mask, UINT recurse)
{
    PFileBrowser browser;
    std::vector<TString> out;
    browser->GetFileVector(Wide(dir), Wide(mask), &out, recurse, 1);
    return Strings(out);
}

// D: two files, sub1 with a file and a deeper directory, and a directory whose name
// ends in ".txt".
class FileBrowser : public ::testing::Test
{
protected:
    void SetUp() override
    {
        d = TempPath("browse");
        for (const char* file : {"a.txt", "b.dat", "sub1/s1.txt", "sub1/deeper/d.txt",
                                 "sub2.txt/in.txt", "sub2.txt/inner/x.txt"}) {
            Touch(d + "/" + file);
        }
    }
    std::string d;
};

TEST_F(FileBrowser, TrailingSeparatorsGiveTheSamePaths)
{
    for (UINT recurse : {0u, 1u}) {
        const auto plain = List(d, "*.*", recurse);
        EXPECT_FALSE(plain.empty());
        EXPECT_EQ(List(d + "/", "*.*", recurse), plain);
        EXPECT_EQ(List(d + "//", "*.*", recurse), plain);
        EXPECT_EQ(Vector(d + "/", "*.*", recurse), Vector(d, "*.*", recurse));
    }
}

TEST_F(FileBrowser, FlatListingHasFilesAndDirectoriesButNoDots)
{
    EXPECT_EQ(Set(List(d, "*.*", 0)),
              (std::set<std::string>{d + "/a.txt", d + "/b.dat", d + "/sub1", d + "/sub2.txt"}));
    EXPECT_EQ(Set(List(d, "*", 0)), Set(List(d, "*.*", 0)));
}

TEST_F(FileBrowser, RecursiveListKeepsEachSubdirectoryTogether)
{
    const auto list = List(d, "*.*", 1);
    EXPECT_EQ(Set(list), (std::set<std::string>{d + "/a.txt", d + "/b.dat", d + "/sub1/s1.txt",
                                                d + "/sub1/deeper/d.txt", d + "/sub2.txt/in.txt",
                                                d + "/sub2.txt/inner/x.txt"}));
    EXPECT_EQ(list.size(), 6u);
    // Depth first: the files below one subdirectory form one unbroken run.
    for (const std::string& sub : {d + "/sub1/", d + "/sub2.txt/", d + "/sub1/deeper/"}) {
        SCOPED_TRACE(sub);
        auto inside = [&](const std::string& p) { return p.rfind(sub, 0) == 0; };
        auto first = std::find_if(list.begin(), list.end(), inside);
        auto last = std::find_if(list.rbegin(), list.rend(), inside).base();
        EXPECT_TRUE(std::all_of(first, last, inside));
    }
}

TEST_F(FileBrowser, VectorPutsTheDirectorysOwnFilesFirst)
{
    const auto list = List(d, "*.*", 1);
    const auto vector = Vector(d, "*.*", 1);
    // The vector is the list with the top directory's files moved to the front.
    std::vector<std::string> expected;
    std::vector<std::string> below;
    for (const std::string& p : list) {
        (fs::path(p).parent_path() == fs::path(d) ? expected : below).push_back(p);
    }
    expected.insert(expected.end(), below.begin(), below.end());
    EXPECT_EQ(vector, expected);
    EXPECT_EQ(Set(std::vector<std::string>(vector.begin(), vector.begin() + 2)),
              (std::set<std::string>{d + "/a.txt", d + "/b.dat"}));
}

TEST_F(FileBrowser, VectorWithoutRecursionAppendsFilesAndIgnoresDirectories)
{
    PFileBrowser browser;
    ASSERT_NE(browser.Get(), nullptr);
    std::vector<TString> out{TString(TEXT("kept"))};
    browser->GetFileVector(Wide(d), TEXT("*.txt"), &out, 0, 0);
    EXPECT_EQ(Strings(out), (std::vector<std::string>{"kept", d + "/a.txt"}));
    browser->GetFileVector(Wide(d), TEXT("*"), &out, 0, 1);
    EXPECT_EQ(Set(Strings(out)), (std::set<std::string>{d + "/a.txt", d + "/b.dat"}));

    std::list<TString> list{TString(TEXT("kept"))};
    browser->GetFileList(Wide(d), TEXT("*.dat"), &list, 0, 0);
    EXPECT_EQ(Strings(list), (std::vector<std::string>{"kept", d + "/b.dat"}));
}

TEST(FileBrowserMask, DescendsWhereNothingMatchesAndOnlyIntoMatchingNamesElsewhere)
{
    const std::string d = TempPath("descent");
    for (const char* file : {"top.dat", "alpha/one.txt", "alpha/beta/hidden.txt",
                             "alpha/gamma.txt/two.txt", "delta/epsilon/three.txt"}) {
        Touch(d + "/" + file);
    }
    const std::set<std::string> expected = {d + "/alpha/one.txt", d + "/alpha/gamma.txt/two.txt",
                                            d + "/delta/epsilon/three.txt"};
    EXPECT_EQ(Set(List(d, "*.txt", 1)), expected);
    EXPECT_EQ(Set(Vector(d, "*.txt", 1)), expected);
    EXPECT_EQ(List(d, "*.txt", 0), std::vector<std::string>{}) << "no descent without recursion";
    EXPECT_EQ(Set(List(d, "*.TXT", 1)), expected) << "masks ignore case";
}

TEST(FileBrowserFactory, DestroyClassOnlyDeletesTheLibrarysBrowsers)
{
    VFileBrowser::DestroyClass(nullptr);
    VFileBrowser* none = nullptr;
    VFileBrowser::DestroyClass(&none);
    EXPECT_EQ(none, nullptr);

    VFileBrowser* browser = VFileBrowser::CreateClass();
    ASSERT_NE(dynamic_cast<IFileBrowser*>(browser), nullptr);
    VFileBrowser::DestroyClass(&browser);
    EXPECT_EQ(browser, nullptr);

    struct Foreign final : VFileBrowser
    {
        void GetFileList(const WCHAR*, const WCHAR*, std::list<TString>*, UINT, UINT) override {}
        void GetFileVector(const WCHAR*, const WCHAR*, std::vector<TString>*, UINT, UINT) override
        {}
        virtual ~Foreign() = default;
    } foreign;
    VFileBrowser* pointer = &foreign;
    VFileBrowser::DestroyClass(&pointer); // must not delete an object on the stack
    EXPECT_EQ(pointer, nullptr);
}

TEST(FileBrowserFactory, MissingArgumentsRaiseALibraryError)
{
    PFileBrowser browser;
    std::list<TString> list;
    std::vector<TString> vector;
    const auto cases = {
        testsupport::CatchError([&] { browser->GetFileList(nullptr, TEXT("*"), &list, 1, 1); }),
        testsupport::CatchError([&] { browser->GetFileList(TEXT("/"), nullptr, &list, 1, 1); }),
        testsupport::CatchError([&] { browser->GetFileList(TEXT("/"), TEXT("*"), nullptr, 1, 1); }),
        testsupport::CatchError(
            [&] { browser->GetFileVector(TEXT("/"), TEXT("*"), nullptr, 0, 1); }),
    };
    for (const auto& caught : cases) {
        EXPECT_TRUE(caught.raised);
        EXPECT_EQ(caught.catalog, 0);
    }
}

TEST(FileBrowserFaults, LinkToAParentIsNotEnteredAgain)
{
    const std::string d = TempPath("loop");
    Touch(d + "/a/f.txt");
    fs::create_directory_symlink(d, d + "/a/up");     // a loop back to the top
    fs::create_directory_symlink(d + "/a", d + "/b"); // a second way into a
    for (const char* mask : {"*.*", "*.txt"}) {
        SCOPED_TRACE(mask);
        const auto list = List(d, mask, 1);
        // a is met twice (itself and through b); below each, "up" leads back to the
        // top, which is on the way down, so it is not entered.
        EXPECT_EQ(Set(list), (std::set<std::string>{d + "/a/f.txt", d + "/b/f.txt"}));
        EXPECT_EQ(list.size(), 2u);
        EXPECT_EQ(Vector(d, mask, 1).size(), 2u);
    }
}

// A chain of `levels` directories named "d" below root, built and removed with
// relative steps so that no single call needs the whole path.
void BuildChain(const std::string& root, int levels, const char* leafFile)
{
    const fs::path cwd = fs::current_path();
    fs::create_directories(root);
    fs::current_path(root);
    for (int i = 0; i < levels; ++i) {
        fs::create_directory("d");
        fs::current_path("d");
    }
    std::ofstream(leafFile) << "x";
    fs::current_path(cwd);
}

void RemoveChain(const std::string& root, int levels, const char* leafFile)
{
    const fs::path cwd = fs::current_path();
    fs::current_path(root);
    for (int i = 0; i < levels; ++i) {
        fs::current_path("d");
    }
    fs::remove(leafFile);
    for (int i = 0; i < levels; ++i) {
        fs::current_path("..");
        fs::remove("d");
    }
    fs::current_path(cwd);
}

TEST(FileBrowserFaults, LongPathsAndDeepTreesListCompletely)
{
    // Every path below PATH_MAX's depth is resolved from the start by the system,
    // so the cost of a chain grows with the square of its depth: the deepest chain
    // is listed once, the descent through non-matching levels on a shorter one.
    struct Case
    {
        const char* what;
        int levels;
        const char* mask;
        bool vectorToo;
    } cases[] = {
        {"past MAX_PATH", 200, "*.*", true},
        {"past PATH_MAX, nothing matching on the way", 2200, "*.txt", true},
        {"10,000 levels", 10000, "*.*", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string root = TempPath("chain");
        BuildChain(root, c.levels, "leaf.txt");
        std::string expected = root;
        for (int i = 0; i < c.levels; ++i) {
            expected += "/d";
        }
        expected += "/leaf.txt";
        EXPECT_EQ(List(root, c.mask, 1), std::vector<std::string>{expected});
        if (c.vectorToo) {
            EXPECT_EQ(Vector(root, c.mask, 1), std::vector<std::string>{expected});
        }
        RemoveChain(root, c.levels, "leaf.txt");
    }
}

TEST(FileBrowserFaults, VanishingDirectoriesAddNothingAndRaiseNothing)
{
    const std::string d = TempPath("vanish");
    Touch(d + "/stay.txt");
    std::atomic<bool> stop{false};
    std::thread churn([&] {
        while (!stop) {
            std::error_code ignored;
            fs::create_directories(d + "/gone/deeper/deepest", ignored);
            std::ofstream(d + "/gone/deeper/deepest/f.txt") << "x";
            fs::remove_all(d + "/gone", ignored);
        }
    });
    PFileBrowser browser;
    for (int i = 0; i < 300; ++i) {
        std::list<TString> list;
        std::vector<TString> vector;
        for (const WCHAR* mask : {TEXT("*.*"), TEXT("*.txt"), TEXT("f.txt")}) {
            browser->GetFileList(Wide(d), mask, &list, 1, 1);
            browser->GetFileVector(Wide(d), mask, &vector, 1, 1);
            for (const std::string& p : Strings(list)) {
                EXPECT_TRUE(p == d + "/stay.txt" || p == d + "/gone/deeper/deepest/f.txt") << p;
            }
        }
    }
    stop = true;
    churn.join();
}

TEST(FileBrowserFaults, UnreadableDirectoryAddsNothing)
{
    const std::string d = TempPath("locked");
    Touch(d + "/open/a.txt");
    Touch(d + "/shut/b.txt");
    fs::permissions(d + "/shut", fs::perms::none);
    std::error_code error;
    fs::directory_iterator probe(d + "/shut", error);
    if (!error) {
        fs::permissions(d + "/shut", fs::perms::owner_all);
        GTEST_SKIP() << "permissions do not keep this user out of a directory (root?)";
    }
    EXPECT_EQ(List(d, "*.txt", 1), std::vector<std::string>{d + "/open/a.txt"});
    EXPECT_EQ(Vector(d, "*.*", 1), std::vector<std::string>{d + "/open/a.txt"});
    fs::permissions(d + "/shut", fs::perms::owner_all);
}

} // namespace

namespace {

// Makes GetVersionExW report a given system while it lives.
class ReportedVersion
{
public:
    ReportedVersion(DWORD platform, DWORD major, DWORD minor)
    {
        OSVERSIONINFOW version{};
        version.dwOSVersionInfoSize = sizeof version;
        version.dwPlatformId = platform;
        version.dwMajorVersion = major;
        version.dwMinorVersion = minor;
        ::ZanthSetReportedVersion(&version);
    }
    ~ReportedVersion() { ::ZanthSetReportedVersion(nullptr); }
};

TEST(OSVersionInfo, AnswersForEveryFamily)
{
    struct Case
    {
        const char* what;
        DWORD platform;
        DWORD major;
        DWORD minor;
        UINT winNT;
        UINT oldStyle;
        const char* font;
    } cases[] = {
        {"NT 3.51", 2, 3, 51, 1, 1, "Lucida Sans Unicode"},
        {"NT 4.0", 2, 4, 0, 1, 0, "Lucida Sans Unicode"},
        {"Windows XP", 2, 5, 1, 1, 0, "Lucida Sans Unicode"},
        {"Windows 95", 1, 4, 0, 0, 0, "Arial"},
        {"Windows 98", 1, 4, 10, 0, 0, "Arial"},
        {"Win32s", 0, 3, 10, 0, 1, "Arial"},
        {"an unknown platform", 3, 10, 0, 0, 1, "Arial"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ReportedVersion reported(c.platform, c.major, c.minor);
        COSVersionInfo info;
        EXPECT_EQ(info.IsWinNT(), c.winNT);
        EXPECT_EQ(info.IsOldstyle(), c.oldStyle);
        EXPECT_EQ(TString(info.GetDefaultFontName()).AsAnsi(), c.font);
        EXPECT_EQ(info.dwMajorVersion, c.major);
        EXPECT_EQ(info.dwMinorVersion, c.minor);
    }
}

TEST(OSVersionInfo, EveryQueryReadsAfreshAndAFailureKeepsTheRecord)
{
    COSVersionInfo info;
    EXPECT_EQ(info.dwOSVersionInfoSize, 276u);
    {
        ReportedVersion reported(1, 4, 0);
        EXPECT_EQ(info.IsWinNT(), 0u);
    }
    EXPECT_EQ(info.IsWinNT(), 1u) << "the running system is of the NT family";
    EXPECT_EQ(info.dwOSVersionInfoSize, 276u);

    COSVersionInfo copy(info);
    EXPECT_EQ(std::memcmp(static_cast<OSVERSIONINFOW*>(&copy), static_cast<OSVERSIONINFOW*>(&info),
                          sizeof(OSVERSIONINFOW)),
              0);
    OSVERSIONINFOW failing{};
    ::ZanthSetReportedVersion(&failing);
    info.dwOSVersionInfoSize = 0; // LoadVersionInfo sets it again
    EXPECT_EQ(info.IsWinNT(), 1u) << "answered from the previous contents";
    EXPECT_EQ(info.IsOldstyle(), 0u);
    ::ZanthSetReportedVersion(nullptr);

    COSVersionInfo assigned;
    assigned = copy;
    EXPECT_EQ(assigned.dwPlatformId, copy.dwPlatformId);
    EXPECT_EQ(assigned.dwMajorVersion, copy.dwMajorVersion);
}

std::string UniqueName(const char* base)
{
    return std::string(base) + "-" + std::to_string(::GetCurrentProcessId());
}

TEST(SingleInstance, SlashesAndBackslashesNameTheSameClaim)
{
    const std::string name = UniqueName("Company\\App");
    ZCSingleInstance::CheckSingleInstance(Wide(name));
    for (const std::string& again : {name, UniqueName("Company/App")}) {
        SCOPED_TRACE(again);
        const auto caught =
            testsupport::CatchError([&] { ZCSingleInstance::CheckSingleInstance(Wide(again)); });
        ASSERT_TRUE(caught.raised);
        TCatalogInfo info;
        ASSERT_TRUE(GetCatalogInfo(caught.catalog, info));
        EXPECT_EQ(info.name.AsAnsi(), "ZCSingleInstance_msg");
        EXPECT_EQ(caught.message, 0);
        EXPECT_EQ(caught.entry.a1.AsAnsi(), again) << "the name exactly as passed";
        EXPECT_EQ(caught.entry.a2.AsAnsi(), "tools_test_desktop");
    }
    ZCSingleInstance copy;
    ZCSingleInstance other(copy);
    other = copy;
}

TEST(SingleInstance, BadNamesRaiseALibraryError)
{
    for (const WCHAR* name : {static_cast<const WCHAR*>(nullptr), TEXT("")}) {
        EXPECT_TRUE(
            testsupport::CatchError([&] { ZCSingleInstance::CheckSingleInstance(name); }).raised);
    }
}

TEST(SingleInstance, ASecondProcessIsRefusedAndTheNameIsFreeAfterItEnds)
{
    const std::string helper = testsupport::HelperPath("child_single_instance");
    const std::string mine = UniqueName("Zanth\\Held");
    ZCSingleInstance::CheckSingleInstance(Wide(mine));
    const auto refused =
        testsupport::RunChild({helper, "Zanth/Held-" + std::to_string(::GetCurrentProcessId())});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.output.find("refused"), std::string::npos) << refused.output;
    EXPECT_NE(refused.output.find("child_single_instance"), std::string::npos) << refused.output;

    const std::string theirs = UniqueName("Zanth/Passing");
    for (int run = 0; run < 2; ++run) {
        const auto child = testsupport::RunChild({helper, theirs});
        EXPECT_EQ(child.status, 0) << child.output;
        EXPECT_EQ(child.output, "claimed\n");
    }
    ZCSingleInstance::CheckSingleInstance(Wide(theirs)); // free again: raises nothing
}

TEST(SingleInstance, FindPrevInstanceWithoutADisplayFindsNothing)
{
    testsupport::NoDisplay noDisplay;
    EXPECT_EQ(FindPrevInstance(TEXT("viewer")), nullptr);
}

TEST(SingleInstance, FindPrevInstanceSearchesTheWindowTitles)
{
    testsupport::XServer server;
    if (!server.Ready()) {
        GTEST_SKIP() << server.Reason();
    }
    testsupport::XWindow viewer("Scan Viewer - page 1");
    testsupport::XWindow accented("\xC3\xA9t\xC3\xA9 report"); // "été report"
    ASSERT_TRUE(viewer.Made());
    struct Case
    {
        const char* title;
        bool found;
    } cases[] = {
        {"viewer", true},
        {"SCAN VIEWER - PAGE 1", true},
        {"page 1", true},
        {"viewer - page 2", false},
        {"no such window", false},
        {"\xC3\xA9t\xC3\xA9", true},
        {"\xC3\x89T\xC3\x89", false}, // only a to z are compared without case
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        void* result = reinterpret_cast<void*>(1);
        const auto caught =
            testsupport::CatchError([&] { result = FindPrevInstance(Wide(c.title)); });
        EXPECT_EQ(caught.raised, c.found);
        if (c.found) {
            EXPECT_EQ(caught.catalog, static_cast<WORD>(GeneralMessages));
            EXPECT_EQ(caught.message, 1);
        } else {
            EXPECT_EQ(result, nullptr);
        }
    }
}

} // namespace

// A recursive listing reports to the thread's progress view: a step per entry of
// the starting directory, so the bar moves forward only and ends at its max.
TEST(FileBrowserProgress, RecursiveListingMovesTheBarToItsEnd)
{
    class Positions : public TProgressView
    {
    public:
        std::vector<LONG> shown;

    protected:
        void Display(LONG position) override { shown.push_back(position); }
    };
    const std::string root = TempPath("progress-tree");
    for (int i = 0; i < 4; ++i) {
        for (int k = 0; k < 3; ++k) {
            Touch(root + "/dir" + std::to_string(i) + "/f" + std::to_string(k) + ".txt");
        }
    }
    for (const char* mask : {"*.*", "*.txt"}) { // "*.txt" matches nothing at the top
        SCOPED_TRACE(mask);
        Positions view;
        view.Open(TEXT("listing"), 0, 100, 1, 0);
        const auto listed = Vector(root, mask, 1);
        view.Close();
        EXPECT_EQ(listed.size(), 12u);
        ASSERT_FALSE(view.shown.empty());
        EXPECT_EQ(view.shown.back(), 100);
        EXPECT_TRUE(std::is_sorted(view.shown.begin(), view.shown.end()));
    }
    // Without a view the listing is the same.
    TProgressView::Init();
    EXPECT_EQ(Vector(root, "*.*", 1).size(), 12u);
}
