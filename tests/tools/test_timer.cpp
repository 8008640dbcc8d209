// The stop-watch timer, time-sliced work, the raw system clock and the console
// control handler.
#include "testsupport.h"

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

using ZANTH::ZCMetaTimeAndDate;

// ---------------------------------------------------------------------------
// TTimer
// ---------------------------------------------------------------------------

TEST(Timer, NewTimerReadsZero)
{
    TTimer timer;
    EXPECT_EQ(timer.Time(), 0u);
    timer.Reset();
    EXPECT_EQ(timer.Time(), 0u);
}

TEST(Timer, StartStopPairsAddUp)
{
    TTimer timer;
    timer.Start();
    ::Sleep(100);
    timer.Stop();
    const DWORD first = timer.Time();
    EXPECT_GE(first, 100u);
    ::Sleep(30); // stopped: not counted
    EXPECT_EQ(timer.Time(), first);
    timer.Start();
    ::Sleep(50);
    timer.Stop();
    EXPECT_GE(timer.Time(), 150u);
    EXPECT_LT(timer.Time(), 150u + 2000u); // wide: a loaded machine may stall the test
    timer.Reset();
    EXPECT_EQ(timer.Time(), 0u);
}

// A stopped watch does not count: Stop on a watch that is not running adds
// nothing (it used to add the machine's uptime, or the time since the last Start).
TEST(Timer, StopOnAStoppedWatchAddsNothing)
{
    TTimer fresh;
    fresh.Stop();
    EXPECT_EQ(fresh.Time(), 0u);

    TTimer twice;
    twice.Start();
    ::Sleep(50);
    twice.Stop();
    const DWORD once = twice.Time();
    ::Sleep(60);
    twice.Stop();
    EXPECT_EQ(twice.Time(), once);

    TTimer reset;
    reset.Start();
    ::Sleep(30);
    reset.Reset();
    reset.Stop();
    EXPECT_EQ(reset.Time(), 0u);
    ::Sleep(10);
    EXPECT_EQ(reset.Time(), 0u); // Reset left it stopped
}

TEST(Timer, TimeReadsWhileRunning)
{
    TTimer timer;
    timer.Start();
    ::Sleep(20);
    const DWORD a = timer.Time();
    ::Sleep(20);
    const DWORD b = timer.Time();
    EXPECT_GE(a, 20u);
    EXPECT_GE(b, a + 20);
}

TEST(Timer, AlarmRingsWhenDue)
{
    TTimer timer;
    timer.Alarm(0);
    EXPECT_EQ(timer.Ringing(), 1u);
    timer.Alarm(60000);
    EXPECT_EQ(timer.Ringing(), 0u);
    timer.Alarm(10);
    ::Sleep(15);
    EXPECT_EQ(timer.Ringing(), 1u);
}

TEST(Timer, CopyTakesTheWholeState)
{
    TTimer original;
    original.Start();
    ::Sleep(10);
    original.Stop();
    original.Alarm(60000);
    TTimer copy;
    copy = original;
    EXPECT_EQ(copy.Time(), original.Time());
    EXPECT_EQ(copy.Ringing(), 0u);
    TTimer constructed(original);
    EXPECT_EQ(constructed.Time(), original.Time());
}

// ---------------------------------------------------------------------------
// TThreadFunc
// ---------------------------------------------------------------------------
namespace {

// Work of a fixed number of parts; counts its deletions.
class CountedWork : public TThreadFunc
{
public:
    CountedWork(LONG parts, std::atomic<int>* deleted, LONG partSize = 4)
        : TThreadFunc(partSize), m_Left(parts), m_Deleted(deleted)
    {}

    std::vector<LONG> calls; // the `parts` argument of each DoWork
    enum class Fail
    {
        No,
        Library,
        Foreign,
        EndThread // ends the calling thread with exit code 9
    } fail = Fail::No;
    bool reportRemaining = true; // else 1 while work remains

protected:
    ~CountedWork() override { ++*m_Deleted; }

    LONG DoWork(LONG parts) override
    {
        calls.push_back(parts);
        if (fail == Fail::Library) {
            ThrowNewError(0, 0, TString(TEXT("work failed")), TString::NullString,
                          TString::NullString, nullptr);
        }
        if (fail == Fail::Foreign) {
            throw std::runtime_error("foreign failure");
        }
        if (fail == Fail::EndThread) {
            ::ExitThread(9);
        }
        m_Left -= parts;
        if (m_Left < 0) {
            m_Left = 0;
        }
        return reportRemaining ? m_Left : (m_Left > 0 ? 1 : 0);
    }

private:
    LONG m_Left;
    std::atomic<int>* m_Deleted;
};

} // namespace

