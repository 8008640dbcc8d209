// Wide-string helpers for UTF-16 text.
#include <corewu/widestr.h>

#include <corewu/tstring.h>

#include <climits>
#include <cstdarg>
#include <cstring>

std::size_t WStrLen(const WCHAR* text)
{
    std::size_t n = 0;
    if (text) {
        while (text[n]) {
            ++n;
        }
    }
    return n;
}

WCHAR* WStrNCopy(WCHAR* target, const WCHAR* source, std::size_t count)
{
    std::size_t i = 0;
    for (; i < count && source && source[i]; ++i) {
        target[i] = source[i];
    }
    for (; i < count; ++i) {
        target[i] = 0;
    }
    return target;
}

std::size_t WStrFieldLen(const WCHAR* field, std::size_t capacity)
{
    std::size_t n = 0;
    while (n < capacity && field[n]) {
        ++n;
    }
    return n;
}

int WStrCmp(const WCHAR* a, const WCHAR* b)
{
    const WCHAR* x = a ? a : TEXT("");
    const WCHAR* y = b ? b : TEXT("");
    while (*x && *x == *y) {
        ++x;
        ++y;
    }
    return (*x < *y) ? -1 : (*x > *y) ? 1 : 0;
}

int WSPrintf(WCHAR* buffer, std::size_t count, const WCHAR* format, ...)
{
    if (!buffer || count == 0) {
        return -1;
    }
    TString text;
    va_list arguments;
    va_start(arguments, format);
    text.FormatV(format, arguments);
    va_end(arguments);
    const std::size_t length = static_cast<std::size_t>(text.GetLength());
    const std::size_t n = length < count ? length : count - 1;
    std::memcpy(buffer, text.c_str(), n * sizeof(WCHAR));
    buffer[n] = 0;
    return n == length ? static_cast<int>(n) : -1;
}

LONG WStrToL(const WCHAR* text, const WCHAR** end, int base)
{
    const WCHAR* p = text;
    if (end) {
        *end = text;
    }
    if (!text || base < 2 || base > 36) {
        return 0;
    }
    while (*p == TEXT(' ') || (*p >= TEXT('\t') && *p <= TEXT('\r'))) {
        ++p;
    }
    bool negative = false;
    if (*p == TEXT('+') || *p == TEXT('-')) {
        negative = *p == TEXT('-');
        ++p;
    }
    long long value = 0;
    bool any = false;
    bool overflow = false;
    for (;; ++p) {
        int digit;
        if (*p >= TEXT('0') && *p <= TEXT('9')) {
            digit = *p - TEXT('0');
        } else if (*p >= TEXT('a') && *p <= TEXT('z')) {
            digit = *p - TEXT('a') + 10;
        } else if (*p >= TEXT('A') && *p <= TEXT('Z')) {
            digit = *p - TEXT('A') + 10;
        } else {
            break;
        }
        if (digit >= base) {
            break;
        }
        any = true;
        if (!overflow) {
            value = value * base + digit;
            if (value > static_cast<long long>(INT32_MAX) + 1) {
                overflow = true;
            }
        }
    }
    if (!any) {
        return 0;
    }
    if (end) {
        *end = p;
    }
    if (overflow) {
        return negative ? INT32_MIN : INT32_MAX;
    }
    if (negative) {
        value = -value;
    }
    if (value > INT32_MAX) {
        return INT32_MAX;
    }
    if (value < INT32_MIN) {
        return INT32_MIN;
    }
    return static_cast<LONG>(value);
}
