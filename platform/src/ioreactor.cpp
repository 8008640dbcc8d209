// The overlapped I/O engine of serial ports: one platform thread waits in epoll for
// the ports that have pending operations and completes them as the kernel reports
// them ready, or when their time-outs run out (the epoll wait ends at the nearest
// deadline). Nothing polls: a port without pending work is not even watched.
//
// An operation is first tried on the caller's thread; only what cannot finish at
// once becomes pending. Every access to a pending operation (its buffer, its
// OVERLAPPED) happens under its port's lock, so an operation that CancelIo, PurgeComm
// or CloseHandle has completed is never touched again. Completion writes the
// OVERLAPPED's result (Internal last, with release order), then sets its event
// through the platform's own SetEvent.
//
// Lock order: a port's lock, then the engine's list lock. The engine thread takes
// the list lock only to copy the list, never while it holds a port's lock.
#include "comm.h"

#include <algorithm>
#include <cerrno>
#include <map>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace zanth::platform {
namespace {

// OVERLAPPED.Internal: STATUS_PENDING while running, 0 on success, the Win32 error
// with the two top bits set on failure (so no error code can look like pending).
constexpr ULONG_PTR kErrorBits = 0xC0000000u;

ULONG_PTR StatusOf(DWORD error)
{
    return error == 0 ? 0 : (kErrorBits | error);
}

DWORD ErrorOf(ULONG_PTR status)
{
    return static_cast<DWORD>(status & ~kErrorBits);
}

// Wakes GetOverlappedResult calls that wait on an OVERLAPPED without an event.
std::mutex g_CompletionLock;
std::condition_variable g_Completion;

class Reactor
{
public:
    static Reactor& Instance()
    {
        static Reactor* reactor = new Reactor; // lives as long as the process
        return *reactor;
    }

    // With the port's lock held: makes sure the engine looks after the port and
    // watches it for `events`. Sets the last error and returns false when epoll
    // refuses the descriptor.
    bool Watch(const std::shared_ptr<CommObject>& port, std::uint32_t events)
    {
        // Listed before it is armed: an event that fires at once must find it.
        if (!port->m_Active) {
            port->m_Active = true;
            std::lock_guard<std::mutex> guard(m_Lock);
            m_Active[port->m_Id] = port;
        }
        epoll_event event{};
        event.events = events | EPOLLONESHOT;
        event.data.u64 = port->m_Id;
        if (::epoll_ctl(m_Epoll, port->m_Registered ? EPOLL_CTL_MOD : EPOLL_CTL_ADD,
                        port->Descriptor(), &event) != 0) {
            SetLastErrorFromErrno();
            Unwatch(*port);
            return false;
        }
        port->m_Registered = true;
        return true;
    }

    // With the port's lock held: the port has nothing pending any more.
    void Unwatch(CommObject& port)
    {
        if (port.m_Active) {
            port.m_Active = false;
            std::lock_guard<std::mutex> guard(m_Lock);
            m_Active.erase(port.m_Id);
        }
    }

    void Forget(CommObject& port)
    {
        Unwatch(port);
        if (port.m_Registered) {
            ::epoll_ctl(m_Epoll, EPOLL_CTL_DEL, port.Descriptor(), nullptr);
            port.m_Registered = false;
        }
    }

    // Makes the engine look at its deadlines again (a new time-out may be nearer).
    void Wake()
    {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(m_WakeFd, &one, sizeof one);
    }

private:
    Reactor()
    {
        m_Epoll = ::epoll_create1(EPOLL_CLOEXEC);
        m_WakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u64 = 0;
        ::epoll_ctl(m_Epoll, EPOLL_CTL_ADD, m_WakeFd, &event);
        std::thread([this] { Run(); }).detach();
    }

    void Run();

