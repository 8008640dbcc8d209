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
    auto local = [](KernelObject& object) { static_cast<EventObject&>(object).Set(); };
    auto named = [](SharedObject& object) { object.Set(); };
    return WithLocalOrNamed(event, ObjectType::Event, local, named) ? TRUE : FALSE;
}

BOOL WINAPI ResetEvent(HANDLE event)
{
    auto local = [](KernelObject& object) { static_cast<EventObject&>(object).Reset(); };
    auto named = [](SharedObject& object) { object.Reset(); };
    return WithLocalOrNamed(event, ObjectType::Event, local, named) ? TRUE : FALSE;
}

} // extern "C"
