// Console control handlers (SetConsoleCtrlHandler) on POSIX signals. Each case
// runs the helper program console_signals in a child process, because signals and
// handler lists are process-wide.
//
// Win32 behaviour checked: handlers run on a thread of their own; the most
// recently added handler runs first and the first that returns TRUE ends the
// round; when none returns TRUE the process ends; removing a handler that is not
// installed fails with ERROR_INVALID_PARAMETER; SetConsoleCtrlHandler(NULL, TRUE)
// ignores CTRL+C and (NULL, FALSE) restores it. Signal mapping: SIGINT is
// CTRL_C_EVENT, SIGQUIT CTRL_BREAK_EVENT, SIGHUP CTRL_CLOSE_EVENT and SIGTERM
// CTRL_SHUTDOWN_EVENT.
#include "testsupport.h"

#include <csignal>

namespace {

testsupport::ChildResult RunScenario(const std::string& scenario)
{
    return testsupport::RunChild({testsupport::HelperPath("console_signals"), scenario});
}

} // namespace

TEST(ConsoleCtrl, SignalsArriveAsControlEventsOnAnotherThread)
{
    auto result = RunScenario("mapping");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, "A 0 other\nA 1 other\nA 2 other\nA 6 other\n");
}

TEST(ConsoleCtrl, LastAddedRunsFirstAndTrueEndsTheRound)
{
    auto result = RunScenario("order");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, "B 0 other\nD 0 other\nA 0 other\nend\n");
}

TEST(ConsoleCtrl, RemovingAnUnknownHandlerFails)
{
    auto result = RunScenario("remove");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, "remove again 0 87\nB 6 other\n");
}

TEST(ConsoleCtrl, UnhandledEventEndsTheProcessBySignal)
{
    auto declined = RunScenario("unhandled");
    EXPECT_EQ(declined.status, -SIGTERM);
    EXPECT_EQ(declined.output, "D 6 other\n");

    auto none = RunScenario("all-removed");
    EXPECT_EQ(none.status, -SIGINT);
    EXPECT_EQ(none.output, "");
}

TEST(ConsoleCtrl, NullHandlerTogglesIgnoringCtrlC)
{
    auto result = RunScenario("ignore");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, "A 6 other\nA 0 other\n");

    auto before = RunScenario("ignore-before-handlers");
    EXPECT_EQ(before.status, 0);
    EXPECT_EQ(before.output, "A 2 other\n");
}

TEST(ConsoleCtrl, HandlersMayChangeTheListWhileRunning)
{
    auto result = RunScenario("handler-changes-list");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, "adder 0 other\nB 0 other\n");
}
