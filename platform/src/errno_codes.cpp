// ZanthErrorFromErrno: the Win32 error code of a C library errno value. It uses
// only the errno names, so the same table serves the Linux layer and the Windows
// build (whose C runtime has other numbers for the same names).
#include <zanth/win32/windows.h>
#include <zanth/win32/zanthext.h>

#include <cerrno>

extern "C" {

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

} // extern "C"
