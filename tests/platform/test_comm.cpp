// Serial ports of the platform layer on pseudo-terminals: where "\\.\COMn" leads,
// exclusive opening, settings that reach the device, overlapped reads, writes and
// event waits completed by the engine, cancelling, purging, and a device that
// disappears under pending operations.
#include "serialpeer.h"

#include <termios.h>

#include <string>
#include <thread>
#include <vector>

using namespace testsupport;

namespace {

constexpr DWORD kPort = 5;

HANDLE OpenPort(DWORD port, DWORD flags = FILE_FLAG_OVERLAPPED)
{
    const TString name = TString::Formatted(TEXT("\\\\.\\COM%d"), static_cast<int>(port));
    return CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, flags,
                       nullptr);
}

// A pty pair mapped to kPort and opened (overlapped) with raw 8N1 settings.
class CommTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(pty.Valid());
        MapPort(kPort, pty.Device());
        port = OpenPort(kPort);
        ASSERT_NE(port, INVALID_HANDLE_VALUE) << GetLastError();
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        dcb.BaudRate = 9600;
        dcb.ByteSize = 8;
        dcb.fBinary = 1;
        ASSERT_TRUE(SetCommState(port, &dcb));
        ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));
    }
    void TearDown() override
    {
        if (port != INVALID_HANDLE_VALUE) {
            CloseHandle(port);
        }
    }

    void SetTimeouts(DWORD interval, DWORD multiplier, DWORD constant)
    {
        COMMTIMEOUTS t{interval, multiplier, constant, 0, 0};
        ASSERT_TRUE(SetCommTimeouts(port, &t));
    }

    PtyPair pty;
    HANDLE port = INVALID_HANDLE_VALUE;
};

// An overlapped record with an event of its own.
struct Overlapped
{
    Overlapped() { o.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr); }
    ~Overlapped() { CloseHandle(o.hEvent); }
    OVERLAPPED o{};
};

