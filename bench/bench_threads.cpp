// The threads family against its peers, in one program and run:
// - the priority queue (ZCMessageQueueRaw through TMessageQueue) against POCO's
//   PriorityNotificationQueue, a std::mutex + std::condition_variable + stable
//   priority queue baseline, and moodycamel's BlockingConcurrentQueue (no
//   priorities: an upper bound), passing 1,000,000 pointers of mixed priorities
//   through a capacity of 1024 with one producer and with four;
// - the event round trip between two threads (two auto-reset events, SetEvent and
//   WaitForSingleObject) against a condition-variable round trip;
// - WaitAny over 8 events with the last one signalled, in one thread and woken
//   from another, against a condition variable over 8 flags.
#include <zanth/tools.h>

#include <benchmark/benchmark.h>

#if __has_include(<concurrentqueue/blockingconcurrentqueue.h>)
#include <concurrentqueue/blockingconcurrentqueue.h>
#define ZANTH_HAVE_MOODYCAMEL 1
#endif

#if defined(ZANTH_HAVE_POCO)
#include <Poco/Notification.h>
#include <Poco/PriorityNotificationQueue.h>
#endif

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <queue>
#include <random>
#include <thread>
#include <vector>

namespace {

constexpr int kMessages = 1000000;
constexpr int kCapacity = 1024;
constexpr int kPriorities = 8;

// The priorities of the messages, the same for every queue.
const std::vector<int>& Priorities()
{
    static const std::vector<int> priorities = [] {
        std::vector<int> p(kMessages);
        std::mt19937 random(42);
        for (int& value : p) {
            value = static_cast<int>(random() % kPriorities);
        }
        return p;
    }();
    return priorities;
}

void* Pointer(int i)
{
    return reinterpret_cast<void*>(static_cast<std::uintptr_t>(i) + 1);
}

// Runs `producers` threads that send their share of the messages while the calling
// thread receives all of them; one benchmark iteration is one whole transfer.
template <class Queue> void RunTransfer(benchmark::State& state, int producers)
{
    const std::vector<int>& priorities = Priorities();
    for (auto _ : state) {
        Queue queue;
        std::vector<std::thread> threads;
        const int share = kMessages / producers;
        for (int p = 0; p < producers; ++p) {
            threads.emplace_back([&, p] {
                for (int i = p * share; i < (p + 1) * share; ++i) {
                    queue.Send(Pointer(i), priorities[i]);
                }
            });
        }
        std::uintptr_t checksum = 0;
        for (int i = 0; i < share * producers; ++i) {
            checksum += reinterpret_cast<std::uintptr_t>(queue.Receive());
        }
        for (auto& t : threads) {
            t.join();
        }
        benchmark::DoNotOptimize(checksum);
    }
    state.SetItemsProcessed(state.iterations() * kMessages);
}

// --- the queues, behind one small interface ----------------------------------------

struct OurQueue
{
    ZANTH::TMessageQueue<void> queue{kCapacity, TEXT("bench")};
    void Send(void* message, int priority) { queue.Send(message, priority, 1); }
    void* Receive() { return queue.Receive(); }
};

// Bounded, stable by priority: a heap keyed by (priority, sending sequence).
struct StdQueue
{
    struct Entry
    {
        int priority;
        std::uint64_t sequence;
        void* message;
        bool operator<(const Entry& other) const
        {
            if (priority != other.priority) {
                return priority < other.priority;
            }
            return sequence > other.sequence;
        }
    };
    std::mutex lock;
    std::condition_variable notEmpty;
    std::condition_variable notFull;
    std::priority_queue<Entry> heap;
    std::uint64_t sequence = 0;

