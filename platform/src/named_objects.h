// Named events and mutexes, shared by the processes of the user (see
// named_objects.cpp for how they live in files of their own), and the process's
// table of names.
#ifndef ZANTH_PLATFORM_NAMED_OBJECTS_H
#define ZANTH_PLATFORM_NAMED_OBJECTS_H

#include "internal.h"

#include <unordered_map>

namespace zanth::platform {

// While another process owns a named mutex, its waiters look again this often,
// so that they notice the owner's death.
constexpr std::int64_t kOwnerCheckNs = 100 * 1000000;

class SharedMapping;

// A named event or mutex. Its state and lock live in shared memory, and its
// waiters sleep on its sequence word there instead of registering with it.
class SharedObject final : public WaitableObject
{
public:
    // Opens the object of that name for this process, creating it (with the given
    // state) when no process has it open. `existed` tells which. Null with the last
    // error set when the file cannot be used, or ERROR_INVALID_HANDLE when the
    // name belongs to an object of another kind.
    static ObjectPtr Open(const std::u16string& name, ObjectType type, bool manualReset,
                          bool initialState, bool& existed);

    SharedObject(ObjectType type, int fd, std::string dir, std::string path,
                 std::shared_ptr<SharedMapping> mapping);
    ~SharedObject() override;

    // The word that every change which may satisfy a waiter moves on.
    std::atomic<std::uint32_t>& Sequence();

    // The lock of the shared state. A mutex whose recorded owner no longer exists
    // (its process was killed) is abandoned here, before anyone looks at it.
    void LockShared();
    void UnlockShared();

    // With the lock held: a mutex that a thread of another process owns. Its
    // waiters must look again now and then, as its owner may be killed.
    bool OwnedElsewhereLocked() const;

    bool IsSignaledLocked(DWORD threadId) const override;
    bool AcquireLocked(DWORD threadId) override;

    void Set();
    void Reset();
    BOOL Release();

private:
    const int m_Fd;
    const std::uint32_t m_Process;
    const std::string m_Directory;
    const std::string m_Path;
    const std::shared_ptr<SharedMapping> m_Mapping;
};

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

// Runs `local(object)` on the unnamed object of that type behind `handle`, inside
// the handle's visit, or `named(sharedObject)` on a named one after the visit (its
// lock may be held by another process, which a visit must not wait for). False,
// with ERROR_INVALID_HANDLE for a handle to an object of another type.
template <class Local, class Named>
bool WithLocalOrNamed(HANDLE handle, ObjectType type, Local local, Named named)
{
    bool matches = false;
    ObjectPtr shared;
    auto visit = [&](KernelObject& object) {
        if ((matches = object.Type() == type)) {
            if (static_cast<WaitableObject&>(object).IsShared()) {
                shared = object.shared_from_this();
            } else {
                local(object);
            }
        }
    };
    if (!WithHandle(handle, visit)) {
        return false;
    }
    if (!matches) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    if (shared) {
        named(static_cast<SharedObject&>(*shared));
    }
    return true;
}

// The process's name table (never destroyed).
NameTable& Names();

} // namespace zanth::platform

#endif // ZANTH_PLATFORM_NAMED_OBJECTS_H
