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
//
// Named events and mutexes are shared with the other processes of the user; their
// state and lock live in shared memory and their waiters sleep on a word there
// (see "Named objects" below).
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
#include <new>
#include <pthread.h>
#include <signal.h>
#include <string>
#include <sys/file.h>
#include <sys/mman.h>
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
    if (std::atomic<std::uint32_t>* shared = sharedWord) {
        // It sleeps (or is about to) on a named object's word: moving the word on
        // keeps a sleep that has not begun from beginning. The waiter is still in
        // its wait, so the object and its mapping are alive.
        shared->fetch_add(1, std::memory_order_seq_cst);
        syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(shared), FUTEX_WAKE, INT_MAX, nullptr,
                nullptr, 0);
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

// ---------------------------------------------------------------------------
// Named objects, shared by the processes of the user
// ---------------------------------------------------------------------------

// A named event or mutex lives in a small file of its own in $XDG_RUNTIME_DIR (or
// the temp directory), mapped shared by every process that has it open. The file
// holds the object's state, a robust process-shared lock over that state and a
// sequence word: every change that may satisfy a waiter (a set, a release, an
// abandonment) moves the word on and wakes whatever sleeps on it, in any process.
// A waiter reads the word before it checks the objects and sleeps only while the
// word still holds that value, so no change between its check and its sleep is
// lost. Auto-reset and mutex semantics come from the lock: every waiter that is
// woken checks again under it, and only one can take the object.
//
// A mutex's owner is recorded as the process id and kernel thread id. A thread
// that ends while owning it abandons it (as for a local mutex). A process that is
// killed does not; a waiter therefore checks, under the lock, whether a recorded
// owner still exists, and while another process owns the mutex it sleeps in slices
// of kOwnerCheckNs so that it notices the owner's death.
//
// Holding a name: each process that has the object open holds a shared advisory
// lock (flock) on its file. Opening and the last close run under an exclusive lock
// on one guard file of the directory, so that "nobody else holds the file" (an
// exclusive flock succeeds) reliably means that the object is new: its state is
// then set up afresh (a file left by a killed process is reused), and the last
// process to close it removes the file. The name is free again once every process
// that held it has closed it or died.
constexpr std::uint32_t kSharedMagic = 0x5a4e4f31;
constexpr std::int64_t kOwnerCheckNs = 100 * 1000000;

struct SharedBlock
{
    std::uint32_t magic; // kSharedMagic once the block is set up
    std::uint32_t kind;  // the ObjectType
    pthread_mutex_t lock;
    std::atomic<std::uint32_t> sequence;
    // Event
    std::uint32_t manualReset;
    std::uint32_t signaled;
    // Mutex: owner (0: free), recursion count, abandoned since the last owner.
    std::uint32_t ownerProcess;
    std::uint32_t ownerThread;
    std::uint32_t count;
    std::uint32_t abandoned;
};

static_assert(std::atomic<std::uint32_t>::is_always_lock_free,
              "the sequence word is shared between processes");

std::uint32_t ProcessId()
{
    return static_cast<std::uint32_t>(::getpid());
}

// Not the cached thread id: a child made by fork must not take its parent
// thread's id for its own.
std::uint32_t KernelThreadId()
{
    return static_cast<std::uint32_t>(syscall(SYS_gettid));
}

bool ThreadExists(std::uint32_t process, std::uint32_t thread)
{
    if (syscall(SYS_tgkill, static_cast<pid_t>(process), static_cast<pid_t>(thread), 0) == 0) {
        return true;
    }
    return errno != ESRCH;
}

bool FutexWaitShared(std::atomic<std::uint32_t>& word, std::uint32_t expected, std::int64_t ns)
{
    timespec timeout;
    timespec* limit = nullptr;
    if (ns >= 0) {
        timeout.tv_sec = static_cast<time_t>(ns / 1000000000);
        timeout.tv_nsec = static_cast<long>(ns % 1000000000);
        limit = &timeout;
    }
    long rc = syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), FUTEX_WAIT, expected,
                      limit, nullptr, 0);
    return !(rc == -1 && errno == ETIMEDOUT);
}

void FutexWakeShared(std::atomic<std::uint32_t>& word)
{
    syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), FUTEX_WAKE, INT_MAX, nullptr,
            nullptr, 0);
}

