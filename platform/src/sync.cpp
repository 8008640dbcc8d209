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

    bool IsSignaledLocked(DWORD) const override
    {
        return m_Signaled.load(std::memory_order_relaxed);
    }
    bool AcquireLocked(DWORD) override
    {
        if (!m_ManualReset) {
            m_Signaled.store(false, std::memory_order_relaxed);
        }
        return false;
    }

    // The state changes only under the lock; it is atomic so that a set or reset
    // that would not change it, and a zero wait on a set manual-reset event, can
    // answer from it alone. Setting an event that is set releases nobody new (its
    // waiters were woken when it became set), and resetting one that is not set does
    // nothing, so neither needs the lock.
    void Set()
    {
        if (m_Signaled.load(std::memory_order_acquire)) {
            return;
        }
        std::lock_guard<std::mutex> guard(Lock());
        if (m_Signaled.load(std::memory_order_relaxed)) {
            return;
        }
        m_Signaled.store(true, std::memory_order_release);
        if (m_ManualReset) {
            WakeWaitersLocked();
        } else {
            WakeOneWaiterLocked();
        }
    }

    void Reset()
    {
        if (!m_Signaled.load(std::memory_order_acquire)) {
            return;
        }
        std::lock_guard<std::mutex> guard(Lock());
        m_Signaled.store(false, std::memory_order_release);
    }

    // A set manual-reset event satisfies a wait without being changed by it.
    bool IsSetManualReset() const
    {
        return m_ManualReset && m_Signaled.load(std::memory_order_acquire);
    }

private:
    const bool m_ManualReset;
    std::atomic<bool> m_Signaled;
};

// ---------------------------------------------------------------------------
// Mutexes
// ---------------------------------------------------------------------------

// A mutex that its owner thread left without releasing is "abandoned": the next
// thread to acquire it gets WAIT_ABANDONED_0 + i. To notice that, each thread keeps
// the list of mutexes it owns and abandons them when it ends.
//
// The list holds plain pointers, changed only by its own thread, so that taking and
// releasing a mutex costs no reference counting on a line that other threads use.
// A listed mutex is kept alive by its ownership: when its last reference goes while
// a thread owns it (its last handle was closed by its owner), the deleter leaves it
// to the owner, which deletes it when it abandons it at its end (nobody can release
// it any more: that needs a handle).
class MutexObject;

struct OwnedMutexes
{
    std::vector<MutexObject*> list;
    ~OwnedMutexes();
};

OwnedMutexes& CurrentOwnedMutexes()
{
    thread_local OwnedMutexes owned;
    return owned;
}

class MutexObject final : public WaitableObject
{
public:
    MutexObject() : WaitableObject(ObjectType::Mutex) {}
    ~MutexObject() override { CloseLockFile(); }

    // The deleter of the shared_ptr: deletes the mutex, unless a thread owns it.
    struct Deleter
    {
        void operator()(MutexObject* mutex) const
        {
            {
                LockedMutex locked(*mutex);
                if (mutex->Owner() != 0) {
                    mutex->m_Orphaned = true;
                    // The name goes with the last handle, as on Windows.
                    mutex->CloseLockFile();
                    return;
                }
            }
            delete mutex;
        }
    };

    // The state word and the object lock. A thread takes a free, uncontended mutex
    // and gives it back with one compare-and-swap on the state word, without the
    // lock (TryAcquireFast, the first steps of Release). Everything else runs
    // under the lock with kSlow set in the word, which makes those swaps fail, so a
    // thread holding the lock sees a state that nobody changes behind its back:
    // EnterLocked sets kSlow after taking the lock, LeaveLocked clears it before
    // dropping the lock unless waiters are registered (they need the lock path for
    // their wake-up).
    void EnterLocked() { m_State.fetch_or(kSlow, std::memory_order_acq_rel); }
    void LeaveLocked()
    {
        if (!HasWaitersLocked()) {
            m_State.fetch_and(~kSlow, std::memory_order_release);
        }
    }

    // RAII: the lock with EnterLocked/LeaveLocked.
    class LockedMutex
    {
    public:
        explicit LockedMutex(MutexObject& mutex) : m_Mutex(mutex)
        {
            m_Mutex.Lock().lock();
            m_Mutex.EnterLocked();
        }
        ~LockedMutex()
        {
            m_Mutex.LeaveLocked();
            m_Mutex.Lock().unlock();
        }
        LockedMutex(const LockedMutex&) = delete;
        LockedMutex& operator=(const LockedMutex&) = delete;

    private:
        MutexObject& m_Mutex;
    };

