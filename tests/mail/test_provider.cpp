// The Simple MAPI provider libmapi32.so, end to end: the mail family loads it as
// MAPI32.DLL and sends to an SMTP server on the loopback address that the test
// starts (smtp_server.py, on aiosmtpd), which stores what it received exactly; an
// independent MIME decoder (Python's email package) reads it back.
#include "mailtest.h"

#include <testsupport.h>

#include <zanth/mail.h>

#include <zanth/win32/mapi.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

using mailtest::MailSystemEntry;
using mailtest::ReadFile;
using mailtest::WaitFor;
using testsupport::CatchError;
using testsupport::CaughtError;
using testsupport::TempPath;

void WriteFile(const std::string& path, const std::string& data)
{
    std::ofstream(path, std::ios::binary) << data;
}

bool Exists(const std::string& path)
{
    return ::access(path.c_str(), F_OK) == 0;
}

std::string Unhex(const std::string& hex)
{
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return bytes;
}

// The local SMTP server, from start to SIGTERM.
class SmtpServer
{
public:
    explicit SmtpServer(const std::string& name, const std::string& credentials = "")
        : m_Dir(TempPath(name))
    {
        ::mkdir(m_Dir.c_str(), 0700);
        std::vector<std::string> args = {ZANTH_SYSTEM_PYTHON, ZANTH_SMTP_SERVER, "serve", m_Dir};
        if (!credentials.empty()) {
            args.push_back(credentials);
        }
        std::vector<char*> argv;
        for (std::string& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        if (::posix_spawn(&m_Pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
            m_Pid = 0;
            return;
        }
        if (WaitFor([&] { return Exists(m_Dir + "/port"); })) {
            m_Port = std::stoi(ReadFile(m_Dir + "/port"));
        }
    }
    ~SmtpServer() { Stop(); }
    SmtpServer(const SmtpServer&) = delete;
    SmtpServer& operator=(const SmtpServer&) = delete;

    void Stop()
    {
        if (m_Pid > 0) {
            ::kill(m_Pid, SIGTERM);
            int status = 0;
            ::waitpid(m_Pid, &status, 0);
            m_Pid = 0;
        }
    }
    int Port() const { return m_Port; }
    bool WaitForMessage(int n) const
    {
        return WaitFor([&] { return Exists(Envelope(n)); });
    }
    std::string Envelope(int n) const { return m_Dir + "/envelope-" + std::to_string(n); }
    std::string Message(int n) const { return m_Dir + "/message-" + std::to_string(n) + ".eml"; }

private:
    std::string m_Dir;
    pid_t m_Pid = 0;
    int m_Port = 0;
};

// The message as the decoder reads it.
struct Decoded
{
    std::string subject;
    std::string to;
    std::string text;
    std::vector<std::pair<std::string, std::string>> attachments;
};

Decoded Decode(const std::string& path)
{
    const testsupport::ChildResult child =
        testsupport::RunChild({ZANTH_SYSTEM_PYTHON, ZANTH_SMTP_SERVER, "decode", path});
    EXPECT_EQ(child.status, 0) << child.output;
    Decoded decoded;
    std::istringstream lines(child.output);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string kind, first, second;
        fields >> kind >> first >> second;
        if (kind == "subject") {
            decoded.subject = Unhex(first);
        } else if (kind == "to") {
            decoded.to = line.substr(3);
        } else if (kind == "text") {
            decoded.text = Unhex(first);
        } else if (kind == "attachment") {
            decoded.attachments.emplace_back(Unhex(first), Unhex(second));
        }
    }
    return decoded;
}

const char* const kVariables[] = {
    "ZANTH_DLL_MAPI32",    "ZANTH_MAIL_SETTINGS",  "ZANTH_MAIL_ALIASES", "ZANTH_MAIL_SERVER",
    "ZANTH_MAIL_PORT",     "ZANTH_MAIL_TLS",       "ZANTH_MAIL_FROM",    "ZANTH_MAIL_USER",
    "ZANTH_MAIL_PASSWORD", "ZANTH_MAIL_TRANSPORT", "ZANTH_MAIL_SENDMAIL"};

class ProviderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const testsupport::ChildResult probe =
            testsupport::RunChild({ZANTH_SYSTEM_PYTHON, "-c", "import aiosmtpd.controller"});
        if (probe.status != 0) {
            GTEST_SKIP() << "python3-aiosmtpd is not installed (scripts/deps.sh installs it)";
        }
        ::setenv("ZANTH_DLL_MAPI32", ZANTH_MAPI32_LIBRARY, 1);
        ::setenv("ZANTH_MAIL_SETTINGS", TempPath("mail.conf").c_str(), 1);
        ::setenv("ZANTH_MAIL_ALIASES", TempPath("mail-aliases").c_str(), 1);
        WriteFile(TempPath("mail-aliases"),
                  "# alias = address\nbob = Bob Builder <bob@example.net>\n");
        ::setenv("ZANTH_MAIL_SERVER", "127.0.0.1", 1);
        ::setenv("ZANTH_MAIL_TLS", "none", 1);
        ::setenv("ZANTH_MAIL_FROM", "Me <me@example.org>", 1);
        ClearError();
        m_Mail = TZanthMail::Create();
        m_Mail->SetFileFallback(0);
    }
    void TearDown() override
    {
        TZanthMail::Destroy(&m_Mail);
        for (const char* variable : kVariables) {
            ::unsetenv(variable);
        }
        ClearError();
    }
    void UsePort(int port) { ::setenv("ZANTH_MAIL_PORT", std::to_string(port).c_str(), 1); }

    TZanthMail* m_Mail = nullptr;
};

