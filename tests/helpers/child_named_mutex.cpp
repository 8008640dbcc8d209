// Creates a named mutex and prints GetLastError() (183 when another process holds
// the name).
#include <zanth/win32/windows.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    if (argc < 2) {
        return 2;
    }
    std::basic_string<WCHAR> name;
    for (const char* p = argv[1]; *p; ++p) {
        name.push_back(static_cast<WCHAR>(*p));
    }
    HANDLE mutex = ::CreateMutexW(nullptr, FALSE, name.c_str());
    std::printf("%u\n", static_cast<unsigned>(::GetLastError()));
    if (!mutex) {
        return 1;
    }
    ::CloseHandle(mutex);
    return 0;
}
