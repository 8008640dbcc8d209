// Events and multi-wait, the thread framework and the priority message queue:
// ZCMultiMessage, ZCThreadInterface/ZCThreadBase/ZCThread, ZCMessageQueueRaw and
// the typed queue TMessageQueue<T> over it.
#ifndef ZANTH_THREAD_H
#define ZANTH_THREAD_H

#include <corewu/smartptr.h>
#include <corewu/sync.h>
#include <corewu/tstring.h>
#include <zanth/config.h>

#include <atomic>
#include <cstdint>

namespace ZANTH {

// ---------------------------------------------------------------------------
// Events and multi-wait
// ---------------------------------------------------------------------------

// An event that the tools library creates itself, with static waits on any one or
// all of two to eight events. Creation follows ZCEvent's rule: a named event that
// exists already is opened and used as it is (its state and reset mode unchanged);
// any other failure raises the system error. The object owns its handle and
// closes it when destroyed.
// Thread rules: any thread may set, reset and wait; the object must outlive every
// wait on it. The static waits block only the calling thread.
class ZANTH_TOOLS_API ZCMultiMessage : public ZCEvent
{
public:
    // The default is manual reset, not set, unnamed.
    ZCMultiMessage(UINT manualReset = 1, UINT initialState = 0, const WCHAR* name = nullptr);
    ~ZCMultiMessage() override;

    operator const ZCEvent*() const { return this; }

    // Waits until one of the events is set. Returns the 1-based position of the
    // event that ended the wait (the lowest position when several are set), or 0
    // on time-out, failure or an abandoned wait. Time-outs are in milliseconds;
    // INFINITE waits without limit. The event pointers must not be null.
    static int WaitAny(const ZCEvent* e1, const ZCEvent* e2, DWORD timeout);
    static int WaitAny(const ZCEvent* e1, const ZCEvent* e2, const ZCEvent* e3, DWORD timeout);
    static int WaitAny(const ZCEvent* e1, const ZCEvent* e2, const ZCEvent* e3, const ZCEvent* e4,
                       DWORD timeout);
    static int WaitAny(const ZCEvent* e1, const ZCEvent* e2, const ZCEvent* e3, const ZCEvent* e4,
                       const ZCEvent* e5, DWORD timeout);
    static int WaitAny(const ZCEvent* e1, const ZCEvent* e2, const ZCEvent* e3, const ZCEvent* e4,
                       const ZCEvent* e5, const ZCEvent* e6, DWORD timeout);
    static int WaitAny(const ZCEvent* e1, const ZCEvent* e2, const ZCEvent* e3, const ZCEvent* e4,
                       const ZCEvent* e5, const ZCEvent* e6, const ZCEvent* e7, DWORD timeout);
    static int WaitAny(const ZCEvent* e1, const ZCEvent* e2, const ZCEvent* e3, const ZCEvent* e4,
                       const ZCEvent* e5, const ZCEvent* e6, const ZCEvent* e7, const ZCEvent* e8,
                       DWORD timeout);

