// The provider's settings and aliases files, and the addresses it accepts.
#include "provider.h"

#include <cstdlib>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace mapi32 {
namespace {

std::string Trim(const std::string& text)
{
    const char* space = " \t\r\n";
    const std::string::size_type first = text.find_first_not_of(space);
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(space) - first + 1);
}

std::string Lower(std::string text)
{
    for (char& c : text) {
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    return text;
}

std::string ConfigDirectory()
{
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && *config) {
        return std::string(config) + "/zanth";
    }
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.config/zanth";
}

// Calls `entry` for each "key = value" line; '#' starts a comment line.
template <class Entry> bool ReadKeyValues(const std::string& path, Entry&& entry)
{
    std::ifstream in(path);
    if (!in) {
        return false;
    }
    std::string line;
    while (std::getline(in, line)) {
        line = Trim(line);
        if (line.empty() || line[0] == '#') {
            continue;
        }
        const std::string::size_type equals = line.find('=');
        if (equals == std::string::npos) {
            continue;
        }
        entry(Lower(Trim(line.substr(0, equals))), Trim(line.substr(equals + 1)));
    }
    return true;
}

bool IsAtext(char c)
{
    const unsigned char u = static_cast<unsigned char>(c);
    if (u >= 0x80) {
        return true; // UTF-8 in addresses (RFC 6531) is passed on as it is
    }
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string("!#$%&'*+-/=?^_`{|}~.").find(c) != std::string::npos;
}

bool IsMailbox(const std::string& address)
{
    const std::string::size_type at = address.find('@');
    if (at == std::string::npos || at == 0 || at + 1 >= address.size() ||
        address.find('@', at + 1) != std::string::npos || address.size() > 254) {
        return false;
    }
    for (char c : address) {
        if (c != '@' && !IsAtext(c)) {
            return false;
        }
    }
    const std::string domain = address.substr(at + 1);
    return domain.front() != '.' && domain.back() != '.' && address[0] != '.' &&
           address[at - 1] != '.' && address.find("..") == std::string::npos;
}

} // namespace

std::string SettingsPath()
{
    const char* named = std::getenv("ZANTH_MAIL_SETTINGS");
    return named && *named ? named : ConfigDirectory() + "/mail.conf";
}

std::string AliasesPath()
{
    const char* named = std::getenv("ZANTH_MAIL_ALIASES");
    return named && *named ? named : ConfigDirectory() + "/mail-aliases";
}

ULONG LoadSettings(Settings& settings, std::string& why)
{
    settings = Settings();
    const std::string path = SettingsPath();
    bool passwordInFile = false;
    std::string portText;
    std::string timeoutText;
    auto apply = [&](const std::string& key, const std::string& value, bool fromFile) {
        if (key == "transport") {
            settings.transport = Lower(value);
        } else if (key == "server") {
            settings.server = value;
        } else if (key == "port") {
            portText = value;
        } else if (key == "tls") {
            settings.tls = Lower(value);
        } else if (key == "user") {
            settings.user = value;
        } else if (key == "password") {
            settings.password = value;
            passwordInFile = fromFile && !value.empty();
        } else if (key == "from") {
            settings.from = value;
        } else if (key == "sendmail") {
            settings.sendmail = value;
        } else if (key == "timeout") {
            timeoutText = value;
        }
    };
    ReadKeyValues(
        path, [&](const std::string& key, const std::string& value) { apply(key, value, true); });
    for (const char* key : {"transport", "server", "port", "tls", "user", "password", "from",
                            "sendmail", "timeout"}) {
        std::string variable = "ZANTH_MAIL_";
        for (const char* c = key; *c; ++c) {
            variable += static_cast<char>(*c - 'a' + 'A');
        }
        if (const char* value = std::getenv(variable.c_str())) {
            apply(key, value, false);
        }
    }
    if (passwordInFile) {
        struct stat info;
        if (::stat(path.c_str(), &info) == 0 && (info.st_mode & 077) != 0) {
            why = path + " holds a password but others may read it (chmod 600)";
            return MAPI_E_ACCESS_DENIED;
        }
    }
    if (!portText.empty()) {
        char* end = nullptr;
        const long port = std::strtol(portText.c_str(), &end, 10);
        if (*end != 0 || port < 1 || port > 65535) {
            why = "port '" + portText + "' is not a port number";
            return MAPI_E_FAILURE;
        }
        settings.port = static_cast<int>(port);
    }
    if (!timeoutText.empty()) {
        char* end = nullptr;
        const long timeout = std::strtol(timeoutText.c_str(), &end, 10);
        if (*end != 0 || timeout < 1) {
            why = "timeout '" + timeoutText + "' is not a number of seconds";
            return MAPI_E_FAILURE;
        }
        settings.timeout = timeout;
    }
    if (settings.transport == "sendmail") {
        if (::access(settings.sendmail.c_str(), X_OK) != 0) {
            why = "the sendmail program " + settings.sendmail + " cannot be run";
            return MAPI_E_FAILURE;
        }
        return SUCCESS_SUCCESS;
    }
    if (settings.transport != "smtp") {
        why = "transport '" + settings.transport + "' is neither smtp nor sendmail";
        return MAPI_E_FAILURE;
    }
    if (settings.tls != "none" && settings.tls != "starttls" && settings.tls != "tls") {
        why = "tls '" + settings.tls + "' is none of none, starttls and tls";
        return MAPI_E_FAILURE;
    }
    if (settings.server.empty()) {
        why = "no SMTP server is set (server in " + path + " or ZANTH_MAIL_SERVER)";
        return MAPI_E_FAILURE;
    }
    if (settings.port == 0) {
        settings.port = settings.tls == "tls" ? 465 : 25;
    }
    return SUCCESS_SUCCESS;
}

bool ParseAddress(const std::string& text, Address& out)
{
    std::string trimmed = Trim(text);
    Address parsed;
    const std::string::size_type open = trimmed.rfind('<');
    if (!trimmed.empty() && trimmed.back() == '>' && open != std::string::npos) {
        parsed.address = Trim(trimmed.substr(open + 1, trimmed.size() - open - 2));
        parsed.name = Trim(trimmed.substr(0, open));
        if (parsed.name.size() >= 2 && parsed.name.front() == '"' && parsed.name.back() == '"') {
            parsed.name = parsed.name.substr(1, parsed.name.size() - 2);
        }
    } else {
        parsed.address = trimmed;
    }
    if (Lower(parsed.address.substr(0, 5)) == "smtp:") {
        parsed.address = parsed.address.substr(5);
    }
    for (char c : parsed.name) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            return false; // no line breaks into the headers
        }
    }
    if (!IsMailbox(parsed.address)) {
        return false;
    }
    out = parsed;
    return true;
}

bool ResolveAddress(const std::string& text, Address& out)
{
    const std::string key = Lower(Trim(text));
    std::string aliased;
    ReadKeyValues(AliasesPath(), [&](const std::string& alias, const std::string& value) {
        if (aliased.empty() && alias == key) {
            aliased = value;
        }
    });
    return ParseAddress(aliased.empty() ? text : aliased, out);
}

} // namespace mapi32