TEST(ThreadFunc, TimeDefaults)
{
    TThreadFunc::TTime standard;
    EXPECT_EQ(standard.MinMilliSec(), 50);
    EXPECT_EQ(standard.PartCount(), 0);
    TThreadFunc::TTime custom(20);
    EXPECT_EQ(custom.MinMilliSec(), 20);
    custom.PartCount(9);
    standard = custom;
    EXPECT_EQ(standard.MinMilliSec(), 20);
    EXPECT_EQ(standard.PartCount(), 9);
}

TEST(ThreadFunc, LivesUntilBothOwnerAndWorkHaveLetGo)
{
    // Owner first: the object lives on until the work reports the end.
    std::atomic<int> deleted{0};
    auto* work = new CountedWork(3, &deleted, 17);
    EXPECT_EQ(work->PartSize(), 17);
    TThreadFunc::ThreadDelete(work);
    EXPECT_EQ(deleted.load(), 0);
    EXPECT_EQ(work->ThreadDoParts(1), 2);
    EXPECT_EQ(deleted.load(), 0);
    EXPECT_EQ(work->ThreadDoParts(5), 0);
    EXPECT_EQ(deleted.load(), 1);

    // Work first: the owner's ThreadDelete deletes it.
    auto* second = new CountedWork(2, &deleted);
    second->ThreadDo();
    EXPECT_EQ(second->calls, std::vector<LONG>{10000});
    EXPECT_EQ(deleted.load(), 1);
    TThreadFunc::ThreadDelete(second);
    EXPECT_EQ(deleted.load(), 2);

    TThreadFunc::ThreadDelete(nullptr); // ignored
}

TEST(ThreadFunc, TimeSlicingMeasuresThenUsesThePartCount)
{
    std::atomic<int> deleted{0};
    auto* work = new CountedWork(1000000000, &deleted);
    work->reportRemaining = false;
    TThreadFunc::TTime time(20);
    TTimer timer;
    timer.Start();
    const LONG sum = work->ThreadDoTime(time);
    timer.Stop();
    EXPECT_GE(timer.Time(), 20u);
    const LONG measured = time.PartCount();
    ASSERT_GT(measured, 0);
    EXPECT_EQ(work->calls.size(), static_cast<std::size_t>(measured));
    for (LONG parts : work->calls) {
        EXPECT_EQ(parts, 1);
    }
    EXPECT_EQ(sum, measured); // each call answered 1

    // The next call does the measured number of parts in one DoWork.
    work->calls.clear();
    EXPECT_GT(work->ThreadDoTime(time), 0);
    EXPECT_EQ(work->calls, std::vector<LONG>{measured});
    EXPECT_EQ(time.PartCount(), measured);
    TThreadFunc::ThreadDelete(work);
    EXPECT_EQ(deleted.load(), 0);
    EXPECT_EQ(work->ThreadDoParts(2000000000), 0); // the rest at once: the work ends
    EXPECT_EQ(deleted.load(), 1);
}

TEST(ThreadFunc, EndOfTimeSlicedWorkClearsThePartCount)
{
    std::atomic<int> deleted{0};
    // Measuring: the work ends after three parts, well inside the slice.
    auto* work = new CountedWork(3, &deleted);
    TThreadFunc::TTime time(10000);
    EXPECT_EQ(work->ThreadDoTime(time), 0); // finished, whatever the calls added up to
    EXPECT_EQ(work->calls, (std::vector<LONG>{1, 1, 1}));
    EXPECT_EQ(time.PartCount(), 0);
    EXPECT_EQ(deleted.load(), 0);
    TThreadFunc::ThreadDelete(work);
    EXPECT_EQ(deleted.load(), 1);

    // Measured: the work ends inside one DoWork(PartCount).
    auto* measured = new CountedWork(5, &deleted);
    TThreadFunc::TTime known;
    known.PartCount(100);
    TThreadFunc::ThreadDelete(measured);
    EXPECT_EQ(measured->ThreadDoTime(known), 0);
    EXPECT_EQ(known.PartCount(), 0);
    EXPECT_EQ(deleted.load(), 2);
}