    // Waits until all events are set at once (taking them together, so auto-reset
    // events are reset together). Nonzero when that happened within the time-out.
    static UINT WaitAll(const ZCEvent* e1, const ZCEvent* e2, DWORD timeout);
    static UINT WaitAll(const ZCEvent* e1, const ZCEvent* e2, const ZCEvent* e3, DWORD timeout);
    static UINT WaitAll(const ZCEvent* e1, const ZCEvent* e2, const ZCEvent* e3, const ZCEvent* e4,
                        DWORD timeout);
    static UINT WaitAll(const ZCEvent* e1, const ZCEvent* e2, const ZCEvent* e3, const ZCEvent* e4,
                        const ZCEvent* e5, DWORD timeout);
    static UINT WaitAll(const ZCEvent* e1, const ZCEvent* e2, const ZCEvent* e3, const ZCEvent* e4,
                        const ZCEvent* e5, const ZCEvent* e6, DWORD timeout);
    static UINT WaitAll(const ZCEvent* e1, const ZCEvent* e2, const ZCEvent* e3, const ZCEvent* e4,
                        const ZCEvent* e5, const ZCEvent* e6, const ZCEvent* e7, DWORD timeout);
    static UINT WaitAll(const ZCEvent* e1, const ZCEvent* e2, const ZCEvent* e3, const ZCEvent* e4,
                        const ZCEvent* e5, const ZCEvent* e6, const ZCEvent* e7, const ZCEvent* e8,
                        DWORD timeout);
    // One event: the event's own Wait(timeout).
    static UINT WaitAll(ZCEvent* e, DWORD timeout);

protected:
    ZCEvent& _GetZCEvent() { return *this; }
};

// ---------------------------------------------------------------------------
// Threads
// ---------------------------------------------------------------------------
class ZCThreadBase;
class ZCThread;

// The function a ZCThread runs: it receives its thread object and the parameter
// given to Start; its result becomes the thread's exit code.
typedef DWORD (*ThreadFunction)(ZCThreadBase* thread, void* parameter);

// The operations of a thread object, without any state: what ZCThread offers to
// code that should not depend on how the thread is started. Copying copies nothing.
// Thread rules: those of the implementing class (ZCThreadBase).
class ZANTH_TOOLS_API ZCThreadInterface
{
public:
    enum TStatus : LONG
    {
        Starting = -4,   // Start was called; the new thread has not run yet
        NotStarted = -3, // built or reset, never started
        Running = -2,    // the function runs (also kept after a foreign exception)
        Terminated = 0,  // the function returned
        Failed = 1       // the thread was not created, or the function raised a TException
    };

    ZCThreadInterface() = default;
    ZCThreadInterface(const ZCThreadInterface&) {}
    ZCThreadInterface& operator=(const ZCThreadInterface&) { return *this; }
    virtual ~ZCThreadInterface() = default;

    virtual void Reset() = 0;
    virtual void RequestStop() = 0;
    virtual TStatus GetStatus() const = 0;
    virtual UINT IsStopRequested() = 0;
    virtual UINT WaitUntilStopRequested(DWORD timeout) = 0;
    virtual ZCEvent* GetTerminateEvent() = 0;
    virtual ZCEvent* GetStopEvent() = 0;
    virtual UINT WaitUntilStopped(DWORD timeout) = 0;
    virtual ZCEvent* GetStartEvent() = 0;
    virtual UINT WaitUntilStarted(DWORD timeout) = 0;
    virtual DWORD ExitCode() const = 0;
    virtual ZCInfo ExceptionInfo() = 0;
};

// Everything of a thread object except starting and resetting: the start, stop
// and terminate events (manual reset), status, exit code, name, start counters and
// the recorded error of the last run. The object owns its events and closes them
// when destroyed.
// Thread rules: RequestStop, the waits and the getters may be called from any
// thread; the status and exit code are final once the terminate event is set.
class ZANTH_TOOLS_API ZCThreadBase : public ZCThreadInterface
{
public:
    // Capacity of the name: longer names are cut to this many characters.
    static constexpr int NameLength = 128;

    ~ZCThreadBase() override;

    void RequestStop() override;
    TStatus GetStatus() const override;
    UINT IsStopRequested() override;
    UINT WaitUntilStopRequested(DWORD timeout) override;
    ZCEvent* GetTerminateEvent() override;
    ZCEvent* GetStopEvent() override;
    // 0 at once when never started; otherwise the terminate event's Wait(timeout).
    UINT WaitUntilStopped(DWORD timeout) override;
    ZCEvent* GetStartEvent() override;
    UINT WaitUntilStarted(DWORD timeout) override;
    DWORD ExitCode() const override;
    // A copy of the error recorded by the last run (catalog 0xFFFF when none).
    ZCInfo ExceptionInfo() override;

    virtual void Start(ThreadFunction function, void* parameter) = 0;
    // The name, always terminated (at most NameLength characters).
    virtual const WCHAR* Name() const;

