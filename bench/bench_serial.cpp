// The serial family against its peers, on one pseudo-terminal pair, in one run:
// - 64 MiB written by the peer (the pty master, a plain write loop) and taken in
//   through ZCSerialCom's reader thread and Receive, against a plain termios
//   poll/read loop and libserialport's sp_blocking_read_next on the same device;
// - 64 MiB sent with ZCSerialCom::Write against plain write() and
//   sp_blocking_write, the master drained by a thread;
// - the latency from the peer's write of one byte to ZCSerialCom's notification
//   callback, against the wake-up of a poll() on the device (median and p99 as
//   counters, in microseconds).
#include <zanth/tools.h>

#include <zanth/win32/zanthext.h>

#include <benchmark/benchmark.h>

#if __has_include(<libserialport.h>)
#include <libserialport.h>
#define ZANTH_HAVE_LIBSERIALPORT 1
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using ZANTH::ZCSerialCom;

constexpr std::size_t kBytes = 64u << 20;
constexpr std::size_t kChunk = 4096;
constexpr DWORD kPort = 200;

struct Pty
{
    int master = -1;
    std::string device;
    Pty()
    {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ::grantpt(master);
        ::unlockpt(master);
        char name[128];
        ::ptsname_r(master, name, sizeof name);
        device = name;
        static bool once = [] {
            ::setenv(ZANTH_COMM_DIR_ENV,
                     ("/tmp/zanth-bench-ports-" + std::to_string(::getpid())).c_str(), 1);
            return true;
        }();
        (void)once;
        const std::basic_string<WCHAR> wide(device.begin(), device.end());
        ZanthMapCommPort(kPort, wide.c_str());
    }
    ~Pty() { ::close(master); }
};

// Writes kBytes into the master in kChunk pieces.
void Produce(int fd)
{
    std::vector<char> chunk(kChunk, 'x');
    std::size_t left = kBytes;
    while (left > 0) {
        const ssize_t n = ::write(fd, chunk.data(), std::min(left, kChunk));
        if (n <= 0) {
            return;
        }
        left -= static_cast<std::size_t>(n);
    }
}

// Reads kBytes from the master.
void Drain(int fd)
{
    std::vector<char> buffer(65536);
    std::size_t left = kBytes;
    while (left > 0) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n <= 0) {
            return;
        }
        left -= std::min(left, static_cast<std::size_t>(n));
    }
}

void MakeRaw(int fd)
{
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    ::cfsetspeed(&t, B115200);
    ::tcsetattr(fd, TCSANOW, &t);
}

// The consumer of the notifications: takes every burst with Receive.
struct Consumer
{
    ZCSerialCom com;
    CMessageQueue queue;
    TSaveMemory target{ZCSerialCom::ReceiveBufferSize};
    std::mutex lock;
    std::condition_variable done;
    std::size_t received = 0;
    std::size_t goal = 0;
    std::chrono::steady_clock::time_point notified;
    std::atomic<int> notes{0};

    Consumer() { queue.Add(&Consumer::Notified, this); }
    ~Consumer() noexcept {}

    static void Notified(DWORD, void*, void* context)
    {
        auto* self = static_cast<Consumer*>(context);
        const LONG n = self->com.Receive(self->target);
        std::lock_guard<std::mutex> guard(self->lock);
        self->notified = std::chrono::steady_clock::now();
        self->received += static_cast<std::size_t>(n);
        self->notes.fetch_add(1, std::memory_order_relaxed);
        if (self->received >= self->goal) {
            self->done.notify_all();
        }
    }
};

void BM_Receive_ZCSerialCom(benchmark::State& state)
{
    Pty pty;
    Consumer consumer;
    consumer.com.Open(kPort, 115200, 8, NOPARITY, ONESTOPBIT, &consumer.queue,
                      ZCSerialCom::FlowControlNone);
    for (auto _ : state) {
        {
            std::lock_guard<std::mutex> guard(consumer.lock);
            consumer.received = 0;
            consumer.goal = kBytes;
        }
        std::thread producer([&] { Produce(pty.master); });
        std::unique_lock<std::mutex> lock(consumer.lock);
        consumer.done.wait(lock, [&] { return consumer.received >= kBytes; });
        lock.unlock();
        producer.join();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytes));
    state.counters["bytes_per_burst"] =
        static_cast<double>(state.iterations() * kBytes) / std::max(1, consumer.notes.load());
    consumer.com.Close();
}
BENCHMARK(BM_Receive_ZCSerialCom)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Receive_TermiosLoop(benchmark::State& state)
{
    Pty pty;
    const int fd = ::open(pty.device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    MakeRaw(fd);
    std::vector<char> buffer(kChunk);
    for (auto _ : state) {
        std::thread producer([&] { Produce(pty.master); });
        std::size_t received = 0;
        while (received < kBytes) {
            pollfd p{fd, POLLIN, 0};
            ::poll(&p, 1, -1);
            const ssize_t n = ::read(fd, buffer.data(), buffer.size());
            if (n > 0) {
                received += static_cast<std::size_t>(n);
            }
        }
        producer.join();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytes));
    ::close(fd);
}
BENCHMARK(BM_Receive_TermiosLoop)->Unit(benchmark::kMillisecond)->UseRealTime();

#if defined(ZANTH_HAVE_LIBSERIALPORT)
sp_port* OpenSp(const std::string& device)
{
    sp_port* port = nullptr;
    if (sp_get_port_by_name(device.c_str(), &port) != SP_OK ||
        sp_open(port, SP_MODE_READ_WRITE) != SP_OK) {
        return nullptr;
    }
    sp_set_baudrate(port, 115200);
    sp_set_bits(port, 8);
    sp_set_parity(port, SP_PARITY_NONE);
    sp_set_stopbits(port, 1);
    sp_set_flowcontrol(port, SP_FLOWCONTROL_NONE);
    return port;
}