// The natural loop over time-sliced work while the owner holds on: the work ends
// during a measuring call, which must then report 0, and calls on finished work
// must neither do work nor give up the work's reference a second time (that
// deleted the object under its owner).
TEST(ThreadFunc, NaturalTimeSlicedLoopEndsOnceAndReleasesOnce)
{
    for (LONG parts : {1, 5, 50}) {
        SCOPED_TRACE(parts);
        std::atomic<int> deleted{0};
        auto* work = new CountedWork(parts, &deleted);
        TThreadFunc::TTime time(5000);
        int rounds = 0;
        while (work->ThreadDoTime(time)) {
            ++rounds;
        }
        EXPECT_EQ(rounds, 0); // all parts fit into the first slice
        EXPECT_EQ(work->calls.size(), static_cast<std::size_t>(parts));
        EXPECT_EQ(deleted.load(), 0); // the owner still holds it
        EXPECT_EQ(work->ThreadDoTime(time), 0);
        EXPECT_EQ(work->ThreadDoParts(3), 0);
        EXPECT_EQ(work->calls.size(), static_cast<std::size_t>(parts)); // nothing called
        EXPECT_EQ(deleted.load(), 0);
        TThreadFunc::ThreadDelete(work);
        EXPECT_EQ(deleted.load(), 1);
    }

    // Measured slices: the loop runs until DoWork(PartCount) reports the end.
    std::atomic<int> deleted{0};
    auto* work = new CountedWork(10, &deleted);
    TThreadFunc::TTime time;
    time.PartCount(3);
    int rounds = 0;
    while (work->ThreadDoTime(time)) {
        ++rounds;
    }
    EXPECT_EQ(rounds, 3); // 7, 4, 1 left, then 0
    EXPECT_EQ(work->ThreadDoTime(time), 0);
    EXPECT_EQ(deleted.load(), 0);
    TThreadFunc::ThreadDelete(work);
    EXPECT_EQ(deleted.load(), 1);
}

TEST(ThreadFunc, LibraryErrorsPassOnAfterTheRelease)
{
    for (bool timed : {false, true}) {
        SCOPED_TRACE(timed);
        std::atomic<int> deleted{0};
        auto* work = new CountedWork(5, &deleted);
        work->fail = CountedWork::Fail::Library;
        TThreadFunc::ThreadDelete(work); // the owner has let go already
        TThreadFunc::TTime time;
        auto caught = testsupport::CatchError([&] {
            if (timed) {
                work->ThreadDoTime(time);
            } else {
                work->ThreadDoParts(1);
            }
        });
        EXPECT_TRUE(caught.raised);
        EXPECT_NE(caught.text.find("work failed"), std::string::npos);
        EXPECT_EQ(deleted.load(), 1);
        EXPECT_EQ(GetPendingCount(), 0);
    }
}

TEST(ThreadFunc, WorkMayEndItsOwnThread)
{
    for (bool timed : {false, true}) {
        SCOPED_TRACE(timed);
        std::atomic<int> deleted{0};
        auto* work = new CountedWork(5, &deleted);
        work->fail = CountedWork::Fail::EndThread;
        const DWORD code = testsupport::ExitCodeOfThread([&] {
            TThreadFunc::TTime time;
            time.PartCount(1);
            return static_cast<DWORD>(timed ? work->ThreadDoTime(time) : work->ThreadDoParts(1));
        });
        EXPECT_EQ(code, 9u);
        // Cut short, the work still holds its reference: finishing it lets it go.
        EXPECT_EQ(deleted.load(), 0);
        work->fail = CountedWork::Fail::No;
        TThreadFunc::ThreadDelete(work);
        EXPECT_EQ(work->ThreadDoParts(100), 0);
        EXPECT_EQ(deleted.load(), 1);
    }
}

TEST(ThreadFunc, ForeignErrorsAreReportedAndEndTheWork)
{
    for (bool timed : {false, true}) {
        SCOPED_TRACE(timed);
        testsupport::LogCapture log;
        std::atomic<int> deleted{0};
        auto* work = new CountedWork(5, &deleted);
        work->fail = CountedWork::Fail::Foreign;
        TThreadFunc::TTime time;
        time.PartCount(3);
        EXPECT_EQ(timed ? work->ThreadDoTime(time) : work->ThreadDoParts(1), 0);
        EXPECT_EQ(deleted.load(), 0); // the owner still holds it
        if (timed) {
            EXPECT_EQ(time.PartCount(), 0);
        }
        bool reported = false;
        for (const auto& line : log.Lines()) {
            reported |= line.text.find("foreign failure") != std::string::npos;
        }
        EXPECT_TRUE(reported);
        TThreadFunc::ThreadDelete(work);
        EXPECT_EQ(deleted.load(), 1);
    }
}