    // The class-wide start number given to the last Start (0 before the first).
    LONG StartNumber() const { return m_StartNumber.load(std::memory_order_relaxed); }
    // The flag given to the constructor; stored for the caller, never read here.
    UINT Flag() const { return m_Flag; }

protected:
    ZCThreadBase(UINT flag, const WCHAR* name);

    ZCEvent m_TerminateEvent;
    ZCEvent m_StartEvent;
    std::atomic<TStatus> m_Status;
    std::atomic<DWORD> m_ExitCode;
    ZCEvent m_StopEvent;
    WCHAR m_Name[NameLength + 1];
    UINT m_Flag;
    volatile LONG m_StartCounter;
    std::uintptr_t m_ThreadHandle;
    std::uintptr_t m_BeginThreadResult;
    std::atomic<LONG> m_StartNumber;
    ZCInfo m_ExceptionInfo;

    // Raised once per Start, across all thread objects.
    static volatile LONG m_HandleCounterGenerator;
};

// Runs one caller function on a thread of its own. Start begins the thread; the
// function should watch the stop event (IsStopRequested, or a multi-wait with its
// own events) and return when it is set. Reset and the destructor request a stop
// and wait for the thread to end, so a function that never looks at the stop event
// makes them wait forever.
// Thread rules: one owner starts, resets and destroys the object; other threads
// may request a stop, wait and read the status.
class ZANTH_TOOLS_API ZCThread : public ZCThreadBase
{
public:
    // Both constructors start the thread at once when `function` is not null.
    ZCThread(ThreadFunction function = nullptr, void* parameter = nullptr, UINT flag = 1,
             const WCHAR* name = nullptr);
    ZCThread(UINT flag, const WCHAR* name, ThreadFunction function = nullptr,
             void* parameter = nullptr);
    ~ZCThread() override;

    // Stops and waits for a started thread, then makes the object startable again.
    // Raises MsgThread 4 when the ended thread left neither Terminated nor Failed.
    void Reset() override;
    // Starts the thread. Raises MsgThread 1 when the object was started before
    // without a Reset, 2 (EAGAIN) or 3 (EINVAL, also for a null function) or 4
    // (other errno) when the thread cannot be created; the status is then Failed.
    void Start(ThreadFunction function, void* parameter) override;
    // WaitUntilStopped(INFINITE).
    virtual DWORD WaitUnitStopped();

private:
    static void CallerFunction(void* object);
    void Destructor();
    void Constructor();

    ThreadFunction m_Function;
    void* m_Parameter;
    // The status that a refused second Start replaced by Starting (NotStarted when
    // there was none), so that Reset can still judge how the run ended.
    std::atomic<TStatus> m_StatusBeforeRefusal;
};

// ---------------------------------------------------------------------------
// Message queue
// ---------------------------------------------------------------------------

// A bounded queue of untyped message pointers between threads, ordered by
// descending priority with equal priorities in sending order. The queue is itself
// an event, set while it holds a message, so a receiver can wait on it together
// with other events (ZCMultiMessage::WaitAny). Filters may refuse messages.
// The queue holds only pointers: it never copies or frees what they point to.
// Derive a typed queue from it (TMessageQueue<T> below does so).
// Thread rules: any number of threads may send and receive; filters run under
// the queue's lock and must not call back into the queue.
class ZANTH_TOOLS_API ZCMessageQueueRaw : public ZCMultiMessage
{
public:
    typedef UINT (*TFilter)(const void* message, void* context);

    // Capacity of the name: longer names are cut to this many characters.
    static constexpr int NameLength = 32;

    ~ZCMessageQueueRaw() override;

    // Appends a filter; returns the number of filters now installed.
    int AddFilter(TFilter filter, void* context);
    // 1 when every filter (in the order added) accepts the message, else 0.
    UINT DoFilter(const void* message);
    // "<name> <function> <text>", the form of the queue's log lines.
    TString LogString(const WCHAR* function, const WCHAR* text) const;

