// TProgress and TProgressView: nested progress records and the per-thread view.
//
// A record's Do is an addition and one comparison with its "next update", a value
// in the record's own units at which the view's bar reaches its next step. Only
// when it is reached does the record look up the thread's view, map its position
// through the enclosing records onto the bar, and let the view draw.
#include <corewu/errors.h>
#include <zanth/progress.h>

#include <cmath>

namespace {

constexpr LONG kNever = 2147483647;

// Rounds a single-precision position up to the next whole value, as modf splits
// it, and keeps it inside the 32-bit range (NaN counts as never).
LONG RoundUp(float value)
{
    double whole = 0.0;
    const double fraction = std::modf(static_cast<double>(value), &whole);
    if (fraction > 0.0) {
        whole += 1.0;
    }
    if (!(whole < 2147483647.0)) {
        return kNever;
    }
    if (whole < -2147483648.0) {
        return static_cast<LONG>(-2147483647 - 1);
    }
    return static_cast<LONG>(whole);
}

} // namespace

// ---------------------------------------------------------------------------
// TProgress
// ---------------------------------------------------------------------------

TProgress::TProgress() : TProgress(TEXT(""), 0, 100, 1) {}

TProgress::TProgress(const WCHAR* name, LONG min, LONG max, UINT abortable)
    : m_Name(name ? name : TEXT("")), m_Min(min), m_Max(max),
      m_Size(Wrap(static_cast<LONGLONG>(max) - min)), m_Act(min), m_Step(0), m_NextUpdate(max),
      m_Abortable(abortable), m_pView(nullptr)
{
    TProgressView* view = TProgressView::s_pProgressView.Get();
    if (view) {
        view->ProgressOpen(this);
        m_pView = view;
        m_NextUpdate = view->ProgressNextUpdate(this);
    } else {
        // Reports to nobody: Do never reaches the threshold.
        m_Min = m_Act = static_cast<LONG>(-2147483647 - 1);
        m_Max = m_NextUpdate = kNever;
    }
}

// A copy has links and a view of its own (none): the assignment copies the values.
TProgress::TProgress(const TProgress& other)
    : TListElement(), m_Min(0), m_Max(0), m_Size(0), m_Act(0), m_Step(0), m_NextUpdate(kNever),
      m_Abortable(0), m_pView(nullptr)
{
    *this = other;
}

TProgress& TProgress::operator=(const TProgress& other)
{
    if (this != &other) {
        // The values only: the links and the view stay this record's own.
        m_Name = other.m_Name;
        m_Min = other.m_Min;
        m_Max = other.m_Max;
        m_Size = other.m_Size;
        m_Act = other.m_Act;
        m_Step = other.m_Step;
        m_Abortable = other.m_Abortable;
        if (!m_pView) {
            m_NextUpdate = other.m_pView ? kNever : other.m_NextUpdate;
        }
    }
    return *this;
}

TProgress::~TProgress() noexcept(false)
{
    RunDestructorWork([this] {
        Close();
        // Still listed in a view that is not the thread's any more: leave the list
        // without reporting, so that it never names a destroyed record.
        if (m_pView) {
            TProgressView* view = m_pView;
            m_pView = nullptr;
            view->m_Progresses.Remove(this);
        }
    });
}

void TProgress::Report()
{
    TProgressView* view = TProgressView::s_pProgressView.Get();
    if (m_Act > m_Max) {
        // A record whose max lies below its min keeps its place instead.
        m_Act = m_Max < m_Min ? m_Act : m_Max;
    }
    if (view && view == m_pView) {
        view->ProgressDo(this);
        m_NextUpdate = view->ProgressNextUpdate(this);
    } else {
        m_NextUpdate = kNever;
    }
}

void TProgress::Close()
{
    TProgressView* view = TProgressView::s_pProgressView.Get();
    if (!view || view != m_pView) {
        return; // closed already, or never opened in this thread's view
    }
    m_Act = Wrap(static_cast<LONGLONG>(m_Act) + m_Step);
    m_Step = 0;
    if (m_Act >= m_NextUpdate) {
        Report();
    }
    view->ProgressClose(this);
    m_pView = nullptr;
    m_NextUpdate = kNever;
}

// ---------------------------------------------------------------------------
// TProgressView
// ---------------------------------------------------------------------------

TProgressView::TProgressView()
    : m_Min(0), m_Max(0), m_Size(0), m_Act(0), m_StepSize(0), m_Abortable(0)
{}

