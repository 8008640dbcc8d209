// The priority message queue: ZCMessageQueueRaw and the typed TMessageQueue<T>.
#include "testsupport.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using ZANTH::TMessageQueue;
using ZANTH::ZCEvent;
using ZANTH::ZCMessageQueueRaw;
using ZANTH::ZCMultiMessage;

namespace {

// Exposes the raw queue's protected interface, as a caller's typed queue does.
class RawQueue : public ZCMessageQueueRaw
{
public:
    explicit RawQueue(int capacity, const WCHAR* name = TEXT("raw"))
        : ZCMessageQueueRaw(capacity, name)
    {}
    using ZCMessageQueueRaw::Receive;
    using ZCMessageQueueRaw::Send;
};

void* Message(std::uintptr_t n)
{
    return reinterpret_cast<void*>(n);
}

std::uintptr_t Number(void* message)
{
    return reinterpret_cast<std::uintptr_t>(message);
}

// Receives everything waiting (without blocking) as (message, priority) pairs.
std::vector<std::pair<std::uintptr_t, int>> Drain(RawQueue& queue)
{
    std::vector<std::pair<std::uintptr_t, int>> out;
    while (!queue.IsEmpty()) {
        int priority = 0;
        void* message = queue.Receive(1, &priority);
        out.emplace_back(Number(message), priority);
    }
    return out;
}

UINT RefuseAll(const void*, void* context)
{
    ++*static_cast<int*>(context);
    return 0;
}

UINT AcceptAll(const void*, void* context)
{
    ++*static_cast<int*>(context);
    return 1;
}

UINT AcceptEven(const void* message, void*)
{
    return reinterpret_cast<std::uintptr_t>(message) % 2 == 0;
}

} // namespace

