// Mail over Simple MAPI, against a scripted client that records every call: name
// resolution, the message records, logon retries, the error stacks of failures,
// logoff, the file fallback, the mail thread and the result-code texts.
#include "mailtest.h"
#include "scripted_mapi.h"

#include <testsupport.h>

#include <zanth/mail.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using mailtest::MailSystemEntry;
using mailtest::ReadFile;
using mailtest::WaitFor;
using testsupport::CatchError;
using testsupport::CaughtError;
using testsupport::MessageBoxScript;

namespace {

const char* const kClientVariable = "ZANTH_DLL_MAPI32";

// The entries' markers appear in this order in the stack text (top first).
void ExpectOrder(const std::string& stack, const std::vector<std::string>& markers)
{
    std::string::size_type at = 0;
    for (const std::string& marker : markers) {
        const std::string::size_type found = stack.find(marker, at);
        ASSERT_NE(found, std::string::npos) << marker << " missing in order in:\n" << stack;
        at = found + marker.size();
    }
}

std::vector<std::string> Calls(const std::string& prefix)
{
    std::vector<std::string> found;
    for (const std::string& call : scripted::Snapshot().calls) {
        if (call.rfind(prefix, 0) == 0) {
            found.push_back(call);
        }
    }
    return found;
}

class MailTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ::setenv(kClientVariable, ZANTH_SCRIPTED_MAPI, 1);
        scripted::Reset();
        ClearError();
        m_Mail = TZanthMail::Create();
        ASSERT_NE(m_Mail, nullptr);
        m_Mail->SetFileFallback(0);
        m_Mail->SetProfile(TEXT("profile"));
        m_Mail->SetPassword(TEXT("secret"));
    }
    void TearDown() override
    {
        TZanthMail::Destroy(&m_Mail);
        ::unsetenv(kClientVariable);
        ClearError();
    }

    TZanthMail* m_Mail = nullptr;
};

TEST_F(MailTest, ResolvesTheNamesInOrderUpToTheFirstFailure)
{
    struct Case
    {
        const WCHAR* names;
        std::vector<std::string> tried;
        int resolved;
    };
    const Case cases[] = {
        {TEXT("ann;bob"), {"ann", "bob"}, 1},
        {TEXT("ann;bob;"), {"ann", "bob"}, 1},
        {TEXT("ann"), {"ann"}, 1},
        {TEXT(""), {}, 1},
        {TEXT("ann;bad;carl"), {"ann", "bad"}, 0},
        {TEXT("bad;ann"), {"bad"}, 0},
    };
    m_Mail->Logon(0);
    for (const Case& c : cases) {
        SCOPED_TRACE(TString(c.names).AsAnsi());
        scripted::Edit([](scripted::Script& script) {
            script.calls.clear();
            script.unresolved["bad"] = MAPI_E_UNKNOWN_RECIPIENT;
        });
        EXPECT_EQ(m_Mail->ResolveNames(0, c.names), c.resolved);
        std::vector<std::string> expected;
        for (const std::string& name : c.tried) {
            expected.push_back("MAPIResolveName 7 " + name + " 0x1");
        }
        EXPECT_EQ(Calls("MAPIResolveName"), expected);
        // Every entry the client handed out went back to it at once.
        EXPECT_EQ(scripted::Snapshot().outstanding, 0);
        EXPECT_EQ(Calls("MAPIFreeBuffer").size(), c.resolved ? c.tried.size() : c.tried.size() - 1);
        if (!c.resolved) {
            // The failed name is reported on the stack, nothing is raised.
            EXPECT_EQ(GetErrorText().AsAnsi(),
                      MailSystemEntry(MAPI_E_UNKNOWN_RECIPIENT, TEXT("bad")));
        }
        ClearError();
    }
}

