// ZCSInt32, ZCSInt64 and the word helpers. Where the processor would raise an
// integer-divide fault (a zero divisor, a quotient too large for its register),
// a base-library error of the catalog "CoreErrors" is raised instead.
#include <corewu/errors.h>
#include <corewu/messages.h>
#include <corewu/tstring.h>
#include <zanth/integer.h>

#include <cmath>
#include <cstdint>

namespace ZANTH {
namespace {

[[noreturn]] void DivideByZero(const WCHAR* function)
{
    ThrowNewError(CoreErrors(), 1, function, TString::NullString, TString::NullString, nullptr);
}

[[noreturn]] void QuotientTooLarge(const WCHAR* function)
{
    ThrowNewError(CoreErrors(), 2, function, TString::NullString, TString::NullString, nullptr);
}

// Conversion to a 64-bit integer as the processor does it: truncation toward zero,
// and "integer indefinite" (the smallest value) for NaN and out-of-range values.
LONGLONG Truncate64(double x)
{
    if (!(x >= -9223372036854775808.0 && x < 9223372036854775808.0)) {
        return INT64_MIN;
    }
    return static_cast<LONGLONG>(x);
}

int Low32(LONGLONG value)
{
    return static_cast<int>(static_cast<DWORD>(static_cast<ULONGLONG>(value)));
}

int CheckedQuotient(LONGLONG quotient, const WCHAR* function)
{
    if (quotient < INT32_MIN || quotient > INT32_MAX) {
        QuotientTooLarge(function);
    }
    return static_cast<int>(quotient);
}

} // namespace

const int ZCSInt32::MaxValue = 2147483647;
const int ZCSInt32::MinValue = INT32_MIN;
const double ZCSInt32::m_EinHalbAsDouble = 0.5;

int ZCSInt32::TruncToInt(double x)
{
    return Low32(Truncate64(x));
}

int ZCSInt32::RoundToInt(double x)
{
    return TruncToInt(x + m_EinHalbAsDouble);
}

int ZCSInt32::I32UpTo32(int x)
{
    // The sum wraps as the 32-bit original's did.
    return static_cast<int>(static_cast<DWORD>(x) + 31u) / 32 * 32;
}

LONG ZCSInt32::I32UpTo64(int x)
{
    return static_cast<int>(static_cast<DWORD>(x) + 63u) / 64 * 64;
}

const LONGLONG ZCSInt64::MaxValue = 0x7FFFFFFFFFFFFFFFLL;
const LONGLONG ZCSInt64::MinValue = INT64_MIN + 2;

unsigned int ZCSInt64::operator==(const ZCSInt64& other) const
{
    return m_Value.QuadPart == other.m_Value.QuadPart;
}

unsigned int ZCSInt64::operator!=(const ZCSInt64& other) const
{
    return m_Value.QuadPart != other.m_Value.QuadPart;
}

unsigned int ZCSInt64::operator<=(const ZCSInt64& other) const
{
    return m_Value.QuadPart <= other.m_Value.QuadPart;
}

unsigned int ZCSInt64::operator>=(const ZCSInt64& other) const
{
    return m_Value.QuadPart >= other.m_Value.QuadPart;
}

unsigned int ZCSInt64::operator<(const ZCSInt64& other) const
{
    return m_Value.QuadPart < other.m_Value.QuadPart;
}

unsigned int ZCSInt64::operator>(const ZCSInt64& other) const
{
    return m_Value.QuadPart > other.m_Value.QuadPart;
}

ZCSInt64 ZCSInt64::operator+(const ZCSInt64& other) const
{
    return ZCSInt64(static_cast<LONGLONG>(static_cast<ULONGLONG>(m_Value.QuadPart) +
                                          static_cast<ULONGLONG>(other.m_Value.QuadPart)));
}

ZCSInt64 ZCSInt64::operator-(const ZCSInt64& other) const
{
    return ZCSInt64(static_cast<LONGLONG>(static_cast<ULONGLONG>(m_Value.QuadPart) -
                                          static_cast<ULONGLONG>(other.m_Value.QuadPart)));
}

ZCSInt64& ZCSInt64::operator+=(const ZCSInt64& other)
{
    *this = *this + other;
    return *this;
}

ZCSInt64& ZCSInt64::operator-=(const ZCSInt64& other)
{
    *this = *this - other;
    return *this;
}

DWORD ZCSInt64::TruncToInt(double x)
{
    return static_cast<DWORD>(static_cast<ULONGLONG>(Truncate64(x)));
}

DWORD ZCSInt64::RoundToInt(double x)
{
    return TruncToInt(x + 0.5);
}

int ZCSInt64::DivRound32(int a, int b)
{
    if (b == 0) {
        DivideByZero(TEXT("ZCSInt64::DivRound32"));
    }
    // The sum a + b / 2 can leave the 32-bit range although the rounded quotient
    // fits (INT_MAX / 2): it is formed in 64 bits, and only a quotient outside the
    // result type (INT_MIN / -1) is an error.
    const LONGLONG sum = static_cast<LONGLONG>(a) + b / 2;
    return CheckedQuotient(sum / b, TEXT("ZCSInt64::DivRound32"));
}

int ZCSInt64::DivRound32(unsigned int a, unsigned int b)
{
    if (b == 0) {
        DivideByZero(TEXT("ZCSInt64::DivRound32"));
    }
    return static_cast<int>((a + b / 2) / b);
}

int ZCSInt64::DivRound32(unsigned int a, int b)
{
    if (b == 0) {
        DivideByZero(TEXT("ZCSInt64::DivRound32"));
    }
    const int half = b / 2;
    return static_cast<int>((a + static_cast<unsigned int>(half)) / static_cast<unsigned int>(b));
}

int ZCSInt64::DivRound32(int a, unsigned int b)
{
    if (b == 0) {
        DivideByZero(TEXT("ZCSInt64::DivRound32"));
    }
    return static_cast<int>((static_cast<unsigned int>(a) + b / 2) / b);
}

int ZCSInt64::I32MultI32DivI32Round(int a, int b, int c)
{
    if (c == 0) {
        DivideByZero(TEXT("ZCSInt64::I32MultI32DivI32Round"));
    }
    const LONGLONG product = static_cast<LONGLONG>(a) * b;
    const LONGLONG dividend = product + (c >> 1);
    return CheckedQuotient(dividend / c, TEXT("ZCSInt64::I32MultI32DivI32Round"));
}

int ZCSInt64::I32MultI32DivI32Ceil(int a, int b, int c)
{
    if (c == 0) {
        DivideByZero(TEXT("ZCSInt64::I32MultI32DivI32Ceil"));
    }
    // The step up from the truncated quotient can itself leave the 32-bit range
    // (65535 x 65537 / 2), so the range is checked on the final value.
    const LONGLONG product = static_cast<LONGLONG>(a) * b;
    const LONGLONG ceiling = product / c + (product % c != 0 ? 1 : 0);
    return CheckedQuotient(ceiling, TEXT("ZCSInt64::I32MultI32DivI32Ceil"));
}

LONGLONG ZCSInt64::I32MultI32(int a, int b)
{
    return static_cast<LONGLONG>(a) * b;
}

LONGLONG ZCSInt64::I64DivI32(LONGLONG a, int b)
{
    if (b == 0) {
        DivideByZero(TEXT("ZCSInt64::I64DivI32"));
    }
    const LONGLONG half = b / 2;
    LONGLONG sum;
    if (!__builtin_add_overflow(a, half, &sum)) {
        if (sum == INT64_MIN && b == -1) {
            QuotientTooLarge(TEXT("ZCSInt64::I64DivI32"));
        }
        return sum / b;
    }
    // a + b / 2 leaves the 64-bit range, which needs a and b of the same sign
    // (and |b| >= 2). Split a into q * b + r: r and the half then have the sign of
    // a, so the exact sum q * b + (r + half) has both parts on the same side of
    // zero and its truncated quotient is q + (r + half) / b, with nothing too large.
    const LONGLONG q = a / b;
    const LONGLONG r = a % b;
    return q + (r + half) / b;
}

} // namespace ZANTH

void MakeWords(DWORD value, WORD& low, WORD& high)
{
    low = static_cast<WORD>(value & 0xFFFF);
    high = static_cast<WORD>(value >> 16);
}

DWORD MakeLong(WORD low, WORD high)
{
    return (static_cast<DWORD>(high) << 16) | low;
}