    int m_Epoll = -1;
    int m_WakeFd = -1;
    std::mutex m_Lock;
    std::map<std::uint64_t, std::shared_ptr<CommObject>> m_Active;
};

std::uint32_t InterestLocked(const CommObject& port)
{
    std::uint32_t events = 0;
    if (!port.m_Reads.empty() || port.m_Wait) {
        events |= EPOLLIN;
    }
    if (!port.m_Writes.empty()) {
        events |= EPOLLOUT;
    }
    return events;
}

// Ends an operation. A pending overlapped one is freed here.
void CompleteLocked(CommObject& port, IoOp* op, DWORD error)
{
    if (!op->overlapped) {
        op->completed = true;
        op->error = error;
        port.m_Done.notify_all();
        return;
    }
    LPOVERLAPPED overlapped = op->overlapped;
    if (op->mask) {
        *op->mask = op->eventMask;
    }
    overlapped->InternalHigh = op->done;
    __atomic_store_n(&overlapped->Internal, StatusOf(error), __ATOMIC_RELEASE);
    if (overlapped->hEvent) {
        ::SetEvent(overlapped->hEvent);
    }
    delete op;
    {
        std::lock_guard<std::mutex> guard(g_CompletionLock);
    }
    g_Completion.notify_all();
}

std::int64_t Millis(DWORD ms)
{
    return static_cast<std::int64_t>(ms) * 1000000;
}

// The time-outs of a new read or write, from the port's COMMTIMEOUTS.
void SetDeadlines(const CommObject& port, IoOp& op, std::int64_t now)
{
    const COMMTIMEOUTS& t = port.m_Timeouts;
    if (op.kind == IoOp::Read) {
        if (t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 &&
            t.ReadTotalTimeoutConstant == 0) {
            op.totalEnd = now; // return at once with what is there
            return;
        }
        if (t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == MAXDWORD &&
            t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != MAXDWORD) {
            op.returnOnAny = true;
            op.totalEnd = now + Millis(t.ReadTotalTimeoutConstant);
            return;
        }
        const std::int64_t total =
            static_cast<std::int64_t>(t.ReadTotalTimeoutMultiplier) * op.count +
            t.ReadTotalTimeoutConstant;
        op.totalEnd = total != 0 ? now + total * 1000000 : 0;
        op.intervalNs = t.ReadIntervalTimeout != 0 && t.ReadIntervalTimeout != MAXDWORD
                            ? Millis(t.ReadIntervalTimeout)
                            : 0;
    } else if (op.kind == IoOp::Write) {
        const std::int64_t total =
            static_cast<std::int64_t>(t.WriteTotalTimeoutMultiplier) * op.count +
            t.WriteTotalTimeoutConstant;
        op.totalEnd = total != 0 ? now + total * 1000000 : 0;
    }
}

enum class Progress
{
    Pending,
    Done,
    Failed
};

// Moves a read or write on as far as the device allows. `error` receives the
// failure of a Failed result.
Progress Advance(CommObject& port, IoOp& op, std::int64_t now, DWORD& error)
{
    const int fd = port.Descriptor();
    if (port.m_Gone) {
        error = ERROR_DEVICE_NOT_CONNECTED;
        return op.done > 0 ? Progress::Done : Progress::Failed;
    }
    while (op.done < op.count) {
        const ssize_t n = op.kind == IoOp::Read
                              ? ::read(fd, op.buffer + op.done, op.count - op.done)
                              : ::write(fd, op.buffer + op.done, op.count - op.done);
        if (n > 0) {
            op.done += static_cast<DWORD>(n);
            op.lastByte = now;
            if (op.returnOnAny) {
                return Progress::Done;
            }
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            break;
        }
        // End of file on a terminal, EIO, EPIPE: the device has gone. Bytes that
        // were moved already are handed over; the next operation reports the loss.
        port.m_Gone = n == 0 || CommError(errno) == ERROR_DEVICE_NOT_CONNECTED;
        error = n == 0 ? ERROR_DEVICE_NOT_CONNECTED : CommError(errno);
        return op.done > 0 ? Progress::Done : Progress::Failed;
    }
    if (op.done == op.count) {
        return Progress::Done;
    }
    if (op.totalEnd != 0 && now >= op.totalEnd) {
        return Progress::Done; // a time-out ends the operation with what it has
    }
    if (op.intervalNs != 0 && op.done > 0 && now >= op.lastByte + op.intervalNs) {
        return Progress::Done;
    }
    return Progress::Pending;
}

// A WaitCommEvent: done when a watched event is there.
Progress AdvanceWait(CommObject& port, IoOp& op, DWORD& error)
{
    if (port.m_Gone) {
        error = ERROR_DEVICE_NOT_CONNECTED;
        return Progress::Failed;
    }
    if (port.m_Mask & EV_RXCHAR) {
        int waiting = 0;
        if (::ioctl(port.Descriptor(), FIONREAD, &waiting) != 0) {
            error = CommError(errno);
            port.m_Gone = error == ERROR_DEVICE_NOT_CONNECTED;
            return Progress::Failed;
        }
        if (waiting > 0) {
            op.eventMask = EV_RXCHAR;
            return Progress::Done;
        }
    }
    return Progress::Pending;
}

// Moves every pending operation of a port on; returns the nearest deadline of what
// stays pending (0: none).
std::int64_t ServiceLocked(CommObject& port, std::uint32_t events, std::int64_t now)
{
    if (events & (EPOLLHUP | EPOLLERR)) {
        // A hang-up stays: nothing more will come from or go to this device. Data
        // still queued is read first by the operations below.
        int waiting = 0;
        if (::ioctl(port.Descriptor(), FIONREAD, &waiting) != 0 || waiting == 0) {
            port.m_Gone = true;
        }
    }
    for (std::deque<IoOp*>* queue : {&port.m_Reads, &port.m_Writes}) {
        while (!queue->empty()) {
            IoOp* op = queue->front();
            DWORD error = 0;
            const Progress p = Advance(port, *op, now, error);
            if (p == Progress::Pending) {
                break;
            }
            queue->pop_front();
            CompleteLocked(port, op, p == Progress::Done ? 0 : error);
        }
    }
    if (port.m_Wait) {
        DWORD error = 0;
        const Progress p = AdvanceWait(port, *port.m_Wait, error);
        if (p != Progress::Pending) {
            IoOp* op = std::exchange(port.m_Wait, nullptr);
            CompleteLocked(port, op, p == Progress::Done ? 0 : error);
        }
    }
    std::int64_t nearest = 0;
    auto consider = [&nearest](std::int64_t at) {
        if (at != 0 && (nearest == 0 || at < nearest)) {
            nearest = at;
        }
    };
    if (!port.m_Reads.empty()) {
        const IoOp& op = *port.m_Reads.front();
        consider(op.totalEnd);
        if (op.intervalNs != 0 && op.done > 0) {
            consider(op.lastByte + op.intervalNs);
        }
    }
    if (!port.m_Writes.empty()) {
        consider(port.m_Writes.front()->totalEnd);
    }
    return nearest;
}

void Reactor::Run()
{
    std::vector<epoll_event> events(64);
    std::map<std::uint64_t, std::uint32_t> ready;
    std::int64_t nearest = 0;
    for (;;) {
        int timeout = -1;
        if (nearest != 0) {
            const std::int64_t left = nearest - MonotonicNs();
            timeout =
                left <= 0
                    ? 0
                    : static_cast<int>(std::min<std::int64_t>((left + 999999) / 1000000, 1 << 30));
        }
        const int n =
            ::epoll_wait(m_Epoll, events.data(), static_cast<int>(events.size()), timeout);
        ready.clear();
        for (int i = 0; i < n; ++i) {
            if (events[i].data.u64 == 0) {
                std::uint64_t count;
                while (::read(m_WakeFd, &count, sizeof count) > 0) {
                }
                continue;
            }
            ready[events[i].data.u64] |= events[i].events;
        }
        std::vector<std::shared_ptr<CommObject>> ports;
        {
            std::lock_guard<std::mutex> guard(m_Lock);
            ports.reserve(m_Active.size());
            for (auto& entry : m_Active) {
                ports.push_back(entry.second);
            }
        }
        nearest = 0;
        const std::int64_t now = MonotonicNs();
        for (const std::shared_ptr<CommObject>& port : ports) {
            std::lock_guard<std::mutex> guard(port->Lock());
            if (port->m_Closed || !port->m_Active) {
                continue;
            }
            auto it = ready.find(port->m_Id);
            const std::uint32_t got = it == ready.end() ? 0 : it->second;
            const std::int64_t deadline = ServiceLocked(*port, got, now);
            if (deadline != 0 && (nearest == 0 || deadline < nearest)) {
                nearest = deadline;
            }
            const std::uint32_t interest = InterestLocked(*port);
            if (interest == 0) {
                Unwatch(*port);
            } else if (got != 0) {
                // The one-shot registration fired: arm it again for what is left.
                Watch(port, interest);
            }
        }
    }
}

} // namespace

