// Peers for the serial-port tests: a pseudo-terminal pair whose other side a test
// drives directly, a child process that holds a port open, and a pair of
// pseudo-terminals joined by socat, an outside program.
#ifndef ZANTH_SERIALPEER_H
#define ZANTH_SERIALPEER_H

#include "testsupport.h"

#include <zanth/win32/zanthext.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace testsupport {

inline TString Wide(const std::string& text)
{
    return TString::FromAnsi(text.c_str());
}

// Maps a port to a device for the test (the port directory lives under the test's
// own XDG_CONFIG_HOME).
inline void MapPort(DWORD port, const std::string& device)
{
    ASSERT_TRUE(ZanthMapCommPort(port, Wide(device))) << ::GetLastError();
}

// A pseudo-terminal pair: the library opens the device side through a port, the
// test reads and writes the master side.
class PtyPair
{
public:
    PtyPair()
    {
        m_Master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_Master >= 0 && ::grantpt(m_Master) == 0 && ::unlockpt(m_Master) == 0) {
            char name[128];
            if (::ptsname_r(m_Master, name, sizeof name) == 0) {
                m_Device = name;
            }
        }
    }
    ~PtyPair() { CloseMaster(); }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool Valid() const { return m_Master >= 0 && !m_Device.empty(); }
    const std::string& Device() const { return m_Device; }
    int Master() const { return m_Master; }

    void CloseMaster()
    {
        if (m_Master >= 0) {
            ::close(m_Master);
            m_Master = -1;
        }
    }

    // Writes everything (the master blocks while the device's input is full).
    bool Send(const void* data, std::size_t size)
    {
        const char* p = static_cast<const char*>(data);
        while (size > 0) {
            const ssize_t n = ::write(m_Master, p, size);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return false;
            }
            p += n;
            size -= static_cast<std::size_t>(n);
        }
        return true;
    }
    bool Send(const std::string& text) { return Send(text.data(), text.size()); }

    // Reads exactly `size` bytes, giving up after `seconds` without progress.
    std::string ReadExactly(std::size_t size, int seconds = 20)
    {
        std::string data;
        char buffer[65536];
        while (data.size() < size) {
            pollfd p{m_Master, POLLIN, 0};
            if (::poll(&p, 1, seconds * 1000) <= 0) {
                break;
            }
            const ssize_t n = ::read(m_Master, buffer, std::min(sizeof buffer, size - data.size()));
            if (n <= 0) {
                break;
            }
            data.append(buffer, static_cast<std::size_t>(n));
        }
        return data;
    }

private:
    int m_Master = -1;
    std::string m_Device;
};

// Starts a program with posix_spawn; its standard input is a pipe the test holds.
class Spawned
{
public:
    explicit Spawned(const std::vector<std::string>& argv, bool search = false)
    {
        int in[2];
        int out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) {
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        std::vector<char*> args;
        for (const std::string& arg : argv) {
            args.push_back(const_cast<char*>(arg.c_str()));
        }
        args.push_back(nullptr);
        const int rc =
            search ? ::posix_spawnp(&m_Pid, args[0], &actions, nullptr, args.data(), environ)
                   : ::posix_spawn(&m_Pid, args[0], &actions, nullptr, args.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        m_Input = in[1];
        m_Output = out[0];
        if (rc != 0) {
            m_Pid = -1;
        }
    }
    ~Spawned() { Stop(); }
    Spawned(const Spawned&) = delete;
    Spawned& operator=(const Spawned&) = delete;

    bool Running() const { return m_Pid > 0; }

    // Reads one line of the program's standard output ("" after `seconds`).
    std::string Line(int seconds = 20)
    {
        std::string line;
        char c;
        for (;;) {
            pollfd p{m_Output, POLLIN, 0};
            if (::poll(&p, 1, seconds * 1000) <= 0 || ::read(m_Output, &c, 1) != 1 || c == '\n') {
                return line;
            }
            line += c;
        }
    }

    // Writes to its standard input.
    bool Write(const std::string& text)
    {
        return m_Input >= 0 &&
               ::write(m_Input, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    }

    // Closes its standard input and waits for the program to end by itself;
    // returns its exit status (-1 when it had to be killed after `seconds`).
    int Finish(int seconds = 20)
    {
        if (m_Input >= 0) {
            ::close(m_Input);
            m_Input = -1;
        }
        for (int i = 0; i < seconds * 100 && m_Pid > 0; ++i) {
            int status = 0;
            if (::waitpid(m_Pid, &status, WNOHANG) == m_Pid) {
                m_Pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        Stop();
        return -1;
    }

    // Closes its standard input, asks it to end and waits; returns the exit status.
    int Stop()
    {
        if (m_Input >= 0) {
            ::close(m_Input);
            m_Input = -1;
        }
        int status = 0;
        if (m_Pid > 0) {
            ::kill(m_Pid, SIGTERM);
            ::waitpid(m_Pid, &status, 0);
            m_Pid = -1;
        }
        if (m_Output >= 0) {
            ::close(m_Output);
            m_Output = -1;
        }
        return status;
    }

private:
    pid_t m_Pid = -1;
    int m_Input = -1;
    int m_Output = -1;
};

// Another process that holds port `port` open through the library until it is
// stopped. Ready() is true once it has the port.
class PortHolder
{
public:
    explicit PortHolder(DWORD port)
        : m_Child({HelperPath("child_comm_holder"), std::to_string(port)}), m_Line(m_Child.Line())
    {}
    bool Ready() const { return m_Line == "open"; }
    const std::string& Line() const { return m_Line; }

private:
    Spawned m_Child;
    std::string m_Line;
};

// Two pseudo-terminals joined by socat: what one side's user writes the other
// side's user reads. The links name the two devices.
class SocatPair
{
public:
    SocatPair()
        : m_A(TempPath("socat-a")), m_B(TempPath("socat-b")),
          m_Socat({"socat", "pty,raw,echo=0,link=" + m_A, "pty,raw,echo=0,link=" + m_B}, true)
    {
        for (int i = 0; i < 200 && m_Socat.Running(); ++i) {
            struct stat info;
            if (::stat(m_A.c_str(), &info) == 0 && ::stat(m_B.c_str(), &info) == 0) {
                m_Ready = true;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
    }
    bool Ready() const { return m_Ready; }
    const std::string& A() const { return m_A; }
    const std::string& B() const { return m_B; }

private:
    std::string m_A;
    std::string m_B;
    Spawned m_Socat;
    bool m_Ready = false;
};

} // namespace testsupport

#endif // ZANTH_SERIALPEER_H
