// ZCEvent, ZCMutex, ZCAutoFreeMutex and ZCInfo over the Win32 calls.
#include <corewu/sync.h>

#include <corewu/errors.h>
#include <corewu/messages.h>

namespace ZANTH {

ZCEvent::ZCEvent(UINT manualReset, UINT initialState, const WCHAR* name)
    : m_AutoReset(manualReset == 0), m_Handle(nullptr)
{
    m_Handle =
        ::CreateEventW(nullptr, manualReset ? TRUE : FALSE, initialState ? TRUE : FALSE, name);
    if (!m_Handle && ::GetLastError() != ERROR_ALREADY_EXISTS) {
        PushSystemError();
        ThrowLastError();
    }
}

ZCEvent::~ZCEvent()
{
    CloseEvent();
}

void ZCEvent::CloseEvent()
{
    if (m_Handle) {
        ::CloseHandle(m_Handle);
        m_Handle = nullptr;
    }
}

UINT ZCEvent::IsSet()
{
    return ::WaitForSingleObject(m_Handle, 0) == WAIT_OBJECT_0;
}

UINT ZCEvent::Wait(const ZCEvent& stop, DWORD timeout)
{
    HANDLE handles[2] = {stop.m_Handle, m_Handle};
    return ::WaitForMultipleObjects(2, handles, FALSE, timeout) == WAIT_OBJECT_0 + 1;
}

UINT ZCEvent::Wait(DWORD timeout)
{
    return ::WaitForSingleObject(m_Handle, timeout) == WAIT_OBJECT_0;
}

UINT ZCEvent::IsAutoReset() const
{
    return m_AutoReset;
}

BOOL ZCEvent::Set()
{
    return ::SetEvent(m_Handle);
}

BOOL ZCEvent::Reset()
{
    return ::ResetEvent(m_Handle);
}

ZCMutex::ZCMutex(UINT initialOwner, const WCHAR* name)
    : m_Handle(::CreateMutexW(nullptr, initialOwner ? TRUE : FALSE, name))
{
    if (!m_Handle) {
        PushSystemError();
        ThrowLastError();
    }
}

ZCMutex::~ZCMutex()
{
    if (m_Handle) {
        // Releases a hold this thread may still have (fails harmlessly otherwise).
        while (::ReleaseMutex(m_Handle)) {
        }
        ::CloseHandle(m_Handle);
    }
}

DWORD ZCMutex::Lock(DWORD timeout)
{
    return ::WaitForSingleObject(m_Handle, timeout);
}

BOOL ZCMutex::Unlock()
{
    return ::ReleaseMutex(m_Handle);
}

ZCAutoFreeMutex::ZCAutoFreeMutex(ZCMutex& mutex) : m_Mutex(mutex)
{
    m_Mutex.Lock(INFINITE);
}

ZCAutoFreeMutex::~ZCAutoFreeMutex()
{
    m_Mutex.Unlock();
}

void ZCInfoRaw::AtomicAssignULong(volatile ULONG* target, ULONG value)
{
    __atomic_store_n(target, value, __ATOMIC_SEQ_CST);
}

ZCInfo::ZCInfo() = default;

ZCInfo::ZCInfo(WORD catalog, WORD message, const TString& a1, const TString& a2, const TString& a3)
    : m_A1(a1), m_A2(a2), m_A3(a3)
{
    m_Catalog = catalog;
    m_Message = message;
}

ZCInfo::ZCInfo(const ZCInfo& other)
    : ZCInfoRaw(other), m_A1(other.m_A1), m_A2(other.m_A2), m_A3(other.m_A3)
{}

ZCInfo& ZCInfo::operator=(const ZCInfo& other)
{
    if (this != &other) {
        m_Catalog = other.m_Catalog;
        m_Message = other.m_Message;
        m_A1 = other.m_A1;
        m_A2 = other.m_A2;
        m_A3 = other.m_A3;
    }
    return *this;
}

ZCInfo::~ZCInfo() = default;

void ZCInfo::CopyFrom(ZCInfo& source)
{
    if (&source == this) {
        return;
    }
    ZCAutoFreeMutex destination(m_Mutex);
    ZCAutoFreeMutex from(source.m_Mutex);
    m_Catalog = source.m_Catalog;
    m_Message = source.m_Message;
    m_A1 = source.m_A1;
    m_A2 = source.m_A2;
    m_A3 = source.m_A3;
}

void ZCInfo::Clear()
{
    ZCAutoFreeMutex lock(m_Mutex);
    m_Catalog = 0xFFFF;
    m_Message = 0;
    m_A1.Empty();
    m_A2.Empty();
    m_A3.Empty();
}

TString ZCInfo::Text() const
{
    if (!HasError()) {
        return TString();
    }
    return GetMessageW(m_Catalog, m_Message, m_A1, m_A2, m_A3);
}

} // namespace ZANTH
