// TZanthMailCode: mail over the Simple MAPI client that MAPI32.DLL provides, with
// the file fallback; TZanthMail's factory and TZanthMailPtr.
#include "IZanthMail.h"

#include "catalogs.h"

#include <corewu/errors.h>
#include <corewu/file.h>
#include <corewu/log.h>

#include <zanth/messages.h>

#include <zanth/win32/zanthext.h>

#include <array>
#include <new>
#include <string>

namespace {

// The source positions that the reports of this file carry.
constexpr const char* kSource = "tools/src/IZanthMail.cpp";
constexpr int kLogoffLine = 694;
constexpr int kFallbackLine = 773;

// An attachment path reaches the client in a buffer of 260 bytes.
constexpr std::size_t kPathBuffer = 260;

const TString& Null()
{
    return TString::NullString;
}

TString OrEmpty(const WCHAR* text)
{
    return text ? TString(text) : TString();
}

// Every line end of the fallback file is CR LF, whichever the text had.
TString WithCrLf(const TString& text)
{
    TString result(text);
    result.Replace(TEXT("\r\n"), TEXT("\n"));
    result.Replace(TEXT("\n"), TEXT("\r\n"));
    return result;
}

// The UTF-8 path cut to what the buffer holds (259 bytes and the terminator),
// never in the middle of a character.
void CopyPath(const std::string& path, std::array<char, kPathBuffer>& buffer)
{
    std::size_t length = path.size();
    if (length > kPathBuffer - 1) {
        length = kPathBuffer - 1;
        while (length > 0 && (static_cast<unsigned char>(path[length]) & 0xC0) == 0x80) {
            --length;
        }
    }
    path.copy(buffer.data(), length);
    buffer[length] = 0;
}

} // namespace

// --- TZanthMail --------------------------------------------------------------------

TZanthMail::TZanthMail() = default;
TZanthMail::~TZanthMail() = default;

TZanthMail* TZanthMail::Create()
{
    return new (std::nothrow) TZanthMailCode;
}

void TZanthMail::Destroy(TZanthMail** pp)
{
    if (pp && *pp) {
        delete *pp;
        *pp = nullptr;
    }
}

TZanthMailPtr::TZanthMailPtr() : TSmartPtr<TZanthMail>(TZanthMail::Create()) {}

TZanthMailPtr::~TZanthMailPtr()
{
    TZanthMail* mail = Detach();
    TZanthMail::Destroy(&mail);
}

// --- TZanthMailCode: members ---------------------------------------------------------

TZanthMailCode::TZanthMailCode()
{
    Clear();
}

TZanthMailCode::~TZanthMailCode()
{
    try {
        Logoff(0);
        Clear();
    } catch (...) {
        ZanthUnhandledException();
    }
}

void TZanthMailCode::SetProfile(const WCHAR* profile)
{
    m_Profile = OrEmpty(profile);
}

const WCHAR* TZanthMailCode::GetProfile()
{
    return m_Profile.c_str();
}

void TZanthMailCode::SetPassword(const WCHAR* password)
{
    m_Password = OrEmpty(password);
}

const WCHAR* TZanthMailCode::GetPassword()
{
    return m_Password.c_str();
}

void TZanthMailCode::SetSender(const WCHAR* sender)
{
    m_Sender = OrEmpty(sender);
}

const WCHAR* TZanthMailCode::GetSender()
{
    return m_Sender.c_str();
}

void TZanthMailCode::SetRecipients(const WCHAR* recipients)
{
    m_Recipients = OrEmpty(recipients);
}

const WCHAR* TZanthMailCode::GetRecipients()
{
    return m_Recipients.c_str();
}

void TZanthMailCode::SetSubject(const WCHAR* subject)
{
    m_Subject = OrEmpty(subject);
}

const WCHAR* TZanthMailCode::GetSubject()
{
    return m_Subject.c_str();
}

void TZanthMailCode::SetText(const WCHAR* text)
{
    m_Text = OrEmpty(text);
}

const WCHAR* TZanthMailCode::GetText()
{
    return m_Text.c_str();
}

void TZanthMailCode::SetAttachments(const std::vector<TString>* attachments)
{
    m_Attachments.clear();
    if (attachments) {
        m_Attachments.assign(attachments->begin(), attachments->end());
    }
}

std::vector<TString>& TZanthMailCode::GetAttachments()
{
    return m_Attachments;
}

void TZanthMailCode::SetFileFallback(int fallback)
{
    m_FileFallback = fallback;
}

int TZanthMailCode::GetFileFallback()
{
    return m_FileFallback;
}

