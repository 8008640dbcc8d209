// Extensions of the platform layer that Win32 does not have but Linux needs: a
// replaceable message-box handler (tests answer boxes with it), a view on the
// handle table for tests, errno translation and file ownership. Everything here is
// marked as ours, not Win32's.
#ifndef ZANTH_WIN32_ZANTHEXT_H
#define ZANTH_WIN32_ZANTHEXT_H

#include <cstdio>

#include <zanth/win32/windows.h>

extern "C" {

// Answers MessageBoxW. Returns the button code (IDOK, IDYES, ...). The context
// pointer is the one given to ZanthSetMessageBoxHandler.
typedef int (*ZANTH_MESSAGEBOX_HANDLER)(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type,
                                        void* context);

// Installs a handler for MessageBoxW for the whole process and returns the previous
// one (null when the default was active); null restores the default. The default
// handler asks on the terminal when standard input and standard error are terminals,
// and otherwise writes the box to standard error and returns the default button.
ZANTH_PLATFORM_API ZANTH_MESSAGEBOX_HANDLER
ZanthSetMessageBoxHandler(ZANTH_MESSAGEBOX_HANDLER handler, void* context);

// The button that a box of the given type returns when nobody answers it: the
// MB_DEFBUTTONn choice among the buttons of the MB_TYPEMASK group.
ZANTH_PLATFORM_API int ZanthDefaultMessageBoxButton(UINT type);

// Number of open handles in the process's handle table (for leak tests).
ZANTH_PLATFORM_API DWORD ZanthOpenHandleCount(void);

// TRUE when the C stream is connected to a terminal (a console, on Windows), so
// that output may be redrawn in place.
ZANTH_PLATFORM_API BOOL ZanthStreamIsTerminal(FILE* stream);

// For tests of the handle table: gives the slot of a live handle the last
// generation a slot can reach, as if it had been reused that often, and returns
// the handle under its new generation (the old value becomes invalid). Null with
// ERROR_INVALID_HANDLE for a closed or unknown handle.
ZANTH_PLATFORM_API HANDLE ZanthAgeHandle(HANDLE handle);

// Win32 error code for a POSIX errno value (ENOENT -> ERROR_FILE_NOT_FOUND, ...).
ZANTH_PLATFORM_API DWORD ZanthErrorFromErrno(int error);

// Whether an open file (a handle of CreateFileW) belongs to the user the process
// runs as. Files that the library keeps in a shared directory are only written
// when they do, so that nobody else can choose where their lines end up. FALSE
// with ERROR_INVALID_HANDLE for a handle that is not an open file.
ZANTH_PLATFORM_API BOOL ZanthIsOwnFile(HANDLE file);

} // extern "C"

#endif // ZANTH_WIN32_ZANTHEXT_H
