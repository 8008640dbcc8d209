// ZCMessageQueueRaw: the bounded priority queue of message pointers.
//
// The waiting messages are kept as runs of equal priority: a ring of runs sorted by
// descending priority (m_FirstRun, m_RunCount), each run a chain of entries in
// sending order. Both live in one block of capacity entries and capacity runs;
// unused entries form a free list. Sending appends to the run of its priority
// (making the run when there is none yet), receiving takes the first entry of the
// first run: nothing is moved but the few run records.
#include "threadimpl.h"

#include <corewu/errors.h>
#include <corewu/log.h>
#include <zanth/frame.h>
#include <zanth/thread.h>

#include <climits>
#include <cstring>

namespace ZANTH {

using detail::CopyName;
using detail::Null;

namespace {

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
        LogLine(TEXT("ZCMessageQueueRaw"), TEXT("m_pMessageStack==NULL"));
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
    line += TEXT(' ');
    line += function;
    line += TEXT(' ');
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

bool ZCMessageQueueRaw::LockWithRoom(UINT wait)
{
    for (;;) {
        if (m_Count.load(std::memory_order_acquire) >= m_Capacity) {
            if (!wait) {
                m_DidOverrun.store(1, std::memory_order_relaxed);
                LogLine(TEXT("Send"), TEXT("m_DidOverrun"));
                return false;
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
            return true;
        }
        m_Mutex.Unlock();
    }
}

int ZCMessageQueueRaw::FindRun(int priority)
{
    // After every waiting message of the same or a higher priority, that is at the
    // end of the run of this priority, or in a new run before the first run of a
    // lower priority (binary search over the runs).
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
    return low;
}

void ZCMessageQueueRaw::Insert(void* message, int priority, LONGLONG time, int run)
{
    const int slot = m_FreeEntry;
    TEntry& entry = m_pMessageStack[slot];
    m_FreeEntry = entry.next;
    entry.time = time;
    entry.message = message;
    entry.priority = priority;
    entry.next = -1;

    if (run < m_RunCount && RunAt(run).priority == priority) {
        TRun& existing = RunAt(run);
        m_pMessageStack[existing.last].next = slot;
        existing.last = slot;
        return;
    }
    // A new run: move the shorter side of the ring of runs to make room. A message
    // that outranks all waiting ones moves nothing.
    if (run < m_RunCount - run) {
        const int oldFirst = m_FirstRun;
        m_FirstRun = Normalize(m_FirstRun - 1);
        ShiftDown(m_pRuns, m_Capacity, oldFirst, run);
    } else {
        ShiftUp(m_pRuns, m_Capacity, Normalize(m_FirstRun + run), m_RunCount - run);
    }
    ++m_RunCount;
    RunAt(run) = TRun{priority, slot, slot};
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
    const LONGLONG time = static_cast<LONGLONG>((static_cast<ULONGLONG>(now.dwHighDateTime) << 32) |
                                                now.dwLowDateTime);

    if (!LockWithRoom(wait)) {
        return 0;
    }
    if (m_pFilters && !DoFilterLocked(message)) {
        m_Mutex.Unlock();
        return 0;
    }
    Insert(message, priority, time, FindRun(priority));

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
                      LogString(TEXT("Receive"),
                                TEXT("cannot receive: the queue has no message ring ")
                                    TEXT("(it could not be allocated)")),
                      Null(), Null(), nullptr);
    }
    if (IsOverrun()) {
        LogLine(TEXT("Receive"), TEXT("m_DidOverrun a"));
    }
    bool first = true;
    for (;;) {
        // The event is set exactly while messages wait, so a receiver that sees
        // messages need not ask the system about it.
        if (m_Count.load(std::memory_order_acquire) == 0) {
            ::WaitForSingleObject(Handle(), INFINITE);
        }
        if (first && IsOverrun()) {
            LogLine(TEXT("Receive"), TEXT("m_DidOverrun b"));
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
