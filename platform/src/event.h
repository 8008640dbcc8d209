// Unnamed events: the object behind CreateEventW's handle (event.cpp). Named
// events are shared objects (named_objects.h).
#ifndef ZANTH_PLATFORM_EVENT_H
#define ZANTH_PLATFORM_EVENT_H

#include "internal.h"

namespace zanth::platform {

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

} // namespace zanth::platform

#endif // ZANTH_PLATFORM_EVENT_H
