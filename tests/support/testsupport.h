// Helpers shared by the test suites: temp paths, log capture, scripted answers to
// message boxes, child processes, and printing of library strings in assertions.
#ifndef ZANTH_TESTSUPPORT_H
#define ZANTH_TESTSUPPORT_H

#include <zanth/tools.h>

#include <zanth/win32/zanthext.h>

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

// Lets gtest print TString values as UTF-8.
void PrintTo(const TString& text, std::ostream* out);

namespace testsupport {

// A path in the test's private temp directory ($TMPDIR, set by the test launcher).
std::string TempPath(const std::string& name);
TString WideTempPath(const std::string& name);

// Collects the lines written to g_ptheLogfile while it lives.
class LogCapture : public TLogSink
{
public:
    LogCapture();
    ~LogCapture() override;
    void Line(int level, const TString& text) override;

    struct Entry
    {
        int level;
        std::string text;
    };
    std::vector<Entry> Lines() const;
    // Whether a line with exactly this text (and level, unless -1) was written.
    bool Contains(const std::string& text, int level = -1) const;
    std::size_t Count(const std::string& text) const;

private:
    mutable std::mutex m_Lock;
    std::vector<Entry> m_Lines;
};

// Answers every MessageBoxW while it lives and records what was shown.
class MessageBoxScript
{
public:
    struct Shown
    {
        std::string text;
        std::string caption;
        UINT type;
    };
    // `answer` decides the button for each box (in order shown).
    explicit MessageBoxScript(std::function<int(const Shown&)> answer);
    explicit MessageBoxScript(int fixedAnswer);
    ~MessageBoxScript();

    std::vector<Shown> Boxes() const;

private:
    static int Handler(HWND, LPCWSTR text, LPCWSTR caption, UINT type, void* context);
    std::function<int(const Shown&)> m_Answer;
    mutable std::mutex m_Lock;
    std::vector<Shown> m_Boxes;
    ZANTH_MESSAGEBOX_HANDLER m_Previous;
};

// Runs a program (argv[0] is its path) with the environment of the test, waits
// for it and returns its exit status (-signal when killed) and its standard output.
struct ChildResult
{
    int status;
    std::string output;
};
ChildResult RunChild(const std::vector<std::string>& argv);

// As RunChild, but the child's standard output goes to the file `stdoutPath` (an
// empty path leaves it closed), and the result's output is its standard error.
ChildResult RunChildWithStdout(const std::vector<std::string>& argv, const std::string& stdoutPath);

// Runs `body` in a forked child and returns its exit status: -1 when a signal ended
// it or it had not ended after `seconds` (it is killed then), so that a call that
// would wait for ever fails the test instead of hanging it.
int StatusOfForkedChild(const std::function<int()>& body, int seconds = 30);

// The path of a helper program built next to the tests.
std::string HelperPath(const std::string& name);

// Runs `body` in a child process (fork) and returns its exit status (-signal when a
// signal ended it: a SIGBUS, or the SIGALRM of a call that never returned) with
// what the body put in `report` as the output. A library error that escapes the
// body is reported with its error stack. The child ends with _exit: it runs no
// destructors of the test process and unloads nothing.
ChildResult RunInChild(const std::function<int(std::string& report)>& body);

// The exit status of a child that could not set up its test (RunInChild); its
// report says why, and the test is skipped with it.
constexpr int kChildSkipped = 77;

// Whether the tests run under AddressSanitizer or ThreadSanitizer. Their run times
// map memory of their own at any moment (shadow, thread-local blocks), so a test
// that leaves the process no address space to spare (RLIMIT_AS) cannot run there.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kUnderSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kUnderSanitizer = true;
#else
constexpr bool kUnderSanitizer = false;
#endif
#else
constexpr bool kUnderSanitizer = false;
#endif

// In a child of RunInChild only: mounts a tmpfs of `bytes` bytes on a new directory
// under $TMPDIR and returns that directory. The mount lives in a mount namespace of
// the child's own (as root, or as root of a new user namespace), so it goes away
// with the child. Returns an empty string, with the reason in `why`, where no
// namespace or mount can be made.
std::string MountSmallTmpfs(std::size_t bytes, std::string& why);

// Catches a library error, checks its catalog and message, and leaves the thread's
// error state clean again.
struct CaughtError
{
    bool raised = false;
    WORD catalog = 0;
    WORD message = 0;
    std::string text;
    TErrorEntry entry;
    std::string stack; // the whole error stack as text, top entry first
};
CaughtError CatchError(const std::function<void()>& body);

// Runs `body` on a new Win32 thread (CreateThread) and returns the thread's exit
// code: what `body` returns, or what it passes to ExitThread when it ends its own
// thread. Records a test failure (and returns ~0u) when the thread cannot be made or
// does not end within ten seconds.
DWORD ExitCodeOfThread(const std::function<DWORD()>& body);

} // namespace testsupport

#endif // ZANTH_TESTSUPPORT_H