TEST(CommNames, PortsMapThroughTheDirectoryWithTtySDefaults)
{
    WCHAR device[256];
    ASSERT_GT(ZanthGetCommDevice(1, device, 256), 0u);
    EXPECT_EQ(TString(device), TString(TEXT("/dev/ttyS0")));
    ASSERT_GT(ZanthGetCommDevice(4, device, 256), 0u);
    EXPECT_EQ(TString(device), TString(TEXT("/dev/ttyS3")));
    EXPECT_EQ(ZanthGetCommDevice(7, device, 256), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    // Without a link, ports above 4 do not exist; port 0 and junk never do.
    for (const WCHAR* name :
         {TEXT("\\\\.\\COM7"), TEXT("\\\\.\\COM0"), TEXT("\\\\.\\COMX"), TEXT("\\\\.\\COM1234")}) {
        EXPECT_EQ(
            CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    }

    PtyPair pty;
    ASSERT_TRUE(pty.Valid());
    MapPort(7, pty.Device());
    ASSERT_GT(ZanthGetCommDevice(7, device, 256), 0u);
    EXPECT_EQ(TString(device), Wide(pty.Device()));
    WCHAR dir[512];
    ASSERT_GT(ZanthGetCommDirectory(dir, 512), 0u);
    EXPECT_NE(TString(dir).Find(TEXT("zanth/ports")), -1);

    HANDLE port = OpenPort(7);
    ASSERT_NE(port, INVALID_HANDLE_VALUE) << GetLastError();
    EXPECT_EQ(GetFileType(port), static_cast<DWORD>(FILE_TYPE_CHAR));
    CloseHandle(port);

    // Removing the link brings the default back.
    ASSERT_TRUE(ZanthMapCommPort(7, nullptr));
    EXPECT_EQ(ZanthGetCommDevice(7, device, 256), 0u);
}

TEST(CommNames, AFileThatIsNoTerminalIsNoPort)
{
    const std::string path = TempPath("plain");
    FILE* f = std::fopen(path.c_str(), "w");
    ASSERT_TRUE(f);
    std::fclose(f);
    MapPort(6, path);
    EXPECT_EQ(OpenPort(6), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(CommTest, ASecondOpenerIsRefusedInThisProcessAndAnother)
{
    EXPECT_EQ(OpenPort(kPort), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    {
        PortHolder other(kPort);
        EXPECT_EQ(other.Line(), "error 5");
    }
    ASSERT_TRUE(CloseHandle(port));
    port = INVALID_HANDLE_VALUE;

    // Held by another process (the tests run as root, whom TIOCEXCL does not stop).
    PortHolder holder(kPort);
    ASSERT_TRUE(holder.Ready()) << holder.Line();
    EXPECT_EQ(OpenPort(kPort), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(CommTest, ClosingReleasesThePortAtOnce)
{
    ASSERT_TRUE(CloseHandle(port));
    port = OpenPort(kPort);
    EXPECT_NE(port, INVALID_HANDLE_VALUE) << GetLastError();
}

struct SettingsCase
{
    DWORD baud;
    BYTE parity;
    BYTE stopBits;
    speed_t code; // what cfgetospeed reports (B0: a speed without a code)
    bool parodd;  // PARODD on the device
    bool checked; // INPCK on the device
};

TEST_F(CommTest, SpeedStopBitsAndParityReachTheDevice)
{
    const SettingsCase cases[] = {
        {9600, NOPARITY, ONESTOPBIT, B9600, false, false},
        {115200, ODDPARITY, TWOSTOPBITS, B115200, true, true},
        {19200, EVENPARITY, ONESTOPBIT, B19200, false, true},
        {4000000, MARKPARITY, TWOSTOPBITS, B4000000, true, true},
        {31250, SPACEPARITY, ONESTOPBIT, B0, false, true},
    };
    for (const SettingsCase& c : cases) {
        SCOPED_TRACE(c.baud);
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        dcb.BaudRate = c.baud;
        dcb.ByteSize = 7;
        dcb.Parity = c.parity;
        dcb.fParity = c.parity != NOPARITY;
        dcb.StopBits = c.stopBits;
        dcb.fBinary = 1;
        ASSERT_TRUE(SetCommState(port, &dcb)) << GetLastError();

        // A look at the device's own settings through a second descriptor: only
        // root gets past TIOCEXCL (the advisory lock does not stop a plain open).
        termios t{};
        const int fd = ::open(pty.Device().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
        if (fd < 0) {
            GTEST_SKIP() << "the device cannot be opened beside the port: " << errno;
        }
        ASSERT_EQ(tcgetattr(fd, &t), 0);
        ::close(fd);
        if (c.code != B0) {
            EXPECT_EQ(cfgetospeed(&t), c.code);
        }
        EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.stopBits == TWOSTOPBITS);
        EXPECT_EQ((t.c_cflag & PARODD) != 0, c.parodd);
        EXPECT_EQ((t.c_iflag & INPCK) != 0, c.checked);
        EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);

        // What the pty cannot hold (7 data bits, parity enabled) is reported as set.
        DCB back{};
        ASSERT_TRUE(GetCommState(port, &back));
        EXPECT_EQ(back.BaudRate, c.baud);
        EXPECT_EQ(back.ByteSize, 7);
        EXPECT_EQ(back.Parity, c.parity);
        EXPECT_EQ(back.StopBits, c.stopBits);
        EXPECT_EQ(back.fParity, dcb.fParity);
        EXPECT_EQ(back.fBinary, 1u);
    }
}

TEST_F(CommTest, ImpossibleSettingsAreRefused)
{
    DCB good{};
    ASSERT_TRUE(GetCommState(port, &good));
    auto refused = [&](auto change) {
        DCB dcb = good;
        change(dcb);
        return !SetCommState(port, &dcb) && GetLastError() == ERROR_INVALID_PARAMETER;
    };
    EXPECT_TRUE(refused([](DCB& d) { d.ByteSize = 4; }));
    EXPECT_TRUE(refused([](DCB& d) { d.ByteSize = 9; }));
    EXPECT_TRUE(refused([](DCB& d) { d.Parity = 5; }));
    EXPECT_TRUE(refused([](DCB& d) { d.StopBits = 3; }));
    EXPECT_TRUE(refused([](DCB& d) { d.StopBits = ONE5STOPBITS; })); // only with 5 data bits
    EXPECT_TRUE(refused([](DCB& d) { d.BaudRate = 0; }));
    // DTR and RTS on a pty: accepted, nothing to switch.
    DCB lines = good;
    lines.fDtrControl = DTR_CONTROL_ENABLE;
    lines.fRtsControl = RTS_CONTROL_ENABLE;
    EXPECT_TRUE(SetCommState(port, &lines));
}

TEST_F(CommTest, AnOverlappedReadCompletesWhenBytesArrive)
{
    SetTimeouts(0, 0, 0); // wait for all bytes
    Overlapped ov;
    char buffer[6] = {};
    DWORD read = 99;
    ASSERT_FALSE(ReadFile(port, buffer, 5, &read, &ov.o));
    ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    EXPECT_FALSE(GetOverlappedResult(port, &ov.o, &read, FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_INCOMPLETE));
    EXPECT_EQ(WaitForSingleObject(ov.o.hEvent, 0), static_cast<DWORD>(WAIT_TIMEOUT));

    ASSERT_TRUE(pty.Send("hel"));
    ASSERT_TRUE(pty.Send("lo"));
    ASSERT_EQ(WaitForSingleObject(ov.o.hEvent, 20000), WAIT_OBJECT_0);
    ASSERT_TRUE(GetOverlappedResult(port, &ov.o, &read, TRUE));
    EXPECT_EQ(read, 5u);
    EXPECT_STREQ(buffer, "hello");

    // Bytes that are there already complete the read at once, event set.
    ASSERT_TRUE(pty.Send("abc"));
    DWORD mask = 0;
    Overlapped wait;
    if (!WaitCommEvent(port, &mask, &wait.o)) {
        ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
        ASSERT_EQ(WaitForSingleObject(wait.o.hEvent, 20000), WAIT_OBJECT_0);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // let all three arrive
    EXPECT_TRUE(ReadFile(port, buffer, 3, &read, &ov.o));
    EXPECT_EQ(read, 3u);
    EXPECT_EQ(WaitForSingleObject(ov.o.hEvent, 0), WAIT_OBJECT_0);
}

TEST_F(CommTest, ReadTimeOutsEndAReadWithWhatItHas)
{
    // Total time-out: nothing arrives, the read succeeds with 0 bytes.
    SetTimeouts(0, 0, 50);
    Overlapped ov;
    char buffer[16];
    DWORD read = 99;
    if (!ReadFile(port, buffer, sizeof buffer, &read, &ov.o)) {
        ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
        ASSERT_TRUE(GetOverlappedResult(port, &ov.o, &read, TRUE));
    }
    EXPECT_EQ(read, 0u);

    // Interval time-out: after the first bytes a gap ends the read.
    SetTimeouts(20, 0, 0);
    ASSERT_FALSE(ReadFile(port, buffer, sizeof buffer, &read, &ov.o));
    ASSERT_TRUE(pty.Send("xy"));
    ASSERT_TRUE(GetOverlappedResult(port, &ov.o, &read, TRUE));
    EXPECT_EQ(std::string(buffer, read), "xy");

    // MAXDWORD interval, no totals: returns at once with what is there.
    SetTimeouts(MAXDWORD, 0, 0);
    EXPECT_TRUE(ReadFile(port, buffer, sizeof buffer, &read, &ov.o));
    EXPECT_EQ(read, 0u);
}

TEST_F(CommTest, WaitCommEventReportsArrivingCharacters)
{
    Overlapped ov;
    DWORD mask = 0;
    ASSERT_FALSE(WaitCommEvent(port, &mask, &ov.o));
    ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    // A second wait while one is pending is refused.
    DWORD other = 0;
    Overlapped ov2;
    EXPECT_FALSE(WaitCommEvent(port, &other, &ov2.o));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    ASSERT_TRUE(pty.Send("12345"));
    ASSERT_EQ(WaitForSingleObject(ov.o.hEvent, 20000), WAIT_OBJECT_0);
    DWORD n = 0;
    ASSERT_TRUE(GetOverlappedResult(port, &ov.o, &n, TRUE));
    EXPECT_EQ(mask, static_cast<DWORD>(EV_RXCHAR));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    COMSTAT status{};
    DWORD errors = 7;
    ASSERT_TRUE(ClearCommError(port, &errors, &status));
    EXPECT_EQ(status.cbInQue, 5u);
    EXPECT_EQ(errors, 0u);

    // Purging the input empties the device's queue.
    ASSERT_TRUE(PurgeComm(port, PURGE_RXCLEAR));
    ASSERT_TRUE(ClearCommError(port, nullptr, &status));
    EXPECT_EQ(status.cbInQue, 0u);
    EXPECT_FALSE(PurgeComm(port, 0x10));

    // SetCommMask ends a pending wait with an empty mask.
    mask = 99;
    ASSERT_FALSE(WaitCommEvent(port, &mask, &ov.o));
    ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));
    ASSERT_TRUE(GetOverlappedResult(port, &ov.o, &n, TRUE));
    EXPECT_EQ(mask, 0u);
}

TEST_F(CommTest, CancelIoAndPurgeEndPendingOperations)
{
    SetTimeouts(0, 0, 0);
    Overlapped ov;
    char buffer[8];
    DWORD n = 0;
    ASSERT_FALSE(ReadFile(port, buffer, sizeof buffer, &n, &ov.o));
    ASSERT_TRUE(CancelIo(port));
    EXPECT_FALSE(GetOverlappedResult(port, &ov.o, &n, TRUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));

    // CancelIo leaves other threads' operations alone; PURGE_RXABORT does not.
    std::thread([&] { ASSERT_FALSE(ReadFile(port, buffer, sizeof buffer, &n, &ov.o)); }).join();
    ASSERT_TRUE(CancelIo(port));
    EXPECT_FALSE(GetOverlappedResult(port, &ov.o, &n, FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_INCOMPLETE));
    ASSERT_TRUE(PurgeComm(port, PURGE_RXABORT));
    EXPECT_FALSE(GetOverlappedResult(port, &ov.o, &n, TRUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));

    // Closing the handle ends what is still pending.
    ASSERT_FALSE(ReadFile(port, buffer, sizeof buffer, &n, &ov.o));
    ASSERT_TRUE(CloseHandle(port));
    port = INVALID_HANDLE_VALUE;
    EXPECT_FALSE(GetOverlappedResult(port, &ov.o, &n, TRUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
}

TEST_F(CommTest, AMegabyteWrittenOverlappedArrivesAtThePeer)
{
    std::string data(1 << 20, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<char>(i * 7 + (i >> 9));
    }
    std::string received;
    std::thread peer([&] { received = pty.ReadExactly(data.size()); });
    Overlapped ov;
    DWORD written = 0;
    if (!WriteFile(port, data.data(), static_cast<DWORD>(data.size()), &written, &ov.o)) {
        ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
        ASSERT_TRUE(GetOverlappedResult(port, &ov.o, &written, TRUE)) << GetLastError();
    }
    peer.join();
    EXPECT_EQ(written, data.size());
    EXPECT_TRUE(received == data);
}

TEST_F(CommTest, ABlockingHandleReadsAndWritesWithoutOverlapped)
{
    ASSERT_TRUE(CloseHandle(port));
    port = OpenPort(kPort, FILE_ATTRIBUTE_NORMAL);
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    DCB dcb{};
    ASSERT_TRUE(GetCommState(port, &dcb));
    ASSERT_TRUE(SetCommState(port, &dcb));
    SetTimeouts(0, 0, 0);
    std::thread peer([&] { pty.Send("ping"); });
    char buffer[5] = {};
    DWORD n = 0;
    ASSERT_TRUE(ReadFile(port, buffer, 4, &n, nullptr));
    peer.join();
    EXPECT_EQ(n, 4u);
    EXPECT_STREQ(buffer, "ping");
    ASSERT_TRUE(WriteFile(port, "pong", 4, &n, nullptr));
    EXPECT_EQ(pty.ReadExactly(4), "pong");
}

TEST_F(CommTest, ADeviceThatDisappearsFailsPendingAndLaterOperations)
{
    SetTimeouts(0, 0, 0);
    Overlapped wait;
    Overlapped read;
    DWORD mask = 0;
    ASSERT_FALSE(WaitCommEvent(port, &mask, &wait.o));
    std::thread([&] {
        char buffer[4];
        DWORD n = 0;
        ASSERT_FALSE(ReadFile(port, buffer, sizeof buffer, &n, &read.o));
    }).join();
    pty.CloseMaster();
    DWORD n = 0;
    EXPECT_FALSE(GetOverlappedResult(port, &wait.o, &n, TRUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
    EXPECT_FALSE(GetOverlappedResult(port, &read.o, &n, TRUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));

    COMSTAT status{};
    EXPECT_FALSE(ClearCommError(port, nullptr, &status));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
    EXPECT_FALSE(WaitCommEvent(port, &mask, &wait.o));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
    EXPECT_TRUE(CloseHandle(port));
    port = INVALID_HANDLE_VALUE;
}

TEST(CommNames, APseudoTerminalFromTheLayerServesAsAPort)
{
    HANDLE master = nullptr;
    WCHAR device[128];
    ASSERT_TRUE(ZanthCreatePseudoTerminal(&master, device, 128)) << GetLastError();
    ASSERT_TRUE(ZanthMapCommPort(8, device));
    HANDLE port = OpenPort(8, FILE_ATTRIBUTE_NORMAL);
    ASSERT_NE(port, INVALID_HANDLE_VALUE) << GetLastError();
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(master, "raw\r\n", 5, &n, nullptr));
    char buffer[6] = {};
    ASSERT_TRUE(ReadFile(port, buffer, 5, &n, nullptr));
    EXPECT_STREQ(buffer, "raw\r\n"); // raw from the start: nothing translated
    ASSERT_TRUE(WriteFile(port, "back", 4, &n, nullptr));
    ASSERT_TRUE(ReadFile(master, buffer, 4, &n, nullptr));
    EXPECT_EQ(std::string(buffer, 4), "back");
    CloseHandle(port);
    CloseHandle(master);
}

} // namespace