    // Without the lock: takes the mutex when it is free and nobody else is at it,
    // or again when the caller owns it. False when the lock path must decide.
    bool TryAcquireFast(DWORD threadId)
    {
        std::uint64_t state = m_State.load(std::memory_order_relaxed);
        if (state == threadId) {
            // Only the owner can see its own id without flags, and only the owner
            // changes the state away from it: the count is the owner's alone.
            if (m_Count == UINT_MAX) {
                return false;
            }
            ++m_Count;
            return true;
        }
        if (state == 0 &&
            m_State.compare_exchange_strong(state, threadId, std::memory_order_acquire,
                                            std::memory_order_relaxed)) {
            m_Count = 1;
            CurrentOwnedMutexes().list.push_back(this);
            return true;
        }
        return false;
    }

    bool IsSignaledLocked(DWORD threadId) const override
    {
        const DWORD owner = Owner();
        return owner == 0 || owner == threadId;
    }

    bool AcquireLocked(DWORD threadId) override
    {
        const std::uint64_t state = m_State.load(std::memory_order_relaxed);
        const bool wasAbandoned = (state & kAbandoned) != 0;
        if ((state & kOwnerMask) == 0) {
            m_State.store(threadId | kSlow, std::memory_order_relaxed);
            m_Count = 1;
            CurrentOwnedMutexes().list.push_back(this);
        } else if (m_Count == UINT_MAX) {
            return wasAbandoned; // recursion limit; Win32 would report ERROR_TOO_MANY_POSTS
        } else {
            ++m_Count;
        }
        return wasAbandoned;
    }

    BOOL Release(DWORD threadId)
    {
        std::uint64_t state = m_State.load(std::memory_order_relaxed);
        if ((state & kOwnerMask) == threadId) {
            // The caller owns it: nobody else changes the count or the owner.
            if (m_Count > 1) {
                --m_Count;
                return TRUE;
            }
            // The last hold, and nobody at the lock path: give it back with one swap
            // (the next owner sets the count). Otherwise the lock path releases it.
            if (state == threadId &&
                m_State.compare_exchange_strong(state, 0, std::memory_order_release,
                                                std::memory_order_relaxed)) {
                ForgetOwned();
                return TRUE;
            }
        }
        LockedMutex locked(*this);
        if (Owner() != threadId) {
            ::SetLastError(ERROR_NOT_OWNER);
            return FALSE;
        }
        if (--m_Count == 0) {
            m_State.store(kSlow, std::memory_order_relaxed);
            ForgetOwned();
            WakeOneWaiterLocked();
        }
        return TRUE;
    }

    // Called on the owner's thread while it ends. Returns true when the caller must
    // delete the mutex (its last reference went while this thread owned it).
    bool Abandon(DWORD threadId)
    {
        LockedMutex locked(*this);
        if (Owner() == threadId) {
            m_State.store(kAbandoned | kSlow, std::memory_order_relaxed);
            m_Count = 0;
            WakeOneWaiterLocked();
        }
        return m_Orphaned;
    }

    enum class Claim
    {
        Taken,         // this process holds the name now
        HeldElsewhere, // another process holds it
        Failed         // the lock file cannot be made (last error set)
    };

    // A named mutex claims its name for the whole machine session through an
    // advisory lock on a file in $XDG_RUNTIME_DIR (or the temp directory). A name
    // that cannot be claimed fails instead of quietly becoming process-local, which
    // would let two processes hold "the same" mutex at once.
    Claim ClaimName(const std::u16string& name)
    {
        const char* dir = std::getenv("XDG_RUNTIME_DIR");
        if (!dir || !*dir) {
            dir = std::getenv("TMPDIR");
        }
        if (!dir || !*dir) {
            dir = "/tmp";
        }
        std::string bytes;
        if (!PathFromName(name.c_str(), bytes)) {
            return Claim::Failed;
        }
        std::string file = std::string(dir) + "/zanth-mutex-";
        for (char c : bytes) {
            // Keep the name readable but never let it leave the directory.
            file += (c == '/' || c == '\0') ? '_' : c;
        }
        int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0) {
            // With O_CREAT a missing entry can only be the directory.
            if (errno == ENOENT) {
                ::SetLastError(ERROR_PATH_NOT_FOUND);
            } else {
                SetLastErrorFromErrno();
            }
            return Claim::Failed;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            ::close(fd);
            if (error == EWOULDBLOCK) {
                return Claim::HeldElsewhere;
            }
            SetLastErrorFromErrno(error);
            return Claim::Failed;
        }
        m_LockFile = fd;
        return Claim::Taken;
    }

