// TPtrList, TSmartPtr, callbacks, the log, the module list and small types.
#include "testsupport.h"

#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

TEST(TPtrList, AddWalkRemoveAndReuseNodes)
{
    int values[5] = {0, 1, 2, 3, 4};
    TPtrList<int*> list(2); // small blocks, so several are chained
    EXPECT_TRUE(list.IsEmpty());
    for (int& v : values) {
        list.AddTail(&v);
    }
    list.AddHead(&values[4]);
    EXPECT_EQ(list.GetCount(), 6);
    std::vector<int> seen;
    for (POSITION p = list.GetHeadPosition(); p;) {
        seen.push_back(*list.GetNext(p));
    }
    EXPECT_EQ(seen, (std::vector<int>{4, 0, 1, 2, 3, 4}));
    POSITION two = list.Find(&values[2]);
    ASSERT_NE(two, nullptr);
    list.InsertBefore(two, &values[0]);
    list.InsertAfter(two, &values[1]);
    list.RemoveAt(two);
    EXPECT_EQ(list.RemoveHead(), &values[4]);
    EXPECT_EQ(list.RemoveTail(), &values[4]);
    seen.clear();
    for (POSITION p = list.GetTailPosition(); p;) {
        seen.push_back(*list.GetPrev(p));
    }
    EXPECT_EQ(seen, (std::vector<int>{3, 1, 0, 1, 0}));
    EXPECT_EQ(*list.GetAt(list.FindIndex(1)), 1);
    EXPECT_EQ(list.FindIndex(9), nullptr);
    list.RemoveAll();
    EXPECT_TRUE(list.IsEmpty());
    list.AddTail(&values[0]); // usable again after RemoveAll
    EXPECT_EQ(list.GetHead(), &values[0]);
}

namespace {

struct Counted
{
    static int alive;
    Counted() { ++alive; }
    virtual ~Counted() { --alive; }
};
int Counted::alive = 0;

} // namespace

TEST(TSmartPtr, OwnsAndDeletes)
{
    {
        TSmartPtr<Counted> p(new Counted);
        EXPECT_EQ(Counted::alive, 1);
        p.Attach(new Counted);
        EXPECT_EQ(Counted::alive, 1);
        TSmartPtr<Counted> moved(std::move(p));
        EXPECT_FALSE(p);
        EXPECT_TRUE(moved);
        Counted* raw = moved.Detach();
        EXPECT_EQ(Counted::alive, 1);
        delete raw;
    }
    EXPECT_EQ(Counted::alive, 0);
}

TEST(Callbacks, InvokeAllCallsEveryRegistrationInOrder)
{
    TCallback callbacks;
    std::vector<std::pair<DWORD, int>> calls;
    auto record = [](DWORD id, void*, void* context) {
        auto* pair = static_cast<std::pair<std::vector<std::pair<DWORD, int>>*, int>*>(context);
        pair->first->push_back({id, pair->second});
    };
    std::pair<std::vector<std::pair<DWORD, int>>*, int> one{&calls, 1}, two{&calls, 2};
    callbacks.Add(record, &one);
    callbacks.Add(record, &two);
    callbacks.InvokeAll(3, nullptr);
    EXPECT_EQ(calls, (std::vector<std::pair<DWORD, int>>{{3, 1}, {3, 2}}));
    EXPECT_TRUE(callbacks.Remove(record, &one));
    EXPECT_FALSE(callbacks.Remove(record, &one));
    callbacks.InvokeAll(4, nullptr);
    EXPECT_EQ(calls.back(), (std::pair<DWORD, int>{4, 2}));
    EXPECT_EQ(callbacks.Count(), 1u);
    // A null function is not registered, so InvokeAll has nothing bad to call.
    callbacks.Add(nullptr, &one);
    EXPECT_EQ(callbacks.Count(), 1u);
    callbacks.InvokeAll(5, nullptr);
    EXPECT_EQ(calls.back(), (std::pair<DWORD, int>{5, 2}));
}

// A class that is itself a callback list and a listener, with the notification
// entry written as its users declare it: Notify(long code, const void* data,
// void* context), with LONG for the 32-bit long.
class ListeningList : public TCallback
{
public:
    LONG lastCode = -1;
    void Tell(LONG code) { Notify(code, nullptr, this); }

protected:
    void Notify(LONG code, const void*, void* context) override
    {
        if (context == this) {
            lastCode = code;
        }
    }
};

TEST(Callbacks, DerivedClassesOverrideTheNotificationEntry)
{
    ListeningList list;
    list.Tell(2);
    EXPECT_EQ(list.lastCode, 2);
    list.InvokeAll(2, nullptr); // the list never calls Notify on its own
    EXPECT_EQ(list.lastCode, 2);
    EXPECT_EQ(list.Count(), 0u);
}