    StdQueue()
    {
        std::vector<Entry> storage;
        storage.reserve(kCapacity);
        heap = std::priority_queue<Entry>(std::less<Entry>(), std::move(storage));
    }
    void Send(void* message, int priority)
    {
        std::unique_lock<std::mutex> guard(lock);
        notFull.wait(guard, [&] { return heap.size() < static_cast<std::size_t>(kCapacity); });
        heap.push(Entry{priority, sequence++, message});
        if (heap.size() == 1) {
            notEmpty.notify_all();
        }
    }
    void* Receive()
    {
        std::unique_lock<std::mutex> guard(lock);
        notEmpty.wait(guard, [&] { return !heap.empty(); });
        void* message = heap.top().message;
        heap.pop();
        if (heap.size() == static_cast<std::size_t>(kCapacity) - 1) {
            notFull.notify_all();
        }
        return message;
    }
};

#if defined(ZANTH_HAVE_POCO)
// POCO's queue is unbounded and carries reference-counted notification objects;
// lower numbers come first, so the priority is negated.
class PointerNotification : public Poco::Notification
{
public:
    explicit PointerNotification(void* message) : m_Message(message) {}
    void* Message() const { return m_Message; }

private:
    void* m_Message;
};

struct PocoQueue
{
    Poco::PriorityNotificationQueue queue;
    void Send(void* message, int priority)
    {
        queue.enqueueNotification(new PointerNotification(message), -priority);
    }
    void* Receive()
    {
        Poco::Notification::Ptr notification = queue.waitDequeueNotification();
        return static_cast<PointerNotification*>(notification.get())->Message();
    }
};
#endif

#if defined(ZANTH_HAVE_MOODYCAMEL)
// No priorities and no bound: what a lock-free queue costs, as an upper bound.
struct MoodycamelQueue
{
    moodycamel::BlockingConcurrentQueue<void*> queue{kCapacity};
    void Send(void* message, int) { queue.enqueue(message); }
    void* Receive()
    {
        void* message = nullptr;
        queue.wait_dequeue(message);
        return message;
    }
};
#endif

void BM_Queue_Zanth(benchmark::State& state)
{
    RunTransfer<OurQueue>(state, static_cast<int>(state.range(0)));
}
void BM_Queue_StdMutexCondvar(benchmark::State& state)
{
    RunTransfer<StdQueue>(state, static_cast<int>(state.range(0)));
}
#if defined(ZANTH_HAVE_POCO)
void BM_Queue_PocoPriorityNotificationQueue(benchmark::State& state)
{
    RunTransfer<PocoQueue>(state, static_cast<int>(state.range(0)));
}
#endif
#if defined(ZANTH_HAVE_MOODYCAMEL)
void BM_Queue_MoodycamelBlocking(benchmark::State& state)
{
    RunTransfer<MoodycamelQueue>(state, static_cast<int>(state.range(0)));
}
#endif

#define ZANTH_QUEUE_BENCH(name)                                                                    \
    BENCHMARK(name)                                                                                \
        ->ArgName("producers")                                                                     \
        ->Arg(1)                                                                                   \
        ->Arg(4)                                                                                   \
        ->Unit(benchmark::kMillisecond)                                                            \
        ->UseRealTime()

ZANTH_QUEUE_BENCH(BM_Queue_Zanth);
ZANTH_QUEUE_BENCH(BM_Queue_StdMutexCondvar);
#if defined(ZANTH_HAVE_POCO)
ZANTH_QUEUE_BENCH(BM_Queue_PocoPriorityNotificationQueue);
#endif
#if defined(ZANTH_HAVE_MOODYCAMEL)
ZANTH_QUEUE_BENCH(BM_Queue_MoodycamelBlocking);
#endif

// --- event round trips ---------------------------------------------------------------

// One iteration is one round trip: ping is set, the partner wakes and sets pong.
void BM_PingPong_Events(benchmark::State& state)
{
    HANDLE ping = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE pong = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::atomic<bool> done{false};
    std::thread partner([&] {
        for (;;) {
            ::WaitForSingleObject(ping, INFINITE);
            if (done.load(std::memory_order_relaxed)) {
                return;
            }
            ::SetEvent(pong);
        }
    });
    for (auto _ : state) {
        ::SetEvent(ping);
        ::WaitForSingleObject(pong, INFINITE);
    }
    done = true;
    ::SetEvent(ping);
    partner.join();
    ::CloseHandle(ping);
    ::CloseHandle(pong);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PingPong_Events)->UseRealTime();

void BM_PingPong_StdCondvar(benchmark::State& state)
{
    std::mutex lock;
    std::condition_variable ping;
    std::condition_variable pong;
    bool pinged = false;
    bool ponged = false;
    bool done = false;
    std::thread partner([&] {
        std::unique_lock<std::mutex> guard(lock);
        for (;;) {
            ping.wait(guard, [&] { return pinged || done; });
            if (done) {
                return;
            }
            pinged = false;
            ponged = true;
            pong.notify_one();
        }
    });
    for (auto _ : state) {
        std::unique_lock<std::mutex> guard(lock);
        pinged = true;
        ping.notify_one();
        pong.wait(guard, [&] { return ponged; });
        ponged = false;
    }
    {
        std::lock_guard<std::mutex> guard(lock);
        done = true;
        ping.notify_one();
    }
    partner.join();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PingPong_StdCondvar)->UseRealTime();

// --- WaitAny over eight events -------------------------------------------------------

struct EightEvents
{
    std::array<std::unique_ptr<ZANTH::ZCMultiMessage>, 8> e;
    EightEvents()
    {
        for (auto& event : e) {
            event = std::make_unique<ZANTH::ZCMultiMessage>(0, 0, nullptr);
        }
    }
    int WaitAny()
    {
        return ZANTH::ZCMultiMessage::WaitAny(e[0].get(), e[1].get(), e[2].get(), e[3].get(),
                                              e[4].get(), e[5].get(), e[6].get(), e[7].get(),
                                              INFINITE);
    }
};

// Eight flags under one mutex: the condition-variable way to wait for any of them.
struct EightFlags
{
    std::mutex lock;
    std::condition_variable changed;
    std::array<bool, 8> flags{};
    void Set(int i)
    {
        std::lock_guard<std::mutex> guard(lock);
        flags[i] = true;
        changed.notify_all();
    }
    int WaitAny()
    {
        std::unique_lock<std::mutex> guard(lock);
        for (;;) {
            for (int i = 0; i < 8; ++i) {
                if (flags[i]) {
                    flags[i] = false;
                    return i + 1;
                }
            }
            changed.wait(guard);
        }
    }
};

// The last event is already set when the wait begins.
void BM_WaitAny8_Signalled_Events(benchmark::State& state)
{
    EightEvents events;
    for (auto _ : state) {
        events.e[7]->Set();
        benchmark::DoNotOptimize(events.WaitAny());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WaitAny8_Signalled_Events);

void BM_WaitAny8_Signalled_StdCondvar(benchmark::State& state)
{
    EightFlags flags;
    for (auto _ : state) {
        flags.Set(7);
        benchmark::DoNotOptimize(flags.WaitAny());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WaitAny8_Signalled_StdCondvar);

// The waiter sleeps until a partner thread sets the last event (a round trip: the
// partner waits on a single event for its turn).
void BM_WaitAny8_Woken_Events(benchmark::State& state)
{
    EightEvents events;
    ZANTH::ZCMultiMessage turn(0, 0, nullptr);
    std::atomic<bool> done{false};
    std::thread partner([&] {
        for (;;) {
            turn.Wait(INFINITE);
            if (done.load(std::memory_order_relaxed)) {
                return;
            }
            events.e[7]->Set();
        }
    });
    for (auto _ : state) {
        turn.Set();
        benchmark::DoNotOptimize(events.WaitAny());
    }
    done = true;
    turn.Set();
    partner.join();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WaitAny8_Woken_Events)->UseRealTime();

void BM_WaitAny8_Woken_StdCondvar(benchmark::State& state)
{
    EightFlags flags;
    EightFlags turn;
    std::atomic<bool> done{false};
    std::thread partner([&] {
        for (;;) {
            turn.WaitAny();
            if (done.load(std::memory_order_relaxed)) {
                return;
            }
            flags.Set(7);
        }
    });
    for (auto _ : state) {
        turn.Set(0);
        benchmark::DoNotOptimize(flags.WaitAny());
    }
    done = true;
    turn.Set(0);
    partner.join();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WaitAny8_Woken_StdCondvar)->UseRealTime();

} // namespace

// --- the cost of one uncontended operation, which bounds every queue operation ------

void BM_Uncontended_MutexLockUnlock_Zanth(benchmark::State& state)
{
    ZANTH::ZCMutex mutex;
    for (auto _ : state) {
        mutex.Lock(INFINITE);
        mutex.Unlock();
    }
}
BENCHMARK(BM_Uncontended_MutexLockUnlock_Zanth);

void BM_Uncontended_MutexLockUnlock_Std(benchmark::State& state)
{
    std::mutex mutex;
    for (auto _ : state) {
        mutex.lock();
        mutex.unlock();
    }
}
BENCHMARK(BM_Uncontended_MutexLockUnlock_Std);

void BM_Uncontended_WaitOnSetEvent_Zanth(benchmark::State& state)
{
    ZANTH::ZCMultiMessage event(1, 1, nullptr);
    for (auto _ : state) {
        benchmark::DoNotOptimize(::WaitForSingleObject(event.Handle(), INFINITE));
    }
}
BENCHMARK(BM_Uncontended_WaitOnSetEvent_Zanth);

// Two threads taking turns on one mutex: every operation crosses between the cores.
ZANTH::ZCMutex& SharedZanthMutex()
{
    static ZANTH::ZCMutex* mutex = new ZANTH::ZCMutex;
    return *mutex;
}

void BM_Contended_MutexLockUnlock_Zanth(benchmark::State& state)
{
    ZANTH::ZCMutex& mutex = SharedZanthMutex();
    for (auto _ : state) {
        mutex.Lock(INFINITE);
        mutex.Unlock();
    }
}
BENCHMARK(BM_Contended_MutexLockUnlock_Zanth)->Threads(2)->UseRealTime();

void BM_Contended_MutexLockUnlock_Std(benchmark::State& state)
{
    static std::mutex mutex;
    for (auto _ : state) {
        mutex.lock();
        mutex.unlock();
    }
}
BENCHMARK(BM_Contended_MutexLockUnlock_Std)->Threads(2)->UseRealTime();
