// Mail: TZanthMail (the interface applications hold), TZanthMailPtr (an owning
// holder), CZanthMailThread (sending on a thread of its own) and GetMailErrorText
// (the text of a Simple MAPI result code).
#ifndef ZANTH_MAIL_H
#define ZANTH_MAIL_H

#include <corewu/smartptr.h>
#include <corewu/tstring.h>
#include <zanth/config.h>

#include <vector>

// A mail with recipients, subject, text and file attachments, sent through the
// machine's Simple MAPI client (MAPI32.DLL, on Linux libmapi32.so) or, when that is
// missing or fails and the file fallback is on, written into a text file that is
// opened for the user. Recipients are one text of names separated by ";".
//
// Order of use: Create (or a TZanthMailPtr), the setters, Logon, Send as often as
// wanted, Logoff, Destroy. Failures are raised through the error stack; Logoff
// and the file fallback show theirs instead. The getters return the string's own
// characters, valid until it is changed.
// Thread rules: no locks; one thread at a time per object.
class ZANTH_TOOLS_API TZanthMail
{
public:
    // A new mail object, or null when memory is short.
    static TZanthMail* Create();
    // Deletes *pp (if any) and sets it to null.
    static void Destroy(TZanthMail** pp);

    virtual ~TZanthMail();

    // A null text means an empty one.
    virtual void SetProfile(const WCHAR* profile) = 0;
    virtual const WCHAR* GetProfile() = 0;
    virtual void SetPassword(const WCHAR* password) = 0;
    virtual const WCHAR* GetPassword() = 0;
    virtual void SetSender(const WCHAR* sender) = 0;
    virtual const WCHAR* GetSender() = 0;
    virtual void SetRecipients(const WCHAR* recipients) = 0;
    virtual const WCHAR* GetRecipients() = 0;
    virtual void SetSubject(const WCHAR* subject) = 0;
    virtual const WCHAR* GetSubject() = 0;
    virtual void SetText(const WCHAR* text) = 0;
    virtual const WCHAR* GetText() = 0;
    // Copies the paths in order; null or an empty vector clears the list.
    virtual void SetAttachments(const std::vector<TString>* attachments) = 0;
    virtual std::vector<TString>& GetAttachments() = 0;
    // Nonzero (the default): write the mail into a file when MAPI is missing or fails.
    virtual void SetFileFallback(int fallback) = 0;
    virtual int GetFileFallback() = 0;
    // Empties the six strings and the attachments.
    virtual void Clear() = 0;

    // Loads the client and opens a session; does nothing when logged on already.
    // `uiParam` is a parent window handle or 0.
    virtual void Logon(ULONG uiParam) = 0;
    // Sends the mail (with the client's send dialog when showDialog is nonzero).
    // Does nothing while logged off. A cancelled dialog is not an error.
    virtual void Send(int showDialog, ULONG uiParam) = 0;
    // Closes the session and unloads the client; a failure is shown, not raised.
    virtual void Logoff(ULONG uiParam) = 0;
    // Nonzero when every name of the ";"-separated list resolves.
    virtual int ResolveNames(ULONG uiParam, const WCHAR* names) = 0;

protected:
    TZanthMail();
    TZanthMail(const TZanthMail&) = default;
    TZanthMail& operator=(const TZanthMail&) = default;
};

// Holds one mail object for its lifetime: made with TZanthMail::Create, given back
// with TZanthMail::Destroy. Get() is null when memory was short.
// Thread rules: one thread at a time.
class ZANTH_TOOLS_API TZanthMailPtr : public TSmartPtr<TZanthMail>
{
public:
    TZanthMailPtr();
    ~TZanthMailPtr() override;
};

// Sends a mail on a Win32 thread of its own and returns at once: logon, send with
// the client's dialog, logoff. The caller learns nothing of the outcome; failures
// are shown in the error box (and written to the log). Thread rules: any thread.
class ZANTH_TOOLS_API CZanthMailThread
{
public:
    static void SendMail(unsigned int fileFallback, const WCHAR* recipients, const WCHAR* subject,
                         const WCHAR* text);
};

// The text for a Simple MAPI result code, with `detail` (null: none) inserted; codes
// without a text of their own give "unknown result code" with the code.
ZANTH_TOOLS_API TString GetMailErrorText(ULONG code, const WCHAR* detail);

#endif // ZANTH_MAIL_H
