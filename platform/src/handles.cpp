// The process-wide handle table, CloseHandle/DuplicateHandle, the per-thread last
// error, errno translation and FormatMessageW's system texts.
//
// The table is a two-level array of slots that is never shrunk. A handle encodes
// the slot index and a generation count, so a closed handle whose slot was reused
// is still recognised as invalid instead of naming somebody else's object. A slot
// whose generation has reached its last value is retired when that handle is
// closed: counting on from 0 would, after 2^20 reuses, give an old handle back its
// validity, naming whatever object then sits in the slot.
//
// Looking a handle up takes no lock and writes nothing that other threads read
// often: every SetEvent, ReleaseMutex and wait goes through here, and a lock per
// slot made the threads that share a handle hand its cache line to and fro. A
// lookup announces itself in a per-thread record (an odd visit count), reads the
// slot's state (generation and "in use"), reads the object pointer, checks the
// state once more and then uses the object. CloseHandle first marks the slot free
// (a new generation), then waits until every visit that was running at that moment
// has ended, and only then lets go of its reference. A visit that started after the
// mark sees the new generation and reports ERROR_INVALID_HANDLE. Visits are short
// and never block, so the wait in CloseHandle is short too; it is a wait for other
// threads to leave a few instructions, not for an event.
#include "internal.h"

#include <zanth/win32/zanthext.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <pthread.h>
#include <sched.h>

namespace zanth::platform {
namespace {

constexpr std::uint32_t kSlotsPerChunk = 1024;
constexpr std::uint32_t kChunks = 1024;
constexpr std::uint32_t kIndexBits = 20; // kSlotsPerChunk * kChunks == 1 << 20
constexpr std::uint32_t kGenerationMask = (1u << 20) - 1;
// The state of a retired slot: free, with a generation that no handle can carry.
constexpr std::uint32_t kRetired = (kGenerationMask + 1) << 1;

// One cache line per slot, so that threads using neighbouring handles do not contend.
struct alignas(64) Slot
{
    // (generation << 1) | 1 while the slot holds an object, generation << 1 while
    // it is free. Changed only by Insert and Remove.
    std::atomic<std::uint32_t> state{0};
    // The object of the current generation, published before the state. Read by
    // lookups, which trust it only when the state still matches afterwards.
    std::atomic<KernelObject*> raw{nullptr};
    // The slot's reference; written only by the Insert or Remove that owns the slot.
    ObjectPtr object;
};

struct Chunk
{
    Slot slots[kSlotsPerChunk];
};

constexpr std::uint32_t Live(std::uint32_t generation)
{
    return (generation << 1) | 1u;
}

// ---------------------------------------------------------------------------
// Visit records: one per thread, on a line of its own. `visits` is odd while the
// thread is inside a lookup. Records are kept in a list that only grows; a thread
// that ends gives its record back for the next new thread.
// ---------------------------------------------------------------------------
struct alignas(64) VisitRecord
{
    std::atomic<std::uint64_t> visits{0};
    std::atomic<bool> taken{true};
    VisitRecord* next = nullptr;
};

std::atomic<VisitRecord*> g_Records{nullptr};

VisitRecord* TakeRecord()
{
    for (VisitRecord* record = g_Records.load(std::memory_order_acquire); record;
         record = record->next) {
        bool free = false;
        if (!record->taken.load(std::memory_order_relaxed) &&
            record->taken.compare_exchange_strong(free, true, std::memory_order_acquire)) {
            return record;
        }
    }
    auto* record = new VisitRecord;
    VisitRecord* head = g_Records.load(std::memory_order_relaxed);
    do {
        record->next = head;
    } while (!g_Records.compare_exchange_weak(head, record, std::memory_order_seq_cst,
                                              std::memory_order_relaxed));
    return record;
}

void GiveBackRecord(VisitRecord* record)
{
    record->taken.store(false, std::memory_order_release);
}

// The calling thread's record. Trivial thread-locals, so that reading them costs no
// initialisation check; the owner object that gives the record back at thread end
// is made once, when the record is taken.
thread_local VisitRecord* t_Record = nullptr;
thread_local bool t_RecordGivenBack = false;

struct RecordOwner
{
    ~RecordOwner()
    {
        if (t_Record) {
            GiveBackRecord(t_Record);
            t_Record = nullptr;
        }
        t_RecordGivenBack = true;
    }
};

// Null once the thread's own record was given back (while its other thread-local
// objects are destroyed): the lookup then borrows one for its duration.
VisitRecord* ThreadRecord()
{
    if (VisitRecord* record = t_Record) {
        return record;
    }
    if (t_RecordGivenBack) {
        return nullptr;
    }
    t_Record = TakeRecord();
    thread_local RecordOwner owner;
    (void)owner;
    return t_Record;
}

// A child made by fork has only the forking thread: visits that other threads were
// in when it forked never end there, so they are closed, and their records freed.
void AfterForkInChild()
{
    for (VisitRecord* record = g_Records.load(std::memory_order_acquire); record;
         record = record->next) {
        if (record == t_Record) {
            continue;
        }
        const std::uint64_t visits = record->visits.load(std::memory_order_relaxed);
        record->visits.store(visits + (visits & 1), std::memory_order_relaxed);
        record->taken.store(false, std::memory_order_relaxed);
    }
}

// Waits until every visit that is running now has ended. Called after a slot was
// marked free, so that no visit can still be using the slot's old object.
//
// No fence is needed: the mark (a sequentially consistent compare-and-swap), the
// visit's announcement and the two sides' later loads are all sequentially
// consistent, so in their single order either the announcement comes before the
// load here (the visit is waited for) or the mark comes before the visit's load of
// the slot state (the visit sees the slot free). The same holds for a record added
// to the list after the list was read here.
void WaitForRunningVisits()
{
    for (VisitRecord* record = g_Records.load(std::memory_order_seq_cst); record;
         record = record->next) {
        const std::uint64_t visits = record->visits.load(std::memory_order_seq_cst);
        if (visits & 1) {
            while (record->visits.load(std::memory_order_acquire) == visits) {
                sched_yield();
            }
        }
    }
}

class HandleTable
{
public:
    HandleTable() { pthread_atfork(nullptr, nullptr, AfterForkInChild); }

