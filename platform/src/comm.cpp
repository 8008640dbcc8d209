// Serial ports: "\\.\COMn" names, the port directory, exclusive opening, the DCB,
// time-outs, event mask, queue status and purging of Win32's communications
// functions on a Linux terminal device, and pseudo-terminal pairs.
//
// Exclusive opening takes two locks. TIOCEXCL makes the kernel refuse further
// opens of the device, but not to root; an advisory lock (flock) on the open
// device is refused to every other opener, root included, in this process or
// another, as long as it goes through this layer.
//
// Pseudo-terminals have no modem lines and keep 8 data bits without parity
// whatever is set. DTR and RTS changes are accepted there and change nothing, and
// GetCommState reports the data bits and parity last set, not the device's fixed
// ones, as long as nobody else has changed the device's settings since.
#include "comm.h"

#include "commmap.h"

#include <zanth/win32/zanthext.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zanth::platform {

namespace {

constexpr DWORD kMaxPort = 255;

// The port number of "\\.\COMn" or "COMn" (any case, as on Windows); 0 when the
// name is not a port name, -1 for a device name that no port can have.
DWORD PortOfName(LPCWSTR name)
{
    if (!name) {
        return 0;
    }
    const WCHAR* p = name;
    const bool device = p[0] == u'\\' && p[1] == u'\\' && p[2] == u'.' && p[3] == u'\\';
    if (device) {
        p += 4;
    }
    if ((p[0] | 0x20) != u'c' || (p[1] | 0x20) != u'o' || (p[2] | 0x20) != u'm') {
        return 0;
    }
    p += 3;
    DWORD port = 0;
    int digits = 0;
    for (; *p >= u'0' && *p <= u'9'; ++p) {
        port = port * 10 + static_cast<DWORD>(*p - u'0');
        if (++digits > 3) {
            return device ? DWORD(-1) : 0;
        }
    }
    if (digits > 0 && *p == 0 && port != 0) {
        return port;
    }
    // "\\.\COMx" names a device that does not exist; "COM1.txt" is a file.
    return device ? DWORD(-1) : 0;
}

std::string CommDirectory()
{
    if (const char* dir = std::getenv(ZANTH_COMM_DIR_ENV); dir && *dir) {
        return dir;
    }
    return UserConfigHome() + "/zanth/ports";
}

std::string LinkPath(DWORD port)
{
    return CommDirectory() + "/com" + std::to_string(port);
}

// The path to open for a port: its link when there is one, else the default.
bool DeviceOfPort(DWORD port, std::string& device)
{
    if (port == 0 || port > kMaxPort) {
        ::SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    }
    const std::string link = LinkPath(port);
    struct stat info;
    if (::lstat(link.c_str(), &info) == 0) {
        device = link;
        return true;
    }
    if (port <= 4) {
        device = "/dev/ttyS" + std::to_string(port - 1);
        return true;
    }
    ::SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
}

bool GetTermios(int fd, termios2& t)
{
    if (::ioctl(fd, TCGETS2, &t) != 0) {
        ::SetLastError(CommError(errno));
        return false;
    }
    return true;
}

// Sets or clears modem lines; a device without them (a pseudo-terminal) takes
// the request as done.
void SetModemLine(int fd, int line, bool on)
{
    if (::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line) != 0) {
        // ENOTTY, EINVAL: no modem lines here.
    }
}

// Makes descriptors 0-2 unavailable to a device: what the program writes to its
// standard output must not reach a serial line.
int AboveStandardStreams(int fd)
{
    if (fd > STDERR_FILENO) {
        return fd;
    }
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    const int error = errno;
    ::close(fd);
    errno = error;
    return moved;
}

// The shape of most communications calls: the port behind the handle, a pointer
// argument that must not be null, and the work under the port's lock.
template <class T, class Work> BOOL OnPort(HANDLE file, T* argument, Work&& work)
{
    auto port = LookupComm(file);
    if (!port) {
        return FALSE;
    }
    if (!argument) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard<std::mutex> guard(port->Lock());
    return work(*port);
}

