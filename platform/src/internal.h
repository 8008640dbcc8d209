// Internals shared by the platform layer's source files: kernel objects behind
// HANDLEs, the process-wide handle table (handle_table.cpp), the waitable-object
// protocol used by WaitForSingleObject/WaitForMultipleObjects (waitable.cpp,
// wait.cpp), the UTF-8/UTF-16 helpers (unicode.cpp), errno translation
// (errno_map.cpp). Nothing here is exported.
#ifndef ZANTH_PLATFORM_INTERNAL_H
#define ZANTH_PLATFORM_INTERNAL_H

#include <zanth/win32/windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace zanth::platform {

// ---------------------------------------------------------------------------
// Kernel objects
// ---------------------------------------------------------------------------
enum class ObjectType
{
    Event,
    Mutex,
    Thread,
    File,
    Mapping,
    Find,
    Other
};

// Base of everything a HANDLE can name. Objects are shared: several handles (and
// running waits) may hold the same object, which lives until the last one lets go.
// Every object is made by std::make_shared (or a shared_ptr with a deleter), so that
// code visiting it through a handle can take a reference of its own.
class KernelObject : public std::enable_shared_from_this<KernelObject>
{
public:
    explicit KernelObject(ObjectType type) : m_Type(type) {}
    virtual ~KernelObject() = default;
    KernelObject(const KernelObject&) = delete;
    KernelObject& operator=(const KernelObject&) = delete;

    ObjectType Type() const { return m_Type; }

    // Called when a handle to the object is closed (an object may be named by
    // several handles; this runs once per handle).
    virtual void OnHandleClosed() {}

private:
    ObjectType m_Type;
};

using ObjectPtr = std::shared_ptr<KernelObject>;

// One waiting thread. Each thread owns one (thread-local); a wait registers it with
// every object it waits on, and a signal wakes it through its futex word. The
// waiter re-examines the objects under their locks after every wake-up, so a wake
// is only a hint and spurious wakes are harmless.
struct Waiter
{
    // The word: armed while the waiter checks its objects, sleeping once it has
    // decided to sleep, signalled by a signal since it was armed.
    static constexpr std::uint32_t kArmed = 0;
    static constexpr std::uint32_t kSignalled = 1;
    static constexpr std::uint32_t kSleeping = 2;
    std::atomic<std::uint32_t> word{kArmed};
    // Set by the waiter for a wait that includes a named object shared with other
    // processes: the waiter then sleeps on that object's word in shared memory, and
    // Wake moves that word on instead of waking the waiter's own. Written by the
    // waiter before it goes to sleep, read by a signal that finds it sleeping.
    std::atomic<std::uint32_t>* sharedWord = nullptr;
    void Wake();
};

Waiter& CurrentWaiter();

// While one is open on a thread, the wake-up system calls that the thread's
// signals need are held back and made when the (outermost) batch closes: open one
// before taking the locks under which a signal may wake waiters.
class WakeBatch
{
public:
    WakeBatch();
    ~WakeBatch();
    WakeBatch(const WakeBatch&) = delete;
    WakeBatch& operator=(const WakeBatch&) = delete;
};

// A kernel object that a wait can be satisfied by. Its state is guarded by its own
// mutex; no process-wide lock is involved in waiting or signalling. Each starts on
// a cache line of its own, so that threads busy with different objects do not
// contend for one line.
class alignas(64) WaitableObject : public KernelObject
{
public:
    explicit WaitableObject(ObjectType type, bool shared = false)
        : KernelObject(type), m_Shared(shared)
    {}

    // A named event or mutex whose state lives in memory shared with other
    // processes: it is locked through that memory, and its waiters sleep on its
    // word there instead of registering with it.
    bool IsShared() const { return m_Shared; }

    std::mutex& Lock() { return m_Lock; }

    // With Lock() held: is the object signalled for the calling thread?
    virtual bool IsSignaledLocked(DWORD threadId) const = 0;
    // With Lock() held and IsSignaledLocked true: take the object (auto-reset an
    // event, own a mutex). Returns true when the take found an abandoned mutex.
    virtual bool AcquireLocked(DWORD threadId) = 0;

