// Events: CreateEventW, SetEvent and ResetEvent, for unnamed events (event.h) and
// named ones shared with other processes (named_objects.h).
#include "event.h"
#include "named_objects.h"

using namespace zanth::platform;

extern "C" {

HANDLE WINAPI CreateEventW(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCWSTR name)
{
    if (name && *name) {
        auto open = [&](bool& existed) {
            return SharedObject::Open(name, ObjectType::Event, manualReset != FALSE,
                                      initialState != FALSE, existed);
        };
        return HandleOrNull(Names().OpenOrCreate(name, ObjectType::Event, open));
    }
    ::SetLastError(ERROR_SUCCESS);
    return HandleOrNull(std::make_shared<EventObject>(manualReset != FALSE, initialState != FALSE));
}

BOOL WINAPI SetEvent(HANDLE event)
{
    WakeBatch batch;
    bool isEvent = false;
    ObjectPtr shared;
    auto set = [&](KernelObject& object) {
        if ((isEvent = object.Type() == ObjectType::Event)) {
            if (static_cast<WaitableObject&>(object).IsShared()) {
                shared = object.shared_from_this();
            } else {
                static_cast<EventObject&>(object).Set();
            }
        }
    };
    if (!WithHandle(event, set)) {
        return FALSE;
    }
    if (!isEvent) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (shared) {
        static_cast<SharedObject&>(*shared).Set();
    }
    return TRUE;
}

BOOL WINAPI ResetEvent(HANDLE event)
{
    bool isEvent = false;
    ObjectPtr shared;
    auto reset = [&](KernelObject& object) {
        if ((isEvent = object.Type() == ObjectType::Event)) {
            if (static_cast<WaitableObject&>(object).IsShared()) {
                shared = object.shared_from_this();
            } else {
                static_cast<EventObject&>(object).Reset();
            }
        }
    };
    if (!WithHandle(event, reset)) {
        return FALSE;
    }
    if (!isEvent) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (shared) {
        static_cast<SharedObject&>(*shared).Reset();
    }
    return TRUE;
}

} // extern "C"
