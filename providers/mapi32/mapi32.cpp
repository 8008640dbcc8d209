// libmapi32.so: a Simple MAPI provider for Linux. It exports the five entry points
// that the tools library's mail family uses (MAPILogon, MAPILogoff,
// MAPIResolveName, MAPIFreeBuffer, MAPISendMail), resolves names that are e-mail
// addresses or aliases, and sends through SMTP (libcurl) or sendmail -t.
// There is no user interface: the dialog and logon-dialog flags are accepted and
// the mail is sent directly. Every entry point may be called from any thread.
#include "provider.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#define MAPI32_API extern "C" __attribute__((visibility("default")))

namespace mapi32 {
namespace {

struct Session
{
    Settings settings;
};

std::mutex g_Lock;
std::set<Session*> g_Sessions;

// The settings of a session, or of an implicit one (session 0) read for one call.
ULONG SettingsOf(LHANDLE handle, Settings& settings)
{
    if (handle == 0) {
        std::string why;
        return LoadSettings(settings, why);
    }
    std::lock_guard<std::mutex> guard(g_Lock);
    Session* session = reinterpret_cast<Session*>(handle);
    if (!g_Sessions.count(session)) {
        return MAPI_E_INVALID_SESSION;
    }
    settings = session->settings;
    return SUCCESS_SUCCESS;
}

// A resolved entry and its strings in one block, given back with MAPIFreeBuffer.
lpMapiRecipDesc NewEntry(const Address& address)
{
    const std::string name = address.name.empty() ? address.address : address.name;
    const std::string smtp = "SMTP:" + address.address;
    const std::size_t size = sizeof(MapiRecipDesc) + name.size() + 1 + smtp.size() + 1;
    char* block = static_cast<char*>(std::calloc(1, size));
    if (!block) {
        return nullptr;
    }
    auto* entry = reinterpret_cast<lpMapiRecipDesc>(block);
    char* strings = block + sizeof(MapiRecipDesc);
    std::memcpy(strings, name.c_str(), name.size() + 1);
    std::memcpy(strings + name.size() + 1, smtp.c_str(), smtp.size() + 1);
    entry->ulRecipClass = MAPI_TO;
    entry->lpszName = strings;
    entry->lpszAddress = strings + name.size() + 1;
    return entry;
}

std::string BaseName(const std::string& path)
{
    const std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

ULONG ReadAttachment(const MapiFileDesc& file, Attachment& out)
{
    if (!file.lpszPathName || !*file.lpszPathName) {
        return MAPI_E_ATTACHMENT_NOT_FOUND;
    }
    struct stat info;
    if (::stat(file.lpszPathName, &info) != 0) {
        return errno == ENOENT || errno == ENOTDIR ? MAPI_E_ATTACHMENT_NOT_FOUND
                                                   : MAPI_E_ATTACHMENT_OPEN_FAILURE;
    }
    if (!S_ISREG(info.st_mode)) {
        return MAPI_E_ATTACHMENT_OPEN_FAILURE;
    }
    std::ifstream in(file.lpszPathName, std::ios::binary);
    if (!in) {
        return MAPI_E_ATTACHMENT_OPEN_FAILURE;
    }
    std::ostringstream data;
    data << in.rdbuf();
    if (in.bad()) {
        return MAPI_E_ATTACHMENT_OPEN_FAILURE;
    }
    out.data = data.str();
    const std::string shown =
        file.lpszFileName && *file.lpszFileName ? file.lpszFileName : file.lpszPathName;
    out.name = BaseName(shown);
    return SUCCESS_SUCCESS;
}

// The sender: the message's originator when it names an address, else the
// settings' "from", else the user at this host.
Address SenderOf(const MapiMessage& message, const Settings& settings)
{
    Address from;
    if (message.lpOriginator) {
        const MapiRecipDesc& originator = *message.lpOriginator;
        if (originator.lpszAddress && ParseAddress(originator.lpszAddress, from)) {
            if (from.name.empty() && originator.lpszName &&
                std::strcmp(originator.lpszName, originator.lpszAddress) != 0) {
                from.name = originator.lpszName;
            }
            return from;
        }
        if (originator.lpszName && ParseAddress(originator.lpszName, from)) {
            return from;
        }
    }
    if (ParseAddress(settings.from, from)) {
        return from;
    }
    if (ParseAddress(settings.user, from)) {
        return from;
    }
    const char* user = std::getenv("USER");
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    from.address =
        std::string(user && *user ? user : "nobody") + "@" + (host[0] ? host : "localhost");
    return from;
}

ULONG Send(LHANDLE handle, const MapiMessage& message)
{
    Settings settings;
    if (const ULONG result = SettingsOf(handle, settings); result != SUCCESS_SUCCESS) {
        return result;
    }
    Mail mail;
    mail.from = SenderOf(message, settings);
    mail.subject = message.lpszSubject ? message.lpszSubject : "";
    mail.text = message.lpszNoteText ? message.lpszNoteText : "";
    for (ULONG i = 0; i < message.nRecipCount; ++i) {
        const MapiRecipDesc& recipient = message.lpRecips[i];
        Address address;
        const bool known =
            (recipient.lpszAddress && ParseAddress(recipient.lpszAddress, address)) ||
            (recipient.lpszName && ResolveAddress(recipient.lpszName, address));
        if (!known) {
            return MAPI_E_UNKNOWN_RECIPIENT;
        }
        if (address.name.empty() && recipient.lpszName &&
            (!recipient.lpszAddress ||
             std::strcmp(recipient.lpszName, recipient.lpszAddress) != 0)) {
            Address named;
            if (!ParseAddress(recipient.lpszName, named)) {
                address.name = recipient.lpszName; // a display name, not an address
            }
        }
        switch (recipient.ulRecipClass) {
        case MAPI_TO:
            mail.to.push_back(address);
            break;
        case MAPI_CC:
            mail.cc.push_back(address);
            break;
        case MAPI_BCC:
            mail.bcc.push_back(address);
            break;
        default:
            return MAPI_E_BAD_RECIPTYPE;
        }
    }
    if (mail.to.empty() && mail.cc.empty() && mail.bcc.empty()) {
        return MAPI_E_INVALID_RECIPS;
    }
    for (ULONG i = 0; i < message.nFileCount; ++i) {
        Attachment attachment;
        if (const ULONG result = ReadAttachment(message.lpFiles[i], attachment);
            result != SUCCESS_SUCCESS) {
            return result;
        }
        mail.attachments.push_back(std::move(attachment));
    }
    return settings.transport == "sendmail" ? SendWithSendmail(settings, mail)
                                            : SendSmtp(settings, mail);
}

} // namespace
} // namespace mapi32

using namespace mapi32;

MAPI32_API ULONG MAPILogon(ULONG_PTR, LPSTR, LPSTR password, FLAGS, ULONG, LPLHANDLE session)
{
    if (!session) {
        return MAPI_E_FAILURE;
    }
    *session = 0;
    try {
        auto created = std::make_unique<Session>();
        std::string why;
        if (const ULONG result = LoadSettings(created->settings, why); result != SUCCESS_SUCCESS) {
            return result;
        }
        if (password && *password) {
            created->settings.password = password;
        }
        std::lock_guard<std::mutex> guard(g_Lock);
        g_Sessions.insert(created.get());
        *session = reinterpret_cast<LHANDLE>(created.release());
        return SUCCESS_SUCCESS;
    } catch (const std::bad_alloc&) {
        return MAPI_E_INSUFFICIENT_MEMORY;
    } catch (...) {
        return MAPI_E_FAILURE;
    }
}

MAPI32_API ULONG MAPILogoff(LHANDLE handle, ULONG_PTR, FLAGS, ULONG)
{
    Session* session = reinterpret_cast<Session*>(handle);
    {
        std::lock_guard<std::mutex> guard(g_Lock);
        if (!g_Sessions.erase(session)) {
            return MAPI_E_INVALID_SESSION;
        }
    }
    delete session;
    return SUCCESS_SUCCESS;
}

MAPI32_API ULONG MAPIResolveName(LHANDLE handle, ULONG_PTR, LPSTR name, FLAGS, ULONG,
                                 lpMapiRecipDesc* entry)
{
    if (!entry) {
        return MAPI_E_FAILURE;
    }
    *entry = nullptr;
    try {
        if (handle != 0) {
            std::lock_guard<std::mutex> guard(g_Lock);
            if (!g_Sessions.count(reinterpret_cast<Session*>(handle))) {
                return MAPI_E_INVALID_SESSION;
            }
        }
        Address address;
        if (!name || !ResolveAddress(name, address)) {
            return MAPI_E_UNKNOWN_RECIPIENT;
        }
        *entry = NewEntry(address);
        return *entry ? SUCCESS_SUCCESS : MAPI_E_INSUFFICIENT_MEMORY;
    } catch (const std::bad_alloc&) {
        return MAPI_E_INSUFFICIENT_MEMORY;
    } catch (...) {
        return MAPI_E_FAILURE;
    }
}

MAPI32_API ULONG MAPIFreeBuffer(LPVOID buffer)
{
    std::free(buffer);
    return SUCCESS_SUCCESS;
}

MAPI32_API ULONG MAPISendMail(LHANDLE handle, ULONG_PTR, lpMapiMessage message, FLAGS, ULONG)
{
    if (!message) {
        return MAPI_E_INVALID_MESSAGE;
    }
    try {
        return Send(handle, *message);
    } catch (const std::bad_alloc&) {
        return MAPI_E_INSUFFICIENT_MEMORY;
    } catch (...) {
        return MAPI_E_FAILURE;
    }
}
