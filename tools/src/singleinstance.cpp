// The single-instance guard: a named mutex claims the program's name, and a search
// of the top-level windows' titles finds an earlier instance.
#include <corewu/errors.h>
#include <corewu/file.h>
#include <zanth/singleinstance.h>

#include <zanth/messages.h>

#include "catalogs.h"

namespace {

// Letters a to z become A to Z; every other character stays as it is.
void UpperAscii(TString& text)
{
    for (LONG i = 0; i < text.GetLength(); ++i) {
        const WCHAR ch = text.GetAt(i);
        if (ch >= TEXT('a') && ch <= TEXT('z')) {
            text.SetAt(i, static_cast<WCHAR>(ch - TEXT('a') + TEXT('A')));
        }
    }
}

struct Search
{
    TString title; // upper-cased
    bool found = false;
};

BOOL CALLBACK CompareTitle(HWND window, LPARAM parameter)
{
    Search& search = *reinterpret_cast<Search*>(parameter);
    WCHAR buffer[1024];
    if (::GetWindowTextW(window, buffer, 1024) <= 0) {
        buffer[0] = 0;
    }
    TString text(buffer);
    UpperAscii(text);
    if (text.Find(search.title) >= 0) {
        search.found = true;
        return FALSE; // the error is raised once the enumeration has ended
    }
    return TRUE;
}

} // namespace

void ZCSingleInstance::CheckSingleInstance(const WCHAR* name)
{
    if (!name || !*name) {
        ThrowNewError(0, 0,
                      TString(TEXT("The single-instance guard needs a name; an unnamed claim ")
                                  TEXT("cannot tell two instances apart.")),
                      TString::NullString, TString::NullString, nullptr);
    }
    TString mutexName;
    mutexName.Format(TEXT("%s"), name);
    mutexName.Exchange(TEXT('\\'), TEXT('/'));
    // The handle stays open until the process ends: that keeps the name claimed.
    ::CreateMutexW(nullptr, FALSE, mutexName);
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        ThrowNewError(ZANTH::detail::g_SingleInstanceCatalog, 0, TString(name),
                      TFileString::GetNameExt(TFile::GetExeName()), TString::NullString, nullptr);
    }
}

void* FindPrevInstance(const WCHAR* title)
{
    Search search;
    search.title = TString(title);
    UpperAscii(search.title);
    ::EnumWindows(CompareTitle, reinterpret_cast<LPARAM>(&search));
    if (search.found) {
        ThrowNewError(GeneralMessages, 1, TString::NullString, TString::NullString,
                      TString::NullString, nullptr);
    }
    return nullptr;
}
