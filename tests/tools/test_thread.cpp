// Multi-wait events (ZCMultiMessage) and the thread framework (ZCThread).
#include "testsupport.h"

#include <pthread.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using ZANTH::ZCEvent;
using ZANTH::ZCInfo;
using ZANTH::ZCMultiMessage;
using ZANTH::ZCThread;
using ZANTH::ZCThreadBase;
using ZANTH::ZCThreadInterface;

namespace {

std::string Utf8(const WCHAR* text)
{
    return TString(text).AsAnsi();
}

WORD MsgThread()
{
    return FindCatalog(TEXT("MsgThread"));
}

// Eight auto-reset or manual-reset events for the multi-waits.
struct EightEvents
{
    std::vector<std::unique_ptr<ZCMultiMessage>> events;
    explicit EightEvents(UINT manualReset = 1)
    {
        for (int i = 0; i < 8; ++i) {
            events.push_back(std::make_unique<ZCMultiMessage>(manualReset, 0, nullptr));
        }
    }
    const ZCEvent* operator[](int i) const { return events[i].get(); }
    ZCMultiMessage& at(int i) { return *events[i]; }
};

// Calls the WaitAny/WaitAll overload for the first n events.
int WaitAnyOf(const EightEvents& e, int n, DWORD timeout)
{
    switch (n) {
    case 2:
        return ZCMultiMessage::WaitAny(e[0], e[1], timeout);
    case 3:
        return ZCMultiMessage::WaitAny(e[0], e[1], e[2], timeout);
    case 4:
        return ZCMultiMessage::WaitAny(e[0], e[1], e[2], e[3], timeout);
    case 5:
        return ZCMultiMessage::WaitAny(e[0], e[1], e[2], e[3], e[4], timeout);
    case 6:
        return ZCMultiMessage::WaitAny(e[0], e[1], e[2], e[3], e[4], e[5], timeout);
    case 7:
        return ZCMultiMessage::WaitAny(e[0], e[1], e[2], e[3], e[4], e[5], e[6], timeout);
    default:
        return ZCMultiMessage::WaitAny(e[0], e[1], e[2], e[3], e[4], e[5], e[6], e[7], timeout);
    }
}

UINT WaitAllOf(const EightEvents& e, int n, DWORD timeout)
{
    switch (n) {
    case 2:
        return ZCMultiMessage::WaitAll(e[0], e[1], timeout);
    case 3:
        return ZCMultiMessage::WaitAll(e[0], e[1], e[2], timeout);
    case 4:
        return ZCMultiMessage::WaitAll(e[0], e[1], e[2], e[3], timeout);
    case 5:
        return ZCMultiMessage::WaitAll(e[0], e[1], e[2], e[3], e[4], timeout);
    case 6:
        return ZCMultiMessage::WaitAll(e[0], e[1], e[2], e[3], e[4], e[5], timeout);
    case 7:
        return ZCMultiMessage::WaitAll(e[0], e[1], e[2], e[3], e[4], e[5], e[6], timeout);
    default:
        return ZCMultiMessage::WaitAll(e[0], e[1], e[2], e[3], e[4], e[5], e[6], e[7], timeout);
    }
}

} // namespace

// ---------------------------------------------------------------------------
// ZCMultiMessage
// ---------------------------------------------------------------------------

TEST(MultiMessage, DefaultIsUnnamedManualResetAndNotSet)
{
    ZCMultiMessage event;
    EXPECT_FALSE(event.IsAutoReset());
    EXPECT_FALSE(event.IsSet());
    event.Set();
    EXPECT_TRUE(event.IsSet());
    EXPECT_TRUE(event.IsSet()); // manual reset: stays set
    const ZCEvent* asEvent = event;
    EXPECT_EQ(asEvent, static_cast<const ZCEvent*>(&event));

    ZCMultiMessage automatic(0, 1, nullptr);
    EXPECT_TRUE(automatic.IsAutoReset());
    EXPECT_TRUE(automatic.IsSet());
    EXPECT_FALSE(automatic.IsSet()); // taken by the first test
}

