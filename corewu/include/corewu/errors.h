// The per-thread error stack, the library exception TException, and the rule by
// which destructors report errors without ever letting two escape at once.
#ifndef COREWU_ERRORS_H
#define COREWU_ERRORS_H

#include <corewu/tstring.h>

#include <exception>
#include <memory>
#include <string>
#include <type_traits>

// Kept for code outside the libraries that catches glibc's thread-exit unwinding
// itself (`catch (abi::__forced_unwind&) { throw; }` ahead of a `catch (...)`): the
// unwinding carries no exception object, so that handler binds its reference to
// nothing, which UBSan's null check would report; such functions carry this mark.
// The libraries' own code leaves the unwinding to RunCatching.
#if defined(__GLIBCXX__)
#define COREWU_PASSES_THREAD_EXIT __attribute__((no_sanitize("null")))
#else
#define COREWU_PASSES_THREAD_EXIT
#endif

class TErrorData;
namespace ZANTH {
class ZCInfo;
}

// One entry of the error stack: a catalog message with up to three arguments, or a
// system error (a Win32 error code with its text).
struct COREWU_API TErrorEntry
{
    WORD catalog = 0;
    WORD message = 0;
    TString a1, a2, a3;
    bool isSystem = false;
    DWORD systemCode = 0;
    std::string debugFile; // set by InsertDebugInfoIntoErrorStack
    int debugLine = 0;

    // The entry as a user reads it: "[<catalog> <message>] <text>", or
    // "[system error <code>] <text>".
    TString Text() const;
};

// The exception every failure of the libraries raises. The error itself stays on
// the thread's error stack (GetErrorInfo, PopError); the exception carries a copy
// of the top entry for catch sites that only want to report it.
class COREWU_API TException : public std::exception
{
public:
    explicit TException(const TErrorEntry& entry);
    const char* what() const noexcept override { return m_What.c_str(); }
    WORD Catalog() const { return m_Entry.catalog; }
    WORD Message() const { return m_Entry.message; }
    const TErrorEntry& Entry() const { return m_Entry; }

private:
    TErrorEntry m_Entry;
    std::string m_What;
};

// --- The error stack (one per thread) ---------------------------------------------

// Pushes a catalog message and throws it as TException. The last argument is
// always null in this library.
[[noreturn]] COREWU_API void ThrowNewError(WORD catalog, WORD message, const TString& a1,
                                           const TString& a2, const TString& a3, TErrorData* data);
// Pushes a catalog message without throwing; returns the number of entries now on
// the stack.
COREWU_API ULONG PushError(WORD catalog, WORD message, const TString& a1, const TString& a2,
                           const TString& a3);
// Pushes GetLastError() with its system text.
COREWU_API void PushSystemError();
// Throws the entry on top of the stack (a generic error when the stack is empty).
[[noreturn]] COREWU_API void ThrowLastError();
COREWU_API void ClearError();
COREWU_API void PopError();
COREWU_API ULONG GetErrorCount();
// The top entry as a ZCInfo (catalog 0xFFFF when the stack is empty; a system
// error appears as a free-text error: catalog 0, message 0, its text as a1).
COREWU_API ZANTH::ZCInfo GetErrorInfo();
// The whole stack as text, top entry first, one line each.
COREWU_API TString GetErrorText();
COREWU_API void InsertDebugInfoIntoErrorStack(const char* file, int line);

// Errors raised and not yet handled on this thread: ThrowNewError and
// ThrowLastError count up, a catch site that handles the error counts down.
COREWU_API LONG GetPendingCount();
COREWU_API void DecrementPendingCount();

// Shows the error stack in a message box and clears it; returns the button.
COREWU_API int InternalShowErrorBox(HWND owner, const WCHAR* caption, const WCHAR* reserved);

// Reports an exception that is not the library's (call it inside a catch block):
// writes it to the log at level 1 and to standard error. Never throws.
COREWU_API void ZanthUnhandledException();

