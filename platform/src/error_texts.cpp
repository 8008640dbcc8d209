// FormatMessageW: the system texts for the error codes that this layer reports.
#include "internal.h"

#include <string>

namespace {

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
    {ERROR_NO_ASSOCIATION,
     u"No application is associated with the specified file for this operation."},
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

using namespace zanth::platform;

extern "C" {

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