TEST(MultiMessage, SameNameSharesOneSystemEvent)
{
    ZCMultiMessage first(1, 0, TEXT("zanth-test-shared-event"));
    ZCMultiMessage second(0, 1, TEXT("zanth-test-shared-event")); // opened: mode and state stay
    EXPECT_FALSE(second.IsSet());
    std::thread waiter([&] { EXPECT_TRUE(second.Wait(10000)); });
    first.Set();
    waiter.join();
    EXPECT_TRUE(first.IsSet()); // still manual reset
}

TEST(MultiMessage, WaitAnyReturnsTheLowestSignalledPosition)
{
    for (int n = 2; n <= 8; ++n) {
        SCOPED_TRACE(n);
        EightEvents e;
        EXPECT_EQ(WaitAnyOf(e, n, 0), 0); // none set: 0 at once
        e.at(n - 1).Set();
        EXPECT_EQ(WaitAnyOf(e, n, 0), n); // only the last
        e.at(1).Set();
        EXPECT_EQ(WaitAnyOf(e, n, 0), 2);
        e.at(0).Set();
        EXPECT_EQ(WaitAnyOf(e, n, INFINITE), 1); // the lowest wins
    }
}

TEST(MultiMessage, WaitAllNeedsEveryEvent)
{
    for (int n = 2; n <= 8; ++n) {
        SCOPED_TRACE(n);
        EightEvents e;
        for (int i = 0; i < n - 1; ++i) {
            e.at(i).Set();
        }
        EXPECT_EQ(WaitAllOf(e, n, 0), 0u); // one unset
        e.at(n - 1).Set();
        EXPECT_NE(WaitAllOf(e, n, 0), 0u);
    }
}

TEST(MultiMessage, WaitAllTakesAutoResetEventsTogether)
{
    EightEvents e(0);
    e.at(0).Set();
    EXPECT_EQ(ZCMultiMessage::WaitAll(e[0], e[1], 0), 0u);
    EXPECT_TRUE(e.at(0).IsSet()); // a failed wait-all takes nothing
    e.at(0).Set();
    e.at(1).Set();
    EXPECT_NE(ZCMultiMessage::WaitAll(e[0], e[1], 0), 0u);
    EXPECT_FALSE(e.at(0).IsSet());
    EXPECT_FALSE(e.at(1).IsSet());
}

TEST(MultiMessage, SingleEventWaitAllIsTheEventsWait)
{
    ZCMultiMessage event;
    EXPECT_EQ(ZCMultiMessage::WaitAll(&event, 0), 0u);
    event.Set();
    EXPECT_EQ(ZCMultiMessage::WaitAll(&event, 0), 1u);
}

TEST(MultiMessage, WaitAnyWakesWhenAnotherThreadSets)
{
    EightEvents e(0);
    std::thread setter([&] {
        ::Sleep(20);
        e.at(7).Set();
    });
    EXPECT_EQ(WaitAnyOf(e, 8, 10000), 8);
    setter.join();
    EXPECT_FALSE(e.at(7).IsSet()); // auto reset: taken by the wait
}

TEST(MultiMessage, SmartPointersDeleteThroughTheVirtualDestructor)
{
    const DWORD before = ZanthOpenHandleCount();
    {
        TSmartPtr<ZCEvent> event(new ZCMultiMessage(1, 0, nullptr));
        TSmartPtr<ZCThread> thread(new ZCThread);
        EXPECT_GT(ZanthOpenHandleCount(), before);
    }
    EXPECT_EQ(ZanthOpenHandleCount(), before);
}