    HANDLE Insert(ObjectPtr object)
    {
        std::uint32_t index;
        {
            std::lock_guard<std::mutex> guard(m_AllocLock);
            if (!m_Free.empty()) {
                index = m_Free.front();
                m_Free.pop_front();
            } else if (m_Next < kSlotsPerChunk * kChunks) {
                index = m_Next++;
                std::uint32_t chunk = index / kSlotsPerChunk;
                if (!m_Chunks[chunk].load(std::memory_order_acquire)) {
                    m_Chunks[chunk].store(new Chunk, std::memory_order_release);
                }
            } else {
                ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
                return nullptr;
            }
            ++m_Open;
        }
        // The slot is this thread's until its state says it is in use.
        Slot& slot = SlotAt(index);
        const std::uint32_t generation = slot.state.load(std::memory_order_relaxed) >> 1;
        slot.raw.store(object.get(), std::memory_order_release);
        slot.object = std::move(object);
        slot.state.store(Live(generation), std::memory_order_release);
        return Encode(index, generation);
    }

    bool Visit(HANDLE handle, void (*visit)(KernelObject&, void*), void* context)
    {
        std::uint32_t index, generation;
        Slot* slot = Decode(handle, index, generation);
        if (!slot) {
            ::SetLastError(ERROR_INVALID_HANDLE);
            return false;
        }
        VisitRecord* record = ThreadRecord();
        const bool borrowed = record == nullptr;
        if (borrowed) {
            record = TakeRecord();
        }
        const std::uint64_t visits = record->visits.load(std::memory_order_relaxed);
        // Announce the visit before reading the slot: a Remove that marks the slot
        // after this store sees the visit and waits for it; one that marked it
        // before is seen by the state check.
        record->visits.store(visits + 1, std::memory_order_seq_cst);
        KernelObject* object = nullptr;
        const std::uint32_t expected = Live(generation);
        if (slot->state.load(std::memory_order_seq_cst) == expected) {
            object = slot->raw.load(std::memory_order_acquire);
            // The pointer may already belong to a later generation: trust it only
            // if the slot is still the handle's.
            if (slot->state.load(std::memory_order_acquire) != expected) {
                object = nullptr;
            }
        }
        if (object) {
            visit(*object, context);
        }
        record->visits.store(visits + 2, std::memory_order_release);
        if (borrowed) {
            GiveBackRecord(record);
        }
        if (!object) {
            ::SetLastError(ERROR_INVALID_HANDLE);
            return false;
        }
        return true;
    }

