// TZanthMailCode: the mail interface over the Simple MAPI client, loaded at run
// time. Internal to the library; applications hold a TZanthMail.
#ifndef ZANTH_SRC_IZANTHMAIL_H
#define ZANTH_SRC_IZANTHMAIL_H

#include <zanth/mail.h>

#include <zanth/win32/mapi.h>

#include <vector>

// The Simple MAPI implementation of TZanthMail. It is either logged off (no client
// loaded) or logged on (client loaded, session open). Thread rules as TZanthMail.
class TZanthMailCode : public TZanthMail
{
public:
    TZanthMailCode();
    ~TZanthMailCode() override;

    void SetProfile(const WCHAR* profile) override;
    const WCHAR* GetProfile() override;
    void SetPassword(const WCHAR* password) override;
    const WCHAR* GetPassword() override;
    void SetSender(const WCHAR* sender) override;
    const WCHAR* GetSender() override;
    void SetRecipients(const WCHAR* recipients) override;
    const WCHAR* GetRecipients() override;
    void SetSubject(const WCHAR* subject) override;
    const WCHAR* GetSubject() override;
    void SetText(const WCHAR* text) override;
    const WCHAR* GetText() override;
    void SetAttachments(const std::vector<TString>* attachments) override;
    std::vector<TString>& GetAttachments() override;
    void SetFileFallback(int fallback) override;
    int GetFileFallback() override;
    void Clear() override;

    void Logon(ULONG uiParam) override;
    void Send(int showDialog, ULONG uiParam) override;
    void Logoff(ULONG uiParam) override;
    int ResolveNames(ULONG uiParam, const WCHAR* names) override;

private:
    // The entries the client resolved, kept until the send is over.
    struct TResolved
    {
        std::vector<lpMapiRecipDesc> entries;
        std::vector<MapiRecipDesc> array;
    };

    int ResolveRecipients(ULONG uiParam, const TString& names, ULONG& count, TResolved* resolved,
                          ULONG& lastResult);
    ULONG ResolveName(ULONG uiParam, const TString& name, lpMapiRecipDesc* entry);
    void FreeEntries(std::vector<lpMapiRecipDesc>& entries);
    void SendMessage(int showDialog, ULONG uiParam);
    // Writes the mail into the fallback file and opens it, when the user agrees.
    // `depth` is the size of the error stack before the failure that led here.
    void SendByFile(ULONG depth);
    void Unload();

    TString m_Profile;
    TString m_Password;
    TString m_Sender;
    TString m_Recipients;
    TString m_Subject;
    TString m_Text;
    std::vector<TString> m_Attachments;
    int m_LoggedOn = 0;
    int m_FileFallback = 1;
    HMODULE m_hMapi = nullptr;
    LHANDLE m_Session = 0;
    LPMAPILOGON m_MAPILogon = nullptr;
    LPMAPILOGOFF m_MAPILogoff = nullptr;
    LPMAPISENDMAIL m_MAPISendMail = nullptr;
    LPMAPIRESOLVENAME m_MAPIResolveName = nullptr;
    LPMAPIFREEBUFFER m_MAPIFreeBuffer = nullptr;
};

#endif // ZANTH_SRC_IZANTHMAIL_H