TEST(Log, LinesReachSinksAndTheFile)
{
    testsupport::LogCapture capture;
    g_ptheLogfile->Write(1, TEXT("an error line"));
    g_ptheLogfile->Write(TEXT("an information line"));
    EXPECT_TRUE(capture.Contains("an error line", 1));
    EXPECT_TRUE(capture.Contains("an information line", 3));
    const std::string file = g_ptheLogfile->FileName().AsAnsi();
    EXPECT_EQ(file, testsupport::TempPath("zanthtools.log"));
    std::ifstream in(file);
    const std::string content(std::istreambuf_iterator<char>(in), {});
    EXPECT_NE(content.find(" 1 an error line\n"), std::string::npos) << content;
}

// The default log file lies in the temp directory, where somebody else may have put
// something under its name first. Whatever was planted there, the first line
// neither waits nor writes through it: the lines still reach the sinks, the planted
// thing's target keeps its contents, and only a regular file of the user's own with
// no other name receives the lines.
TEST(Log, ThingsPlantedUnderTheFileNameAreNotWritten)
{
    class Counter : public TLogSink
    {
    public:
        void Line(int, const TString&) override { ++lines; }
        int lines = 0;
    };
    const std::string logPath = testsupport::TempPath("zanthtools.log");
    const std::string victim = testsupport::TempPath("victim.txt");
    const std::string absent = testsupport::TempPath("absent.txt");
    auto read = [](const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    struct Case
    {
        const char* what;
        std::function<void()> plant;
        bool written; // the lines land in the file at logPath
    };
    const Case cases[] = {
        {"a FIFO nobody reads", [&] { (void)!::mkfifo(logPath.c_str(), 0600); }, false},
        {"a FIFO somebody reads", [&] { (void)!::mkfifo(logPath.c_str(), 0600); }, false},
        {"a link to another file", [&] { (void)!::symlink(victim.c_str(), logPath.c_str()); },
         false},
        {"a link to nowhere", [&] { (void)!::symlink(absent.c_str(), logPath.c_str()); }, false},
        {"a second name of another file", [&] { (void)!::link(victim.c_str(), logPath.c_str()); },
         false},
        {"a file of another user",
         [&] {
             std::ofstream(logPath) << "theirs\n";
             (void)!::chown(logPath.c_str(), 65534, 65534);
         },
         false},
        {"the user's own file", [&] { std::ofstream(logPath) << "earlier\n"; }, true},
        {"nothing", [] {}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (std::string(c.what) == "a file of another user" && ::geteuid() != 0) {
            continue; // only the superuser can give a file away
        }
        ::unlink(logPath.c_str());
        ::unlink(absent.c_str());
        std::ofstream(victim) << "untouched";
        c.plant();
        const int reader = std::string(c.what) == "a FIFO somebody reads"
                               ? ::open(logPath.c_str(), O_RDONLY | O_NONBLOCK)
                               : -1;
        const int status = testsupport::StatusOfForkedChild([] {
            TLogFile log;
            Counter counter;
            log.AddSink(&counter);
            log.Write(1, TEXT("first line"));
            log.Write(TEXT("second line"));
            log.RemoveSink(&counter);
            return counter.lines == 2 ? 0 : 3;
        });
        EXPECT_EQ(0, status) << (status == -1 ? "the first line waited" : "lines were lost");
        EXPECT_EQ("untouched", read(victim));
        struct stat info;
        EXPECT_NE(0, ::stat(absent.c_str(), &info)) << "the link's target was created";
        if (reader >= 0) {
            char buffer[64];
            EXPECT_LE(::read(reader, buffer, sizeof buffer), 0) << "lines went into the FIFO";
            ::close(reader);
        }
        struct stat planted;
        const bool regular = ::lstat(logPath.c_str(), &planted) == 0 && S_ISREG(planted.st_mode);
        const std::string content = regular ? read(logPath) : std::string();
        const bool written = content.find(" 1 first line\n") != std::string::npos &&
                             content.find(" 3 second line\n") != std::string::npos;
        EXPECT_EQ(c.written, written) << content;
        if (std::string(c.what) == "the user's own file") {
            EXPECT_EQ(0u, content.rfind("earlier\n", 0)) << "the lines are appended";
        }
    }
}

TEST(ModuleList, AppendAndFind)
{
    TModuleList list;
    TModuleRecord record;
    record.module = reinterpret_cast<HMODULE>(0x1000);
    record.value = -1;
    record.path = TEXT("/lib/one.so");
    list.Append(record);
    record.path = TEXT("/lib/again.so");
    list.Append(record);
    TModuleRecord found;
    ASSERT_TRUE(list.Find(reinterpret_cast<HMODULE>(0x1000), found));
    EXPECT_EQ(found.path, TEXT("/lib/again.so")); // the latest record of that module
    EXPECT_EQ(list.Count(), 2u);
    EXPECT_FALSE(list.Find(nullptr, found));
}

TEST(Geometry, PointsAndRectangles)
{
    const TRect rect(10, 20, 110, 70);
    EXPECT_EQ(rect.Width(), 100);
    EXPECT_EQ(rect.Height(), 50);
    EXPECT_TRUE(rect.Contains(TPoint(10, 20)));
    EXPECT_FALSE(rect.Contains(TPoint(110, 20)));
    EXPECT_EQ(rect.BottomRight(), TPoint(110, 70));
    EXPECT_TRUE(TRect(5, 5, 5, 9).IsEmpty());
}
