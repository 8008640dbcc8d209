// The process-wide handle table, CloseHandle/DuplicateHandle, the per-thread last
// error, errno translation and FormatMessageW's system texts.
//
// The table is a two-level array of slots that is never shrunk, so a lookup needs
// no table-wide lock: it locks only the slot it reads. A handle encodes the slot
// index and a generation count, so a closed handle whose slot was reused is still
// recognised as invalid instead of naming somebody else's object.
#include "internal.h"

#include <zanth/win32/zanthext.h>

#include <cerrno>
#include <cstring>
#include <deque>

namespace zanth::platform {
namespace {

constexpr std::uint32_t kSlotsPerChunk = 1024;
constexpr std::uint32_t kChunks = 1024;
constexpr std::uint32_t kIndexBits = 20; // kSlotsPerChunk * kChunks == 1 << 20
constexpr std::uint32_t kGenerationMask = (1u << 20) - 1;

// One cache line per slot, so that threads using neighbouring handles do not contend.
struct alignas(64) Slot
{
    std::mutex lock;
    std::uint32_t generation = 0;
    ObjectPtr object;
};

struct Chunk
{
    Slot slots[kSlotsPerChunk];
};

class HandleTable
{
public:
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
        Slot& slot = SlotAt(index);
        std::uint32_t generation;
        {
            std::lock_guard<std::mutex> guard(slot.lock);
            slot.object = std::move(object);
            generation = slot.generation;
        }
        return Encode(index, generation);
    }

    ObjectPtr Lookup(HANDLE handle)
    {
        std::uint32_t index, generation;
        Slot* slot = Decode(handle, index, generation);
        if (slot) {
            std::lock_guard<std::mutex> guard(slot->lock);
            if (slot->generation == generation && slot->object) {
                return slot->object;
            }
        }
        ::SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }

    bool Visit(HANDLE handle, void (*visit)(const ObjectPtr&, void*), void* context)
    {
        std::uint32_t index, generation;
        Slot* slot = Decode(handle, index, generation);
        if (slot) {
            std::lock_guard<std::mutex> guard(slot->lock);
            if (slot->generation == generation && slot->object) {
                visit(slot->object, context);
                return true;
            }
        }
        ::SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }

    ObjectPtr Remove(HANDLE handle)
    {
        std::uint32_t index, generation;
        Slot* slot = Decode(handle, index, generation);
        ObjectPtr object;
        if (slot) {
            std::lock_guard<std::mutex> guard(slot->lock);
            if (slot->generation == generation && slot->object) {
                object = std::move(slot->object);
                slot->object.reset();
                slot->generation = (slot->generation + 1) & kGenerationMask;
            }
        }
        if (!object) {
            ::SetLastError(ERROR_INVALID_HANDLE);
            return nullptr;
        }
        std::lock_guard<std::mutex> guard(m_AllocLock);
        m_Free.push_back(index);
        --m_Open;
        return object;
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
    static HandleTable* table = new HandleTable;
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
    {ERROR_NEGATIVE_SEEK,
     u"An attempt was made to move the file pointer before the beginning of the file."},
    {ERROR_DIR_NOT_EMPTY, u"The directory is not empty."},
    {ERROR_BAD_ARGUMENTS, u"One or more arguments are not correct."},
    {ERROR_BUSY, u"The requested resource is in use."},
    {ERROR_ALREADY_EXISTS, u"Cannot create a file when that file already exists."},
    {ERROR_FILENAME_EXCED_RANGE, u"The filename or extension is too long."},
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
    {ERROR_TOO_MANY_POSTS, u"Too many posts were made to a semaphore."},
};

} // namespace

HANDLE InsertHandle(ObjectPtr object)
{
    return Table().Insert(std::move(object));
}

ObjectPtr LookupHandle(HANDLE handle)
{
    return Table().Lookup(handle);
}

bool VisitHandle(HANDLE handle, void (*visit)(const ObjectPtr&, void*), void* context)
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
