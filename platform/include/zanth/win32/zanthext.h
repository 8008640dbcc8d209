// Extensions of the platform layer that Win32 does not have but Linux needs: a
// replaceable message-box handler (tests answer boxes with it), and a view on the
// handle table for tests. Everything here is marked as ours, not Win32's.
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

// Win32 error code for a POSIX errno value (ENOENT -> ERROR_FILE_NOT_FOUND, ...).
ZANTH_PLATFORM_API DWORD ZanthErrorFromErrno(int error);

} // extern "C"

// ---------------------------------------------------------------------------
// Desktop helpers
// ---------------------------------------------------------------------------
extern "C" {

// The identity of a file or directory: two paths name the same object when both
// numbers agree (the device and inode here; on Windows the volume serial number and
// file index that GetFileInformationByHandle reports). Symbolic links are followed.
// Paths may be longer than MAX_PATH. FALSE with the last error set on failure.
ZANTH_PLATFORM_API BOOL ZanthGetFileIdentity(LPCWSTR path, ULONGLONG* volume, ULONGLONG* index);

// Makes GetVersionExW report `version` (its platform id, numbers and szCSDVersion)
// for the whole process instead of the running system, so that code telling
// Windows families apart can be tested on each: NT 3.51 is { 3, 51, 1057, 2 }, the
// Windows 95 family platform 1, Win32s platform 0. A record whose
// dwOSVersionInfoSize is 0 makes GetVersionExW fail (ERROR_GEN_FAILURE) and leave
// the caller's record alone. Null restores the system's own answer.
ZANTH_PLATFORM_API void ZanthSetReportedVersion(const OSVERSIONINFOW* version);

} // extern "C"

#endif // ZANTH_WIN32_ZANTHEXT_H
