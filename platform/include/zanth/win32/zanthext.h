// Extensions of the platform layer that Win32 does not have but Linux needs: a
// replaceable message-box handler (tests answer boxes with it), a view on the
// handle table for tests, and where the registry's databases live. Everything here is marked as
// ours, not Win32's.
#ifndef ZANTH_WIN32_ZANTHEXT_H
#define ZANTH_WIN32_ZANTHEXT_H

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

// Win32 error code for a POSIX errno value (ENOENT -> ERROR_FILE_NOT_FOUND, ...).
ZANTH_PLATFORM_API DWORD ZanthErrorFromErrno(int error);

// --- Where the registry lives ------------------------------------------------------
// Each root is one SQLite database file. HKEY_CURRENT_USER defaults to
// $XDG_CONFIG_HOME/zanth/registry-user.db (~/.config/zanth/ without XDG_CONFIG_HOME),
// HKEY_LOCAL_MACHINE to /var/lib/zanth/registry-machine.db; these environment
// variables name another file. They are read when a root's database is first used
// (and again after ZanthRegCloseDatabases).
#define ZANTH_REGISTRY_USER_ENV "ZANTH_REGISTRY_USER"
#define ZANTH_REGISTRY_MACHINE_ENV "ZANTH_REGISTRY_MACHINE"

// Copies the database path of a root (HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE) into
// `buffer`; `size` is in characters, the terminator included. Returns ERROR_SUCCESS,
// ERROR_INVALID_HANDLE for another key, or ERROR_MORE_DATA with the needed size.
ZANTH_PLATFORM_API LSTATUS ZanthRegGetDatabasePath(HKEY root, LPWSTR buffer, LPDWORD size);

// Runs SQLite's full integrity check over a root's database: ERROR_SUCCESS when it
// is sound, ERROR_REGISTRY_CORRUPT when not, or the error that kept it from opening.
ZANTH_PLATFORM_API LSTATUS ZanthRegCheckDatabase(HKEY root);

// Closes the process's database connections (committed data is checkpointed into
// the main file). Open keys stay valid; the next call opens the database again,
// reading the environment variables anew.
ZANTH_PLATFORM_API void ZanthRegCloseDatabases(void);

} // extern "C"

#endif // ZANTH_WIN32_ZANTHEXT_H
