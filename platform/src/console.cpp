// Console control handlers (SetConsoleCtrlHandler) on POSIX signals.
//
// Win32 delivers console control events to a list of handler routines, calling the
// most recently added first and stopping at the first that returns TRUE; when none
// does, the default handler ends the process. Here the events come from signals:
//
//   SIGINT  -> CTRL_C_EVENT        SIGHUP  -> CTRL_CLOSE_EVENT
//   SIGQUIT -> CTRL_BREAK_EVENT    SIGTERM -> CTRL_SHUTDOWN_EVENT
//
// Win32 calls the handlers on a thread of their own, never in the middle of the
// interrupted code. So the signal handler does nothing but write the signal number
// into a pipe (write is async-signal-safe); a dispatcher thread, started when the
// first handler is installed, reads the pipe and calls the handlers in order. One
// event is handled after the other.
//
// When no handler returns TRUE, the process ends as it would have without
// handlers: the signal's default action is restored and the signal raised again,
// so the parent sees the process killed by that signal (SIGQUIT leaves a core dump
// where the system is configured for one).
//
// SetConsoleCtrlHandler(NULL, TRUE) makes the process ignore CTRL+C: SIGINT is set
// to SIG_IGN, which, like Win32's flag, child processes inherit. A process started
// with SIGINT ignored begins in that state. SetConsoleCtrlHandler(NULL, FALSE)
// restores normal processing. Signals other than SIGINT that the process inherited
// as ignored (nohup's SIGHUP) stay ignored: their owner asked for that.
//
// A handler that returns TRUE keeps the process running for every event type
// (Win32 ends a process after its handler returns from a close, log-off or
// shutdown event; on Linux these signals are requests that the program answers by
// ending itself when it is ready).
#include "internal.h"

#include <zanth/win32/zanthext.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

namespace zanth::platform {
namespace {

constexpr int kSignals[] = {SIGINT, SIGQUIT, SIGHUP, SIGTERM};

DWORD ControlTypeOf(int signal)
{
    switch (signal) {
    case SIGINT:
        return CTRL_C_EVENT;
    case SIGQUIT:
        return CTRL_BREAK_EVENT;
    case SIGHUP:
        return CTRL_CLOSE_EVENT;
    default:
        return CTRL_SHUTDOWN_EVENT;
    }
}

// The write end of the pipe, read by the signal handler.
std::atomic<int> g_PipeWrite{-1};

struct ConsoleState
{
    std::mutex lock;
    std::vector<PHANDLER_ROUTINE> handlers;
    bool ignoreCtrlC = false;
    bool dispatching = false; // the pipe, the thread and the signal handlers exist
    int pipeRead = -1;
};

// Never destroyed: the dispatcher thread may still run while the process exits.
ConsoleState& State()
{
    static ConsoleState* state = new ConsoleState;
    return *state;
}

void OnSignal(int signal)
{
    const int saved = errno;
    const unsigned char number = static_cast<unsigned char>(signal);
    // The pipe does not block: should it ever be full, the event is dropped rather
    // than the interrupted thread stalled.
    ssize_t written = ::write(g_PipeWrite.load(std::memory_order_relaxed), &number, 1);
    (void)written;
    errno = saved;
}

void Catch(int signal)
{
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
}

void SetDisposition(int signal, void (*disposition)(int))
{
    struct sigaction action = {};
    action.sa_handler = disposition;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
}

bool IsIgnored(int signal)
{
    struct sigaction current = {};
    ::sigaction(signal, nullptr, &current);
    return !(current.sa_flags & SA_SIGINFO) && current.sa_handler == SIG_IGN;
}

// What the process does when no handler takes the event: its default action.
[[noreturn]] void DefaultAction(int signal)
{
    SetDisposition(signal, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    ::raise(signal);
    // Only reached if the default action did not end the process.
    std::_Exit(128 + signal);
}

void Dispatch(int signal)
{
    ConsoleState& state = State();
    std::vector<PHANDLER_ROUTINE> handlers;
    {
        std::lock_guard<std::mutex> guard(state.lock);
        // A CTRL+C that was already on its way when the process chose to ignore it.
        if (signal == SIGINT && state.ignoreCtrlC) {
            return;
        }
        handlers = state.handlers;
    }
    // Handlers are called without the lock, so they may add or remove handlers.
    const DWORD type = ControlTypeOf(signal);
    for (auto it = handlers.rbegin(); it != handlers.rend(); ++it) {
        if ((*it)(type)) {
            return;
        }
    }
    DefaultAction(signal);
}

void* Dispatcher(void* argument)
{
    const int pipeRead = static_cast<int>(reinterpret_cast<std::intptr_t>(argument));
    for (;;) {
        unsigned char number;
        const ssize_t n = ::read(pipeRead, &number, 1);
        if (n == 1) {
            Dispatch(number);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return nullptr;
        }
    }
}

// With the state's lock held: creates the pipe, the dispatcher thread and the
// signal handlers. Returns false (with the last error set) when that fails.
bool StartDispatching(ConsoleState& state)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        SetLastErrorFromErrno();
        return false;
    }
    ::fcntl(fds[1], F_SETFL, ::fcntl(fds[1], F_GETFL) | O_NONBLOCK);

    // The dispatcher blocks every signal, so that signals go to the program's own
    // threads and its reads are not interrupted.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &previous);
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    const int rc = ::pthread_create(&thread, &attributes, Dispatcher,
                                    reinterpret_cast<void*>(static_cast<std::intptr_t>(fds[0])));
    pthread_attr_destroy(&attributes);
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (rc != 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }

    state.pipeRead = fds[0];
    g_PipeWrite.store(fds[1], std::memory_order_relaxed);
    state.dispatching = true;
    for (int signal : kSignals) {
        if (!IsIgnored(signal)) {
            Catch(signal);
        } else if (signal == SIGINT) {
            state.ignoreCtrlC = true; // inherited: the process starts ignoring CTRL+C
        }
    }
    return true;
}

} // namespace
} // namespace zanth::platform

using namespace zanth::platform;

extern "C" {

BOOL WINAPI SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add)
{
    ConsoleState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);

    if (!handler) {
        state.ignoreCtrlC = add != FALSE;
        if (state.ignoreCtrlC) {
            SetDisposition(SIGINT, SIG_IGN);
        } else if (state.dispatching) {
            Catch(SIGINT);
        } else {
            SetDisposition(SIGINT, SIG_DFL);
        }
        return TRUE;
    }

    if (add) {
        if (!state.dispatching && !StartDispatching(state)) {
            return FALSE;
        }
        state.handlers.push_back(handler);
        return TRUE;
    }

    // Removes the most recent registration of the routine.
    auto it = std::find(state.handlers.rbegin(), state.handlers.rend(), handler);
    if (it == state.handlers.rend()) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    state.handlers.erase(std::next(it).base());
    return TRUE;
}

BOOL ZanthStreamIsTerminal(FILE* stream)
{
    if (stream == nullptr) {
        return FALSE;
    }
    const int fd = ::fileno(stream);
    return fd >= 0 && ::isatty(fd) ? TRUE : FALSE;
}

} // extern "C"
