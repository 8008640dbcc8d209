// ZANTH::ZCSerialCom: opening and configuring a serial port, its reader thread,
// writing, and the hand-over of received bytes.
//
// The reader reads into a buffer of its own and appends to the receive buffer
// under the receive mutex, so Receive never sees half an append and never empties
// the buffer under a read. It reads no more than fits: when the receive buffer is
// full it leaves the bytes in the device and waits for Receive to make room.
#include "catalogs.h"

#include <corewu/errors.h>

#include <zanth/serialcom.h>

#include <algorithm>
#include <cstring>

namespace ZANTH {

namespace {

const TString& Null()
{
    return TString::NullString;
}

[[noreturn]] void FreeText(const WCHAR* text)
{
    ThrowNewError(0, 0, TString(text), Null(), Null(), nullptr);
}

TString PortName(DWORD port)
{
    return TString::Formatted(TEXT("\\\\.\\COM%d"), static_cast<int>(port));
}

// Ends an overlapped operation that is still running when its OVERLAPPED and event
// are about to go: it is cancelled and its end awaited, so the system never writes
// into a record that no longer exists.
class PendingGuard
{
public:
    PendingGuard(HANDLE port, OVERLAPPED& overlapped) : m_Port(port), m_Overlapped(overlapped) {}
    ~PendingGuard()
    {
        if (!HasOverlappedIoCompleted(&m_Overlapped)) {
            ::CancelIo(m_Port);
            DWORD transferred = 0;
            ::GetOverlappedResult(m_Port, &m_Overlapped, &transferred, TRUE);
        }
    }
    PendingGuard(const PendingGuard&) = delete;
    PendingGuard& operator=(const PendingGuard&) = delete;

private:
    HANDLE m_Port;
    OVERLAPPED& m_Overlapped;
};

} // namespace

ZCSerialCom::ZCSerialCom()
    : m_hPort(INVALID_HANDLE_VALUE), m_DCB(), m_ComStat(), m_BaudRate(0), m_Port(0), m_Parity(0),
      m_StopBits(0), m_ByteSize(0), m_Spare(0), m_Event1(1, 0, nullptr), m_Event2(1, 0, nullptr),
      m_Event3(1, 0, nullptr), m_Time(5000), m_ReceiveMutex(0, nullptr), m_WriteMutex(0, nullptr),
      m_ReceiveBuffer(ReceiveBufferSize), m_pWritePosition(nullptr), m_pQueue(nullptr),
      m_FlowControl(FlowControlNone), m_Unused1(0), m_Unused2(0), m_RoomEvent(1, 0, nullptr)
{
    m_DCB.DCBlength = 28;
    m_pWritePosition = m_ReceiveBuffer.Start();
}

ZCSerialCom::~ZCSerialCom() noexcept(false)
{
    RunDestructorWork([this] { Destructor(); });
}

void ZCSerialCom::RaiseCommError(WORD message)
{
    PushSystemError();
    ThrowNewError(detail::g_SerialComCatalog, message, TString(m_Port, 10), Null(), Null(),
                  nullptr);
}

UINT ZCSerialCom::IsValid(DWORD port)
{
    const TString name = PortName(port);
    for (int attempt = 1;; ++attempt) {
        HANDLE handle = ::CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            ::CloseHandle(handle);
            return 1;
        }
        if (::GetLastError() != ERROR_ACCESS_DENIED || attempt == 5) {
            return 0;
        }
        ::Sleep(100);
    }
}

DWORD ZCSerialCom::GetFreePort(DWORD first)
{
    for (LONG port = static_cast<LONG>(first); port < 9; ++port) {
        if (IsValid(static_cast<DWORD>(port))) {
            if (port == 0) {
                break;
            }
            return static_cast<DWORD>(port);
        }
    }
    ThrowNewError(detail::g_SerialComCatalog, 1, Null(), Null(), Null(), nullptr);
}

