// The threads family's part of ztools: two workers exchanging prioritised messages
// over typed queues and stopped through their stop events, and a queue throughput
// run timed with TTimer.
#include "commands.h"

#include <zanth/win32/zanthext.h>

#include <iostream>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace ztools {
namespace {

using ZANTH::TMessageQueue;
using ZANTH::ZCMultiMessage;
using ZANTH::ZCThread;
using ZANTH::ZCThreadBase;

struct Note
{
    std::string text;
    int priority;
};

// What the two workers share: their queues, a transcript and the moment when the
// first worker has sent everything.
struct Exchange
{
    TMessageQueue<Note> toB{8, TEXT("to B")};
    TMessageQueue<Note> toA{8, TEXT("to A")};
    ZCMultiMessage allSent;
    ZCMultiMessage allRead;
    std::mutex lock;
    std::vector<std::string> transcript;
    std::vector<Note> notes = {{"tidy up", 1}, {"fire alarm", 9}, {"lunch", 5}};
    std::vector<Note> replies;

    void Say(const std::string& line)
    {
        std::lock_guard<std::mutex> guard(lock);
        transcript.push_back(line);
    }
};

// A sends its notes, then collects B's replies until its stop event is set.
DWORD WorkerA(ZCThreadBase* thread, void* parameter)
{
    auto* x = static_cast<Exchange*>(parameter);
    for (Note& note : x->notes) {
        x->Say("A sends \"" + note.text + "\" with priority " + std::to_string(note.priority));
        x->toB.Send(&note, note.priority);
    }
    x->allSent.Set();
    std::vector<std::string> got;
    for (;;) {
        if (ZCMultiMessage::WaitAny(thread->GetStopEvent(), &x->toA, INFINITE) != 2) {
            break; // stop requested
        }
        Note* reply = x->toA.Receive();
        got.push_back("A reads the reply \"" + reply->text + "\"");
        if (got.size() == x->notes.size()) {
            for (const std::string& line : got) {
                x->Say(line);
            }
            x->allRead.Set();
        }
    }
    return static_cast<DWORD>(got.size());
}

// B waits until A has sent everything, so the queue shows its order, then answers
// each note in the order received until its stop event is set.
DWORD WorkerB(ZCThreadBase* thread, void* parameter)
{
    auto* x = static_cast<Exchange*>(parameter);
    if (ZCMultiMessage::WaitAny(thread->GetStopEvent(), &x->allSent, INFINITE) != 2) {
        return 0;
    }
    x->replies.reserve(x->notes.size());
    DWORD answered = 0;
    for (;;) {
        if (ZCMultiMessage::WaitAny(thread->GetStopEvent(), &x->toB, INFINITE) != 2) {
            break;
        }
        int priority = 0;
        Note* note = x->toB.Receive(1, &priority);
        x->Say("B receives \"" + note->text + "\" (priority " + std::to_string(priority) + ")");
        x->replies.push_back({"done: " + note->text, priority});
        x->toA.Send(&x->replies.back(), priority);
        ++answered;
    }
    return answered;
}

const char* StatusName(ZANTH::ZCThreadInterface::TStatus status)
{
    switch (status) {
    case ZANTH::ZCThreadInterface::Starting:
        return "Starting";
    case ZANTH::ZCThreadInterface::NotStarted:
        return "NotStarted";
    case ZANTH::ZCThreadInterface::Running:
        return "Running";
    case ZANTH::ZCThreadInterface::Terminated:
        return "Terminated";
    case ZANTH::ZCThreadInterface::Failed:
        return "Failed";
    }
    return "?";
}

void RunExchange(std::ostream& out)
{
    Exchange x;
    ZCThread b(WorkerB, &x, 1, TEXT("worker B"));
    ZCThread a(WorkerA, &x, 1, TEXT("worker A"));
    // Wait until A has read every reply (or a worker ended early), then stop both
    // through their stop events.
    ZCMultiMessage::WaitAny(&x.allRead, a.GetTerminateEvent(), b.GetTerminateEvent(), 30000);
    a.RequestStop();
    b.RequestStop();
    a.WaitUnitStopped();
    b.WaitUnitStopped();
    for (const std::string& line : x.transcript) {
        out << line << "\n";
    }
    for (ZCThread* t : {&a, &b}) {
        out << Utf8(TString(t->Name())) << ": " << StatusName(t->GetStatus()) << ", exit code "
            << t->ExitCode() << " (start number " << t->StartNumber() << ")\n";
    }
}

struct QueueRunOptions
{
    int messages = 1000000;
    int producers = 2;
    int capacity = 1024;
    bool progress = false; // also when standard error is not a terminal
};

void RunQueue(const QueueRunOptions& options, std::ostream& out)
{
    TMessageQueue<void> queue(options.capacity, TEXT("ztools"));
    // The first `messages % producers` producers send one message more, so that
    // exactly `messages` are sent whatever the number of producers.
    const int share = options.messages / options.producers;
    const int extra = options.messages % options.producers;
    TTimer timer;
    timer.Start();
    std::vector<std::thread> producers;
    for (int p = 0; p < options.producers; ++p) {
        const int mine = share + (p < extra ? 1 : 0);
        producers.emplace_back([&, p, mine] {
            std::mt19937 random(static_cast<unsigned>(p));
            for (int i = 0; i < mine; ++i) {
                queue.Send(reinterpret_cast<void*>(static_cast<std::uintptr_t>(i + 1)),
                           static_cast<int>(random() % 8));
            }
        });
    }
    {
        // A bar on standard error while the messages arrive. The run cannot stop
        // half-way (the producers would wait for room), so Ctrl-C ends it as usual.
        std::unique_ptr<TTerminalProgressView> view;
        if (options.progress || ZanthStreamIsTerminal(stderr)) {
            view = std::make_unique<TTerminalProgressView>();
            view->Open(TEXT("queue"), 0, 100, 1, 0);
        }
        TProgress received(TEXT("messages"), 0, options.messages, 0);
        for (int i = 0; i < options.messages; ++i) {
            received.Do(1);
            queue.Receive();
        }
        received.Close();
        if (view) {
            view->Close();
        }
    }
    for (auto& t : producers) {
        t.join();
    }
    timer.Stop();
    const DWORD ms = timer.Time();
    out << options.messages << " messages from " << options.producers
        << " producer(s) through a queue of " << options.capacity << " in " << ms << " ms";
    if (ms > 0) {
        out << " (" << static_cast<long long>(options.messages) * 1000 / ms << " messages/s)";
    }
    out << "\n";
}

} // namespace

void AddThreadCommands(CLI::App& app)
{
    CLI::App* threads =
        app.add_subcommand("threads", "Two worker threads exchange prioritised messages");
    threads->callback([] { RunExchange(std::cout); });

    auto options = std::make_shared<QueueRunOptions>();
    CLI::App* queue =
        app.add_subcommand("queue", "Time messages of random priorities through a queue");
    queue->add_option("--messages", options->messages, "Number of messages")
        ->check(CLI::Range(1, 100000000));
    queue->add_option("--producers", options->producers, "Sending threads")
        ->check(CLI::Range(1, 64));
    queue->add_option("--capacity", options->capacity, "Capacity of the queue")
        ->check(CLI::Range(1, 1000000));
    queue->add_flag("--progress", options->progress,
                    "Show progress on standard error even when it is not a terminal");
    queue->callback([options] { RunQueue(*options, std::cout); });
}

void TourThreads(std::ostream& out)
{
    Heading(out, "Threads, events and the message queue");
    RunExchange(out);
}

} // namespace ztools
