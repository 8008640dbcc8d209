// A scripted Simple MAPI client for the mail tests: libraries built from
// scripted_mapi.cpp export the five entry points, record every call and answer
// what the test has set up. The test links the library and loads the same file
// through LoadLibraryW, so both see one script.
#ifndef ZANTH_TESTS_SCRIPTED_MAPI_H
#define ZANTH_TESTS_SCRIPTED_MAPI_H

#include <zanth/win32/mapi.h>

#include <deque>
#include <map>
#include <string>
#include <vector>

#define SCRIPTED_API __attribute__((visibility("default")))

namespace scripted {

struct Recipient
{
    ULONG recipClass = 0;
    std::string name;
    std::string address;
    ULONG entryIdSize = 0;
    bool entryIdNull = true;
};

struct File
{
    ULONG flags = 0;
    ULONG position = 0;
    std::string path;
    std::string name;
    bool typeNull = true;
};

// A message as MAPISendMail received it.
struct Message
{
    ULONG callFlags = 0;
    std::string subject;
    std::string text;
    bool messageTypeNull = true;
    bool dateNull = true;
    bool conversationNull = true;
    ULONG flags = 0;
    Recipient originator;
    std::vector<Recipient> recipients;
    std::vector<File> files;
};

struct LogonAnswer
{
    ULONG result;
    LHANDLE session;
};

struct Script
{
    // One line per call: "MAPILogon <profile|null> <password|null> 0x<flags>",
    // "MAPIResolveName <session> <name> 0x<flags>", "MAPISendMail <session>",
    // "MAPILogoff <session>", "MAPIFreeBuffer".
    std::vector<std::string> calls;
    // Answers of MAPILogon in turn; when they run out: success with session 7.
    std::deque<LogonAnswer> logonAnswers;
    // Names that MAPIResolveName does not resolve, with the result it gives.
    std::map<std::string, ULONG> unresolved;
    ULONG sendResult = 0;
    ULONG logoffResult = 0;
    std::vector<Message> sent;
    // Entries handed out by MAPIResolveName and not yet given back.
    int outstanding = 0;
};

// The script under its lock: Edit changes it, Snapshot copies it.
SCRIPTED_API void Reset();
SCRIPTED_API Script Snapshot();
template <class F> void Edit(F&& change);
SCRIPTED_API void EditWith(void (*change)(Script&, void*), void* context);

template <class F> void Edit(F&& change)
{
    EditWith([](Script& script, void* context) { (*static_cast<F*>(context))(script); },
             static_cast<void*>(&change));
}

} // namespace scripted

#endif // ZANTH_TESTS_SCRIPTED_MAPI_H
