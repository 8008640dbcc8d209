// An X server of the test's own (Xvfb on a display it picks itself) and a small
// window client over libX11 loaded at run time, for the window tests.
#ifndef ZANTH_TEST_XSERVER_H
#define ZANTH_TEST_XSERVER_H

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

// Unsets DISPLAY while it lives.
class NoDisplay
{
public:
    NoDisplay()
    {
        const char* old = std::getenv("DISPLAY");
        m_Had = old != nullptr;
        m_Old = old ? old : "";
        ::unsetenv("DISPLAY");
    }
    ~NoDisplay()
    {
        if (m_Had) {
            ::setenv("DISPLAY", m_Old.c_str(), 1);
        }
    }
    NoDisplay(const NoDisplay&) = delete;
    NoDisplay& operator=(const NoDisplay&) = delete;

private:
    bool m_Had;
    std::string m_Old;
};

// Starts Xvfb and sets DISPLAY for the test's lifetime; Ready() is false (with a
// reason) when Xvfb is not installed or does not start.
class XServer
{
public:
    XServer()
    {
        const char* old = std::getenv("DISPLAY");
        m_HadDisplay = old != nullptr;
        m_OldDisplay = old ? old : "";
        int fds[2];
        if (::pipe(fds) != 0) {
            m_Reason = "no pipe";
            return;
        }
        m_Pid = ::fork();
        if (m_Pid == 0) {
            ::close(fds[0]);
            const std::string fd = std::to_string(fds[1]);
            ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", "-screen", "0",
                     "640x480x24", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
        std::string number;
        char ch;
        while (::read(fds[0], &ch, 1) == 1 && ch != '\n') {
            number += ch;
        }
        ::close(fds[0]);
        if (number.empty()) {
            m_Reason = "Xvfb is not installed or did not start (Debian package xvfb)";
            Stop();
            return;
        }
        ::setenv("DISPLAY", (":" + number).c_str(), 1);
    }
    ~XServer()
    {
        Stop();
        if (m_HadDisplay) {
            ::setenv("DISPLAY", m_OldDisplay.c_str(), 1);
        } else {
            ::unsetenv("DISPLAY");
        }
    }
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    bool Ready() const { return m_Reason.empty(); }
    const std::string& Reason() const { return m_Reason; }

private:
    void Stop()
    {
        if (m_Pid > 0) {
            ::kill(m_Pid, SIGTERM);
            int status;
            ::waitpid(m_Pid, &status, 0);
            m_Pid = -1;
        }
    }
    pid_t m_Pid = -1;
    bool m_HadDisplay = false;
    std::string m_OldDisplay;
    std::string m_Reason;
};

// A mapped top-level window with a title (WM_NAME in Latin-1 and _NET_WM_NAME in
// UTF-8), made through libX11 loaded at run time.
class XWindow
{
public:
    explicit XWindow(const std::string& utf8Title, const std::string& latin1Title = "")
    {
        void* lib = ::dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
        if (!lib) {
            return;
        }
        auto open = reinterpret_cast<Display* (*)(const char*)>(::dlsym(lib, "XOpenDisplay"));
        auto root = reinterpret_cast<Window (*)(Display*)>(::dlsym(lib, "XDefaultRootWindow"));
        auto create = reinterpret_cast<Window (*)(Display*, Window, int, int, unsigned, unsigned,
                                                  unsigned, unsigned long, unsigned long)>(
            ::dlsym(lib, "XCreateSimpleWindow"));
        auto atom =
            reinterpret_cast<Atom (*)(Display*, const char*, Bool)>(::dlsym(lib, "XInternAtom"));
        auto change =
            reinterpret_cast<int (*)(Display*, Window, Atom, Atom, int, int, const unsigned char*,
                                     int)>(::dlsym(lib, "XChangeProperty"));
        auto map = reinterpret_cast<int (*)(Display*, Window)>(::dlsym(lib, "XMapWindow"));
        auto sync = reinterpret_cast<int (*)(Display*, Bool)>(::dlsym(lib, "XSync"));
        m_Close = reinterpret_cast<int (*)(Display*)>(::dlsym(lib, "XCloseDisplay"));
        if (!open || !root || !create || !atom || !change || !map || !sync || !m_Close) {
            return;
        }
        m_Display = open(nullptr);
        if (!m_Display) {
            return;
        }
        m_Window = create(m_Display, root(m_Display), 0, 0, 100, 100, 0, 0, 0);
        const std::string latin1 = latin1Title.empty() ? utf8Title : latin1Title;
        change(m_Display, m_Window, XA_WM_NAME, XA_STRING, 8, PropModeReplace,
               reinterpret_cast<const unsigned char*>(latin1.data()),
               static_cast<int>(latin1.size()));
        if (!utf8Title.empty()) {
            change(m_Display, m_Window, atom(m_Display, "_NET_WM_NAME", False),
                   atom(m_Display, "UTF8_STRING", False), 8, PropModeReplace,
                   reinterpret_cast<const unsigned char*>(utf8Title.data()),
                   static_cast<int>(utf8Title.size()));
        }
        map(m_Display, m_Window);
        sync(m_Display, False);
    }
    ~XWindow()
    {
        if (m_Display) {
            m_Close(m_Display);
        }
    }
    XWindow(const XWindow&) = delete;
    XWindow& operator=(const XWindow&) = delete;

    bool Made() const { return m_Window != 0; }
    HWND Handle() const { return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(m_Window)); }

private:
    Display* m_Display = nullptr;
    Window m_Window = 0;
    int (*m_Close)(Display*) = nullptr;
};

} // namespace testsupport

#endif // ZANTH_TEST_XSERVER_H