TEST_F(MailTest, SendHandsTheClientTheMessageRecords)
{
    const std::string longPath = "/" + std::string(299, 'p');
    // 258 bytes and a two-byte character: the cut keeps the character out whole.
    const std::string accented = std::string(258, 'q') + "\xc3\xa9";
    m_Mail->SetSender(TEXT("Me <me@example.org>"));
    m_Mail->SetRecipients(TEXT("ann;bob"));
    m_Mail->SetSubject(TEXT("Grüße"));
    m_Mail->SetText(TEXT("Hello\nthere"));
    const std::vector<TString> attachments = {TEXT("/tmp/one.pdf"),
                                              TString::FromAnsi(longPath.c_str()),
                                              TString::FromAnsi(accented.c_str())};
    m_Mail->SetAttachments(&attachments);
    m_Mail->Logon(0);
    m_Mail->Send(0, 0);
    m_Mail->Send(1, 0);

    const scripted::Script script = scripted::Snapshot();
    ASSERT_EQ(script.sent.size(), 2u);
    EXPECT_EQ(script.sent[0].callFlags, 0u);
    EXPECT_EQ(script.sent[1].callFlags, MAPI_DIALOG);
    const scripted::Message& sent = script.sent[0];
    EXPECT_EQ(sent.subject, "Grüße");
    EXPECT_EQ(sent.text, "Hello\nthere");
    EXPECT_TRUE(sent.messageTypeNull && sent.dateNull && sent.conversationNull);
    EXPECT_EQ(sent.flags, MAPI_SENT);
    EXPECT_EQ(sent.originator.recipClass, MAPI_ORIG);
    EXPECT_EQ(sent.originator.name, "Me <me@example.org>");
    EXPECT_EQ(sent.originator.address, "Me <me@example.org>");
    EXPECT_EQ(sent.originator.entryIdSize, 0u);
    EXPECT_TRUE(sent.originator.entryIdNull);
    ASSERT_EQ(sent.recipients.size(), 2u);
    EXPECT_EQ(sent.recipients[0].name, "ann");
    EXPECT_EQ(sent.recipients[1].name, "bob");
    for (const scripted::Recipient& recipient : sent.recipients) {
        EXPECT_EQ(recipient.recipClass, MAPI_TO);
    }
    const std::vector<std::string> paths = {"/tmp/one.pdf", longPath.substr(0, 259),
                                            std::string(258, 'q')};
    ASSERT_EQ(sent.files.size(), paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        EXPECT_EQ(sent.files[i].path, paths[i]);
        EXPECT_EQ(sent.files[i].name, paths[i]);
        EXPECT_EQ(sent.files[i].flags, 0u);
        EXPECT_EQ(sent.files[i].position, 0xFFFFFFFFu);
        EXPECT_TRUE(sent.files[i].typeNull);
    }
    EXPECT_EQ(script.outstanding, 0);
}

TEST_F(MailTest, AnUnresolvedNameStopsTheSendWithItsErrorsInOrder)
{
    scripted::Edit(
        [](scripted::Script& script) { script.unresolved["bad"] = MAPI_E_AMBIGUOUS_RECIPIENT; });
    m_Mail->SetRecipients(TEXT("ann;bad;carl"));
    m_Mail->Logon(0);
    const CaughtError raised = CatchError([&] { m_Mail->Send(0, 0); });
    ASSERT_TRUE(raised.raised);
    EXPECT_EQ(raised.catalog, static_cast<WORD>(MailErrors));
    EXPECT_EQ(raised.message, 31);
    ExpectOrder(raised.stack, {"[MailErrors 31]", "[MailErrors 3]", "[system error",
                               MailSystemEntry(MAPI_E_AMBIGUOUS_RECIPIENT, TEXT("bad"))});
    EXPECT_EQ(Calls("MAPIResolveName"),
              (std::vector<std::string>{"MAPIResolveName 7 ann 0x1", "MAPIResolveName 7 bad 0x1"}));
    EXPECT_TRUE(Calls("MAPISendMail").empty());
    EXPECT_EQ(scripted::Snapshot().outstanding, 0);
    EXPECT_EQ(GetPendingCount(), 0);
}

TEST_F(MailTest, SendWhileLoggedOffCallsNothing)
{
    m_Mail->SetRecipients(TEXT("ann"));
    m_Mail->Send(0, 0);
    m_Mail->Logon(0);
    m_Mail->Logoff(0);
    scripted::Reset();
    m_Mail->Send(1, 0);
    EXPECT_EQ(m_Mail->ResolveNames(0, TEXT("ann")), 0);
    EXPECT_TRUE(scripted::Snapshot().calls.empty());
}

