// Events and multi-wait (ZCMultiMessage), the thread framework (ZCThreadBase,
// ZCThread) and the priority message queue (ZCMessageQueueRaw).
#include "catalogs.h"

#include <zanth/frame.h>
#include <zanth/thread.h>

#include <cerrno>
#include <climits>
#include <cstring>

template class TSmartPtr<ZANTH::ZCThread>;
template class TSmartPtr<ZANTH::ZCEvent>;

namespace ZANTH {

namespace {

const WCHAR kUnorderedHandles[] = u"internal error. diese Handles hat keiner bestellt.";

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

const TString& Null()
{
    return TString::NullString;
}

// "noname at:0x" and the object's address (all of its digits, at least eight).
void NoName(WCHAR* field, std::size_t capacity, const void* object)
{
    WSPrintf(field, capacity, u"noname at:0x%08llX",
             static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(object)));
}

// Copies a name into a field of `length` characters plus a terminator: longer names
// are cut, so the field is always terminated.
void CopyName(WCHAR* field, std::size_t length, const WCHAR* name, const void* object)
{
    if (!name) {
        NoName(field, length + 1, object);
        return;
    }
    WStrNCopy(field, name, length);
    field[length] = 0;
}

// Moves the n ring records at positions from, from+1, ... (counted around the end
// of the ring) one step up, to from+1, ...: the top of the range moves first, so
// nothing is overwritten before it has moved. The ring has room for them.
template <class Entry> void ShiftUp(Entry* ring, int capacity, int from, int n)
{
    const std::size_t size = sizeof(Entry);
    if (n <= 0) {
        return;
    }
    if (from + n < capacity) {
        std::memmove(ring + from + 1, ring + from, static_cast<std::size_t>(n) * size);
        return;
    }
    const int wrapped = from + n - capacity; // sources at 0 .. wrapped-1
    if (wrapped > 0) {
        std::memmove(ring + 1, ring, static_cast<std::size_t>(wrapped) * size);
    }
    ring[0] = ring[capacity - 1];
    std::memmove(ring + from + 1, ring + from,
                 static_cast<std::size_t>(capacity - 1 - from) * size);
}

// Moves the n ring records at positions from, from+1, ... one step down, to
// from-1, ...: the bottom of the range moves first.
template <class Entry> void ShiftDown(Entry* ring, int capacity, int from, int n)
{
    const std::size_t size = sizeof(Entry);
    if (n <= 0) {
        return;
    }
    if (from == 0) {
        ring[capacity - 1] = ring[0];
        std::memmove(ring, ring + 1, static_cast<std::size_t>(n - 1) * size);
        return;
    }
    if (from + n <= capacity) {
        std::memmove(ring + from - 1, ring + from, static_cast<std::size_t>(n) * size);
        return;
    }
    const int wrapped = from + n - capacity; // sources at 0 .. wrapped-1
    std::memmove(ring + from - 1, ring + from, static_cast<std::size_t>(capacity - from) * size);
    ring[capacity - 1] = ring[0];
    std::memmove(ring, ring + 1, static_cast<std::size_t>(wrapped - 1) * size);
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

// ---------------------------------------------------------------------------
// ZCThreadBase
// ---------------------------------------------------------------------------
volatile LONG ZCThreadBase::m_HandleCounterGenerator = 0;

ZCThreadBase::ZCThreadBase(UINT flag, const WCHAR* name)
    : m_TerminateEvent(1, 0, nullptr), m_StartEvent(1, 0, nullptr), m_Status(NotStarted),
      m_ExitCode(0), m_StopEvent(1, 0, nullptr), m_Name(), m_Flag(flag), m_StartCounter(-1),
      m_ThreadHandle(static_cast<std::uintptr_t>(-1)),
      m_BeginThreadResult(static_cast<std::uintptr_t>(-1)), m_StartNumber(0)
{
    CopyName(m_Name, NameLength, name, this);
}

// The members close, in this order, the record's mutex and the stop, start and
// terminate events.
ZCThreadBase::~ZCThreadBase() = default;

void ZCThreadBase::RequestStop()
{
    m_StopEvent.Set();
}

ZCThreadInterface::TStatus ZCThreadBase::GetStatus() const
{
    return m_Status.load(std::memory_order_acquire);
}

UINT ZCThreadBase::IsStopRequested()
{
    return GetStopEvent()->Wait(0);
}

UINT ZCThreadBase::WaitUntilStopRequested(DWORD timeout)
{
    return GetStopEvent()->Wait(timeout);
}

ZCEvent* ZCThreadBase::GetTerminateEvent()
{
    return &m_TerminateEvent;
}

ZCEvent* ZCThreadBase::GetStopEvent()
{
    return &m_StopEvent;
}

UINT ZCThreadBase::WaitUntilStopped(DWORD timeout)
{
    if (GetStatus() == NotStarted) {
        return 0;
    }
    return m_TerminateEvent.Wait(timeout);
}

ZCEvent* ZCThreadBase::GetStartEvent()
{
    return &m_StartEvent;
}

UINT ZCThreadBase::WaitUntilStarted(DWORD timeout)
{
    return m_StartEvent.Wait(timeout);
}

DWORD ZCThreadBase::ExitCode() const
{
    return m_ExitCode.load(std::memory_order_acquire);
}

ZCInfo ZCThreadBase::ExceptionInfo()
{
    // The worker writes the record under its mutex; reading under it too means a
    // caller who asks while the thread still runs gets a whole record, never a
    // string in the middle of being assigned.
    ZCAutoFreeMutex lock(m_ExceptionInfo.Mutex());
    return ZCInfo(m_ExceptionInfo);
}

const WCHAR* ZCThreadBase::Name() const
{
    return m_Name;
}

// ---------------------------------------------------------------------------
// ZCThread
// ---------------------------------------------------------------------------
ZCThread::ZCThread(ThreadFunction function, void* parameter, UINT flag, const WCHAR* name)
    : ZCThreadBase(flag, name), m_Function(nullptr), m_Parameter(nullptr),
      m_StatusBeforeRefusal(NotStarted)
{
    Constructor();
    if (function) {
        Start(function, parameter);
    }
}

ZCThread::ZCThread(UINT flag, const WCHAR* name, ThreadFunction function, void* parameter)
    : ZCThreadBase(flag, name), m_Function(nullptr), m_Parameter(nullptr),
      m_StatusBeforeRefusal(NotStarted)
{
    Constructor();
    if (function) {
        Start(function, parameter);
    }
}

ZCThread::~ZCThread()
{
    if (GetStatus() != NotStarted) {
        RequestStop();
        WaitUntilStopped(INFINITE);
    }
}

void ZCThread::Constructor()
{
    ::InterlockedExchange(&m_StartCounter, -1);
    m_ThreadHandle = static_cast<std::uintptr_t>(-1);
    m_ExitCode.store(1, std::memory_order_relaxed);
    m_Status.store(NotStarted, std::memory_order_release);
    m_StatusBeforeRefusal.store(NotStarted, std::memory_order_relaxed);
    m_TerminateEvent.Reset();
    m_StartEvent.Reset();
    m_StopEvent.Reset();
}

void ZCThread::Destructor()
{
    RequestStop();
    WaitUntilStopped(INFINITE);
    m_ThreadHandle = static_cast<std::uintptr_t>(-1);
}

void ZCThread::Reset()
{
    if (GetStatus() == NotStarted) {
        return;
    }
    Destructor();
    TStatus status = GetStatus();
    // A refused second Start left Starting in place of the status of the run; the
    // run's own status decides (otherwise the object could never be reset again).
    const TStatus beforeRefusal = m_StatusBeforeRefusal.load(std::memory_order_relaxed);
    if (status == Starting && beforeRefusal != NotStarted) {
        status = beforeRefusal;
    }
    if (status != Terminated && status != Failed) {
        ThrowNewError(detail::g_MsgThreadCatalog, 4, TString(static_cast<LONG>(status), 10), Null(),
                      Null(), nullptr);
    }
    Constructor();
    // The next run starts with a clean record, so that an error of an earlier run
    // is never mistaken for one of the new run.
    m_ExceptionInfo.Clear();
}

void ZCThread::Start(ThreadFunction function, void* parameter)
{
    const TStatus previous = m_Status.exchange(Starting, std::memory_order_acq_rel);
    if (::InterlockedIncrement(&m_StartCounter) > 0) {
        if (previous != Starting) {
            m_StatusBeforeRefusal.store(previous, std::memory_order_relaxed);
        }
        ThrowNewError(detail::g_MsgThreadCatalog, 1, Null(), Null(), Null(), nullptr);
    }
    m_StartNumber.store(::InterlockedIncrement(&m_HandleCounterGenerator),
                        std::memory_order_relaxed);
    m_Function = function;
    m_Parameter = parameter;

    // A null function would make the new thread call through a null pointer: it is
    // refused as the run time refuses an invalid argument.
    std::uintptr_t result = static_cast<std::uintptr_t>(-1);
    int error = EINVAL;
    if (function) {
        result = _beginthread(&ZCThread::CallerFunction, 0, this);
        error = errno;
    }
    m_BeginThreadResult = result;
    if (result != static_cast<std::uintptr_t>(-1)) {
        m_ThreadHandle = result;
        return;
    }

    m_Status.store(Failed, std::memory_order_release);
    // No thread will ever set the terminate event of this run: set it here, so that
    // WaitUntilStopped, Reset and the destructor do not wait for a thread that does
    // not exist.
    m_TerminateEvent.Set();
    TString line(m_Name);
    switch (error) {
    case EAGAIN:
        line += u" Start CrtEAGAIN";
        g_ptheLogfile->Write(1, line);
        ThrowNewError(detail::g_MsgThreadCatalog, 2, Null(), Null(), Null(), nullptr);
    case EINVAL:
        line += u" Start CrtEINVAL";
        g_ptheLogfile->Write(1, line);
        ThrowNewError(detail::g_MsgThreadCatalog, 3, Null(), Null(), Null(), nullptr);
    default:
        line += u" Start unknown.";
        line += TString(static_cast<LONG>(error), 10);
        g_ptheLogfile->Write(1, line);
        ThrowNewError(detail::g_MsgThreadCatalog, 4, TString(static_cast<LONG>(error), 10),
                      TString::FromAnsi(std::strerror(error)), Null(), nullptr);
    }
}

DWORD ZCThread::WaitUnitStopped()
{
    return WaitUntilStopped(INFINITE);
}

COREWU_PASSES_THREAD_EXIT void ZCThread::CallerFunction(void* object)
{
    ZCThread* self = static_cast<ZCThread*>(object);
    self->m_Status.store(Running, std::memory_order_release);
    self->m_StartEvent.Set();
    try {
        const DWORD result = self->m_Function(self, self->m_Parameter);
        self->m_ExitCode.store(result, std::memory_order_relaxed);
        self->m_Status.store(Terminated, std::memory_order_release);
    } catch (TException&) {
        DecrementPendingCount();
        self->m_ExitCode.store(1, std::memory_order_relaxed);
        ZCInfo top = GetErrorInfo();
        self->m_ExceptionInfo.CopyFrom(top);
        PopError();
        self->m_Status.store(Failed, std::memory_order_release);
#if defined(__GLIBCXX__)
    } catch (abi::__forced_unwind&) {
        // The function ended its own thread (_endthread): the unwinding must go
        // on, but the owner still learns that the thread has ended.
        self->m_TerminateEvent.Set();
        throw;
#endif
    } catch (...) {
        ZanthUnhandledException();
    }
    // The owner may destroy the object as soon as this event is set: nothing of
    // the object is touched after it.
    self->m_TerminateEvent.Set();
    _endthread();
}

// ---------------------------------------------------------------------------
// ZCMessageQueueRaw
// ---------------------------------------------------------------------------
ZCMessageQueueRaw::ZCMessageQueueRaw(int capacity, const WCHAR* name)
    : ZCMultiMessage(1, 0, nullptr), m_Mutex(0, nullptr), m_Capacity(capacity), m_FirstRun(0),
      m_RunCount(0), m_Count(0), m_DidOverrun(0), m_Name(), m_pMessageStack(nullptr),
      m_pRuns(nullptr), m_FreeEntry(-1), m_pFilters(nullptr), m_NotFull(1, 1, nullptr)
{
    CopyName(m_Name, NameLength, name, this);
    // The entries and the runs in one block. A capacity that is not positive, or
    // whose block does not fit the allocator's 32-bit size, is handled like a failed
    // allocation.
    const unsigned long long each = sizeof(TEntry) + sizeof(TRun);
    if (capacity > 0 && static_cast<unsigned long long>(capacity) * each <= UINT_MAX) {
        m_pMessageStack = static_cast<TEntry*>(
            _ToolsMalloc(static_cast<unsigned int>(static_cast<unsigned>(capacity) * each)));
    }
    if (!m_pMessageStack) {
        LogLine(u"ZCMessageQueueRaw", u"m_pMessageStack==NULL");
        return;
    }
    m_pRuns = reinterpret_cast<TRun*>(m_pMessageStack + capacity);
    for (int i = 0; i < capacity; ++i) {
        m_pMessageStack[i].next = i + 1 < capacity ? i + 1 : -1;
    }
    m_FreeEntry = 0;
}

ZCMessageQueueRaw::~ZCMessageQueueRaw()
{
    // The waiting messages are dropped: the queue never owned what they point to.
    m_Count.store(0, std::memory_order_relaxed);
    m_RunCount = 0;
    while (m_pFilters) {
        TFilterNode* node = m_pFilters;
        m_pFilters = node->next;
        delete node;
    }
    _ToolsFree(m_pMessageStack);
    m_pMessageStack = nullptr;
    m_pRuns = nullptr;
    // The members then close the not-full event and the mutex, the base the event.
}

void ZCMessageQueueRaw::LogLine(const WCHAR* function, const WCHAR* text) const
{
    g_ptheLogfile->Write(1, LogString(function, text));
}

TString ZCMessageQueueRaw::LogString(const WCHAR* function, const WCHAR* text) const
{
    TString line(m_Name);
    line += u' ';
    line += function;
    line += u' ';
    line += text;
    return line;
}

int ZCMessageQueueRaw::AddFilter(TFilter filter, void* context)
{
    auto* node = new TFilterNode{nullptr, filter, context};
    ZCAutoFreeMutex lock(m_Mutex);
    int count = 1;
    TFilterNode** link = &m_pFilters;
    while (*link) {
        link = &(*link)->next;
        ++count;
    }
    *link = node;
    return count;
}

UINT ZCMessageQueueRaw::DoFilter(const void* message)
{
    ZCAutoFreeMutex lock(m_Mutex);
    return DoFilterLocked(message);
}

UINT ZCMessageQueueRaw::DoFilterLocked(const void* message)
{
    for (TFilterNode* node = m_pFilters; node; node = node->next) {
        if (node->filter && !node->filter(message, node->context)) {
            return 0;
        }
    }
    return 1;
}

UINT ZCMessageQueueRaw::IsOverrun() const
{
    return m_DidOverrun.load(std::memory_order_relaxed);
}

UINT ZCMessageQueueRaw::IsEmpty() const
{
    return m_Count.load(std::memory_order_relaxed) == 0;
}

UINT ZCMessageQueueRaw::IsFull() const
{
    return m_Count.load(std::memory_order_relaxed) >= m_Capacity;
}

UINT ZCMessageQueueRaw::Send(void* message, int priority, UINT wait)
{
    if (!m_pMessageStack) {
        return 0;
    }
    // The time of sending is read before the lock, so that the clock is not read
    // while the receivers wait for the lock.
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);

    for (;;) {
        if (m_Count.load(std::memory_order_acquire) >= m_Capacity) {
            if (!wait) {
                m_DidOverrun.store(1, std::memory_order_relaxed);
                LogLine(u"Send", u"m_DidOverrun");
                return 0;
            }
            m_NotFull.Wait(INFINITE);
            // One free place wakes every waiting sender: look again before queueing
            // for the lock, since another sender may have taken it. (A sender that
            // fills the queue resets the not-full event before it stores the count,
            // so a full count seen here means the event is reset, or set again by
            // a receiver since: the wait never turns into a spin.)
            continue;
        }
        m_Mutex.Lock(INFINITE);
        if (m_Count.load(std::memory_order_relaxed) < m_Capacity) {
            break;
        }
        m_Mutex.Unlock();
    }

    if (m_pFilters && !DoFilterLocked(message)) {
        m_Mutex.Unlock();
        return 0;
    }

    // The place: after every waiting message of the same or a higher priority, that
    // is at the end of the run of this priority, or in a new run before the first
    // run of a lower priority (binary search over the runs).
    int low = 0;
    int high = m_RunCount;
    while (low < high) {
        const int middle = low + (high - low) / 2;
        if (RunAt(middle).priority > priority) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }

    const int slot = m_FreeEntry;
    TEntry& entry = m_pMessageStack[slot];
    m_FreeEntry = entry.next;
    entry.time = static_cast<LONGLONG>((static_cast<ULONGLONG>(now.dwHighDateTime) << 32) |
                                       now.dwLowDateTime);
    entry.message = message;
    entry.priority = priority;
    entry.next = -1;

    if (low < m_RunCount && RunAt(low).priority == priority) {
        TRun& run = RunAt(low);
        m_pMessageStack[run.last].next = slot;
        run.last = slot;
    } else {
        // A new run: move the shorter side of the ring of runs to make room. A
        // message that outranks all waiting ones moves nothing.
        if (low < m_RunCount - low) {
            const int oldFirst = m_FirstRun;
            m_FirstRun = Normalize(m_FirstRun - 1);
            ShiftDown(m_pRuns, m_Capacity, oldFirst, low);
        } else {
            ShiftUp(m_pRuns, m_Capacity, Normalize(m_FirstRun + low), m_RunCount - low);
        }
        ++m_RunCount;
        RunAt(low) = TRun{priority, slot, slot};
    }

    // An event that closes (the queue turns full) changes before the count, one that
    // opens (the queue holds a message) after it, so that a thread reading the count
    // without the lock never waits on an event that disagrees with it.
    const int count = m_Count.load(std::memory_order_relaxed) + 1;
    if (count >= m_Capacity) {
        m_NotFull.Reset();
    }
    m_Count.store(count, std::memory_order_release);
    if (count == 1) {
        Set();
    }
    m_Mutex.Unlock();
    return 1;
}

void* ZCMessageQueueRaw::Receive(UINT remove, int* priority)
{
    if (!m_pMessageStack) {
        ThrowNewError(0, 0,
                      LogString(u"Receive", u"cannot receive: the queue has no message ring "
                                            u"(it could not be allocated)"),
                      Null(), Null(), nullptr);
    }
    if (IsOverrun()) {
        LogLine(u"Receive", u"m_DidOverrun a");
    }
    bool first = true;
    for (;;) {
        // The event is set exactly while messages wait, so a receiver that sees
        // messages need not ask the system about it.
        if (m_Count.load(std::memory_order_acquire) == 0) {
            ::WaitForSingleObject(Handle(), INFINITE);
        }
        if (first && IsOverrun()) {
            LogLine(u"Receive", u"m_DidOverrun b");
        }
        first = false;
        m_Mutex.Lock(INFINITE);
        // Another receiver may have taken the message that set the event: then the
        // event is reset again (under the lock) and this receiver waits once more.
        if (m_Count.load(std::memory_order_relaxed) > 0) {
            break;
        }
        // The event of an empty queue is not set, unless somebody set it from
        // outside: reset it, so that the wait above blocks instead of spinning.
        ZCEvent::Reset();
        m_Mutex.Unlock();
    }

    TRun& run = RunAt(0);
    const int slot = run.first;
    TEntry& entry = m_pMessageStack[slot];
    void* const message = entry.message;
    if (priority) {
        *priority = entry.priority;
    }
    if (remove) {
        if (entry.next < 0) {
            m_FirstRun = Normalize(m_FirstRun + 1);
            --m_RunCount;
        } else {
            run.first = entry.next;
        }
        entry.next = m_FreeEntry;
        m_FreeEntry = slot;
        const int count = m_Count.load(std::memory_order_relaxed) - 1;
        if (count == 0) {
            ZCEvent::Reset();
        }
        m_Count.store(count, std::memory_order_release);
        if (count == m_Capacity - 1) {
            m_NotFull.Set();
        }
    }
    m_Mutex.Unlock();
    return message;
}

} // namespace ZANTH
