// Files: CreateFileW with Win32 creation dispositions and share modes, ReadFile,
// WriteFile, file pointer, size and type, SetEndOfFile, FlushFileBuffers,
// attributes, GetFileInformationByHandle and DeleteFileW. Paths arrive as UTF-16
// and reach the system as UTF-8; a backslash is an ordinary file-name character on
// Linux and is passed through unchanged.
//
// Share modes are honoured between the handles of this process: a table keyed by
// device and inode holds the access and share mode of every open handle, and an
// open (or a delete) that conflicts with them fails with ERROR_SHARING_VIOLATION,
// exactly as Windows decides it.
//
// Opening never waits: a FIFO without a reader refuses a writer at once
// (ERROR_PIPE_NOT_CONNECTED) instead of blocking the caller until one comes.
#include "comm.h"
#include "file_object.h"
#include "internal.h"
#include "long_path.h"

#include <zanth/win32/zanthext.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace zanth::platform {
namespace {

struct OpenEntry
{
    DWORD access;
    DWORD share;
};

class ShareTable
{
public:
    std::mutex& Lock() { return m_Lock; }

    // With Lock() held: may a handle with this access and share mode be opened?
    // A handle without read, write, execute or delete access (access 0: attributes
    // only) takes no part in sharing, neither as the newcomer nor as a holder.
    bool CompatibleLocked(std::uint64_t device, std::uint64_t inode, DWORD access, DWORD share)
    {
        auto it = m_Open.find({device, inode});
        if (it == m_Open.end() || !Shares(access)) {
            return true;
        }
        for (const OpenEntry& other : it->second) {
            if (!Shares(other.access)) {
                continue;
            }
            if (!Allows(other.share, access) || !Allows(share, other.access)) {
                return false;
            }
        }
        return true;
    }

    void AddLocked(std::uint64_t device, std::uint64_t inode, DWORD access, DWORD share)
    {
        m_Open[{device, inode}].push_back({access, share});
    }

    void Remove(std::uint64_t device, std::uint64_t inode, DWORD access, DWORD share)
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        auto it = m_Open.find({device, inode});
        if (it == m_Open.end()) {
            return;
        }
        auto& list = it->second;
        for (auto entry = list.begin(); entry != list.end(); ++entry) {
            if (entry->access == access && entry->share == share) {
                list.erase(entry);
                break;
            }
        }
        if (list.empty()) {
            m_Open.erase(it);
        }
    }

private:
    static bool Shares(DWORD access)
    {
        return (access & (GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL |
                          kDeleteAccess)) != 0;
    }

    // Does a holder's share mode allow another handle's access? Executing reads
    // the data, so it needs FILE_SHARE_READ.
    static bool Allows(DWORD share, DWORD access)
    {
        if ((access & (GENERIC_READ | GENERIC_EXECUTE | GENERIC_ALL)) &&
            !(share & FILE_SHARE_READ)) {
            return false;
        }
        if ((access & (GENERIC_WRITE | GENERIC_ALL)) && !(share & FILE_SHARE_WRITE)) {
            return false;
        }
        if ((access & kDeleteAccess) && !(share & FILE_SHARE_DELETE)) {
            return false;
        }
        return true;
    }

public:
    // The DELETE access right (0x00010000); DeleteFileW asks for it.
    static constexpr DWORD kDeleteAccess = 0x00010000u;

private:
    std::mutex m_Lock;
    std::map<std::pair<std::uint64_t, std::uint64_t>, std::vector<OpenEntry>> m_Open;
};

ShareTable& Shares()
{
    static ShareTable* table = new ShareTable;
    return *table;
}

std::shared_ptr<FileObject> LookupFile(HANDLE handle)
{
    return LookupAs<FileObject>(handle, ObjectType::File);
}

// FILE_ATTRIBUTE_READONLY is a file without any write permission bit.
bool IsReadOnly(const struct stat& info)
{
    return (info.st_mode & 0222) == 0;
}

// ENOENT is ERROR_PATH_NOT_FOUND when the directory part does not exist.
DWORD NotFoundError(const std::string& path)
{
    std::string::size_type slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0) {
        return ERROR_FILE_NOT_FOUND;
    }
    struct stat info;
    std::string dir = path.substr(0, slash);
    if (::stat(dir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        return ERROR_PATH_NOT_FOUND;
    }
    return ERROR_FILE_NOT_FOUND;
}

