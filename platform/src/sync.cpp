// Events, mutexes and the waits on them.
//
// Every waitable object has its own lock and a list of registered waiters. A wait
// locks the objects it names (always in address order, so two waits cannot
// deadlock), checks whether it can be satisfied, and if so takes the objects while
// still holding all locks: that is what makes a wait-all atomic and lets an
// auto-reset event release exactly one waiter. Otherwise it registers the thread's
// waiter with every object, drops the locks and sleeps on the waiter's futex word;
// a signal sets the word under the object's lock before waking, so a signal that
// arrives between the check and the sleep is never lost.
//
// An object that only one thread can take (an auto-reset event, a released mutex)
// wakes only its longest waiter (and any wait-all waiters); a woken waiter that
// leaves without taking it hands the wake-up on. That spares a crowd of waiters
// waking only to find the object gone.
#include "internal.h"

#include <zanth/win32/zanthext.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <linux/futex.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <unordered_map>

namespace zanth::platform {

// ---------------------------------------------------------------------------
// Futex and time helpers
// ---------------------------------------------------------------------------
std::int64_t MonotonicNs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

Deadline::Deadline(DWORD milliseconds)
    : m_Infinite(milliseconds == INFINITE),
      m_End(m_Infinite ? 0 : MonotonicNs() + static_cast<std::int64_t>(milliseconds) * 1000000)
{}

std::int64_t Deadline::RemainingNs() const
{
    if (m_Infinite) {
        return -1;
    }
    std::int64_t left = m_End - MonotonicNs();
    return left > 0 ? left : 0;
}

bool FutexWait(std::atomic<std::uint32_t>& word, std::uint32_t expected, std::int64_t ns)
{
    timespec timeout;
    timespec* limit = nullptr;
    if (ns >= 0) {
        timeout.tv_sec = static_cast<time_t>(ns / 1000000000);
        timeout.tv_nsec = static_cast<long>(ns % 1000000000);
        limit = &timeout;
    }
    long rc = syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), FUTEX_WAIT_PRIVATE,
                      expected, limit, nullptr, 0);
    return !(rc == -1 && errno == ETIMEDOUT);
}

void FutexWakeAll(std::atomic<std::uint32_t>& word)
{
    syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), FUTEX_WAKE_PRIVATE, INT_MAX,
            nullptr, nullptr, 0);
}

namespace {

void FutexWakeOne(std::atomic<std::uint32_t>* word)
{
    syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(word), FUTEX_WAKE_PRIVATE, 1, nullptr,
            nullptr, 0);
}

// Wake-up calls collected while a WakeBatch is open on this thread.
struct PendingWakes
{
    static constexpr int kCapacity = 8;
    std::atomic<std::uint32_t>* words[kCapacity];
    int count = 0;
    int depth = 0;
};

thread_local PendingWakes t_PendingWakes;

} // namespace

WakeBatch::WakeBatch()
{
    ++t_PendingWakes.depth;
}

WakeBatch::~WakeBatch()
{
    PendingWakes& pending = t_PendingWakes;
    if (--pending.depth == 0) {
        for (int i = 0; i < pending.count; ++i) {
            FutexWakeOne(pending.words[i]);
        }
        pending.count = 0;
    }
}

void Waiter::Wake()
{
    // Only a waiter that has gone to sleep needs the system call; one that is still
    // checking its objects sees the signalled word before it would sleep.
    if (word.exchange(kSignalled, std::memory_order_acq_rel) != kSleeping) {
        return;
    }
    // Inside a batch the call waits until the signaller has dropped its locks, so
    // the woken thread does not run straight into them. The word may belong to a
    // thread that has left its wait by then: a wake-up on a private futex address
    // never touches the memory, and every futex sleeper tolerates a spurious one.
    PendingWakes& pending = t_PendingWakes;
    if (pending.depth > 0 && pending.count < PendingWakes::kCapacity) {
        pending.words[pending.count++] = &word;
    } else {
        FutexWakeOne(&word);
    }
}

Waiter& CurrentWaiter()
{
    thread_local Waiter waiter;
    return waiter;
}

void WaitableObject::RemoveWaiterLocked(Waiter* waiter)
{
    // Keeps the arrival order, so that the longest waiter is woken first.
    auto it = std::find_if(m_Waiters.begin(), m_Waiters.end(),
                           [waiter](const Registration& r) { return r.waiter == waiter; });
    if (it != m_Waiters.end()) {
        m_Waiters.erase(it);
    }
}

