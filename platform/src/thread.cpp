// Threads (CreateThread, the C run-time's _beginthread/_endthread), thread ids and
// Sleep. Thread-local storage indices are in tls.cpp.
//
// A thread handle names a waitable object that becomes signalled when the thread
// ends. The end is noticed by a thread-local object that every thread started here
// constructs first, so it is destroyed last: after the thread's other thread-local
// objects (including the list of mutexes it still owns, which are abandoned then).
#include "futex.h"
#include "internal.h"

#include <cerrno>
#include <climits>
#include <ctime>
#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace zanth::platform {
namespace {

class ThreadObject final : public WaitableObject
{
public:
    ThreadObject() : WaitableObject(ObjectType::Thread) {}

    bool IsSignaledLocked(DWORD) const override { return m_Ended; }
    bool AcquireLocked(DWORD) override { return false; }

    void SetExitCode(DWORD code)
    {
        std::lock_guard<std::mutex> guard(Lock());
        m_ExitCode = code;
    }

    void End()
    {
        std::lock_guard<std::mutex> guard(Lock());
        m_Ended = true;
        WakeWaitersLocked();
    }

    // The id of the thread, published by the thread itself when it starts.
    std::atomic<std::uint32_t> id{0};

    DWORD ExitCode()
    {
        std::lock_guard<std::mutex> guard(Lock());
        return m_Ended ? m_ExitCode : STILL_ACTIVE;
    }

private:
    bool m_Ended = false;
    DWORD m_ExitCode = 0;
};

struct StartInfo
{
    std::shared_ptr<ThreadObject> object;
    LPTHREAD_START_ROUTINE start = nullptr; // CreateThread
    void (*crtStart)(void*) = nullptr;      // _beginthread
    void* parameter = nullptr;
    HANDLE autoClose = nullptr; // _beginthread's handle, closed when the thread ends
};

// Lives in every thread started here; its destruction marks the thread as ended.
struct ThreadExitHook
{
    std::shared_ptr<ThreadObject> object;
    HANDLE autoClose = nullptr;

    ~ThreadExitHook()
    {
        if (object) {
            object->End();
        }
        if (autoClose) {
            ::CloseHandle(autoClose);
        }
    }
};

thread_local ThreadExitHook t_ExitHook;

void* Trampoline(void* argument)
{
    StartInfo* info = static_cast<StartInfo*>(argument);
    t_ExitHook.object = info->object;
    t_ExitHook.autoClose = info->autoClose;
    info->object->id.store(CurrentThreadId(), std::memory_order_release);
    FutexWakeAll(info->object->id);
    LPTHREAD_START_ROUTINE start = info->start;
    void (*crtStart)(void*) = info->crtStart;
    void* parameter = info->parameter;
    delete info;

    if (start) {
        DWORD code = start(parameter);
        t_ExitHook.object->SetExitCode(code);
    } else {
        crtStart(parameter);
    }
    return nullptr;
}

// Starts a detached thread; returns 0 or an errno value.
int StartThread(StartInfo* info, SIZE_T stackSize)
{
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    if (stackSize != 0) {
        if (stackSize < static_cast<SIZE_T>(PTHREAD_STACK_MIN)) {
            stackSize = PTHREAD_STACK_MIN;
        }
        pthread_attr_setstacksize(&attributes, stackSize);
    }
    pthread_t thread;
    int rc = pthread_create(&thread, &attributes, Trampoline, info);
    pthread_attr_destroy(&attributes);
    return rc;
}

} // namespace

DWORD CurrentThreadId()
{
    thread_local DWORD id = static_cast<DWORD>(syscall(SYS_gettid));
    return id;
}

} // namespace zanth::platform

using namespace zanth::platform;

extern "C" {

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                           LPVOID parameter, DWORD creationFlags, LPDWORD threadId)
{
    if (!start || creationFlags != 0) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto object = std::make_shared<ThreadObject>();
    HANDLE handle = InsertHandle(object);
    if (!handle) {
        return nullptr;
    }
    auto* info = new StartInfo;
    info->object = object;
    info->start = start;
    info->parameter = parameter;
    int rc = StartThread(info, stackSize);
    if (rc != 0) {
        delete info;
        ::CloseHandle(handle);
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (threadId) {
        // The id is known only once the thread runs; wait for it to publish it.
        std::uint32_t id;
        while ((id = object->id.load(std::memory_order_acquire)) == 0) {
            FutexWait(object->id, 0, -1);
        }
        *threadId = id;
    }
    return handle;
}

void WINAPI ExitThread(DWORD exitCode)
{
    if (t_ExitHook.object) {
        t_ExitHook.object->SetExitCode(exitCode);
    }
    pthread_exit(nullptr);
}

BOOL WINAPI GetExitCodeThread(HANDLE thread, LPDWORD exitCode)
{
    auto object = LookupAs<ThreadObject>(thread, ObjectType::Thread);
    if (!object || !exitCode) {
        if (object) {
            ::SetLastError(ERROR_INVALID_PARAMETER);
        }
        return FALSE;
    }
    *exitCode = object->ExitCode();
    return TRUE;
}

DWORD WINAPI GetCurrentThreadId(void)
{
    return CurrentThreadId();
}

void WINAPI Sleep(DWORD milliseconds)
{
    if (milliseconds == 0) {
        sched_yield();
        return;
    }
    if (milliseconds == INFINITE) {
        for (;;) {
            pause();
        }
    }
    timespec rest{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1000000};
    while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
    }
}

} // extern "C"

std::uintptr_t _beginthread(void (*start)(void*), unsigned stackSize, void* argument)
{
    if (!start) {
        errno = EINVAL;
        return static_cast<std::uintptr_t>(-1);
    }
    auto object = std::make_shared<ThreadObject>();
    HANDLE handle = InsertHandle(object);
    if (!handle) {
        errno = EAGAIN;
        return static_cast<std::uintptr_t>(-1);
    }
    auto* info = new StartInfo;
    info->object = object;
    info->crtStart = start;
    info->parameter = argument;
    info->autoClose = handle;
    int rc = StartThread(info, stackSize);
    if (rc != 0) {
        delete info;
        ::CloseHandle(handle);
        errno = (rc == EINVAL) ? EINVAL : EAGAIN;
        return static_cast<std::uintptr_t>(-1);
    }
    return reinterpret_cast<std::uintptr_t>(handle);
}

void _endthread(void)
{
    pthread_exit(nullptr);
}
