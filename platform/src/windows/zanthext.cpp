// The extensions of zanthext.h on Windows. The Win32 API itself is the system's;
// what Linux needed a mapping for is mostly a pass-through here, and the hooks that
// only the Linux layer can honour (handle ageing, port links, pseudo-terminals,
// registry databases) report ERROR_NOT_SUPPORTED.
#include <zanth/win32/windows.h>
#include <zanth/win32/zanthext.h>

#include <aclapi.h>
#include <cstdio>
#include <io.h>
#include <mutex>

namespace {

std::mutex g_boxLock;
ZANTH_MESSAGEBOX_HANDLER g_boxHandler = nullptr;
void* g_boxContext = nullptr;

// Copies `text` (`length` units, no terminator) with the length rules of
// GetTempPathW: the length when it fits, else the size needed.
DWORD copyOut(const WCHAR* text, DWORD length, LPWSTR buffer, DWORD size)
{
    if (buffer == nullptr || size <= length) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return length + 1;
    }
    for (DWORD i = 0; i < length; ++i)
        buffer[i] = text[i];
    buffer[length] = 0;
    return length;
}

} // namespace

extern "C" {

ZANTH_MESSAGEBOX_HANDLER ZanthSetMessageBoxHandler(ZANTH_MESSAGEBOX_HANDLER handler, void* context)
{
    std::lock_guard<std::mutex> lock(g_boxLock);
    ZANTH_MESSAGEBOX_HANDLER previous = g_boxHandler;
    g_boxHandler = handler;
    g_boxContext = context;
    return previous;
}

int ZanthDefaultMessageBoxButton(UINT type)
{
    UINT buttons = type & MB_TYPEMASK;
    UINT choice = (type & MB_DEFMASK) >> 8; // 0 for the first button, 1, 2, 3
    static const int table[][4] = {
        {IDOK, IDOK, IDOK, IDOK},                    // MB_OK
        {IDOK, IDCANCEL, IDOK, IDOK},                // MB_OKCANCEL
        {IDABORT, IDRETRY, IDIGNORE, IDABORT},       // MB_ABORTRETRYIGNORE
        {IDYES, IDNO, IDCANCEL, IDYES},              // MB_YESNOCANCEL
        {IDYES, IDNO, IDYES, IDYES},                 // MB_YESNO
        {IDRETRY, IDCANCEL, IDRETRY, IDRETRY},       // MB_RETRYCANCEL
        {IDCANCEL, IDTRYAGAIN, IDCONTINUE, IDCANCEL} // MB_CANCELTRYCONTINUE
    };
    if (buttons > MB_CANCELTRYCONTINUE)
        return IDOK;
    return table[buttons][choice & 3];
}

DWORD ZanthOpenHandleCount(void)
{
    DWORD count = 0;
    return GetProcessHandleCount(GetCurrentProcess(), &count) ? count : 0;
}

BOOL ZanthStreamIsTerminal(FILE* stream)
{
    return stream != nullptr && _isatty(_fileno(stream)) ? TRUE : FALSE;
}

HANDLE ZanthAgeHandle(HANDLE)
{
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
}

BOOL ZanthIsOwnFile(HANDLE file)
{
    if (file == nullptr || file == INVALID_HANDLE_VALUE || GetFileType(file) != FILE_TYPE_DISK) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD status = GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                                   nullptr, nullptr, nullptr, &descriptor);
    if (status != ERROR_SUCCESS) {
        SetLastError(status);
        return FALSE;
    }
    BOOL own = FALSE;
    HANDLE token = nullptr;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        union
        {
            TOKEN_USER user;
            BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
        } info;
        DWORD length = 0;
        if (GetTokenInformation(token, TokenUser, &info, sizeof info, &length))
            own = EqualSid(owner, info.user.User.Sid);
        CloseHandle(token);
    }
    LocalFree(descriptor);
    SetLastError(ERROR_SUCCESS);
    return own;
}

// Windows file names are UTF-16 already; bytes from the system (arguments, the
// environment) are in the ANSI code page.
DWORD ZanthFileNameFromBytes(LPCSTR bytes, LPWSTR name, DWORD size)
{
    if (bytes == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    int needed = MultiByteToWideChar(CP_ACP, 0, bytes, -1, nullptr, 0);
    if (needed <= 0)
        return 0;
    if (name == nullptr || static_cast<DWORD>(needed) > size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return static_cast<DWORD>(needed);
    }
    MultiByteToWideChar(CP_ACP, 0, bytes, -1, name, needed);
    return static_cast<DWORD>(needed - 1);
}

DWORD ZanthFileNameToBytes(LPCWSTR name, LPSTR bytes, DWORD size)
{
    if (name == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    BOOL lossy = FALSE;
    int needed =
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name, -1, nullptr, 0, nullptr, &lossy);
    if (needed <= 0 || lossy) {
        SetLastError(ERROR_INVALID_NAME);
        return 0;
    }
    if (bytes == nullptr || static_cast<DWORD>(needed) > size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return static_cast<DWORD>(needed);
    }
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name, -1, bytes, needed, nullptr, nullptr);
    return static_cast<DWORD>(needed - 1);
}

// The registry is the system's: there is no database file behind a root.
LSTATUS ZanthRegGetDatabasePath(HKEY root, LPWSTR, LPDWORD)
{
    if (root != HKEY_CURRENT_USER && root != HKEY_LOCAL_MACHINE)
        return ERROR_INVALID_HANDLE;
    return ERROR_NOT_SUPPORTED;
}

LSTATUS ZanthRegCheckDatabase(HKEY root)
{
    if (root != HKEY_CURRENT_USER && root != HKEY_LOCAL_MACHINE)
        return ERROR_INVALID_HANDLE;
    return ERROR_SUCCESS;
}

void ZanthRegCloseDatabases(void) {}

BOOL ZanthGetFileIdentity(LPCWSTR path, ULONGLONG* volume, ULONGLONG* index)
{
    if (path == nullptr || volume == nullptr || index == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // Directories open only with backup semantics; no access right is needed to
    // read the file information.
    HANDLE file = CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return FALSE;
    BY_HANDLE_FILE_INFORMATION info;
    BOOL ok = GetFileInformationByHandle(file, &info);
    DWORD error = GetLastError();
    CloseHandle(file);
    if (!ok) {
        SetLastError(error);
        return FALSE;
    }
    *volume = info.dwVolumeSerialNumber;
    *index = (static_cast<ULONGLONG>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return TRUE;
}

// GetVersionExW is the system's and cannot be redirected from here; the record is
// not used (see docs/windows.md).
void ZanthSetReportedVersion(const OSVERSIONINFOW*) {}

// Serial ports are the system's "\\.\COMn" devices; no directory of links.
DWORD ZanthGetCommDirectory(LPWSTR, DWORD)
{
    SetLastError(ERROR_NOT_SUPPORTED);
    return 0;
}

DWORD ZanthGetCommDevice(DWORD port, LPWSTR buffer, DWORD size)
{
    if (port == 0 || port > 255) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    WCHAR text[16];
    int length = swprintf(text, 16, L"\\\\.\\COM%lu", static_cast<unsigned long>(port));
    return copyOut(text, static_cast<DWORD>(length), buffer, size);
}

BOOL ZanthMapCommPort(DWORD, LPCWSTR)
{
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}

BOOL ZanthCreatePseudoTerminal(HANDLE* master, LPWSTR, DWORD)
{
    if (master != nullptr)
        *master = INVALID_HANDLE_VALUE;
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}

} // extern "C"
