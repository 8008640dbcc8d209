// Process and system information: process id, computer name, module paths, the
// temp directory and GetSystemInfo.
#include "internal.h"

#include <zanth/win32/zanthext.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <limits.h>
#include <string_view>
#include <unistd.h>

using namespace zanth::platform;

extern "C" {

DWORD WINAPI GetCurrentProcessId(void)
{
    return static_cast<DWORD>(::getpid());
}

BOOL WINAPI GetComputerNameW(LPWSTR buffer, LPDWORD size)
{
    if (!size) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    char host[HOST_NAME_MAX + 1] = {};
    if (::gethostname(host, sizeof host - 1) != 0) {
        SetLastErrorFromErrno();
        return FALSE;
    }
    std::u16string name = FromUtf8(host);
    if (!buffer || *size <= name.size()) {
        *size = static_cast<DWORD>(name.size() + 1);
        ::SetLastError(ERROR_BUFFER_OVERFLOW);
        return FALSE;
    }
    *size = CopyOut(name, buffer, *size);
    return TRUE;
}

// The module handle of a shared object is its load address; null names the program.
DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR filename, DWORD size)
{
    std::string path;
    if (!module) {
        char buffer[PATH_MAX];
        ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
        if (n < 0) {
            SetLastErrorFromErrno();
            return 0;
        }
        path.assign(buffer, static_cast<std::size_t>(n));
    } else {
        Dl_info info{};
        if (!::dladdr(reinterpret_cast<void*>(module), &info) || !info.dli_fname ||
            info.dli_fbase != reinterpret_cast<void*>(module)) {
            ::SetLastError(ERROR_MOD_NOT_FOUND);
            return 0;
        }
        char resolved[PATH_MAX];
        path = ::realpath(info.dli_fname, resolved) ? resolved : info.dli_fname;
    }
    std::u16string wide = NameFromPath(path.c_str());
    if (!filename || size == 0) {
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (wide.size() >= size) {
        // Win32 truncates, terminates and reports the full buffer.
        std::memcpy(filename, wide.data(), (size - 1) * sizeof(WCHAR));
        filename[size - 1] = 0;
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    ::SetLastError(ERROR_SUCCESS);
    return CopyOut(wide, filename, size);
}

BOOL WINAPI GetModuleHandleExW(DWORD flags, LPCWSTR moduleName, HMODULE* module)
{
    if (!module) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *module = nullptr;
    if (flags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS) {
        Dl_info info{};
        if (!::dladdr(reinterpret_cast<const void*>(moduleName), &info) || !info.dli_fbase) {
            ::SetLastError(ERROR_MOD_NOT_FOUND);
            return FALSE;
        }
        *module = reinterpret_cast<HMODULE>(info.dli_fbase);
        return TRUE;
    }
    if (!moduleName) {
        // The program itself: the load address of the main executable.
        Dl_info info{};
        void* self = ::dlopen(nullptr, RTLD_LAZY | RTLD_NOLOAD);
        void* symbol = self ? ::dlsym(self, "main") : nullptr;
        if (self) {
            ::dlclose(self);
        }
        if (symbol && ::dladdr(symbol, &info)) {
            *module = reinterpret_cast<HMODULE>(info.dli_fbase);
            return TRUE;
        }
    }
    ::SetLastError(ERROR_MOD_NOT_FOUND);
    return FALSE;
}

DWORD WINAPI GetTempPathW(DWORD bufferLength, LPWSTR buffer)
{
    const char* dir = std::getenv("TMPDIR");
    std::string path = (dir && *dir) ? dir : "/tmp";
    if (path.back() != '/') {
        path += '/';
    }
    std::u16string wide = NameFromPath(path.c_str());
    if (!buffer || bufferLength <= wide.size()) {
        return static_cast<DWORD>(wide.size() + 1);
    }
    return CopyOut(wide, buffer, bufferLength);
}

void WINAPI GetSystemInfo(LPSYSTEM_INFO systemInfo)
{
    if (!systemInfo) {
        return;
    }
    std::memset(systemInfo, 0, sizeof *systemInfo);
    const long page = ::sysconf(_SC_PAGESIZE);
    systemInfo->wProcessorArchitecture = 9; // PROCESSOR_ARCHITECTURE_AMD64
    systemInfo->dwPageSize = static_cast<DWORD>(page);
    systemInfo->lpMinimumApplicationAddress = reinterpret_cast<LPVOID>(0x10000);
    // x86-64 Linux gives user space the lower 128 TiB, less the guard page at the top.
    systemInfo->lpMaximumApplicationAddress =
        reinterpret_cast<LPVOID>((std::uintptr_t{1} << 47) - static_cast<std::uintptr_t>(page) - 1);
    const long processors = ::sysconf(_SC_NPROCESSORS_ONLN);
    systemInfo->dwNumberOfProcessors = processors > 0 ? static_cast<DWORD>(processors) : 1;
    systemInfo->dwActiveProcessorMask =
        systemInfo->dwNumberOfProcessors >= 64
            ? ~DWORD_PTR{0}
            : ((DWORD_PTR{1} << systemInfo->dwNumberOfProcessors) - 1);
    systemInfo->dwProcessorType = 8664; // PROCESSOR_AMD_X8664
    // Reservations keep Win32's 64 KiB granularity, so that callers that round to it
    // behave as they do on Windows.
    systemInfo->dwAllocationGranularity = 0x10000;
}

} // extern "C"
