// Integer helpers: 32- and 64-bit value classes with rounding division, scaled
// multiplication and conversion from floating point, and 32-bit word split/join.
#ifndef ZANTH_INTEGER_H
#define ZANTH_INTEGER_H

#include <zanth/config.h>

namespace ZANTH {

// A signed 32-bit value with static rounding helpers. Plain value, no state beyond
// the number; the static functions are pure and may run on any thread.
class ZANTH_TOOLS_API ZCSInt32
{
public:
    static const int MaxValue;
    static const int MinValue;

    // Leaves the value unset (as a plain int would be).
    ZCSInt32() {}
    ZCSInt32(int value) : m_Value(value) {}
    ZCSInt32& operator=(const ZCSInt32& other) = default;

    void _Set(int value) { m_Value = value; }
    int _Get() const { return m_Value; }

    unsigned int operator==(const ZCSInt32& other) const { return m_Value == other.m_Value; }
    unsigned int operator!=(const ZCSInt32& other) const { return m_Value != other.m_Value; }
    unsigned int operator<=(const ZCSInt32& other) const { return m_Value <= other.m_Value; }
    unsigned int operator>=(const ZCSInt32& other) const { return m_Value >= other.m_Value; }
    // Strict, unlike the inclusive pair above.
    unsigned int operator<(const ZCSInt32& other) const { return m_Value < other.m_Value; }
    unsigned int operator>(const ZCSInt32& other) const { return m_Value > other.m_Value; }

    // x truncated toward zero through a 64-bit integer; the low 32 bits. A value
    // outside the 64-bit range (or NaN) gives the processor's "integer indefinite"
    // 0x8000000000000000, whose low 32 bits are 0.
    static int TruncToInt(double x);
    // TruncToInt(x + 0.5): halves round up for positive x; -2.5 gives -2.
    static int RoundToInt(double x);
    // (x + 31) / 32 * 32 and (x + 63) / 64 * 64, truncating toward zero.
    static int I32UpTo32(int x);
    static LONG I32UpTo64(int x);

private:
    static const double m_EinHalbAsDouble;
    int m_Value;
};

// A signed 64-bit value, low word first so that it can be viewed as LARGE_INTEGER.
// Arithmetic wraps without notice. The static functions raise a base-library error
// (catalog "CoreErrors": 1 for a zero divisor, 2 for a quotient outside the result
// type) where the processor would fault.
class ZANTH_TOOLS_API ZCSInt64
{
public:
    static const LONGLONG MaxValue;
    // Two above the smallest 64-bit value: 0x8000000000000002.
    static const LONGLONG MinValue;

    ZCSInt64() {}
    ZCSInt64(LONGLONG value) { m_Value.QuadPart = value; }
    ZCSInt64& operator=(const ZCSInt64& other) = default;

    void _Set(LONGLONG value) { m_Value.QuadPart = value; }
    LONGLONG _Get() const { return m_Value.QuadPart; }

    unsigned int operator==(const ZCSInt64& other) const;
    unsigned int operator!=(const ZCSInt64& other) const;
    unsigned int operator<=(const ZCSInt64& other) const;
    unsigned int operator>=(const ZCSInt64& other) const;
    unsigned int operator<(const ZCSInt64& other) const;
    unsigned int operator>(const ZCSInt64& other) const;

    ZCSInt64 operator+(const ZCSInt64& other) const;
    ZCSInt64 operator-(const ZCSInt64& other) const;
    ZCSInt64& operator+=(const ZCSInt64& other);
    ZCSInt64& operator-=(const ZCSInt64& other);

    const LARGE_INTEGER& AsLargeInteger() const { return m_Value; }
    int AsInt() const { return static_cast<int>(m_Value.LowPart); }

    static int CastInt(LONGLONG v) { return static_cast<int>(static_cast<DWORD>(v)); }
    static DWORD TruncToInt(double x);
    static DWORD RoundToInt(double x);
    // (a + b / 2) / b with the integer promotions of the argument types.
    static int DivRound32(int a, int b);
    static int DivRound32(unsigned int a, unsigned int b);
    static int DivRound32(unsigned int a, int b);
    static int DivRound32(int a, unsigned int b);
    // (a * b + c / 2) / c in 64 bits, truncating; for a negative c the halved
    // divisor is taken with its sign, so rounding stays symmetric.
    static int I32MultI32DivI32Round(int a, int b, int c);
    // a * b / c rounded up by one step when there is a remainder.
    static int I32MultI32DivI32Ceil(int a, int b, int c);
    static LONGLONG I32MultI32(int a, int b);
    // (a + b / 2) / b in 64 bits: a rounding division despite its name.
    static LONGLONG I64DivI32(LONGLONG a, int b);

private:
    LARGE_INTEGER m_Value;
};

} // namespace ZANTH

// low = bits 0-15, high = bits 16-31.
ZANTH_TOOLS_API void MakeWords(DWORD value, WORD& low, WORD& high);
// high in bits 16-31, low in bits 0-15.
ZANTH_TOOLS_API DWORD MakeLong(WORD low, WORD high);

#endif // ZANTH_INTEGER_H