void SetPathError(const std::string& path, int error)
{
    if (error == ENOENT) {
        ::SetLastError(NotFoundError(path));
    } else {
        SetLastErrorFromErrno(error);
    }
}

bool ReadAll(int fd, BYTE* buffer, DWORD count, DWORD& done, const LONGLONG* offset)
{
    done = 0;
    while (done < count) {
        ssize_t n = offset ? ::pread(fd, buffer + done, count - done, *offset + done)
                           : ::read(fd, buffer + done, count - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            SetLastErrorFromErrno();
            return false;
        }
        if (n == 0) {
            break;
        }
        done += static_cast<DWORD>(n);
    }
    return true;
}

bool WriteAll(int fd, const BYTE* buffer, DWORD count, DWORD& done, const LONGLONG* offset)
{
    done = 0;
    while (done < count) {
        ssize_t n = offset ? ::pwrite(fd, buffer + done, count - done, *offset + done)
                           : ::write(fd, buffer + done, count - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            SetLastErrorFromErrno();
            return false;
        }
        done += static_cast<DWORD>(n);
    }
    return true;
}

// Completes an OVERLAPPED request synchronously: files are always ready.
void CompleteOverlapped(LPOVERLAPPED overlapped, DWORD transferred)
{
    overlapped->Internal = 0;
    overlapped->InternalHigh = transferred;
    if (overlapped->hEvent) {
        ::SetEvent(overlapped->hEvent);
    }
}

LONGLONG OverlappedOffset(const OVERLAPPED* overlapped)
{
    return static_cast<LONGLONG>((static_cast<ULONGLONG>(overlapped->OffsetHigh) << 32) |
                                 overlapped->Offset);
}

