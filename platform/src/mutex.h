// Unnamed mutexes: the object behind CreateMutexW's handle, with its lock-free
// fast path and the abandonment of mutexes whose owner thread ends (mutex.cpp).
// Named mutexes are shared objects (named_objects.h).
#ifndef ZANTH_PLATFORM_MUTEX_H
#define ZANTH_PLATFORM_MUTEX_H

#include "internal.h"

#include <climits>

namespace zanth::platform {

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

// Inline, so that the fast paths of a wait and a release read it directly.
inline OwnedMutexes& CurrentOwnedMutexes()
{
    thread_local OwnedMutexes owned;
    return owned;
}

class MutexObject final : public WaitableObject
{
public:
    MutexObject() : WaitableObject(ObjectType::Mutex) {}

    // The deleter of the shared_ptr: deletes the mutex, unless a thread owns it.
    struct Deleter
    {
        void operator()(MutexObject* mutex) const
        {
            {
                LockedMutex locked(*mutex);
                if (mutex->Owner() != 0) {
                    mutex->m_Orphaned = true;
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

    // Owner's thread id (0: free), kSlow, kAbandoned.
    std::atomic<std::uint64_t> m_State{0};
    // The owner's recursion count: changed only by the owning thread.
    unsigned m_Count = 0;
    bool m_Orphaned = false;
};

} // namespace zanth::platform

#endif // ZANTH_PLATFORM_MUTEX_H
