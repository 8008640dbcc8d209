// Shared test helpers.
#include "testsupport.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <thread>
#ifndef _WIN32
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

void PrintTo(const TString& text, std::ostream* out)
{
    *out << '"' << text.AsAnsi() << '"';
}

namespace testsupport {

std::string TempPath(const std::string& name)
{
    const char* dir = std::getenv("TMPDIR");
    std::string path = (dir && *dir) ? dir : "/tmp";
    if (path.back() != '/') {
        path += '/';
    }
    return path + name;
}

TString WideTempPath(const std::string& name)
{
    return TString::FromAnsi(TempPath(name).c_str());
}

LogCapture::LogCapture()
{
    g_ptheLogfile->AddSink(this);
}

LogCapture::~LogCapture()
{
    g_ptheLogfile->RemoveSink(this);
}

void LogCapture::Line(int level, const TString& text)
{
    std::lock_guard<std::mutex> guard(m_Lock);
    m_Lines.push_back({level, text.AsAnsi()});
}

std::vector<LogCapture::Entry> LogCapture::Lines() const
{
    std::lock_guard<std::mutex> guard(m_Lock);
    return m_Lines;
}

bool LogCapture::Contains(const std::string& text, int level) const
{
    std::lock_guard<std::mutex> guard(m_Lock);
    for (const Entry& entry : m_Lines) {
        if (entry.text == text && (level < 0 || entry.level == level)) {
            return true;
        }
    }
    return false;
}

std::size_t LogCapture::Count(const std::string& text) const
{
    std::lock_guard<std::mutex> guard(m_Lock);
    std::size_t n = 0;
    for (const Entry& entry : m_Lines) {
        n += entry.text == text;
    }
    return n;
}

MessageBoxScript::MessageBoxScript(std::function<int(const Shown&)> answer)
    : m_Answer(std::move(answer)), m_Previous(ZanthSetMessageBoxHandler(&Handler, this))
{}

MessageBoxScript::MessageBoxScript(int fixedAnswer)
    : MessageBoxScript([fixedAnswer](const Shown&) { return fixedAnswer; })
{}

MessageBoxScript::~MessageBoxScript()
{
    ZanthSetMessageBoxHandler(m_Previous, nullptr);
}

std::vector<MessageBoxScript::Shown> MessageBoxScript::Boxes() const
{
    std::lock_guard<std::mutex> guard(m_Lock);
    return m_Boxes;
}

int MessageBoxScript::Handler(HWND, LPCWSTR text, LPCWSTR caption, UINT type, void* context)
{
    auto* self = static_cast<MessageBoxScript*>(context);
    Shown shown{TString(text).AsAnsi(), TString(caption).AsAnsi(), type};
    {
        std::lock_guard<std::mutex> guard(self->m_Lock);
        self->m_Boxes.push_back(shown);
    }
    return self->m_Answer(shown);
}

#ifndef _WIN32

ChildResult RunChild(const std::vector<std::string>& argv)
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) {
        return {-1, ""};
    }
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipeFds[1], STDOUT_FILENO);
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        std::vector<char*> args;
        for (const std::string& arg : argv) {
            args.push_back(const_cast<char*>(arg.c_str()));
        }
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        std::_Exit(127);
    }
    ::close(pipeFds[1]);
    std::string output;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0) {
        output.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFSIGNALED(status)) {
        return {-WTERMSIG(status), output};
    }
    return {WEXITSTATUS(status), output};
}

ChildResult RunChildWithStdout(const std::vector<std::string>& argv, const std::string& stdoutPath)
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) {
        return {-1, ""};
    }
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipeFds[1], STDERR_FILENO);
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        ::close(STDOUT_FILENO);
        if (!stdoutPath.empty()) {
            const int fd = ::open(stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (fd < 0 || (fd != STDOUT_FILENO && ::dup2(fd, STDOUT_FILENO) < 0)) {
                std::_Exit(126);
            }
            if (fd != STDOUT_FILENO) {
                ::close(fd);
            }
        }
        std::vector<char*> args;
        for (const std::string& arg : argv) {
            args.push_back(const_cast<char*>(arg.c_str()));
        }
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        std::_Exit(127);
    }
    ::close(pipeFds[1]);
    std::string output;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0) {
        output.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFSIGNALED(status)) {
        return {-WTERMSIG(status), output};
    }
    return {WEXITSTATUS(status), output};
}