// ---------------------------------------------------------------------------
// ZCThread
// ---------------------------------------------------------------------------
namespace {

DWORD ReturnSeven(ZCThreadBase*, void*)
{
    return 7;
}

DWORD WaitForStop(ZCThreadBase* thread, void* parameter)
{
    auto* loops = static_cast<std::atomic<int>*>(parameter);
    while (!thread->WaitUntilStopRequested(5)) {
        if (loops) {
            ++*loops;
        }
    }
    return 3;
}

DWORD ThrowLibraryError(ZCThreadBase*, void*)
{
    ThrowNewError(MsgThread(), 4, TString(TEXT("one")), TString(TEXT("two")),
                  TString(TEXT("three")), nullptr);
}

DWORD ThrowForeign(ZCThreadBase*, void*)
{
    throw std::runtime_error("not the library's");
}

DWORD EndOwnThread(ZCThreadBase*, void*)
{
    _endthread();
}

// Makes every new thread's default stack so large that it cannot be mapped, so
// that thread creation fails with EAGAIN, and restores the default afterwards.
class NoMoreThreads
{
public:
    NoMoreThreads()
    {
        pthread_getattr_default_np(&m_Saved);
        pthread_attr_t huge;
        pthread_attr_init(&huge);
        pthread_attr_setstacksize(&huge, std::size_t(1) << 50);
        m_Applied = pthread_setattr_default_np(&huge) == 0;
        pthread_attr_destroy(&huge);
    }
    ~NoMoreThreads()
    {
        pthread_setattr_default_np(&m_Saved);
        pthread_attr_destroy(&m_Saved);
    }
    bool Applied() const { return m_Applied; }

private:
    pthread_attr_t m_Saved;
    bool m_Applied = false;
};

} // namespace

TEST(Thread, NewObjectIsNotStarted)
{
    ZCThread thread;
    EXPECT_EQ(thread.GetStatus(), ZCThreadInterface::NotStarted);
    EXPECT_EQ(thread.ExitCode(), 1u); // the constructor runs the reset step
    EXPECT_EQ(thread.WaitUntilStopped(0), 0u);
    EXPECT_EQ(thread.WaitUntilStopped(INFINITE), 0u); // does not wait either
    EXPECT_FALSE(thread.IsStopRequested());
    EXPECT_FALSE(thread.ExceptionInfo().HasError());
    EXPECT_EQ(thread.Flag(), 1u);
    EXPECT_EQ(thread.StartNumber(), 0);
    thread.Reset(); // does nothing, does not wait
    EXPECT_EQ(thread.GetStatus(), ZCThreadInterface::NotStarted);
}

TEST(Thread, NullNameBecomesNonameWithTheAddress)
{
    ZCThread thread;
    char expected[64];
    std::snprintf(expected, sizeof expected, "noname at:0x%08llX",
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(&thread)));
    EXPECT_EQ(Utf8(thread.Name()), expected);
    EXPECT_GE(std::strlen(expected), std::strlen("noname at:0x") + 8);
}

TEST(Thread, LongNamesAreCutAndTerminated)
{
    struct Case
    {
        std::size_t length;
        std::size_t kept;
    };
    for (Case c : {Case{127, 127}, Case{128, 128}, Case{129, 128}, Case{1000, 128}}) {
        SCOPED_TRACE(c.length);
        std::basic_string<WCHAR> name(c.length, TEXT('n'));
        ZCThread thread(1, name.c_str());
        EXPECT_EQ(WStrLen(thread.Name()), c.kept);
        EXPECT_EQ(std::basic_string<WCHAR>(thread.Name()), name.substr(0, c.kept));
    }
}

TEST(Thread, ReturnValueBecomesExitCode)
{
    ZCThread thread(ReturnSeven, nullptr, 1, TEXT("seven"));
    EXPECT_TRUE(thread.WaitUntilStarted(10000));
    EXPECT_EQ(thread.WaitUnitStopped(), 1u);
    EXPECT_EQ(thread.GetStatus(), ZCThreadInterface::Terminated);
    EXPECT_EQ(thread.ExitCode(), 7u);
    EXPECT_FALSE(thread.ExceptionInfo().HasError());
    EXPECT_EQ(Utf8(thread.Name()), "seven");
}

TEST(Thread, LibraryErrorEndsFailedWithTheErrorRecorded)
{
    ZCThread thread(1, TEXT("thrower"), ThrowLibraryError, nullptr);
    ASSERT_TRUE(thread.WaitUntilStopped(10000));
    EXPECT_EQ(thread.GetStatus(), ZCThreadInterface::Failed);
    EXPECT_EQ(thread.ExitCode(), 1u);
    ZCInfo info = thread.ExceptionInfo();
    EXPECT_EQ(info.Catalog(), MsgThread());
    EXPECT_EQ(info.Message(), 4);
    EXPECT_EQ(info.A1(), TString(TEXT("one")));
    EXPECT_EQ(info.A2(), TString(TEXT("two")));
    EXPECT_EQ(info.A3(), TString(TEXT("three")));
    // The caller's own error state is untouched by the worker's error.
    EXPECT_EQ(GetErrorCount(), 0u);
    EXPECT_EQ(GetPendingCount(), 0);
}