std::uint64_t NewPortId()
{
    static std::atomic<std::uint64_t> next{1};
    return next.fetch_add(1, std::memory_order_relaxed);
}

void CancelIoLocked(CommObject& port, CancelWhich which, DWORD error)
{
    const DWORD me = CurrentThreadId();
    auto chosen = [&](const IoOp* op) {
        switch (which) {
        case CancelWhich::OwnThread:
            return op->thread == me;
        case CancelWhich::Reads:
            return op->kind == IoOp::Read;
        case CancelWhich::Writes:
            return op->kind == IoOp::Write;
        case CancelWhich::Wait:
            return op->kind == IoOp::Wait;
        case CancelWhich::All:
            return true;
        }
        return false;
    };
    for (std::deque<IoOp*>* queue : {&port.m_Reads, &port.m_Writes}) {
        for (auto it = queue->begin(); it != queue->end();) {
            if (chosen(*it)) {
                IoOp* op = *it;
                it = queue->erase(it);
                CompleteLocked(port, op, error);
            } else {
                ++it;
            }
        }
    }
    if (port.m_Wait && chosen(port.m_Wait)) {
        IoOp* op = std::exchange(port.m_Wait, nullptr);
        op->eventMask = 0;
        CompleteLocked(port, op, error);
    }
}