BOOL GetCommStateLocked(CommObject& port, DCB& dcb)
{
    termios2 t;
    if (!GetTermios(port.Descriptor(), t)) {
        return FALSE;
    }
    DCB result = port.m_HasDcb ? port.m_Dcb : DCB{};
    commmap::TermiosToDcb(t, result);
    if (port.m_HasDcb && t.c_cflag == port.m_AppliedCflag) {
        // The device still holds what was set: report the values it cannot keep
        // (a pseudo-terminal's fixed 8 data bits without parity) as they were set.
        result.ByteSize = port.m_Dcb.ByteSize;
        result.Parity = port.m_Dcb.Parity;
        result.fParity = port.m_Dcb.fParity;
        result.StopBits = port.m_Dcb.StopBits;
    }
    int lines = 0;
    if (::ioctl(port.Descriptor(), TIOCMGET, &lines) == 0) {
        if (result.fDtrControl != DTR_CONTROL_HANDSHAKE) {
            result.fDtrControl = (lines & TIOCM_DTR) ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
        }
        if (result.fRtsControl != RTS_CONTROL_HANDSHAKE &&
            result.fRtsControl != RTS_CONTROL_TOGGLE) {
            result.fRtsControl = (lines & TIOCM_RTS) ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
        }
    }
    result.DCBlength = sizeof(DCB);
    dcb = result;
    return TRUE;
}

BOOL SetCommStateLocked(CommObject& port, const DCB& dcb)
{
    const int fd = port.Descriptor();
    termios2 t;
    if (!GetTermios(fd, t)) {
        return FALSE;
    }
    if (!commmap::DcbToTermios(dcb, t)) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (::ioctl(fd, TCSETS2, &t) != 0) {
        ::SetLastError(CommError(errno));
        return FALSE;
    }
    termios2 applied;
    if (!GetTermios(fd, applied)) {
        return FALSE;
    }
    if (commmap::OutputSpeed(applied) != dcb.BaudRate) {
        // The driver cannot run at this speed.
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    port.m_AppliedCflag = applied.c_cflag;
    port.m_Dcb = dcb;
    port.m_HasDcb = true;
    SetModemLine(fd, TIOCM_DTR, dcb.fDtrControl != DTR_CONTROL_DISABLE);
    if (dcb.fRtsControl != RTS_CONTROL_HANDSHAKE) {
        SetModemLine(fd, TIOCM_RTS, dcb.fRtsControl != RTS_CONTROL_DISABLE);
    }
    return TRUE;
}

} // namespace

DWORD CommError(int error)
{
    switch (error) {
    case EIO:
    case ENXIO:
    case ENODEV:
    case EPIPE:
        return ERROR_DEVICE_NOT_CONNECTED;
    case EBUSY:
    case EWOULDBLOCK:
        return ERROR_ACCESS_DENIED;
    case ENOTTY:
        return ERROR_INVALID_FUNCTION;
    default:
        return ZanthErrorFromErrno(error);
    }
}

CommObject::CommObject(int fd, DWORD access, DWORD flags, std::uint64_t device, std::uint64_t inode)
    : FileObject(fd, access, 0, flags, device, inode), m_Id(NewPortId())
{
    m_InQueue = 4096;
    m_OutQueue = 4096;
}

CommObject::~CommObject() = default;

void CommObject::OnHandleClosed()
{
    std::lock_guard<std::mutex> guard(m_Lock);
    m_Closed = true;
    CancelIoLocked(*this, CancelWhich::All, ERROR_OPERATION_ABORTED);
    ForgetPortLocked(*this);
    // The next opener may come before the last reference lets the descriptor go.
    ::ioctl(Descriptor(), TIOCNXCL);
    ::flock(Descriptor(), LOCK_UN);
}

