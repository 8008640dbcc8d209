// Progress records, the per-thread view and the terminal view.
#include "testsupport.h"

#include <pty.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

// A view that records every Display and can look at its list of open records.
class RecordingView : public TProgressView
{
public:
    std::vector<LONG> shown;

    int OpenRecords()
    {
        int count = 0;
        for (TListElement* e = Progresses()->GetHead(); e; e = e->Next()) {
            ++count;
        }
        return count;
    }
    TListElement* Innermost() { return Progresses()->GetTail(); }
    LONG Position() const { return Act(); }

protected:
    void Display(LONG position) override { shown.push_back(position); }
};

// Takes the calling thread's view away after each test, so that no test leaves a
// view behind.
class ProgressTest : public ::testing::Test
{
protected:
    void TearDown() override { TProgressView::Init(); }
};

std::string Utf8(const TString& text)
{
    return text.AsAnsi();
}

} // namespace

TEST_F(ProgressTest, ReportsTableOfViewsRecordsAndSteps)
{
    struct Case
    {
        const char* what;
        LONG viewMin, viewMax, stepSize;
        LONG min, max;
        std::vector<LONG> dos;
        std::vector<LONG> displays;
        LONG finalAct; // the record's act after the last Do
    };
    const std::vector<LONG> ten(10, 1);
    std::vector<LONG> eleven(11, 1);
    const Case cases[] = {
        {"ten units of 0..1000 stay below the first step", 0, 100, 1, 0, 1000, ten, {}, 9},
        {"the eleventh unit moves the bar one step", 0, 100, 1, 0, 1000, eleven, {1}, 10},
        {"Do(500) then Do jumps 50 steps with one Display",
         0,
         100,
         1,
         0,
         1000,
         {500, 1},
         {50},
         500},
        {"an act beyond max is set back to max first", 0, 100, 1, 0, 10, {50, 1}, {100}, 10},
        {"a view at its max ignores further reports",
         0,
         100,
         1,
         0,
         10,
         {10, 0, 5, 1, 3, 1},
         {100},
         19},
        {"steps of ten move the bar in tens", 0, 100, 10, 0, 100, {25, 1}, {20}, 25},
        {"a view with an offset range", 50, 150, 1, 0, 100, {30, 1}, {80}, 30},
        {"a record with an offset range", 0, 100, 1, 1000, 2000, {500, 1}, {50}, 1500},
        {"a view of size 0 and step 0 never divides or loops", 0, 0, 0, 0, 10, {5, 5, 1}, {}, 10},
        {"a step size of 0 still moves the bar", 0, 10, 0, 0, 10, {1, 1}, {1}, 1},
        {"a negative step size does not move the bar backwards", 0, 10, -3, 0, 10, {4, 1}, {4}, 4},
        {"a record with min above max leaves the bar alone",
         0,
         100,
         1,
         10,
         0,
         {1, 1, 1, 50, 1},
         {},
         63},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RecordingView caseView;
        caseView.Open(TEXT("case"), c.viewMin, c.viewMax, c.stepSize, 0);
        {
            TProgress record(TEXT("record"), c.min, c.max, 0);
            for (LONG n : c.dos) {
                record.Do(n);
            }
            EXPECT_EQ(caseView.shown, c.displays);
            EXPECT_EQ(record.AbsoluteAct(), c.finalAct);
            for (std::size_t i = 1; i < caseView.shown.size(); ++i) {
                EXPECT_GT(caseView.shown[i], caseView.shown[i - 1]);
            }
        }
        caseView.Close();
    }
}

TEST_F(ProgressTest, RecordAccessorsAndClosingWithThePendingStep)
{
    RecordingView view;
    view.Open(TEXT("view"), 0, 100, 1, 1);
    TProgress record(TEXT("copy"), 10, 30, 1);
    EXPECT_EQ(Utf8(record.Name()), "copy");
    EXPECT_EQ(record.Min(), 10);
    EXPECT_EQ(record.Max(), 30);
    EXPECT_EQ(record.Size(), 20);
    EXPECT_EQ(record.Abortable(), 1u);
    record.Do(4);
    EXPECT_EQ(record.AbsoluteAct(), 10);
    EXPECT_EQ(record.AbsoluteNext(), 14);
    EXPECT_EQ(record.RelativeAct(), 0);
    EXPECT_EQ(record.RelativeNext(), 4);
    EXPECT_TRUE(view.shown.empty());
    // Closing adds the pending step: 4 of 20 is the bar's 20.
    record.Close();
    EXPECT_EQ(record.AbsoluteAct(), 14);
    EXPECT_EQ(view.shown, std::vector<LONG>{20});
    EXPECT_EQ(view.OpenRecords(), 0);

    TProgress standard;
    EXPECT_EQ(standard.Min(), 0);
    EXPECT_EQ(standard.Max(), 100);
    EXPECT_EQ(standard.Abortable(), 1u);
}

