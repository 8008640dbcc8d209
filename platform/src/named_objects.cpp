// Named events and mutexes, shared by the processes of the user, and the name
// table of the process.
//
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
#include "named_objects.h"

#include "futex.h"

#include <zanth/win32/zanthext.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <new>
#include <pthread.h>
#include <signal.h>
#include <string>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace zanth::platform {
namespace {

constexpr std::uint32_t kSharedMagic = 0x5a4e4f31;

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

} // namespace

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

namespace {

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

} // namespace

// Opens the object of that name for this process, creating it (with the given
// state) when no process has it open. `existed` tells which. Null with the last
// error set when the file cannot be used, or ERROR_INVALID_HANDLE when the
// name belongs to an object of another kind.
ObjectPtr SharedObject::Open(const std::u16string& name, ObjectType type, bool manualReset,
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
    void* memory = ::mmap(nullptr, sizeof(SharedBlock), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
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

SharedObject::SharedObject(ObjectType type, int fd, std::string dir, std::string path,
                           std::shared_ptr<SharedMapping> mapping)
    : WaitableObject(type, true), m_Fd(fd), m_Process(ProcessId()), m_Directory(std::move(dir)),
      m_Path(std::move(path)), m_Mapping(std::move(mapping))
{}

// The last process to close the object removes its file, so that the name is
// free and the directory keeps no litter. A child made by fork shares the
// descriptor's lock with its parent, so it only closes its copy.
SharedObject::~SharedObject()
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

std::atomic<std::uint32_t>& SharedObject::Sequence()
{
    return m_Mapping->Block().sequence;
}

// The lock of the shared state. A mutex whose recorded owner no longer exists
// (its process was killed) is abandoned here, before anyone looks at it.
void SharedObject::LockShared()
{
    m_Mapping->Lock();
    SharedBlock& block = m_Mapping->Block();
    if (block.ownerProcess != 0 && !ThreadExists(block.ownerProcess, block.ownerThread)) {
        m_Mapping->AbandonLocked(block.ownerProcess, block.ownerThread);
    }
}
void SharedObject::UnlockShared()
{
    m_Mapping->Unlock();
}

// With the lock held: a mutex that a thread of another process owns. Its
// waiters must look again now and then, as its owner may be killed.
bool SharedObject::OwnedElsewhereLocked() const
{
    const SharedBlock& block = m_Mapping->Block();
    return block.ownerProcess != 0 && block.ownerProcess != ProcessId();
}

bool SharedObject::IsSignaledLocked(DWORD) const
{
    const SharedBlock& block = m_Mapping->Block();
    if (Type() == ObjectType::Event) {
        return block.signaled != 0;
    }
    return block.ownerProcess == 0 ||
           (block.ownerProcess == ProcessId() && block.ownerThread == KernelThreadId());
}

bool SharedObject::AcquireLocked(DWORD)
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

void SharedObject::Set()
{
    m_Mapping->Lock();
    SharedBlock& block = m_Mapping->Block();
    if (!block.signaled) {
        block.signaled = 1;
        m_Mapping->WakeAllLocked();
    }
    m_Mapping->Unlock();
}

void SharedObject::Reset()
{
    m_Mapping->Lock();
    m_Mapping->Block().signaled = 0;
    m_Mapping->Unlock();
}

BOOL SharedObject::Release()
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

NameTable& Names()
{
    static NameTable* table = new NameTable;
    return *table;
}

} // namespace zanth::platform
