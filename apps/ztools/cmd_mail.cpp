// The mail family's part of ztools: `mail` sends a mail through the Simple MAPI
// client (on Linux the library's libmapi32.so), `mail setup` writes that
// provider's settings file.
#include "commands.h"

#include <zanth/mail.h>

#include <zanth/win32/zanthext.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <vector>

namespace ztools {
namespace {

struct SendOptions
{
    std::string to;
    std::string subject;
    std::string text;
    std::string sender;
    std::vector<std::string> attachments;
    bool fallback = false;
    bool dialog = false;
};

void RunSend(const SendOptions& options)
{
    TZanthMailPtr mail;
    if (!mail.Get()) {
        throw std::bad_alloc();
    }
    mail->SetRecipients(TString::FromAnsi(options.to.c_str()));
    mail->SetSubject(TString::FromAnsi(options.subject.c_str()));
    mail->SetText(TString::FromAnsi(options.text.c_str()));
    mail->SetSender(TString::FromAnsi(options.sender.c_str()));
    std::vector<TString> files;
    for (const std::string& file : options.attachments) {
        files.push_back(FileNameArgument(file));
    }
    mail->SetAttachments(&files);
    mail->SetFileFallback(options.fallback ? 1 : 0);
    mail->Logon(0);
    mail->Send(options.dialog ? 1 : 0, 0);
    mail->Logoff(0);
}

// Where the provider reads its settings (see docs/mail.md).
std::filesystem::path SettingsPath()
{
    if (const char* named = std::getenv("ZANTH_MAIL_SETTINGS"); named && *named) {
        return named;
    }
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config) {
        return std::filesystem::path(config) / "zanth" / "mail.conf";
    }
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home && *home ? home : ".") / ".config" / "zanth" / "mail.conf";
}

// The keys of the settings file, in the order they are written and asked for.
const char* const kKeys[] = {"transport", "server",   "port", "tls",
                             "user",      "password", "from", "sendmail"};

std::string Ask(const std::string& key, const std::string& fallback)
{
    std::cerr << key << (fallback.empty() ? "" : " [" + fallback + "]") << ": " << std::flush;
    std::string line;
    if (!std::getline(std::cin, line)) {
        throw CLI::RuntimeError(1);
    }
    return line.empty() ? fallback : line;
}

void RunSetup(std::map<std::string, std::string> values)
{
    bool given = false;
    for (const auto& [key, value] : values) {
        given = given || !value.empty();
    }
    if (!given) {
        if (!ZanthStreamIsTerminal(stdin)) {
            std::cerr << "ztools mail setup: give the settings as options, or run it on a "
                         "terminal to be asked for them\n";
            throw CLI::RuntimeError(2);
        }
        values["transport"] = Ask("transport (smtp or sendmail)", "smtp");
        if (values["transport"] == "sendmail") {
            values["sendmail"] = Ask("sendmail program", "/usr/sbin/sendmail");
        } else {
            values["server"] = Ask("SMTP server", "");
            values["tls"] = Ask("tls (none, starttls or tls)", "starttls");
            values["port"] = Ask("port", values["tls"] == "tls" ? "465" : "587");
            values["user"] = Ask("user (empty: no login)", "");
            if (!values["user"].empty()) {
                values["password"] = Ask("password", "");
            }
        }
        values["from"] = Ask("sender address", "");
    }
    std::string text = "# Settings of the Simple MAPI provider libmapi32.so (see docs/mail.md).\n";
    for (const char* key : kKeys) {
        if (!values[key].empty()) {
            if (values[key].find('\n') != std::string::npos) {
                std::cerr << "ztools mail setup: " << key << " must be one line\n";
                throw CLI::RuntimeError(2);
            }
            text += std::string(key) + " = " + values[key] + "\n";
        }
    }
    const std::filesystem::path path = SettingsPath();
    std::filesystem::create_directories(path.parent_path());
    // The file may hold a password: it is made anew, readable by the user only.
    const TString name = FileNameArgument(path.string());
    ::DeleteFileW(name);
    TAutoFile file;
    file.Open(name, GENERIC_WRITE, 0, CREATE_NEW,
              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT | ZANTH_FILE_FLAG_OWNER_ONLY);
    file.PutText(TString::FromAnsi(text.c_str()));
    file.Close();
    std::cout << "wrote " << path.string() << "\n";
}

} // namespace

void AddMailCommands(CLI::App& app)
{
    CLI::App* mail = app.add_subcommand("mail", "Send a mail through the Simple MAPI client");
    auto send = std::make_shared<SendOptions>();
    mail->add_option("--to", send->to, "Recipients, separated by ';'");
    mail->add_option("--subject", send->subject, "Subject");
    mail->add_option("--text", send->text, "Text");
    mail->add_option("--sender", send->sender, "Sender address (default: the provider's)");
    mail->add_option("--attach", send->attachments, "A file to attach (repeatable)");
    mail->add_flag("--fallback", send->fallback,
                   "When mail cannot be sent, offer to write it into a file instead");
    mail->add_flag("--dialog", send->dialog, "Ask the client to show its send dialog");
    mail->require_subcommand(0, 1);

    auto values = std::make_shared<std::map<std::string, std::string>>();
    CLI::App* setup = mail->add_subcommand(
        "setup", "Write the provider's settings file (asks on a terminal when given no options)");
    for (const char* key : kKeys) {
        setup->add_option(std::string("--") + key, (*values)[key]);
    }
    setup->callback([values] { RunSetup(*values); });

    mail->callback([mail, send] {
        if (!mail->get_subcommands().empty()) {
            return;
        }
        if (send->to.empty()) {
            std::cerr << "ztools mail: --to is required\n";
            throw CLI::RuntimeError(2);
        }
        RunSend(*send);
    });
}

} // namespace ztools
