// TThreadFunc: reference-counted work done in parts or in measured time slices.
#include <corewu/errors.h>
#include <zanth/timer.h>

TThreadFunc::TThreadFunc(LONG partSize) : m_RefCount(2), m_PartSize(partSize), m_Finished(false) {}

TThreadFunc::TThreadFunc(const TThreadFunc& other)
    : m_RefCount(2), m_PartSize(other.m_PartSize), m_Finished(false)
{}

TThreadFunc& TThreadFunc::operator=(const TThreadFunc& other)
{
    m_PartSize = other.m_PartSize;
    return *this;
}

TThreadFunc::~TThreadFunc() = default;

void TThreadFunc::Release()
{
    if (::InterlockedDecrement(&m_RefCount) == 0) {
        delete this;
    }
}

void TThreadFunc::Finish()
{
    // The work's reference goes exactly once, however often a caller asks again.
    if (!m_Finished) {
        m_Finished = true;
        Release();
    }
}

void TThreadFunc::ThreadDelete(TThreadFunc* work)
{
    if (work) {
        work->Release();
    }
}

void TThreadFunc::ThreadDo()
{
    while (ThreadDoParts(10000) != 0) {
    }
}

bool TThreadFunc::RunWork(void (*call)(void*), void* context)
{
    // When the work ends its thread (ExitThread, _endthread) the unwinding goes on,
    // and the work keeps its reference as it does when it is cut short.
    switch (RunCatching(call, context)) {
    case TWorkEnd::Returned:
        return true;
    case TWorkEnd::LibraryError:
        DecrementPendingCount();
        Finish();
        ThrowLastError();
    case TWorkEnd::OtherException:
        break;
    }
    return false;
}

LONG TThreadFunc::ThreadDoParts(LONG parts)
{
    if (m_Finished) {
        return 0;
    }
    LONG r = 0;
    auto work = [&] { r = DoWork(parts); };
    if (!RunWork([](void* context) { (*static_cast<decltype(work)*>(context))(); }, &work)) {
        r = 0;
    }
    if (r == 0) {
        Finish();
    }
    return r;
}

LONG TThreadFunc::ThreadDoTime(TTime& time)
{
    if (m_Finished) {
        time.PartCount(0);
        return 0;
    }
    LONG r = 0;
    LONG result = 0;
    auto work = [&] {
        if (time.PartCount() != 0) {
            r = DoWork(time.PartCount());
            result = r;
            return;
        }
        LARGE_INTEGER frequency;
        LARGE_INTEGER now;
        ::QueryPerformanceFrequency(&frequency);
        ::QueryPerformanceCounter(&now);
        const LONGLONG deadline =
            now.QuadPart + static_cast<LONGLONG>(time.MinMilliSec()) * frequency.QuadPart / 1000;
        LONG calls = 0;
        do {
            r = DoWork(1);
            // The sum wraps around as 32-bit arithmetic does, never overflows.
            result = static_cast<LONG>(static_cast<DWORD>(result) + static_cast<DWORD>(r));
            ++calls;
            ::QueryPerformanceCounter(&now);
        } while (now.QuadPart < deadline && r > 0);
        time.PartCount(calls);
    };
    if (!RunWork([](void* context) { (*static_cast<decltype(work)*>(context))(); }, &work)) {
        r = 0;
        result = 0;
    }
    if (r == 0) {
        // Finished: the answer is 0 whatever the measuring calls added up to, so
        // that a caller looping while the result is nonzero stops here.
        time.PartCount(0);
        Finish();
        return 0;
    }
    return result;
}
