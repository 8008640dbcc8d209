// ZANTH::ZCSerialCom on pseudo-terminal pairs and with socat as an outside peer:
// finding and opening ports, the settings that reach the device, the reader's
// notifications, Receive with a late consumer, Write, Stop and Start, and a peer
// that goes away.
#include "serialpeer.h"

#include <termios.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>

using namespace testsupport;
using ZANTH::ZCSerialCom;
using ZANTH::ZCThread;
using ZANTH::ZCThreadInterface;

namespace {

constexpr DWORD kPort = 5;

WORD SerialCatalog()
{
    return FindCatalog(TEXT("ZCSerialComMSG"));
}

// Counts the notifications a port sends and wakes a waiting test.
class Notifications
{
public:
    Notifications() { queue.Add(&Notifications::Callback, this); }
    ~Notifications() noexcept {}

    int Count() const
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        return m_Count;
    }
    // Waits until more than `seen` notifications have come.
    bool WaitBeyond(int seen, int seconds = 20)
    {
        std::unique_lock<std::mutex> lock(m_Lock);
        return m_Changed.wait_for(lock, std::chrono::seconds(seconds),
                                  [&] { return m_Count > seen; });
    }

    CMessageQueue queue;

private:
    static void Callback(DWORD id, void* data, void* context)
    {
        auto* self = static_cast<Notifications*>(context);
        EXPECT_EQ(id, ZCSerialCom::NotificationId);
        EXPECT_EQ(data, nullptr);
        std::lock_guard<std::mutex> guard(self->m_Lock);
        ++self->m_Count;
        self->m_Changed.notify_all();
    }

    mutable std::mutex m_Lock;
    std::condition_variable m_Changed;
    int m_Count = 0;
};

class SerialComTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(pty.Valid());
        MapPort(kPort, pty.Device());
    }

    void Open(unsigned char parity = NOPARITY, unsigned char stop = ONESTOPBIT, DWORD baud = 115200)
    {
        com.Open(kPort, baud, 8, parity, stop, &notes.queue, ZCSerialCom::FlowControlNone);
    }

    // Takes everything the port holds now, checking the buffer's limit.
    std::string Take()
    {
        TSaveMemory target(ZCSerialCom::ReceiveBufferSize);
        const LONG n = com.Receive(target);
        EXPECT_GE(n, 0);
        EXPECT_LE(n, ZCSerialCom::ReceiveCapacity);
        return std::string(reinterpret_cast<const char*>(target.Start()),
                           static_cast<std::size_t>(n));
    }

    // The device's settings as the kernel holds them (a second descriptor: root
    // gets past the port's TIOCEXCL).
    bool DeviceSettings(termios& t)
    {
        const int fd = ::open(pty.Device().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
        if (fd < 0) {
            return false;
        }
        const bool ok = tcgetattr(fd, &t) == 0;
        ::close(fd);
        return ok;
    }

    PtyPair pty;
    Notifications notes;
    // Held through a pointer: the fixture's destructor must not raise.
    std::unique_ptr<ZCSerialCom> owned = std::make_unique<ZCSerialCom>();
    ZCSerialCom& com = *owned;
};

std::string Pattern(std::size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string data(size, '\0');
    for (char& c : data) {
        c = static_cast<char>(random());
    }
    return data;
}

TEST_F(SerialComTest, ABurstOfTenBytesGivesOneNotification)
{
    Open();
    ASSERT_TRUE(pty.Send("0123456789"));
    ASSERT_TRUE(notes.WaitBeyond(0));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(notes.Count(), 1);
    EXPECT_EQ(Take(), "0123456789");
    EXPECT_EQ(Take(), "");
    EXPECT_EQ(notes.Count(), 1);
}

TEST_F(SerialComTest, ReceiveIntoATooSmallTargetKeepsTheBytes)
{
    Open();
    ASSERT_TRUE(pty.Send("abcdef"));
    ASSERT_TRUE(notes.WaitBeyond(0));
    TSaveMemory small(3);
    CaughtError error = CatchError([&] { com.Receive(small); });
    ASSERT_TRUE(error.raised);
    EXPECT_EQ(error.catalog, 42);
    EXPECT_EQ(error.message, 42);
    EXPECT_NE(error.text.find("ZCSerialCom::Receive(const ZCSaveMemory&\tMemory)"),
              std::string::npos);
    EXPECT_EQ(Take(), "abcdef");
}