TEST_F(ProgressTest, InnerRecordMovesTheBarWithinTheOuterStep)
{
    RecordingView view;
    view.Open(TEXT("view"), 0, 100, 1, 0);
    TProgress outer(TEXT("outer"), 0, 100, 0);
    outer.Do(50);
    {
        TProgress inner(TEXT("inner"), 0, 10, 0);
        EXPECT_EQ(view.OpenRecords(), 2);
        for (int i = 0; i < 11; ++i) {
            inner.Do(1);
        }
        EXPECT_EQ(view.shown, (std::vector<LONG>{5, 10, 15, 20, 25, 30, 35, 40, 45, 50}));
    }
    EXPECT_EQ(view.OpenRecords(), 1);
    outer.Do(10);
    EXPECT_EQ(view.shown.back(), 50); // closing and the next Do move nothing further
    EXPECT_EQ(view.shown.size(), 10u);
    outer.Do(1);
    EXPECT_EQ(view.shown.back(), 60);
}

TEST_F(ProgressTest, InnerRecordIsSilentWhileTheOuterStepCannotReachTheNextPosition)
{
    RecordingView view;
    view.Open(TEXT("view"), 0, 100, 10, 0);
    TProgress outer(TEXT("outer"), 0, 100, 0);
    outer.Do(5); // half of one bar step
    {
        TProgress inner(TEXT("inner"), 0, 10, 0);
        for (int i = 0; i < 20; ++i) {
            inner.Do(1);
        }
    }
    EXPECT_TRUE(view.shown.empty());
    outer.Do(10);
    outer.Do(1);
    EXPECT_EQ(view.shown, std::vector<LONG>{10});
}

TEST(Progress, WithoutAViewRecordsReportToNobody)
{
    TProgressView::Init();
    TProgress record(TEXT("alone"), 5, 105, 0);
    EXPECT_EQ(record.Min(), -2147483647 - 1);
    EXPECT_EQ(record.Max(), 2147483647);
    EXPECT_EQ(record.Size(), 100);
    for (int i = 0; i < 1000; ++i) {
        record.Do(1000);
    }
    record.Close();
    // A view opened later does not adopt the record.
    RecordingView view;
    view.Open(TEXT("late"), 0, 10, 1, 0);
    record.Do(1);
    record.Close();
    EXPECT_TRUE(view.shown.empty());
    EXPECT_EQ(view.OpenRecords(), 0);
    view.Close();
}

