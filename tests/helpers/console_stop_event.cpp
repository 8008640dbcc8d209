// Child process of the console handler test: installs ConsoleControlHandler,
// raises SIGINT and waits for the library's stop event. Prints the log lines it
// saw and "stop event set" or "stop event not set"; exits 0 only on success.
#include <zanth/tools.h>

#include <csignal>
#include <cstdio>

namespace {

class PrintingSink : public TLogSink
{
public:
    void Line(int level, const TString& text) override
    {
        std::printf("log %d %s\n", level, text.AsAnsi().c_str());
        std::fflush(stdout);
    }
};

} // namespace

int main()
{
    PrintingSink sink;
    g_ptheLogfile->AddSink(&sink);
    if (!::SetConsoleCtrlHandler(ConsoleControlHandler, TRUE)) {
        std::printf("SetConsoleCtrlHandler failed: %u\n", static_cast<unsigned>(::GetLastError()));
        return 2;
    }
    std::raise(SIGINT);
    const bool set = g_theControlHandlerStopEvent.Wait(30000) != 0;
    std::printf("stop event %s\n", set ? "set" : "not set");
    g_ptheLogfile->RemoveSink(&sink);
    return set ? 0 : 1;
}