TEST_F(ProviderTest, SendsAMailWithTwoRecipientsANonAsciiSubjectAndTwoAttachments)
{
    SmtpServer server("smtp");
    ASSERT_NE(server.Port(), 0);
    UsePort(server.Port());

    std::string binary;
    for (int round = 0; round < 12; ++round) {
        for (int byte = 0; byte < 256; ++byte) {
            binary += static_cast<char>(byte);
        }
    }
    const std::string notes = "first line\r\nsecond line\nno end";
    const std::string binaryPath = TempPath("data.bin");
    const std::string notesPath = TempPath("Notizen \xc3\xbc.txt");
    WriteFile(binaryPath, binary);
    WriteFile(notesPath, notes);

    const std::string subject = "Gr\xc3\xbc\xc3\x9f"
                                "e aus K\xc3\xb6ln \xe2\x80\x93 ein Betreff, "
                                "der l\xc3\xa4nger ist als ein Wort \xe2\x9c\x93";
    const std::string text = "Erste Zeile: \xc3\xa4\xc3\xb6\xc3\xbc\nZweite Zeile mit = und "
                             "Leerzeichen am Ende \n.Punkt am Anfang\nFrom here on\n" +
                             std::string(200, 'x') + "\n";
    m_Mail->SetRecipients(TEXT("Ann Example <ann@example.org>;bob"));
    m_Mail->SetSubject(TString::FromAnsi(subject.c_str()));
    m_Mail->SetText(TString::FromAnsi(text.c_str()));
    const std::vector<TString> attachments = {TString::FromAnsi(binaryPath.c_str()),
                                              TString::FromAnsi(notesPath.c_str())};
    m_Mail->SetAttachments(&attachments);
    m_Mail->Logon(0);
    m_Mail->Send(0, 0);
    m_Mail->Logoff(0);

    ASSERT_TRUE(server.WaitForMessage(1));
    EXPECT_EQ(ReadFile(server.Envelope(1)), "me@example.org\nann@example.org\nbob@example.net\n");
    const Decoded decoded = Decode(server.Message(1));
    EXPECT_EQ(decoded.subject, subject);
    EXPECT_EQ(decoded.to, "Ann Example <ann@example.org>, Bob Builder <bob@example.net>");
    std::string received = decoded.text;
    received.erase(std::remove(received.begin(), received.end(), '\r'), received.end());
    EXPECT_EQ(received, text);
    ASSERT_EQ(decoded.attachments.size(), 2u);
    EXPECT_EQ(decoded.attachments[0].first, "data.bin");
    EXPECT_EQ(decoded.attachments[0].second, binary);
    EXPECT_EQ(decoded.attachments[1].first, "Notizen \xc3\xbc.txt");
    EXPECT_EQ(decoded.attachments[1].second, notes);

    // On the wire: encoded words for the subject, short lines, CR LF throughout.
    const std::string raw = ReadFile(server.Message(1));
    EXPECT_NE(raw.find("\r\nSubject: =?UTF-8?B?"), std::string::npos);
    EXPECT_NE(raw.find("Content-Transfer-Encoding: quoted-printable\r\n"), std::string::npos);
    std::string::size_type start = 0;
    for (std::string::size_type end; (end = raw.find('\n', start)) != std::string::npos;
         start = end + 1) {
        ASSERT_GT(end, start);
        EXPECT_EQ(raw[end - 1], '\r') << "bare LF at " << end;
        EXPECT_LE(end - 1 - start, 78u) << raw.substr(start, end - start);
    }
}