void TZanthMailCode::Clear()
{
    m_Profile.Empty();
    m_Password.Empty();
    m_Sender.Empty();
    m_Recipients.Empty();
    m_Subject.Empty();
    m_Text.Empty();
    m_Attachments.clear();
}

// --- Logon and logoff ------------------------------------------------------------

void TZanthMailCode::Logon(ULONG uiParam)
{
    if (m_LoggedOn) {
        return;
    }
    m_hMapi = ::LoadLibraryW(TEXT("MAPI32.DLL"));
    if (!m_hMapi) {
        if (m_FileFallback) {
            SendByFile(GetErrorCount());
            return;
        }
        ThrowNewError(GeneralErrors, 10, TEXT("MAPI32.DLL"), Null(), Null(), nullptr);
    }
    try {
        struct Entry
        {
            const char* name;
            FARPROC* slot;
        };
        const Entry entries[] = {
            {"MAPILogon", reinterpret_cast<FARPROC*>(&m_MAPILogon)},
            {"MAPILogoff", reinterpret_cast<FARPROC*>(&m_MAPILogoff)},
            {"MAPISendMail", reinterpret_cast<FARPROC*>(&m_MAPISendMail)},
            {"MAPIResolveName", reinterpret_cast<FARPROC*>(&m_MAPIResolveName)},
            {"MAPIFreeBuffer", reinterpret_cast<FARPROC*>(&m_MAPIFreeBuffer)},
        };
        for (const Entry& entry : entries) {
            *entry.slot = ::GetProcAddress(m_hMapi, entry.name);
            if (!*entry.slot) {
                ThrowNewError(GeneralErrors, 11, TString::FromAnsi(entry.name), Null(), Null(),
                              nullptr);
            }
        }
        if (m_Profile.IsEmpty()) {
            WCHAR user[1024] = {};
            DWORD size = 1024;
            if (::GetUserNameW(user, &size)) {
                m_Profile = user;
            }
        }
        std::string profile = m_Profile.AsAnsi();
        std::string password = m_Password.AsAnsi();
        m_Session = 0;
        ULONG result = m_MAPILogon(uiParam, profile.data(), password.data(), 0, 0, &m_Session);
        if (!m_Session) {
            result = m_MAPILogon(uiParam, profile.data(), password.data(), MAPI_NEW_SESSION | 0x40,
                                 0, &m_Session);
        }
        if (result == MAPI_E_LOGIN_FAILURE) {
            result = m_MAPILogon(uiParam, nullptr, nullptr, MAPI_PASSWORD_UI | MAPI_NEW_SESSION, 0,
                                 &m_Session);
            if (result == MAPI_E_LOGIN_FAILURE) {
                result = m_MAPILogon(uiParam, nullptr, nullptr, MAPI_LOGON_UI | MAPI_NEW_SESSION, 0,
                                     &m_Session);
            }
        }
        if (result != SUCCESS_SUCCESS) {
            const ULONG depth = GetErrorCount();
            PushSystemError();
            PushError(GeneralMessages, 30, GetMailErrorText(result, nullptr), Null(), Null());
            if (m_FileFallback) {
                PushError(MailErrors, 0, Null(), Null(), Null());
                // Logged off means no client loaded: a later Logon loads it anew.
                Unload();
                SendByFile(depth);
                return;
            }
            ThrowNewError(MailErrors, 0, Null(), Null(), Null(), nullptr);
        }
        m_LoggedOn = 1;
    } catch (TException&) {
        Unload();
        DecrementPendingCount();
        ThrowLastError();
    }
}

void TZanthMailCode::Logoff(ULONG uiParam)
{
    if (m_LoggedOn && m_MAPILogoff) {
        const ULONG result = m_MAPILogoff(m_Session, uiParam, 0, 0);
        if (result != SUCCESS_SUCCESS) {
            PushSystemError();
            PushError(GeneralMessages, 30, GetMailErrorText(result, nullptr), Null(), Null());
            PushError(MailErrors, 1, Null(), Null(), Null());
            InsertDebugInfoIntoErrorStack(kSource, kLogoffLine);
            InternalShowErrorBox(nullptr, nullptr, nullptr);
        }
    }
    Unload();
}

void TZanthMailCode::Unload()
{
    if (m_hMapi) {
        ::FreeLibrary(m_hMapi);
    }
    m_hMapi = nullptr;
    m_Session = 0;
    m_MAPILogon = nullptr;
    m_MAPILogoff = nullptr;
    m_MAPISendMail = nullptr;
    m_MAPIResolveName = nullptr;
    m_MAPIFreeBuffer = nullptr;
    m_LoggedOn = 0;
}