void ZCSerialCom::Open(DWORD port, DWORD baudRate, unsigned char byteSize, unsigned char parity,
                       unsigned char stopBits, CMessageQueue* queue, TFlowControl flow)
{
    Close();
    m_pQueue = queue;
    m_Port = port;
    m_BaudRate = baudRate;
    m_ByteSize = byteSize;
    m_Parity = parity;
    m_StopBits = stopBits;

    m_hPort = ::CreateFileW(PortName(port), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED, nullptr);
    if (m_hPort == INVALID_HANDLE_VALUE) {
        RaiseCommError(2);
    }
    if (!CancelIo() || !SetupComm(4096, 4096) || !::SetCommMask(m_hPort, EV_RXCHAR)) {
        RaiseCommError(2);
    }
    COMMTIMEOUTS timeouts;
    ::GetCommTimeouts(m_hPort, &timeouts);
    timeouts.ReadIntervalTimeout = 20;
    timeouts.ReadTotalTimeoutMultiplier = 10;
    timeouts.ReadTotalTimeoutConstant = 100;
    timeouts.WriteTotalTimeoutMultiplier = 10;
    timeouts.WriteTotalTimeoutConstant = 100;
    if (!::SetCommTimeouts(m_hPort, &timeouts)) {
        RaiseCommError(2);
    }

    m_DCB.BaudRate = baudRate;
    m_DCB.ByteSize = byteSize;
    m_DCB.Parity = parity;
    m_DCB.StopBits = stopBits;
    m_DCB.fBinary = 1;
    // Parity is checked whenever there is one.
    m_DCB.fParity = parity != NOPARITY ? 1 : 0;
    FlowControl(flow);
    if (!::SetCommState(m_hPort, &m_DCB)) {
        RaiseCommError(2);
    }
    if (!PurgeComm(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR)) {
        RaiseCommError(2);
    }
    StartReader(TEXT("ZCSerialCom::CommThread"));
}

void ZCSerialCom::StartReader(const WCHAR* name)
{
    m_pCommThread.Attach(nullptr);
    m_pCommThread.Attach(new ZCThread(1, name, &ZCSerialCom::CommThread, this));
    if (!m_pCommThread->WaitUntilStarted(60000)) {
        ThrowNewError(detail::g_SerialComCatalog, 5, TString(m_Port, 10), Null(), Null(), nullptr);
    }
}

void ZCSerialCom::FlowControl(TFlowControl flow)
{
    switch (flow) {
    case FlowControlNone:
        m_DCB.fDtrControl = DTR_CONTROL_DISABLE;
        m_DCB.fRtsControl = RTS_CONTROL_DISABLE;
        break;
    case FlowControlDtrRts:
        m_DCB.fDtrControl = DTR_CONTROL_ENABLE;
        m_DCB.fRtsControl = RTS_CONTROL_ENABLE;
        break;
    default:
        FreeText(TEXT("File <tools/src/serialcom.cpp> invalid DEFAULT in CASE-STATEMENT at line ")
                     TEXT("<1521>"));
    }
    m_FlowControl = flow;
}

void ZCSerialCom::Close()
{
    if (m_pCommThread) {
        m_pCommThread->RequestStop();
        m_pCommThread->WaitUnitStopped();
        m_pCommThread.Attach(nullptr);
    }
    if (m_hPort != INVALID_HANDLE_VALUE) {
        // A device that has gone away (unplugged, the other end closed) has nothing
        // left to purge or configure; it is only closed.
        const BOOL present = ::ClearCommError(m_hPort, nullptr, nullptr) ||
                             ::GetLastError() != ERROR_DEVICE_NOT_CONNECTED;
        if (present) {
            ResetIo();
        }
        if (!::CloseHandle(m_hPort)) {
            RaiseCommError(7);
        }
        m_hPort = INVALID_HANDLE_VALUE;
    }
}

void ZCSerialCom::Destructor()
{
    Close();
}

void ZCSerialCom::ResetIo()
{
    if (!PurgeComm(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR)) {
        RaiseCommError(2);
    }
    if (!::SetCommState(m_hPort, &m_DCB)) {
        RaiseCommError(2);
    }
}

UINT ZCSerialCom::PurgeComm(unsigned char flags)
{
    return ::PurgeComm(m_hPort, flags) ? 1 : 0;
}

DWORD ZCSerialCom::UsedPort() const
{
    return m_Port;
}

UINT ZCSerialCom::CancelIo()
{
    return ::CancelIo(m_hPort) ? 1 : 0;
}

