// The calling thread's last error: GetLastError and SetLastError.
#include <zanth/win32/windows.h>

namespace {

thread_local DWORD t_LastError = ERROR_SUCCESS;

} // namespace

extern "C" {

DWORD WINAPI GetLastError(void)
{
    return t_LastError;
}

void WINAPI SetLastError(DWORD errorCode)
{
    t_LastError = errorCode;
}

} // extern "C"