// 1 MiB sent by the peer in random chunks arrives whole and in order, whether the
// consumer keeps up or sleeps so that far more than the buffer waits.
TEST_F(SerialComTest, AMegabyteFromThePeerArrivesWholeAndInOrder)
{
    for (int pause : {0, 3}) {
        SCOPED_TRACE(pause);
        Open();
        const std::string data = Pattern(1 << 20, 7 + pause);
        std::thread peer([&] {
            std::mt19937 random(pause);
            std::size_t at = 0;
            while (at < data.size()) {
                const std::size_t chunk =
                    std::min<std::size_t>(1 + random() % 9000, data.size() - at);
                ASSERT_TRUE(pty.Send(data.data() + at, chunk));
                at += chunk;
            }
        });
        std::string received;
        int seen = 0;
        while (received.size() < data.size()) {
            const std::size_t before = received.size();
            received += Take();
            if (received.size() == before) {
                ASSERT_TRUE(notes.WaitBeyond(seen)) << received.size();
                seen = notes.Count();
            }
            if (pause) {
                std::this_thread::sleep_for(std::chrono::milliseconds(pause));
            }
        }
        peer.join();
        EXPECT_EQ(received.size(), data.size());
        EXPECT_TRUE(received == data);
        EXPECT_EQ(com.ReaderThread()->GetStatus(), ZCThreadInterface::Running);
        com.Close();
    }
}

TEST_F(SerialComTest, WriteSendsEverythingToThePeer)
{
    Open();
    EXPECT_EQ(com.Write("", 0, 1000), 0u);
    const std::string data = Pattern(1 << 20, 3);
    std::string received;
    std::thread peer([&] { received = pty.ReadExactly(data.size()); });
    // Two writers at once: each write completes before the next one starts.
    std::thread second([&] { EXPECT_EQ(com.Write("", 0, 1000), 0u); });
    EXPECT_EQ(com.Write(data.data(), static_cast<DWORD>(data.size()), 5000), data.size());
    second.join();
    peer.join();
    EXPECT_TRUE(received == data);
}

TEST_F(SerialComTest, WriteOnAClosedPortRaisesItsFreeText)
{
    CaughtError error = CatchError([&] { com.Write("x", 1, 100); });
    ASSERT_TRUE(error.raised);
    EXPECT_EQ(error.catalog, 0);
    EXPECT_NE(error.text.find("ZCSerialCom::Write -> WriteFile failed"), std::string::npos);
}

TEST_F(SerialComTest, StopEndsTheReaderAndStartGoesOnWithoutLosingBytes)
{
    EXPECT_EQ(com.Stop(), 0u); // no reader yet
    Open();
    ZCThread* reader = com.ReaderThread();
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(std::basic_string<WCHAR>(reader->Name()), TEXT("ZCSerialCom::CommThread"));
    reader->RequestStop();
    ASSERT_TRUE(reader->WaitUntilStopped(20000));
    EXPECT_EQ(reader->ExitCode(), 2u);
    EXPECT_EQ(reader->GetStatus(), ZCThreadInterface::Terminated);
    EXPECT_NE(com.Stop(), 0u);
    EXPECT_EQ(com.ReaderThread(), nullptr);

    ASSERT_TRUE(pty.Send("while nobody reads"));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(notes.Count(), 0);
    EXPECT_EQ(Take(), "");

    EXPECT_EQ(com.Start(), 1u);
    EXPECT_EQ(std::basic_string<WCHAR>(com.ReaderThread()->Name()),
              TEXT("ZCSerialCom::CommThread@start"));
    ASSERT_TRUE(notes.WaitBeyond(0));
    EXPECT_EQ(Take(), "while nobody reads");
}

