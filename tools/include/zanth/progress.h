// Nested progress reporting: TProgress records that long-running code opens and
// advances, and TProgressView, the per-thread view that an application derives to
// show them; TTlsSlot holds one value per thread.
#ifndef ZANTH_PROGRESS_H
#define ZANTH_PROGRESS_H

#include <corewu/tstring.h>
#include <zanth/config.h>
#include <zanth/list.h>

// One value of pointer type T per thread, in a thread-local-storage index taken
// when the slot is built and given back when it is destroyed. Every thread starts
// with a null value. Thread rules: Get and Set reach the calling thread's value
// only, so any thread may call them.
template <class T> class TTlsSlot
{
public:
    TTlsSlot() : m_Index(::TlsAlloc()) {}
    virtual ~TTlsSlot()
    {
        if (m_Index != TLS_OUT_OF_INDEXES) {
            ::TlsFree(m_Index);
        }
    }
    TTlsSlot(const TTlsSlot&) = delete;
    TTlsSlot& operator=(const TTlsSlot&) = delete;

    // The calling thread's value (null without an index).
    T Get() const
    {
        return m_Index == TLS_OUT_OF_INDEXES ? nullptr : static_cast<T>(::TlsGetValue(m_Index));
    }
    void Set(T value)
    {
        if (m_Index != TLS_OUT_OF_INDEXES) {
            ::TlsSetValue(m_Index, const_cast<void*>(static_cast<const void*>(value)));
        }
    }
    DWORD Index() const { return m_Index; }

private:
    DWORD m_Index;
};

class TProgressView;

// A progress record: work from Min() to Max() that reports with Do(n) how much it
// is about to do. Opened while the calling thread has a view, it joins that view's
// list of open records and spans exactly the current step of the record that
// encloses it; the view is told only when its bar must move. Without a view it
// reports to nobody at the cost of an addition and a comparison per Do. Close it
// (or let it be destroyed) in the reverse order of opening.
// Thread rules: a record belongs to the thread that opened it.
class ZANTH_TOOLS_API TProgress : public TListElement
{
public:
    TProgress();
    TProgress(const WCHAR* name, LONG min, LONG max, UINT abortable);
    // A copy takes the values but is open in no view: destroying it touches no list.
    TProgress(const TProgress& other);
    TProgress& operator=(const TProgress& other);
    // Closes the record as Close() does.
    ~TProgress() noexcept(false) override;

    // Adds the step announced by the previous Do to the current value, announces n
    // as the next step, and tells the view when the bar has to move.
    void Do(LONG n)
    {
        m_Act = Wrap(static_cast<LONGLONG>(m_Act) + m_Step);
        m_Step = n;
        if (m_Act >= m_NextUpdate) {
            Report();
        }
    }
    // Adds the pending step, tells the view, and leaves the view's list. A record
    // that is closed already, or open in another view than the thread's, changes
    // nothing.
    void Close();
    void Cancel() {}

    TString Name() const { return m_Name; }
    LONG Min() const { return m_Min; }
    LONG Max() const { return m_Max; }
    LONG Size() const { return m_Size; }
    LONG AbsoluteAct() const { return m_Act; }
    LONG AbsoluteNext() const { return Wrap(static_cast<LONGLONG>(m_Act) + m_Step); }
    LONG RelativeAct() const { return Wrap(static_cast<LONGLONG>(m_Act) - m_Min); }
    LONG RelativeNext() const { return Wrap(static_cast<LONGLONG>(m_Act) + m_Step - m_Min); }
    UINT Abortable() const { return m_Abortable; }

private:
    friend class TProgressView;

    // 32-bit results wrap as the 32-bit arithmetic of the record's fields does.
    static LONG Wrap(LONGLONG value) { return static_cast<LONG>(static_cast<DWORD>(value)); }
    void Report();

    TString m_Name;
    LONG m_Min;
    LONG m_Max;
    LONG m_Size;
    LONG m_Act;
    LONG m_Step;
    LONG m_NextUpdate;
    UINT m_Abortable;
    // The view whose list holds the record; null while it is open nowhere.
    TProgressView* m_pView;
};

// The display of the progress records of one thread, from Min() to Max() in steps
// of StepSize(). Derive from it and implement Display, which is called with the
// bar's new position only when the bar moves by at least one step (at most once
// per report). Open registers the view as the calling thread's view; Close takes
// it away again. The view keeps the thread's open records in a list, outermost
// first.
// Thread rules: a view is used by the thread that opened it.
class ZANTH_TOOLS_API TProgressView
{
public:
    TProgressView();
    // A copy takes the settings but starts with an empty list (the records stay
    // with the original).
    TProgressView(const TProgressView& other);
    TProgressView& operator=(const TProgressView& other);
    // Closes the view (errors are dropped), then deletes the records still in its
    // list.
    virtual ~TProgressView() noexcept(false);

    virtual void Open(const WCHAR* name, LONG min, LONG max, LONG stepSize, UINT abortable);
    // Non-zero when the user asked to stop; this view never does.
    virtual UINT IsCanceld();
    // Takes the view away from the calling thread, if it is the thread's view. The
    // records in the list stay.
    virtual void Close();
    // Sets the calling thread's view to null.
    static void Init();

protected:
    // Draws the bar at `position` (between Min() and Max()).
    virtual void Display(LONG position) = 0;
    void Cancel() {}

    const TString& Name() const { return m_Name; }
    LONG Min() const { return m_Min; }
    LONG Max() const { return m_Max; }
    LONG Size() const { return m_Size; }
    LONG Act() const { return m_Act; }
    LONG StepSize() const { return m_StepSize; }
    UINT Abortable() const { return m_Abortable; }
    TList* Progresses() { return &m_Progresses; }

private:
    friend class TProgress;

    // Appends a newly opened record at the tail of the list.
    virtual void ProgressOpen(TProgress* progress);
    // Takes a closing record off the list (the innermost one, normally the tail).
    virtual void ProgressClose(TProgress* progress);
    // Moves the bar as far as `progress` has come and calls Display once.
    void ProgressDo(TProgress* progress);
    // The value of progress's act at which the bar reaches its next step, or
    // 2147483647 when no progress of this record can move it.
    LONG ProgressNextUpdate(TProgress* progress);
    // Forgets every record in the list before the list deletes them.
    void DetachRecords();

    TString m_Name;
    LONG m_Min;
    LONG m_Max;
    LONG m_Size;
    LONG m_Act;
    LONG m_StepSize;
    UINT m_Abortable;
    TList m_Progresses;

    static TTlsSlot<TProgressView*> s_pProgressView;
};

#endif // ZANTH_PROGRESS_H
