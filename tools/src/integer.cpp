// ZCSInt32, ZCSInt64 and the word helpers. Where the processor would raise an
// integer-divide fault (a zero divisor, a quotient too large for its register),
// a base-library error of the catalog "CoreErrors" is raised instead.
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
        DivideByZero(u"ZCSInt64::DivRound32");
    }
    // INT_MIN / -1 would fault as well; 64-bit arithmetic and a range check keep it
    // a library error.
    const LONGLONG sum =
        static_cast<LONGLONG>(static_cast<int>(static_cast<DWORD>(a) + static_cast<DWORD>(b / 2)));
    return CheckedQuotient(sum / b, u"ZCSInt64::DivRound32");
}

int ZCSInt64::DivRound32(unsigned int a, unsigned int b)
{
    if (b == 0) {
        DivideByZero(u"ZCSInt64::DivRound32");
    }
    return static_cast<int>((a + b / 2) / b);
}

int ZCSInt64::DivRound32(unsigned int a, int b)
{
    if (b == 0) {
        DivideByZero(u"ZCSInt64::DivRound32");
    }
    const int half = b / 2;
    return static_cast<int>((a + static_cast<unsigned int>(half)) / static_cast<unsigned int>(b));
}

int ZCSInt64::DivRound32(int a, unsigned int b)
{
    if (b == 0) {
        DivideByZero(u"ZCSInt64::DivRound32");
    }
    return static_cast<int>((static_cast<unsigned int>(a) + b / 2) / b);
}

int ZCSInt64::I32MultI32DivI32Round(int a, int b, int c)
{
    if (c == 0) {
        DivideByZero(u"ZCSInt64::I32MultI32DivI32Round");
    }
    const LONGLONG product = static_cast<LONGLONG>(a) * b;
    const LONGLONG dividend = product + (c >> 1);
    return CheckedQuotient(dividend / c, u"ZCSInt64::I32MultI32DivI32Round");
}

int ZCSInt64::I32MultI32DivI32Ceil(int a, int b, int c)
{
    if (c == 0) {
        DivideByZero(u"ZCSInt64::I32MultI32DivI32Ceil");
    }
    const LONGLONG product = static_cast<LONGLONG>(a) * b;
    const int quotient = CheckedQuotient(product / c, u"ZCSInt64::I32MultI32DivI32Ceil");
    if (product % c != 0) {
        return static_cast<int>(static_cast<DWORD>(quotient) + 1u);
    }
    return quotient;
}

LONGLONG ZCSInt64::I32MultI32(int a, int b)
{
    return static_cast<LONGLONG>(a) * b;
}

LONGLONG ZCSInt64::I64DivI32(LONGLONG a, int b)
{
    if (b == 0) {
        DivideByZero(u"ZCSInt64::I64DivI32");
    }
    const LONGLONG sum =
        static_cast<LONGLONG>(static_cast<ULONGLONG>(a) + static_cast<ULONGLONG>(b / 2));
    if (sum == INT64_MIN && b == -1) {
        QuotientTooLarge(u"ZCSInt64::I64DivI32");
    }
    return sum / b;
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
