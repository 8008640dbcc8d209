// The progress family's part of ztools: a nested demonstration on the terminal
// view, and the tour's look at where a nested record moves the bar.
#include "commands.h"

#include <iostream>
#include <vector>

namespace ztools {
namespace {

struct DemoOptions
{
    int delay = 40; // milliseconds per unit of work
};

// Does `units` units of work as one record, unless the view is cancelled.
bool Work(TProgressView& view, const WCHAR* name, LONG units, DWORD delay)
{
    TProgress record(name, 0, units, 1);
    for (LONG i = 0; i < units; ++i) {
        if (view.IsCanceld()) {
            return false;
        }
        record.Do(1);
        ::Sleep(delay);
    }
    return true;
}

// An outer job of three steps whose middle step runs an inner job of its own.
bool RunNested(TProgressView& view, DWORD delay)
{
    TProgress outer(TEXT("job"), 0, 3, 1);
    outer.Do(1);
    if (!Work(view, TEXT("first"), 20, delay)) {
        return false;
    }
    outer.Do(1);
    {
        TProgress inner(TEXT("inner job"), 0, 2, 1);
        inner.Do(1);
        if (!Work(view, TEXT("inner first"), 25, delay)) {
            return false;
        }
        inner.Do(1);
        if (!Work(view, TEXT("inner second"), 25, delay)) {
            return false;
        }
    }
    outer.Do(1);
    return Work(view, TEXT("last"), 20, delay);
}

void RunDemo(const DemoOptions& options)
{
    TTerminalProgressView view;
    view.Open(TEXT("progress demo"), 0, 100, 1, 1);
    const bool finished = RunNested(view, static_cast<DWORD>(options.delay));
    view.Close();
    std::cout << (finished ? "finished\n" : "cancelled\n");
}

// A view that remembers where the bar was drawn.
class PositionsView : public TProgressView
{
public:
    std::vector<LONG> positions;

protected:
    void Display(LONG position) override { positions.push_back(position); }
};

} // namespace

void AddProgressCommands(CLI::App& app)
{
    CLI::App* progress = app.add_subcommand("progress", "Progress reporting");
    progress->require_subcommand(1);
    auto options = std::make_shared<DemoOptions>();
    CLI::App* demo = progress->add_subcommand(
        "demo", "Run an outer job of three steps whose middle step runs an inner job "
                "(Ctrl-C cancels)");
    demo->add_option("--delay", options->delay, "Milliseconds per unit of work")
        ->check(CLI::Range(0, 10000));
    demo->callback([options] { RunDemo(*options); });
}

void TourProgress(std::ostream& out)
{
    Heading(out, "Progress");
    PositionsView view;
    view.Open(TEXT("tour"), 0, 30, 1, 0);
    RunNested(view, 0);
    view.Close();
    out << "a job of three steps on a bar of 30, the middle step an inner job of two:\n"
        << "the bar was drawn at";
    for (LONG position : view.positions) {
        out << " " << position;
    }
    out << "\n";
}

} // namespace ztools