TEST(Queue, DescendingPriorityWithSendingOrderAmongEquals)
{
    // Each case sends (message, priority) pairs and expects the receiving order.
    struct Case
    {
        const char* what;
        std::vector<std::pair<int, int>> sent;
        std::vector<int> received;
    };
    const std::vector<Case> cases = {
        {"equal priorities keep sending order", {{1, 0}, {2, 0}, {3, 0}}, {1, 2, 3}},
        {"a later higher priority comes first", {{1, 0}, {2, 0}, {3, 5}}, {3, 1, 2}},
        {"lower ones go behind equals", {{1, 5}, {2, 1}, {3, 5}, {4, 1}}, {1, 3, 2, 4}},
        {"negative priorities", {{1, -1}, {2, -5}, {3, 0}, {4, -1}}, {3, 1, 4, 2}},
        {"insert in the middle", {{1, 9}, {2, 1}, {3, 1}, {4, 1}, {5, 5}}, {1, 5, 2, 3, 4}},
        {"insert near the front",
         {{1, 9}, {2, 9}, {3, 1}, {4, 1}, {5, 1}, {6, 9}},
         {1, 2, 6, 3, 4, 5}},
        {"extreme priorities", {{1, 0}, {2, INT_MIN}, {3, INT_MAX}}, {3, 1, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RawQueue queue(8);
        for (auto [message, priority] : c.sent) {
            ASSERT_EQ(queue.Send(Message(message), priority, 0), 1u);
        }
        std::vector<int> got;
        for (auto [message, priority] : Drain(queue)) {
            got.push_back(static_cast<int>(message));
        }
        EXPECT_EQ(got, c.received);
    }
}

TEST(Queue, OrderHoldsAcrossTheRingsWrapAround)
{
    // Random sends and receives move the first run around the ring of runs, so
    // that new runs (which move the runs on the shorter side of their place) cross
    // the end of the ring at every position; with many distinct priorities every
    // message may be a run of its own and the ring fills up. A plain list is the
    // model.
    for (auto [capacity, priorities] : {std::pair{1, 5},
                                        {2, 5},
                                        {3, 5},
                                        {5, 5},
                                        {8, 5},
                                        {13, 5},
                                        {64, 5},
                                        {5, 1000},
                                        {13, 1000},
                                        {64, 1000}}) {
        SCOPED_TRACE(testing::Message() << capacity << " " << priorities);
        RawQueue queue(capacity);
        std::mt19937 random(static_cast<unsigned>(capacity * priorities));
        std::vector<std::pair<int, int>> model; // (priority, sequence), in queue order
        int sequence = 0;
        for (int step = 0; step < 20000; ++step) {
            const bool full = static_cast<int>(model.size()) == capacity;
            const bool send = !full && (model.empty() || random() % 3 != 0);
            if (send) {
                const int priority = static_cast<int>(random() % priorities);
                ASSERT_EQ(queue.Send(Message(++sequence), priority, 0), 1u);
                auto place = std::find_if(model.begin(), model.end(),
                                          [&](const auto& e) { return e.first < priority; });
                model.insert(place, {priority, sequence});
            } else {
                int priority = 0;
                void* message = queue.Receive(1, &priority);
                ASSERT_EQ(static_cast<int>(Number(message)), model.front().second);
                ASSERT_EQ(priority, model.front().first);
                model.erase(model.begin());
            }
            ASSERT_EQ(queue.Count(), static_cast<int>(model.size()));
        }
    }
}

TEST(Queue, FullQueueWithoutWaitDropsAndMarksOverrun)
{
    testsupport::LogCapture log;
    RawQueue queue(2, TEXT("small"));
    EXPECT_EQ(queue.Send(Message(1), 0, 0), 1u);
    EXPECT_FALSE(queue.IsFull());
    EXPECT_EQ(queue.Send(Message(2), 0, 0), 1u);
    EXPECT_TRUE(queue.IsFull());
    EXPECT_FALSE(queue.IsOverrun());
    EXPECT_EQ(queue.Send(Message(3), 9, 0), 0u);
    EXPECT_TRUE(queue.IsOverrun());
    EXPECT_TRUE(log.Contains("small Send m_DidOverrun", 1));

    // Every later Receive reports the overrun: the flag is never cleared.
    EXPECT_EQ(Number(queue.Receive(1, nullptr)), 1u);
    EXPECT_EQ(Number(queue.Receive(1, nullptr)), 2u);
    EXPECT_EQ(log.Count("small Receive m_DidOverrun a"), 2u);
    EXPECT_EQ(log.Count("small Receive m_DidOverrun b"), 2u);
    EXPECT_TRUE(queue.IsOverrun());
    EXPECT_TRUE(queue.IsEmpty());
}

TEST(Queue, ReceiveWithoutRemoveLeavesTheHead)
{
    RawQueue queue(4);
    queue.Send(Message(1), 1, 0);
    queue.Send(Message(2), 7, 0);
    int priority = 0;
    EXPECT_EQ(Number(queue.Receive(0, &priority)), 2u);
    EXPECT_EQ(priority, 7);
    EXPECT_EQ(queue.Count(), 2);
    EXPECT_EQ(Number(queue.Receive(0, nullptr)), 2u);
    EXPECT_EQ(Number(queue.Receive(1, nullptr)), 2u);
    EXPECT_EQ(Number(queue.Receive(1, &priority)), 1u);
    EXPECT_EQ(priority, 1);
}

TEST(Queue, TheQueueIsItsOwnNotEmptyEvent)
{
    RawQueue queue(4);
    EXPECT_FALSE(queue.IsSet());
    queue.Send(Message(1), 0, 0);
    EXPECT_TRUE(queue.IsSet());
    queue.Send(Message(2), 0, 0);
    queue.Receive(1, nullptr);
    EXPECT_TRUE(queue.IsSet());
    queue.Receive(1, nullptr);
    EXPECT_FALSE(queue.IsSet());

    // A receiver waits on the queue together with a stop event.
    ZCMultiMessage stop;
    std::thread sender([&] {
        ::Sleep(10);
        queue.Send(Message(5), 0, 0);
    });
    EXPECT_EQ(ZCMultiMessage::WaitAny(&stop, &queue, 10000), 2);
    sender.join();
    EXPECT_EQ(Number(queue.Receive(1, nullptr)), 5u);
    stop.Set();
    EXPECT_EQ(ZCMultiMessage::WaitAny(&stop, &queue, 0), 1);
}

TEST(Queue, EventSetFromOutsideOnAnEmptyQueueDoesNotFoolReceive)
{
    // The queue is a public event: somebody may set it although nothing waits.
    // Receive must then wait for a real message, and the event is put right.
    RawQueue queue(4);
    queue.Set();
    std::atomic<std::uintptr_t> got{0};
    std::thread receiver([&] { got = Number(queue.Receive(1, nullptr)); });
    ::Sleep(20);
    EXPECT_EQ(got.load(), 0u);
    queue.Send(Message(9), 0, 0);
    receiver.join();
    EXPECT_EQ(got.load(), 9u);
    EXPECT_FALSE(queue.IsSet());
}

TEST(Queue, FiltersRunInOrderAndStopAtTheFirstRefusal)
{
    RawQueue queue(4);
    int accepted = 0;
    int refused = 0;
    int after = 0;
    EXPECT_EQ(queue.DoFilter(Message(1)), 1u); // no filters: accepted
    EXPECT_EQ(queue.AddFilter(AcceptAll, &accepted), 1);
    EXPECT_EQ(queue.AddFilter(RefuseAll, &refused), 2);
    EXPECT_EQ(queue.AddFilter(AcceptAll, &after), 3);
    EXPECT_EQ(queue.DoFilter(Message(1)), 0u);
    EXPECT_EQ(accepted, 1);
    EXPECT_EQ(refused, 1);
    EXPECT_EQ(after, 0);

    testsupport::LogCapture log;
    EXPECT_EQ(queue.Send(Message(2), 0, 1), 0u); // refused silently
    EXPECT_TRUE(queue.IsEmpty());
    EXPECT_FALSE(queue.IsSet());
    EXPECT_FALSE(queue.IsOverrun());
    EXPECT_TRUE(log.Lines().empty());
}

TEST(Queue, FilterChoosesMessages)
{
    RawQueue queue(8);
    queue.AddFilter(AcceptEven, nullptr);
    for (int i = 1; i <= 6; ++i) {
        EXPECT_EQ(queue.Send(Message(i), 0, 0), i % 2 == 0 ? 1u : 0u);
    }
    std::vector<std::uintptr_t> got;
    for (auto [message, priority] : Drain(queue)) {
        got.push_back(message);
    }
    EXPECT_EQ(got, (std::vector<std::uintptr_t>{2, 4, 6}));
}

TEST(Queue, NamesAndLogStrings)
{
    RawQueue named(2, TEXT("events"));
    EXPECT_EQ(named.LogString(TEXT("Send"), TEXT("text")), TString(TEXT("events Send text")));

    RawQueue unnamed(2, nullptr);
    char expected[64];
    std::snprintf(expected, sizeof expected, "noname at:0x%08llX",
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(&unnamed)));
    EXPECT_EQ(TString(unnamed.Name()).AsAnsi(), expected);
    EXPECT_EQ(unnamed.LogString(TEXT("f"), TEXT("t")).AsAnsi(), std::string(expected) + " f t");
}

TEST(Queue, LongNamesAreCutAndTerminated)
{
    for (std::size_t length : {31u, 32u, 33u, 500u}) {
        SCOPED_TRACE(length);
        std::basic_string<WCHAR> name(length, TEXT('q'));
        RawQueue queue(2, name.c_str());
        const std::size_t kept = std::min<std::size_t>(length, 32);
        EXPECT_EQ(std::basic_string<WCHAR>(queue.Name()), name.substr(0, kept));
        EXPECT_EQ(queue.LogString(TEXT("f"), TEXT("t")).GetLength(), static_cast<LONG>(kept + 4));
    }
}

TEST(Queue, QueueWithoutRingRefusesInsteadOfTouchingIt)
{
    // Capacities whose ring cannot exist: the constructor logs, Send returns 0 and
    // Receive raises an error instead of reading a missing ring.
    for (int capacity : {0, -1, INT_MAX}) {
        SCOPED_TRACE(capacity);
        testsupport::LogCapture log;
        RawQueue queue(capacity, TEXT("ringless"));
        EXPECT_TRUE(log.Contains("ringless ZCMessageQueueRaw m_pMessageStack==NULL", 1));
        EXPECT_EQ(queue.Send(Message(1), 0, 0), 0u);
        EXPECT_EQ(queue.Send(Message(1), 0, 1), 0u); // does not wait for room
        auto caught = testsupport::CatchError([&] { queue.Receive(1, nullptr); });
        EXPECT_TRUE(caught.raised);
        EXPECT_EQ(caught.catalog, 0);
        EXPECT_NE(caught.text.find("ringless"), std::string::npos);
    }
}

TEST(Queue, WaitingSenderResumesWhenThereIsRoom)
{
    RawQueue queue(1);
    ASSERT_EQ(queue.Send(Message(1), 0, 1), 1u);
    std::atomic<bool> sent{false};
    std::thread sender([&] {
        EXPECT_EQ(queue.Send(Message(2), 0, 1), 1u);
        sent = true;
    });
    ::Sleep(20);
    EXPECT_FALSE(sent.load()); // still blocked: the queue is full
    EXPECT_EQ(Number(queue.Receive(1, nullptr)), 1u);
    EXPECT_EQ(Number(queue.Receive(1, nullptr)), 2u);
    sender.join();
    EXPECT_TRUE(sent.load());
    EXPECT_FALSE(queue.IsOverrun());
}

TEST(Queue, SeveralReceiversNeverShareOrInventAMessage)
{
    // Receivers that wake on the same message: exactly one gets it, the others
    // wait again instead of reading an empty ring.
    RawQueue queue(4);
    constexpr int kReceivers = 4;
    constexpr int kMessages = 2000;
    std::vector<std::atomic<int>> seen(kMessages + 1);
    std::vector<std::thread> receivers;
    for (int r = 0; r < kReceivers; ++r) {
        receivers.emplace_back([&] {
            for (;;) {
                const std::uintptr_t n = Number(queue.Receive(1, nullptr));
                if (n == 0) {
                    return;
                }
                ++seen[n];
            }
        });
    }
    for (int i = 1; i <= kMessages; ++i) {
        ASSERT_EQ(queue.Send(Message(i), 0, 1), 1u);
        if (i % 64 == 0) {
            ::Sleep(0); // let the receivers drain to empty now and then
        }
    }
    for (int r = 0; r < kReceivers; ++r) {
        queue.Send(Message(0), INT_MIN, 1); // one end mark per receiver
    }
    for (auto& t : receivers) {
        t.join();
    }
    for (int i = 1; i <= kMessages; ++i) {
        ASSERT_EQ(seen[i].load(), 1) << i;
    }
    EXPECT_TRUE(queue.IsEmpty());
}

TEST(Queue, DestructionDropsWaitingMessagesAndClosesEverything)
{
    const DWORD handles = ZanthOpenHandleCount();
    {
        RawQueue queue(8);
        int context = 0;
        queue.AddFilter(AcceptAll, &context);
        queue.AddFilter(AcceptAll, &context);
        queue.Send(Message(1), 0, 0);
        queue.Send(Message(2), 0, 0);
        EXPECT_EQ(ZanthOpenHandleCount(), handles + 3); // event, mutex, not-full
    }
    EXPECT_EQ(ZanthOpenHandleCount(), handles);
}

TEST(Queue, TypedQueueNeedsNoCasts)
{
    struct Job
    {
        int id;
    };
    TMessageQueue<Job> queue(4, TEXT("jobs"));
    Job low{1};
    Job high{2};
    EXPECT_EQ(queue.Send(&low), 1u);
    EXPECT_EQ(queue.Send(&high, 10), 1u);
    int priority = 0;
    Job* first = queue.Receive(1, &priority);
    EXPECT_EQ(first, &high);
    EXPECT_EQ(priority, 10);
    EXPECT_EQ(queue.Receive(0)->id, 1);
    EXPECT_EQ(queue.Receive()->id, 1);
    EXPECT_TRUE(queue.IsEmpty());
}

// Four producers and two consumers pass a million messages of random priorities
// through a queue of 64 with waiting senders. Every message must arrive exactly
// once, and each consumer must see one producer's messages of one priority in the
// order they were sent.
TEST(Queue, ProducersAndConsumersLoseNothingAndKeepOrder)
{
    constexpr int kTotal = 1000000;
    constexpr int kProducers = 4;
    constexpr int kConsumers = 2;
    constexpr int kPriorities = 8;
    constexpr int kPerProducer = kTotal / kProducers;

    // A message is its number: producer, sequence within the producer, priority.
    auto encode = [](std::uintptr_t producer, std::uintptr_t sequence, std::uintptr_t priority) {
        return Message(((producer * kPerProducer + sequence) << 4 | priority) + 1);
    };

    TMessageQueue<void> queue(64, TEXT("stress"));
    std::vector<std::atomic<std::uint8_t>> arrived(kTotal);
    std::atomic<bool> orderBroken{false};
    std::atomic<bool> priorityMismatch{false};

    std::vector<std::thread> consumers;
    for (int c = 0; c < kConsumers; ++c) {
        consumers.emplace_back([&] {
            // Last sequence seen per producer and priority.
            std::vector<long> last(kProducers * kPriorities, -1);
            for (;;) {
                int priority = 0;
                void* message = queue.Receive(1, &priority);
                if (message == nullptr) {
                    return;
                }
                const std::uintptr_t value = Number(message) - 1;
                const int messagePriority = static_cast<int>(value & 15);
                const std::uintptr_t index = value >> 4;
                const int producer = static_cast<int>(index / kPerProducer);
                const long sequence = static_cast<long>(index % kPerProducer);
                if (messagePriority != priority) {
                    priorityMismatch = true;
                }
                long& previous = last[producer * kPriorities + messagePriority];
                if (sequence <= previous) {
                    orderBroken = true;
                }
                previous = sequence;
                arrived[index].fetch_add(1, std::memory_order_relaxed);
            }
        });
    }
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([&, p] {
            std::mt19937 random(1234 + p);
            for (int s = 0; s < kPerProducer; ++s) {
                const int priority = static_cast<int>(random() % kPriorities);
                if (!queue.Send(encode(p, s, priority), priority, 1)) {
                    ADD_FAILURE() << "a waiting Send was refused";
                    return;
                }
            }
        });
    }
    for (auto& t : producers) {
        t.join();
    }
    // End marks of the lowest priority come out after every real message.
    for (int c = 0; c < kConsumers; ++c) {
        queue.Send(nullptr, -1, 1);
    }
    for (auto& t : consumers) {
        t.join();
    }

    int missing = 0;
    int duplicated = 0;
    for (int i = 0; i < kTotal; ++i) {
        const int n = arrived[i].load();
        missing += n == 0;
        duplicated += n > 1;
    }
    EXPECT_EQ(missing, 0);
    EXPECT_EQ(duplicated, 0);
    EXPECT_FALSE(orderBroken.load());
    EXPECT_FALSE(priorityMismatch.load());
    EXPECT_FALSE(queue.IsOverrun());
    EXPECT_TRUE(queue.IsEmpty());
}
