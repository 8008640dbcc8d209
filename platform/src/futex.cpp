// Futex words and deadlines (futex.h).
#include "futex.h"

#include <cerrno>
#include <climits>
#include <ctime>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace zanth::platform {

std::int64_t MonotonicNs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

Deadline::Deadline(DWORD milliseconds)
    : m_Infinite(milliseconds == INFINITE),
      m_End(m_Infinite ? 0 : MonotonicNs() + static_cast<std::int64_t>(milliseconds) * 1000000)
{}

std::int64_t Deadline::RemainingNs() const
{
    if (m_Infinite) {
        return -1;
    }
    std::int64_t left = m_End - MonotonicNs();
    return left > 0 ? left : 0;
}

namespace {

// One futex call: `operation` with its value, and for a wait the limit in
// nanoseconds (negative: none).
long Futex(std::atomic<std::uint32_t>& word, int operation, std::uint32_t value, std::int64_t ns)
{
    timespec timeout;
    timespec* limit = nullptr;
    if (ns >= 0) {
        timeout.tv_sec = static_cast<time_t>(ns / 1000000000);
        timeout.tv_nsec = static_cast<long>(ns % 1000000000);
        limit = &timeout;
    }
    return syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), operation, value, limit,
                   nullptr, 0);
}

constexpr std::uint32_t kEveryone = INT_MAX;

} // namespace

bool FutexWait(std::atomic<std::uint32_t>& word, std::uint32_t expected, std::int64_t ns)
{
    return !(Futex(word, FUTEX_WAIT_PRIVATE, expected, ns) == -1 && errno == ETIMEDOUT);
}

void FutexWakeOne(std::atomic<std::uint32_t>& word)
{
    Futex(word, FUTEX_WAKE_PRIVATE, 1, -1);
}

void FutexWakeAll(std::atomic<std::uint32_t>& word)
{
    Futex(word, FUTEX_WAKE_PRIVATE, kEveryone, -1);
}

bool FutexWaitShared(std::atomic<std::uint32_t>& word, std::uint32_t expected, std::int64_t ns)
{
    return !(Futex(word, FUTEX_WAIT, expected, ns) == -1 && errno == ETIMEDOUT);
}

void FutexWakeShared(std::atomic<std::uint32_t>& word)
{
    Futex(word, FUTEX_WAKE, kEveryone, -1);
}

} // namespace zanth::platform
