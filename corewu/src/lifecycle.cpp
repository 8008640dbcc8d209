// TLifecycleTrace.
#include <corewu/lifecycle.h>

#include <atomic>
#include <mutex>

namespace {

std::atomic<bool> g_Enabled{false};

struct StepList
{
    std::mutex lock;
    std::vector<std::string> steps;
};

StepList& TheSteps()
{
    static StepList* steps = new StepList;
    return *steps;
}

} // namespace

void TLifecycleTrace::Enable(bool on)
{
    g_Enabled.store(on);
}

bool TLifecycleTrace::Enabled()
{
    return g_Enabled.load(std::memory_order_relaxed);
}

void TLifecycleTrace::Record(const char* step)
{
    if (!Enabled()) {
        return;
    }
    StepList& steps = TheSteps();
    std::lock_guard<std::mutex> guard(steps.lock);
    steps.steps.emplace_back(step ? step : "");
}

std::vector<std::string> TLifecycleTrace::Steps()
{
    auto& steps = TheSteps();
    std::lock_guard<std::mutex> guard(steps.lock);
    return steps.steps;
}

void TLifecycleTrace::Clear()
{
    auto& steps = TheSteps();
    std::lock_guard<std::mutex> guard(steps.lock);
    steps.steps.clear();
}