void WaitableObject::WakeWaitersLocked()
{
    for (const Registration& registration : m_Waiters) {
        registration.waiter->Wake();
    }
}

// A woken wait-any waiter either takes the object or, when it leaves without it,
// passes the wake-up on (PassOnLocked, under the same lock), so no sleeper is left
// behind while the object is free. Wait-all waiters may be unable to take it, so
// they are all woken, and the first wait-any waiter with them.
void WaitableObject::WakeOneWaiterLocked()
{
    bool wokeOne = false;
    for (const Registration& registration : m_Waiters) {
        if (registration.waitAll) {
            registration.waiter->Wake();
        } else if (!wokeOne) {
            registration.waiter->Wake();
            wokeOne = true;
        }
    }
}

// ---------------------------------------------------------------------------
// Events
// ---------------------------------------------------------------------------
namespace {

class EventObject final : public WaitableObject
{
public:
    EventObject(bool manualReset, bool initialState)
        : WaitableObject(ObjectType::Event), m_ManualReset(manualReset), m_Signaled(initialState)
    {}

    bool IsSignaledLocked(DWORD) const override { return m_Signaled; }
    bool AcquireLocked(DWORD) override
    {
        if (!m_ManualReset) {
            m_Signaled = false;
        }
        return false;
    }

    void Set()
    {
        std::lock_guard<std::mutex> guard(Lock());
        m_Signaled = true;
        if (m_ManualReset) {
            WakeWaitersLocked();
        } else {
            WakeOneWaiterLocked();
        }
    }

    void Reset()
    {
        std::lock_guard<std::mutex> guard(Lock());
        m_Signaled = false;
    }

private:
    const bool m_ManualReset;
    bool m_Signaled;
};

// ---------------------------------------------------------------------------
// Mutexes
// ---------------------------------------------------------------------------

// A mutex that its owner thread left without releasing is "abandoned": the next
// thread to acquire it gets WAIT_ABANDONED_0 + i. To notice that, each thread keeps
// the list of mutexes it owns and abandons them when it ends.
class MutexObject;

struct OwnedMutexes
{
    std::vector<std::shared_ptr<MutexObject>> list;
    ~OwnedMutexes();
};

OwnedMutexes& CurrentOwnedMutexes()
{
    thread_local OwnedMutexes owned;
    return owned;
}

class MutexObject final : public WaitableObject, public std::enable_shared_from_this<MutexObject>
{
public:
    MutexObject() : WaitableObject(ObjectType::Mutex) {}
    ~MutexObject() override
    {
        if (m_LockFile >= 0) {
            ::close(m_LockFile);
        }
    }

    bool IsSignaledLocked(DWORD threadId) const override
    {
        return m_Owner == 0 || m_Owner == threadId;
    }

    bool AcquireLocked(DWORD threadId) override
    {
        bool wasAbandoned = m_Abandoned;
        m_Abandoned = false;
        if (m_Owner == 0) {
            m_Owner = threadId;
            m_Count = 1;
            CurrentOwnedMutexes().list.push_back(shared_from_this());
        } else if (m_Count == UINT_MAX) {
            return wasAbandoned; // recursion limit; Win32 would report ERROR_TOO_MANY_POSTS
        } else {
            ++m_Count;
        }
        return wasAbandoned;
    }

    BOOL Release(DWORD threadId)
    {
        bool freed = false;
        {
            std::lock_guard<std::mutex> guard(Lock());
            if (m_Owner != threadId) {
                ::SetLastError(ERROR_NOT_OWNER);
                return FALSE;
            }
            if (--m_Count == 0) {
                m_Owner = 0;
                freed = true;
                WakeOneWaiterLocked();
            }
        }
        if (freed) {
            auto& list = CurrentOwnedMutexes().list;
            auto it = std::find_if(list.begin(), list.end(),
                                   [this](const auto& owned) { return owned.get() == this; });
            if (it != list.end()) {
                list.erase(it);
            }
        }
        return TRUE;
    }

    // Called on the owner's thread while it ends.
    void Abandon(DWORD threadId)
    {
        std::lock_guard<std::mutex> guard(Lock());
        if (m_Owner == threadId) {
            m_Owner = 0;
            m_Count = 0;
            m_Abandoned = true;
            WakeOneWaiterLocked();
        }
    }

