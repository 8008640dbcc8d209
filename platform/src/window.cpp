// Top-level windows: EnumWindows, GetWindowTextW, GetForegroundWindow and
// SetForegroundWindow over the X server named by DISPLAY.
//
// libX11 is loaded at run time, so the library runs where it is not installed;
// without it, or without DISPLAY, or when the server cannot be reached, there are
// no top-level windows. Each call opens its own connection and closes it again: a
// changed DISPLAY is seen at once and no connection outlives a vanished server.
// While a call talks to the server its own error handler is installed, so that a
// window that disappears meanwhile is skipped instead of ending the process (Xlib's
// default handler exits).
//
// An HWND is the X window id. The top-level windows are those of the window
// manager's _NET_CLIENT_LIST, or the root window's children when there is no window
// manager; a title is _NET_WM_NAME (UTF-8), else WM_NAME. The foreground window is
// the window manager's _NET_ACTIVE_WINDOW; without a window manager (or for a
// handle that names no window of the server) the process keeps the window it last
// made foreground, so that code which saves and restores it behaves as on Windows.
#include "internal.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <type_traits>

namespace zanth::platform {
namespace {

struct XLib
{
    Display* (*OpenDisplay)(const char*);
    int (*CloseDisplay)(Display*);
    Window (*RootWindowOf)(Display*);
    Atom (*InternAtom)(Display*, const char*, Bool);
    int (*GetWindowProperty)(Display*, Window, Atom, long, long, Bool, Atom, Atom*, int*,
                             unsigned long*, unsigned long*, unsigned char**);
    int (*Free)(void*);
    Status (*QueryTree)(Display*, Window, Window*, Window*, Window**, unsigned int*);
    XErrorHandler (*SetErrorHandler)(XErrorHandler);
    Status (*SendEvent)(Display*, Window, Bool, long, XEvent*);
    int (*Sync)(Display*, Bool);
    bool loaded = false;
};

const XLib& Lib()
{
    static const XLib lib = [] {
        XLib x{};
        void* module = ::dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
        if (!module) {
            return x;
        }
        bool ok = true;
        auto get = [&](auto& fn, const char* name) {
            fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(::dlsym(module, name));
            ok = ok && fn != nullptr;
        };
        get(x.OpenDisplay, "XOpenDisplay");
        get(x.CloseDisplay, "XCloseDisplay");
        get(x.RootWindowOf, "XDefaultRootWindow");
        get(x.InternAtom, "XInternAtom");
        get(x.GetWindowProperty, "XGetWindowProperty");
        get(x.Free, "XFree");
        get(x.QueryTree, "XQueryTree");
        get(x.SetErrorHandler, "XSetErrorHandler");
        get(x.SendEvent, "XSendEvent");
        get(x.Sync, "XSync");
        x.loaded = ok;
        return x;
    }();
    return lib;
}

int IgnoreErrors(Display*, XErrorEvent*)
{
    return 0;
}

// Calls that talk to the server run one at a time (the error handler is global).
std::mutex& ServerLock()
{
    static std::mutex* lock = new std::mutex;
    return *lock;
}

// One connection for the length of a call, with the error handler installed.
class Connection
{
public:
    Connection() : m_Lock(ServerLock())
    {
        const char* name = std::getenv("DISPLAY");
        if (!name || !*name || !Lib().loaded) {
            return;
        }
        m_Previous = Lib().SetErrorHandler(IgnoreErrors);
        m_Display = Lib().OpenDisplay(name);
    }
    ~Connection()
    {
        if (m_Display) {
            Lib().CloseDisplay(m_Display);
        }
        if (Lib().loaded) {
            Lib().SetErrorHandler(m_Previous);
        }
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    Display* Get() const { return m_Display; }
    Window Root() const { return Lib().RootWindowOf(m_Display); }
    Atom AtomOf(const char* name) const { return Lib().InternAtom(m_Display, name, False); }

    // A property's items (8, 16 or 32-bit; 32-bit items arrive as longs).
    bool Property(Window window, Atom property, Atom type, std::vector<unsigned char>& bytes,
                  int& format, unsigned long& count, Atom* actualType = nullptr) const
    {
        Atom actual = None;
        unsigned long remaining = 0;
        unsigned char* data = nullptr;
        count = 0;
        if (Lib().GetWindowProperty(m_Display, window, property, 0, 0x7fffffff / 4, False, type,
                                    &actual, &format, &count, &remaining, &data) != Success) {
            return false;
        }
        if (actualType) {
            *actualType = actual;
        }
        if (!data) {
            return false;
        }
        if (actual == None) {
            Lib().Free(data);
            return false;
        }
        const std::size_t itemSize = format == 32 ? sizeof(long) : format / 8;
        bytes.assign(data, data + count * itemSize);
        Lib().Free(data);
        return true;
    }

    std::vector<Window> Windows(Window window, const char* property) const
    {
        std::vector<unsigned char> bytes;
        int format = 0;
        unsigned long count = 0;
        std::vector<Window> result;
        if (Property(window, AtomOf(property), XA_WINDOW, bytes, format, count) && format == 32) {
            for (unsigned long i = 0; i < count; ++i) {
                long value;
                std::memcpy(&value, bytes.data() + i * sizeof(long), sizeof value);
                result.push_back(static_cast<Window>(value));
            }
        }
        return result;
    }

    bool HasWindowManager() const { return !Windows(Root(), "_NET_SUPPORTING_WM_CHECK").empty(); }

private:
    std::lock_guard<std::mutex> m_Lock;
    Display* m_Display = nullptr;
    XErrorHandler m_Previous = nullptr;
};

std::vector<Window> TopLevelWindows(const Connection& x)
{
    std::vector<Window> windows = x.Windows(x.Root(), "_NET_CLIENT_LIST");
    if (!windows.empty()) {
        return windows;
    }
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (Lib().QueryTree(x.Get(), x.Root(), &root, &parent, &children, &count) && children) {
        windows.assign(children, children + count);
        Lib().Free(children);
    }
    return windows;
}

// Latin-1 (the STRING type of WM_NAME) to UTF-16.
std::u16string FromLatin1(const std::vector<unsigned char>& bytes)
{
    return std::u16string(bytes.begin(), bytes.end());
}

std::u16string TitleOf(const Connection& x, Window window)
{
    std::vector<unsigned char> bytes;
    int format = 0;
    unsigned long count = 0;
    const Atom utf8 = x.AtomOf("UTF8_STRING");
    if (x.Property(window, x.AtomOf("_NET_WM_NAME"), utf8, bytes, format, count) && format == 8) {
        return FromUtf8(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    Atom type = None;
    if (x.Property(window, XA_WM_NAME, AnyPropertyType, bytes, format, count, &type) &&
        format == 8) {
        if (type == utf8) {
            return FromUtf8(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        }
        return FromLatin1(bytes);
    }
    return {};
}

Window ToWindow(HWND window)
{
    return static_cast<Window>(reinterpret_cast<std::uintptr_t>(window));
}

HWND ToHwnd(Window window)
{
    return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(window));
}

struct Foreground
{
    std::mutex lock;
    HWND local = nullptr;
    // The last SetForegroundWindow stayed within the process (no window manager,
    // or a handle the server does not know).
    bool localOnly = false;
};

Foreground& TheForeground()
{
    static Foreground* state = new Foreground;
    return *state;
}

} // namespace
} // namespace zanth::platform

using namespace zanth::platform;

extern "C" {

BOOL WINAPI EnumWindows(WNDENUMPROC enumFunc, LPARAM parameter)
{
    if (!enumFunc) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::vector<Window> windows;
    {
        Connection x;
        if (x.Get()) {
            windows = TopLevelWindows(x);
        }
    }
    // The callback runs without the server lock, so that it may ask for titles.
    for (Window window : windows) {
        if (!enumFunc(ToHwnd(window), parameter)) {
            return FALSE; // Windows reports a stopped enumeration as FALSE
        }
    }
    return TRUE;
}

int WINAPI GetWindowTextW(HWND window, LPWSTR text, int maxCount)
{
    if (text && maxCount > 0) {
        text[0] = 0;
    }
    if (!window) {
        ::SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (!text || maxCount <= 0) {
        return 0;
    }
    std::u16string title;
    {
        Connection x;
        if (!x.Get()) {
            ::SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        title = TitleOf(x, ToWindow(window));
    }
    // Cut to the buffer, never in the middle of a surrogate pair.
    std::size_t length =
        std::min<std::size_t>(title.size(), static_cast<std::size_t>(maxCount) - 1);
    if (length > 0 && length < title.size() && title[length - 1] >= 0xD800 &&
        title[length - 1] < 0xDC00) {
        --length;
    }
    std::memcpy(text, title.data(), length * sizeof(WCHAR));
    text[length] = 0;
    return static_cast<int>(length);
}

HWND WINAPI GetForegroundWindow(void)
{
    Foreground& state = TheForeground();
    {
        std::lock_guard<std::mutex> guard(state.lock);
        if (state.localOnly) {
            return state.local;
        }
    }
    {
        Connection x;
        if (x.Get() && x.HasWindowManager()) {
            const std::vector<Window> active = x.Windows(x.Root(), "_NET_ACTIVE_WINDOW");
            if (!active.empty() && active.front() != None) {
                return ToHwnd(active.front());
            }
        }
    }
    std::lock_guard<std::mutex> guard(state.lock);
    return state.local;
}

BOOL WINAPI SetForegroundWindow(HWND window)
{
    if (!window) {
        ::SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    bool sent = false;
    {
        Connection x;
        if (x.Get() && x.HasWindowManager()) {
            const std::vector<Window> clients = TopLevelWindows(x);
            if (std::find(clients.begin(), clients.end(), ToWindow(window)) != clients.end()) {
                // The EWMH request to activate a window (source 2: a pager or tool
                // acting for the user, which window managers do not refuse).
                XEvent event{};
                event.xclient.type = ClientMessage;
                event.xclient.window = ToWindow(window);
                event.xclient.message_type = x.AtomOf("_NET_ACTIVE_WINDOW");
                event.xclient.format = 32;
                event.xclient.data.l[0] = 2;
                event.xclient.data.l[1] = CurrentTime;
                Lib().SendEvent(x.Get(), x.Root(), False,
                                SubstructureRedirectMask | SubstructureNotifyMask, &event);
                Lib().Sync(x.Get(), False);
                sent = true;
            }
        }
    }
    Foreground& state = TheForeground();
    std::lock_guard<std::mutex> guard(state.lock);
    state.local = window;
    state.localOnly = !sent;
    return TRUE;
}

} // extern "C"
