// ConsoleControlHandler: turns a console's end request into the library's stop event.
#include <corewu/log.h>
#include <zanth/frame.h>
#include <zanth/timer.h>

#include <cstdio>

BOOL WINAPI ConsoleControlHandler(DWORD controlType)
{
    TString name;
    switch (controlType) {
    case CTRL_C_EVENT:
        name = TEXT("CTRL_C_EVENT");
        break;
    case CTRL_BREAK_EVENT:
        name = TEXT("CTRL_BREAK_EVENT");
        break;
    case CTRL_LOGOFF_EVENT:
        name = TEXT("CTRL_LOGOFF_EVENT");
        break;
    case CTRL_SHUTDOWN_EVENT:
        name = TEXT("CTRL_SHUTDOWN_EVENT");
        break;
    default:
        name.Format(TEXT("%d"), static_cast<int>(controlType));
        break;
    }
    const TString line = TString::Formatted(
        TEXT("ConsoleControlHandler(): End of console requested (%s)"), name.c_str());
    g_ptheLogfile->Write(3, line);
    std::printf("%s\n", line.AsAnsi().c_str());
    std::fflush(stdout);
    g_theControlHandlerStopEvent.Set();
    return 1;
}