// A copy starts without records: the assignment copies the settings.
TProgressView::TProgressView(const TProgressView& other) : TProgressView()
{
    *this = other;
}

TProgressView& TProgressView::operator=(const TProgressView& other)
{
    if (this != &other) {
        // The settings only: each view keeps its own records.
        m_Name = other.m_Name;
        m_Min = other.m_Min;
        m_Max = other.m_Max;
        m_Size = other.m_Size;
        m_Act = other.m_Act;
        m_StepSize = other.m_StepSize;
        m_Abortable = other.m_Abortable;
    }
    return *this;
}

TProgressView::~TProgressView() noexcept(false)
{
    RunDestructorWork([this] { Close(); }, TDestructorErrors::Swallow);
    DetachRecords();
    m_Progresses.DeleteAll();
}

void TProgressView::DetachRecords()
{
    for (TListElement* e = m_Progresses.GetHead(); e; e = e->Next()) {
        static_cast<TProgress*>(e)->m_pView = nullptr;
    }
}

void TProgressView::Open(const WCHAR* name, LONG min, LONG max, LONG stepSize, UINT abortable)
{
    m_Name = TString(name ? name : TEXT(""));
    m_Min = min;
    m_Max = max;
    m_Size = TProgress::Wrap(static_cast<LONGLONG>(max) - min);
    m_Act = min;
    m_StepSize = stepSize;
    m_Abortable = abortable;
    s_pProgressView.Set(this);
}

UINT TProgressView::IsCanceld()
{
    return 0;
}

void TProgressView::Close()
{
    // Only the thread's own view gives up its place: closing (or destroying) a
    // copy or another view leaves the thread's view alone.
    if (s_pProgressView.Get() == this) {
        s_pProgressView.Set(nullptr);
    }
}

void TProgressView::Init()
{
    s_pProgressView.Set(nullptr);
}

void TProgressView::ProgressOpen(TProgress* progress)
{
    m_Progresses.AddTail(progress);
}

void TProgressView::ProgressClose(TProgress* progress)
{
    // Normally the innermost record closes, the tail; a record closed out of its
    // nesting order leaves by itself and takes no other record with it.
    if (m_Progresses.GetTail() == progress) {
        m_Progresses.RemoveTail();
    } else {
        m_Progresses.Remove(progress);
    }
}

LONG TProgressView::ProgressNextUpdate(TProgress* progress)
{
    // The bar cannot move: at its end, over an empty range, or backwards.
    if (m_Act >= m_Max || m_Size <= 0 || progress->m_Size < 0) {
        return kNever;
    }
    // A step of 0 (or less) could never reach a new position; the bar moves by
    // one unit at least.
    const LONGLONG stepSize = m_StepSize > 0 ? m_StepSize : 1;
    double range = static_cast<float>(m_Size);
    double x = static_cast<double>(static_cast<LONGLONG>(m_Act) + stepSize - m_Min);
    if (x > range) {
        x = range;
    }
    for (TListElement* e = m_Progresses.GetHead(); e && e != progress; e = e->Next()) {
        const TProgress* q = static_cast<const TProgress*>(e);
        if (q->m_Size < 0 || range == 0.0) {
            return kNever; // an enclosing record spans nothing
        }
        x = x * q->m_Size / range;
        const double relativeAct = static_cast<double>(static_cast<LONGLONG>(q->m_Act) - q->m_Min);
        if (x > relativeAct + q->m_Step) {
            return kNever; // beyond the enclosing record's current step
        }
        x -= relativeAct;
        if (x < 0.0) {
            x = 0.0;
        }
        range = q->m_Step;
    }
    float r;
    if (range == 0.0) {
        r = static_cast<float>(progress->m_Min + x);
    } else {
        r = static_cast<float>(progress->m_Size * x / range + progress->m_Min);
    }
    return RoundUp(r);
}

void TProgressView::ProgressDo(TProgress* progress)
{
    if (m_Act >= m_Max) {
        return;
    }
    if (progress->m_Act < ProgressNextUpdate(progress)) {
        return;
    }
    const LONGLONG stepSize = m_StepSize > 0 ? m_StepSize : 1;
    for (;;) {
        const LONGLONG next = static_cast<LONGLONG>(m_Act) + stepSize;
        if (next >= m_Max) {
            m_Act = m_Max;
            break;
        }
        m_Act = static_cast<LONG>(next);
        if (progress->m_Act < ProgressNextUpdate(progress)) {
            break;
        }
    }
    Display(m_Act);
}
