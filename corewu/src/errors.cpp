// The per-thread error stack and the reporting helpers around it.
#include <corewu/errors.h>

#include <corewu/log.h>
#include <corewu/messages.h>
#include <corewu/sync.h>

#include <cstdio>
#if defined(__GLIBCXX__)
#include <cxxabi.h> // abi::__forced_unwind, how glibc ends a thread
#endif
#include <exception>
#include <vector>

namespace {

struct ErrorState
{
    std::vector<TErrorEntry> stack;
    LONG pending = 0;
};

ErrorState& State()
{
    thread_local ErrorState state;
    return state;
}

TString SystemText(DWORD code)
{
    WCHAR buffer[512];
    DWORD n = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                                   FORMAT_MESSAGE_MAX_WIDTH_MASK,
                               nullptr, code, 0, buffer, 512, nullptr);
    if (n == 0) {
        return TString::Formatted(TEXT("System error %u."), static_cast<unsigned>(code));
    }
    TString text(buffer, static_cast<LONG>(n));
    return text.StripTail();
}

} // namespace

TString TErrorEntry::Text() const
{
    TString text;
    if (isSystem) {
        text.Format(TEXT("[system error %u] "), static_cast<unsigned>(systemCode));
        text += a1;
    } else if (catalog == 0) {
        text = a1;
    } else {
        TCatalogInfo info;
        if (GetCatalogInfo(catalog, info)) {
            text.Format(TEXT("[%s %u] "), info.name.c_str(), static_cast<unsigned>(message));
        } else {
            text.Format(TEXT("[#%u %u] "), static_cast<unsigned>(catalog),
                        static_cast<unsigned>(message));
        }
        text += GetMessageW(catalog, message, a1, a2, a3);
    }
    if (!debugFile.empty()) {
        text += TString::Formatted(TEXT(" (%S:%d)"), debugFile.c_str(), debugLine);
    }
    return text;
}

TException::TException(const TErrorEntry& entry) : m_Entry(entry), m_What(entry.Text().AsAnsi()) {}

[[noreturn]] void ThrowNewError(WORD catalog, WORD message, const TString& a1, const TString& a2,
                                const TString& a3, TErrorData*)
{
    PushError(catalog, message, a1, a2, a3);
    ThrowLastError();
}

ULONG PushError(WORD catalog, WORD message, const TString& a1, const TString& a2, const TString& a3)
{
    TErrorEntry entry;
    entry.catalog = catalog;
    entry.message = message;
    entry.a1 = a1;
    entry.a2 = a2;
    entry.a3 = a3;
    ErrorState& state = State();
    state.stack.push_back(std::move(entry));
    return static_cast<ULONG>(state.stack.size());
}

void PushSystemError()
{
    const DWORD code = ::GetLastError();
    TErrorEntry entry;
    entry.isSystem = true;
    entry.systemCode = code;
    entry.a1 = SystemText(code);
    State().stack.push_back(std::move(entry));
    ::SetLastError(code);
}

[[noreturn]] void ThrowLastError()
{
    ErrorState& state = State();
    if (state.stack.empty()) {
        TErrorEntry unknown;
        unknown.a1 = TEXT("Unknown error.");
        state.stack.push_back(unknown);
    }
    ++state.pending;
    throw TException(state.stack.back());
}

void ClearError()
{
    State().stack.clear();
}

void PopError()
{
    ErrorState& state = State();
    if (!state.stack.empty()) {
        state.stack.pop_back();
    }
}

ULONG GetErrorCount()
{
    return static_cast<ULONG>(State().stack.size());
}

ZANTH::ZCInfo GetErrorInfo()
{
    ErrorState& state = State();
    if (state.stack.empty()) {
        return ZANTH::ZCInfo();
    }
    const TErrorEntry& top = state.stack.back();
    if (top.isSystem) {
        return ZANTH::ZCInfo(0, 0, top.Text(), TString::NullString, TString::NullString);
    }
    return ZANTH::ZCInfo(top.catalog, top.message, top.a1, top.a2, top.a3);
}