private:
    static constexpr std::uint64_t kOwnerMask = 0xFFFFFFFFu;
    static constexpr std::uint64_t kSlow = std::uint64_t(1) << 32;
    static constexpr std::uint64_t kAbandoned = std::uint64_t(1) << 33;

    DWORD Owner() const
    {
        return static_cast<DWORD>(m_State.load(std::memory_order_relaxed) & kOwnerMask);
    }

    // Takes this mutex off the calling thread's list; usually the last one taken.
    void ForgetOwned()
    {
        auto& list = CurrentOwnedMutexes().list;
        for (auto it = list.end(); it != list.begin();) {
            if (*--it == this) {
                list.erase(it);
                return;
            }
        }
    }

    void CloseLockFile()
    {
        if (m_LockFile >= 0) {
            ::close(m_LockFile);
            m_LockFile = -1;
        }
    }

    // Owner's thread id (0: free), kSlow, kAbandoned.
    std::atomic<std::uint64_t> m_State{0};
    // The owner's recursion count: changed only by the owning thread.
    unsigned m_Count = 0;
    bool m_Orphaned = false;
    int m_LockFile = -1;
};

// The lock of a waitable object, with the mutex's state protocol for mutexes.
void LockObject(WaitableObject* object)
{
    object->Lock().lock();
    if (object->Type() == ObjectType::Mutex) {
        static_cast<MutexObject*>(object)->EnterLocked();
    }
}

void UnlockObject(WaitableObject* object)
{
    if (object->Type() == ObjectType::Mutex) {
        static_cast<MutexObject*>(object)->LeaveLocked();
    }
    object->Lock().unlock();
}

OwnedMutexes::~OwnedMutexes()
{
    const DWORD self = CurrentThreadId();
    // Abandon may not change the list; it is emptied afterwards.
    std::vector<MutexObject*> owned;
    owned.swap(list);
    for (MutexObject* mutex : owned) {
        if (mutex->Abandon(self)) {
            delete mutex;
        }
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
            LockObject(m_Ordered[i]);
        }
    }
    void UnlockAll()
    {
        for (DWORD i = m_Count; i-- > 0;) {
            UnlockObject(m_Ordered[i]);
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
        // The first try runs inside the handle's visit, which keeps the object alive
        // without a reference; only a wait that has to sleep takes one.
        WaitableObject* waitable = nullptr;
        ObjectPtr keep;
        DWORD result = WAIT_FAILED;
        auto attempt = [&](KernelObject& object) {
            waitable = AsWaitable(&object);
            if (!waitable) {
                return;
            }
            if (object.Type() == ObjectType::Event &&
                static_cast<EventObject&>(object).IsSetManualReset()) {
                result = WAIT_OBJECT_0;
                return;
            }
            const DWORD self = CurrentThreadId();
            if (object.Type() == ObjectType::Mutex &&
                static_cast<MutexObject&>(object).TryAcquireFast(self)) {
                result = WAIT_OBJECT_0;
                return;
            }
            LockObject(waitable);
            result = TrySatisfy(&waitable, 1, false, self);
            UnlockObject(waitable);
            if (result == WAIT_TIMEOUT && milliseconds != 0) {
                keep = object.shared_from_this();
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
    auto set = [&](KernelObject& object) {
        if ((isEvent = object.Type() == ObjectType::Event)) {
            static_cast<EventObject&>(object).Set();
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
    auto reset = [&](KernelObject& object) {
        if ((isEvent = object.Type() == ObjectType::Event)) {
            static_cast<EventObject&>(object).Reset();
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
        mutex = std::shared_ptr<MutexObject>(new MutexObject, MutexObject::Deleter());
        if (name && *name) {
            switch (mutex->ClaimName(name)) {
            case MutexObject::Claim::Taken:
                break;
            case MutexObject::Claim::HeldElsewhere:
                alreadyElsewhere = true;
                break;
            case MutexObject::Claim::Failed:
                mutex.reset();
                return nullptr;
            }
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
        MutexObject::LockedMutex locked(*mutex);
        mutex->AcquireLocked(CurrentThreadId());
    }
    return handle;
}

BOOL WINAPI ReleaseMutex(HANDLE mutex)
{
    WakeBatch batch;
    BOOL released = FALSE;
    bool isMutex = false;
    auto release = [&](KernelObject& object) {
        if ((isMutex = object.Type() == ObjectType::Mutex)) {
            released = static_cast<MutexObject&>(object).Release(CurrentThreadId());
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