// The position a move would reach, found without moving the file pointer (a move
// that fails must leave it where it was). Sets the last error and returns false
// for a bad method, a position before the start or one beyond the 64-bit range.
bool PointerTarget(int fd, LONGLONG distance, DWORD moveMethod, LONGLONG& target)
{
    LONGLONG base = 0;
    switch (moveMethod) {
    case FILE_BEGIN:
        break;
    case FILE_CURRENT: {
        const off_t current = ::lseek(fd, 0, SEEK_CUR);
        if (current < 0) {
            SetLastErrorFromErrno();
            return false;
        }
        base = current;
        break;
    }
    case FILE_END: {
        struct stat info;
        if (::fstat(fd, &info) != 0) {
            SetLastErrorFromErrno();
            return false;
        }
        base = info.st_size;
        break;
    }
    default:
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (__builtin_add_overflow(base, distance, &target)) {
        ::SetLastError(distance < 0 ? ERROR_NEGATIVE_SEEK : ERROR_INVALID_PARAMETER);
        return false;
    }
    if (target < 0) {
        ::SetLastError(ERROR_NEGATIVE_SEEK);
        return false;
    }
    return true;
}

// The open(2) flags of a CreateFileW call.
struct OpenRequest
{
    int flags = 0;
    bool write = false;
    // The disposition empties an existing file.
    bool truncate = false;
    // FILE_FLAG_OPEN_REPARSE_POINT asks for a symbolic link itself rather than its
    // target. A link cannot be read or written here, so such an open of a link is
    // refused (O_NOFOLLOW) instead of reaching the target.
    bool noFollow = false;
};

// The access, the creation disposition and the flags as open(2) flags; false for
// an unknown disposition, or TRUNCATE_EXISTING without write access.
bool MakeOpenRequest(DWORD desiredAccess, DWORD creationDisposition, DWORD flagsAndAttributes,
                     OpenRequest& request)
{
    const bool read = desiredAccess & (GENERIC_READ | GENERIC_ALL);
    request.write = desiredAccess & (GENERIC_WRITE | GENERIC_ALL);
    request.noFollow = flagsAndAttributes & FILE_FLAG_OPEN_REPARSE_POINT;
    const int accessMode = read && request.write ? O_RDWR : request.write ? O_WRONLY : O_RDONLY;
    request.flags = O_CLOEXEC | (request.noFollow ? O_NOFOLLOW : 0) | accessMode;
    switch (creationDisposition) {
    case CREATE_NEW:
        request.flags |= O_CREAT | O_EXCL;
        break;
    case CREATE_ALWAYS:
        request.flags |= O_CREAT;
        request.truncate = true;
        break;
    case OPEN_EXISTING:
        break;
    case OPEN_ALWAYS:
        request.flags |= O_CREAT;
        break;
    case TRUNCATE_EXISTING:
        if (!request.write) {
            return false;
        }
        request.truncate = true;
        break;
    default:
        return false;
    }
    if (request.truncate && !request.write) {
        // CREATE_ALWAYS without write access still empties the file on Windows;
        // open read-write for the truncation only if the caller may not write.
        request.flags = (request.flags & ~O_ACCMODE) | O_RDWR;
    }
    return true;
}

// With the share lock held: why an open of an existing file must be refused
// (ERROR_SUCCESS when it may go ahead).
DWORD RefuseExisting(const struct stat& before, DWORD creationDisposition,
                     const OpenRequest& request, ShareTable& shares, DWORD desiredAccess,
                     DWORD shareMode)
{
    if (S_ISDIR(before.st_mode)) {
        return ERROR_ACCESS_DENIED;
    }
    if (creationDisposition == CREATE_NEW) {
        return ERROR_FILE_EXISTS;
    }
    if (S_ISLNK(before.st_mode)) {
        return ERROR_CANT_ACCESS_FILE;
    }
    // The read-only attribute (no write permission bit) refuses writing and
    // emptying to everybody, the superuser included, as it does on Windows.
    if (S_ISREG(before.st_mode) && IsReadOnly(before) && (request.write || request.truncate)) {
        return ERROR_ACCESS_DENIED;
    }
    if (!shares.CompatibleLocked(before.st_dev, before.st_ino, desiredAccess, shareMode)) {
        return ERROR_SHARING_VIOLATION;
    }
    return ERROR_SUCCESS;
}

// Opens the path without waiting for the other end of a FIFO (Windows' CreateFile
// never waits for a pipe): O_NONBLOCK for the open only, taken off again so that
// reads and writes wait as usual. A lease on the file refuses a non-blocking open;
// the open then waits for the lease to break, as a plain one does. `before` is the
// state of an existing file (null for a new one). Returns the descriptor, never
// one of the standard streams, or -1 with the last error set.
int OpenWithoutWaiting(const std::string& path, const OpenRequest& request, mode_t mode,
                       const struct stat* before)
{
    int fd = ::open(path.c_str(), request.flags | O_NONBLOCK, mode);
    if (fd < 0 && errno == EWOULDBLOCK) {
        fd = ::open(path.c_str(), request.flags & ~O_NONBLOCK, mode);
    }
    if (fd < 0) {
        int error = errno;
        if (error == EEXIST) {
            ::SetLastError(ERROR_FILE_EXISTS);
        } else if (error == ELOOP && request.noFollow) {
            ::SetLastError(ERROR_CANT_ACCESS_FILE); // made a link since it was looked at
        } else if (error == ENXIO && before && S_ISFIFO(before->st_mode)) {
            ::SetLastError(ERROR_PIPE_NOT_CONNECTED); // a FIFO nobody reads
        } else {
            SetPathError(path, error);
        }
        return -1;
    }
    if (fd <= STDERR_FILENO) {
        // Standard input, output or error is closed. A file must not take its place:
        // what the program then wrote to its standard output would land in the file.
        const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
        const int error = errno;
        ::close(fd);
        if (moved < 0) {
            SetLastErrorFromErrno(error);
            return -1;
        }
        fd = moved;
    }
    const int status = ::fcntl(fd, F_GETFL);
    if (status >= 0 && (status & O_NONBLOCK)) {
        ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
    }
    return fd;
}

} // namespace

FileObject::FileObject(int fd, DWORD access, DWORD share, DWORD flags, std::uint64_t device,
                       std::uint64_t inode)
    : KernelObject(ObjectType::File), m_Fd(fd), m_Access(access), m_Share(share), m_Flags(flags),
      m_Device(device), m_Inode(inode)
{}

FileObject::~FileObject()
{
    Shares().Remove(m_Device, m_Inode, m_Access, m_Share);
    ::close(m_Fd);
}

} // namespace zanth::platform

using namespace zanth::platform;