TEST_F(SerialComTest, APeerThatClosesEndsTheReaderWithARecordedError)
{
    Open();
    ZCThread* reader = com.ReaderThread();
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // the reader waits now
    pty.CloseMaster();
    ASSERT_TRUE(reader->WaitUntilStopped(20000));
    EXPECT_EQ(reader->GetStatus(), ZCThreadInterface::Failed);
    EXPECT_EQ(reader->ExitCode(), 1u);
    ZANTH::ZCInfo info = reader->ExceptionInfo();
    EXPECT_TRUE(info.HasError());
    EXPECT_EQ(notes.Count(), 0);
    com.Close(); // closes the port of a vanished device without an error
    EXPECT_EQ(Take(), "");
}

TEST_F(SerialComTest, IsValidAndGetFreePort)
{
    EXPECT_EQ(com.IsValid(kPort), 1u);
    EXPECT_EQ(com.IsValid(7), 0u); // no link, no device
    EXPECT_EQ(com.GetFreePort(kPort), kPort);
    for (DWORD first : {6u, 9u, 100u}) {
        CaughtError error = CatchError([&] { com.GetFreePort(first); });
        ASSERT_TRUE(error.raised) << first;
        EXPECT_EQ(error.catalog, SerialCatalog());
        EXPECT_EQ(error.message, 1);
        EXPECT_NE(error.text.find("No usable serial port"), std::string::npos);
    }
    // A port this object holds is busy for others, and for IsValid.
    Open();
    EXPECT_EQ(com.IsValid(kPort), 0u);
    com.Close();
    EXPECT_EQ(com.IsValid(kPort), 1u);
}

TEST_F(SerialComTest, APortHeldByAnotherProcessIsNotValid)
{
    PortHolder holder(kPort);
    ASSERT_TRUE(holder.Ready()) << holder.Line();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(com.IsValid(kPort), 0u);
    const auto waited = std::chrono::steady_clock::now() - start;
    RecordProperty(
        "waited_ms",
        static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(waited).count()));
    CaughtError error = CatchError([&] { Open(); });
    ASSERT_TRUE(error.raised);
    EXPECT_EQ(error.catalog, SerialCatalog());
    EXPECT_EQ(error.message, 2);
    EXPECT_NE(error.text.find(std::to_string(kPort)), std::string::npos);
}

TEST_F(SerialComTest, OpenOnAnOpenObjectClosesTheOldPortFirst)
{
    Open();
    EXPECT_EQ(com.UsedPort(), kPort);
    Open(); // the same port again: only possible when the old handle was closed
    PtyPair other;
    ASSERT_TRUE(other.Valid());
    MapPort(6, other.Device());
    com.Open(6, 9600, 8, NOPARITY, ONESTOPBIT, &notes.queue, ZCSerialCom::FlowControlDtrRts);
    EXPECT_EQ(com.UsedPort(), 6u);
    EXPECT_EQ(com.IsValid(kPort), 1u);
    ASSERT_TRUE(other.Send("x"));
    ASSERT_TRUE(notes.WaitBeyond(0));
    EXPECT_EQ(Take(), "x");
    com.Close();
    EXPECT_EQ(com.UsedPort(), 6u);
}

struct DeviceCase
{
    unsigned char parity;
    unsigned char stop;
    DWORD baud;
    speed_t code;
    bool parodd;
};

TEST_F(SerialComTest, SpeedStopBitsAndParityReachTheDevice)
{
    const DeviceCase cases[] = {
        {ODDPARITY, TWOSTOPBITS, 19200, B19200, true},
        {EVENPARITY, ONESTOPBIT, 57600, B57600, false},
        {NOPARITY, ONESTOPBIT, 9600, B9600, false},
    };
    for (const DeviceCase& c : cases) {
        SCOPED_TRACE(c.baud);
        Open(c.parity, c.stop, c.baud);
        EXPECT_EQ(com.Dcb().fParity, c.parity != NOPARITY ? 1u : 0u);
        EXPECT_EQ(com.Dcb().fBinary, 1u);
        EXPECT_EQ(com.Dcb().DCBlength, 28u);
        termios t{};
        if (!DeviceSettings(t)) {
            GTEST_SKIP() << "the device cannot be opened beside the port";
        }
        EXPECT_EQ(cfgetospeed(&t), c.code);
        EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.stop == TWOSTOPBITS);
        EXPECT_EQ((t.c_cflag & PARODD) != 0, c.parodd);
        EXPECT_EQ((t.c_iflag & INPCK) != 0, c.parity != NOPARITY);
    }
}

