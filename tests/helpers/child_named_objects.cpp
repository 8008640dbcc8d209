// Works on named events and mutexes from a second process, following a list of
// steps given as arguments, and prints each step's result on one line:
//   mutex NAME         CreateMutexW (not owned); prints GetLastError()
//   event NAME MANUAL  CreateEventW (1: manual reset, 0: auto reset; not set);
//                      prints GetLastError()
//   wait MS            WaitForSingleObject on the last object; prints the result
//   release            ReleaseMutex on the last object; prints 1 or 0
//   set                SetEvent on the last object
//   signal NAME        sets the named manual-reset event NAME (tells the test
//                      how far this process got); the last object stays
//   sleep MS           Sleep
//   kill               ends this process with SIGKILL, owning what it owns
#include <zanth/win32/windows.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::basic_string<WCHAR> Wide(const char* text)
{
    std::basic_string<WCHAR> wide;
    for (const char* p = text; *p; ++p) {
        wide.push_back(static_cast<WCHAR>(static_cast<unsigned char>(*p)));
    }
    return wide;
}

void Print(unsigned long value)
{
    std::printf("%lu ", value);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    HANDLE current = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string step = argv[i];
        auto argument = [&]() -> const char* { return i + 1 < argc ? argv[++i] : ""; };
        if (step == "mutex") {
            current = ::CreateMutexW(nullptr, FALSE, Wide(argument()).c_str());
            Print(::GetLastError());
        } else if (step == "event") {
            const std::basic_string<WCHAR> name = Wide(argument());
            const BOOL manual = std::strcmp(argument(), "1") == 0;
            current = ::CreateEventW(nullptr, manual, FALSE, name.c_str());
            Print(::GetLastError());
        } else if (step == "wait") {
            Print(::WaitForSingleObject(current, std::strtoul(argument(), nullptr, 10)));
        } else if (step == "release") {
            Print(::ReleaseMutex(current) ? 1 : 0);
        } else if (step == "set") {
            ::SetEvent(current);
        } else if (step == "signal") {
            HANDLE ready = ::CreateEventW(nullptr, TRUE, FALSE, Wide(argument()).c_str());
            ::SetEvent(ready);
            ::CloseHandle(ready);
        } else if (step == "sleep") {
            ::Sleep(std::strtoul(argument(), nullptr, 10));
        } else if (step == "kill") {
            std::raise(SIGKILL);
        } else {
            std::fprintf(stderr, "unknown step %s\n", step.c_str());
            return 2;
        }
    }
    std::printf("\n");
    return 0;
}
