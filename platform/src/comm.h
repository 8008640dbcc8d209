// Serial ports inside the platform layer: the object behind a "\\.\COMn" handle,
// the hooks through which CreateFileW, ReadFile and WriteFile reach it, and the
// overlapped I/O engine (ioreactor.cpp) that completes its operations.
#ifndef ZANTH_PLATFORM_COMM_H
#define ZANTH_PLATFORM_COMM_H

#include "file_object.h"
#include "futex.h"
#include "internal.h"

#include <condition_variable>
#include <deque>

namespace zanth::platform {

// One read, write or event wait on a port. An overlapped operation lives on the
// heap from the moment it is pending until it completes; a blocking one lives on
// its caller's stack while the caller waits.
struct IoOp
{
    enum Kind
    {
        Read,
        Write,
        Wait
    };
    Kind kind = Read;
    LPOVERLAPPED overlapped = nullptr; // null for a blocking operation
    BYTE* buffer = nullptr;
    DWORD count = 0;
    DWORD done = 0;
    LPDWORD mask = nullptr; // WaitCommEvent's result
    DWORD thread = 0;       // the issuing thread (CancelIo cancels only its own)
    // Time-outs (MonotonicNs; 0: none): the whole operation, and the gap between
    // two received bytes.
    std::int64_t totalEnd = 0;
    std::int64_t intervalNs = 0;
    std::int64_t lastByte = 0;
    bool returnOnAny = false; // a read that ends with its first bytes
    // The result of a blocking operation.
    bool completed = false;
    DWORD error = 0;
    DWORD eventMask = 0;
};

// A serial device opened through "\\.\COMn". Its descriptor is non-blocking: the
// engine waits for readiness. Everything below is guarded by Lock().
class CommObject : public FileObject
{
public:
    CommObject(int fd, DWORD access, DWORD flags, std::uint64_t device, std::uint64_t inode);
    ~CommObject() override;

    void OnHandleClosed() override;

    std::mutex& Lock() { return m_Lock; }
    bool Overlapped() const { return (Flags() & FILE_FLAG_OVERLAPPED) != 0; }

    // Port state (guarded by Lock()).
    DCB m_Dcb{};
    bool m_HasDcb = false;
    unsigned m_AppliedCflag = 0; // the device's settings right after SetCommState
    COMMTIMEOUTS m_Timeouts{};
    DWORD m_Mask = 0;
    DWORD m_InQueue = 0;
    DWORD m_OutQueue = 0;
    bool m_Gone = false;   // the device hung up (unplugged, other end closed)
    bool m_Closed = false; // the handle was closed

    // Engine state (guarded by Lock()).
    std::deque<IoOp*> m_Reads;
    std::deque<IoOp*> m_Writes;
    IoOp* m_Wait = nullptr;
    const std::uint64_t m_Id;
    bool m_Registered = false;      // known to the engine's epoll set
    bool m_Active = false;          // in the engine's list of ports with pending work
    std::condition_variable m_Done; // blocking operations wait on it

private:
    std::mutex m_Lock;
};

// The port object behind a handle, or null (ERROR_INVALID_HANDLE, or
// ERROR_INVALID_FUNCTION for a handle that is an ordinary file).
std::shared_ptr<CommObject> LookupComm(HANDLE handle);

// Hooks of the file functions (file.cpp).
bool IsCommName(LPCWSTR fileName);
HANDLE CreateCommFile(LPCWSTR fileName, DWORD desiredAccess, DWORD flagsAndAttributes);
BOOL CommReadFile(const std::shared_ptr<CommObject>& port, LPVOID buffer, DWORD count, LPDWORD done,
                  LPOVERLAPPED overlapped);
BOOL CommWriteFile(const std::shared_ptr<CommObject>& port, LPCVOID buffer, DWORD count,
                   LPDWORD done, LPOVERLAPPED overlapped);

// The engine (ioreactor.cpp). Each takes the port's lock itself.
BOOL SubmitIo(const std::shared_ptr<CommObject>& port, IoOp& op, LPDWORD transferred);
// Completes the chosen pending operations with `error`: those of the calling
// thread (CancelIo), all reads and/or writes (PurgeComm), or everything (close).
enum class CancelWhich
{
    OwnThread,
    Reads,
    Writes,
    Wait,
    All
};
void CancelIoLocked(CommObject& port, CancelWhich which, DWORD error);
// Leaves the engine for good (the handle was closed); with Lock() held.
void ForgetPortLocked(CommObject& port);
std::uint64_t NewPortId();

// The Win32 error of a descriptor failure on a serial device: a device that has
// gone away (EIO, ENXIO, ENODEV, a hang-up) is ERROR_DEVICE_NOT_CONNECTED.
DWORD CommError(int error);

} // namespace zanth::platform

#endif // ZANTH_PLATFORM_COMM_H