extern "C" {

HANDLE WINAPI CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode,
                          LPSECURITY_ATTRIBUTES, DWORD creationDisposition,
                          DWORD flagsAndAttributes, HANDLE)
{
    if (!fileName || !*fileName) {
        ::SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (IsCommName(fileName)) {
        return CreateCommFile(fileName, desiredAccess, flagsAndAttributes);
    }
    OpenRequest request;
    if (!MakeOpenRequest(desiredAccess, creationDisposition, flagsAndAttributes, request)) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::string path;
    if (!PathFromName(fileName, path)) {
        return INVALID_HANDLE_VALUE;
    }
    ShareTable& shares = Shares();
    std::unique_lock<std::mutex> guard(shares.Lock());

    struct stat before;
    const bool existed =
        (request.noFollow ? ::lstat(path.c_str(), &before) : ::stat(path.c_str(), &before)) == 0;
    if (existed) {
        const DWORD refusal =
            RefuseExisting(before, creationDisposition, request, shares, desiredAccess, shareMode);
        if (refusal != ERROR_SUCCESS) {
            ::SetLastError(refusal);
            return INVALID_HANDLE_VALUE;
        }
    }
    const mode_t mode = (flagsAndAttributes & ZANTH_FILE_FLAG_OWNER_ONLY)
                            ? ((flagsAndAttributes & FILE_ATTRIBUTE_READONLY) ? 0400 : 0600)
                            : ((flagsAndAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666);
    const int fd = OpenWithoutWaiting(path, request, mode, existed ? &before : nullptr);
    if (fd < 0) {
        return INVALID_HANDLE_VALUE;
    }
    struct stat info;
    if (::fstat(fd, &info) != 0 ||
        (!existed &&
         !shares.CompatibleLocked(info.st_dev, info.st_ino, desiredAccess, shareMode))) {
        ::close(fd);
        ::SetLastError(ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
    }
    if (request.truncate && S_ISREG(info.st_mode) && ::ftruncate(fd, 0) != 0) {
        int error = errno;
        ::close(fd);
        SetLastErrorFromErrno(error);
        return INVALID_HANDLE_VALUE;
    }
    shares.AddLocked(info.st_dev, info.st_ino, desiredAccess, shareMode);
    auto file = std::make_shared<FileObject>(fd, desiredAccess, shareMode, flagsAndAttributes,
                                             info.st_dev, info.st_ino);
    // The object unregisters itself when destroyed, which takes the share lock.
    guard.unlock();
    HANDLE handle = InsertHandle(std::move(file));
    if (!handle) {
        return INVALID_HANDLE_VALUE;
    }
    // Opening an existing file with CREATE_ALWAYS or OPEN_ALWAYS succeeds and says so.
    const bool reportExisting =
        existed && (creationDisposition == CREATE_ALWAYS || creationDisposition == OPEN_ALWAYS);
    ::SetLastError(reportExisting ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead,
                     LPOVERLAPPED overlapped)
{
    if (bytesRead) {
        *bytesRead = 0;
    }
    auto object = LookupFile(file);
    if (!object) {
        return FALSE;
    }
    if (!object->CanRead()) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (!buffer && bytesToRead != 0) {
        ::SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (auto port = std::dynamic_pointer_cast<CommObject>(object)) {
        return CommReadFile(port, buffer, bytesToRead, bytesRead, overlapped);
    }
    DWORD done = 0;
    LONGLONG offset = overlapped ? OverlappedOffset(overlapped) : 0;
    if (!ReadAll(object->Descriptor(), static_cast<BYTE*>(buffer), bytesToRead, done,
                 overlapped ? &offset : nullptr)) {
        return FALSE;
    }
    if (bytesRead) {
        *bytesRead = done;
    }
    if (overlapped) {
        CompleteOverlapped(overlapped, done);
    }
    return TRUE;
}

BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten,
                      LPOVERLAPPED overlapped)
{
    if (bytesWritten) {
        *bytesWritten = 0;
    }
    auto object = LookupFile(file);
    if (!object) {
        return FALSE;
    }
    if (!object->CanWrite()) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (!buffer && bytesToWrite != 0) {
        ::SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (auto port = std::dynamic_pointer_cast<CommObject>(object)) {
        return CommWriteFile(port, buffer, bytesToWrite, bytesWritten, overlapped);
    }
    DWORD done = 0;
    LONGLONG offset = overlapped ? OverlappedOffset(overlapped) : 0;
    if (!WriteAll(object->Descriptor(), static_cast<const BYTE*>(buffer), bytesToWrite, done,
                  overlapped ? &offset : nullptr)) {
        if (bytesWritten) {
            *bytesWritten = done;
        }
        return FALSE;
    }
    if (bytesWritten) {
        *bytesWritten = done;
    }
    if (overlapped) {
        CompleteOverlapped(overlapped, done);
    }
    return TRUE;
}

BOOL WINAPI SetFilePointerEx(HANDLE file, LARGE_INTEGER distance, PLARGE_INTEGER newPointer,
                             DWORD moveMethod)
{
    auto object = LookupFile(file);
    if (!object) {
        return FALSE;
    }
    LONGLONG target = 0;
    if (!PointerTarget(object->Descriptor(), distance.QuadPart, moveMethod, target)) {
        return FALSE;
    }
    off_t result = ::lseek(object->Descriptor(), static_cast<off_t>(target), SEEK_SET);
    if (result < 0) {
        SetLastErrorFromErrno();
        return FALSE;
    }
    if (newPointer) {
        newPointer->QuadPart = result;
    }
    return TRUE;
}

DWORD WINAPI SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD moveMethod)
{
    LARGE_INTEGER move;
    if (distanceHigh) {
        move.QuadPart = static_cast<LONGLONG>(
            (static_cast<ULONGLONG>(static_cast<DWORD>(*distanceHigh)) << 32) |
            static_cast<DWORD>(distance));
    } else {
        move.QuadPart = distance;
    }
    // Without a high part the new position must fit 32 bits; the check comes before
    // the move, so a refused move leaves the pointer where it was.
    if (!distanceHigh) {
        auto object = LookupFile(file);
        if (!object) {
            return INVALID_SET_FILE_POINTER;
        }
        LONGLONG target = 0;
        if (!PointerTarget(object->Descriptor(), move.QuadPart, moveMethod, target)) {
            return INVALID_SET_FILE_POINTER;
        }
        if (target > 0xFFFFFFFFLL) {
            ::SetLastError(ERROR_INVALID_PARAMETER);
            return INVALID_SET_FILE_POINTER;
        }
    }
    LARGE_INTEGER result;
    if (!SetFilePointerEx(file, move, &result, moveMethod)) {
        return INVALID_SET_FILE_POINTER;
    }
    if (distanceHigh) {
        *distanceHigh = result.HighPart;
    }
    // 0xFFFFFFFF is a valid position as well as the failure value: callers tell
    // them apart by the last error.
    ::SetLastError(ERROR_SUCCESS);
    return result.LowPart;
}

BOOL WINAPI GetFileSizeEx(HANDLE file, PLARGE_INTEGER fileSize)
{
    auto object = LookupFile(file);
    if (!object) {
        return FALSE;
    }
    struct stat info;
    if (::fstat(object->Descriptor(), &info) != 0) {
        SetLastErrorFromErrno();
        return FALSE;
    }
    if (fileSize) {
        fileSize->QuadPart = info.st_size;
    }
    return TRUE;
}

DWORD WINAPI GetFileSize(HANDLE file, LPDWORD fileSizeHigh)
{
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size)) {
        return INVALID_FILE_SIZE;
    }
    if (fileSizeHigh) {
        *fileSizeHigh = static_cast<DWORD>(size.HighPart);
    }
    ::SetLastError(ERROR_SUCCESS);
    return size.LowPart;
}

BOOL WINAPI SetEndOfFile(HANDLE file)
{
    auto object = LookupFile(file);
    if (!object) {
        return FALSE;
    }
    if (!object->CanWrite()) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    off_t position = ::lseek(object->Descriptor(), 0, SEEK_CUR);
    if (position < 0 || ::ftruncate(object->Descriptor(), position) != 0) {
        SetLastErrorFromErrno();
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI FlushFileBuffers(HANDLE file)
{
    auto object = LookupFile(file);
    if (!object) {
        return FALSE;
    }
    if (!object->CanWrite()) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (::fdatasync(object->Descriptor()) != 0 && errno != EINVAL) {
        SetLastErrorFromErrno();
        return FALSE;
    }
    return TRUE;
}

DWORD WINAPI GetFileAttributesW(LPCWSTR fileName)
{
    if (!fileName || !*fileName) {
        ::SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_FILE_ATTRIBUTES;
    }
    std::string path;
    if (!PathFromName(fileName, path)) {
        return INVALID_FILE_ATTRIBUTES;
    }
    struct stat info;
    if (StatLongPath(path, &info) != 0) {
        SetPathError(path, errno);
        return INVALID_FILE_ATTRIBUTES;
    }
    DWORD attributes = 0;
    if (S_ISDIR(info.st_mode)) {
        attributes |= FILE_ATTRIBUTE_DIRECTORY;
    } else if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode)) {
        attributes |= FILE_ATTRIBUTE_DEVICE;
    }
    if (IsReadOnly(info)) {
        attributes |= FILE_ATTRIBUTE_READONLY;
    }
    std::string::size_type slash = path.find_last_not_of('/');
    std::string trimmed = slash == std::string::npos ? path : path.substr(0, slash + 1);
    std::string base =
        trimmed.substr(trimmed.rfind('/') == std::string::npos ? 0 : trimmed.rfind('/') + 1);
    if (base.size() > 1 && base[0] == '.' && base != "..") {
        attributes |= FILE_ATTRIBUTE_HIDDEN;
    }
    return attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
}

DWORD WINAPI GetFileType(HANDLE file)
{
    auto object = LookupFile(file);
    struct stat info;
    if (!object || ::fstat(object->Descriptor(), &info) != 0) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return FILE_TYPE_UNKNOWN;
    }
    ::SetLastError(ERROR_SUCCESS);
    // Block devices are disks to Windows as well; sockets are pipes.
    if (S_ISREG(info.st_mode) || S_ISBLK(info.st_mode)) {
        return FILE_TYPE_DISK;
    }
    if (S_ISCHR(info.st_mode)) {
        return FILE_TYPE_CHAR;
    }
    if (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode)) {
        return FILE_TYPE_PIPE;
    }
    return FILE_TYPE_UNKNOWN;
}

