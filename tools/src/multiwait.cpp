// ZCMultiMessage: the library's own events, and the waits on any one or all of two
// to eight events.
#include <corewu/log.h>
#include <zanth/frame.h>
#include <zanth/thread.h>

#include <initializer_list>

template class TSmartPtr<ZANTH::ZCEvent>;

namespace ZANTH {

namespace {

const WCHAR kUnorderedHandles[] = TEXT("internal error. diese Handles hat keiner bestellt.");

// The wait behind every WaitAny/WaitAll overload. WaitForMultipleObjects never
// answers with an index at or above the count; should it ever, the result is
// logged and treated as no event.
DWORD WaitOn(const ZCEvent* const* events, DWORD count, BOOL waitAll, DWORD timeout)
{
    HANDLE handles[8];
    for (DWORD i = 0; i < count; ++i) {
        handles[i] = events[i]->Handle();
    }
    const DWORD r = ::WaitForMultipleObjects(count, handles, waitAll, timeout);
    if (r >= count && r <= 7) {
        g_ptheLogfile->Write(1, kUnorderedHandles);
        return WAIT_FAILED;
    }
    return r;
}

int AnyOf(std::initializer_list<const ZCEvent*> events, DWORD timeout)
{
    const DWORD count = static_cast<DWORD>(events.size());
    const DWORD r = WaitOn(events.begin(), count, FALSE, timeout);
    return r < count ? static_cast<int>(r) + 1 : 0;
}

UINT AllOf(std::initializer_list<const ZCEvent*> events, DWORD timeout)
{
    const DWORD count = static_cast<DWORD>(events.size());
    return WaitOn(events.begin(), count, TRUE, timeout) < count ? 1 : 0;
}
} // namespace

// ---------------------------------------------------------------------------
// ZCMultiMessage
// ---------------------------------------------------------------------------
ZCMultiMessage::ZCMultiMessage(UINT manualReset, UINT initialState, const WCHAR* name)
    : ZCEvent(manualReset, initialState, name)
{}

ZCMultiMessage::~ZCMultiMessage()
{
    CloseEvent();
}

int ZCMultiMessage::WaitAny(const ZCEvent* e1, const ZCEvent* e2, DWORD timeout)
{
    return AnyOf({e1, e2}, timeout);
}

int ZCMultiMessage::WaitAny(const ZCEvent* e1, const ZCEvent* e2, const ZCEvent* e3, DWORD timeout)
{
    return AnyOf({e1, e2, e3}, timeout);
}

int ZCMultiMessage::WaitAny(const ZCEvent* e1, const ZCEvent* e2, const ZCEvent* e3,
                            const ZCEvent* e4, DWORD timeout)
{
    return AnyOf({e1, e2, e3, e4}, timeout);
}

int ZCMultiMessage::WaitAny(const ZCEvent* e1, const ZCEvent* e2, const ZCEvent* e3,
                            const ZCEvent* e4, const ZCEvent* e5, DWORD timeout)
{
    return AnyOf({e1, e2, e3, e4, e5}, timeout);
}

int ZCMultiMessage::WaitAny(const ZCEvent* e1, const ZCEvent* e2, const ZCEvent* e3,
                            const ZCEvent* e4, const ZCEvent* e5, const ZCEvent* e6, DWORD timeout)
{
    return AnyOf({e1, e2, e3, e4, e5, e6}, timeout);
}

int ZCMultiMessage::WaitAny(const ZCEvent* e1, const ZCEvent* e2, const ZCEvent* e3,
                            const ZCEvent* e4, const ZCEvent* e5, const ZCEvent* e6,
                            const ZCEvent* e7, DWORD timeout)
{
    return AnyOf({e1, e2, e3, e4, e5, e6, e7}, timeout);
}

int ZCMultiMessage::WaitAny(const ZCEvent* e1, const ZCEvent* e2, const ZCEvent* e3,
                            const ZCEvent* e4, const ZCEvent* e5, const ZCEvent* e6,
                            const ZCEvent* e7, const ZCEvent* e8, DWORD timeout)
{
    return AnyOf({e1, e2, e3, e4, e5, e6, e7, e8}, timeout);
}

UINT ZCMultiMessage::WaitAll(const ZCEvent* e1, const ZCEvent* e2, DWORD timeout)
{
    return AllOf({e1, e2}, timeout);
}

UINT ZCMultiMessage::WaitAll(const ZCEvent* e1, const ZCEvent* e2, const ZCEvent* e3, DWORD timeout)
{
    return AllOf({e1, e2, e3}, timeout);
}

UINT ZCMultiMessage::WaitAll(const ZCEvent* e1, const ZCEvent* e2, const ZCEvent* e3,
                             const ZCEvent* e4, DWORD timeout)
{
    return AllOf({e1, e2, e3, e4}, timeout);
}

UINT ZCMultiMessage::WaitAll(const ZCEvent* e1, const ZCEvent* e2, const ZCEvent* e3,
                             const ZCEvent* e4, const ZCEvent* e5, DWORD timeout)
{
    return AllOf({e1, e2, e3, e4, e5}, timeout);
}

UINT ZCMultiMessage::WaitAll(const ZCEvent* e1, const ZCEvent* e2, const ZCEvent* e3,
                             const ZCEvent* e4, const ZCEvent* e5, const ZCEvent* e6, DWORD timeout)
{
    return AllOf({e1, e2, e3, e4, e5, e6}, timeout);
}

UINT ZCMultiMessage::WaitAll(const ZCEvent* e1, const ZCEvent* e2, const ZCEvent* e3,
                             const ZCEvent* e4, const ZCEvent* e5, const ZCEvent* e6,
                             const ZCEvent* e7, DWORD timeout)
{
    return AllOf({e1, e2, e3, e4, e5, e6, e7}, timeout);
}

UINT ZCMultiMessage::WaitAll(const ZCEvent* e1, const ZCEvent* e2, const ZCEvent* e3,
                             const ZCEvent* e4, const ZCEvent* e5, const ZCEvent* e6,
                             const ZCEvent* e7, const ZCEvent* e8, DWORD timeout)
{
    return AllOf({e1, e2, e3, e4, e5, e6, e7, e8}, timeout);
}

UINT ZCMultiMessage::WaitAll(ZCEvent* e, DWORD timeout)
{
    return e->Wait(timeout);
}

} // namespace ZANTH