    // A named mutex claims its name for the whole machine session through an
    // advisory lock on a file in $XDG_RUNTIME_DIR (or the temp directory). Returns
    // false when another process holds the claim.
    bool ClaimName(const std::u16string& name)
    {
        const char* dir = std::getenv("XDG_RUNTIME_DIR");
        if (!dir || !*dir) {
            dir = std::getenv("TMPDIR");
        }
        if (!dir || !*dir) {
            dir = "/tmp";
        }
        std::string file = std::string(dir) + "/zanth-mutex-";
        for (char c : ToUtf8(name.c_str())) {
            // Keep the name readable but never let it leave the directory.
            file += (c == '/' || c == '\0') ? '_' : c;
        }
        int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0) {
            return true; // cannot claim: behave as a process-local name
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            return false;
        }
        m_LockFile = fd;
        return true;
    }

private:
    DWORD m_Owner = 0;
    unsigned m_Count = 0;
    bool m_Abandoned = false;
    int m_LockFile = -1;
};

OwnedMutexes::~OwnedMutexes()
{
    DWORD self = CurrentThreadId();
    for (auto& mutex : list) {
        mutex->Abandon(self);
    }
}

// ---------------------------------------------------------------------------
// Named objects: one name table per process, shared by events and mutexes.
// ---------------------------------------------------------------------------
class NameTable
{
public:
    // Finds a live object of that name or creates one with `make`. Sets
    // ERROR_ALREADY_EXISTS when an existing object is returned; fails with
    // ERROR_INVALID_HANDLE when the name belongs to another kind of object.
    template <class Make>
    ObjectPtr OpenOrCreate(const std::u16string& name, ObjectType type, Make make)
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        auto it = m_Objects.find(name);
        if (it != m_Objects.end()) {
            if (ObjectPtr existing = it->second.lock()) {
                if (existing->Type() != type) {
                    ::SetLastError(ERROR_INVALID_HANDLE);
                    return nullptr;
                }
                ::SetLastError(ERROR_ALREADY_EXISTS);
                return existing;
            }
        }
        bool alreadyElsewhere = false;
        ObjectPtr created = make(alreadyElsewhere);
        if (created) {
            m_Objects[name] = created;
            ::SetLastError(alreadyElsewhere ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
        }
        return created;
    }

private:
    std::mutex m_Lock;
    std::unordered_map<std::u16string, std::weak_ptr<KernelObject>> m_Objects;
};

NameTable& Names()
{
    static NameTable* table = new NameTable;
    return *table;
}

HANDLE HandleOrNull(ObjectPtr object)
{
    if (!object) {
        return nullptr;
    }
    DWORD error = ::GetLastError();
    HANDLE handle = InsertHandle(std::move(object));
    if (handle) {
        ::SetLastError(error);
    }
    return handle;
}

// ---------------------------------------------------------------------------
// Waiting
// ---------------------------------------------------------------------------

// The objects of one wait, in address order and without duplicates, locked and
// unlocked together. Fixed arrays: a wait allocates nothing.
class LockSet
{
public:
    LockSet(WaitableObject* const* objects, DWORD count) : m_Count(count)
    {
        for (DWORD i = 0; i < count; ++i) {
            // Insertion sort: at most MAXIMUM_WAIT_OBJECTS entries, usually one or two.
            WaitableObject* object = objects[i];
            DWORD j = i;
            for (; j > 0 && m_Ordered[j - 1] > object; --j) {
                m_Ordered[j] = m_Ordered[j - 1];
            }
            m_Ordered[j] = object;
        }
    }

    // Removes duplicates; returns whether there were any.
    bool Unique()
    {
        if (m_Count < 2) {
            return false;
        }
        DWORD out = 1;
        for (DWORD i = 1; i < m_Count; ++i) {
            if (m_Ordered[i] != m_Ordered[out - 1]) {
                m_Ordered[out++] = m_Ordered[i];
            }
        }
        const bool had = out != m_Count;
        m_Count = out;
        return had;
    }

    void LockAll()
    {
        for (DWORD i = 0; i < m_Count; ++i) {
            m_Ordered[i]->Lock().lock();
        }
    }
    void UnlockAll()
    {
        for (DWORD i = m_Count; i-- > 0;) {
            m_Ordered[i]->Lock().unlock();
        }
    }
    void Register(Waiter* waiter, bool waitAll)
    {
        for (DWORD i = 0; i < m_Count; ++i) {
            m_Ordered[i]->AddWaiterLocked(waiter, waitAll);
        }
    }
    // Removes the registration and hands on any wake-up this waiter received for an
    // object that it did not take.
    void Unregister(Waiter* waiter)
    {
        for (DWORD i = 0; i < m_Count; ++i) {
            m_Ordered[i]->RemoveWaiterLocked(waiter);
        }
        for (DWORD i = 0; i < m_Count; ++i) {
            m_Ordered[i]->PassOnLocked();
        }
    }

private:
    WaitableObject* m_Ordered[MAXIMUM_WAIT_OBJECTS];
    DWORD m_Count;
};

