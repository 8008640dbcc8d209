// The last error set from errno (the mapping itself is in errno_codes.cpp).
#include "internal.h"

#include <zanth/win32/zanthext.h>

#include <cerrno>

namespace zanth::platform {

void SetLastErrorFromErrno()
{
    SetLastErrorFromErrno(errno);
}

void SetLastErrorFromErrno(int error)
{
    ::SetLastError(ZanthErrorFromErrno(error));
}

} // namespace zanth::platform