    ObjectPtr Remove(HANDLE handle)
    {
        std::uint32_t index = 0, generation = 0;
        Slot* slot = Decode(handle, index, generation);
        std::uint32_t expected = Live(generation);
        const bool retire = generation == kGenerationMask;
        const std::uint32_t next = retire ? kRetired : (generation + 1) << 1;
        if (!slot ||
            !slot->state.compare_exchange_strong(expected, next, std::memory_order_seq_cst)) {
            ::SetLastError(ERROR_INVALID_HANDLE);
            return nullptr;
        }
        // The slot is this thread's now: no new visit can reach the object through
        // it, and the ones still running end before the reference is handed out.
        ObjectPtr object = std::move(slot->object);
        slot->object.reset();
        WaitForRunningVisits();
        std::lock_guard<std::mutex> guard(m_AllocLock);
        if (!retire) {
            m_Free.push_back(index);
        }
        --m_Open;
        return object;
    }

    // Moves a live handle's slot to its last generation; returns the handle under
    // that generation (the old value is invalid from then on).
    HANDLE Age(HANDLE handle)
    {
        std::uint32_t index = 0, generation = 0;
        Slot* slot = Decode(handle, index, generation);
        std::uint32_t expected = Live(generation);
        if (!slot || !slot->state.compare_exchange_strong(expected, Live(kGenerationMask),
                                                          std::memory_order_seq_cst)) {
            ::SetLastError(ERROR_INVALID_HANDLE);
            return nullptr;
        }
        return Encode(index, kGenerationMask);
    }

    DWORD OpenCount()
    {
        std::lock_guard<std::mutex> guard(m_AllocLock);
        return m_Open;
    }

private:
    static HANDLE Encode(std::uint32_t index, std::uint32_t generation)
    {
        std::uintptr_t value = ((static_cast<std::uintptr_t>(generation) << kIndexBits) |
                                (static_cast<std::uintptr_t>(index) + 1))
                               << 2;
        return reinterpret_cast<HANDLE>(value);
    }

    Slot* Decode(HANDLE handle, std::uint32_t& index, std::uint32_t& generation)
    {
        std::uintptr_t value = reinterpret_cast<std::uintptr_t>(handle);
        if (value == 0 || (value & 3) != 0 || handle == INVALID_HANDLE_VALUE) {
            return nullptr;
        }
        value >>= 2;
        std::uintptr_t slotNumber = value & ((1u << kIndexBits) - 1);
        std::uintptr_t gen = value >> kIndexBits;
        if (slotNumber == 0 || gen > kGenerationMask) {
            return nullptr;
        }
        index = static_cast<std::uint32_t>(slotNumber - 1);
        generation = static_cast<std::uint32_t>(gen);
        Chunk* chunk = m_Chunks[index / kSlotsPerChunk].load(std::memory_order_acquire);
        if (!chunk) {
            return nullptr;
        }
        return &chunk->slots[index % kSlotsPerChunk];
    }

    Slot& SlotAt(std::uint32_t index)
    {
        return m_Chunks[index / kSlotsPerChunk]
            .load(std::memory_order_acquire)
            ->slots[index % kSlotsPerChunk];
    }

