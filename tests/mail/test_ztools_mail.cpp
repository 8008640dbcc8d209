// ztools mail and ztools mail setup as a user meets them: the built program sends
// through the library's provider (here over a sendmail stand-in) and writes the
// provider's settings file.
#include "mailtest.h"

#include <testsupport.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace {

using mailtest::ReadFile;
using testsupport::TempPath;

testsupport::ChildResult Ztools(std::vector<std::string> args)
{
    args.insert(args.begin(), testsupport::HelperPath("ztools"));
    return testsupport::RunChildWithStdout(args, TempPath("ztools-stdout.txt"));
}

class ZtoolsMailTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (::access(testsupport::HelperPath("ztools").c_str(), X_OK) != 0) {
            GTEST_SKIP() << "ztools is not built";
        }
        ::setenv("ZANTH_DLL_MAPI32", ZANTH_MAPI32_LIBRARY, 1);
        ::setenv("ZANTH_MAIL_SETTINGS", m_Settings.c_str(), 1);
    }
    void TearDown() override
    {
        ::unsetenv("ZANTH_DLL_MAPI32");
        ::unsetenv("ZANTH_MAIL_SETTINGS");
    }
    const std::string m_Settings = TempPath("mail.conf");
};

TEST_F(ZtoolsMailTest, SetupWritesTheSettingsForTheUserOnly)
{
    std::ofstream(m_Settings) << "old = yes\n";
    ::chmod(m_Settings.c_str(), 0644);
    const auto written = Ztools({"mail", "setup", "--server", "smtp.example.org", "--port", "587",
                                 "--user", "me", "--password", "secret"});
    ASSERT_EQ(written.status, 0) << written.output;
    EXPECT_EQ(ReadFile(m_Settings),
              "# Settings of the Simple MAPI provider libmapi32.so (see docs/mail.md).\n"
              "server = smtp.example.org\nport = 587\nuser = me\npassword = secret\n");
    struct stat info;
    ASSERT_EQ(::stat(m_Settings.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    // Without options it asks, which needs a terminal.
    const auto refused = Ztools({"mail", "setup"});
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.output.find("terminal"), std::string::npos) << refused.output;
}

TEST_F(ZtoolsMailTest, MailSendsThroughTheProviderAndReportsFailures)
{
    const std::string program = TempPath("sendmail.sh");
    const std::string received = TempPath("sent.eml");
    std::ofstream(program) << "#!/bin/sh\ncat > '" << received << "'\n";
    ::chmod(program.c_str(), 0700);
    const std::string attachment = TempPath("report.txt");
    std::ofstream(attachment) << "figures";
    ASSERT_EQ(Ztools({"mail", "setup", "--transport", "sendmail", "--sendmail", program, "--from",
                      "me@example.org"})
                  .status,
              0);

    const auto sent = Ztools({"mail", "--to", "ann@example.org;Bob <bob@example.net>", "--subject",
                              "Figures", "--text", "See the file.", "--attach", attachment});
    ASSERT_EQ(sent.status, 0) << sent.output;
    const std::string mail = ReadFile(received);
    EXPECT_NE(mail.find("To: ann@example.org,\r\n Bob <bob@example.net>\r\n"), std::string::npos)
        << mail;
    EXPECT_NE(mail.find("filename=\"report.txt\""), std::string::npos) << mail;

    const auto unknown = Ztools({"mail", "--to", "nobody", "--subject", "x"});
    EXPECT_NE(unknown.status, 0);
    EXPECT_NE(unknown.output.find("[MailErrors 3]"), std::string::npos) << unknown.output;
}

} // namespace