TString GetErrorText()
{
    TString text;
    const auto& stack = State().stack;
    for (auto it = stack.rbegin(); it != stack.rend(); ++it) {
        if (!text.IsEmpty()) {
            text += TEXT("\n");
        }
        text += it->Text();
    }
    return text;
}

void InsertDebugInfoIntoErrorStack(const char* file, int line)
{
    ErrorState& state = State();
    if (!state.stack.empty()) {
        state.stack.back().debugFile = file ? file : "";
        state.stack.back().debugLine = line;
    }
}

LONG GetPendingCount()
{
    return State().pending;
}

void DecrementPendingCount()
{
    ErrorState& state = State();
    if (state.pending > 0) {
        --state.pending;
    }
}

int InternalShowErrorBox(HWND, const WCHAR* caption, const WCHAR*)
{
    const TString text = GetErrorText();
    ClearError();
    if (g_ptheLogfile) {
        g_ptheLogfile->Write(1, text);
    }
    return TErrorProcessing::ErrorProcessing().MessageBox(text, caption ? caption : TEXT("Error"),
                                                          MB_OK | MB_ICONERROR, 0);
}

COREWU_PASSES_THREAD_EXIT TWorkEnd RunCatching(void (*work)(void*), void* context,
                                               void (*atThreadExit)(void*), void* exitContext)
{
    try {
        work(context);
        return TWorkEnd::Returned;
    } catch (TException&) {
        return TWorkEnd::LibraryError;
#if defined(__GLIBCXX__)
    } catch (abi::__forced_unwind&) {
        // The work ended its thread: the unwinding must go on.
        if (atThreadExit) {
            atThreadExit(exitContext);
        }
        throw;
#endif
    } catch (...) {
        ZanthUnhandledException();
        return TWorkEnd::OtherException;
    }
}

void RunDestructorWork(void (*work)(void*), void* context, TDestructorErrors policy)
{
    // Another error is being dealt with when an exception is in flight, or when
    // an error is pending and a handler is running (a catch site that cleans up
    // before it counts the error down). A pending count with neither is stale: a
    // careless catch site did not count down, and that alone must not silence
    // the errors of every later destructor on this thread.
    const bool handling = GetPendingCount() > 0 && std::current_exception() != nullptr;
    const ULONG depth = GetErrorCount();
    if (RunCatching(work, context) != TWorkEnd::LibraryError) {
        return;
    }
    DecrementPendingCount();
    const bool nothingElse = !handling && std::uncaught_exceptions() == 0;
    if (nothingElse) {
        if (policy == TDestructorErrors::Rethrow) {
            ThrowLastError();
        }
        ClearError();
        return;
    }
    while (GetErrorCount() > depth) {
        PopError();
    }
}

void ZanthUnhandledException()
{
    TString text(TEXT("Unhandled exception"));
    std::exception_ptr current = std::current_exception();
    try {
        if (current) {
            std::rethrow_exception(current);
        }
    } catch (const TException& error) {
        text += TEXT(": ");
        text += error.Entry().Text();
    } catch (const std::exception& error) {
        text += TEXT(": ");
        text += TString::FromAnsi(error.what());
    } catch (...) {
        text += TEXT(" of an unknown type");
    }
    if (g_ptheLogfile) {
        g_ptheLogfile->Write(1, text);
    }
    std::fprintf(stderr, "%s\n", text.AsAnsi().c_str());
}

TErrorProcessing& TErrorProcessing::ErrorProcessing()
{
    static TErrorProcessing instance;
    return instance;
}

int TErrorProcessing::MessageBox(const WCHAR* text, const WCHAR* caption, UINT style, int)
{
    return ::MessageBoxW(nullptr, text, caption, style);
}
