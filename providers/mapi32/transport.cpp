// The transports: SMTP through libcurl, or the local sendmail program.
#include "provider.h"

#include <curl/curl.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <mutex>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace mapi32 {
namespace {

struct Upload
{
    const std::string* data;
    std::size_t offset;
};

size_t ReadMessage(char* buffer, size_t size, size_t count, void* context)
{
    Upload* upload = static_cast<Upload*>(context);
    const std::size_t room = size * count;
    const std::size_t left = upload->data->size() - upload->offset;
    const std::size_t n = left < room ? left : room;
    std::memcpy(buffer, upload->data->data() + upload->offset, n);
    upload->offset += n;
    return n;
}

ULONG ResultOf(CURLcode code, long response)
{
    switch (code) {
    case CURLE_OK:
        return SUCCESS_SUCCESS;
    case CURLE_LOGIN_DENIED:
        return MAPI_E_LOGIN_FAILURE;
    case CURLE_OUT_OF_MEMORY:
        return MAPI_E_INSUFFICIENT_MEMORY;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_GOT_NOTHING:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_USE_SSL_FAILED:
    case CURLE_RECV_ERROR:
    case CURLE_WEIRD_SERVER_REPLY:
        return MAPI_E_NETWORK_FAILURE;
    case CURLE_SEND_ERROR:
        // A refused recipient ends the transfer this way too, with the server's
        // "mailbox unavailable" or "not a mailbox" answer.
        return response >= 550 && response <= 553 ? MAPI_E_UNKNOWN_RECIPIENT
                                                  : MAPI_E_NETWORK_FAILURE;
    case CURLE_REMOTE_ACCESS_DENIED:
        return MAPI_E_ACCESS_DENIED;
    default:
        return MAPI_E_FAILURE;
    }
}

void AddRecipients(curl_slist*& list, const std::vector<Address>& addresses)
{
    for (const Address& address : addresses) {
        list = curl_slist_append(list, ("<" + address.address + ">").c_str());
    }
}

} // namespace

ULONG SendSmtp(const Settings& settings, const Mail& mail)
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    const std::string message = BuildMessage(mail, false);
    CURL* curl = curl_easy_init();
    if (!curl) {
        return MAPI_E_INSUFFICIENT_MEMORY;
    }
    const std::string url = (settings.tls == "tls" ? "smtps://" : "smtp://") + settings.server +
                            ":" + std::to_string(settings.port);
    const std::string from = "<" + mail.from.address + ">";
    curl_slist* recipients = nullptr;
    AddRecipients(recipients, mail.to);
    AddRecipients(recipients, mail.cc);
    AddRecipients(recipients, mail.bcc);
    Upload upload{&message, 0};
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_USE_SSL,
                     settings.tls == "none" ? static_cast<long>(CURLUSESSL_NONE)
                                            : static_cast<long>(CURLUSESSL_ALL));
    curl_easy_setopt(curl, CURLOPT_MAIL_FROM, from.c_str());
    curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, recipients);
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, ReadMessage);
    curl_easy_setopt(curl, CURLOPT_READDATA, &upload);
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(message.size()));
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, settings.timeout < 30 ? settings.timeout : 30L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, settings.timeout);
    if (!settings.user.empty()) {
        curl_easy_setopt(curl, CURLOPT_USERNAME, settings.user.c_str());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, settings.password.c_str());
    }
    const CURLcode code = curl_easy_perform(curl);
    long response = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response);
    curl_slist_free_all(recipients);
    curl_easy_cleanup(curl);
    return ResultOf(code, response);
}

ULONG SendWithSendmail(const Settings& settings, const Mail& mail)
{
    const std::string message = BuildMessage(mail, true);
    // A socket rather than a pipe: a sendmail that ends early makes the write fail
    // (MSG_NOSIGNAL) instead of raising SIGPIPE in the application.
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        return MAPI_E_FAILURE;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDIN_FILENO);
    std::vector<char*> argv = {const_cast<char*>(settings.sendmail.c_str()),
                               const_cast<char*>("-t"), const_cast<char*>("-i"), nullptr};
    pid_t pid = 0;
    const int error =
        ::posix_spawn(&pid, settings.sendmail.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(ends[1]);
    if (error != 0) {
        ::close(ends[0]);
        return MAPI_E_FAILURE;
    }
    bool written = true;
    std::size_t offset = 0;
    while (offset < message.size()) {
        const ssize_t n =
            ::send(ends[0], message.data() + offset, message.size() - offset, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            written = false;
            break;
        }
        offset += static_cast<std::size_t>(n);
    }
    ::close(ends[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return written && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? SUCCESS_SUCCESS
                                                                    : MAPI_E_FAILURE;
}

} // namespace mapi32
