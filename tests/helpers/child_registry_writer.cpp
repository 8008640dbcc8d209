// Writes a series of REG_DWORD values into HKEY_CURRENT_USER for the registry's
// multi-process tests: child_registry_writer KEY PREFIX COUNT [OTHER_PREFIX].
// Value PREFIX<i> gets i, one RegSetValueExW (one transaction) each; after every
// write the value just written is read back, and so is OTHER_PREFIX<i> when given
// (another process writes those meanwhile; missing is fine, wrong data is not).
// Prints the index of every committed write on its own line, flushed at once, so
// that a parent that kills this process knows what was committed.
#include <zanth/win32/windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::basic_string<WCHAR> Wide(const std::string& text)
{
    return std::basic_string<WCHAR>(text.begin(), text.end());
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        return 2;
    }
    const std::basic_string<WCHAR> key = Wide(argv[1]);
    const std::string prefix = argv[2];
    const long count = std::strtol(argv[3], nullptr, 10);
    const std::string other = argc > 4 ? argv[4] : "";

    HKEY handle = nullptr;
    LSTATUS status = ::RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0,
                                       KEY_ALL_ACCESS, nullptr, &handle, nullptr);
    if (status != ERROR_SUCCESS) {
        std::printf("create %ld\n", static_cast<long>(status));
        return 1;
    }
    for (long i = 0; i < count; ++i) {
        const std::basic_string<WCHAR> name = Wide(prefix + std::to_string(i));
        const DWORD value = static_cast<DWORD>(i);
        status = ::RegSetValueExW(handle, name.c_str(), 0, REG_DWORD,
                                  reinterpret_cast<const BYTE*>(&value), sizeof value);
        if (status != ERROR_SUCCESS) {
            std::printf("set %ld %ld\n", i, static_cast<long>(status));
            return 1;
        }
        std::printf("%ld\n", i);
        std::fflush(stdout);
        DWORD read = 0;
        DWORD size = sizeof read;
        DWORD type = 0;
        status = ::RegQueryValueExW(handle, name.c_str(), nullptr, &type,
                                    reinterpret_cast<BYTE*>(&read), &size);
        if (status != ERROR_SUCCESS || type != REG_DWORD || read != value) {
            std::printf("read %ld %ld\n", i, static_cast<long>(status));
            return 1;
        }
        if (!other.empty()) {
            const std::basic_string<WCHAR> otherName = Wide(other + std::to_string(i));
            size = sizeof read;
            status = ::RegQueryValueExW(handle, otherName.c_str(), nullptr, &type,
                                        reinterpret_cast<BYTE*>(&read), &size);
            if (status == ERROR_SUCCESS && read != value) {
                std::printf("other %ld %u\n", i, static_cast<unsigned>(read));
                return 1;
            }
            if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
                std::printf("other %ld status %ld\n", i, static_cast<long>(status));
                return 1;
            }
        }
    }
    ::RegCloseKey(handle);
    return 0;
}