class TMessageBase;
// The base library's general catalog "CoreErrors": 0 free text (%1), 1 division by
// zero in %1, 2 a result of %1 that does not fit 32 bits, 3 out of memory.
COREWU_API const TMessageBase& CoreErrors();

// The object through which the libraries show message boxes to the user.
// Thread rules: may be used from any thread.
class COREWU_API TErrorProcessing
{
public:
    static TErrorProcessing& ErrorProcessing();
    // Shows a box with MessageBoxW; `reserved` is 0. Returns the button code.
    int MessageBox(const WCHAR* text, const WCHAR* caption, UINT style, int reserved);
};

// --- Work that may raise anything --------------------------------------------------

namespace corewu_detail {
// A callable as the function and context of the C-style entries below.
template <class Callable> void CallThrough(void* context)
{
    (*static_cast<Callable*>(context))();
}
template <class Callable> void* ContextOf(Callable& callable)
{
    return const_cast<void*>(static_cast<const volatile void*>(std::addressof(callable)));
}
} // namespace corewu_detail

// How the work that RunCatching ran has ended.
enum class TWorkEnd
{
    Returned,      // it returned
    LibraryError,  // it raised a TException: the error stays on the stack, still pending
    OtherException // it raised something else, already reported by ZanthUnhandledException
};

// Runs work(context) and catches whatever it raises, so that the caller handles a
// library error as it sees fit and nothing else escapes. The end of the thread
// itself (ExitThread, _endthread), which glibc carries out by unwinding the stack,
// is not caught: `atThreadExit(exitContext)` runs first when given, then the
// unwinding goes on, as it must. The one place of the libraries that knows how the
// C++ run time ends a thread.
COREWU_API TWorkEnd RunCatching(void (*work)(void* context), void* context,
                                void (*atThreadExit)(void* context) = nullptr,
                                void* exitContext = nullptr);

template <class Work> TWorkEnd RunCatching(Work&& work)
{
    using Callable = std::remove_reference_t<Work>;
    return RunCatching(corewu_detail::CallThrough<Callable>, corewu_detail::ContextOf(work));
}

template <class Work, class AtThreadExit>
TWorkEnd RunCatching(Work&& work, AtThreadExit&& atThreadExit)
{
    using Callable = std::remove_reference_t<Work>;
    using ExitCallable = std::remove_reference_t<AtThreadExit>;
    return RunCatching(corewu_detail::CallThrough<Callable>, corewu_detail::ContextOf(work),
                       corewu_detail::CallThrough<ExitCallable>,
                       corewu_detail::ContextOf(atThreadExit));
}

// --- The destructor rule ----------------------------------------------------------

enum class TDestructorErrors
{
    Rethrow, // raise the error when no other is being unwound, else drop it
    Swallow  // always drop the error
};

// Runs the cleaning work of a destructor so that no error escapes while another
// one is unwinding: a TException is counted down and thrown on with
// ThrowLastError unless another error is being dealt with, that is an exception
// is in flight, or an error was pending when the work began and a handler is
// running (a pending count without a handler is stale and does not count). With
// Swallow the error is always dropped: the stack is cleared when nothing else is
// pending. An error dropped while another one is pending or unwinding takes off
// exactly the entries the failed work pushed (its system error included), so the
// other error stays on top of the stack and keeps its entries. A thread's own end
// (ExitThread) unwinds on; any other exception goes to ZanthUnhandledException.
// Destructors that use it are noexcept(false).
COREWU_API void RunDestructorWork(void (*work)(void* context), void* context,
                                  TDestructorErrors policy = TDestructorErrors::Rethrow);

template <class Work>
void RunDestructorWork(Work&& work, TDestructorErrors policy = TDestructorErrors::Rethrow)
{
    using Callable = std::remove_reference_t<Work>;
    RunDestructorWork(corewu_detail::CallThrough<Callable>, corewu_detail::ContextOf(work), policy);
}

#endif // COREWU_ERRORS_H