TEST_F(MailTest, SendResultsAndTheirDetails)
{
    struct Case
    {
        ULONG result;
        bool raised;
        const WCHAR* detail;
    };
    const Case cases[] = {
        {SUCCESS_SUCCESS, false, TEXT("")},
        {MAPI_USER_ABORT, false, TEXT("")},
        {MAPI_E_FAILURE, true, TEXT("")},
        {MAPI_E_DISK_FULL, true, TEXT("'/tmp/a.txt'\n'/tmp/b c.txt'\n")},
        {MAPI_E_ATTACHMENT_NOT_FOUND, true, TEXT("'/tmp/a.txt'\n'/tmp/b c.txt'\n")},
        {MAPI_E_ATTACHMENT_OPEN_FAILURE, true, TEXT("'/tmp/a.txt'\n'/tmp/b c.txt'\n")},
        {MAPI_E_ATTACHMENT_WRITE_FAILURE, true, TEXT("'/tmp/a.txt'\n'/tmp/b c.txt'\n")},
        {MAPI_E_UNKNOWN_RECIPIENT, true, TEXT("ann;bob")},
        {MAPI_E_BAD_RECIPTYPE, true, TEXT("ann;bob")},
        {MAPI_E_AMBIGUOUS_RECIPIENT, true, TEXT("ann;bob")},
        {MAPI_E_INVALID_RECIPS, true, TEXT("")},
        {MAPI_E_NETWORK_FAILURE, true, TEXT("")},
    };
    MessageBoxScript boxes(IDOK);
    m_Mail->SetRecipients(TEXT("ann;bob"));
    const std::vector<TString> attachments = {TEXT("/tmp/a.txt"), TEXT("/tmp/b c.txt")};
    m_Mail->SetAttachments(&attachments);
    m_Mail->Logon(0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.result);
        scripted::Edit([&](scripted::Script& script) { script.sendResult = c.result; });
        const CaughtError raised = CatchError([&] { m_Mail->Send(0, 0); });
        EXPECT_EQ(raised.raised, c.raised);
        EXPECT_EQ(GetErrorCount(), 0u);
        if (c.raised) {
            ExpectOrder(raised.stack, {"[MailErrors 31]", "[MailErrors 2]",
                                       MailSystemEntry(c.result, c.detail), "[system error"});
        }
    }
    EXPECT_EQ(scripted::Snapshot().sent.size(), std::size(cases));
    EXPECT_TRUE(boxes.Boxes().empty());
}

