// GetVersionExW: Linux reports itself as the NT family, with the kernel release as
// major, minor and build number and the distribution's name in szCSDVersion. A
// process may replace the answer (ZanthSetReportedVersion in zanthext.h), so that
// code which tells Windows versions apart can be tried on every one of them.
#include "internal.h"

#include <zanth/win32/zanthext.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <sys/utsname.h>

namespace zanth::platform {
namespace {

struct Override
{
    std::mutex lock;
    bool active = false;
    OSVERSIONINFOW version;
};

Override& TheOverride()
{
    static Override* state = new Override;
    return *state;
}

// The leading decimal number of text at pos (0 when there is none); moves pos past
// it and one following separator.
DWORD NextNumber(const char* text, std::size_t& pos)
{
    DWORD value = 0;
    bool any = false;
    while (text[pos] >= '0' && text[pos] <= '9') {
        const DWORD digit = static_cast<DWORD>(text[pos] - '0');
        value = value > (0xFFFFFFFFu - digit) / 10 ? 0xFFFFFFFFu : value * 10 + digit;
        any = true;
        ++pos;
    }
    if (any && text[pos] == '.') {
        ++pos;
    }
    return value;
}

// A value of /etc/os-release without its quotes (shell-style, with backslash
// escapes inside double quotes).
std::string Unquote(const std::string& value)
{
    if (value.size() < 2 || (value.front() != '"' && value.front() != '\'') ||
        value.back() != value.front()) {
        return value;
    }
    std::string result;
    for (std::size_t i = 1; i + 1 < value.size(); ++i) {
        if (value.front() == '"' && value[i] == '\\' && i + 2 < value.size()) {
            ++i;
        }
        result += value[i];
    }
    return result;
}

// "PRETTY_NAME", else "NAME VERSION_ID", else "Linux".
std::string DistributionName()
{
    std::ifstream file("/etc/os-release");
    if (!file) {
        file.open("/usr/lib/os-release");
    }
    std::string line;
    std::string pretty;
    std::string name;
    std::string version;
    while (std::getline(file, line)) {
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos) {
            continue;
        }
        const std::string key = line.substr(0, equals);
        const std::string value = Unquote(line.substr(equals + 1));
        if (key == "PRETTY_NAME") {
            pretty = value;
        } else if (key == "NAME") {
            name = value;
        } else if (key == "VERSION_ID") {
            version = value;
        }
    }
    if (!pretty.empty()) {
        return pretty;
    }
    if (!name.empty()) {
        return version.empty() ? name : name + " " + version;
    }
    return "Linux";
}

void FillFromSystem(OSVERSIONINFOW& info)
{
    info.dwPlatformId = VER_PLATFORM_WIN32_NT;
    struct utsname names;
    if (::uname(&names) == 0) {
        std::size_t pos = 0;
        info.dwMajorVersion = NextNumber(names.release, pos);
        info.dwMinorVersion = NextNumber(names.release, pos);
        info.dwBuildNumber = NextNumber(names.release, pos);
    }
    // Cut at a character boundary: the record holds 127 characters and a zero.
    const std::u16string text = FromUtf8(DistributionName().c_str());
    std::size_t length = std::min<std::size_t>(text.size(), 127);
    if (length > 0 && length < text.size() && text[length - 1] >= 0xD800 &&
        text[length - 1] < 0xDC00) {
        --length;
    }
    std::memcpy(info.szCSDVersion, text.data(), length * sizeof(WCHAR));
    info.szCSDVersion[length] = 0;
}

} // namespace
} // namespace zanth::platform

using namespace zanth::platform;

extern "C" {

BOOL WINAPI GetVersionExW(LPOSVERSIONINFOW versionInformation)
{
    if (!versionInformation) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (versionInformation->dwOSVersionInfoSize != sizeof(OSVERSIONINFOW)) {
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    {
        Override& state = TheOverride();
        std::lock_guard<std::mutex> guard(state.lock);
        if (state.active) {
            if (state.version.dwOSVersionInfoSize == 0) {
                ::SetLastError(ERROR_GEN_FAILURE);
                return FALSE;
            }
            *versionInformation = state.version;
            versionInformation->dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
            versionInformation->szCSDVersion[127] = 0;
            return TRUE;
        }
    }
    OSVERSIONINFOW info;
    std::memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
    FillFromSystem(info);
    *versionInformation = info;
    return TRUE;
}

void ZanthSetReportedVersion(const OSVERSIONINFOW* version)
{
    Override& state = TheOverride();
    std::lock_guard<std::mutex> guard(state.lock);
    state.active = version != nullptr;
    if (version) {
        state.version = *version;
    }
}

} // extern "C"
