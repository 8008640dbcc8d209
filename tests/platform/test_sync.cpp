// Win32 event, mutex and wait semantics as the platform layer must reproduce them.
#include "testsupport.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

// Closes a handle at the end of a scope.
struct Handle
{
    HANDLE h;
    explicit Handle(HANDLE handle) : h(handle) {}
    ~Handle()
    {
        if (h) {
            ::CloseHandle(h);
        }
    }
    operator HANDLE() const { return h; }
};

HANDLE NewEvent(bool manual, bool set, const WCHAR* name = nullptr)
{
    return ::CreateEventW(nullptr, manual, set, name);
}

} // namespace

TEST(Events, InitialStateAndResetModes)
{
    // A manual-reset event stays set across waits; an auto-reset event releases one
    // wait and is reset by it.
    Handle manual(NewEvent(true, true));
    Handle automatic(NewEvent(false, true));
    ASSERT_NE(manual.h, nullptr);
    ASSERT_NE(automatic.h, nullptr);
    EXPECT_EQ(::WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    EXPECT_EQ(::WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    EXPECT_EQ(::WaitForSingleObject(automatic, 0), WAIT_OBJECT_0);
    EXPECT_EQ(::WaitForSingleObject(automatic, 0), WAIT_TIMEOUT);
    ASSERT_TRUE(::ResetEvent(manual));
    EXPECT_EQ(::WaitForSingleObject(manual, 0), WAIT_TIMEOUT);
}

TEST(Events, WaitTimesOutAfterRoughlyTheTimeout)
{
    Handle event(NewEvent(true, false));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(::WaitForSingleObject(event, 50), WAIT_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(45));
}

TEST(Events, AutoResetReleasesExactlyOneOfTwoWaiters)
{
    Handle event(NewEvent(false, false));
    std::atomic<int> woken{0};
    auto waiter = [&] {
        if (::WaitForSingleObject(event, 2000) == WAIT_OBJECT_0) {
            ++woken;
        }
    };
    std::thread a(waiter), b(waiter);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(::SetEvent(event));
    a.join();
    b.join();
    EXPECT_EQ(woken.load(), 1);
}

TEST(Events, AutoResetReleasesEachOfManyWaitersInTurn)
{
    // Each SetEvent wakes one sleeping waiter; once it has taken the event the next
    // SetEvent must reach another. None may be left asleep.
    Handle event(NewEvent(false, false));
    constexpr int kWaiters = 6;
    std::atomic<int> woken{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < kWaiters; ++i) {
        waiters.emplace_back([&] {
            if (::WaitForSingleObject(event, 10000) == WAIT_OBJECT_0) {
                ++woken;
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    for (int i = 1; i <= kWaiters; ++i) {
        ASSERT_TRUE(::SetEvent(event));
        while (woken.load() < i) {
            std::this_thread::yield();
        }
    }
    for (auto& t : waiters) {
        t.join();
    }
    EXPECT_EQ(woken.load(), kWaiters);
}

TEST(Events, ManualResetReleasesAllWaiters)
{
    Handle event(NewEvent(true, false));
    std::atomic<int> woken{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([&] {
            if (::WaitForSingleObject(event, 5000) == WAIT_OBJECT_0) {
                ++woken;
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ::SetEvent(event);
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(woken.load(), 4);
}

TEST(Events, ZeroTimeoutOnSetManualEventNeverTimesOutUnderContention)
{
    // Other threads keep setting the event and waiting on it; a zero time-out wait
    // on it must always succeed because nobody resets it.
    Handle event(NewEvent(true, true));
    std::atomic<bool> stop{false};
    std::vector<std::thread> others;
    for (int i = 0; i < 3; ++i) {
        others.emplace_back([&] {
            while (!stop) {
                ::SetEvent(event);
                ::WaitForSingleObject(event, INFINITE);
            }
        });
    }
    std::vector<std::thread> checkers;
    std::atomic<int> timeouts{0};
    for (int i = 0; i < 2; ++i) {
        checkers.emplace_back([&] {
            for (int round = 0; round < 20000; ++round) {
                if (::WaitForSingleObject(event, 0) != WAIT_OBJECT_0) {
                    ++timeouts;
                }
            }
        });
    }
    for (auto& t : checkers) {
        t.join();
    }
    stop = true;
    for (auto& t : others) {
        t.join();
    }
    EXPECT_EQ(timeouts.load(), 0);
}

TEST(Events, ThousandRoundsOfPingPongLoseNoWakeUp)
{
    Handle ping(NewEvent(false, false));
    Handle pong(NewEvent(false, false));
    constexpr int kRounds = 1000;
    std::atomic<int> answered{0};
    std::thread partner([&] {
        for (int i = 0; i < kRounds; ++i) {
            if (::WaitForSingleObject(ping, 10000) != WAIT_OBJECT_0) {
                return;
            }
            ++answered;
            ::SetEvent(pong);
        }
    });
    int completed = 0;
    for (int i = 0; i < kRounds; ++i) {
        ::SetEvent(ping);
        if (::WaitForSingleObject(pong, 10000) != WAIT_OBJECT_0) {
            break;
        }
        ++completed;
    }
    partner.join();
    EXPECT_EQ(completed, kRounds);
    EXPECT_EQ(answered.load(), kRounds);
}

TEST(Events, NamedEventIsOpenedWithAlreadyExists)
{
    Handle first(NewEvent(true, false, TEXT("zanth-test-shared-event")));
    ASSERT_NE(first.h, nullptr);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    // The second creation opens the same object; its arguments do not change it.
    Handle second(NewEvent(false, true, TEXT("zanth-test-shared-event")));
    ASSERT_NE(second.h, nullptr);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(::WaitForSingleObject(second, 0), WAIT_TIMEOUT);
    ::SetEvent(second);
    EXPECT_EQ(::WaitForSingleObject(first, 0), WAIT_OBJECT_0);
    EXPECT_EQ(::WaitForSingleObject(first, 0), WAIT_OBJECT_0); // still manual reset
}

TEST(Events, NameOfAnotherKindIsRefused)
{
    Handle mutex(::CreateMutexW(nullptr, FALSE, TEXT("zanth-test-kind")));
    ASSERT_NE(mutex.h, nullptr);
    EXPECT_EQ(::CreateEventW(nullptr, TRUE, FALSE, TEXT("zanth-test-kind")), nullptr);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(Waits, AnyReturnsLowestSignalledIndex)
{
    Handle a(NewEvent(true, false)), b(NewEvent(true, false)), c(NewEvent(true, false));
    HANDLE handles[3] = {a, b, c};
    EXPECT_EQ(::WaitForMultipleObjects(3, handles, FALSE, 0), WAIT_TIMEOUT);
    ::SetEvent(c);
    EXPECT_EQ(::WaitForMultipleObjects(3, handles, FALSE, 0), WAIT_OBJECT_0 + 2);
    ::SetEvent(b);
    EXPECT_EQ(::WaitForMultipleObjects(3, handles, FALSE, 0), WAIT_OBJECT_0 + 1);
}

TEST(Waits, AnyTakesOnlyTheObjectThatSatisfiedIt)
{
    Handle a(NewEvent(false, true)), b(NewEvent(false, true));
    HANDLE handles[2] = {a, b};
    EXPECT_EQ(::WaitForMultipleObjects(2, handles, FALSE, 0), WAIT_OBJECT_0);
    EXPECT_EQ(::WaitForSingleObject(b, 0), WAIT_OBJECT_0); // b was not consumed
}

TEST(Waits, AllConsumesNothingUntilEveryObjectIsSet)
{
    Handle a(NewEvent(false, false)), b(NewEvent(false, false));
    HANDLE handles[2] = {a, b};
    ::SetEvent(a);
    EXPECT_EQ(::WaitForMultipleObjects(2, handles, TRUE, 50), WAIT_TIMEOUT);
    // a must still be set: the failed wait-all took nothing.
    EXPECT_EQ(::WaitForSingleObject(a, 0), WAIT_OBJECT_0);
    EXPECT_EQ(::WaitForSingleObject(b, 0), WAIT_TIMEOUT);
}

TEST(Waits, AllTakesEveryObjectAtOnce)
{
    Handle a(NewEvent(false, false)), b(NewEvent(false, false));
    HANDLE handles[2] = {a, b};
    std::thread setter([&] {
        ::SetEvent(a);
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        ::SetEvent(b);
    });
    EXPECT_EQ(::WaitForMultipleObjects(2, handles, TRUE, 5000), WAIT_OBJECT_0);
    setter.join();
    EXPECT_EQ(::WaitForSingleObject(a, 0), WAIT_TIMEOUT);
    EXPECT_EQ(::WaitForSingleObject(b, 0), WAIT_TIMEOUT);
}

TEST(Waits, CompetingWaitAllAndWaitAnyNeverSplitAPair)
{
    // One thread waits for both auto-reset events together, another for either.
    // Whatever happens, the wait-all either gets both or none of one signal pair.
    Handle a(NewEvent(false, false)), b(NewEvent(false, false));
    HANDLE both[2] = {a, b};
    std::atomic<int> allWins{0}, anyWins{0};
    std::atomic<bool> stop{false};
    std::thread all([&] {
        while (!stop) {
            if (::WaitForMultipleObjects(2, both, TRUE, 5) == WAIT_OBJECT_0) {
                ++allWins;
            }
        }
    });
    std::thread any([&] {
        while (!stop) {
            DWORD r = ::WaitForMultipleObjects(2, both, FALSE, 5);
            if (r == WAIT_OBJECT_0 || r == WAIT_OBJECT_0 + 1) {
                ++anyWins;
            }
        }
    });
    for (int i = 0; i < 2000; ++i) {
        ::SetEvent(a);
        ::SetEvent(b);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    stop = true;
    all.join();
    any.join();
    // Every signal is taken at most once: a wait-all takes two, a wait-any one.
    EXPECT_LE(2 * allWins.load() + anyWins.load(), 4000);
    EXPECT_GT(allWins.load() + anyWins.load(), 0);
}

TEST(Waits, WokenWaiterThatTakesAnotherObjectHandsTheWakeUpOn)
{
    // First waits on {B, A}, second on {A, C}, both asleep. A is set, then B: when
    // the first waiter wakes for A but takes B (the lower index), A is still set and
    // the second waiter must get it. C only releases the second waiter in the rounds
    // where the first took A.
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        Handle a(NewEvent(false, false)), b(NewEvent(false, false)), c(NewEvent(false, false));
        DWORD first = WAIT_FAILED;
        DWORD second = WAIT_FAILED;
        std::thread firstWaiter([&] {
            HANDLE handles[2] = {b, a};
            first = ::WaitForMultipleObjects(2, handles, FALSE, 10000);
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::thread secondWaiter([&] {
            HANDLE handles[2] = {a, c};
            second = ::WaitForMultipleObjects(2, handles, FALSE, 10000);
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ::SetEvent(a);
        ::SetEvent(b);
        firstWaiter.join();
        if (first == WAIT_OBJECT_0 + 1) {
            ::SetEvent(c); // the first took A: nothing is left for the second
        }
        secondWaiter.join();
        if (first == WAIT_OBJECT_0) {
            EXPECT_EQ(second, WAIT_OBJECT_0); // took B: A was handed on
            EXPECT_EQ(::WaitForSingleObject(b, 0), WAIT_TIMEOUT);
        } else {
            EXPECT_EQ(first, WAIT_OBJECT_0 + 1);
            EXPECT_EQ(second, WAIT_OBJECT_0 + 1);
            EXPECT_EQ(::WaitForSingleObject(b, 0), WAIT_OBJECT_0); // B untouched
        }
    }
}

TEST(Waits, TimedOutWaiterHandsTheWakeUpOn)
{
    // A waiter whose time-out ends the wait just as the mutex is released must not
    // swallow the release: the other waiter still gets the mutex.
    for (int round = 0; round < 20; ++round) {
        Handle mutex(::CreateMutexW(nullptr, TRUE, nullptr));
        std::atomic<bool> got{false};
        std::thread patient([&] {
            if (::WaitForSingleObject(mutex, 10000) == WAIT_OBJECT_0) {
                got = true;
                ::ReleaseMutex(mutex);
            }
        });
        std::thread hasty([&] {
            if (::WaitForSingleObject(mutex, 5) == WAIT_OBJECT_0) {
                ::ReleaseMutex(mutex);
            }
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(round % 8));
        ::ReleaseMutex(mutex);
        hasty.join();
        patient.join();
        EXPECT_TRUE(got.load());
    }
}

TEST(Waits, InvalidArguments)
{
    Handle event(NewEvent(true, true));
    HANDLE handles[MAXIMUM_WAIT_OBJECTS + 1];
    for (auto& h : handles) {
        h = event;
    }
    struct Case
    {
        const char* what;
        DWORD count;
        const HANDLE* list;
        BOOL all;
        DWORD error;
    };
    HANDLE closed = NewEvent(true, true);
    ::CloseHandle(closed);
    HANDLE stale[1] = {closed};
    HANDLE twice[2] = {event, event};
    const Case cases[] = {
        {"no objects", 0, handles, FALSE, ERROR_INVALID_PARAMETER},
        {"more than 64", MAXIMUM_WAIT_OBJECTS + 1, handles, FALSE, ERROR_INVALID_PARAMETER},
        {"closed handle", 1, stale, FALSE, ERROR_INVALID_HANDLE},
        {"same object twice in a wait-all", 2, twice, TRUE, ERROR_INVALID_PARAMETER},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(::WaitForMultipleObjects(c.count, c.list, c.all, 0), WAIT_FAILED);
        EXPECT_EQ(::GetLastError(), c.error);
    }
    // The same object twice is allowed in a wait-any.
    EXPECT_EQ(::WaitForMultipleObjects(2, twice, FALSE, 0), WAIT_OBJECT_0);
    EXPECT_FALSE(::SetEvent(nullptr));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(::WaitForSingleObject(INVALID_HANDLE_VALUE, 0), WAIT_FAILED);
}

TEST(Mutexes, RecursiveOwnershipAndRelease)
{
    Handle mutex(::CreateMutexW(nullptr, TRUE, nullptr));
    ASSERT_NE(mutex.h, nullptr);
    EXPECT_EQ(::WaitForSingleObject(mutex, 0), WAIT_OBJECT_0); // owner may re-enter
    std::atomic<DWORD> other{0};
    std::thread t([&] { other = ::WaitForSingleObject(mutex, 0); });
    t.join();
    EXPECT_EQ(other.load(), WAIT_TIMEOUT);
    EXPECT_TRUE(::ReleaseMutex(mutex));
    EXPECT_TRUE(::ReleaseMutex(mutex));
    EXPECT_FALSE(::ReleaseMutex(mutex)); // not owned any more
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_NOT_OWNER));
    std::thread u([&] {
        other = ::WaitForSingleObject(mutex, 0);
        ::ReleaseMutex(mutex);
    });
    u.join();
    EXPECT_EQ(other.load(), WAIT_OBJECT_0);
}

TEST(Mutexes, AbandonedMutexIsReportedToTheNextOwner)
{
    Handle event(NewEvent(true, false));
    Handle mutex(::CreateMutexW(nullptr, FALSE, nullptr));
    std::thread owner([&] { ::WaitForSingleObject(mutex, INFINITE); }); // ends owning it
    owner.join();
    HANDLE handles[2] = {event, mutex};
    EXPECT_EQ(::WaitForMultipleObjects(2, handles, FALSE, 1000), WAIT_ABANDONED_0 + 1);
    // The waiter owns it now, normally.
    EXPECT_TRUE(::ReleaseMutex(mutex));
    EXPECT_EQ(::WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
    ::ReleaseMutex(mutex);
}

TEST(Mutexes, ExclusionUnderContention)
{
    Handle mutex(::CreateMutexW(nullptr, FALSE, nullptr));
    int counter = 0; // guarded by the Win32 mutex only
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([&] {
            for (int k = 0; k < 5000; ++k) {
                ::WaitForSingleObject(mutex, INFINITE);
                ++counter;
                ::ReleaseMutex(mutex);
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(counter, 20000);
}

TEST(Mutexes, NamedMutexClaimsItsNameAcrossProcesses)
{
    Handle mutex(::CreateMutexW(nullptr, FALSE, TEXT("zanth-test-instance")));
    ASSERT_NE(mutex.h, nullptr);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    const auto child = testsupport::RunChild(
        {testsupport::HelperPath("child_named_mutex"), "zanth-test-instance"});
    EXPECT_EQ(child.status, 0) << child.output;
    EXPECT_EQ(child.output, "183\n"); // ERROR_ALREADY_EXISTS in the second process
}

TEST(Mutexes, NamedMutexWhoseNameCannotBeClaimedFails)
{
    // A name that cannot be claimed for the user's processes must not quietly
    // become a process-local one: CreateMutexW fails and says why.
    const char* savedRuntime = std::getenv("XDG_RUNTIME_DIR");
    const std::string runtimeDir = savedRuntime ? savedRuntime : "";
    const char* savedTemp = std::getenv("TMPDIR");
    const std::string tempDir = savedTemp ? savedTemp : "";
    struct Case
    {
        const char* what;
        std::string runtime;
        std::string temp;
        std::basic_string<WCHAR> name;
        DWORD error;
    };
    const std::string missing = runtimeDir + "/no-such-directory";
    const Case cases[] = {
        {"no usable directory", missing, missing, TEXT("zanth-test-unclaimable"),
         ERROR_PATH_NOT_FOUND},
        {"name too long", runtimeDir, tempDir, std::basic_string<WCHAR>(300, TEXT('n')),
         ERROR_FILENAME_EXCED_RANGE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ::setenv("XDG_RUNTIME_DIR", c.runtime.c_str(), 1);
        ::setenv("TMPDIR", c.temp.c_str(), 1);
        ::SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(::CreateMutexW(nullptr, TRUE, c.name.c_str()), nullptr);
        EXPECT_EQ(::GetLastError(), c.error);
    }
    ::setenv("TMPDIR", tempDir.c_str(), 1);

    // A runtime directory that is set but missing (a shell reached through su)
    // falls back to a private directory of the user's in the temp directory.
    ::setenv("XDG_RUNTIME_DIR", missing.c_str(), 1);
    {
        Handle fallback(::CreateMutexW(nullptr, FALSE, TEXT("zanth-test-fallback")));
        ASSERT_NE(fallback.h, nullptr);
        struct stat info;
        const std::string privateDir = tempDir + "/zanth-" + std::to_string(::geteuid());
        ASSERT_EQ(::lstat(privateDir.c_str(), &info), 0);
        EXPECT_TRUE(S_ISDIR(info.st_mode));
        EXPECT_EQ(info.st_mode & 0777, 0700u);
        EXPECT_EQ(::access((privateDir + "/zanth-object-zanth-test-fallback").c_str(), F_OK), 0);
    }
    ::setenv("XDG_RUNTIME_DIR", runtimeDir.c_str(), 1);

    // The failed attempts left nothing behind under the name.
    Handle mutex(::CreateMutexW(nullptr, FALSE, TEXT("zanth-test-unclaimable")));
    ASSERT_NE(mutex.h, nullptr);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
}

TEST(Interlocked, IncrementDecrementExchange)
{
    volatile LONG value = 0;
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([&] {
            for (int k = 0; k < 10000; ++k) {
                ::InterlockedIncrement(&value);
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(value, 40000);
    EXPECT_EQ(::InterlockedDecrement(&value), 39999);
    EXPECT_EQ(::InterlockedExchange(&value, 5), 39999);
    EXPECT_EQ(::InterlockedCompareExchange(&value, 9, 4), 5); // no change
    EXPECT_EQ(::InterlockedCompareExchange(&value, 9, 5), 5);
    EXPECT_EQ(value, 9);
}

TEST(Mutexes, ClosingTheLastHandleOfAnOwnedMutexEndsItAndItsName)
{
    // Win32: the object goes with its last handle even while a thread owns it; the
    // name is free at once, so the next CreateMutexW makes a new, unowned mutex.
    std::thread owner([] {
        HANDLE mutex = ::CreateMutexW(nullptr, TRUE, TEXT("zanth-test-closed-owned"));
        ASSERT_NE(mutex, nullptr);
        EXPECT_EQ(::WaitForSingleObject(mutex, 0), WAIT_OBJECT_0); // owned twice
        EXPECT_TRUE(::CloseHandle(mutex));
        Handle again(::CreateMutexW(nullptr, FALSE, TEXT("zanth-test-closed-owned")));
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
        EXPECT_EQ(::WaitForSingleObject(again, 0), WAIT_OBJECT_0);
        EXPECT_TRUE(::ReleaseMutex(again));
        // The thread ends owning the closed one: nothing is left behind (the
        // address sanitizer checks the memory).
    });
    owner.join();
    Handle mutex(::CreateMutexW(nullptr, FALSE, TEXT("zanth-test-closed-owned")));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(::WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(::ReleaseMutex(mutex));
}

TEST(Mutexes, ManyMutexesOwnedAtOnceAreAbandonedTogether)
{
    // Win32: every mutex a thread still owns when it ends is abandoned, whatever
    // order it took and released them in.
    std::vector<HANDLE> mutexes;
    for (int i = 0; i < 6; ++i) {
        mutexes.push_back(::CreateMutexW(nullptr, FALSE, nullptr));
    }
    std::thread owner([&] {
        for (HANDLE mutex : mutexes) {
            ::WaitForSingleObject(mutex, INFINITE);
        }
        // Releases out of order; keeps the even ones.
        EXPECT_TRUE(::ReleaseMutex(mutexes[1]));
        EXPECT_TRUE(::ReleaseMutex(mutexes[5]));
        EXPECT_TRUE(::ReleaseMutex(mutexes[3]));
    });
    owner.join();
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(::WaitForSingleObject(mutexes[i], 0),
                  i % 2 == 0 ? WAIT_ABANDONED_0 : WAIT_OBJECT_0);
        EXPECT_TRUE(::ReleaseMutex(mutexes[i]));
        ::CloseHandle(mutexes[i]);
    }
}

TEST(Handles, ClosedHandleOfASlotAtItsLastGenerationStaysInvalid)
{
    // A handle value must never become valid again. A slot whose generation has
    // reached its last value is retired when that handle closes; were it reused
    // with its count started over, the slot would soon hand out a handle equal to
    // the value it had before and name a new object with it.
    HANDLE first = NewEvent(true, false);
    ASSERT_NE(first, nullptr);
    HANDLE aged = ::ZanthAgeHandle(first);
    ASSERT_NE(aged, nullptr);
    EXPECT_FALSE(::SetEvent(first)); // the value from before the aging is stale
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(::SetEvent(aged));
    ASSERT_TRUE(::CloseHandle(aged));
    for (int i = 0; i < (1 << 16); ++i) {
        HANDLE handle = NewEvent(true, false);
        ASSERT_NE(handle, nullptr);
        ASSERT_NE(handle, first) << "after " << i << " reuses";
        ASSERT_NE(handle, aged) << "after " << i << " reuses";
        ::CloseHandle(handle);
    }
    for (HANDLE stale : {first, aged}) {
        EXPECT_EQ(::WaitForSingleObject(stale, 0), WAIT_FAILED);
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    }
    EXPECT_EQ(::ZanthAgeHandle(aged), nullptr);
}

// ---------------------------------------------------------------------------
// Named objects shared with other processes
// ---------------------------------------------------------------------------
namespace {

// Runs the named-object helper with the given steps (see the helper for them).
testsupport::ChildResult RunSteps(std::vector<std::string> steps)
{
    steps.insert(steps.begin(), testsupport::HelperPath("child_named_objects"));
    return testsupport::RunChild(steps);
}

// The same, on a thread of its own, for a child that runs while the test acts.
struct AsyncSteps
{
    testsupport::ChildResult result{-1, ""};
    std::thread thread;
    explicit AsyncSteps(std::vector<std::string> steps)
        : thread([this, steps] { result = RunSteps(steps); })
    {}
    const testsupport::ChildResult& Join()
    {
        thread.join();
        return result;
    }
};

} // namespace

TEST(NamedObjects, MutexOwnedInOneProcessCannotBeOwnedInAnother)
{
    Handle mutex(::CreateMutexW(nullptr, TRUE, TEXT("zanth-test-owned")));
    ASSERT_NE(mutex.h, nullptr);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    // 183: ERROR_ALREADY_EXISTS, 258: WAIT_TIMEOUT.
    EXPECT_EQ(RunSteps({"mutex", "zanth-test-owned", "wait", "0"}).output, "183 258 \n");
    EXPECT_EQ(RunSteps({"mutex", "zanth-test-owned", "release"}).output, "183 0 \n");
    ASSERT_TRUE(::ReleaseMutex(mutex));
    // Free now: the other process owns it, releases it, and its creator gets it back.
    EXPECT_EQ(RunSteps({"mutex", "zanth-test-owned", "wait", "0", "wait", "0", "release", "release",
                        "release"})
                  .output,
              "183 0 0 1 1 0 \n");
    EXPECT_EQ(::WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
    ASSERT_TRUE(::ReleaseMutex(mutex));
    // A process that ends owning it abandons it, as a thread does.
    EXPECT_EQ(RunSteps({"mutex", "zanth-test-owned", "wait", "0"}).output, "183 0 \n");
    EXPECT_EQ(::WaitForSingleObject(mutex, 0), WAIT_ABANDONED_0);
    ASSERT_TRUE(::ReleaseMutex(mutex));
}

TEST(NamedObjects, OwnerKilledInAnotherProcessIsReportedAsAbandoned)
{
    // The owner is killed either before the wait begins or while the waiter sleeps;
    // the waiter's wait also names a local event, which stays untouched.
    for (bool asleep : {false, true}) {
        SCOPED_TRACE(asleep ? "waiter asleep" : "owner dead before the wait");
        Handle mutex(::CreateMutexW(nullptr, FALSE, TEXT("zanth-test-killed")));
        Handle ready(NewEvent(true, false, TEXT("zanth-test-killed-ready")));
        Handle local(NewEvent(false, false));
        ASSERT_NE(mutex.h, nullptr);
        ASSERT_NE(ready.h, nullptr);
        AsyncSteps child({"mutex", "zanth-test-killed", "wait", "0", "signal",
                          "zanth-test-killed-ready", "sleep", asleep ? "200" : "0", "kill"});
        ASSERT_EQ(::WaitForSingleObject(ready, 10000), WAIT_OBJECT_0);
        if (!asleep) {
            child.Join();
        }
        HANDLE handles[2] = {local, mutex};
        EXPECT_EQ(::WaitForMultipleObjects(2, handles, FALSE, 10000), WAIT_ABANDONED_0 + 1);
        if (asleep) {
            child.Join();
        }
        EXPECT_EQ(child.result.status, -SIGKILL);
        EXPECT_EQ(child.result.output, "183 0 ");
        // The waiter owns it now, normally.
        EXPECT_TRUE(::ReleaseMutex(mutex));
        EXPECT_EQ(::WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
        EXPECT_TRUE(::ReleaseMutex(mutex));
        EXPECT_EQ(::WaitForSingleObject(local, 0), WAIT_TIMEOUT);
    }
}

TEST(NamedObjects, EventSetInOneProcessWakesWaitersInOthers)
{
    // Two processes wait; one SetEvent releases both of a manual-reset event and
    // exactly one of an auto-reset event (the other's wait times out).
    struct Case
    {
        const char* what;
        bool manual;
        const char* timeout;
        int released;
    };
    const Case cases[] = {
        {"manual reset", true, "10000", 2},
        {"auto reset", false, "2000", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Handle event(NewEvent(c.manual, false, TEXT("zanth-test-event")));
        Handle ready1(NewEvent(true, false, TEXT("zanth-test-event-ready1")));
        Handle ready2(NewEvent(true, false, TEXT("zanth-test-event-ready2")));
        ASSERT_NE(event.h, nullptr);
        const char* manual = c.manual ? "1" : "0";
        AsyncSteps first({"event", "zanth-test-event", manual, "signal", "zanth-test-event-ready1",
                          "wait", c.timeout});
        AsyncSteps second({"event", "zanth-test-event", manual, "signal", "zanth-test-event-ready2",
                           "wait", c.timeout});
        ASSERT_EQ(::WaitForSingleObject(ready1, 10000), WAIT_OBJECT_0);
        ASSERT_EQ(::WaitForSingleObject(ready2, 10000), WAIT_OBJECT_0);
        std::this_thread::sleep_for(std::chrono::milliseconds(50)); // let them fall asleep
        ASSERT_TRUE(::SetEvent(event));
        int released = 0;
        for (const testsupport::ChildResult* result : {&first.Join(), &second.Join()}) {
            EXPECT_EQ(result->status, 0);
            if (result->output == "183 0 \n") {
                ++released;
            } else {
                EXPECT_EQ(result->output, "183 258 \n");
            }
        }
        EXPECT_EQ(released, c.released);
        EXPECT_EQ(::WaitForSingleObject(event, 0), c.manual ? WAIT_OBJECT_0 : WAIT_TIMEOUT);
    }
}

TEST(NamedObjects, WaitsMixingANamedAndALocalObject)
{
    Handle named(NewEvent(false, false, TEXT("zanth-test-mixed")));
    Handle local(NewEvent(false, false));
    ASSERT_NE(named.h, nullptr);
    HANDLE both[2] = {named, local};
    const std::vector<std::string> setLater = {"event", "zanth-test-mixed", "0", "sleep", "100",
                                               "set"};
    {
        SCOPED_TRACE("the local object is set by a thread of this process");
        std::thread setter([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            ::SetEvent(local);
        });
        EXPECT_EQ(::WaitForMultipleObjects(2, both, FALSE, 10000), WAIT_OBJECT_0 + 1);
        setter.join();
    }
    {
        SCOPED_TRACE("the named object is set by another process");
        AsyncSteps child(setLater);
        HANDLE reversed[2] = {local, named};
        EXPECT_EQ(::WaitForMultipleObjects(2, reversed, FALSE, 10000), WAIT_OBJECT_0 + 1);
        child.Join();
    }
    {
        SCOPED_TRACE("wait-all takes nothing until both are set, then both");
        ::SetEvent(local);
        EXPECT_EQ(::WaitForMultipleObjects(2, both, TRUE, 0), WAIT_TIMEOUT);
        EXPECT_EQ(::WaitForSingleObject(local, 0), WAIT_OBJECT_0); // still set
        ::SetEvent(local);
        AsyncSteps child(setLater);
        EXPECT_EQ(::WaitForMultipleObjects(2, both, TRUE, 10000), WAIT_OBJECT_0);
        child.Join();
        EXPECT_EQ(::WaitForSingleObject(local, 0), WAIT_TIMEOUT);
        EXPECT_EQ(::WaitForSingleObject(named, 0), WAIT_TIMEOUT);
    }
    {
        // A thread sleeps on one shared word: a wait on two named objects could
        // miss the other's signal, so it is refused rather than left to hang.
        SCOPED_TRACE("two named objects");
        Handle other(::CreateMutexW(nullptr, FALSE, TEXT("zanth-test-mixed-other")));
        HANDLE named2[3] = {local, named, other};
        for (BOOL all : {FALSE, TRUE}) {
            EXPECT_EQ(::WaitForMultipleObjects(3, named2, all, 0), WAIT_FAILED);
            EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
        }
    }
}

TEST(NamedObjects, NameIsFreeOnceEveryHolderClosedItOrDied)
{
    {
        SCOPED_TRACE("closed by this process");
        HANDLE mutex = ::CreateMutexW(nullptr, TRUE, TEXT("zanth-test-free"));
        ASSERT_NE(mutex, nullptr);
        ASSERT_TRUE(::CloseHandle(mutex));
        EXPECT_EQ(RunSteps({"mutex", "zanth-test-free", "wait", "0"}).output, "0 0 \n");
    }
    {
        // The other process dies owning it: nobody else held the name, so the next
        // creator gets a new mutex, neither owned nor abandoned.
        SCOPED_TRACE("held by a process that was killed");
        EXPECT_EQ(RunSteps({"mutex", "zanth-test-free", "wait", "0", "kill"}).status, -SIGKILL);
        Handle mutex(::CreateMutexW(nullptr, FALSE, TEXT("zanth-test-free")));
        ASSERT_NE(mutex.h, nullptr);
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
        EXPECT_EQ(::WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
        EXPECT_TRUE(::ReleaseMutex(mutex));
    }
    {
        SCOPED_TRACE("a name held by an object of another kind");
        Handle event(NewEvent(true, false, TEXT("zanth-test-free-kind")));
        EXPECT_EQ(RunSteps({"mutex", "zanth-test-free-kind"}).output, "6 \n");
    }
}