// --- Recipients ----------------------------------------------------------------------

ULONG TZanthMailCode::ResolveName(ULONG uiParam, const TString& name, lpMapiRecipDesc* entry)
{
    std::string ansi = name.AsAnsi();
    *entry = nullptr;
    ULONG result = m_MAPIResolveName(m_Session, uiParam, ansi.data(), MAPI_LOGON_UI, 0, entry);
    if (result == SUCCESS_SUCCESS && !*entry) {
        // A client that reports success without an entry has resolved nothing.
        result = MAPI_E_FAILURE;
    }
    if (result == SUCCESS_SUCCESS) {
        (*entry)->ulRecipClass = MAPI_TO;
    }
    return result;
}

void TZanthMailCode::FreeEntries(std::vector<lpMapiRecipDesc>& entries)
{
    for (lpMapiRecipDesc entry : entries) {
        m_MAPIFreeBuffer(entry);
    }
    entries.clear();
}

int TZanthMailCode::ResolveRecipients(ULONG uiParam, const TString& names, ULONG& count,
                                      TResolved* resolved, ULONG& lastResult)
{
    LONG separators = 0;
    for (LONG i = 0; i < names.GetLength(); ++i) {
        separators += names[i] == TEXT(';') ? 1 : 0;
    }
    std::vector<lpMapiRecipDesc> entries;
    entries.reserve(static_cast<std::size_t>(separators) + 1);
    count = 0;
    lastResult = SUCCESS_SUCCESS;
    bool all = true;
    LONG start = 0;
    while (all) {
        const LONG separator = names.Find(TEXT(';'), start);
        const TString piece =
            separator < 0 ? names.Mid(start) : names.Mid(start, separator - start);
        if (separator < 0 && piece.IsEmpty()) {
            break;
        }
        ++count;
        lpMapiRecipDesc entry = nullptr;
        const ULONG result = ResolveName(uiParam, piece, &entry);
        if (result != SUCCESS_SUCCESS) {
            lastResult = result;
            PushError(GeneralMessages, 30, GetMailErrorText(result, piece), Null(), Null());
            all = false;
        } else {
            entries.push_back(entry);
        }
        if (separator < 0) {
            break;
        }
        start = separator + 1;
    }
    if (all && resolved) {
        resolved->array.reserve(entries.size());
        for (lpMapiRecipDesc entry : entries) {
            resolved->array.push_back(*entry);
        }
        resolved->entries = std::move(entries);
    } else {
        FreeEntries(entries);
    }
    return all ? 1 : 0;
}

int TZanthMailCode::ResolveNames(ULONG uiParam, const WCHAR* names)
{
    if (!m_LoggedOn || !m_MAPIResolveName) {
        return 0;
    }
    ULONG count = 0;
    ULONG lastResult = 0;
    return ResolveRecipients(uiParam, OrEmpty(names), count, nullptr, lastResult);
}

// --- Sending ------------------------------------------------------------------------

void TZanthMailCode::Send(int showDialog, ULONG uiParam)
{
    if (!m_LoggedOn || !m_Session) {
        return;
    }
    try {
        SendMessage(showDialog, uiParam);
    } catch (TException&) {
        DecrementPendingCount();
        ThrowNewError(MailErrors, 31, Null(), Null(), Null(), nullptr);
    } catch (...) {
        ZanthUnhandledException();
    }
}