    std::atomic<Chunk*> m_Chunks[kChunks] = {};
    std::mutex m_AllocLock;
    std::deque<std::uint32_t> m_Free;
    std::uint32_t m_Next = 0;
    DWORD m_Open = 0;
};

// Never destroyed: handles may be closed by other libraries' destructors at exit.
HandleTable& Table()
{
    static HandleTable* const table = new HandleTable;
    return *table;
}

thread_local DWORD t_LastError = ERROR_SUCCESS;

struct ErrorText
{
    DWORD code;
    const char16_t* text;
};

// The system texts for the codes that this layer reports.
constexpr ErrorText kErrorTexts[] = {
    {ERROR_SUCCESS, u"The operation completed successfully."},
    {ERROR_INVALID_FUNCTION, u"Incorrect function."},
    {ERROR_FILE_NOT_FOUND, u"The system cannot find the file specified."},
    {ERROR_PATH_NOT_FOUND, u"The system cannot find the path specified."},
    {ERROR_TOO_MANY_OPEN_FILES, u"The system cannot open the file."},
    {ERROR_ACCESS_DENIED, u"Access is denied."},
    {ERROR_INVALID_HANDLE, u"The handle is invalid."},
    {ERROR_NOT_ENOUGH_MEMORY,
     u"Not enough memory resources are available to process this command."},
    {ERROR_INVALID_DATA, u"The data is invalid."},
    {ERROR_OUTOFMEMORY, u"Not enough memory resources are available to complete this operation."},
    {ERROR_NO_MORE_FILES, u"There are no more files."},
    {ERROR_WRITE_FAULT, u"The system cannot write to the specified device."},
    {ERROR_READ_FAULT, u"The system cannot read from the specified device."},
    {ERROR_GEN_FAILURE, u"A device attached to the system is not functioning."},
    {ERROR_SHARING_VIOLATION,
     u"The process cannot access the file because it is being used by another process."},
    {ERROR_LOCK_VIOLATION, u"The process cannot access the file because another process has locked "
                           u"a portion of the file."},
    {ERROR_HANDLE_EOF, u"Reached the end of the file."},
    {ERROR_HANDLE_DISK_FULL, u"The disk is full."},
    {ERROR_NOT_SUPPORTED, u"The request is not supported."},
    {ERROR_FILE_EXISTS, u"The file exists."},
    {ERROR_INVALID_PARAMETER, u"The parameter is incorrect."},
    {ERROR_BROKEN_PIPE, u"The pipe has been ended."},
    {ERROR_BUFFER_OVERFLOW, u"The file name is too long."},
    {ERROR_DISK_FULL, u"There is not enough space on the disk."},
    {ERROR_CALL_NOT_IMPLEMENTED, u"This function is not supported on this system."},
    {ERROR_INSUFFICIENT_BUFFER, u"The data area passed to a system call is too small."},
    {ERROR_INVALID_NAME, u"The filename, directory name, or volume label syntax is incorrect."},
    {ERROR_MOD_NOT_FOUND, u"The specified module could not be found."},
    {ERROR_PROC_NOT_FOUND, u"The specified procedure could not be found."},
    {ERROR_NO_ASSOCIATION, u"No application is associated with the specified file for this operation."},
    {ERROR_NEGATIVE_SEEK,
     u"An attempt was made to move the file pointer before the beginning of the file."},
    {ERROR_DIR_NOT_EMPTY, u"The directory is not empty."},
    {ERROR_BAD_ARGUMENTS, u"One or more arguments are not correct."},
    {ERROR_BUSY, u"The requested resource is in use."},
    {ERROR_ALREADY_EXISTS, u"Cannot create a file when that file already exists."},
    {ERROR_FILENAME_EXCED_RANGE, u"The filename or extension is too long."},
    {ERROR_PIPE_NOT_CONNECTED, u"No process is on the other end of the pipe."},
    {ERROR_MORE_DATA, u"More data is available."},
    {ERROR_DIRECTORY, u"The directory name is invalid."},
    {ERROR_NOT_OWNER, u"Attempt to release mutex not owned by caller."},
    {ERROR_INVALID_ADDRESS, u"Attempt to access invalid address."},
    {ERROR_OPERATION_ABORTED, u"The I/O operation has been aborted because of either a thread exit "
                              u"or an application request."},
    {ERROR_IO_INCOMPLETE, u"Overlapped I/O event is not in a signaled state."},
    {ERROR_IO_PENDING, u"Overlapped I/O operation is in progress."},
    {ERROR_NOACCESS, u"Invalid access to memory location."},
    {ERROR_FILE_INVALID, u"The volume for a file has been externally altered so that the opened "
                         u"file is no longer valid."},
    {ERROR_INVALID_FLAGS, u"Invalid flags."},
    {ERROR_NO_UNICODE_TRANSLATION,
     u"No mapping for the Unicode character exists in the target multi-byte code page."},
    {ERROR_MAPPED_ALIGNMENT,
     u"The base address or the file offset specified does not have the proper alignment."},
    {ERROR_DEVICE_NOT_CONNECTED, u"The device is not connected."},
    {ERROR_NOT_FOUND, u"Element not found."},
    {ERROR_PRIVILEGE_NOT_HELD, u"A required privilege is not held by the client."},
    {ERROR_INVALID_WINDOW_HANDLE, u"Invalid window handle."},
    {ERROR_COMMITMENT_LIMIT, u"The paging file is too small for this operation to complete."},
    {ERROR_TIMEOUT, u"This operation returned because the timeout period expired."},
    {ERROR_INVALID_USER_BUFFER,
     u"The supplied user buffer is not valid for the requested operation."},
    {ERROR_CANT_ACCESS_FILE, u"The file cannot be accessed by the system."},
    {ERROR_TOO_MANY_POSTS, u"Too many posts were made to a semaphore."},
    {ERROR_NO_MORE_ITEMS, u"No more data is available."},
    {ERROR_BAD_PATHNAME, u"The specified path is invalid."},
    {ERROR_CANTOPEN, u"The configuration registry key could not be opened."},
    {ERROR_REGISTRY_CORRUPT, u"The structure of one of the files containing registry data is "
                             u"corrupt, or the system's memory image of the file is corrupt, or "
                             u"the file could not be recovered because the alternate copy or log "
                             u"was absent or corrupt."},
    {ERROR_REGISTRY_IO_FAILED, u"An I/O operation initiated by the registry failed "
                               u"unrecoverably. The registry could not read in, or write out, or "
                               u"flush, one of the files that contain the system's image of the "
                               u"registry."},
    {ERROR_KEY_DELETED, u"Illegal operation attempted on a registry key that has been marked for "
                        u"deletion."},
};

} // namespace

HANDLE InsertHandle(ObjectPtr object)
{
    return Table().Insert(std::move(object));
}

ObjectPtr LookupHandle(HANDLE handle)
{
    ObjectPtr object;
    auto take = [&](KernelObject& found) { object = found.shared_from_this(); };
    WithHandle(handle, take);
    return object;
}

bool VisitHandle(HANDLE handle, void (*visit)(KernelObject&, void*), void* context)
{
    return Table().Visit(handle, visit, context);
}

ObjectPtr RemoveHandle(HANDLE handle)
{
    return Table().Remove(handle);
}

void SetLastErrorFromErrno()
{
    SetLastErrorFromErrno(errno);
}

void SetLastErrorFromErrno(int error)
{
    ::SetLastError(ZanthErrorFromErrno(error));
}

DWORD CopyOut(const std::u16string& text, LPWSTR buffer, DWORD size)
{
    if (!buffer || size <= text.size()) {
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return static_cast<DWORD>(text.size() + 1);
    }
    std::memcpy(buffer, text.data(), text.size() * sizeof(WCHAR));
    buffer[text.size()] = 0;
    return static_cast<DWORD>(text.size());
}

} // namespace zanth::platform