std::shared_ptr<CommObject> LookupComm(HANDLE handle)
{
    auto file = LookupAs<FileObject>(handle, ObjectType::File);
    if (!file) {
        return nullptr;
    }
    auto port = std::dynamic_pointer_cast<CommObject>(file);
    if (!port) {
        ::SetLastError(ERROR_INVALID_FUNCTION);
    }
    return port;
}

bool IsCommName(LPCWSTR fileName)
{
    return PortOfName(fileName) != 0;
}

HANDLE CreateCommFile(LPCWSTR fileName, DWORD desiredAccess, DWORD flagsAndAttributes)
{
    std::string device;
    if (!DeviceOfPort(PortOfName(fileName), device)) {
        return INVALID_HANDLE_VALUE;
    }
    int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        fd = AboveStandardStreams(fd);
    }
    if (fd < 0) {
        const int error = errno;
        ::SetLastError(error == ENOENT || error == ENXIO || error == ENODEV ? ERROR_FILE_NOT_FOUND
                                                                            : CommError(error));
        return INVALID_HANDLE_VALUE;
    }
    termios2 settings;
    if (::ioctl(fd, TCGETS2, &settings) != 0) {
        ::close(fd);
        ::SetLastError(ERROR_FILE_NOT_FOUND); // not a serial device
        return INVALID_HANDLE_VALUE;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        ::SetLastError(error == EWOULDBLOCK ? ERROR_ACCESS_DENIED : CommError(error));
        return INVALID_HANDLE_VALUE;
    }
    ::ioctl(fd, TIOCEXCL);
    struct stat info;
    ::fstat(fd, &info);
    auto port = std::make_shared<CommObject>(fd, desiredAccess, flagsAndAttributes, info.st_dev,
                                             info.st_ino);
    HANDLE handle = InsertHandle(port);
    if (!handle) {
        return INVALID_HANDLE_VALUE;
    }
    ::SetLastError(ERROR_SUCCESS);
    return handle;
}

BOOL CommReadFile(const std::shared_ptr<CommObject>& port, LPVOID buffer, DWORD count, LPDWORD done,
                  LPOVERLAPPED overlapped)
{
    IoOp op;
    op.kind = IoOp::Read;
    op.buffer = static_cast<BYTE*>(buffer);
    op.count = count;
    op.overlapped = port->Overlapped() ? overlapped : nullptr;
    return SubmitIo(port, op, done);
}

BOOL CommWriteFile(const std::shared_ptr<CommObject>& port, LPCVOID buffer, DWORD count,
                   LPDWORD done, LPOVERLAPPED overlapped)
{
    IoOp op;
    op.kind = IoOp::Write;
    op.buffer = static_cast<BYTE*>(const_cast<void*>(buffer));
    op.count = count;
    op.overlapped = port->Overlapped() ? overlapped : nullptr;
    return SubmitIo(port, op, done);
}

} // namespace zanth::platform

using namespace zanth::platform;

