// Futex words and deadlines: the sleeps and wake-ups that waits, thread ends and
// named objects are built on, and the monotonic clock their time-outs count on.
#ifndef ZANTH_PLATFORM_FUTEX_H
#define ZANTH_PLATFORM_FUTEX_H

#include <zanth/win32/windows.h>

#include <atomic>
#include <cstdint>

namespace zanth::platform {

std::int64_t MonotonicNs();

// Monotonic milliseconds-resolution deadline helper for waits.
class Deadline
{
public:
    explicit Deadline(DWORD milliseconds);
    bool Infinite() const { return m_Infinite; }
    // Remaining nanoseconds; 0 once expired.
    std::int64_t RemainingNs() const;

private:
    bool m_Infinite;
    std::int64_t m_End;
};

// Sleeps on a futex word while it holds `expected`, for at most `ns` nanoseconds
// (negative: no limit). Returns false on time-out.
bool FutexWait(std::atomic<std::uint32_t>& word, std::uint32_t expected, std::int64_t ns);
void FutexWakeOne(std::atomic<std::uint32_t>& word);
void FutexWakeAll(std::atomic<std::uint32_t>& word);

// The same for a word in memory shared with other processes.
bool FutexWaitShared(std::atomic<std::uint32_t>& word, std::uint32_t expected, std::int64_t ns);
void FutexWakeShared(std::atomic<std::uint32_t>& word);

} // namespace zanth::platform

#endif // ZANTH_PLATFORM_FUTEX_H
