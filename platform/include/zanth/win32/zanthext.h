// Extensions of the platform layer that Win32 does not have but Linux needs: a
// replaceable message-box handler (tests answer boxes with it), a view on the
// handle table for tests, errno translation, file ownership, the conversion of
// byte file names, and where the registry's databases live. Everything here is
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
// File names as the file system holds them. A Linux file name is a string of
// bytes that need not be UTF-8; the file functions (CreateFileW, DeleteFileW,
// GetFileAttributesW, ...) take UTF-16 names in which each byte that is not part
// of well-formed UTF-8 is carried as the lone surrogate U+DC80-U+DCFF, so every
// file can be named and no two names reach the same file. A name that no byte
// string maps to (any other lone surrogate) is refused with ERROR_INVALID_NAME.
//
// ZanthFileNameFromBytes turns a name from the system (a command-line argument,
// an environment variable) into the UTF-16 name of the same file. It returns the
// length without the terminator when the name fits in `size` units, else the size
// needed including the terminator (ERROR_INSUFFICIENT_BUFFER), as GetTempPathW.
ZANTH_PLATFORM_API DWORD ZanthFileNameFromBytes(LPCSTR bytes, LPWSTR name, DWORD size);
// The bytes the file functions use for a UTF-16 name, with the same length rules
// (in bytes); 0 with ERROR_INVALID_NAME for a name that cannot be encoded exactly.
ZANTH_PLATFORM_API DWORD ZanthFileNameToBytes(LPCWSTR name, LPSTR bytes, DWORD size);

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

// ---------------------------------------------------------------------------
// Serial ports
// ---------------------------------------------------------------------------
extern "C" {

// Where "\\.\COMn" leads: the port directory holds one symbolic link "comN" per
// port, naming its device (/dev/ttyUSB0, /dev/serial/by-id/..., a pseudo-terminal).
// Without a link COM1-COM4 are /dev/ttyS0-/dev/ttyS3 and other ports do not exist.
// The directory is $ZANTH_COMM_DIR, else $XDG_CONFIG_HOME/zanth/ports
// (~/.config/zanth/ports without XDG_CONFIG_HOME); it is read at every open.
#define ZANTH_COMM_DIR_ENV "ZANTH_COMM_DIR"

// The port directory (it need not exist). Length conventions of GetTempPathW.
ZANTH_PLATFORM_API DWORD ZanthGetCommDirectory(LPWSTR buffer, DWORD size);

// The device that port `port` (1-255) maps to now, link or default, whether or
// not it exists. Length conventions of GetTempPathW; 0 with ERROR_FILE_NOT_FOUND
// when the port maps nowhere, ERROR_INVALID_PARAMETER for port 0 or above 255.
ZANTH_PLATFORM_API DWORD ZanthGetCommDevice(DWORD port, LPWSTR buffer, DWORD size);

// Makes port `port` map to `device` (the link is replaced; the directory is made
// when missing). A null or empty device removes the link, bringing the default
// back. FALSE with the last error set on failure.
ZANTH_PLATFORM_API BOOL ZanthMapCommPort(DWORD port, LPCWSTR device);

// Opens a new pseudo-terminal pair. The master side comes back as a file handle
// for ReadFile and WriteFile (blocking, never overlapped) and CloseHandle; the
// other side's device path goes to `device`, ready to be mapped to a port. Closing
// the master makes the device disappear for whoever has it open. FALSE with the
// last error set (ERROR_INSUFFICIENT_BUFFER when `size` characters are too few).
ZANTH_PLATFORM_API BOOL ZanthCreatePseudoTerminal(HANDLE* master, LPWSTR device, DWORD size);

} // extern "C"

// ---------------------------------------------------------------------------
// Modules, the shell and private files
// ---------------------------------------------------------------------------

// LoadLibraryW("NAME.DLL") loads the file that the environment variable
// ZANTH_DLL_NAME (the name upper case, without ".DLL": ZANTH_DLL_MAPI32) names
// when it is set, instead of libname.so from the library path. Set but empty, the
// module counts as missing.
#define ZANTH_DLL_ENV_PREFIX "ZANTH_DLL_"

// ShellExecuteW's "open" starts the program this environment variable names (it
// gets the file as its one argument) instead of xdg-open.
#define ZANTH_OPENER_ENV "ZANTH_OPENER"

// A CreateFileW flag: a file that the call creates may be read and written by its
// owner only (mode 0600). Files the library writes into a shared temp directory
// carry it. (On Windows the user's temp directory is private already: 0 there.)
#define ZANTH_FILE_FLAG_OWNER_ONLY 0x00400000u

#endif // ZANTH_WIN32_ZANTHEXT_H
