// Stop-watch timer, time-sliced work, the raw system clock and the console control
// handler: TTimer, TThreadFunc, ZCMetaTimeAndDate and ConsoleControlHandler.
#ifndef ZANTH_TIMER_H
#define ZANTH_TIMER_H

#include <zanth/config.h>

// A stop-watch and alarm on the performance counter. Start/Stop pairs add up
// until Reset; Time() reads the total in milliseconds, also while running.
// Copying copies the whole state. Thread rules: one thread at a time per object.
class ZANTH_TOOLS_API TTimer
{
public:
    TTimer();
    TTimer(const TTimer&) = default;
    TTimer& operator=(const TTimer&) = default;

    void Start();
    // Adds the time since Start to the total; on a watch that is not running it
    // changes nothing.
    void Stop();
    // Clears the total and stops the watch (a later Stop adds nothing).
    void Reset();
    // The total in milliseconds (low 32 bits).
    DWORD Time();
    // Sets the alarm `milliseconds` from now; Ringing() answers 1 once it is due.
    void Alarm(DWORD milliseconds);
    UINT Ringing();

private:
    LONGLONG m_Frequency;
    LONGLONG m_Accumulated;
    LONGLONG m_StartCount;
    LONGLONG m_LastCount;
    LONGLONG m_AlarmCount;
    UINT m_Running;
};

// A unit of work done in parts, reference-counted between its owner and the work
// itself: it is built with two references; the owner gives up its own with
// ThreadDelete, the work gives up its own when DoWork reports the work finished
// (in ThreadDoParts or ThreadDoTime). Whichever comes last deletes the object, so
// the object must be created with new.
// Thread rules: the reference count is atomic, so the owner may let go on another
// thread than the one doing the work; the work itself runs on one thread at a time.
class ZANTH_TOOLS_API TThreadFunc
{
public:
    // How long one call of ThreadDoTime should take at least, and the number of
    // parts per call found by measuring (0 = not yet measured).
    // Thread rules: one thread at a time per object.
    class ZANTH_TOOLS_API TTime
    {
    public:
        TTime() : m_MinMilliSec(s_NormalUserAccessTime), m_PartCount(0) {}
        explicit TTime(LONG milliseconds) : m_MinMilliSec(milliseconds), m_PartCount(0) {}
        TTime(const TTime&) = default;
        TTime& operator=(const TTime&) = default;

        LONG MinMilliSec() const { return m_MinMilliSec; }
        LONG PartCount() const { return m_PartCount; }
        void PartCount(LONG count) { m_PartCount = count; }

    private:
        LONG m_MinMilliSec;
        LONG m_PartCount;
    };

    // The owner lets go of its reference (null is ignored).
    static void ThreadDelete(TThreadFunc* work);
    // Does all of the work: ThreadDoParts(10000) until it reports the end.
    void ThreadDo();
    // One call of DoWork(parts). Returns its result; 0 means the work is finished
    // and its reference released (the object may be gone). A TException from
    // DoWork is passed on after the release; any other exception is reported and
    // the work treated as finished. On work that has finished (while the owner
    // still holds it) it calls nothing and returns 0.
    LONG ThreadDoParts(LONG parts);
    // Time-sliced work: with a measured part count, one DoWork(PartCount);
    // otherwise DoWork(1) repeatedly for at least time.MinMilliSec(), leaving the
    // number of calls in the part count. Returns the result (the sum while
    // measuring) while work remains, and 0 once the work has ended: then the part
    // count returns to 0 and the reference is released. On finished work it calls
    // nothing and returns 0. Errors as in ThreadDoParts.
    LONG ThreadDoTime(TTime& time);
    LONG PartSize() const { return m_PartSize; }

protected:
    explicit TThreadFunc(LONG partSize);
    // A copy is a new unit of work with its own two references; only the part size
    // is taken from the original.
    TThreadFunc(const TThreadFunc& other);
    // Copies the part size; the references stay those of this object.
    TThreadFunc& operator=(const TThreadFunc& other);
    virtual ~TThreadFunc();

    // Does up to `parts` parts of the work; nonzero while work remains, 0 when the
    // work is finished.
    virtual LONG DoWork(LONG parts) = 0;
    void PartSize(LONG size) { m_PartSize = size; }

private:
    // Gives up one reference and deletes the object at the last one.
    void Release();
    // Gives up the work's own reference, once.
    void Finish();
    // Runs call(context), a stretch of DoWork calls. A TException releases the work
    // and is passed on; the thread's own end (ExitThread) unwinds on; any other
    // exception is reported and false returned: the work counts as finished.
    bool RunWork(void (*call)(void* context), void* context);

    static const LONG s_NormalUserAccessTime = 50;

    volatile LONG m_RefCount;
    LONG m_PartSize;
    // The work has ended and given up its reference (touched only by the thread
    // doing the work).
    bool m_Finished;
};

namespace ZANTH {

// The system clock as a raw 64-bit FILETIME value (100-ns units since 1601-01-01
// UTC). Stateless; any thread may call it.
class ZANTH_TOOLS_API ZCMetaTimeAndDate
{
public:
    ZCMetaTimeAndDate() = default;
    ZCMetaTimeAndDate(const ZCMetaTimeAndDate&) = default;
    ZCMetaTimeAndDate& operator=(const ZCMetaTimeAndDate&) = default;

    static LONGLONG GetCurrent();
    // The same instant as a SYSTEMTIME in UTC.
    static SYSTEMTIME GetSystemTime();

private:
    static LONGLONG* CastFromFileTimeToRaw(FILETIME* fileTime);
};

} // namespace ZANTH

// A console control handler for SetConsoleCtrlHandler: writes "ConsoleControlHandler():
// End of console requested (<signal>)" to the log (level 3) and to standard
// output, sets g_theControlHandlerStopEvent and answers 1 (handled). It runs on
// the platform's handler thread; the application's threads wait on the event.
ZANTH_TOOLS_API BOOL WINAPI ConsoleControlHandler(DWORD controlType);

#endif // ZANTH_TIMER_H
