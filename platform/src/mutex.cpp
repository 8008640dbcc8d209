// Mutexes: CreateMutexW and ReleaseMutex, for unnamed mutexes (mutex.h) and named
// ones shared with other processes (named_objects.h), and the abandonment of the
// mutexes a thread still owns when it ends.
#include "mutex.h"
#include "named_objects.h"

namespace zanth::platform {

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

} // namespace zanth::platform

using namespace zanth::platform;

extern "C" {

HANDLE WINAPI CreateMutexW(LPSECURITY_ATTRIBUTES, BOOL initialOwner, LPCWSTR name)
{
    if (name && *name) {
        // The creator of a new named mutex takes the initial ownership while it
        // sets the mutex up; one that opens an existing mutex does not, as in Win32.
        auto open = [&](bool& existed) {
            return SharedObject::Open(name, ObjectType::Mutex, false, initialOwner != FALSE,
                                      existed);
        };
        return HandleOrNull(Names().OpenOrCreate(name, ObjectType::Mutex, open));
    }
    auto mutex = std::shared_ptr<MutexObject>(new MutexObject, MutexObject::Deleter());
    if (initialOwner) {
        MutexObject::LockedMutex locked(*mutex);
        mutex->AcquireLocked(CurrentThreadId());
    }
    ::SetLastError(ERROR_SUCCESS);
    return HandleOrNull(std::move(mutex));
}

BOOL WINAPI ReleaseMutex(HANDLE mutex)
{
    WakeBatch batch;
    BOOL released = FALSE;
    auto local = [&](KernelObject& object) {
        released = static_cast<MutexObject&>(object).Release(CurrentThreadId());
    };
    auto named = [&](SharedObject& object) { released = object.Release(); };
    if (!WithLocalOrNamed(mutex, ObjectType::Mutex, local, named)) {
        return FALSE;
    }
    return released;
}

} // extern "C"
