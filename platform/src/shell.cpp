// The user name and the shell's "open" verb. ShellExecuteW hands a file to the
// desktop's opener (xdg-open, or the program ZANTH_OPENER names) and does not wait
// for it: the opener runs in a process of its own that nobody waits for.
#include "internal.h"

#include <zanth/win32/zanthext.h>

#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace zanth::platform {
namespace {

bool IsExecutableFile(const std::string& path)
{
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

// The opener as a path: a name with a '/' as it is, other names searched on PATH.
std::string FindProgram(const std::string& name)
{
    if (name.empty()) {
        return {};
    }
    if (name.find('/') != std::string::npos) {
        return IsExecutableFile(name) ? name : std::string();
    }
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    std::string::size_type start = 0;
    for (;;) {
        const std::string::size_type end = dirs.find(':', start);
        std::string dir = dirs.substr(start, end == std::string::npos ? end : end - start);
        if (dir.empty()) {
            dir = ".";
        }
        const std::string candidate = dir + "/" + name;
        if (IsExecutableFile(candidate)) {
            return candidate;
        }
        if (end == std::string::npos) {
            return {};
        }
        start = end + 1;
    }
}

bool IsUrl(const std::string& text)
{
    const std::string::size_type colon = text.find("://");
    if (colon == std::string::npos || colon == 0) {
        return false;
    }
    for (std::string::size_type i = 0; i < colon; ++i) {
        const char c = text[i];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '+' || c == '-' ||
              c == '.')) {
            return false;
        }
    }
    return true;
}

HINSTANCE ShellResult(INT_PTR code)
{
    return reinterpret_cast<HINSTANCE>(code);
}

} // namespace
} // namespace zanth::platform

using namespace zanth::platform;

extern "C" {

BOOL WINAPI GetUserNameW(LPWSTR buffer, LPDWORD size)
{
    if (!size) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::string name;
    std::vector<char> scratch(4096);
    passwd entry{};
    passwd* found = nullptr;
    int error;
    while ((error = ::getpwuid_r(::geteuid(), &entry, scratch.data(), scratch.size(), &found)) ==
           ERANGE) {
        scratch.resize(scratch.size() * 2);
    }
    if (found && found->pw_name) {
        name = found->pw_name;
    } else if (const char* user = std::getenv("USER"); user && *user) {
        // No entry in the user database (a container with a numeric user only).
        name = user;
    } else {
        name = std::to_string(static_cast<unsigned long>(::geteuid()));
    }
    const std::u16string wide = FromUtf8(name.c_str());
    if (!buffer || *size <= wide.size()) {
        *size = static_cast<DWORD>(wide.size() + 1);
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    CopyOut(wide, buffer, *size);
    *size = static_cast<DWORD>(wide.size() + 1);
    return TRUE;
}

HINSTANCE WINAPI ShellExecuteW(HWND, LPCWSTR operation, LPCWSTR file, LPCWSTR parameters,
                               LPCWSTR directory, INT)
{
    if (operation && ToUtf8(operation) != "open") {
        ::SetLastError(ERROR_NO_ASSOCIATION);
        return ShellResult(SE_ERR_NOASSOC);
    }
    if ((parameters && *parameters) || !file || !*file) {
        // Parameters go to programs that are started directly, which this verb on
        // this platform does not do.
        ::SetLastError(file && *file ? ERROR_NOT_SUPPORTED : ERROR_FILE_NOT_FOUND);
        return ShellResult(file && *file ? SE_ERR_NOASSOC : SE_ERR_FNF);
    }
    std::string target;
    if (!PathFromName(file, target)) {
        return ShellResult(SE_ERR_FNF);
    }
    if (!IsUrl(target)) {
        if (directory && *directory && target[0] != '/') {
            std::string dir;
            if (!PathFromName(directory, dir)) {
                return ShellResult(SE_ERR_PNF);
            }
            target = dir + (dir.back() == '/' ? "" : "/") + target;
        }
        struct stat info;
        if (::stat(target.c_str(), &info) != 0) {
            const int error = errno;
            SetLastErrorFromErrno(error);
            return ShellResult(error == EACCES ? SE_ERR_ACCESSDENIED : SE_ERR_FNF);
        }
    }
    const char* chosen = std::getenv(ZANTH_OPENER_ENV);
    const std::string opener = FindProgram(chosen ? chosen : "xdg-open");
    if (opener.empty()) {
        ::SetLastError(ERROR_NO_ASSOCIATION);
        return ShellResult(SE_ERR_NOASSOC);
    }
    // A shell that starts the opener in the background and ends at once: the opener
    // is then nobody's child to wait for, and no zombie is left behind.
    const char* script = "\"$0\" \"$1\" </dev/null >/dev/null 2>&1 &";
    std::vector<char*> argv = {const_cast<char*>("/bin/sh"),      const_cast<char*>("-c"),
                               const_cast<char*>(script),         const_cast<char*>(opener.c_str()),
                               const_cast<char*>(target.c_str()), nullptr};
    pid_t pid = 0;
    const int error = ::posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv.data(), environ);
    if (error != 0) {
        SetLastErrorFromErrno(error);
        return ShellResult(error == ENOMEM ? SE_ERR_OOM : 0);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return ShellResult(42);
}

} // extern "C"