TEST(Thread, FunctionEndingItsOwnThreadStillLetsTheOwnerSeeTheEnd)
{
    ZCThread thread(1, TEXT("quitter"), EndOwnThread, nullptr);
    ASSERT_TRUE(thread.WaitUntilStopped(10000));
    EXPECT_EQ(thread.GetStatus(), ZCThreadInterface::Running); // it never returned
    EXPECT_EQ(thread.ExitCode(), 1u);
}

TEST(Thread, ForeignExceptionLeavesRunningAndResetReportsIt)
{
    testsupport::LogCapture log;
    ZCThread thread(1, TEXT("foreign"), ThrowForeign, nullptr);
    ASSERT_TRUE(thread.WaitUntilStopped(10000));
    EXPECT_EQ(thread.GetStatus(), ZCThreadInterface::Running);
    EXPECT_EQ(thread.ExitCode(), 1u);
    bool reported = false;
    for (const auto& line : log.Lines()) {
        reported |= line.text.find("not the library's") != std::string::npos;
    }
    EXPECT_TRUE(reported);

    auto caught = testsupport::CatchError([&] { thread.Reset(); });
    ASSERT_TRUE(caught.raised);
    EXPECT_EQ(caught.catalog, MsgThread());
    EXPECT_EQ(caught.message, 4);
    EXPECT_EQ(caught.entry.a1, TString(TEXT("-2")));
    EXPECT_EQ(thread.GetStatus(), ZCThreadInterface::Running); // nothing was reset

    // A refused second Start shows Starting, but Reset still judges the run itself.
    EXPECT_TRUE(testsupport::CatchError([&] { thread.Start(ReturnSeven, nullptr); }).raised);
    EXPECT_EQ(thread.GetStatus(), ZCThreadInterface::Starting);
    caught = testsupport::CatchError([&] { thread.Reset(); });
    EXPECT_EQ(caught.message, 4);
    EXPECT_EQ(caught.entry.a1, TString(TEXT("-2")));
}

TEST(Thread, SecondStartNeedsAReset)
{
    ZCThread thread(ReturnSeven, nullptr, 1, TEXT("twice"));
    ASSERT_TRUE(thread.WaitUntilStopped(10000));
    const LONG first = thread.StartNumber();
    EXPECT_GT(first, 0);

    auto caught = testsupport::CatchError([&] { thread.Start(ReturnSeven, nullptr); });
    ASSERT_TRUE(caught.raised);
    EXPECT_EQ(caught.catalog, MsgThread());
    EXPECT_EQ(caught.message, 1);
    EXPECT_EQ(thread.GetStatus(), ZCThreadInterface::Starting);
    EXPECT_EQ(thread.StartNumber(), first);

    thread.Reset();
    EXPECT_EQ(thread.GetStatus(), ZCThreadInterface::NotStarted);
    EXPECT_EQ(thread.ExitCode(), 1u);
    EXPECT_FALSE(thread.GetTerminateEvent()->IsSet());
    EXPECT_FALSE(thread.GetStartEvent()->IsSet());
    EXPECT_FALSE(thread.GetStopEvent()->IsSet());

    thread.Start(WaitForStop, nullptr);
    EXPECT_GT(thread.StartNumber(), first);
    EXPECT_TRUE(thread.WaitUntilStarted(10000));
    EXPECT_EQ(thread.GetStatus(), ZCThreadInterface::Running);
    thread.RequestStop();
    EXPECT_TRUE(thread.IsStopRequested());
    EXPECT_EQ(thread.WaitUnitStopped(), 1u);
    EXPECT_EQ(thread.ExitCode(), 3u);
}

