// The thread framework: ZCThreadBase (events, status, name and the recorded error
// of a run) and ZCThread, which runs one caller function on a thread of its own.
#include "catalogs.h"
#include "threadimpl.h"

#include <corewu/errors.h>
#include <corewu/log.h>
#include <zanth/frame.h>
#include <zanth/thread.h>

#include <cerrno>
#include <cstring>

template class TSmartPtr<ZANTH::ZCThread>;

namespace ZANTH {

using detail::CopyName;
using detail::Null;

// ---------------------------------------------------------------------------
// ZCThreadBase
// ---------------------------------------------------------------------------
volatile LONG ZCThreadBase::m_HandleCounterGenerator = 0;

ZCThreadBase::ZCThreadBase(UINT flag, const WCHAR* name)
    : m_TerminateEvent(1, 0, nullptr), m_StartEvent(1, 0, nullptr), m_Status(NotStarted),
      m_ExitCode(0), m_StopEvent(1, 0, nullptr), m_Name(), m_Flag(flag), m_StartCounter(-1),
      m_ThreadHandle(static_cast<std::uintptr_t>(-1)),
      m_BeginThreadResult(static_cast<std::uintptr_t>(-1)), m_StartNumber(0)
{
    CopyName(m_Name, NameLength, name, this);
}

// The members close, in this order, the record's mutex and the stop, start and
// terminate events.
ZCThreadBase::~ZCThreadBase() = default;

void ZCThreadBase::RequestStop()
{
    m_StopEvent.Set();
}

ZCThreadInterface::TStatus ZCThreadBase::GetStatus() const
{
    return m_Status.load(std::memory_order_acquire);
}

UINT ZCThreadBase::IsStopRequested()
{
    return GetStopEvent()->Wait(0);
}

UINT ZCThreadBase::WaitUntilStopRequested(DWORD timeout)
{
    return GetStopEvent()->Wait(timeout);
}

ZCEvent* ZCThreadBase::GetTerminateEvent()
{
    return &m_TerminateEvent;
}

ZCEvent* ZCThreadBase::GetStopEvent()
{
    return &m_StopEvent;
}

UINT ZCThreadBase::WaitUntilStopped(DWORD timeout)
{
    if (GetStatus() == NotStarted) {
        return 0;
    }
    return m_TerminateEvent.Wait(timeout);
}

ZCEvent* ZCThreadBase::GetStartEvent()
{
    return &m_StartEvent;
}

UINT ZCThreadBase::WaitUntilStarted(DWORD timeout)
{
    return m_StartEvent.Wait(timeout);
}

DWORD ZCThreadBase::ExitCode() const
{
    return m_ExitCode.load(std::memory_order_acquire);
}

ZCInfo ZCThreadBase::ExceptionInfo()
{
    // The worker writes the record under its mutex; reading under it too means a
    // caller who asks while the thread still runs gets a whole record, never a
    // string in the middle of being assigned.
    ZCAutoFreeMutex lock(m_ExceptionInfo.Mutex());
    return ZCInfo(m_ExceptionInfo);
}

const WCHAR* ZCThreadBase::Name() const
{
    return m_Name;
}

// ---------------------------------------------------------------------------
// ZCThread
// ---------------------------------------------------------------------------
ZCThread::ZCThread(ThreadFunction function, void* parameter, UINT flag, const WCHAR* name)
    : ZCThreadBase(flag, name), m_Function(nullptr), m_Parameter(nullptr),
      m_StatusBeforeRefusal(NotStarted)
{
    Constructor();
    if (function) {
        Start(function, parameter);
    }
}

ZCThread::ZCThread(UINT flag, const WCHAR* name, ThreadFunction function, void* parameter)
    : ZCThread(function, parameter, flag, name)
{}

ZCThread::~ZCThread()
{
    if (GetStatus() != NotStarted) {
        RequestStop();
        WaitUntilStopped(INFINITE);
    }
}

void ZCThread::Constructor()
{
    ::InterlockedExchange(&m_StartCounter, -1);
    m_ThreadHandle = static_cast<std::uintptr_t>(-1);
    m_ExitCode.store(1, std::memory_order_relaxed);
    m_Status.store(NotStarted, std::memory_order_release);
    m_StatusBeforeRefusal.store(NotStarted, std::memory_order_relaxed);
    m_TerminateEvent.Reset();
    m_StartEvent.Reset();
    m_StopEvent.Reset();
}

void ZCThread::Destructor()
{
    RequestStop();
    WaitUntilStopped(INFINITE);
    m_ThreadHandle = static_cast<std::uintptr_t>(-1);
}

void ZCThread::Reset()
{
    if (GetStatus() == NotStarted) {
        return;
    }
    Destructor();
    TStatus status = GetStatus();
    // A refused second Start left Starting in place of the status of the run; the
    // run's own status decides (otherwise the object could never be reset again).
    const TStatus beforeRefusal = m_StatusBeforeRefusal.load(std::memory_order_relaxed);
    if (status == Starting && beforeRefusal != NotStarted) {
        status = beforeRefusal;
    }
    if (status != Terminated && status != Failed) {
        ThrowNewError(detail::g_MsgThreadCatalog, 4, TString(static_cast<LONG>(status), 10), Null(),
                      Null(), nullptr);
    }
    Constructor();
    // The next run starts with a clean record, so that an error of an earlier run
    // is never mistaken for one of the new run.
    m_ExceptionInfo.Clear();
}

void ZCThread::Start(ThreadFunction function, void* parameter)
{
    const TStatus previous = m_Status.exchange(Starting, std::memory_order_acq_rel);
    if (::InterlockedIncrement(&m_StartCounter) > 0) {
        if (previous != Starting) {
            m_StatusBeforeRefusal.store(previous, std::memory_order_relaxed);
        }
        ThrowNewError(detail::g_MsgThreadCatalog, 1, Null(), Null(), Null(), nullptr);
    }
    m_StartNumber.store(::InterlockedIncrement(&m_HandleCounterGenerator),
                        std::memory_order_relaxed);
    m_Function = function;
    m_Parameter = parameter;

    // A null function would make the new thread call through a null pointer: it is
    // refused as the run time refuses an invalid argument.
    std::uintptr_t result = static_cast<std::uintptr_t>(-1);
    int error = EINVAL;
    if (function) {
        result = _beginthread(&ZCThread::CallerFunction, 0, this);
        error = errno;
    }
    m_BeginThreadResult = result;
    if (result != static_cast<std::uintptr_t>(-1)) {
        m_ThreadHandle = result;
        return;
    }

    m_Status.store(Failed, std::memory_order_release);
    // No thread will ever set the terminate event of this run: set it here, so that
    // WaitUntilStopped, Reset and the destructor do not wait for a thread that does
    // not exist.
    m_TerminateEvent.Set();
    TString line(m_Name);
    switch (error) {
    case EAGAIN:
        line += TEXT(" Start CrtEAGAIN");
        g_ptheLogfile->Write(1, line);
        ThrowNewError(detail::g_MsgThreadCatalog, 2, Null(), Null(), Null(), nullptr);
    case EINVAL:
        line += TEXT(" Start CrtEINVAL");
        g_ptheLogfile->Write(1, line);
        ThrowNewError(detail::g_MsgThreadCatalog, 3, Null(), Null(), Null(), nullptr);
    default:
        line += TEXT(" Start unknown.");
        line += TString(static_cast<LONG>(error), 10);
        g_ptheLogfile->Write(1, line);
        ThrowNewError(detail::g_MsgThreadCatalog, 4, TString(static_cast<LONG>(error), 10),
                      TString::FromAnsi(std::strerror(error)), Null(), nullptr);
    }
}

DWORD ZCThread::WaitUnitStopped()
{
    return WaitUntilStopped(INFINITE);
}

void ZCThread::CallerFunction(void* object)
{
    ZCThread* self = static_cast<ZCThread*>(object);
    self->m_Status.store(Running, std::memory_order_release);
    self->m_StartEvent.Set();
    DWORD result = 0;
    // When the function ends its own thread (_endthread) the unwinding goes on, but
    // the owner still learns that the thread has ended.
    const TWorkEnd end =
        RunCatching([self, &result] { result = self->m_Function(self, self->m_Parameter); },
                    [self] { self->m_TerminateEvent.Set(); });
    if (end == TWorkEnd::Returned) {
        self->m_ExitCode.store(result, std::memory_order_relaxed);
        self->m_Status.store(Terminated, std::memory_order_release);
    } else if (end == TWorkEnd::LibraryError) {
        DecrementPendingCount();
        self->m_ExitCode.store(1, std::memory_order_relaxed);
        ZCInfo top = GetErrorInfo();
        self->m_ExceptionInfo.CopyFrom(top);
        PopError();
        self->m_Status.store(Failed, std::memory_order_release);
    }
    // After any other exception (reported already) the status stays Running.
    // The owner may destroy the object as soon as this event is set: nothing of
    // the object is touched after it.
    self->m_TerminateEvent.Set();
    _endthread();
}

} // namespace ZANTH
