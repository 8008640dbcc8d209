// Reports whether this process's console stop event starts unset, then sets it.
// Prints "<process id> <1 if it was set at start, else 0>".
#include <zanth/tools.h>

#include <cstdio>

int main()
{
    const unsigned wasSet = g_theControlHandlerStopEvent.IsSet();
    g_theControlHandlerStopEvent.Set();
    std::printf("%u %u\n", static_cast<unsigned>(::GetCurrentProcessId()), wasSet);
    return 0;
}
