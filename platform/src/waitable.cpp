// The waiting side of every waitable object: each thread's waiter and its futex
// word, the batching of wake-up calls, and the list of waiters an object keeps.
// A signal sets the waiter's word under the object's lock before it wakes the
// thread, so a signal that arrives between a wait's check and its sleep is never
// lost (wait.cpp holds the wait itself).
#include "futex.h"
#include "internal.h"

#include <algorithm>

namespace zanth::platform {
namespace {

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
            FutexWakeOne(*pending.words[i]);
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
    if (std::atomic<std::uint32_t>* shared = sharedWord) {
        // It sleeps (or is about to) on a named object's word: moving the word on
        // keeps a sleep that has not begun from beginning. The waiter is still in
        // its wait, so the object and its mapping are alive.
        shared->fetch_add(1, std::memory_order_seq_cst);
        FutexWakeShared(*shared);
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
        FutexWakeOne(word);
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

} // namespace zanth::platform