    // Read without the lock: a snapshot that may be stale by the time it is used.
    UINT IsOverrun() const;
    UINT IsEmpty() const;
    UINT IsFull() const;
    int Count() const { return m_Count.load(std::memory_order_relaxed); }
    int Capacity() const { return m_Capacity; }
    const WCHAR* Name() const { return m_Name; }

protected:
    // The ring is allocated here; when that fails (or the capacity is not positive)
    // the failure is logged, Send returns 0 and Receive raises an error.
    ZCMessageQueueRaw(int capacity, const WCHAR* name);

    // 1 when queued; 0 when refused by a filter, when full and `wait` is 0 (the
    // overrun flag is then set and logged), or when the queue has no ring. With
    // `wait` a full queue blocks the sender until there is room.
    UINT Send(void* message, int priority, UINT wait);
    // Waits until a message is there and returns the head message; with `remove`
    // it is taken out of the queue. `priority` (when not null) receives its
    // priority. Raises an error on a queue without a ring.
    void* Receive(UINT remove, int* priority);

private:
    // One message. Entries of one priority form a chain in sending order.
    struct TEntry
    {
        LONGLONG time; // FILETIME of sending
        void* message;
        int priority;
        int next; // the next entry of the same priority, or -1
    };
    // The chain of the waiting messages of one priority.
    struct TRun
    {
        int priority;
        int first;
        int last;
    };
    struct TFilterNode
    {
        TFilterNode* next;
        TFilter filter;
        void* context;
    };

    UINT DoFilterLocked(const void* message);
    // The steps of Send. Waits until the queue has room and takes the lock; false,
    // without the lock, when the queue is full and `wait` is 0.
    bool LockWithRoom(UINT wait);
    // Under the lock: the position among the runs where a message of `priority`
    // belongs (a run of that priority, or the place for a new one).
    int FindRun(int priority);
    // Under the lock, with room: queues the message at that position.
    void Insert(void* message, int priority, LONGLONG time, int run);
    // Brings an index that ran one lap off either end of the run ring back into it.
    int Normalize(int index) const
    {
        return index >= m_Capacity ? index - m_Capacity : (index < 0 ? index + m_Capacity : index);
    }
    TRun& RunAt(int offset) { return m_pRuns[Normalize(m_FirstRun + offset)]; }
    void LogLine(const WCHAR* function, const WCHAR* text) const;

    // The ring of runs and the entries (messagequeue.cpp tells how they work).
    ZCMutex m_Mutex;
    int m_Capacity;
    int m_FirstRun;
    int m_RunCount;
    std::atomic<int> m_Count;
    std::atomic<UINT> m_DidOverrun;
    WCHAR m_Name[NameLength + 1];
    TEntry* m_pMessageStack;
    TRun* m_pRuns;
    int m_FreeEntry;
    TFilterNode* m_pFilters;
    ZCEvent m_NotFull;
};

// A queue of T* over ZCMessageQueueRaw, so that callers need no casts. The queue
// holds pointers only; whoever receives a message owns what it points to.
// Thread rules: those of ZCMessageQueueRaw.
template <class T> class TMessageQueue : public ZCMessageQueueRaw
{
public:
    explicit TMessageQueue(int capacity, const WCHAR* name = nullptr)
        : ZCMessageQueueRaw(capacity, name)
    {}

    // Queues `message`; by default a full queue blocks the sender (nothing lost).
    UINT Send(T* message, int priority = 0, UINT wait = 1)
    {
        return ZCMessageQueueRaw::Send(message, priority, wait);
    }
    // Waits for the head message and takes it out (with `remove` 0 it stays).
    T* Receive(UINT remove = 1, int* priority = nullptr)
    {
        return static_cast<T*>(ZCMessageQueueRaw::Receive(remove, priority));
    }
};

} // namespace ZANTH

// The library's owning pointers to threads and events.
extern template class ZANTH_TOOLS_API TSmartPtr<ZANTH::ZCThread>;
extern template class ZANTH_TOOLS_API TSmartPtr<ZANTH::ZCEvent>;

#endif // ZANTH_THREAD_H
