// Wide-string helpers for UTF-16 text: what the C library's wcs* functions do on
// Windows, where wchar_t is 16 bits. Never use the C library's wcs* on Linux.
#ifndef COREWU_WIDESTR_H
#define COREWU_WIDESTR_H

#include <corewu/config.h>

#include <cstddef>

// Length of a terminated text (0 for null).
COREWU_API std::size_t WStrLen(const WCHAR* text);
// wcsncpy: copies at most `count` characters and pads with zeros; like wcsncpy the
// result is not terminated when the source has `count` characters or more.
COREWU_API WCHAR* WStrNCopy(WCHAR* target, const WCHAR* source, std::size_t count);
// Length of a text held in a fixed field of `capacity` characters that may lack
// its terminator (a name of exactly `capacity` characters).
COREWU_API std::size_t WStrFieldLen(const WCHAR* field, std::size_t capacity);
COREWU_API int WStrCmp(const WCHAR* a, const WCHAR* b);
// swprintf with a buffer size: formats with TString::Format rules, always
// terminates, returns the characters written or -1 when the text was cut.
COREWU_API int WSPrintf(WCHAR* buffer, std::size_t count, const WCHAR* format, ...);
// wcstol as on Windows (32-bit long, clamped to LONG_MIN..LONG_MAX on overflow) on
// UTF-16 text, base 2..36: skips leading white space, takes one sign,
// and reports in `end` where the number stopped (at `text` when no digit follows).
COREWU_API LONG WStrToL(const WCHAR* text, const WCHAR** end, int base);

#endif // COREWU_WIDESTR_H
