// TThreadFunc: reference-counted work done in parts or in measured time slices.
#include <zanth/timer.h>

TThreadFunc::TThreadFunc(LONG partSize) : m_RefCount(2), m_PartSize(partSize) {}

TThreadFunc::TThreadFunc(const TThreadFunc& other) : m_RefCount(2), m_PartSize(other.m_PartSize) {}

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

COREWU_PASSES_THREAD_EXIT bool TThreadFunc::RunWork(void (*call)(void*), void* context)
{
    try {
        call(context);
        return true;
    } catch (TException&) {
        DecrementPendingCount();
        Release();
        ThrowLastError();
#if defined(__GLIBCXX__)
    } catch (abi::__forced_unwind&) {
        // The work ended its thread (ExitThread, _endthread): the unwinding must go
        // on, and the work keeps its reference as it does when it is cut short.
        throw;
#endif
    } catch (...) {
        ZanthUnhandledException();
        return false;
    }
}

LONG TThreadFunc::ThreadDoParts(LONG parts)
{
    LONG r = 0;
    auto work = [&] { r = DoWork(parts); };
    if (!RunWork([](void* context) { (*static_cast<decltype(work)*>(context))(); }, &work)) {
        r = 0;
    }
    if (r == 0) {
        Release();
    }
    return r;
}

LONG TThreadFunc::ThreadDoTime(TTime& time)
{
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
        time.PartCount(0);
        Release();
    }
    return result;
}