void BM_Receive_libserialport(benchmark::State& state)
{
    Pty pty;
    sp_port* port = OpenSp(pty.device);
    if (!port) {
        state.SkipWithError("libserialport cannot open the pseudo-terminal");
        return;
    }
    std::vector<char> buffer(kChunk);
    for (auto _ : state) {
        std::thread producer([&] { Produce(pty.master); });
        std::size_t received = 0;
        while (received < kBytes) {
            const int n = sp_blocking_read_next(port, buffer.data(), buffer.size(), 0);
            if (n > 0) {
                received += static_cast<std::size_t>(n);
            }
        }
        producer.join();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytes));
    sp_close(port);
    sp_free_port(port);
}
BENCHMARK(BM_Receive_libserialport)->Unit(benchmark::kMillisecond)->UseRealTime();
#endif

void BM_Write_ZCSerialCom(benchmark::State& state)
{
    Pty pty;
    Consumer consumer;
    consumer.com.Open(kPort, 115200, 8, NOPARITY, ONESTOPBIT, &consumer.queue,
                      ZCSerialCom::FlowControlNone);
    std::vector<char> chunk(kChunk, 'y');
    for (auto _ : state) {
        std::thread drain([&] { Drain(pty.master); });
        for (std::size_t sent = 0; sent < kBytes; sent += kChunk) {
            consumer.com.Write(chunk.data(), kChunk, 5000);
        }
        drain.join();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytes));
    consumer.com.Close();
}
BENCHMARK(BM_Write_ZCSerialCom)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Write_TermiosLoop(benchmark::State& state)
{
    Pty pty;
    const int fd = ::open(pty.device.c_str(), O_RDWR | O_NOCTTY);
    MakeRaw(fd);
    std::vector<char> chunk(kChunk, 'y');
    for (auto _ : state) {
        std::thread drain([&] { Drain(pty.master); });
        for (std::size_t sent = 0; sent < kBytes;) {
            const ssize_t n = ::write(fd, chunk.data(), kChunk);
            if (n > 0) {
                sent += static_cast<std::size_t>(n);
            }
        }
        drain.join();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytes));
    ::close(fd);
}
BENCHMARK(BM_Write_TermiosLoop)->Unit(benchmark::kMillisecond)->UseRealTime();

#if defined(ZANTH_HAVE_LIBSERIALPORT)
void BM_Write_libserialport(benchmark::State& state)
{
    Pty pty;
    sp_port* port = OpenSp(pty.device);
    if (!port) {
        state.SkipWithError("libserialport cannot open the pseudo-terminal");
        return;
    }
    std::vector<char> chunk(kChunk, 'y');
    for (auto _ : state) {
        std::thread drain([&] { Drain(pty.master); });
        for (std::size_t sent = 0; sent < kBytes;) {
            const int n = sp_blocking_write(port, chunk.data(), kChunk, 0);
            if (n > 0) {
                sent += static_cast<std::size_t>(n);
            }
        }
        drain.join();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytes));
    sp_close(port);
    sp_free_port(port);
}
BENCHMARK(BM_Write_libserialport)->Unit(benchmark::kMillisecond)->UseRealTime();
#endif

// Median and p99 of a set of latencies, as counters in microseconds.
void ReportLatencies(benchmark::State& state, std::vector<double>& us)
{
    if (us.empty()) {
        return;
    }
    std::sort(us.begin(), us.end());
    state.counters["median_us"] = us[us.size() / 2];
    state.counters["p99_us"] = us[std::min(us.size() - 1, us.size() * 99 / 100)];
}

void BM_Latency_ZCSerialCom(benchmark::State& state)
{
    Pty pty;
    Consumer consumer;
    consumer.com.Open(kPort, 115200, 8, NOPARITY, ONESTOPBIT, &consumer.queue,
                      ZCSerialCom::FlowControlNone);
    std::vector<double> us;
    for (auto _ : state) {
        const int before = consumer.notes.load();
        const auto start = std::chrono::steady_clock::now();
        ::write(pty.master, "z", 1);
        while (consumer.notes.load() == before) {
            std::this_thread::yield();
        }
        std::lock_guard<std::mutex> guard(consumer.lock);
        us.push_back(std::chrono::duration<double, std::micro>(consumer.notified - start).count());
    }
    ReportLatencies(state, us);
    consumer.com.Close();
}
BENCHMARK(BM_Latency_ZCSerialCom)->Iterations(5000)->UseRealTime();

void BM_Latency_PollRead(benchmark::State& state)
{
    Pty pty;
    const int fd = ::open(pty.device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    MakeRaw(fd);
    std::atomic<int> reads{0};
    std::atomic<bool> stop{false};
    std::chrono::steady_clock::time_point woke;
    std::mutex lock;
    std::thread reader([&] {
        char c;
        while (!stop.load()) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 50) > 0 && ::read(fd, &c, 1) == 1) {
                std::lock_guard<std::mutex> guard(lock);
                woke = std::chrono::steady_clock::now();
                reads.fetch_add(1);
            }
        }
    });
    std::vector<double> us;
    for (auto _ : state) {
        const int before = reads.load();
        const auto start = std::chrono::steady_clock::now();
        ::write(pty.master, "z", 1);
        while (reads.load() == before) {
            std::this_thread::yield();
        }
        std::lock_guard<std::mutex> guard(lock);
        us.push_back(std::chrono::duration<double, std::micro>(woke - start).count());
    }
    stop = true;
    reader.join();
    ReportLatencies(state, us);
    ::close(fd);
}
BENCHMARK(BM_Latency_PollRead)->Iterations(5000)->UseRealTime();

} // namespace
