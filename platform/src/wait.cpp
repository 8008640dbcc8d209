// WaitForSingleObject and WaitForMultipleObjects: the wait on events, mutexes and
// threads.
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
//
// Named events and mutexes are shared with the other processes of the user; their
// state and lock live in shared memory and their waiters sleep on a word there
// (named_objects.cpp).
#include "event.h"
#include "futex.h"
#include "mutex.h"
#include "named_objects.h"

namespace zanth::platform {
namespace {

// The lock of a waitable object, with the mutex's state protocol for mutexes.
void LockObject(WaitableObject* object)
{
    if (object->IsShared()) {
        static_cast<SharedObject*>(object)->LockShared();
        return;
    }
    object->Lock().lock();
    if (object->Type() == ObjectType::Mutex) {
        static_cast<MutexObject*>(object)->EnterLocked();
    }
}

void UnlockObject(WaitableObject* object)
{
    if (object->IsShared()) {
        static_cast<SharedObject*>(object)->UnlockShared();
        return;
    }
    if (object->Type() == ObjectType::Mutex) {
        static_cast<MutexObject*>(object)->LeaveLocked();
    }
    object->Lock().unlock();
}

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
    // A named object's waiters sleep on its shared word instead.
    void Register(Waiter* waiter, bool waitAll)
    {
        for (DWORD i = 0; i < m_Count; ++i) {
            if (!m_Ordered[i]->IsShared()) {
                m_Ordered[i]->AddWaiterLocked(waiter, waitAll);
            }
        }
    }

    // The one named object of the wait, or null. Sets `tooMany` when the wait
    // names more than one: a thread can sleep on only one shared word.
    SharedObject* SharedMember(bool& tooMany) const
    {
        SharedObject* found = nullptr;
        tooMany = false;
        for (DWORD i = 0; i < m_Count; ++i) {
            if (m_Ordered[i]->IsShared()) {
                if (found) {
                    tooMany = true;
                }
                found = static_cast<SharedObject*>(m_Ordered[i]);
            }
        }
        return found;
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
    bool tooMany = false;
    SharedObject* shared = locks.SharedMember(tooMany);
    if (tooMany) {
        // Its signals could not all reach the sleeping thread.
        ::SetLastError(ERROR_NOT_SUPPORTED);
        return WAIT_FAILED;
    }
    const DWORD self = CurrentThreadId();
    Waiter& waiter = CurrentWaiter();
    waiter.sharedWord = shared ? &shared->Sequence() : nullptr;
    Deadline deadline(milliseconds);
    bool registered = false;

    for (;;) {
        waiter.word.store(Waiter::kArmed, std::memory_order_relaxed);
        // Read before the check: a change of the named object after it moves the
        // word on, and the sleep below does not begin.
        const std::uint32_t sequence =
            shared ? shared->Sequence().load(std::memory_order_seq_cst) : 0;
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
        const bool checkOwner = shared && shared->OwnedElsewhereLocked();
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
            if (!shared) {
                FutexWait(waiter.word, Waiter::kSleeping, remaining);
            } else {
                if (checkOwner && (remaining < 0 || remaining > kOwnerCheckNs)) {
                    remaining = kOwnerCheckNs;
                }
                FutexWaitShared(shared->Sequence(), sequence, remaining);
            }
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
            if (waitable->IsShared()) {
                // Its lock may be held by another process: not inside a visit.
                keep = object.shared_from_this();
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

DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds)
{
    return WaitOnHandles(1, &handle, FALSE, milliseconds);
}

DWORD WINAPI WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll,
                                    DWORD milliseconds)
{
    return WaitOnHandles(count, handles, waitAll, milliseconds);
}

} // extern "C"
