// ZANTH::ZCSerialCom: one serial port (COM1 to COM8) with overlapped I/O, a reader
// thread that notifies the caller's CMessageQueue, and writes with a wait limit.
#ifndef ZANTH_SERIALCOM_H
#define ZANTH_SERIALCOM_H

#include <corewu/callback.h>
#include <zanth/config.h>
#include <zanth/savememory.h>
#include <zanth/thread.h>

namespace ZANTH {

// One serial port. Open configures it (speed, data bits, parity, stop bits, DTR/RTS)
// and starts a reader thread that reads arriving bytes into the object's receive
// buffer and then calls InvokeAll(NotificationId, null) on the queue given to Open,
// once per burst; the caller takes the bytes with Receive. The buffer holds at most
// ReceiveCapacity bytes: when it is full the reader leaves the rest in the device
// and goes on after the next Receive, so a late caller loses nothing.
// The object owns the port handle and the reader thread; Close, Stop, Start and the
// destructor wait for the reader to end before they release what it uses. Errors:
// the serial catalog "ZCSerialComMSG" (1 no usable port, 2 a communications call
// failed with the port number as %1 above the system error, 5 the reader did not
// start, 7 the port could not be closed) and the free texts of Write and of the
// reader; errors of the reader end it and are recorded in its thread object
// (ReaderThread(): status Failed, ExceptionInfo()).
// Thread rules: Write and Receive may be called from any thread (writes are
// serialised, Receive is safe against the reader); Open, Close, ResetIo, Start and
// Stop belong to one owner thread and must not run while another thread writes.
class ZANTH_TOOLS_API ZCSerialCom
{
public:
    enum TFlowControl
    {
        FlowControlNone = 0,  // DTR and RTS off
        FlowControlDtrRts = 1 // DTR and RTS on
    };

    // The id of the notification after each read burst.
    static constexpr DWORD NotificationId = 0x50001;
    // Bytes the receive buffer holds at most (one byte of its 4096 stays free for
    // the zero byte stored behind the data).
    static constexpr LONG ReceiveBufferSize = 4096;
    static constexpr LONG ReceiveCapacity = ReceiveBufferSize - 1;

    ZCSerialCom();
    virtual ~ZCSerialCom() noexcept(false);
    ZCSerialCom(const ZCSerialCom&) = delete;
    ZCSerialCom& operator=(const ZCSerialCom&) = delete;

    // 1 when the port can be opened now: tries five times, 100 ms apart, while the
    // port is in use (ERROR_ACCESS_DENIED). Never raises.
    UINT IsValid(DWORD port);
    // The first usable port from `first` up to 8; raises message 1 when there is none.
    DWORD GetFreePort(DWORD first);
    // Closes whatever is open, opens "\\.\COM<port>" and configures it (queues of 4096
    // bytes, event mask EV_RXCHAR, time-outs, the DCB from the arguments, parity
    // checking for every parity but none), purges it and starts the reader thread
    // "ZCSerialCom::CommThread". byteSize, parity and stopBits are DCB values.
    void Open(DWORD port, DWORD baudRate, unsigned char byteSize, unsigned char parity,
              unsigned char stopBits, CMessageQueue* queue, TFlowControl flow);
    // Stops the reader, then purges and closes the port (nothing when closed).
    void Close();
    void Destructor();
    // Purges both directions and applies the kept DCB again.
    void ResetIo();
    // The system's PurgeComm on the port: 1 on success.
    UINT PurgeComm(unsigned char flags);
    // The port number of the last Open (also after Close).
    DWORD UsedPort() const;

    // Replaces the reader thread by a new one ("ZCSerialCom::CommThread@start")
    // and applies the kept DCB again; bytes held or waiting in the device are kept.
    // Returns 1.
    UINT Start();
    // Ends the reader thread: the result of the wait for its end (nonzero), 0 when
    // there was none.
    DWORD Stop();
    // Writes `length` bytes and returns `length`; raises a free-text error when the
    // write fails or ends short.
    DWORD Write(const char* data, DWORD length, DWORD timeout);
    // Moves the bytes received since the last Receive to the start of `target` and
    // returns their number. A target smaller than that raises catalog 42 message 42
    // and keeps the bytes.
    LONG Receive(const TSaveMemory& target);

    // The current reader thread (null when none): its status, exit code and
    // recorded error tell how it ended.
    ZCThread* ReaderThread() const { return m_pCommThread.Get(); }
    // The device control block that Open built and ResetIo applies.
    const DCB& Dcb() const { return m_DCB; }
    // The flow-control mode of the last Open.
    TFlowControl FlowControlMode() const { return m_FlowControl; }

protected:
    // The system's CancelIo on the port: 1 on success.
    UINT CancelIo();

private:
    void GetCommStatus();
    UINT SetupComm(DWORD in, DWORD out);
    void FlowControl(TFlowControl flow);
    [[noreturn]] void RaiseCommError(WORD message);
    void StartReader(const WCHAR* name);
    // With the receive mutex: free room of the receive buffer.
    LONG RoomLocked() const;
    void Append(const unsigned char* data, DWORD count);

    static DWORD CommThread(ZCThreadBase* thread, void* serial);
    static void ReadData(ZCThreadBase* thread, ZCSerialCom* serial);

    HANDLE m_hPort;
    DCB m_DCB;
    COMSTAT m_ComStat;
    TString m_Reserved;
    DWORD m_BaudRate;
    DWORD m_Port;
    unsigned char m_Parity;
    unsigned char m_StopBits;
    unsigned char m_ByteSize;
    unsigned char m_Spare;
    ZCEvent m_Event1;
    ZCEvent m_Event2;
    ZCEvent m_Event3;
    TSmartPtr<ZCThread> m_pCommThread;
    TSmartPtr<ZCThread> m_pSpareThread;
    DWORD m_Time;
    ZCMutex m_ReceiveMutex;
    ZCMutex m_WriteMutex;
    TSaveMemory m_ReceiveBuffer;
    unsigned char* m_pWritePosition;
    CMessageQueue* m_pQueue;
    TFlowControl m_FlowControl;
    DWORD m_Unused1;
    DWORD m_Unused2;
    // Set by Receive when it has made room; the reader waits on it while the
    // receive buffer is full.
    ZCEvent m_RoomEvent;
};

} // namespace ZANTH

#endif // ZANTH_SERIALCOM_H
