// The user-interface calls the library needs: MessageBoxW, answered by a
// replaceable handler (see zanthext.h). The windows and the foreground window are
// in window.cpp.
#include "internal.h"

#include <zanth/win32/zanthext.h>

#include <cstdio>
#include <string>
#include <unistd.h>

namespace zanth::platform {
namespace {

struct HandlerState
{
    std::mutex lock;
    ZANTH_MESSAGEBOX_HANDLER handler = nullptr;
    void* context = nullptr;
};

HandlerState& Handler()
{
    static HandlerState* state = new HandlerState;
    return *state;
}

struct ButtonSet
{
    int ids[3];
    const char* names[3];
    int count;
};

ButtonSet ButtonsOf(UINT type)
{
    switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL:
        return {{IDOK, IDCANCEL, 0}, {"OK", "Cancel", nullptr}, 2};
    case MB_ABORTRETRYIGNORE:
        return {{IDABORT, IDRETRY, IDIGNORE}, {"Abort", "Retry", "Ignore"}, 3};
    case MB_YESNOCANCEL:
        return {{IDYES, IDNO, IDCANCEL}, {"Yes", "No", "Cancel"}, 3};
    case MB_YESNO:
        return {{IDYES, IDNO, 0}, {"Yes", "No", nullptr}, 2};
    case MB_RETRYCANCEL:
        return {{IDRETRY, IDCANCEL, 0}, {"Retry", "Cancel", nullptr}, 2};
    case MB_CANCELTRYCONTINUE:
        return {{IDCANCEL, IDTRYAGAIN, IDCONTINUE}, {"Cancel", "Try again", "Continue"}, 3};
    default:
        return {{IDOK, 0, 0}, {"OK", nullptr, nullptr}, 1};
    }
}

int DefaultIndex(UINT type, const ButtonSet& buttons)
{
    int index = static_cast<int>((type & MB_DEFMASK) >> 8);
    return index < buttons.count ? index : 0;
}

// Asks on the terminal, or reports on standard error and takes the default button.
int DefaultHandler(LPCWSTR text, LPCWSTR caption, UINT type)
{
    const ButtonSet buttons = ButtonsOf(type);
    const int fallback = DefaultIndex(type, buttons);
    const std::string title = caption ? ToUtf8(caption) : "Error";
    const std::string body = text ? ToUtf8(text) : "";
    std::string choices;
    for (int i = 0; i < buttons.count; ++i) {
        choices += (i ? "/" : "");
        choices += buttons.names[i];
    }
    if (!::isatty(STDIN_FILENO) || !::isatty(STDERR_FILENO)) {
        std::fprintf(stderr, "[%s] %s [%s] -> %s\n", title.c_str(), body.c_str(), choices.c_str(),
                     buttons.names[fallback]);
        return buttons.ids[fallback];
    }
    for (;;) {
        std::fprintf(stderr, "[%s] %s\n%s (default %s)? ", title.c_str(), body.c_str(),
                     choices.c_str(), buttons.names[fallback]);
        std::fflush(stderr);
        char line[64];
        if (!std::fgets(line, sizeof line, stdin) || line[0] == '\n') {
            return buttons.ids[fallback];
        }
        for (int i = 0; i < buttons.count; ++i) {
            char first = buttons.names[i][0];
            if (line[0] == first || line[0] == first - 'A' + 'a') {
                return buttons.ids[i];
            }
        }
    }
}

} // namespace
} // namespace zanth::platform

using namespace zanth::platform;

extern "C" {

ZANTH_MESSAGEBOX_HANDLER ZanthSetMessageBoxHandler(ZANTH_MESSAGEBOX_HANDLER handler, void* context)
{
    HandlerState& state = Handler();
    std::lock_guard<std::mutex> guard(state.lock);
    ZANTH_MESSAGEBOX_HANDLER previous = state.handler;
    state.handler = handler;
    state.context = context;
    return previous;
}

int ZanthDefaultMessageBoxButton(UINT type)
{
    const ButtonSet buttons = ButtonsOf(type);
    return buttons.ids[DefaultIndex(type, buttons)];
}

int WINAPI MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type)
{
    ZANTH_MESSAGEBOX_HANDLER handler;
    void* context;
    {
        HandlerState& state = Handler();
        std::lock_guard<std::mutex> guard(state.lock);
        handler = state.handler;
        context = state.context;
    }
    if (handler) {
        return handler(owner, text, caption, type, context);
    }
    return DefaultHandler(text, caption, type);
}

} // extern "C"