TEST_F(SerialComTest, FlowControlSetsTheLinesAndRefusesUnknownModes)
{
    com.Open(kPort, 9600, 8, NOPARITY, ONESTOPBIT, &notes.queue, ZCSerialCom::FlowControlDtrRts);
    EXPECT_EQ(com.Dcb().fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
    EXPECT_EQ(com.Dcb().fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));
    EXPECT_EQ(com.FlowControlMode(), ZCSerialCom::FlowControlDtrRts);

    CaughtError error = CatchError([&] {
        com.Open(kPort, 9600, 8, NOPARITY, ONESTOPBIT, &notes.queue,
                 static_cast<ZCSerialCom::TFlowControl>(2));
    });
    ASSERT_TRUE(error.raised);
    EXPECT_EQ(error.catalog, 0);
    EXPECT_NE(error.text.find("File <tools/src/serialcom.cpp> invalid DEFAULT in CASE-STATEMENT "
                              "at line <1521>"),
              std::string::npos);
    EXPECT_EQ(com.Dcb().fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
    EXPECT_EQ(com.Dcb().fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));
    EXPECT_EQ(com.FlowControlMode(), ZCSerialCom::FlowControlDtrRts);
    com.Close(); // the handle that the failed Open left open
    EXPECT_EQ(com.IsValid(kPort), 1u);
}

TEST(SerialComTexts, EveryRaisedMessageHasAnEnglishText)
{
    const WORD catalog = SerialCatalog();
    ASSERT_NE(catalog, 0xFFFF);
    for (WORD message : {1, 2, 5, 7}) {
        const TString text = GetMessageW(catalog, message, TString(TEXT("3")), TString::NullString,
                                         TString::NullString);
        EXPECT_FALSE(text.IsEmpty()) << message;
        if (message != 1) {
            EXPECT_NE(text.Find(TEXT("3")), -1) << message;
        }
    }
}

// socat joins two pseudo-terminals: the port on one, the test's own descriptor
// on the other, with an outside program moving the bytes in between.
TEST(SerialComSocat, AnOutsidePeerTalksToThePort)
{
    SocatPair socat;
    if (!socat.Ready()) {
        GTEST_SKIP() << "socat is not available (scripts/deps.sh build installs it)";
    }
    MapPort(kPort, socat.A());
    Notifications notes;
    ZCSerialCom com;
    com.Open(kPort, 38400, 8, EVENPARITY, ONESTOPBIT, &notes.queue, ZCSerialCom::FlowControlNone);
    const int peer = ::open(socat.B().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(peer, 0);

    const std::string hello = "hello from outside";
    ASSERT_EQ(::write(peer, hello.data(), hello.size()), static_cast<ssize_t>(hello.size()));
    std::string received;
    TSaveMemory target(ZCSerialCom::ReceiveBufferSize);
    int seen = 0;
    while (received.size() < hello.size()) {
        ASSERT_TRUE(notes.WaitBeyond(seen));
        seen = notes.Count();
        const LONG n = com.Receive(target);
        received.append(reinterpret_cast<const char*>(target.Start()), static_cast<std::size_t>(n));
    }
    EXPECT_EQ(received, hello);

    const std::string answer = Pattern(100000, 11);
    std::string back;
    std::thread reader([&] {
        char buffer[8192];
        while (back.size() < answer.size()) {
            pollfd p{peer, POLLIN, 0};
            if (::poll(&p, 1, 20000) <= 0) {
                break;
            }
            const ssize_t n = ::read(peer, buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            back.append(buffer, static_cast<std::size_t>(n));
        }
    });
    EXPECT_EQ(com.Write(answer.data(), static_cast<DWORD>(answer.size()), 5000), answer.size());
    reader.join();
    EXPECT_TRUE(back == answer);
    com.Close();
    ::close(peer);
}

} // namespace
