// Progress family benchmarks:
// - 100 million TProgress::Do(1) calls on a record whose next report lies beyond
//   them, without a view on the thread and under an open view: both should be an
//   addition and a comparison per call;
// - the cost of one TTerminalProgressView::Display (a plain line to a discarding
//   stream) against a plain fprintf of a percentage to the same stream.
#include <zanth/tools.h>

#include <benchmark/benchmark.h>

#include <cstdio>

namespace {

constexpr LONG kCalls = 100000000;

// A view that draws nothing.
class SilentView : public TProgressView
{
protected:
    void Display(LONG) override {}
};

void DoCalls(benchmark::State& state)
{
    for (auto _ : state) {
        // The record spans 2^31 - 1 units on a bar of one step: no report is due.
        TProgress record(TEXT("bench"), 0, 2147483647, 0);
        for (LONG i = 0; i < kCalls; ++i) {
            record.Do(1);
            benchmark::DoNotOptimize(record);
        }
    }
    state.SetItemsProcessed(state.iterations() * kCalls);
}

void BM_Do_WithoutView(benchmark::State& state)
{
    TProgressView::Init();
    DoCalls(state);
}
BENCHMARK(BM_Do_WithoutView)->Unit(benchmark::kMillisecond);

void BM_Do_WithView(benchmark::State& state)
{
    SilentView view;
    view.Open(TEXT("bench"), 0, 1, 1, 0);
    DoCalls(state);
    view.Close();
}
BENCHMARK(BM_Do_WithView)->Unit(benchmark::kMillisecond);

// One Display per Do: a bar of 1,000,000 steps and a record of as many units.
void BM_Display_TerminalView(benchmark::State& state)
{
    FILE* sink = std::fopen("/dev/null", "w");
    TTerminalProgressView view(sink);
    view.Open(TEXT("bench"), 0, 1000000, 1, 0);
    {
        TProgress record(TEXT("bench"), 0, 1000000, 0);
        for (auto _ : state) {
            record.Do(1);
        }
    }
    view.Close();
    std::fclose(sink);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Display_TerminalView)->Iterations(999999);

void BM_Display_Fprintf(benchmark::State& state)
{
    FILE* sink = std::fopen("/dev/null", "w");
    int i = 0;
    for (auto _ : state) {
        std::fprintf(sink, "bench: %d%%\n", ++i / 10000);
        std::fflush(sink);
    }
    std::fclose(sink);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Display_Fprintf)->Iterations(999999);

} // namespace
