// Wrappers of the Win32 event and mutex, the scope lock, and ZCInfo, the record of
// one error that threads hand to each other.
#ifndef COREWU_SYNC_H
#define COREWU_SYNC_H

#include <corewu/tstring.h>

namespace ZANTH {

// A Win32 event. Construction follows the library's creation rule: the event is
// created (or, when a named event exists, opened and used as it is); any other
// failure raises the system error. The destructor closes the handle.
// Thread rules: Set, Reset and the waits may be called from any thread; the object
// itself must outlive every wait on it.
class COREWU_API ZCEvent
{
public:
    ZCEvent(UINT manualReset = 1, UINT initialState = 0, const WCHAR* name = nullptr);
    virtual ~ZCEvent();
    ZCEvent(const ZCEvent&) = delete;
    ZCEvent& operator=(const ZCEvent&) = delete;

    // Nonzero when the event is set (taking it, for an auto-reset event).
    virtual UINT IsSet();
    // Waits for this event or `stop`; nonzero only when this event ended the wait
    // (stop wins when both are set).
    virtual UINT Wait(const ZCEvent& stop, DWORD timeout);
    // Waits for this event; nonzero when it was set within the time-out.
    virtual UINT Wait(DWORD timeout);
    virtual UINT IsAutoReset() const;

    BOOL Set();
    BOOL Reset();
    HANDLE Handle() const { return m_Handle; }

protected:
    // Closes the handle and forgets it (no-op when already closed).
    void CloseEvent();

    bool m_AutoReset;
    HANDLE m_Handle;
};

// A Win32 mutex. The destructor closes the handle (releasing first if this thread
// still owns it). Thread rules: any thread may lock; only the owner unlocks.
class COREWU_API ZCMutex
{
public:
    ZCMutex(UINT initialOwner = 0, const WCHAR* name = nullptr);
    virtual ~ZCMutex();
    ZCMutex(const ZCMutex&) = delete;
    ZCMutex& operator=(const ZCMutex&) = delete;

    // WAIT_OBJECT_0 (or WAIT_ABANDONED_0) when taken, WAIT_TIMEOUT, WAIT_FAILED.
    DWORD Lock(DWORD timeout = INFINITE);
    BOOL Unlock();
    HANDLE Handle() const { return m_Handle; }

private:
    HANDLE m_Handle;
};

// Holds a ZCMutex for the lifetime of the scope.
class COREWU_API ZCAutoFreeMutex
{
public:
    explicit ZCAutoFreeMutex(ZCMutex& mutex);
    ~ZCAutoFreeMutex();
    ZCAutoFreeMutex(const ZCAutoFreeMutex&) = delete;
    ZCAutoFreeMutex& operator=(const ZCAutoFreeMutex&) = delete;

private:
    ZCMutex& m_Mutex;
};

// The plain part of an error record: catalog number (0xFFFF: none) and message.
struct COREWU_API ZCInfoRaw
{
    WORD m_Catalog = 0xFFFF;
    WORD m_Message = 0;

    // Stores a 32-bit value so that concurrent readers see the old or the new value.
    static void AtomicAssignULong(volatile ULONG* target, ULONG value);
};

// A recorded error: catalog, message, three arguments and a mutex that guards the
// record. Copying builds a new mutex; CopyFrom copies under both mutexes, the
// destination's first. Thread rules: writers use CopyFrom or Lock(); readers read
// after the writer has published the record (for threads: after their end).
class COREWU_API ZCInfo : public ZCInfoRaw
{
public:
    ZCInfo();
    ZCInfo(WORD catalog, WORD message, const TString& a1, const TString& a2, const TString& a3);
    ZCInfo(const ZCInfo& other);
    ZCInfo& operator=(const ZCInfo& other);
    virtual ~ZCInfo();

    // Copies the numbers and arguments of `source`, taking this record's mutex first,
    // then the source's, and releasing them in the opposite order.
    void CopyFrom(ZCInfo& source);
    void Clear();

    WORD Catalog() const { return m_Catalog; }
    WORD Message() const { return m_Message; }
    const TString& A1() const { return m_A1; }
    const TString& A2() const { return m_A2; }
    const TString& A3() const { return m_A3; }
    // True when the record holds an error (catalog other than 0xFFFF).
    bool HasError() const { return m_Catalog != 0xFFFF; }
    // The record's text through the message store.
    TString Text() const;
    ZCMutex& Mutex() { return m_Mutex; }

    TString m_A1;
    TString m_A2;
    TString m_A3;

private:
    ZCMutex m_Mutex;
};

} // namespace ZANTH

#endif // COREWU_SYNC_H