TEST(ThreadFunc, OwnerAndWorkMayLetGoOnDifferentThreads)
{
    // The reference count is atomic: whichever thread lets go last deletes, and
    // the object is deleted exactly once.
    std::atomic<int> deleted{0};
    constexpr int kRounds = 2000;
    for (int i = 0; i < kRounds; ++i) {
        auto* work = new CountedWork(1, &deleted);
        std::thread owner([work] { TThreadFunc::ThreadDelete(work); });
        work->ThreadDoParts(1);
        owner.join();
    }
    EXPECT_EQ(deleted.load(), kRounds);
}

// ---------------------------------------------------------------------------
// ZCMetaTimeAndDate
// ---------------------------------------------------------------------------

TEST(MetaTimeAndDate, RawClockIsFileTimeOfNow)
{
    using namespace std::chrono;
    constexpr long long kUnixEpochAsFileTime = 116444736000000000LL;
    const long long before =
        duration_cast<microseconds>(system_clock::now().time_since_epoch()).count() * 10 +
        kUnixEpochAsFileTime;
    const LONGLONG raw = ZCMetaTimeAndDate::GetCurrent();
    const long long after =
        duration_cast<microseconds>(system_clock::now().time_since_epoch()).count() * 10 +
        kUnixEpochAsFileTime;
    EXPECT_GE(raw, before - 10);
    EXPECT_LE(raw, after + 10);
}

TEST(MetaTimeAndDate, SystemTimeIsTheSameInstantInUtc)
{
    const LONGLONG before = ZCMetaTimeAndDate::GetCurrent();
    const SYSTEMTIME now = ZCMetaTimeAndDate::GetSystemTime();
    const LONGLONG after = ZCMetaTimeAndDate::GetCurrent();
    FILETIME back;
    ASSERT_TRUE(::SystemTimeToFileTime(&now, &back));
    const LONGLONG value = static_cast<LONGLONG>(
        (static_cast<ULONGLONG>(back.dwHighDateTime) << 32) | back.dwLowDateTime);
    // SYSTEMTIME keeps milliseconds: the value lies within a millisecond below.
    EXPECT_GE(value, before - 10000);
    EXPECT_LE(value, after);
    EXPECT_GE(now.wYear, 2024);
    ZCMetaTimeAndDate a;
    ZCMetaTimeAndDate b;
    a = b; // copy assignment exists
}

// ---------------------------------------------------------------------------
// ConsoleControlHandler
// ---------------------------------------------------------------------------

TEST(ConsoleControlHandler, NamesTheSignalLogsAndSetsTheStopEvent)
{
    struct Case
    {
        DWORD type;
        const char* name;
    };
    const Case cases[] = {{0, "CTRL_C_EVENT"},      {1, "CTRL_BREAK_EVENT"},    {2, "2"},
                          {5, "CTRL_LOGOFF_EVENT"}, {6, "CTRL_SHUTDOWN_EVENT"}, {77, "77"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_theControlHandlerStopEvent.Reset();
        testsupport::LogCapture log;
        EXPECT_EQ(ConsoleControlHandler(c.type), 1);
        EXPECT_TRUE(log.Contains(
            std::string("ConsoleControlHandler(): End of console requested (") + c.name + ")", 3));
        EXPECT_TRUE(g_theControlHandlerStopEvent.IsSet());
    }
    g_theControlHandlerStopEvent.Reset();
}

TEST(ConsoleControlHandler, StopEventIsNamedAfterProcessAndComputer)
{
    WCHAR computer[250] = {};
    DWORD size = 250;
    ASSERT_TRUE(::GetComputerNameW(computer, &size));
    const TString name = TString::Formatted(TEXT("%d_%s_CONTROL_HANDLER_EVENT"),
                                            static_cast<int>(::GetCurrentProcessId()), computer);
    ZANTH::ZCEvent same(1, 0, name);
    g_theControlHandlerStopEvent.Reset();
    EXPECT_FALSE(same.IsSet());
    g_theControlHandlerStopEvent.Set();
    EXPECT_TRUE(same.IsSet());
    g_theControlHandlerStopEvent.Reset();
}

TEST(ConsoleControlHandler, SigintReachesTheInstalledHandler)
{
    // In a child process: it installs ConsoleControlHandler, raises SIGINT and
    // waits for the stop event.
    const auto result = testsupport::RunChild({testsupport::HelperPath("console_stop_event")});
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_NE(
        result.output.find("ConsoleControlHandler(): End of console requested (CTRL_C_EVENT)"),
        std::string::npos)
        << result.output;
    EXPECT_NE(result.output.find("log 3 ConsoleControlHandler(): End of console requested "
                                 "(CTRL_C_EVENT)"),
              std::string::npos)
        << result.output;
    EXPECT_NE(result.output.find("stop event set"), std::string::npos) << result.output;
}