using namespace zanth::platform;

extern "C" {

DWORD WINAPI GetLastError(void)
{
    return t_LastError;
}

void WINAPI SetLastError(DWORD errorCode)
{
    t_LastError = errorCode;
}

BOOL WINAPI CloseHandle(HANDLE object)
{
    ObjectPtr removed = RemoveHandle(object);
    if (!removed) {
        return FALSE;
    }
    removed->OnHandleClosed();
    return TRUE;
}

HANDLE WINAPI GetCurrentProcess(void)
{
    return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));
}

BOOL WINAPI DuplicateHandle(HANDLE sourceProcess, HANDLE source, HANDLE targetProcess,
                            LPHANDLE target, DWORD /*access*/, BOOL /*inherit*/, DWORD options)
{
    if (sourceProcess != GetCurrentProcess() || targetProcess != GetCurrentProcess() || !target) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    ObjectPtr object = LookupHandle(source);
    if (!object) {
        return FALSE;
    }
    HANDLE copy = InsertHandle(object);
    if (!copy) {
        return FALSE;
    }
    *target = copy;
    if (options & DUPLICATE_CLOSE_SOURCE) {
        CloseHandle(source);
    }
    return TRUE;
}

DWORD ZanthOpenHandleCount(void)
{
    return Table().OpenCount();
}

