// Sending a mail on a thread of its own (CZanthMailThread) and the texts of the
// Simple MAPI result codes (GetMailErrorText).
#include <corewu/errors.h>

#include <zanth/mail.h>
#include <zanth/messages.h>

#include <new>

namespace {

constexpr const char* kSource = "tools/src/ZanthMail.cpp";
constexpr int kThreadLine = 125;
constexpr int kStartLine = 188;

// The default recipient of a job, before the caller's recipients replace it.
constexpr const WCHAR* kDefaultRecipient = TEXT("support@zanth.example");

// What the mail thread sends; the thread owns it and deletes it when done.
struct TMailJob
{
    TString recipients;
    TString subject;
    TString text;
    int deleteWhenDone;
    unsigned int fileFallback;
};

DWORD WINAPI MailThread(LPVOID parameter)
{
    TMailJob* job = static_cast<TMailJob*>(parameter);
    if (!job) {
        return 1;
    }
    TZanthMail* mail = nullptr;
    try {
        mail = TZanthMail::Create();
        if (!mail) {
            ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            PushSystemError();
            ThrowNewError(MailErrors, 0, TString::NullString, TString::NullString,
                          TString::NullString, nullptr);
        }
        mail->SetRecipients(job->recipients);
        mail->SetSubject(job->subject);
        mail->SetText(job->text);
        mail->SetFileFallback(static_cast<int>(job->fileFallback));
        mail->Logon(0);
        mail->Send(1, 0);
        mail->Logoff(0);
    } catch (TException&) {
        DecrementPendingCount();
        InsertDebugInfoIntoErrorStack(kSource, kThreadLine);
        InternalShowErrorBox(nullptr, nullptr, nullptr);
        try {
            if (mail) {
                mail->Logoff(0);
            }
        } catch (TException&) {
            DecrementPendingCount();
            ClearError();
        }
    } catch (...) {
        ZanthUnhandledException();
    }
    if (job->deleteWhenDone) {
        delete job;
    }
    TZanthMail::Destroy(&mail);
    return 0;
}

} // namespace

void CZanthMailThread::SendMail(unsigned int fileFallback, const WCHAR* recipients,
                                const WCHAR* subject, const WCHAR* text)
{
    TMailJob* job =
        new (std::nothrow) TMailJob{kDefaultRecipient, TString(), TString(), 1, fileFallback};
    if (job) {
        job->recipients = recipients ? TString(recipients) : TString();
        job->subject = subject ? TString(subject) : TString();
        job->text = text ? TString(text) : TString();
    }
    DWORD id = 0;
    HANDLE thread = job ? ::CreateThread(nullptr, 0, MailThread, job, 0, &id) : nullptr;
    if (!thread) {
        if (!job) {
            ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        }
        delete job;
        PushSystemError();
        PushError(MailErrors, 0, TString::NullString, TString::NullString, TString::NullString);
        InsertDebugInfoIntoErrorStack(kSource, kStartLine);
        InternalShowErrorBox(nullptr, nullptr, nullptr);
        return;
    }
    // The thread runs on by itself; nobody waits for it.
    ::CloseHandle(thread);
}

TString GetMailErrorText(ULONG code, const WCHAR* detail)
{
    struct Row
    {
        ULONG code;
        WORD message;
    };
    static constexpr Row kRows[] = {
        {1, 6},   {2, 7},   {3, 8},   {4, 9},   {5, 10},  {6, 11},  {8, 12},  {9, 13},
        {10, 14}, {11, 15}, {12, 16}, {13, 17}, {14, 18}, {25, 18}, {15, 19}, {16, 20},
        {17, 21}, {18, 22}, {19, 23}, {22, 26}, {23, 27}, {26, 30},
    };
    for (const Row& row : kRows) {
        if (row.code == code) {
            return GetMessageW(MailErrors, row.message, detail ? TString(detail) : TString(),
                               TString::NullString, TString::NullString);
        }
    }
    return GetMessageW(GeneralErrors, 12, TString::Formatted(TEXT("%d"), static_cast<int>(code)),
                       TString::NullString, TString::NullString);
}
