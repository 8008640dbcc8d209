// The scripted Simple MAPI client (see scripted_mapi.h). Built twice: complete,
// and with SCRIPTED_WITHOUT_FREEBUFFER lacking MAPIFreeBuffer.
#include "scripted_mapi.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace scripted {
namespace {

std::mutex g_Lock;
Script g_Script;

std::string Text(const char* text)
{
    return text ? text : "null";
}

std::string Hex(ULONG value)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%x", static_cast<unsigned>(value));
    return buffer;
}

Recipient Copy(const MapiRecipDesc& desc)
{
    Recipient recipient;
    recipient.recipClass = desc.ulRecipClass;
    recipient.name = Text(desc.lpszName);
    recipient.address = Text(desc.lpszAddress);
    recipient.entryIdSize = desc.ulEIDSize;
    recipient.entryIdNull = desc.lpEntryID == nullptr;
    return recipient;
}

// A resolved entry with its strings in the same block, as clients hand them out.
lpMapiRecipDesc NewEntry(const std::string& name)
{
    const std::string address = "SMTP:" + name;
    const std::size_t size = sizeof(MapiRecipDesc) + name.size() + 1 + address.size() + 1;
    char* block = static_cast<char*>(std::calloc(1, size));
    auto* entry = reinterpret_cast<lpMapiRecipDesc>(block);
    char* strings = block + sizeof(MapiRecipDesc);
    std::memcpy(strings, name.c_str(), name.size() + 1);
    std::memcpy(strings + name.size() + 1, address.c_str(), address.size() + 1);
    entry->ulRecipClass = MAPI_BCC; // the caller chooses the class
    entry->lpszName = strings;
    entry->lpszAddress = strings + name.size() + 1;
    return entry;
}

} // namespace

void Reset()
{
    std::lock_guard<std::mutex> guard(g_Lock);
    g_Script = Script();
}

Script Snapshot()
{
    std::lock_guard<std::mutex> guard(g_Lock);
    return g_Script;
}

void EditWith(void (*change)(Script&, void*), void* context)
{
    std::lock_guard<std::mutex> guard(g_Lock);
    change(g_Script, context);
}

} // namespace scripted

using namespace scripted;

extern "C" {

SCRIPTED_API ULONG MAPILogon(ULONG_PTR, LPSTR profile, LPSTR password, FLAGS flags, ULONG,
                             LPLHANDLE session)
{
    std::lock_guard<std::mutex> guard(g_Lock);
    g_Script.calls.push_back("MAPILogon " + Text(profile) + " " + Text(password) + " " +
                             Hex(flags));
    LogonAnswer answer{SUCCESS_SUCCESS, 7};
    if (!g_Script.logonAnswers.empty()) {
        answer = g_Script.logonAnswers.front();
        g_Script.logonAnswers.pop_front();
    }
    *session = answer.session;
    return answer.result;
}

SCRIPTED_API ULONG MAPILogoff(LHANDLE session, ULONG_PTR, FLAGS, ULONG)
{
    std::lock_guard<std::mutex> guard(g_Lock);
    g_Script.calls.push_back("MAPILogoff " + std::to_string(session));
    return g_Script.logoffResult;
}

SCRIPTED_API ULONG MAPIResolveName(LHANDLE session, ULONG_PTR, LPSTR name, FLAGS flags, ULONG,
                                   lpMapiRecipDesc* entry)
{
    std::lock_guard<std::mutex> guard(g_Lock);
    g_Script.calls.push_back("MAPIResolveName " + std::to_string(session) + " " + Text(name) + " " +
                             Hex(flags));
    auto refused = g_Script.unresolved.find(Text(name));
    if (refused != g_Script.unresolved.end()) {
        *entry = nullptr;
        return refused->second;
    }
    *entry = NewEntry(Text(name));
    ++g_Script.outstanding;
    return SUCCESS_SUCCESS;
}

SCRIPTED_API ULONG MAPISendMail(LHANDLE session, ULONG_PTR, lpMapiMessage message, FLAGS flags,
                                ULONG)
{
    std::lock_guard<std::mutex> guard(g_Lock);
    g_Script.calls.push_back("MAPISendMail " + std::to_string(session));
    Message copy;
    copy.callFlags = flags;
    copy.subject = Text(message->lpszSubject);
    copy.text = Text(message->lpszNoteText);
    copy.messageTypeNull = message->lpszMessageType == nullptr;
    copy.dateNull = message->lpszDateReceived == nullptr;
    copy.conversationNull = message->lpszConversationID == nullptr;
    copy.flags = message->flFlags;
    if (message->lpOriginator) {
        copy.originator = Copy(*message->lpOriginator);
    }
    for (ULONG i = 0; i < message->nRecipCount; ++i) {
        copy.recipients.push_back(Copy(message->lpRecips[i]));
    }
    for (ULONG i = 0; i < message->nFileCount; ++i) {
        const MapiFileDesc& desc = message->lpFiles[i];
        copy.files.push_back({desc.flFlags, desc.nPosition, Text(desc.lpszPathName),
                              Text(desc.lpszFileName), desc.lpFileType == nullptr});
    }
    g_Script.sent.push_back(copy);
    return g_Script.sendResult;
}

#ifndef SCRIPTED_WITHOUT_FREEBUFFER
SCRIPTED_API ULONG MAPIFreeBuffer(LPVOID buffer)
{
    std::lock_guard<std::mutex> guard(g_Lock);
    g_Script.calls.push_back("MAPIFreeBuffer");
    if (buffer) {
        --g_Script.outstanding;
        std::free(buffer);
    }
    return SUCCESS_SUCCESS;
}
#endif

} // extern "C"