extern "C" {

BOOL WINAPI GetCommState(HANDLE file, LPDCB dcb)
{
    return OnPort(file, dcb, [&](CommObject& port) { return GetCommStateLocked(port, *dcb); });
}

BOOL WINAPI SetCommState(HANDLE file, LPDCB dcb)
{
    return OnPort(file, dcb, [&](CommObject& port) { return SetCommStateLocked(port, *dcb); });
}

BOOL WINAPI SetupComm(HANDLE file, DWORD inQueue, DWORD outQueue)
{
    auto port = LookupComm(file);
    if (!port) {
        return FALSE;
    }
    // The kernel's queues have a size of their own; the request is kept and
    // reported back, nothing more.
    std::lock_guard<std::mutex> guard(port->Lock());
    port->m_InQueue = inQueue;
    port->m_OutQueue = outQueue;
    return TRUE;
}

BOOL WINAPI SetCommMask(HANDLE file, DWORD eventMask)
{
    auto port = LookupComm(file);
    if (!port) {
        return FALSE;
    }
    std::lock_guard<std::mutex> guard(port->Lock());
    port->m_Mask = eventMask;
    // A pending WaitCommEvent ends with an empty mask, as on Windows.
    CancelIoLocked(*port, CancelWhich::Wait, 0);
    return TRUE;
}

BOOL WINAPI GetCommMask(HANDLE file, LPDWORD eventMask)
{
    return OnPort(file, eventMask, [&](CommObject& port) {
        *eventMask = port.m_Mask;
        return TRUE;
    });
}

BOOL WINAPI WaitCommEvent(HANDLE file, LPDWORD eventMask, LPOVERLAPPED overlapped)
{
    auto port = LookupComm(file);
    if (!port) {
        return FALSE;
    }
    if (!eventMask) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    IoOp op;
    op.kind = IoOp::Wait;
    op.mask = eventMask;
    op.overlapped = port->Overlapped() ? overlapped : nullptr;
    return SubmitIo(port, op, nullptr);
}

BOOL WINAPI ClearCommError(HANDLE file, LPDWORD errors, LPCOMSTAT status)
{
    auto port = LookupComm(file);
    if (!port) {
        return FALSE;
    }
    std::lock_guard<std::mutex> guard(port->Lock());
    if (port->m_Gone) {
        ::SetLastError(ERROR_DEVICE_NOT_CONNECTED);
        return FALSE;
    }
    int in = 0;
    int out = 0;
    if (::ioctl(port->Descriptor(), FIONREAD, &in) != 0) {
        const DWORD error = CommError(errno);
        port->m_Gone = error == ERROR_DEVICE_NOT_CONNECTED;
        ::SetLastError(error);
        return FALSE;
    }
    if (::ioctl(port->Descriptor(), TIOCOUTQ, &out) != 0) {
        out = 0;
    }
    if (errors) {
        *errors = 0;
    }
    if (status) {
        *status = COMSTAT{};
        status->cbInQue = static_cast<DWORD>(in);
        status->cbOutQue = static_cast<DWORD>(out);
    }
    return TRUE;
}

BOOL WINAPI PurgeComm(HANDLE file, DWORD flags)
{
    auto port = LookupComm(file);
    if (!port) {
        return FALSE;
    }
    if (flags & ~(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR)) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard<std::mutex> guard(port->Lock());
    if (flags & PURGE_TXABORT) {
        CancelIoLocked(*port, CancelWhich::Writes, ERROR_OPERATION_ABORTED);
    }
    if (flags & PURGE_RXABORT) {
        CancelIoLocked(*port, CancelWhich::Reads, ERROR_OPERATION_ABORTED);
    }
    const int queues = ((flags & PURGE_TXCLEAR) ? 1 : 0) | ((flags & PURGE_RXCLEAR) ? 2 : 0);
    if (queues != 0 && !port->m_Gone) {
        const int which = queues == 3 ? TCIOFLUSH : queues == 1 ? TCOFLUSH : TCIFLUSH;
        if (::ioctl(port->Descriptor(), TCFLSH, which) != 0) {
            const DWORD error = CommError(errno);
            port->m_Gone = error == ERROR_DEVICE_NOT_CONNECTED;
            ::SetLastError(error);
            return FALSE;
        }
    }
    return TRUE;
}

BOOL WINAPI GetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts)
{
    return OnPort(file, timeouts, [&](CommObject& port) {
        *timeouts = port.m_Timeouts;
        return TRUE;
    });
}

BOOL WINAPI SetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts)
{
    return OnPort(file, timeouts, [&](CommObject& port) {
        port.m_Timeouts = *timeouts;
        return TRUE;
    });
}