HANDLE ZanthAgeHandle(HANDLE handle)
{
    return Table().Age(handle);
}

DWORD ZanthErrorFromErrno(int error)
{
    switch (error) {
    case 0:
        return ERROR_SUCCESS;
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EMFILE:
    case ENFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return ERROR_ACCESS_DENIED;
    case EBADF:
        return ERROR_INVALID_HANDLE;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case EEXIST:
        return ERROR_ALREADY_EXISTS;
    case EINVAL:
        return ERROR_INVALID_PARAMETER;
    case ENOSPC:
        return ERROR_DISK_FULL;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    case ENOTEMPTY:
        return ERROR_DIR_NOT_EMPTY;
    case EBUSY:
        return ERROR_BUSY;
    case EAGAIN:
        return ERROR_NOT_ENOUGH_MEMORY;
    case EPIPE:
        return ERROR_BROKEN_PIPE;
    case EIO:
        return ERROR_GEN_FAILURE;
    case ENXIO:
    case ENODEV:
        return ERROR_DEVICE_NOT_CONNECTED;
    case ESPIPE:
        return ERROR_NEGATIVE_SEEK;
    case ETIMEDOUT:
        return ERROR_TIMEOUT;
    case EFAULT:
        return ERROR_NOACCESS;
    case ENOSYS:
    case EOPNOTSUPP:
        return ERROR_NOT_SUPPORTED;
    case EFBIG:
        return ERROR_HANDLE_DISK_FULL;
    case EINTR:
        return ERROR_OPERATION_ABORTED;
    default:
        return ERROR_GEN_FAILURE;
    }
}

DWORD WINAPI FormatMessageW(DWORD flags, LPCVOID /*source*/, DWORD messageId, DWORD /*languageId*/,
                            LPWSTR buffer, DWORD size, void* /*arguments*/)
{
    if (!(flags & FORMAT_MESSAGE_FROM_SYSTEM) || (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER)) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const char16_t* text = nullptr;
    for (const ErrorText& entry : kErrorTexts) {
        if (entry.code == messageId) {
            text = entry.text;
            break;
        }
    }
    if (!text) {
        ::SetLastError(ERROR_NOT_FOUND);
        return 0;
    }
    std::u16string message(text);
    if (!(flags & FORMAT_MESSAGE_MAX_WIDTH_MASK)) {
        message += u"\r\n";
    }
    if (!buffer || size <= message.size()) {
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    return CopyOut(message, buffer, size);
}

} // extern "C"
