// TTimer: a stop-watch and alarm on the performance counter.
#include <zanth/timer.h>

namespace {

LONGLONG Now()
{
    LARGE_INTEGER count;
    ::QueryPerformanceCounter(&count);
    return count.QuadPart;
}

// counts * 1000 / frequency, truncated, without overflowing for large counts (the
// counter runs in nanoseconds here, so the plain product would overflow after
// about 106 days).
LONGLONG CountsToMilliseconds(LONGLONG counts, LONGLONG frequency)
{
    return counts / frequency * 1000 + counts % frequency * 1000 / frequency;
}

} // namespace

TTimer::TTimer()
    : m_Frequency(0), m_Accumulated(0), m_StartCount(0), m_LastCount(0), m_AlarmCount(0),
      m_Running(0)
{
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    m_Frequency = frequency.QuadPart;
}

void TTimer::Start()
{
    m_Running = 1;
    m_StartCount = Now();
}

void TTimer::Stop()
{
    // A watch that is not running has nothing to add: without this a Stop on a new
    // or reset timer would count everything since the counter's origin or since
    // the last Start.
    if (!m_Running) {
        return;
    }
    m_LastCount = Now();
    m_Accumulated += m_LastCount - m_StartCount;
    m_Running = 0;
}

void TTimer::Reset()
{
    m_Accumulated = 0;
    m_Running = 0;
}

DWORD TTimer::Time()
{
    LONGLONG total = m_Accumulated;
    if (m_Running) {
        m_LastCount = Now();
        total += m_LastCount - m_StartCount;
    }
    return static_cast<DWORD>(CountsToMilliseconds(total, m_Frequency));
}

void TTimer::Alarm(DWORD milliseconds)
{
    m_AlarmCount = Now() + static_cast<LONGLONG>(milliseconds) * m_Frequency / 1000;
}

UINT TTimer::Ringing()
{
    return Now() >= m_AlarmCount ? 1 : 0;
}
