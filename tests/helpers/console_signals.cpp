// Child process of the platform's console-control tests. Each scenario installs
// handlers with SetConsoleCtrlHandler, raises signals at itself and prints what the
// handlers saw, one line per call: "<handler> <control type> <thread>", where
// <thread> is "main" when the handler ran on the thread that raised the signal
// and "other" otherwise. Scenarios that expect the process to end by a signal
// print "survived" if it does not.
#include <zanth/win32/windows.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

DWORD g_MainThread = 0;
HANDLE g_Called = nullptr; // auto-reset: set after every handler call
std::mutex g_Lock;
int g_Calls = 0; // handler calls so far (under g_Lock)

void Record(const char* name, DWORD type)
{
    std::lock_guard<std::mutex> guard(g_Lock);
    ++g_Calls;
    std::printf("%s %u %s\n", name, static_cast<unsigned>(type),
                ::GetCurrentThreadId() == g_MainThread ? "main" : "other");
    std::fflush(stdout);
}

BOOL WINAPI HandlerA(DWORD type)
{
    Record("A", type);
    ::SetEvent(g_Called);
    return TRUE;
}

BOOL WINAPI HandlerB(DWORD type)
{
    Record("B", type);
    ::SetEvent(g_Called);
    return TRUE;
}

BOOL WINAPI Declines(DWORD type)
{
    Record("D", type);
    ::SetEvent(g_Called);
    return FALSE;
}

int Calls()
{
    std::lock_guard<std::mutex> guard(g_Lock);
    return g_Calls;
}

// Raises a signal and waits until `calls` more handler calls have happened.
bool RaiseAndWait(int signal, int calls = 1)
{
    const int target = Calls() + calls;
    std::raise(signal);
    while (Calls() < target) {
        if (::WaitForSingleObject(g_Called, 30000) != WAIT_OBJECT_0) {
            return false;
        }
    }
    return true;
}

int Fail(const char* what)
{
    std::printf("failed: %s (error %u)\n", what, static_cast<unsigned>(::GetLastError()));
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        return Fail("no scenario");
    }
    const std::string scenario = argv[1];
    g_MainThread = ::GetCurrentThreadId();
    g_Called = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);

    if (scenario == "mapping") {
        // Each signal arrives as its control event, on another thread.
        ::SetConsoleCtrlHandler(HandlerA, TRUE);
        for (int signal : {SIGINT, SIGQUIT, SIGHUP, SIGTERM}) {
            if (!RaiseAndWait(signal)) {
                return Fail("no handler call");
            }
        }
        return 0;
    }
    if (scenario == "order") {
        // The most recently added handler runs first; the first TRUE ends the round.
        ::SetConsoleCtrlHandler(HandlerA, TRUE);
        ::SetConsoleCtrlHandler(Declines, TRUE);
        ::SetConsoleCtrlHandler(HandlerB, TRUE);
        RaiseAndWait(SIGINT); // B only
        ::SetConsoleCtrlHandler(HandlerB, FALSE);
        RaiseAndWait(SIGINT, 2); // D, then A
        std::printf("end\n");
        return 0;
    }
    if (scenario == "remove") {
        ::SetConsoleCtrlHandler(HandlerA, TRUE);
        ::SetConsoleCtrlHandler(HandlerB, TRUE);
        if (!::SetConsoleCtrlHandler(HandlerA, FALSE)) {
            return Fail("remove A");
        }
        ::SetLastError(0);
        const BOOL again = ::SetConsoleCtrlHandler(HandlerA, FALSE);
        std::printf("remove again %d %u\n", again, static_cast<unsigned>(::GetLastError()));
        RaiseAndWait(SIGTERM); // B
        return 0;
    }
    if (scenario == "unhandled") {
        // No handler takes the event: the process ends by the signal.
        ::SetConsoleCtrlHandler(Declines, TRUE);
        std::raise(SIGTERM);
        ::Sleep(30000);
        std::printf("survived\n");
        return 0;
    }
    if (scenario == "all-removed") {
        ::SetConsoleCtrlHandler(HandlerA, TRUE);
        ::SetConsoleCtrlHandler(HandlerA, FALSE);
        std::raise(SIGINT);
        ::Sleep(30000);
        std::printf("survived\n");
        return 0;
    }
    if (scenario == "ignore") {
        // Ignoring CTRL+C: SIGINT reaches no handler and does not end the process;
        // the other signals still arrive. Signals are handled in the order raised,
        // so a SIGINT that got through would show before the SIGTERM.
        ::SetConsoleCtrlHandler(HandlerA, TRUE);
        ::SetConsoleCtrlHandler(nullptr, TRUE);
        std::raise(SIGINT);
        RaiseAndWait(SIGTERM);
        ::SetConsoleCtrlHandler(nullptr, FALSE);
        RaiseAndWait(SIGINT);
        return 0;
    }
    if (scenario == "ignore-before-handlers") {
        // The flag set before any handler exists also holds once handlers come.
        ::SetConsoleCtrlHandler(nullptr, TRUE);
        std::raise(SIGINT);
        ::SetConsoleCtrlHandler(HandlerA, TRUE);
        std::raise(SIGINT);
        RaiseAndWait(SIGHUP);
        return 0;
    }
    if (scenario == "handler-changes-list") {
        // A handler may add and remove handlers while it runs.
        static bool first = true;
        struct Local
        {
            static BOOL WINAPI Adder(DWORD type)
            {
                Record("adder", type);
                if (first) {
                    first = false;
                    ::SetConsoleCtrlHandler(HandlerB, TRUE);
                    ::SetConsoleCtrlHandler(Adder, FALSE);
                }
                ::SetEvent(g_Called);
                return TRUE;
            }
        };
        ::SetConsoleCtrlHandler(Local::Adder, TRUE);
        RaiseAndWait(SIGINT); // adder
        RaiseAndWait(SIGINT); // B
        return 0;
    }
    return Fail("unknown scenario");
}