void ZCSerialCom::GetCommStatus()
{
    DWORD errors = 0;
    if (!::ClearCommError(m_hPort, &errors, &m_ComStat)) {
        RaiseCommError(2);
    }
}

UINT ZCSerialCom::SetupComm(DWORD in, DWORD out)
{
    return ::SetupComm(m_hPort, in, out) ? 1 : 0;
}

UINT ZCSerialCom::Start()
{
    if (m_pCommThread) {
        m_pCommThread->RequestStop();
        m_pCommThread.Attach(nullptr);
    }
    // Bytes that arrived while no reader ran stay in the device for the new one.
    StartReader(TEXT("ZCSerialCom::CommThread@start"));
    if (!::SetCommState(m_hPort, &m_DCB)) {
        RaiseCommError(2);
    }
    return 1;
}

DWORD ZCSerialCom::Stop()
{
    if (!m_pCommThread) {
        return 0;
    }
    m_pCommThread->RequestStop();
    const DWORD result = m_pCommThread->WaitUntilStopped(INFINITE);
    m_pCommThread.Attach(nullptr);
    return result;
}

DWORD ZCSerialCom::Write(const char* data, DWORD length, DWORD timeout)
{
    ZCAutoFreeMutex lock(m_WriteMutex);
    ZCEvent event(1, 0, nullptr);
    OVERLAPPED overlapped{};
    overlapped.hEvent = event.Handle();
    DWORD written = 0;
    if (!::WriteFile(m_hPort, data, length, &written, &overlapped)) {
        if (::GetLastError() != ERROR_IO_PENDING) {
            FreeText(TEXT("ZCSerialCom::Write -> WriteFile failed"));
        }
        event.Wait(timeout);
        if (!::GetOverlappedResult(m_hPort, &overlapped, &written, TRUE)) {
            FreeText(TEXT("ZCSerialCom::Write -> GetOverlappedResult failed"));
        }
    }
    if (written != length) {
        FreeText(TEXT("ZCSerialCom::Write -> WriteFile failed"));
    }
    return written;
}

LONG ZCSerialCom::Receive(const TSaveMemory& target)
{
    ZCAutoFreeMutex lock(m_ReceiveMutex);
    const LONG held = static_cast<LONG>(m_pWritePosition - m_ReceiveBuffer.Start());
    if (target.Size() < held) {
        ThrowNewError(
            42, 42,
            TString(TEXT("TSLong ZANTH::ZCSerialCom::Receive(const ZCSaveMemory&\tMemory)")),
            Null(), Null(), nullptr);
    }
    if (held > 0) {
        std::memcpy(target.Start(), m_ReceiveBuffer.Start(), static_cast<std::size_t>(held));
        m_pWritePosition = m_ReceiveBuffer.Start();
        *m_pWritePosition = 0;
        m_RoomEvent.Set();
    }
    return held;
}

LONG ZCSerialCom::RoomLocked() const
{
    return ReceiveCapacity - static_cast<LONG>(m_pWritePosition - m_ReceiveBuffer.Start());
}

void ZCSerialCom::Append(const unsigned char* data, DWORD count)
{
    ZCAutoFreeMutex lock(m_ReceiveMutex);
    // Only the reader adds bytes and only Receive takes them, so the room measured
    // before the read is still there (or more).
    std::memcpy(m_pWritePosition, data, count);
    m_pWritePosition += count;
    *m_pWritePosition = 0;
}