// The mapped block of one named object. Kept by the object and, while a thread of
// this process owns the mutex, by that thread's list of owned named mutexes, so
// that the thread can abandon it at its end even after the last handle was closed.
class SharedMapping
{
public:
    explicit SharedMapping(SharedBlock* block) : m_Block(block) {}
    ~SharedMapping() { ::munmap(m_Block, sizeof(SharedBlock)); }
    SharedMapping(const SharedMapping&) = delete;
    SharedMapping& operator=(const SharedMapping&) = delete;

    SharedBlock& Block() { return *m_Block; }

    void Lock()
    {
        if (pthread_mutex_lock(&m_Block->lock) == EOWNERDEAD) {
            // A process died holding the lock. Every change of the state under it
            // is a few stores that leave a consistent object at each step.
            pthread_mutex_consistent(&m_Block->lock);
        }
    }
    void Unlock() { pthread_mutex_unlock(&m_Block->lock); }

    // With the lock held: lets every waiter of every process look again.
    void WakeAllLocked()
    {
        m_Block->sequence.fetch_add(1, std::memory_order_seq_cst);
        FutexWakeShared(m_Block->sequence);
    }

    // With the lock held: marks the mutex abandoned when that thread owns it.
    void AbandonLocked(std::uint32_t process, std::uint32_t thread)
    {
        SharedBlock& block = *m_Block;
        if (block.ownerProcess == process && block.ownerThread == thread) {
            block.ownerProcess = 0;
            block.ownerThread = 0;
            block.count = 0;
            block.abandoned = 1;
            WakeAllLocked();
        }
    }

private:
    SharedBlock* m_Block;
};

struct OwnedSharedMutexes
{
    std::vector<std::shared_ptr<SharedMapping>> list;
    ~OwnedSharedMutexes()
    {
        const std::uint32_t process = ProcessId();
        const std::uint32_t thread = KernelThreadId();
        for (const std::shared_ptr<SharedMapping>& mapping : list) {
            mapping->Lock();
            mapping->AbandonLocked(process, thread);
            mapping->Unlock();
        }
    }
};

OwnedSharedMutexes& CurrentOwnedSharedMutexes()
{
    thread_local OwnedSharedMutexes owned;
    return owned;
}

// A directory of the user's own: it exists, is a directory (not a link to one)
// owned by the user, and nobody else may write to it.
bool IsPrivateDirectory(const std::string& path)
{
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
           info.st_uid == ::geteuid() && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// Where the files of named objects live: $XDG_RUNTIME_DIR when it is a directory
// of the user's own, else a private "zanth-<uid>" directory in $TMPDIR (or /tmp),
// made on first use. A runtime directory that is set but missing (a shell reached
// through su, say) must not make every named object, and so the library's load,
// fail; a shared temp directory must not let other users plant the files.
std::string SharedDirectory()
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime && IsPrivateDirectory(runtime)) {
        return runtime;
    }
    const char* temp = std::getenv("TMPDIR");
    std::string dir = (temp && *temp) ? temp : "/tmp";
    dir += "/zanth-" + std::to_string(::geteuid());
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        return dir; // opening the object's file reports why
    }
    return dir;
}

// The file name of an object name: printable ASCII stays readable, every other
// unit (and '/', '%') becomes %XXXX, so that two names never share a file.
std::string SharedFileName(const std::u16string& name)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string file = "zanth-object-";
    for (char16_t unit : name) {
        if (unit > 0x20 && unit < 0x7f && unit != u'/' && unit != u'%') {
            file += static_cast<char>(unit);
        } else {
            file += '%';
            for (int shift = 12; shift >= 0; shift -= 4) {
                file += kHex[(unit >> shift) & 0xf];
            }
        }
    }
    return file;
}

// Opens (creating) a file of the user's own, never through a link; -1 with the
// last error set when it cannot.
int OpenPrivateFile(const std::string& path)
{
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (fd < 0) {
        // With O_CREAT a missing entry can only be the directory.
        if (errno == ENOENT) {
            ::SetLastError(ERROR_PATH_NOT_FOUND);
        } else if (errno == ELOOP) {
            ::SetLastError(ERROR_ACCESS_DENIED);
        } else {
            SetLastErrorFromErrno();
        }
        return -1;
    }
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
        ::close(fd);
        ::SetLastError(ERROR_ACCESS_DENIED);
        return -1;
    }
    return fd;
}

