// What the thread objects and the message queue share: the names they give
// themselves, and the empty argument of their error messages.
#ifndef ZANTH_SRC_THREADIMPL_H
#define ZANTH_SRC_THREADIMPL_H

#include <corewu/tstring.h>
#include <corewu/widestr.h>
#include <zanth/config.h>

#include <cstddef>
#include <cstdint>

namespace ZANTH::detail {

inline const TString& Null()
{
    return TString::NullString;
}

// Copies a name into a field of `length` characters plus a terminator: longer names
// are cut, so the field is always terminated. Without a name the field reads
// "noname at:0x" and the object's address (all of its digits, at least eight).
inline void CopyName(WCHAR* field, std::size_t length, const WCHAR* name, const void* object)
{
    if (!name) {
        WSPrintf(field, length + 1, TEXT("noname at:0x%08llX"),
                 static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(object)));
        return;
    }
    WStrNCopy(field, name, length);
    field[length] = 0;
}

} // namespace ZANTH::detail

#endif // ZANTH_SRC_THREADIMPL_H