void ForgetPortLocked(CommObject& port)
{
    Reactor::Instance().Forget(port);
}

BOOL SubmitIo(const std::shared_ptr<CommObject>& port, IoOp& op, LPDWORD transferred)
{
    if (transferred) {
        *transferred = 0;
    }
    std::unique_lock<std::mutex> lock(port->Lock());
    if (port->m_Closed) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const std::int64_t now = MonotonicNs();
    op.thread = CurrentThreadId();
    SetDeadlines(*port, op, now);
    LPOVERLAPPED overlapped = op.overlapped;
    if (overlapped) {
        // The event of an overlapped operation is reset when the operation begins.
        if (overlapped->hEvent) {
            ::ResetEvent(overlapped->hEvent);
        }
        overlapped->InternalHigh = 0;
    }
    std::deque<IoOp*>* queue = op.kind == IoOp::Read    ? &port->m_Reads
                               : op.kind == IoOp::Write ? &port->m_Writes
                                                        : nullptr;
    if (!queue && port->m_Wait) {
        // One event wait at a time, as on Windows.
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // First try on this thread: most operations finish here.
    Progress p = Progress::Pending;
    DWORD error = 0;
    if (!queue || queue->empty()) {
        p = queue ? Advance(*port, op, now, error) : AdvanceWait(*port, op, error);
    }
    if (p != Progress::Pending) {
        if (p == Progress::Failed) {
            ::SetLastError(error);
            return FALSE;
        }
        if (op.mask) {
            *op.mask = op.eventMask;
        }
        if (overlapped) {
            overlapped->InternalHigh = op.done;
            __atomic_store_n(&overlapped->Internal, ULONG_PTR{0}, __ATOMIC_RELEASE);
            if (overlapped->hEvent) {
                ::SetEvent(overlapped->hEvent);
            }
        }
        if (transferred) {
            *transferred = op.done;
        }
        ::SetLastError(ERROR_SUCCESS);
        return TRUE;
    }

    IoOp* pending = overlapped ? new IoOp(op) : &op;
    if (queue) {
        queue->push_back(pending);
    } else {
        port->m_Wait = pending;
    }
    if (overlapped) {
        __atomic_store_n(&overlapped->Internal, ULONG_PTR{STATUS_PENDING}, __ATOMIC_RELEASE);
    }
    Reactor& reactor = Reactor::Instance();
    if (!reactor.Watch(port, InterestLocked(*port))) {
        const DWORD watchError = ::GetLastError();
        if (queue) {
            queue->pop_back();
        } else {
            port->m_Wait = nullptr;
        }
        if (overlapped) {
            delete pending;
        }
        ::SetLastError(watchError);
        return FALSE;
    }
    if (op.totalEnd != 0) {
        reactor.Wake();
    }
    if (overlapped) {
        ::SetLastError(ERROR_IO_PENDING);
        return FALSE;
    }
    port->m_Done.wait(lock, [&op] { return op.completed; });
    if (transferred) {
        *transferred = op.done;
    }
    if (op.error != 0) {
        ::SetLastError(op.error);
        return FALSE;
    }
    ::SetLastError(ERROR_SUCCESS);
    return TRUE;
}

} // namespace zanth::platform

using namespace zanth::platform;

extern "C" {

BOOL WINAPI GetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped, LPDWORD transferred,
                                BOOL wait)
{
    if (!overlapped) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    ULONG_PTR status = __atomic_load_n(&overlapped->Internal, __ATOMIC_ACQUIRE);
    if (status == STATUS_PENDING) {
        if (!wait) {
            ::SetLastError(ERROR_IO_INCOMPLETE);
            return FALSE;
        }
        if (overlapped->hEvent) {
            if (::WaitForSingleObject(overlapped->hEvent, INFINITE) == WAIT_FAILED) {
                return FALSE;
            }
        }
        // Without an event (or with an event that somebody else set too early) the
        // completion itself is what ends the wait.
        std::unique_lock<std::mutex> lock(g_CompletionLock);
        g_Completion.wait(lock, [overlapped, &status] {
            status = __atomic_load_n(&overlapped->Internal, __ATOMIC_ACQUIRE);
            return status != STATUS_PENDING;
        });
    }
    (void)file;
    if (transferred) {
        *transferred = static_cast<DWORD>(overlapped->InternalHigh);
    }
    if (status != 0) {
        ::SetLastError(ErrorOf(status));
        return FALSE;
    }
    return TRUE;
}

} // extern "C"