TEST_F(ProviderTest, FailuresReachTheCallerAsMapiResults)
{
    SmtpServer guarded("smtp-auth", "user:right");
    ASSERT_NE(guarded.Port(), 0);
    int closedPort = 0;
    {
        SmtpServer gone("smtp-gone");
        closedPort = gone.Port();
    }
    ASSERT_NE(closedPort, 0);
    const std::string missing = TempPath("missing.pdf");
    struct Case
    {
        const char* name;
        int port;
        const char* password;
        std::string recipients;
        std::vector<std::string> attachments;
        ULONG result;
        std::string detail;
        WORD below;
    };
    const Case cases[] = {
        {"missing attachment",
         guarded.Port(),
         "right",
         "ann@example.org",
         {missing},
         MAPI_E_ATTACHMENT_NOT_FOUND,
         "'" + missing + "'\n",
         2},
        {"refused connection",
         closedPort,
         "right",
         "ann@example.org",
         {},
         MAPI_E_NETWORK_FAILURE,
         "",
         2},
        {"refused login",
         guarded.Port(),
         "wrong",
         "ann@example.org",
         {},
         MAPI_E_LOGIN_FAILURE,
         "",
         2},
        {"unknown recipient",
         guarded.Port(),
         "right",
         "ann@example.org;no address here",
         {},
         MAPI_E_UNKNOWN_RECIPIENT,
         "no address here",
         3},
    };
    ::setenv("ZANTH_MAIL_USER", "user", 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UsePort(c.port);
        ::setenv("ZANTH_MAIL_PASSWORD", c.password, 1);
        m_Mail->SetRecipients(TString::FromAnsi(c.recipients.c_str()));
        std::vector<TString> files;
        for (const std::string& file : c.attachments) {
            files.push_back(TString::FromAnsi(file.c_str()));
        }
        m_Mail->SetAttachments(&files);
        m_Mail->Logon(0);
        const CaughtError raised = CatchError([&] { m_Mail->Send(0, 0); });
        ASSERT_TRUE(raised.raised);
        EXPECT_EQ(raised.message, 31);
        EXPECT_NE(raised.stack.find("[MailErrors " + std::to_string(c.below) + "]"),
                  std::string::npos)
            << raised.stack;
        EXPECT_NE(raised.stack.find(MailSystemEntry(c.result, TString::FromAnsi(c.detail.c_str()))),
                  std::string::npos)
            << raised.stack;
        m_Mail->Logoff(0);
    }
    // The right login goes through.
    UsePort(guarded.Port());
    ::setenv("ZANTH_MAIL_PASSWORD", "right", 1);
    m_Mail->SetRecipients(TEXT("ann@example.org"));
    m_Mail->SetAttachments(nullptr);
    m_Mail->Logon(0);
    m_Mail->Send(0, 0);
    EXPECT_TRUE(guarded.WaitForMessage(1));
}