int StatusOfForkedChild(const std::function<int()>& body, int seconds)
{
    const pid_t pid = ::fork();
    if (pid < 0) {
        return -1;
    }
    if (pid == 0) {
        std::_Exit(body());
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string HelperPath(const std::string& name)
{
    return std::string(ZANTH_TEST_BIN_DIR) + "/" + name;
}

ChildResult RunInChild(const std::function<int(std::string& report)>& body)
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) {
        return {-1, "pipe failed"};
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        return {-1, "fork failed"};
    }
    if (pid == 0) {
        ::close(pipeFds[0]);
        std::string report;
        int status = 0;
        try {
            status = body(report);
        } catch (const TException&) {
            DecrementPendingCount();
            report += "library error: " + GetErrorText().AsAnsi();
            status = 98;
        } catch (const std::exception& error) {
            report += std::string("exception: ") + error.what();
            status = 99;
        }
        for (std::size_t done = 0; done < report.size();) {
            const ssize_t n = ::write(pipeFds[1], report.data() + done, report.size() - done);
            if (n <= 0) {
                break;
            }
            done += static_cast<std::size_t>(n);
        }
        ::_exit(status);
    }
    ::close(pipeFds[1]);
    std::string output;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0) {
        output.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFSIGNALED(status)) {
        return {-WTERMSIG(status), output};
    }
    return {WEXITSTATUS(status), output};
}

namespace {

bool WriteText(const char* path, const std::string& text)
{
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool done = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    return done;
}

} // namespace

std::string MountSmallTmpfs(std::size_t bytes, std::string& why)
{
    std::string dir = TempPath("tmpfs.XXXXXX");
    if (::mkdtemp(dir.data()) == nullptr) {
        why = std::string("mkdtemp: ") + std::strerror(errno);
        return {};
    }
    if (::unshare(CLONE_NEWNS) != 0) {
        // Not root: a user namespace of our own makes us root for the mount.
        const uid_t uid = ::getuid();
        const gid_t gid = ::getgid();
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
            why = std::string("cannot make a mount namespace to mount a small tmpfs (") +
                  std::strerror(errno) + "): needs root or unprivileged user namespaces";
            return {};
        }
        if (!WriteText("/proc/self/setgroups", "deny") ||
            !WriteText("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
            !WriteText("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
            why = std::string("cannot map the user into a user namespace: ") + std::strerror(errno);
            return {};
        }
    }
    // Nothing mounted here reaches the test process or the rest of the system.
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        why = std::string("cannot make the mounts private: ") + std::strerror(errno);
        return {};
    }
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0700";
    if (::mount("tmpfs", dir.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
        why = std::string("cannot mount a tmpfs: ") + std::strerror(errno);
        return {};
    }
    return dir;
}

#else // _WIN32

// The child-process helpers are built on fork and exec; their Windows versions
// (CreateProcessW) are still to come, so a test that needs one fails with a note.
namespace {

ChildResult NotOnWindows(const char* what)
{
    ADD_FAILURE() << what << " is not available in the Windows build yet";
    return {-1, std::string()};
}

} // namespace

ChildResult RunChild(const std::vector<std::string>&)
{
    return NotOnWindows("RunChild");
}

ChildResult RunChildWithStdout(const std::vector<std::string>&, const std::string&)
{
    return NotOnWindows("RunChildWithStdout");
}

int StatusOfForkedChild(const std::function<int()>&, int)
{
    return NotOnWindows("StatusOfForkedChild").status;
}

std::string HelperPath(const std::string& name)
{
    return std::string(ZANTH_TEST_BIN_DIR) + "/" + name + ".exe";
}

ChildResult RunInChild(const std::function<int(std::string& report)>&)
{
    return NotOnWindows("RunInChild");
}

std::string MountSmallTmpfs(std::size_t, std::string& why)
{
    why = "no tmpfs on Windows";
    return std::string();
}

#endif // _WIN32

CaughtError CatchError(const std::function<void()>& body)
{
    CaughtError caught;
    try {
        body();
    } catch (const TException& error) {
        caught.raised = true;
        caught.catalog = error.Catalog();
        caught.message = error.Message();
        caught.text = error.what();
        caught.entry = error.Entry();
        caught.stack = GetErrorText().AsAnsi();
        DecrementPendingCount();
        ClearError();
    }
    return caught;
}

DWORD ExitCodeOfThread(const std::function<DWORD()>& body)
{
    HANDLE thread = ::CreateThread(
        nullptr, 0,
        [](LPVOID parameter) -> DWORD {
            return (*static_cast<const std::function<DWORD()>*>(parameter))();
        },
        const_cast<std::function<DWORD()>*>(&body), 0, nullptr);
    if (!thread) {
        ADD_FAILURE() << "CreateThread failed with " << ::GetLastError();
        return ~0u;
    }
    DWORD code = ~0u;
    if (::WaitForSingleObject(thread, 10000) != WAIT_OBJECT_0) {
        ADD_FAILURE() << "the thread did not end within ten seconds";
    } else if (!::GetExitCodeThread(thread, &code)) {
        ADD_FAILURE() << "GetExitCodeThread failed with " << ::GetLastError();
    }
    ::CloseHandle(thread);
    return code;
}

} // namespace testsupport