TEST(Progress, EachThreadReachesOnlyItsOwnView)
{
    auto work = [](std::vector<LONG>* shown, LONG units) {
        RecordingView view;
        view.Open(TEXT("thread"), 0, 10, 1, 0);
        {
            TProgress record(TEXT("work"), 0, units, 0);
            for (LONG i = 0; i <= units; ++i) {
                record.Do(1);
            }
        }
        view.Close();
        *shown = view.shown;
    };
    std::vector<LONG> first, second;
    std::thread a(work, &first, 10);
    std::thread b(work, &second, 5);
    a.join();
    b.join();
    EXPECT_EQ(first, (std::vector<LONG>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(second, (std::vector<LONG>{2, 4, 6, 8, 10}));
}

TEST_F(ProgressTest, ClosingTwiceOrOutOfOrderTakesNoOtherRecord)
{
    RecordingView view;
    view.Open(TEXT("view"), 0, 100, 1, 0);
    TProgress outer(TEXT("outer"), 0, 100, 0);
    {
        TProgress inner(TEXT("inner"), 0, 100, 0);
        inner.Close();
        EXPECT_EQ(view.OpenRecords(), 1);
    } // the destructor closes again: outer stays listed
    EXPECT_EQ(view.OpenRecords(), 1);
    EXPECT_EQ(view.Innermost(), &outer);

    auto* middle = new TProgress(TEXT("middle"), 0, 10, 0);
    TProgress innermost(TEXT("innermost"), 0, 10, 0);
    middle->Close(); // not the innermost: only it leaves
    EXPECT_EQ(view.OpenRecords(), 2);
    EXPECT_EQ(view.Innermost(), &innermost);
    delete middle;
    EXPECT_EQ(view.OpenRecords(), 2);
}

TEST_F(ProgressTest, CopiesOpenNowhereAndCopiedViewsStartEmpty)
{
    RecordingView view;
    view.Open(TEXT("view"), 0, 100, 1, 0);
    TProgress record(TEXT("record"), 0, 100, 0);
    record.Do(30);
    {
        TProgress copy(record);
        EXPECT_EQ(copy.AbsoluteNext(), 30);
        EXPECT_EQ(view.OpenRecords(), 1);
        copy.Do(1);
        copy.Close();
        EXPECT_TRUE(view.shown.empty()); // a copy tells no view
    }
    EXPECT_EQ(view.OpenRecords(), 1);
    EXPECT_EQ(view.Innermost(), &record);
    {
        RecordingView copiedView(view);
        EXPECT_EQ(copiedView.OpenRecords(), 0);
    } // destroying the copy neither deletes the records nor unregisters the view
    EXPECT_EQ(view.OpenRecords(), 1);
    record.Do(1);
    EXPECT_EQ(view.shown, std::vector<LONG>{30});
}

TEST(Progress, DestroyedViewDeletesTheRecordsStillInItsList)
{
    struct Counted : TProgress
    {
        Counted(int* deleted) : TProgress(TEXT("counted"), 0, 10, 0), m_Deleted(deleted) {}
        ~Counted() override { ++*m_Deleted; }
        int* m_Deleted;
    };
    int deleted = 0;
    {
        RecordingView view;
        view.Open(TEXT("view"), 0, 10, 1, 0);
        new Counted(&deleted);
        new Counted(&deleted);
    }
    EXPECT_EQ(deleted, 2);
    // The view was closed first, so a record opened now reports to nobody.
    TProgress after(TEXT("after"), 0, 10, 0);
    EXPECT_EQ(after.Min(), -2147483647 - 1);
}

// ---------------------------------------------------------------------------
// The terminal view
// ---------------------------------------------------------------------------
namespace {

std::string ReadAvailable(int fd)
{
    std::string text;
    char buffer[4096];
    for (;;) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(fd, &set);
        timeval wait = {0, 200000};
        if (::select(fd + 1, &set, nullptr, nullptr, &wait) <= 0) {
            break;
        }
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got <= 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
    return text;
}

// Runs 0..100 in steps of 25 through a terminal view on `stream`.
void RunQuarters(TTerminalProgressView& view)
{
    view.Open(TEXT("copy"), 0, 100, 25, 1);
    {
        TProgress record(TEXT("bytes"), 0, 1000, 1);
        for (int i = 0; i < 4; ++i) {
            record.Do(250);
        }
    }
    view.Close();
}

} // namespace

TEST(TerminalProgress, RedrawsOneLineOnATerminal)
{
    int master = -1, slave = -1;
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    FILE* stream = ::fdopen(slave, "w");
    ASSERT_NE(stream, nullptr);
    {
        TTerminalProgressView view(stream);
        EXPECT_TRUE(view.DrawsInPlace());
        RunQuarters(view);
    }
    const std::string drawn = ReadAvailable(master);
    std::fclose(stream);
    ::close(master);
    // Three redraws of one line (25, 50, 75), then the full bar and a line end.
    EXPECT_NE(drawn.find("\rcopy [#######.......................]  25% "), std::string::npos)
        << drawn;
    EXPECT_NE(drawn.find("\rcopy [###############...............]  50% "), std::string::npos);
    EXPECT_NE(drawn.find("\rcopy [##############################] 100% "), std::string::npos);
    EXPECT_NE(drawn.find("\x1b[K"), std::string::npos);
    // Four redraws; the terminal turns the one line end into CR LF.
    EXPECT_EQ(std::count(drawn.begin(), drawn.end(), '\r') -
                  std::count(drawn.begin(), drawn.end(), '\n'),
              4)
        << drawn;
    EXPECT_NE(drawn.find(" left"), std::string::npos);
}

TEST(TerminalProgress, WritesPlainLinesElsewhere)
{
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    FILE* stream = ::fdopen(fds[1], "w");
    ASSERT_NE(stream, nullptr);
    {
        TTerminalProgressView view(stream);
        EXPECT_FALSE(view.DrawsInPlace());
        RunQuarters(view);
    }
    std::fclose(stream);
    const std::string lines = ReadAvailable(fds[0]);
    ::close(fds[0]);
    EXPECT_EQ(lines.find('\r'), std::string::npos) << lines;
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 4) << lines;
    EXPECT_EQ(lines.rfind("copy: 25% (", 0), 0u) << lines;
    EXPECT_NE(lines.find("\ncopy: 100% ("), std::string::npos) << lines;
}

TEST(TerminalProgress, CtrlCCancelsWithoutEndingTheProcess)
{
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    FILE* stream = ::fdopen(fds[1], "w");
    {
        TTerminalProgressView view(stream);
        view.Open(TEXT("cancel me"), 0, 100, 1, 1);
        EXPECT_EQ(view.IsCanceld(), 0u);
        ::raise(SIGINT);
        // The console thread delivers the event; give it time on a loaded machine.
        for (int i = 0; i < 500 && !view.IsCanceld(); ++i) {
            ::Sleep(10);
        }
        EXPECT_EQ(view.IsCanceld(), 1u);
        view.Close();
        // Opened again, the view starts uncancelled.
        view.Open(TEXT("again"), 0, 100, 1, 1);
        EXPECT_EQ(view.IsCanceld(), 0u);
        view.Close();
    }
    std::fclose(stream);
    ::close(fds[0]);
}

TEST(TerminalProgress, ZtoolsDemoRunsTheNestedJob)
{
    const std::string ztools = testsupport::HelperPath("ztools");
    if (::access(ztools.c_str(), X_OK) != 0) {
        GTEST_SKIP() << "ztools is not built";
    }
    const testsupport::ChildResult result =
        testsupport::RunChild({ztools, "progress", "demo", "--delay", "0"});
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_NE(result.output.find("finished"), std::string::npos) << result.output;
}

TEST(TerminalProgress, ZtoolsQueueShowsPlainProgressLinesWhenAsked)
{
    const std::string ztools = testsupport::HelperPath("ztools");
    if (::access(ztools.c_str(), X_OK) != 0) {
        GTEST_SKIP() << "ztools is not built";
    }
    // Standard error is a pipe here: lines only with --progress.
    const testsupport::ChildResult quiet =
        testsupport::RunChildWithStdout({ztools, "queue", "--messages", "1000"}, "/dev/null");
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.output, "");
    const testsupport::ChildResult shown = testsupport::RunChildWithStdout(
        {ztools, "queue", "--messages", "1000", "--progress"}, "/dev/null");
    EXPECT_EQ(shown.status, 0);
    EXPECT_EQ(shown.output.find('\r'), std::string::npos) << shown.output;
    EXPECT_NE(shown.output.find("queue: 1% ("), std::string::npos) << shown.output;
    EXPECT_NE(shown.output.find("\nqueue: 100% ("), std::string::npos) << shown.output;
}

TEST(TerminalProgress, ZtoolsCopyShowsProgressAndCopiesEverything)
{
    const std::string ztools = testsupport::HelperPath("ztools");
    if (::access(ztools.c_str(), X_OK) != 0) {
        GTEST_SKIP() << "ztools is not built";
    }
    const std::string from = testsupport::TempPath("progress-source.bin");
    const std::string to = testsupport::TempPath("progress-target.bin");
    {
        FILE* file = std::fopen(from.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        for (int i = 0; i < 300000; ++i) {
            std::fputc(i * 7 % 251, file);
        }
        std::fclose(file);
    }
    const testsupport::ChildResult result = testsupport::RunChildWithStdout(
        {ztools, "buffers", "copy", from, to, "--progress"}, "/dev/null");
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_NE(result.output.find("copy: 100% ("), std::string::npos) << result.output;
    FILE* copy = std::fopen(to.c_str(), "rb");
    ASSERT_NE(copy, nullptr);
    int i = 0;
    for (int c; (c = std::fgetc(copy)) != EOF; ++i) {
        ASSERT_EQ(c, i * 7 % 251) << "at " << i;
    }
    std::fclose(copy);
    EXPECT_EQ(i, 300000);
}