// The volume serial number is the device number folded into 32 bits and the file
// index is the inode: together they tell whether two handles name the same file.
// There is no creation time on POSIX; the status change time stands in for it.
BOOL WINAPI GetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION information)
{
    auto object = LookupFile(file);
    if (!object) {
        return FALSE;
    }
    if (!information) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    struct stat info;
    if (::fstat(object->Descriptor(), &info) != 0) {
        SetLastErrorFromErrno();
        return FALSE;
    }
    auto fileTime = [](const timespec& at) {
        constexpr LONGLONG kSecondsFrom1601To1970 = 11644473600LL;
        const auto ticks = static_cast<ULONGLONG>(
            (static_cast<LONGLONG>(at.tv_sec) + kSecondsFrom1601To1970) * 10000000LL +
            at.tv_nsec / 100);
        return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    };
    DWORD attributes = S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode) ? FILE_ATTRIBUTE_DEVICE : 0;
    if (IsReadOnly(info)) {
        attributes |= FILE_ATTRIBUTE_READONLY;
    }
    const auto device = static_cast<std::uint64_t>(info.st_dev);
    const auto inode = static_cast<std::uint64_t>(info.st_ino);
    const auto size = static_cast<std::uint64_t>(info.st_size);
    information->dwFileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
    information->ftCreationTime = fileTime(info.st_ctim);
    information->ftLastAccessTime = fileTime(info.st_atim);
    information->ftLastWriteTime = fileTime(info.st_mtim);
    information->dwVolumeSerialNumber = static_cast<DWORD>(device ^ (device >> 32));
    information->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    information->nFileSizeLow = static_cast<DWORD>(size);
    information->nNumberOfLinks = static_cast<DWORD>(info.st_nlink);
    information->nFileIndexHigh = static_cast<DWORD>(inode >> 32);
    information->nFileIndexLow = static_cast<DWORD>(inode);
    ::SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL WINAPI DeleteFileW(LPCWSTR fileName)
{
    if (!fileName || !*fileName) {
        ::SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    std::string path;
    if (!PathFromName(fileName, path)) {
        return FALSE;
    }
    ShareTable& shares = Shares();
    std::lock_guard<std::mutex> guard(shares.Lock());
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0) {
        SetPathError(path, errno);
        return FALSE;
    }
    // A read-only file must lose its attribute before it can be deleted.
    if (S_ISDIR(info.st_mode) || (S_ISREG(info.st_mode) && IsReadOnly(info))) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (!shares.CompatibleLocked(info.st_dev, info.st_ino, ShareTable::kDeleteAccess,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)) {
        ::SetLastError(ERROR_SHARING_VIOLATION);
        return FALSE;
    }
    if (::unlink(path.c_str()) != 0) {
        SetPathError(path, errno);
        return FALSE;
    }
    return TRUE;
}

BOOL ZanthIsOwnFile(HANDLE file)
{
    auto object = LookupFile(file);
    struct stat info;
    if (!object || ::fstat(object->Descriptor(), &info) != 0) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    ::SetLastError(ERROR_SUCCESS);
    return info.st_uid == ::geteuid();
}

} // extern "C"
