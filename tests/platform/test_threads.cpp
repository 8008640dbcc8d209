// Win32 threads, the C run time's _beginthread, thread ids, Sleep and TLS.
#include "testsupport.h"

#include <atomic>
#include <cerrno>
#include <thread>
#include <vector>

namespace {

DWORD WINAPI ReturnParameter(LPVOID parameter)
{
    return static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(parameter));
}

DWORD WINAPI ExitEarly(LPVOID)
{
    ::ExitThread(42);
}

std::atomic<DWORD> g_SeenId{0};

void CrtBody(void* event)
{
    g_SeenId = ::GetCurrentThreadId();
    ::SetEvent(static_cast<HANDLE>(event));
    _endthread();
}

} // namespace

TEST(Threads, HandleIsSignalledWhenTheThreadEndsAndKeepsItsExitCode)
{
    DWORD id = 0;
    HANDLE thread =
        ::CreateThread(nullptr, 0, ReturnParameter, reinterpret_cast<LPVOID>(7), 0, &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_NE(id, 0u);
    EXPECT_NE(id, ::GetCurrentThreadId());
    EXPECT_EQ(::WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
    DWORD code = 0;
    ASSERT_TRUE(::GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 7u);
    // A thread handle stays signalled for every later wait.
    EXPECT_EQ(::WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(::CloseHandle(thread));
    EXPECT_FALSE(::CloseHandle(thread));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(Threads, ExitThreadSetsTheExitCode)
{
    HANDLE thread = ::CreateThread(nullptr, 0, ExitEarly, nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(::WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
    DWORD code = 0;
    ::GetExitCodeThread(thread, &code);
    EXPECT_EQ(code, 42u);
    ::CloseHandle(thread);
}

TEST(Threads, BeginThreadRunsAndEndThreadEnds)
{
    HANDLE started = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::uintptr_t handle = _beginthread(CrtBody, 0, started);
    ASSERT_NE(handle, static_cast<std::uintptr_t>(-1));
    EXPECT_EQ(::WaitForSingleObject(started, 5000), WAIT_OBJECT_0);
    EXPECT_NE(g_SeenId.load(), ::GetCurrentThreadId());
    ::CloseHandle(started);
}

TEST(Threads, BeginThreadWithoutFunctionFailsWithEinval)
{
    errno = 0;
    EXPECT_EQ(_beginthread(nullptr, 0, nullptr), static_cast<std::uintptr_t>(-1));
    EXPECT_EQ(errno, EINVAL);
}

TEST(Threads, LastErrorIsPerThread)
{
    ::SetLastError(1234);
    std::thread other([] {
        EXPECT_EQ(::GetLastError(), 0u);
        ::SetLastError(99);
    });
    other.join();
    EXPECT_EQ(::GetLastError(), 1234u);
}

TEST(Tls, ValuesArePerThreadAndStartNullAfterAlloc)
{
    DWORD index = ::TlsAlloc();
    ASSERT_NE(index, TLS_OUT_OF_INDEXES);
    EXPECT_EQ(::TlsGetValue(index), nullptr);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    int here = 1, there = 2;
    ASSERT_TRUE(::TlsSetValue(index, &here));
    std::thread other([&] {
        EXPECT_EQ(::TlsGetValue(index), nullptr);
        ::TlsSetValue(index, &there);
        EXPECT_EQ(::TlsGetValue(index), &there);
    });
    other.join();
    EXPECT_EQ(::TlsGetValue(index), &here);
    ASSERT_TRUE(::TlsFree(index));
    // A freed index is invalid; when handed out again its value starts null.
    EXPECT_FALSE(::TlsSetValue(index, &here));
    DWORD again = ::TlsAlloc();
    EXPECT_EQ(::TlsGetValue(again), nullptr);
    ::TlsFree(again);
    EXPECT_FALSE(::TlsFree(TLS_OUT_OF_INDEXES));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(Handles, CountReturnsToWhereItWas)
{
    const DWORD before = ZanthOpenHandleCount();
    std::vector<HANDLE> handles;
    for (int i = 0; i < 100; ++i) {
        handles.push_back(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    }
    EXPECT_EQ(ZanthOpenHandleCount(), before + 100);
    for (HANDLE h : handles) {
        ::CloseHandle(h);
    }
    EXPECT_EQ(ZanthOpenHandleCount(), before);
}

TEST(Handles, StaleHandleIsNotConfusedWithANewObjectInTheSameSlot)
{
    HANDLE first = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ::CloseHandle(first);
    HANDLE second = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_FALSE(::SetEvent(first));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(::WaitForSingleObject(second, 0), WAIT_TIMEOUT);
    ::CloseHandle(second);
}

TEST(Handles, DuplicateNamesTheSameObject)
{
    HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE copy = nullptr;
    ASSERT_TRUE(::DuplicateHandle(::GetCurrentProcess(), event, ::GetCurrentProcess(), &copy, 0,
                                  FALSE, DUPLICATE_SAME_ACCESS));
    ::CloseHandle(event);
    EXPECT_TRUE(::SetEvent(copy)); // the object lives while a handle names it
    EXPECT_EQ(::WaitForSingleObject(copy, 0), WAIT_OBJECT_0);
    ::CloseHandle(copy);
}

TEST(Handles, ClosingAHandleThatOtherThreadsUseIsSafe)
{
    // Win32: a call made with a handle that another thread closes either works on
    // the object (it came first) or fails with ERROR_INVALID_HANDLE; it never uses
    // a freed object (the sanitizer builds check that part).
    std::atomic<HANDLE> current{nullptr};
    std::atomic<bool> done{false};
    std::atomic<int> unexpected{0};
    auto expectValidOrClosed = [&](bool ok) {
        if (!ok && ::GetLastError() != ERROR_INVALID_HANDLE &&
            ::GetLastError() != ERROR_NOT_OWNER) {
            ++unexpected;
        }
    };
    std::vector<std::thread> users;
    for (int u = 0; u < 3; ++u) {
        users.emplace_back([&, u] {
            while (!done.load()) {
                const HANDLE h = current.load();
                switch (u) {
                case 0: // events: set, reset, zero waits
                    expectValidOrClosed(::SetEvent(h));
                    expectValidOrClosed(::WaitForSingleObject(h, 0) != WAIT_FAILED);
                    expectValidOrClosed(::ResetEvent(h));
                    break;
                case 1: { // waits that may sleep, with another object beside
                    HANDLE pair[2] = {h, h};
                    expectValidOrClosed(::WaitForMultipleObjects(1, pair, FALSE, 1) != WAIT_FAILED);
                    break;
                }
                default: // a second reference taken while the first goes away
                    HANDLE copy = nullptr;
                    if (::DuplicateHandle(::GetCurrentProcess(), h, ::GetCurrentProcess(), &copy, 0,
                                          FALSE, DUPLICATE_SAME_ACCESS)) {
                        EXPECT_TRUE(::SetEvent(copy));
                        ::CloseHandle(copy);
                    } else {
                        expectValidOrClosed(false);
                    }
                    break;
                }
            }
        });
    }
    for (int round = 0; round < 3000; ++round) {
        const HANDLE event = ::CreateEventW(nullptr, round % 2, FALSE, nullptr);
        current = event;
        if (round % 16 == 0) {
            ::Sleep(0);
        }
        ASSERT_TRUE(::CloseHandle(event));
    }
    done = true;
    for (auto& t : users) {
        t.join();
    }
    EXPECT_EQ(unexpected.load(), 0);
}
