// TTerminalProgressView: the progress bar of command-line programs.
#include <corewu/errors.h>
#include <zanth/terminalprogress.h>

#include <zanth/win32/zanthext.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>

namespace {

// Ctrl-C presses and open abortable terminal views, for the whole process. The
// console handler takes Ctrl-C only while such a view is open; otherwise the event
// goes on to the next handler (or ends the process as usual).
std::atomic<LONG> g_Interrupts{0};
std::atomic<LONG> g_OpenViews{0};

BOOL WINAPI InterruptHandler(DWORD controlType)
{
    if (controlType != CTRL_C_EVENT || g_OpenViews.load() == 0) {
        return FALSE;
    }
    g_Interrupts.fetch_add(1);
    return TRUE;
}

void InstallInterruptHandler()
{
    static std::once_flag once;
    std::call_once(once, [] { ::SetConsoleCtrlHandler(InterruptHandler, TRUE); });
}

LONGLONG Now()
{
    LARGE_INTEGER count;
    ::QueryPerformanceCounter(&count);
    return count.QuadPart;
}

// "12.3k/s": positions per second with a decimal prefix.
std::string Rate(double perSecond)
{
    static const char prefixes[] = {' ', 'k', 'M', 'G', 'T'};
    int prefix = 0;
    while (perSecond >= 1000.0 && prefix < 4) {
        perSecond /= 1000.0;
        ++prefix;
    }
    char text[32];
    if (prefix == 0) {
        std::snprintf(text, sizeof text, "%.1f/s", perSecond);
    } else {
        std::snprintf(text, sizeof text, "%.1f%c/s", perSecond, prefixes[prefix]);
    }
    return text;
}

// "1:05:09" or "05:09"; "--:--" while nothing is known.
std::string Duration(double seconds)
{
    if (!(seconds >= 0.0) || seconds > 359999.0) {
        return "--:--";
    }
    const long total = static_cast<long>(seconds + 0.5);
    char text[32];
    if (total >= 3600) {
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60,
                      total % 60);
    } else {
        std::snprintf(text, sizeof text, "%02ld:%02ld", total / 60, total % 60);
    }
    return text;
}

} // namespace

TTerminalProgressView::TTerminalProgressView(FILE* stream)
    : m_Stream(stream ? stream : stderr), m_Terminal(ZanthStreamIsTerminal(m_Stream)),
      m_Opened(FALSE), m_LineOpen(FALSE), m_Frequency(1), m_StartCount(0), m_Interrupts(0)
{
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    m_Frequency = frequency.QuadPart > 0 ? frequency.QuadPart : 1;
}

TTerminalProgressView::~TTerminalProgressView() noexcept(false)
{
    RunDestructorWork([this] { Close(); }, TDestructorErrors::Swallow);
}

void TTerminalProgressView::Open(const WCHAR* name, LONG min, LONG max, LONG stepSize,
                                 UINT abortable)
{
    TProgressView::Open(name, min, max, stepSize, abortable);
    // Only work that can stop takes Ctrl-C for itself; otherwise the event goes on
    // (and ends the process, unless the program handles it).
    if (abortable && !m_Opened) {
        m_Opened = TRUE;
        g_OpenViews.fetch_add(1);
        InstallInterruptHandler();
    }
    if (!abortable && m_Opened) {
        m_Opened = FALSE;
        g_OpenViews.fetch_sub(1);
    }
    m_Interrupts = g_Interrupts.load();
    m_StartCount = Now();
    m_LineOpen = FALSE;
}

UINT TTerminalProgressView::IsCanceld()
{
    return m_Opened && g_Interrupts.load() != m_Interrupts ? 1 : 0;
}

void TTerminalProgressView::Close()
{
    if (m_LineOpen) {
        Write("\n");
        m_LineOpen = FALSE;
    }
    if (m_Opened) {
        m_Opened = FALSE;
        g_OpenViews.fetch_sub(1);
    }
    TProgressView::Close();
}

void TTerminalProgressView::Write(const char* text)
{
    std::fputs(text, m_Stream);
    std::fflush(m_Stream);
}

void TTerminalProgressView::Display(LONG position)
{
    const double size = Size() > 0 ? static_cast<double>(Size()) : 0.0;
    const double done = static_cast<double>(position) - Min();
    const double fraction = size > 0.0 ? (done < 0.0 ? 0.0 : done > size ? 1.0 : done / size) : 1.0;
    const int percent = static_cast<int>(fraction * 100.0);
    const double elapsed = static_cast<double>(Now() - m_StartCount) / m_Frequency;
    const double perSecond = elapsed > 0.0 ? done / elapsed : 0.0;
    const double left = done > 0.0 && elapsed > 0.0 ? elapsed * (size - done) / done : -1.0;
    const std::string name = Name().AsAnsi();

    std::string line;
    if (m_Terminal) {
        constexpr int kBarWidth = 30;
        const int filled = static_cast<int>(fraction * kBarWidth);
        line = "\r";
        if (!name.empty()) {
            line += name + " ";
        }
        line += "[" + std::string(filled, '#') + std::string(kBarWidth - filled, '.') + "]";
        char tail[96];
        std::snprintf(tail, sizeof tail, " %3d%% %s %s left\x1b[K", percent,
                      Rate(perSecond).c_str(), Duration(left).c_str());
        line += tail;
        m_LineOpen = TRUE;
        if (position >= Max()) {
            line += "\n";
            m_LineOpen = FALSE;
        }
    } else {
        char tail[96];
        std::snprintf(tail, sizeof tail, "%d%% (%s, %s left)\n", percent, Rate(perSecond).c_str(),
                      Duration(left).c_str());
        line = (name.empty() ? std::string() : name + ": ") + tail;
    }
    Write(line.c_str());
}