// With all locks held: tries to satisfy the wait. Returns the WAIT_* result or
// WAIT_TIMEOUT when it cannot be satisfied yet.
DWORD TrySatisfy(WaitableObject* const* objects, DWORD count, bool waitAll, DWORD threadId)
{
    if (!waitAll) {
        for (DWORD i = 0; i < count; ++i) {
            if (objects[i]->IsSignaledLocked(threadId)) {
                bool abandoned = objects[i]->AcquireLocked(threadId);
                return (abandoned ? WAIT_ABANDONED_0 : WAIT_OBJECT_0) + i;
            }
        }
        return WAIT_TIMEOUT;
    }
    for (DWORD i = 0; i < count; ++i) {
        if (!objects[i]->IsSignaledLocked(threadId)) {
            return WAIT_TIMEOUT;
        }
    }
    DWORD abandonedIndex = MAXIMUM_WAIT_OBJECTS;
    for (DWORD i = 0; i < count; ++i) {
        if (objects[i]->AcquireLocked(threadId) && abandonedIndex == MAXIMUM_WAIT_OBJECTS) {
            abandonedIndex = i;
        }
    }
    return abandonedIndex == MAXIMUM_WAIT_OBJECTS ? WAIT_OBJECT_0
                                                  : WAIT_ABANDONED_0 + abandonedIndex;
}

DWORD WaitForObjects(WaitableObject* const* objects, DWORD count, bool waitAll, DWORD milliseconds)
{
    WakeBatch batch; // hand-ons when the wait ends
    LockSet locks(objects, count);
    if (locks.Unique() && waitAll) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    const DWORD self = CurrentThreadId();
    Waiter& waiter = CurrentWaiter();
    Deadline deadline(milliseconds);
    bool registered = false;

    for (;;) {
        waiter.word.store(Waiter::kArmed, std::memory_order_relaxed);
        locks.LockAll();
        DWORD result = TrySatisfy(objects, count, waitAll, self);
        std::int64_t remaining = deadline.RemainingNs();
        if (result != WAIT_TIMEOUT || remaining == 0) {
            if (registered) {
                locks.Unregister(&waiter);
            }
            locks.UnlockAll();
            return result;
        }
        if (!registered) {
            locks.Register(&waiter, waitAll);
            registered = true;
        }
        locks.UnlockAll();
        // Sleeps only if no signal came since the word was armed; a signal that
        // comes after this point finds the waiter asleep and wakes it.
        std::uint32_t armed = Waiter::kArmed;
        if (waiter.word.compare_exchange_strong(armed, Waiter::kSleeping,
                                                std::memory_order_acq_rel)) {
            FutexWait(waiter.word, Waiter::kSleeping, remaining);
        }
    }
}

// The waitable object behind a kernel object, or null.
WaitableObject* AsWaitable(KernelObject* object)
{
    switch (object->Type()) {
    case ObjectType::Event:
    case ObjectType::Mutex:
    case ObjectType::Thread:
        return static_cast<WaitableObject*>(object);
    default:
        return dynamic_cast<WaitableObject*>(object);
    }
}

} // namespace

DWORD WaitOnHandles(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds)
{
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || !handles) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    if (count == 1) {
        // First try under the handle's slot lock, which keeps the object alive
        // without a reference; only a wait that has to sleep takes one.
        WaitableObject* waitable = nullptr;
        ObjectPtr keep;
        DWORD result = WAIT_FAILED;
        auto attempt = [&](const ObjectPtr& object) {
            waitable = AsWaitable(object.get());
            if (!waitable) {
                return;
            }
            {
                std::lock_guard<std::mutex> guard(waitable->Lock());
                result = TrySatisfy(&waitable, 1, false, CurrentThreadId());
            }
            if (result == WAIT_TIMEOUT && milliseconds != 0) {
                keep = object;
            }
        };
        if (!WithHandle(handles[0], attempt)) {
            return WAIT_FAILED;
        }
        if (!waitable) {
            ::SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        if (!keep) {
            return result;
        }
        return WaitForObjects(&waitable, 1, waitAll != FALSE, milliseconds);
    }
    // The references keep the objects alive while the wait runs, even if another
    // thread closes their handles.
    ObjectPtr keep[MAXIMUM_WAIT_OBJECTS];
    WaitableObject* objects[MAXIMUM_WAIT_OBJECTS];
    for (DWORD i = 0; i < count; ++i) {
        keep[i] = LookupHandle(handles[i]);
        if (!keep[i]) {
            return WAIT_FAILED;
        }
        objects[i] = AsWaitable(keep[i].get());
        if (!objects[i]) {
            ::SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
    }
    return WaitForObjects(objects, count, waitAll != FALSE, milliseconds);
}

} // namespace zanth::platform

