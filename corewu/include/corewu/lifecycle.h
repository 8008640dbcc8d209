// A diagnostic record of the steps of library start-up and shut-down (the objects
// a library builds at load and destroys at unload). Off unless switched on; tests
// switch it on in a child process before loading a library.
#ifndef COREWU_LIFECYCLE_H
#define COREWU_LIFECYCLE_H

#include <corewu/config.h>

#include <string>
#include <vector>

// Thread rules: any thread; Record is a single flag test while the trace is off.
class COREWU_API TLifecycleTrace
{
public:
    static void Enable(bool on);
    static bool Enabled();
    static void Record(const char* step);
    static std::vector<std::string> Steps();
    static void Clear();
};

#endif // COREWU_LIFECYCLE_H
