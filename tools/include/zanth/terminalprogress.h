// TTerminalProgressView: a ready progress view that draws a one-line bar on a
// terminal, or writes plain lines where the output is not a terminal.
#ifndef ZANTH_TERMINALPROGRESS_H
#define ZANTH_TERMINALPROGRESS_H

#include <zanth/progress.h>

#include <cstdio>

// A progress view for command-line programs. On a terminal it redraws one line in
// place: the name, a bar, the percentage, the rate (positions per second) and the
// time left; elsewhere (a pipe, a file) each Display writes one plain line. It
// draws only from Display, so only when the bar moves. While it is open as
// abortable, Ctrl-C does not end the process: it makes IsCanceld() answer
// non-zero, and the work is expected to look and stop. Opened as not abortable, it
// leaves Ctrl-C to the program (by default the process ends).
// Thread rules: as every view, used by the thread that opened it; Ctrl-C arrives
// on the platform's console thread and only sets a flag.
class ZANTH_TOOLS_API TTerminalProgressView : public TProgressView
{
public:
    // Draws on `stream`, standard error when null. The stream stays the caller's.
    explicit TTerminalProgressView(FILE* stream = nullptr);
    ~TTerminalProgressView() noexcept(false) override;

    void Open(const WCHAR* name, LONG min, LONG max, LONG stepSize, UINT abortable) override;
    // Non-zero once Ctrl-C was pressed after this view was opened.
    UINT IsCanceld() override;
    // Ends the line on a terminal and takes the view away from the thread.
    void Close() override;

    // TRUE when the view redraws one line in place (its stream is a terminal).
    BOOL DrawsInPlace() const { return m_Terminal; }

protected:
    void Display(LONG position) override;

private:
    void Write(const char* text);

    FILE* m_Stream;
    BOOL m_Terminal;
    BOOL m_Opened; // open as abortable: counted among the views that take Ctrl-C
    BOOL m_LineOpen;
    LONGLONG m_Frequency;
    LONGLONG m_StartCount;
    LONG m_Interrupts; // the Ctrl-C count when the view was opened
};

#endif // ZANTH_TERMINALPROGRESS_H