TEST(Thread, ResetClearsTheErrorOfTheEarlierRun)
{
    ZCThread thread(1, TEXT("again"), ThrowLibraryError, nullptr);
    ASSERT_TRUE(thread.WaitUntilStopped(10000));
    EXPECT_TRUE(thread.ExceptionInfo().HasError());
    thread.Reset();
    EXPECT_FALSE(thread.ExceptionInfo().HasError());
    thread.Start(ReturnSeven, nullptr);
    ASSERT_TRUE(thread.WaitUntilStopped(10000));
    EXPECT_EQ(thread.GetStatus(), ZCThreadInterface::Terminated);
    EXPECT_FALSE(thread.ExceptionInfo().HasError());
}

TEST(Thread, ConcurrentStartsLetExactlyOneThrough)
{
    for (int round = 0; round < 20; ++round) {
        ZCThread thread(1, TEXT("race"));
        std::atomic<int> refused{0};
        auto start = [&] {
            try {
                thread.Start(ReturnSeven, nullptr);
            } catch (const TException&) {
                DecrementPendingCount();
                ClearError();
                ++refused;
            }
        };
        std::thread a(start);
        std::thread b(start);
        a.join();
        b.join();
        EXPECT_EQ(refused.load(), 1);
        EXPECT_TRUE(thread.WaitUntilStopped(10000));
        EXPECT_EQ(thread.ExitCode(), 7u);
    }
}

TEST(Thread, StartNumbersRiseAcrossObjects)
{
    ZCThread a(ReturnSeven, nullptr, 1, TEXT("a"));
    ZCThread b(ReturnSeven, nullptr, 1, TEXT("b"));
    EXPECT_GT(b.StartNumber(), a.StartNumber());
}

TEST(Thread, DestructionStopsAndWaitsForTheThread)
{
    std::atomic<int> loops{0};
    const DWORD handles = ZanthOpenHandleCount();
    {
        ZCThread thread(WaitForStop, &loops, 1, TEXT("stopper"));
        ASSERT_TRUE(thread.WaitUntilStarted(10000));
    }
    // The thread has ended: its loop count no longer changes.
    const int seen = loops.load();
    ::Sleep(20);
    EXPECT_EQ(loops.load(), seen);
    // Everything the object held is closed (the thread's own handle closes when
    // the thread has ended, which may be a moment after the terminate event; so may
    // the handles of threads that earlier tests ended, hence "at most").
    for (int i = 0; i < 1000 && ZanthOpenHandleCount() > handles; ++i) {
        ::Sleep(5);
    }
    EXPECT_LE(ZanthOpenHandleCount(), handles);
}

TEST(Thread, StopEventWorksInAMultiWait)
{
    ZCMultiMessage work(0, 0, nullptr);
    struct Shared
    {
        ZCMultiMessage* work;
        std::atomic<int> done{0};
    } shared{&work};
    auto body = [](ZCThreadBase* thread, void* parameter) -> DWORD {
        auto* s = static_cast<Shared*>(parameter);
        for (;;) {
            switch (ZCMultiMessage::WaitAny(thread->GetStopEvent(), s->work, INFINITE)) {
            case 1:
                return 0;
            case 2:
                ++s->done;
                break;
            default:
                return 99;
            }
        }
    };
    ZCThread thread(body, &shared, 1, TEXT("worker"));
    for (int i = 0; i < 3; ++i) {
        work.Set();
        while (shared.done.load() != i + 1) {
            ::Sleep(1);
        }
    }
    thread.RequestStop();
    EXPECT_EQ(thread.WaitUnitStopped(), 1u);
    EXPECT_EQ(thread.ExitCode(), 0u);
}

