// The Simple MAPI interface: the records, types, flags and result codes of the
// mail client interface that programs load at run time from MAPI32.DLL, and the
// types of its entry points. On Windows the system's <mapi.h> takes its place.
#ifndef ZANTH_WIN32_MAPI_H
#define ZANTH_WIN32_MAPI_H

#ifdef _WIN32
#include <zanth/win32/windows.h>
// (first: the headers below need its declarations)

#include <mapi.h>
#else // !_WIN32

#include <zanth/win32/windows.h>

typedef ULONG FLAGS;
typedef ULONG_PTR LHANDLE;
typedef ULONG_PTR* LPLHANDLE;

// One recipient (or the originator) of a message.
typedef struct
{
    ULONG ulReserved;   // 0
    ULONG ulRecipClass; // MAPI_ORIG, MAPI_TO, MAPI_CC or MAPI_BCC
    LPSTR lpszName;     // display name
    LPSTR lpszAddress;  // "type:address", for example "SMTP:someone@example.org"
    ULONG ulEIDSize;    // size of the entry id in bytes
    LPVOID lpEntryID;   // the provider's entry id
} MapiRecipDesc, *lpMapiRecipDesc;

// One attachment of a message.
typedef struct
{
    ULONG ulReserved;   // 0
    ULONG flFlags;      // MAPI_OLE, MAPI_OLE_STATIC or 0 for a data file
    ULONG nPosition;    // character of the note text it replaces; 0xFFFFFFFF: none
    LPSTR lpszPathName; // the file to attach
    LPSTR lpszFileName; // the name the recipient sees; null: the path's file name
    LPVOID lpFileType;  // a MapiFileTagExt record, or null
} MapiFileDesc, *lpMapiFileDesc;

typedef struct
{
    ULONG ulReserved; // 0
    ULONG cbTag;      // size of the tag
    LPBYTE lpTag;     // X.400 OID of the attachment's type
    ULONG cbEncoding; // size of the encoding
    LPBYTE lpEncoding;
} MapiFileTagExt, *lpMapiFileTagExt;

// A message.
typedef struct
{
    ULONG ulReserved;         // 0
    LPSTR lpszSubject;        // may be null
    LPSTR lpszNoteText;       // may be null
    LPSTR lpszMessageType;    // null for an interpersonal message
    LPSTR lpszDateReceived;   // "YYYY/MM/DD HH:MM"
    LPSTR lpszConversationID; // may be null
    FLAGS flFlags;            // MAPI_UNREAD, MAPI_RECEIPT_REQUESTED, MAPI_SENT
    lpMapiRecipDesc lpOriginator;
    ULONG nRecipCount;
    lpMapiRecipDesc lpRecips;
    ULONG nFileCount;
    lpMapiFileDesc lpFiles;
} MapiMessage, *lpMapiMessage;

// Recipient classes.
#define MAPI_ORIG 0u
#define MAPI_TO 1u
#define MAPI_CC 2u
#define MAPI_BCC 3u

// Message flags.
#define MAPI_UNREAD 0x00000001u
#define MAPI_RECEIPT_REQUESTED 0x00000002u
#define MAPI_SENT 0x00000004u

// Attachment flags.
#define MAPI_OLE 0x00000001u
#define MAPI_OLE_STATIC 0x00000002u

// Call flags.
#define MAPI_LOGON_UI 0x00000001u
#define MAPI_NEW_SESSION 0x00000002u
#define MAPI_DIALOG 0x00000008u
#define MAPI_EXTENDED 0x00000020u
#define MAPI_FORCE_DOWNLOAD 0x00001000u
#define MAPI_PASSWORD_UI 0x00020000u
#define MAPI_AB_NOMODIFY 0x00000400u

// Result codes.
#define SUCCESS_SUCCESS 0u
#define MAPI_USER_ABORT 1u
#define MAPI_E_USER_ABORT MAPI_USER_ABORT
#define MAPI_E_FAILURE 2u
#define MAPI_E_LOGON_FAILURE 3u
#define MAPI_E_LOGIN_FAILURE MAPI_E_LOGON_FAILURE
#define MAPI_E_DISK_FULL 4u
#define MAPI_E_INSUFFICIENT_MEMORY 5u
#define MAPI_E_ACCESS_DENIED 6u
#define MAPI_E_TOO_MANY_SESSIONS 8u
#define MAPI_E_TOO_MANY_FILES 9u
#define MAPI_E_TOO_MANY_RECIPIENTS 10u
#define MAPI_E_ATTACHMENT_NOT_FOUND 11u
#define MAPI_E_ATTACHMENT_OPEN_FAILURE 12u
#define MAPI_E_ATTACHMENT_WRITE_FAILURE 13u
#define MAPI_E_UNKNOWN_RECIPIENT 14u
#define MAPI_E_BAD_RECIPTYPE 15u
#define MAPI_E_NO_MESSAGES 16u
#define MAPI_E_INVALID_MESSAGE 17u
#define MAPI_E_TEXT_TOO_LARGE 18u
#define MAPI_E_INVALID_SESSION 19u
#define MAPI_E_TYPE_NOT_SUPPORTED 20u
#define MAPI_E_AMBIGUOUS_RECIPIENT 21u
#define MAPI_E_AMBIG_RECIP MAPI_E_AMBIGUOUS_RECIPIENT
#define MAPI_E_MESSAGE_IN_USE 22u
#define MAPI_E_NETWORK_FAILURE 23u
#define MAPI_E_INVALID_EDITFIELDS 24u
#define MAPI_E_INVALID_RECIPS 25u
#define MAPI_E_NOT_SUPPORTED 26u

// The entry points, as GetProcAddress finds them in the client.
typedef ULONG(WINAPI* LPMAPILOGON)(ULONG_PTR ulUIParam, LPSTR lpszProfileName, LPSTR lpszPassword,
                                   FLAGS flFlags, ULONG ulReserved, LPLHANDLE lplhSession);
typedef ULONG(WINAPI* LPMAPILOGOFF)(LHANDLE lhSession, ULONG_PTR ulUIParam, FLAGS flFlags,
                                    ULONG ulReserved);
typedef ULONG(WINAPI* LPMAPISENDMAIL)(LHANDLE lhSession, ULONG_PTR ulUIParam,
                                      lpMapiMessage lpMessage, FLAGS flFlags, ULONG ulReserved);
typedef ULONG(WINAPI* LPMAPIRESOLVENAME)(LHANDLE lhSession, ULONG_PTR ulUIParam, LPSTR lpszName,
                                         FLAGS flFlags, ULONG ulReserved,
                                         lpMapiRecipDesc* lppRecip);
typedef ULONG(WINAPI* LPMAPIFREEBUFFER)(LPVOID pv);

#endif // !_WIN32

#endif // ZANTH_WIN32_MAPI_H
