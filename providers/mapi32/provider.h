// Internals of libmapi32.so, the Simple MAPI provider for Linux: its settings, the
// addresses it accepts, the MIME message it builds and the transports that carry it.
#ifndef ZANTH_MAPI32_PROVIDER_H
#define ZANTH_MAPI32_PROVIDER_H

#include <zanth/win32/mapi.h>

#include <string>
#include <vector>

namespace mapi32 {

// How mail leaves the machine. Read from the settings file, then from environment
// variables, which win (see docs/mail.md).
struct Settings
{
    std::string transport = "smtp"; // "smtp" or "sendmail"
    std::string server;
    int port = 0;                 // 0: 25, or 465 with tls = "tls"
    std::string tls = "starttls"; // "none", "starttls" (required) or "tls" (implicit)
    std::string user;
    std::string password;
    std::string from; // the sender when the message names none
    std::string sendmail = "/usr/sbin/sendmail";
    long timeout = 60; // seconds for the whole transfer
};

// The settings file: $ZANTH_MAIL_SETTINGS, else $XDG_CONFIG_HOME/zanth/mail.conf
// (~/.config/zanth/mail.conf without XDG_CONFIG_HOME).
std::string SettingsPath();
// The aliases file: $ZANTH_MAIL_ALIASES, else mail-aliases next to the settings.
std::string AliasesPath();

// Reads and checks the settings: SUCCESS_SUCCESS, MAPI_E_FAILURE when they do not
// describe a usable transport (no server, no sendmail program, a bad value), or
// MAPI_E_ACCESS_DENIED when a password sits in a file that others may read.
// `why` says what is wrong.
ULONG LoadSettings(Settings& settings, std::string& why);

// An address as the provider accepts it: "Name <local@domain>", "local@domain" or
// an alias, with an optional "SMTP:" in front of the address.
struct Address
{
    std::string name;    // display name, may be empty
    std::string address; // local@domain
};
bool ParseAddress(const std::string& text, Address& out);
// ParseAddress, after looking the text up in the aliases file.
bool ResolveAddress(const std::string& text, Address& out);

struct Attachment
{
    std::string name; // the file name the recipient sees
    std::string data; // the file's bytes
};

struct Mail
{
    Address from;
    std::vector<Address> to, cc, bcc;
    std::string subject; // UTF-8
    std::string text;    // UTF-8
    std::vector<Attachment> attachments;
};

// The message in Internet format (CR LF line ends). With `withBcc` the blind copies
// are named in a header of their own (for sendmail -t, which removes it).
std::string BuildMessage(const Mail& mail, bool withBcc);

// Encodings, exposed for the tests of the provider.
std::string Base64(const std::string& data, std::size_t lineLength);
std::string QuotedPrintable(const std::string& text);
std::string EncodedWords(const std::string& text); // RFC 2047 where not plain ASCII

// Sends the message: a Simple MAPI result code.
ULONG SendSmtp(const Settings& settings, const Mail& mail);
ULONG SendWithSendmail(const Settings& settings, const Mail& mail);

} // namespace mapi32

#endif // ZANTH_MAPI32_PROVIDER_H