void TZanthMailCode::SendMessage(int showDialog, ULONG uiParam)
{
    ULONG count = 0;
    ULONG lastResult = 0;
    TResolved resolved;
    // The resolved entries are the client's: they go back to it however this ends.
    struct Release
    {
        TZanthMailCode& mail;
        std::vector<lpMapiRecipDesc>& entries;
        ~Release() { mail.FreeEntries(entries); }
    } release{*this, resolved.entries};

    if (!ResolveRecipients(uiParam, m_Recipients, count, &resolved, lastResult)) {
        PushSystemError();
        ThrowNewError(MailErrors, 3, Null(), Null(), Null(), nullptr);
    }
    std::string sender = m_Sender.AsAnsi();
    std::string subject = m_Subject.AsAnsi();
    std::string text = m_Text.AsAnsi();

    MapiRecipDesc originator{};
    originator.ulRecipClass = MAPI_ORIG;
    originator.lpszName = sender.data();
    originator.lpszAddress = sender.data();

    std::vector<std::array<char, kPathBuffer>> paths(m_Attachments.size());
    std::vector<MapiFileDesc> files(m_Attachments.size());
    for (std::size_t i = 0; i < m_Attachments.size(); ++i) {
        CopyPath(m_Attachments[i].AsAnsi(), paths[i]);
        files[i].flFlags = 0;
        files[i].nPosition = 0xFFFFFFFFu;
        files[i].lpszPathName = paths[i].data();
        files[i].lpszFileName = paths[i].data();
        files[i].lpFileType = nullptr;
    }

    MapiMessage message{};
    message.lpszSubject = subject.data();
    message.lpszNoteText = text.data();
    message.flFlags = MAPI_SENT;
    message.lpOriginator = &originator;
    message.nRecipCount = count;
    message.lpRecips = resolved.array.empty() ? nullptr : resolved.array.data();
    message.nFileCount = static_cast<ULONG>(files.size());
    message.lpFiles = files.empty() ? nullptr : files.data();

    const ULONG result =
        m_MAPISendMail(m_Session, uiParam, &message, showDialog ? MAPI_DIALOG : 0, 0);
    FreeEntries(resolved.entries);

    TString detail;
    switch (result) {
    case MAPI_E_DISK_FULL:
    case MAPI_E_ATTACHMENT_NOT_FOUND:
    case MAPI_E_ATTACHMENT_OPEN_FAILURE:
    case MAPI_E_ATTACHMENT_WRITE_FAILURE:
        for (const TString& path : m_Attachments) {
            detail += TEXT("'");
            detail += path;
            detail += TEXT("'\n");
        }
        break;
    case MAPI_E_UNKNOWN_RECIPIENT:
    case MAPI_E_BAD_RECIPTYPE:
    case MAPI_E_AMBIGUOUS_RECIPIENT:
        detail = m_Recipients;
        break;
    default:
        break;
    }
    if (result <= MAPI_USER_ABORT) {
        return;
    }
    if (m_FileFallback) {
        SendByFile(GetErrorCount());
        return;
    }
    PushSystemError();
    PushError(GeneralMessages, 30, GetMailErrorText(result, detail), Null(), Null());
    ThrowNewError(MailErrors, 2, Null(), Null(), Null(), nullptr);
}

// --- The file fallback ---------------------------------------------------------------

void TZanthMailCode::SendByFile(ULONG depth)
{
    using ZANTH::detail::g_MailCatalog;
    const TString question = GetMessageW(g_MailCatalog, 0, Null(), Null(), Null());
    const TString title = GetMessageW(g_MailCatalog, 1, Null(), Null(), Null());
    if (::MessageBoxW(nullptr, question, title, MB_YESNO | MB_ICONQUESTION) != IDYES) {
        // The user does not want the file: the failure that led here is dropped.
        while (GetErrorCount() > depth) {
            PopError();
        }
        return;
    }
    const TString path = TFileString::Join(TFile::GetTmpPath(), TEXT("eMail.txt"));
    try {
        // The temp directory may be shared: whatever stands under the name (an old
        // mail, or a link somebody planted) is removed, not followed, and the file is
        // made anew for the user alone, as it holds the mail's text.
        ::DeleteFileW(path);
        TAutoFile file;
        file.Open(path, GENERIC_WRITE, 0, CREATE_NEW,
                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT |
                      ZANTH_FILE_FLAG_OWNER_ONLY);
        const TString lineEnd(TEXT("\r\n"));
        file.PutText(WithCrLf(GetMessageW(g_MailCatalog, 2, Null(), Null(), Null())));
        file.PutText(WithCrLf(m_Recipients));
        file.PutText(lineEnd);
        file.PutText(lineEnd);
        file.PutText(WithCrLf(GetMessageW(g_MailCatalog, 3, Null(), Null(), Null())));
        file.PutText(WithCrLf(m_Subject));
        file.PutText(lineEnd);
        file.PutText(lineEnd);
        file.PutText(WithCrLf(GetMessageW(g_MailCatalog, 4, Null(), Null(), Null())));
        file.PutText(lineEnd);
        file.PutText(WithCrLf(m_Text));
        file.PutText(lineEnd);
        file.Close();
        const INT_PTR opened = reinterpret_cast<INT_PTR>(
            ::ShellExecuteW(nullptr, TEXT("open"), path, nullptr, nullptr, SW_SHOW));
        if (opened <= 32) {
            PushSystemError();
            ThrowNewError(0, 0,
                          TString::Formatted(TEXT("The mail was written to \"%s\", but no program ")
                                                 TEXT("could be started to open it."),
                                             path.c_str()),
                          Null(), Null(), nullptr);
        }
        ClearError();
    } catch (TException&) {
        DecrementPendingCount();
        InsertDebugInfoIntoErrorStack(kSource, kFallbackLine);
        InternalShowErrorBox(nullptr, nullptr, nullptr);
    }
}