using namespace zanth::platform;

extern "C" {

HANDLE WINAPI CreateEventW(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCWSTR name)
{
    auto make = [&](bool&) -> ObjectPtr {
        return std::make_shared<EventObject>(manualReset != FALSE, initialState != FALSE);
    };
    if (name && *name) {
        return HandleOrNull(Names().OpenOrCreate(name, ObjectType::Event, make));
    }
    bool unused = false;
    ::SetLastError(ERROR_SUCCESS);
    return HandleOrNull(make(unused));
}

BOOL WINAPI SetEvent(HANDLE event)
{
    WakeBatch batch;
    bool isEvent = false;
    auto set = [&](const ObjectPtr& object) {
        if ((isEvent = object->Type() == ObjectType::Event)) {
            static_cast<EventObject&>(*object).Set();
        }
    };
    if (!WithHandle(event, set)) {
        return FALSE;
    }
    if (!isEvent) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI ResetEvent(HANDLE event)
{
    bool isEvent = false;
    auto reset = [&](const ObjectPtr& object) {
        if ((isEvent = object->Type() == ObjectType::Event)) {
            static_cast<EventObject&>(*object).Reset();
        }
    };
    if (!WithHandle(event, reset)) {
        return FALSE;
    }
    if (!isEvent) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

HANDLE WINAPI CreateMutexW(LPSECURITY_ATTRIBUTES, BOOL initialOwner, LPCWSTR name)
{
    std::shared_ptr<MutexObject> mutex;
    auto make = [&](bool& alreadyElsewhere) -> ObjectPtr {
        mutex = std::make_shared<MutexObject>();
        if (name && *name) {
            alreadyElsewhere = !mutex->ClaimName(name);
        }
        return mutex;
    };
    HANDLE handle;
    if (name && *name) {
        handle = HandleOrNull(Names().OpenOrCreate(name, ObjectType::Mutex, make));
    } else {
        bool unused = false;
        ::SetLastError(ERROR_SUCCESS);
        handle = HandleOrNull(make(unused));
    }
    // Win32 gives the initial ownership only to the creator of a new mutex.
    if (handle && initialOwner && mutex && ::GetLastError() != ERROR_ALREADY_EXISTS) {
        std::lock_guard<std::mutex> guard(mutex->Lock());
        mutex->AcquireLocked(CurrentThreadId());
    }
    return handle;
}

BOOL WINAPI ReleaseMutex(HANDLE mutex)
{
    WakeBatch batch;
    BOOL released = FALSE;
    bool isMutex = false;
    auto release = [&](const ObjectPtr& object) {
        if ((isMutex = object->Type() == ObjectType::Mutex)) {
            released = static_cast<MutexObject&>(*object).Release(CurrentThreadId());
        }
    };
    if (!WithHandle(mutex, release)) {
        return FALSE;
    }
    if (!isMutex) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return released;
}

DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds)
{
    return WaitOnHandles(1, &handle, FALSE, milliseconds);
}

DWORD WINAPI WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll,
                                    DWORD milliseconds)
{
    return WaitOnHandles(count, handles, waitAll, milliseconds);
}

LONG WINAPI InterlockedIncrement(LONG volatile* addend)
{
    return __atomic_add_fetch(addend, 1, __ATOMIC_SEQ_CST);
}

LONG WINAPI InterlockedDecrement(LONG volatile* addend)
{
    return __atomic_sub_fetch(addend, 1, __ATOMIC_SEQ_CST);
}

LONG WINAPI InterlockedExchange(LONG volatile* target, LONG value)
{
    return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}

LONG WINAPI InterlockedExchangeAdd(LONG volatile* addend, LONG value)
{
    return __atomic_fetch_add(addend, value, __ATOMIC_SEQ_CST);
}

LONG WINAPI InterlockedCompareExchange(LONG volatile* destination, LONG exchange, LONG comparand)
{
    __atomic_compare_exchange_n(destination, &comparand, exchange, false, __ATOMIC_SEQ_CST,
                                __ATOMIC_SEQ_CST);
    return comparand;
}

} // extern "C"