TEST_F(ProviderTest, LogonChecksTheSettingsNotTheNetwork)
{
    // Nothing listens on the port, and nothing needs to for a logon.
    UsePort(9);
    m_Mail->Logon(0);
    m_Mail->Logoff(0);

    ::unsetenv("ZANTH_MAIL_SERVER");
    CaughtError raised = CatchError([&] { m_Mail->Logon(0); });
    ASSERT_TRUE(raised.raised);
    EXPECT_EQ(raised.message, 0);
    EXPECT_NE(raised.stack.find(MailSystemEntry(MAPI_E_FAILURE, TString())), std::string::npos)
        << raised.stack;

    // A password in a settings file that others may read is refused.
    WriteFile(TempPath("mail.conf"), "server = 127.0.0.1\nuser = me\npassword = secret\n");
    ::chmod(TempPath("mail.conf").c_str(), 0644);
    raised = CatchError([&] { m_Mail->Logon(0); });
    ASSERT_TRUE(raised.raised);
    EXPECT_NE(raised.stack.find(MailSystemEntry(MAPI_E_ACCESS_DENIED, TString())),
              std::string::npos)
        << raised.stack;
    ::chmod(TempPath("mail.conf").c_str(), 0600);
    m_Mail->Logon(0);
}

TEST_F(ProviderTest, SendsThroughSendmailWhenConfiguredSo)
{
    const std::string program = TempPath("sendmail.sh");
    const std::string args = TempPath("sendmail-args");
    const std::string received = TempPath("sendmail-mail");
    WriteFile(program, "#!/bin/sh\necho \"$@\" > '" + args + "'\ncat > '" + received + "'\n");
    ::chmod(program.c_str(), 0700);
    ::setenv("ZANTH_MAIL_TRANSPORT", "sendmail", 1);
    ::setenv("ZANTH_MAIL_SENDMAIL", program.c_str(), 1);
    m_Mail->SetRecipients(TEXT("ann@example.org"));
    m_Mail->SetSubject(TEXT("Plain"));
    m_Mail->SetText(TEXT("Hello"));
    m_Mail->Logon(0);
    m_Mail->Send(0, 0);
    EXPECT_EQ(ReadFile(args), "-t -i\n");
    const std::string mail = ReadFile(received);
    EXPECT_NE(mail.find("To: ann@example.org\r\n"), std::string::npos) << mail;
    EXPECT_NE(mail.find("Subject: Plain\r\n"), std::string::npos) << mail;
    EXPECT_NE(mail.find("\r\n\r\nHello\r\n"), std::string::npos) << mail;

    // A sendmail that fails is a failed send.
    WriteFile(program, "#!/bin/sh\nexit 75\n");
    const CaughtError raised = CatchError([&] { m_Mail->Send(0, 0); });
    EXPECT_TRUE(raised.raised);
    EXPECT_NE(raised.stack.find(MailSystemEntry(MAPI_E_FAILURE, TString())), std::string::npos);
}

TEST_F(ProviderTest, TheMailThreadSendsOnItsOwn)
{
    SmtpServer server("smtp-thread");
    ASSERT_NE(server.Port(), 0);
    UsePort(server.Port());
    CZanthMailThread::SendMail(0, TEXT("bob"), TEXT("From the thread"), TEXT("Text"));
    ASSERT_TRUE(server.WaitForMessage(1));
    EXPECT_EQ(ReadFile(server.Envelope(1)), "me@example.org\nbob@example.net\n");
    EXPECT_EQ(Decode(server.Message(1)).subject, "From the thread");
}

} // namespace
