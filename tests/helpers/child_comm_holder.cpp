// Holds a serial port open through the library: opens "\\.\COM<n>" (argument 1),
// prints "open" (or "error <code>") and keeps the port until its standard input
// closes.
#include <zanth/win32/windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 2) {
        return 2;
    }
    const std::string name = std::string("\\\\.\\COM") + argv[1];
    std::basic_string<WCHAR> wide(name.begin(), name.end());
    HANDLE port = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        std::printf("error %u\n", static_cast<unsigned>(GetLastError()));
        return 1;
    }
    std::printf("open\n");
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    CloseHandle(port);
    return 0;
}