DWORD ZCSerialCom::CommThread(ZCThreadBase* thread, void* serial)
{
    ZCSerialCom* self = static_cast<ZCSerialCom*>(serial);
    const HANDLE port = self->m_hPort;
    ZCEvent event(1, 0, nullptr);
    OVERLAPPED overlapped{};
    overlapped.hEvent = event.Handle();
    // A pending event wait writes its mask when it ends: it must outlive the guard.
    DWORD mask = 0;
    PendingGuard pending(port, overlapped);
    const HANDLE list[2] = {thread->GetStopEvent()->Handle(), event.Handle()};

    // No purge here: Open has purged the fresh port already, and bytes that arrive
    // once Open (or Start) has returned belong to the caller.
    for (;;) {
        // A full receive buffer: the bytes wait in the device until Receive has
        // taken the held ones.
        self->m_RoomEvent.Reset();
        LONG room;
        {
            ZCAutoFreeMutex lock(self->m_ReceiveMutex);
            room = self->RoomLocked();
        }
        if (room == 0) {
            const HANDLE roomList[2] = {list[0], self->m_RoomEvent.Handle()};
            const DWORD r = ::WaitForMultipleObjects(2, roomList, FALSE, INFINITE);
            if (r == WAIT_OBJECT_0) {
                return 2;
            }
            if (r == WAIT_FAILED) {
                FreeText(TEXT("ZCSerialCom::CommThread -> WAIT_FAILED."));
            }
            continue;
        }

        if (::WaitCommEvent(port, &mask, &overlapped)) {
            self->GetCommStatus();
            if (self->m_ComStat.cbInQue == 0) {
                continue;
            }
        } else {
            const DWORD error = ::GetLastError();
            if (error != ERROR_IO_PENDING && error != ERROR_INVALID_PARAMETER) {
                FreeText(TEXT("ZCSerialCom::CommThread -> WaitCommEvent failed"));
            }
        }
        const DWORD r = ::WaitForMultipleObjects(2, list, FALSE, INFINITE);
        switch (r) {
        case WAIT_OBJECT_0:
            return 2; // the guard ends a wait that is still pending
        case WAIT_OBJECT_0 + 1:
            ReadData(thread, self);
            break;
        case WAIT_TIMEOUT:
            FreeText(TEXT("ZCSerialCom::CommThread -> WAIT_TIMEOUT."));
        case WAIT_FAILED:
            FreeText(TEXT("ZCSerialCom::CommThread -> WAIT_FAILED."));
        default:
            break;
        }
    }
}

void ZCSerialCom::ReadData(ZCThreadBase* thread, ZCSerialCom* serial)
{
    const HANDLE port = serial->m_hPort;
    ZCEvent event(1, 0, nullptr);
    OVERLAPPED overlapped{};
    overlapped.hEvent = event.Handle();
    PendingGuard pending(port, overlapped);
    const HANDLE list[2] = {event.Handle(), thread->GetStopEvent()->Handle()};
    unsigned char staging[ReceiveCapacity];
    DWORD burst = 0;

    for (;;) {
        event.Reset();
        serial->GetCommStatus();
        if (serial->m_ComStat.cbInQue == 0 || thread->IsStopRequested()) {
            break;
        }
        LONG room;
        {
            ZCAutoFreeMutex lock(serial->m_ReceiveMutex);
            room = serial->RoomLocked();
        }
        if (room == 0) {
            break; // the rest waits in the device; this burst is reported
        }
        const DWORD wanted = std::min<DWORD>(serial->m_ComStat.cbInQue, static_cast<DWORD>(room));
        DWORD read = 0;
        if (!::ReadFile(port, staging, wanted, &read, &overlapped)) {
            if (::GetLastError() != ERROR_IO_PENDING) {
                FreeText(TEXT("ZCSerialCom::ReceiveChar -> ReadFile failed"));
            }
            const DWORD r = ::WaitForMultipleObjects(2, list, FALSE, 60000);
            switch (r) {
            case WAIT_OBJECT_0:
                break;
            case WAIT_OBJECT_0 + 1:
                return; // stop requested: no notification
            case WAIT_TIMEOUT:
                FreeText(TEXT("ZCSerialCom::ReadData -> WAIT_TIMEOUT."));
            case WAIT_FAILED:
                FreeText(TEXT("ZCSerialCom::ReadData -> WAIT_FAILED."));
            default:
                ::CancelIo(port);
                break;
            }
        }
        if (!::GetOverlappedResult(port, &overlapped, &read, TRUE)) {
            FreeText(TEXT("ZCSerialCom::ReceiveChar -> GetOverlappedResult failed"));
        }
        serial->Append(staging, read);
        burst += read;
        if (thread->IsStopRequested()) {
            return;
        }
    }
    if (!thread->IsStopRequested() && burst > 0 && serial->m_pQueue) {
        serial->m_pQueue->InvokeAll(NotificationId, nullptr);
    }
}

} // namespace ZANTH