    // With Lock() held: registration of a sleeping wait (`waitAll`: the wait needs
    // all of its objects at once), in arrival order.
    void AddWaiterLocked(Waiter* waiter, bool waitAll) { m_Waiters.push_back({waiter, waitAll}); }
    void RemoveWaiterLocked(Waiter* waiter);
    bool HasWaitersLocked() const { return !m_Waiters.empty(); }
    // With Lock() held: wakes every waiter (a manual-reset event, an ended thread).
    void WakeWaitersLocked();
    // With Lock() held: for an object that only one thread can take (an auto-reset
    // event, a released mutex): wakes the longest-waiting wait-any waiter and every
    // wait-all waiter, rather than all of them.
    void WakeOneWaiterLocked();
    // With Lock() held, after a woken waiter has left without taking the object:
    // hands the wake-up on while the object is still free.
    void PassOnLocked()
    {
        if (!m_Waiters.empty() && IsSignaledLocked(0)) {
            WakeOneWaiterLocked();
        }
    }

private:
    struct Registration
    {
        Waiter* waiter;
        bool waitAll;
    };
    const bool m_Shared;
    std::mutex m_Lock;
    std::vector<Registration> m_Waiters;
};

// ---------------------------------------------------------------------------
// Handle table
// ---------------------------------------------------------------------------

// Stores an object and returns a new handle to it (null, with ERROR_NOT_ENOUGH_MEMORY,
// when the table is full).
HANDLE InsertHandle(ObjectPtr object);

// The object behind a handle, or null with ERROR_INVALID_HANDLE set.
ObjectPtr LookupHandle(HANDLE handle);

// The object of the wanted type, or null with ERROR_INVALID_HANDLE set.
template <class T> std::shared_ptr<T> LookupAs(HANDLE handle, ObjectType type)
{
    ObjectPtr object = LookupHandle(handle);
    if (!object) {
        return nullptr;
    }
    if (object->Type() != type) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return std::static_pointer_cast<T>(object);
}

// Calls visit(object, context) with the object behind a handle, without taking a
// reference and without any lock: the lookup only reads the shared table, and a
// CloseHandle that runs meanwhile waits until the visit has ended before it lets go
// of the object, so the object cannot disappear under the visit. The visit must be
// short, must not block and must not use the handle table (a close would wait for
// it). Returns false (with ERROR_INVALID_HANDLE, visit not called) for an unknown
// or closed handle. A visit that needs the object beyond its end takes a reference
// with object.shared_from_this().
bool VisitHandle(HANDLE handle, void (*visit)(KernelObject& object, void* context), void* context);

template <class Fn> bool WithHandle(HANDLE handle, Fn& fn)
{
    return VisitHandle(
        handle, [](KernelObject& object, void* context) { (*static_cast<Fn*>(context))(object); },
        &fn);
}

// Removes a handle; returns its object (null with ERROR_INVALID_HANDLE if unknown).
ObjectPtr RemoveHandle(HANDLE handle);

// A new handle to a just-made object, keeping the last error that its making set
// (ERROR_ALREADY_EXISTS, say); null for a null object or a full table.
HANDLE HandleOrNull(ObjectPtr object);

// ---------------------------------------------------------------------------
// Helpers
// ---------------------------------------------------------------------------
DWORD CurrentThreadId();

// UTF-16 <-> UTF-8 (ill-formed input is replaced by U+FFFD).
std::string ToUtf8(const WCHAR* text);
std::string ToUtf8(const WCHAR* text, std::size_t length);
std::u16string FromUtf8(const char* text);
std::u16string FromUtf8(const char* text, std::size_t length);

// File-system names: UTF-16 names <-> the bytes of the system calls, one-to-one in
// both directions. A byte that is not part of well-formed UTF-8 is carried as the
// lone surrogate U+DC80-U+DCFF, so every name on disk can be named and no two map
// to one (the text conversions above would make both "f\xFF" and "f\xFE" into
// "f" U+FFFD). PathFromName refuses a name that no byte string reads back as (any
// other lone surrogate) with ERROR_INVALID_NAME and returns false; a null name is
// the empty path.
bool PathFromName(const WCHAR* name, std::string& path);
std::u16string NameFromPath(const char* path);

// Sets the thread's last error from errno (or the given errno value).
void SetLastErrorFromErrno();
void SetLastErrorFromErrno(int error);

// Copies a UTF-16 result into a caller's buffer with Win32's length conventions:
// returns the length without the terminator when it fits, else the size needed
// including the terminator (and sets ERROR_INSUFFICIENT_BUFFER).
DWORD CopyOut(const std::u16string& text, LPWSTR buffer, DWORD size);

// The user's configuration directory: $XDG_CONFIG_HOME, else ~/.config (the
// registry's databases and the serial port directory live below it).
std::string UserConfigHome();

} // namespace zanth::platform

#endif // ZANTH_PLATFORM_INTERNAL_H