TEST_F(MailTest, LogonRetriesWithTheirFlags)
{
    using Answers = std::deque<scripted::LogonAnswer>;
    struct Case
    {
        const char* name;
        Answers answers;
        std::vector<std::string> calls;
        bool loggedOn;
    };
    const std::string first = "MAPILogon profile secret 0x0";
    const std::string again = "MAPILogon profile secret 0x42";
    const std::string password = "MAPILogon null null 0x20002";
    const std::string dialog = "MAPILogon null null 0x3";
    const Case cases[] = {
        {"at once", {}, {first}, true},
        {"no session at first", {{0, 0}}, {first, again}, true},
        {"login failure, then the password dialog",
         {{3, 0}, {3, 0}},
         {first, again, password},
         true},
        {"login failure throughout, then the logon dialog",
         {{3, 0}, {3, 0}, {3, 0}},
         {first, again, password, dialog},
         true},
        {"every attempt refused",
         {{3, 0}, {3, 0}, {3, 0}, {3, 0}},
         {first, again, password, dialog},
         false},
        {"a failure with a session", {{MAPI_E_FAILURE, 5}}, {first}, false},
        {"a failure after a new session",
         {{0, 0}, {MAPI_E_TOO_MANY_SESSIONS, 0}},
         {first, again},
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        scripted::Reset();
        scripted::Edit([&](scripted::Script& script) { script.logonAnswers = c.answers; });
        const CaughtError raised = CatchError([&] { m_Mail->Logon(0); });
        EXPECT_EQ(Calls("MAPILogon"), c.calls);
        EXPECT_EQ(raised.raised, !c.loggedOn);
        if (raised.raised) {
            EXPECT_EQ(raised.catalog, static_cast<WORD>(MailErrors));
            EXPECT_EQ(raised.message, 0);
            const ULONG result = c.answers.back().result;
            ExpectOrder(raised.stack,
                        {"[MailErrors 0]", MailSystemEntry(result, nullptr), "[system error"});
        }
        // Logged on exactly when the logon worked: only then does Logoff reach the client.
        m_Mail->Logoff(0);
        EXPECT_EQ(Calls("MAPILogoff").size(), c.loggedOn ? 1u : 0u);
    }
}

TEST_F(MailTest, AnEmptyProfileBecomesTheUserName)
{
    WCHAR user[1024];
    DWORD size = 1024;
    ASSERT_TRUE(::GetUserNameW(user, &size));
    m_Mail->SetProfile(nullptr);
    m_Mail->SetPassword(nullptr);
    m_Mail->Logon(0);
    EXPECT_EQ(Calls("MAPILogon"),
              (std::vector<std::string>{"MAPILogon " + TString(user).AsAnsi() + "  0x0"}));
    EXPECT_EQ(TString(m_Mail->GetProfile()), TString(user));
}

TEST_F(MailTest, AMissingClientOrEntryPointIsRaised)
{
    ::setenv(kClientVariable, "", 1);
    CaughtError raised = CatchError([&] { m_Mail->Logon(0); });
    ASSERT_TRUE(raised.raised);
    EXPECT_EQ(raised.catalog, static_cast<WORD>(GeneralErrors));
    EXPECT_EQ(raised.message, 10);
    EXPECT_NE(raised.stack.find("\"MAPI32.DLL\""), std::string::npos) << raised.stack;

    ::setenv(kClientVariable, ZANTH_PARTIAL_MAPI, 1);
    raised = CatchError([&] { m_Mail->Logon(0); });
    ASSERT_TRUE(raised.raised);
    EXPECT_EQ(raised.catalog, static_cast<WORD>(GeneralErrors));
    EXPECT_EQ(raised.message, 11);
    EXPECT_NE(raised.stack.find("\"MAPIFreeBuffer\""), std::string::npos) << raised.stack;
    EXPECT_EQ(GetPendingCount(), 0);
}

TEST_F(MailTest, LogoffFailureIsShownNotRaised)
{
    MessageBoxScript boxes(IDOK);
    m_Mail->Logon(0);
    scripted::Edit([](scripted::Script& script) { script.logoffResult = MAPI_E_INVALID_SESSION; });
    m_Mail->Logoff(0);
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    const std::string shown = boxes.Boxes()[0].text;
    ExpectOrder(shown, {"[MailErrors 1]", "IZanthMail.cpp:694",
                        MailSystemEntry(MAPI_E_INVALID_SESSION, nullptr), "[system error"});
    EXPECT_EQ(GetErrorCount(), 0u);
    // Logged off all the same: a second Logoff reaches nothing.
    m_Mail->Logoff(0);
    EXPECT_EQ(Calls("MAPILogoff").size(), 1u);
    EXPECT_EQ(boxes.Boxes().size(), 1u);
}

TEST_F(MailTest, DestroyingTheObjectLogsOff)
{
    m_Mail->Logon(0);
    TZanthMail::Destroy(&m_Mail);
    EXPECT_EQ(m_Mail, nullptr);
    EXPECT_EQ(Calls("MAPILogoff"), (std::vector<std::string>{"MAPILogoff 7"}));
    {
        TZanthMailPtr held;
        ASSERT_TRUE(held.Get());
        held->Logon(0);
    }
    EXPECT_EQ(Calls("MAPILogoff").size(), 2u);
}

TEST_F(MailTest, SettersCopyAndClearEmpties)
{
    m_Mail->SetSubject(TEXT("s"));
    m_Mail->SetText(nullptr);
    EXPECT_EQ(TString(m_Mail->GetText()), TString());
    std::vector<TString> files = {TEXT("/a"), TEXT("/b")};
    m_Mail->SetAttachments(&files);
    files.clear();
    EXPECT_EQ(m_Mail->GetAttachments().size(), 2u);
    m_Mail->SetAttachments(nullptr);
    EXPECT_TRUE(m_Mail->GetAttachments().empty());
    EXPECT_EQ(m_Mail->GetFileFallback(), 0);
    m_Mail->Clear();
    EXPECT_EQ(TString(m_Mail->GetSubject()), TString());
    EXPECT_EQ(TString(m_Mail->GetProfile()), TString());
    TZanthMail* fresh = TZanthMail::Create();
    EXPECT_EQ(fresh->GetFileFallback(), 1);
    TZanthMail::Destroy(&fresh);
    TZanthMail::Destroy(&fresh);
}

// --- The file fallback ------------------------------------------------------------

class MailFallbackTest : public MailTest
{
protected:
    void SetUp() override
    {
        MailTest::SetUp();
        m_Mail->SetFileFallback(1);
        m_Mail->SetRecipients(TEXT("ann;bob"));
        m_Mail->SetSubject(TEXT("Hello\r\nworld"));
        m_Mail->SetText(TEXT("one\ntwo\r\nthree"));
        m_Mail->SetSender(TEXT("not written"));
        m_File = testsupport::TempPath("eMail.txt");
        m_Opened = testsupport::TempPath("opened");
        // The opener records the file it was given.
        const std::string opener = testsupport::TempPath("opener.sh");
        std::ofstream(opener) << "#!/bin/sh\nprintf '%s' \"$1\" > '" << m_Opened << ".part' && mv '"
                              << m_Opened << ".part' '" << m_Opened << "'\n";
        ::chmod(opener.c_str(), 0700);
        ::setenv(ZANTH_OPENER_ENV, opener.c_str(), 1);
    }
    void TearDown() override
    {
        ::unsetenv(ZANTH_OPENER_ENV);
        MailTest::TearDown();
    }

    static constexpr const char* kWritten = "To: ann;bob\r\n\r\n"
                                            "Subject: Hello\r\nworld\r\n\r\n"
                                            "Text:\r\none\r\ntwo\r\nthree\r\n";
    std::string m_File;
    std::string m_Opened;
};

TEST_F(MailFallbackTest, WithoutAClientYesWritesTheFileAndOpensIt)
{
    ::setenv(kClientVariable, "", 1);
    MessageBoxScript boxes(IDYES);
    m_Mail->Logon(0);
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].type, MB_YESNO | MB_ICONQUESTION);
    EXPECT_EQ(boxes.Boxes()[0].text, GetMessageW(FindCatalog(TEXT("TZanthMailCode::msg")), 0,
                                                 TString(), TString(), TString())
                                         .AsAnsi());
    EXPECT_EQ(ReadFile(m_File), kWritten);
    struct stat info;
    ASSERT_EQ(::lstat(m_File.c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    ASSERT_TRUE(WaitFor([&] { return ::access(m_Opened.c_str(), F_OK) == 0; }));
    EXPECT_EQ(ReadFile(m_Opened), m_File);
    EXPECT_EQ(GetErrorCount(), 0u);
}

TEST_F(MailFallbackTest, NoWritesNothing)
{
    ::setenv(kClientVariable, "", 1);
    MessageBoxScript boxes(IDNO);
    m_Mail->Logon(0);
    EXPECT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_NE(::access(m_File.c_str(), F_OK), 0);
    EXPECT_EQ(GetErrorCount(), 0u);
}

TEST_F(MailFallbackTest, APlantedLinkIsNotFollowed)
{
    ::setenv(kClientVariable, "", 1);
    const std::string victim = testsupport::TempPath("victim");
    std::ofstream(victim) << "precious";
    ASSERT_EQ(::symlink(victim.c_str(), m_File.c_str()), 0);
    MessageBoxScript boxes(IDYES);
    m_Mail->Logon(0);
    EXPECT_EQ(ReadFile(victim), "precious");
    struct stat info;
    ASSERT_EQ(::lstat(m_File.c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(ReadFile(m_File), kWritten);
}

TEST_F(MailFallbackTest, WithoutAnOpenerTheWrittenFileIsNamedInAnErrorBox)
{
    ::setenv(kClientVariable, "", 1);
    ::setenv(ZANTH_OPENER_ENV, "/nonexistent/opener", 1);
    MessageBoxScript boxes(IDYES);
    m_Mail->Logon(0);
    ASSERT_EQ(boxes.Boxes().size(), 2u);
    const std::string shown = boxes.Boxes()[1].text;
    EXPECT_NE(shown.find(m_File), std::string::npos) << shown;
    EXPECT_NE(shown.find("IZanthMail.cpp:773"), std::string::npos) << shown;
    EXPECT_EQ(ReadFile(m_File), kWritten);
    EXPECT_EQ(GetErrorCount(), 0u);
}

TEST_F(MailFallbackTest, AFailedLogonOrSendFallsBackInsteadOfRaising)
{
    // Refused logon: No leaves the error stack as it was.
    scripted::Edit([](scripted::Script& script) {
        script.logonAnswers = {{3, 0}, {3, 0}, {3, 0}, {3, 0}};
    });
    {
        MessageBoxScript boxes(IDNO);
        m_Mail->Logon(0);
        EXPECT_EQ(boxes.Boxes().size(), 1u);
        EXPECT_EQ(GetErrorCount(), 0u);
        EXPECT_EQ(GetPendingCount(), 0);
    }
    // A failed send: Yes writes the file.
    scripted::Edit([](scripted::Script& script) { script.sendResult = MAPI_E_FAILURE; });
    MessageBoxScript boxes(IDYES);
    m_Mail->Logon(0);
    m_Mail->Send(0, 0);
    EXPECT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(ReadFile(m_File), kWritten);
    EXPECT_EQ(GetErrorCount(), 0u);
    // The user's cancel is not a failure: no question.
    scripted::Edit([](scripted::Script& script) { script.sendResult = MAPI_USER_ABORT; });
    m_Mail->Send(1, 0);
    EXPECT_EQ(boxes.Boxes().size(), 1u);
}

// --- The mail thread ---------------------------------------------------------------

TEST_F(MailTest, TheMailThreadSendsWithTheDialogAndShowsItsFailures)
{
    CZanthMailThread::SendMail(0, TEXT("ann;bob"), TEXT("Subject"), TEXT("Text"));
    ASSERT_TRUE(WaitFor([] { return !Calls("MAPILogoff").empty(); }));
    scripted::Script script = scripted::Snapshot();
    ASSERT_EQ(script.sent.size(), 1u);
    EXPECT_EQ(script.sent[0].callFlags, MAPI_DIALOG);
    EXPECT_EQ(script.sent[0].subject, "Subject");
    ASSERT_EQ(script.sent[0].recipients.size(), 2u);
    EXPECT_EQ(script.sent[0].recipients[1].name, "bob");

    scripted::Reset();
    scripted::Edit([](scripted::Script& script) { script.sendResult = MAPI_E_NETWORK_FAILURE; });
    testsupport::LogCapture log;
    MessageBoxScript boxes(IDOK);
    CZanthMailThread::SendMail(0, TEXT("ann"), TEXT("Subject"), TEXT("Text"));
    ASSERT_TRUE(WaitFor([&] { return !boxes.Boxes().empty() && !Calls("MAPILogoff").empty(); }));
    const std::string shown = boxes.Boxes()[0].text;
    ExpectOrder(shown, {"[MailErrors 31]", "ZanthMail.cpp:125", "[MailErrors 2]",
                        MailSystemEntry(MAPI_E_NETWORK_FAILURE, TEXT(""))});
    EXPECT_EQ(log.Count(boxes.Boxes()[0].text), 1u);
}

// --- Result-code texts -------------------------------------------------------------

TEST(MailErrorText, EveryCodeHasItsMessage)
{
    const std::pair<ULONG, WORD> rows[] = {
        {1, 6},   {2, 7},   {3, 8},   {4, 9},   {5, 10},  {6, 11},  {8, 12},  {9, 13},
        {10, 14}, {11, 15}, {12, 16}, {13, 17}, {14, 18}, {25, 18}, {15, 19}, {16, 20},
        {17, 21}, {18, 22}, {19, 23}, {22, 26}, {23, 27}, {26, 30},
    };
    for (const auto& [code, message] : rows) {
        SCOPED_TRACE(code);
        ASSERT_TRUE(HasMessageText(MailErrors, message));
        const TString text = GetMailErrorText(code, TEXT("DETAIL"));
        EXPECT_EQ(text, GetMessageW(MailErrors, message, TEXT("DETAIL"), TString(), TString()));
        EXPECT_NE(text.Find(TEXT("DETAIL")), -1);
    }
    for (ULONG code : {0u, 7u, 20u, 21u, 24u, 27u, 1000u}) {
        SCOPED_TRACE(code);
        const TString text = GetMailErrorText(code, TEXT("DETAIL"));
        EXPECT_EQ(text, GetMessageW(GeneralErrors, 12, TString(static_cast<LONG>(code), 10),
                                    TString(), TString()));
        EXPECT_EQ(text.Find(TEXT("DETAIL")), -1);
    }
}

TEST(MailErrorText, TheMailCatalogsHaveTheirTexts)
{
    const WORD mail = FindCatalog(TEXT("TZanthMailCode::msg"));
    ASSERT_NE(mail, 0);
    for (WORD message = 0; message <= 4; ++message) {
        EXPECT_TRUE(HasMessageText(mail, message)) << message;
    }
    for (WORD message : {0, 1, 2, 3, 31}) {
        EXPECT_TRUE(HasMessageText(MailErrors, message)) << message;
    }
    EXPECT_TRUE(HasMessageText(GeneralMessages, 30));
    for (WORD message : {10, 11, 12}) {
        EXPECT_TRUE(HasMessageText(GeneralErrors, message)) << message;
    }
}

} // namespace