// The exclusive lock on a directory's guard file, for one open or last close.
class NameGuard
{
public:
    explicit NameGuard(const std::string& dir) : m_Fd(OpenPrivateFile(dir + "/zanth-objects.lock"))
    {
        if (m_Fd >= 0) {
            while (::flock(m_Fd, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }
    ~NameGuard()
    {
        if (m_Fd >= 0) {
            ::close(m_Fd);
        }
    }
    NameGuard(const NameGuard&) = delete;
    NameGuard& operator=(const NameGuard&) = delete;
    bool Held() const { return m_Fd >= 0; }

private:
    int m_Fd;
};

class SharedObject final : public WaitableObject
{
public:
    // Opens the object of that name for this process, creating it (with the given
    // state) when no process has it open. `existed` tells which. Null with the last
    // error set when the file cannot be used, or ERROR_INVALID_HANDLE when the
    // name belongs to an object of another kind.
    static ObjectPtr Open(const std::u16string& name, ObjectType type, bool manualReset,
                          bool initialState, bool& existed)
    {
        const std::string dir = SharedDirectory();
        NameGuard guard(dir);
        if (!guard.Held()) {
            return nullptr;
        }
        const std::string path = dir + "/" + SharedFileName(name);
        const int fd = OpenPrivateFile(path);
        if (fd < 0) {
            return nullptr;
        }
        auto fail = [fd](DWORD error) -> ObjectPtr {
            ::close(fd);
            ::SetLastError(error);
            return nullptr;
        };
        const bool created = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        if (created) {
            // A new object: whatever an earlier one left in the file goes. The
            // blocks are reserved now, so that using the mapping cannot fault.
            if (::ftruncate(fd, 0) != 0) {
                return fail(ZanthErrorFromErrno(errno));
            }
            if (int error = ::posix_fallocate(fd, 0, sizeof(SharedBlock))) {
                return fail(ZanthErrorFromErrno(error));
            }
        } else {
            struct stat info;
            if (::fstat(fd, &info) != 0 || info.st_size < static_cast<off_t>(sizeof(SharedBlock))) {
                return fail(ERROR_INVALID_DATA);
            }
        }
        void* memory =
            ::mmap(nullptr, sizeof(SharedBlock), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (memory == MAP_FAILED) {
            return fail(ZanthErrorFromErrno(errno));
        }
        auto mapping = std::make_shared<SharedMapping>(static_cast<SharedBlock*>(memory));
        SharedBlock& block = mapping->Block();
        if (created) {
            new (&block.sequence) std::atomic<std::uint32_t>(0);
            pthread_mutexattr_t attributes;
            pthread_mutexattr_init(&attributes);
            pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
            pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
            const int error = pthread_mutex_init(&block.lock, &attributes);
            pthread_mutexattr_destroy(&attributes);
            if (error != 0) {
                return fail(ZanthErrorFromErrno(error));
            }
            block.kind = static_cast<std::uint32_t>(type);
            block.manualReset = manualReset ? 1 : 0;
            block.signaled = initialState ? 1 : 0;
            if (type == ObjectType::Mutex && initialState) {
                // The creator's initial ownership, before any other process can
                // open the mutex.
                block.ownerProcess = ProcessId();
                block.ownerThread = KernelThreadId();
                block.count = 1;
                CurrentOwnedSharedMutexes().list.push_back(mapping);
            }
            block.magic = kSharedMagic;
            ::flock(fd, LOCK_SH);
        } else {
            if (block.magic != kSharedMagic) {
                return fail(ERROR_INVALID_DATA);
            }
            if (block.kind != static_cast<std::uint32_t>(type)) {
                return fail(ERROR_INVALID_HANDLE);
            }
            if (::flock(fd, LOCK_SH | LOCK_NB) != 0) {
                return fail(ZanthErrorFromErrno(errno));
            }
        }
        existed = !created;
        return std::make_shared<SharedObject>(type, fd, dir, path, std::move(mapping));
    }

    SharedObject(ObjectType type, int fd, std::string dir, std::string path,
                 std::shared_ptr<SharedMapping> mapping)
        : WaitableObject(type, true), m_Fd(fd), m_Process(ProcessId()), m_Directory(std::move(dir)),
          m_Path(std::move(path)), m_Mapping(std::move(mapping))
    {}

    // The last process to close the object removes its file, so that the name is
    // free and the directory keeps no litter. A child made by fork shares the
    // descriptor's lock with its parent, so it only closes its copy.
    ~SharedObject() override
    {
        if (m_Process != ProcessId()) {
            ::close(m_Fd);
            return;
        }
        NameGuard guard(m_Directory);
        if (guard.Held() && ::flock(m_Fd, LOCK_EX | LOCK_NB) == 0) {
            struct stat mine, named;
            if (::fstat(m_Fd, &mine) == 0 && ::stat(m_Path.c_str(), &named) == 0 &&
                mine.st_dev == named.st_dev && mine.st_ino == named.st_ino) {
                ::unlink(m_Path.c_str());
            }
        }
        ::close(m_Fd);
    }

    std::atomic<std::uint32_t>& Sequence() { return m_Mapping->Block().sequence; }

    // The lock of the shared state. A mutex whose recorded owner no longer exists
    // (its process was killed) is abandoned here, before anyone looks at it.
    void LockShared()
    {
        m_Mapping->Lock();
        SharedBlock& block = m_Mapping->Block();
        if (block.ownerProcess != 0 && !ThreadExists(block.ownerProcess, block.ownerThread)) {
            m_Mapping->AbandonLocked(block.ownerProcess, block.ownerThread);
        }
    }
    void UnlockShared() { m_Mapping->Unlock(); }

    // With the lock held: a mutex that a thread of another process owns. Its
    // waiters must look again now and then, as its owner may be killed.
    bool OwnedElsewhereLocked()
    {
        const SharedBlock& block = m_Mapping->Block();
        return block.ownerProcess != 0 && block.ownerProcess != ProcessId();
    }

    bool IsSignaledLocked(DWORD) const override
    {
        const SharedBlock& block = m_Mapping->Block();
        if (Type() == ObjectType::Event) {
            return block.signaled != 0;
        }
        return block.ownerProcess == 0 ||
               (block.ownerProcess == ProcessId() && block.ownerThread == KernelThreadId());
    }

    bool AcquireLocked(DWORD) override
    {
        SharedBlock& block = m_Mapping->Block();
        if (Type() == ObjectType::Event) {
            if (!block.manualReset) {
                block.signaled = 0;
            }
            return false;
        }
        if (block.ownerProcess == 0) {
            const bool wasAbandoned = block.abandoned != 0;
            block.ownerProcess = ProcessId();
            block.ownerThread = KernelThreadId();
            block.count = 1;
            block.abandoned = 0;
            CurrentOwnedSharedMutexes().list.push_back(m_Mapping);
            return wasAbandoned;
        }
        if (block.count != UINT_MAX) {
            ++block.count;
        }
        return false;
    }

    void Set()
    {
        m_Mapping->Lock();
        SharedBlock& block = m_Mapping->Block();
        if (!block.signaled) {
            block.signaled = 1;
            m_Mapping->WakeAllLocked();
        }
        m_Mapping->Unlock();
    }

    void Reset()
    {
        m_Mapping->Lock();
        m_Mapping->Block().signaled = 0;
        m_Mapping->Unlock();
    }

    BOOL Release()
    {
        LockShared();
        SharedBlock& block = m_Mapping->Block();
        if (block.ownerProcess != ProcessId() || block.ownerThread != KernelThreadId()) {
            UnlockShared();
            ::SetLastError(ERROR_NOT_OWNER);
            return FALSE;
        }
        if (--block.count == 0) {
            block.ownerProcess = 0;
            block.ownerThread = 0;
            m_Mapping->WakeAllLocked();
            auto& list = CurrentOwnedSharedMutexes().list;
            for (auto it = list.end(); it != list.begin();) {
                if (*--it == m_Mapping) {
                    list.erase(it);
                    break;
                }
            }
        }
        UnlockShared();
        return TRUE;
    }

private:
    const int m_Fd;
    const std::uint32_t m_Process;
    const std::string m_Directory;
    const std::string m_Path;
    const std::shared_ptr<SharedMapping> m_Mapping;
};

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
    bool isMutex = false;
    ObjectPtr shared;
    auto release = [&](KernelObject& object) {
        if ((isMutex = object.Type() == ObjectType::Mutex)) {
            if (static_cast<WaitableObject&>(object).IsShared()) {
                shared = object.shared_from_this();
            } else {
                released = static_cast<MutexObject&>(object).Release(CurrentThreadId());
            }
        }
    };
    if (!WithHandle(mutex, release)) {
        return FALSE;
    }
    if (!isMutex) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (shared) {
        released = static_cast<SharedObject&>(*shared).Release();
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