BOOL WINAPI CancelIo(HANDLE file)
{
    auto port = LookupComm(file);
    if (!port) {
        // Ordinary files complete every operation at once: nothing to cancel.
        return LookupAs<FileObject>(file, ObjectType::File) ? TRUE : FALSE;
    }
    std::lock_guard<std::mutex> guard(port->Lock());
    CancelIoLocked(*port, CancelWhich::OwnThread, ERROR_OPERATION_ABORTED);
    return TRUE;
}

DWORD ZanthGetCommDirectory(LPWSTR buffer, DWORD size)
{
    return CopyOut(NameFromPath(CommDirectory().c_str()), buffer, size);
}

DWORD ZanthGetCommDevice(DWORD port, LPWSTR buffer, DWORD size)
{
    if (port == 0 || port > kMaxPort) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::string link = LinkPath(port);
    char target[4096];
    const ssize_t length = ::readlink(link.c_str(), target, sizeof target - 1);
    std::string device;
    if (length > 0) {
        device.assign(target, static_cast<std::size_t>(length));
    } else if (port <= 4) {
        device = "/dev/ttyS" + std::to_string(port - 1);
    } else {
        ::SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    return CopyOut(NameFromPath(device.c_str()), buffer, size);
}

BOOL ZanthMapCommPort(DWORD port, LPCWSTR device)
{
    if (port == 0 || port > kMaxPort) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::string dir = CommDirectory();
    const std::string link = LinkPath(port);
    if (!device || !*device) {
        if (::unlink(link.c_str()) != 0 && errno != ENOENT) {
            SetLastErrorFromErrno();
            return FALSE;
        }
        return TRUE;
    }
    std::string target;
    if (!PathFromName(device, target)) {
        return FALSE;
    }
    // Make the directory and its parents, owner only.
    for (std::size_t at = 1; at <= dir.size(); ++at) {
        if (at == dir.size() || dir[at] == '/') {
            const std::string part = dir.substr(0, at);
            if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
                SetLastErrorFromErrno();
                return FALSE;
            }
        }
    }
    // A new link under a temporary name, then renamed over the old one: a port is
    // never without its link while it is being changed.
    const std::string temporary = link + ".new." + std::to_string(::getpid());
    ::unlink(temporary.c_str());
    if (::symlink(target.c_str(), temporary.c_str()) != 0) {
        SetLastErrorFromErrno();
        return FALSE;
    }
    if (::rename(temporary.c_str(), link.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        SetLastErrorFromErrno(error);
        return FALSE;
    }
    return TRUE;
}

BOOL ZanthCreatePseudoTerminal(HANDLE* master, LPWSTR device, DWORD size)
{
    if (!master) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *master = nullptr;
    int fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0) {
        fd = AboveStandardStreams(fd);
    }
    char name[256];
    if (fd < 0 || ::grantpt(fd) != 0 || ::unlockpt(fd) != 0 ||
        ::ptsname_r(fd, name, sizeof name) != 0) {
        const int error = errno;
        if (fd >= 0) {
            ::close(fd);
        }
        SetLastErrorFromErrno(error);
        return FALSE;
    }
    const std::u16string wide = NameFromPath(name);
    if (!device || size <= wide.size()) {
        ::close(fd);
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    // The other side starts raw: bytes pass unchanged before anybody configures it.
    const int other = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (other >= 0) {
        termios2 t;
        DCB dcb{};
        dcb.BaudRate = 9600;
        dcb.ByteSize = 8;
        if (::ioctl(other, TCGETS2, &t) == 0 && commmap::DcbToTermios(dcb, t)) {
            ::ioctl(other, TCSETS2, &t);
        }
        ::close(other);
    }
    struct stat info;
    ::fstat(fd, &info);
    HANDLE handle = InsertHandle(std::make_shared<FileObject>(fd, GENERIC_READ | GENERIC_WRITE, 0,
                                                              0, info.st_dev, info.st_ino));
    if (!handle) {
        return FALSE;
    }
    std::memcpy(device, wide.c_str(), (wide.size() + 1) * sizeof(WCHAR));
    *master = handle;
    return TRUE;
}

} // extern "C"