TEST(Thread, RefusedThreadCreationFailsWithEagain)
{
    testsupport::LogCapture log;
    ZCThread thread(1, TEXT("starved"));
    testsupport::CaughtError caught;
    {
        NoMoreThreads limit;
        if (!limit.Applied()) {
            GTEST_SKIP() << "cannot change the default stack size";
        }
        caught = testsupport::CatchError([&] { thread.Start(ReturnSeven, nullptr); });
    }
    ASSERT_TRUE(caught.raised);
    EXPECT_EQ(caught.catalog, MsgThread());
    EXPECT_EQ(caught.message, 2);
    EXPECT_TRUE(log.Contains("starved Start CrtEAGAIN", 1));
    EXPECT_EQ(thread.GetStatus(), ZCThreadInterface::Failed);
    // No thread exists, so nothing waits for one: not the waits, not Reset.
    EXPECT_EQ(thread.WaitUntilStopped(0), 1u);
    thread.Reset();
    EXPECT_EQ(thread.GetStatus(), ZCThreadInterface::NotStarted);
    thread.Start(ReturnSeven, nullptr);
    EXPECT_TRUE(thread.WaitUntilStopped(10000));
    EXPECT_EQ(thread.ExitCode(), 7u);
}

TEST(Thread, NullFunctionIsAnInvalidArgument)
{
    testsupport::LogCapture log;
    ZCThread thread(1, TEXT("nothing"));
    auto caught = testsupport::CatchError([&] { thread.Start(nullptr, nullptr); });
    ASSERT_TRUE(caught.raised);
    EXPECT_EQ(caught.catalog, MsgThread());
    EXPECT_EQ(caught.message, 3);
    EXPECT_TRUE(log.Contains("nothing Start CrtEINVAL", 1));
    EXPECT_EQ(thread.GetStatus(), ZCThreadInterface::Failed);
}

TEST(Thread, MessageTextsExist)
{
    for (WORD message = 1; message <= 4; ++message) {
        EXPECT_TRUE(HasMessageText(MsgThread(), message)) << message;
    }
}

// Thread classes derived with the operations written as their users declare them
// (unsigned long as DWORD, unsigned int as UINT, wide text as WCHAR): a whole
// interface of one's own, and a base with its own way of starting.
namespace {

class DocumentedInterface : public ZCThreadInterface
{
public:
    void Reset() override { stopped = false; }
    void RequestStop() override { stopped = true; }
    TStatus GetStatus() const override { return NotStarted; }
    UINT IsStopRequested() override { return stopped ? 1 : 0; }
    UINT WaitUntilStopRequested(DWORD) override { return IsStopRequested(); }
    ZCEvent* GetTerminateEvent() override { return nullptr; }
    ZCEvent* GetStopEvent() override { return nullptr; }
    UINT WaitUntilStopped(DWORD) override { return 0; }
    ZCEvent* GetStartEvent() override { return nullptr; }
    UINT WaitUntilStarted(DWORD) override { return 0; }
    DWORD ExitCode() const override { return 7; }
    ZCInfo ExceptionInfo() override { return ZCInfo(); }

    bool stopped = false;
};

// Runs the function on the caller's thread.
class InlineThread : public ZCThreadBase
{
public:
    InlineThread() : ZCThreadBase(1, TEXT("inline")) {}
    void Reset() override { m_StopEvent.Reset(); }
    void Start(ZANTH::ThreadFunction function, void* parameter) override
    {
        m_StartEvent.Set();
        m_ExitCode = function(this, parameter);
        m_Status = Terminated;
        m_TerminateEvent.Set();
    }
    const WCHAR* Name() const override { return ZCThreadBase::Name(); }
};

} // namespace

TEST(DocumentedSignatures, DerivedThreadClassesWork)
{
    DocumentedInterface own;
    ZCThreadInterface& asInterface = own;
    asInterface.RequestStop();
    EXPECT_EQ(asInterface.WaitUntilStopRequested(0), 1u);
    EXPECT_EQ(asInterface.ExitCode(), 7u);
    asInterface.Reset();
    EXPECT_EQ(asInterface.IsStopRequested(), 0u);

    InlineThread inlined;
    int parameter = 41;
    inlined.Start(
        [](ZCThreadBase* thread, void* p) -> DWORD {
            return thread->IsStopRequested() ? 0 : static_cast<DWORD>(*static_cast<int*>(p) + 1);
        },
        &parameter);
    EXPECT_EQ(inlined.GetStatus(), ZCThreadInterface::Terminated);
    EXPECT_EQ(inlined.ExitCode(), 42u);
    EXPECT_EQ(inlined.WaitUntilStopped(0), 1u);
    EXPECT_EQ(Utf8(inlined.Name()), "inline");
}
