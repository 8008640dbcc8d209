// ZCSInt32, ZCSInt64, MakeWords and MakeLong.
#include "testsupport.h"

#include <cmath>
#include <limits>

using testsupport::CatchError;
using ZANTH::ZCSInt32;
using ZANTH::ZCSInt64;

TEST(Integer, Constants)
{
    EXPECT_EQ(ZCSInt32::MaxValue, 0x7FFFFFFF);
    EXPECT_EQ(static_cast<unsigned>(ZCSInt32::MinValue), 0x80000000u);
    EXPECT_EQ(ZCSInt64::MaxValue, 0x7FFFFFFFFFFFFFFFLL);
    EXPECT_EQ(static_cast<ULONGLONG>(ZCSInt64::MinValue), 0x8000000000000002ull);
}

TEST(Integer, RoundingAndTruncation)
{
    struct Case
    {
        double x;
        int trunc;
        int round;
    };
    const Case cases[] = {
        {2.5, 2, 3},
        {-2.5, -2, -2},
        {-0.7, 0, 0},
        {0.49, 0, 0},
        {7.0, 7, 7},
        {-7.9, -7, -7},
        {1e10, static_cast<int>(10000000000LL & 0xFFFFFFFF),
         static_cast<int>(10000000000LL & 0xFFFFFFFF)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.x);
        EXPECT_EQ(ZCSInt32::TruncToInt(c.x), c.trunc);
        EXPECT_EQ(ZCSInt32::RoundToInt(c.x), c.round);
        EXPECT_EQ(ZCSInt64::TruncToInt(c.x), static_cast<DWORD>(c.trunc));
        EXPECT_EQ(ZCSInt64::RoundToInt(c.x), static_cast<DWORD>(c.round));
    }
    // NaN and values beyond 64 bits give the processor's "integer indefinite".
    for (double x : {std::nan(""), 1e30, -1e30, std::numeric_limits<double>::infinity()}) {
        EXPECT_EQ(ZCSInt32::TruncToInt(x), 0) << x;
    }
}

TEST(Integer, UpToMultiples)
{
    struct Case
    {
        int x;
        int up32;
        LONG up64;
    };
    const Case cases[] = {{0, 0, 0},     {1, 32, 64},   {32, 32, 64},    {33, 64, 64},
                          {65, 96, 128}, {-31, 0, 0},   {-32, 0, 0},     {-33, 0, 0},
                          {-64, -32, 0}, {-65, -32, 0}, {-128, -96, -64}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.x);
        EXPECT_EQ(ZCSInt32::I32UpTo32(c.x), c.up32);
        EXPECT_EQ(ZCSInt32::I32UpTo64(c.x), c.up64);
    }
}

TEST(Integer, RoundingDivisionTable)
{
    struct Case
    {
        const char* what;
        int result;
        int expected;
    };
    const Case cases[] = {
        {"DivRound32(5, 2)", ZCSInt64::DivRound32(5, 2), 3},
        {"DivRound32(4, 3)", ZCSInt64::DivRound32(4, 3), 1},
        {"DivRound32(-6, 2)", ZCSInt64::DivRound32(-6, 2), -2},
        {"DivRound32(-5, 2)", ZCSInt64::DivRound32(-5, 2), -2},
        {"DivRound32(7u, 2u)", ZCSInt64::DivRound32(7u, 2u), 4},
        {"DivRound32(-1, 2u)", ZCSInt64::DivRound32(-1, 2u), 0},
        {"DivRound32(5u, 2)", ZCSInt64::DivRound32(5u, 2), 3},
        {"DivRound32(5u, -2)", ZCSInt64::DivRound32(5u, -2), 0},
        {"I32MultI32DivI32Round(3, 5, 2)", ZCSInt64::I32MultI32DivI32Round(3, 5, 2), 8},
        {"I32MultI32DivI32Round(100000, 20000, 3)",
         ZCSInt64::I32MultI32DivI32Round(100000, 20000, 3), 666666667},
        {"I32MultI32DivI32Ceil(5, 1, 2)", ZCSInt64::I32MultI32DivI32Ceil(5, 1, 2), 3},
        {"I32MultI32DivI32Ceil(4, 1, 2)", ZCSInt64::I32MultI32DivI32Ceil(4, 1, 2), 2},
        {"I32MultI32DivI32Ceil(-5, 1, 2)", ZCSInt64::I32MultI32DivI32Ceil(-5, 1, 2), -1},
        {"I32MultI32DivI32Round(-7, 1, -2)", ZCSInt64::I32MultI32DivI32Round(-7, 1, -2), 4},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.result, c.expected) << c.what;
    }
    EXPECT_EQ(ZCSInt64::I32MultI32(100000, -100000), -10000000000LL);
    EXPECT_EQ(ZCSInt64::I64DivI32(10000000001LL, 2), 5000000001LL);
    EXPECT_EQ(ZCSInt64::I64DivI32(-7, 2), -3);
}

// Adding half the divisor must not overflow on the way to a quotient that fits:
// these used to come back with the wrong sign.
TEST(Integer, RoundedQuotientsNearTheLimitsKeepTheirSign)
{
    struct Case
    {
        const char* what;
        LONGLONG result;
        LONGLONG expected;
    };
    const Case cases[] = {
        {"DivRound32(INT_MAX, 2)", ZCSInt64::DivRound32(INT32_MAX, 2), 1073741824},
        {"DivRound32(INT_MIN, -2)", ZCSInt64::DivRound32(INT32_MIN, -2), 1073741824},
        {"DivRound32(INT_MAX - 1, 4)", ZCSInt64::DivRound32(INT32_MAX - 1, 4), 536870912},
        {"DivRound32(INT_MIN, 2)", ZCSInt64::DivRound32(INT32_MIN, 2), -1073741823},
        {"DivRound32(INT_MAX, INT_MAX)", ZCSInt64::DivRound32(INT32_MAX, INT32_MAX), 1},
        {"DivRound32(INT_MIN, INT_MIN)", ZCSInt64::DivRound32(INT32_MIN, INT32_MIN), 1},
        {"I64DivI32(LLONG_MAX, 2)", ZCSInt64::I64DivI32(INT64_MAX, 2), 4611686018427387904LL},
        {"I64DivI32(LLONG_MIN, -2)", ZCSInt64::I64DivI32(INT64_MIN, -2), 4611686018427387904LL},
        {"I64DivI32(LLONG_MAX - 5, 100)", ZCSInt64::I64DivI32(INT64_MAX - 5, 100),
         92233720368547758LL},
        {"I64DivI32(LLONG_MIN + 5, -100)", ZCSInt64::I64DivI32(INT64_MIN + 5, -100),
         92233720368547758LL},
        {"I64DivI32(LLONG_MAX, INT_MAX)", ZCSInt64::I64DivI32(INT64_MAX, INT32_MAX), 4294967298LL},
        {"I64DivI32(LLONG_MIN, 2)", ZCSInt64::I64DivI32(INT64_MIN, 2), -4611686018427387903LL},
        {"I64DivI32(LLONG_MAX, 1)", ZCSInt64::I64DivI32(INT64_MAX, 1), INT64_MAX},
        {"I32MultI32DivI32Ceil(65535, 65537, 3)", ZCSInt64::I32MultI32DivI32Ceil(65535, 65537, 3),
         1431655765},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.result, c.expected) << c.what;
    }
}

TEST(Integer, ZeroDivisorsAndOversizedQuotientsAreLibraryErrors)
{
    struct Case
    {
        const char* what;
        std::function<void()> call;
        WORD message;
    };
    const Case cases[] = {
        {"DivRound32 int", [] { ZCSInt64::DivRound32(1, 0); }, 1},
        {"DivRound32 unsigned", [] { ZCSInt64::DivRound32(1u, 0u); }, 1},
        {"DivRound32 mixed", [] { ZCSInt64::DivRound32(1u, 0); }, 1},
        {"DivRound32 mixed 2", [] { ZCSInt64::DivRound32(1, 0u); }, 1},
        {"Round by zero", [] { ZCSInt64::I32MultI32DivI32Round(1, 2, 0); }, 1},
        {"Ceil by zero", [] { ZCSInt64::I32MultI32DivI32Ceil(1, 2, 0); }, 1},
        {"I64DivI32 by zero", [] { ZCSInt64::I64DivI32(1, 0); }, 1},
        {"Round too large", [] { ZCSInt64::I32MultI32DivI32Round(100000, 100000, 1); }, 2},
        {"Ceil too large", [] { ZCSInt64::I32MultI32DivI32Ceil(INT32_MIN, -1, 1); }, 2},
        // The truncated quotient 2147483647 fits; the ceiling 2147483648 does not.
        {"Ceil steps out of range", [] { ZCSInt64::I32MultI32DivI32Ceil(65535, 65537, 2); }, 2},
        {"Ceil steps out of range, negative divisor",
         [] { ZCSInt64::I32MultI32DivI32Ceil(-65535, 65537, -2); }, 2},
        {"INT_MIN / -1", [] { ZCSInt64::DivRound32(INT32_MIN, -1); }, 2},
        {"INT64_MIN / -1", [] { ZCSInt64::I64DivI32(INT64_MIN, -1); }, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto caught = CatchError(c.call);
        EXPECT_TRUE(caught.raised);
        EXPECT_EQ(caught.catalog, CoreErrors().Number());
        EXPECT_EQ(caught.message, c.message);
    }
}

TEST(Integer, ValueClassesCompareAndWrap)
{
    EXPECT_EQ(ZCSInt32(3) <= ZCSInt32(3), 1u);
    EXPECT_EQ(ZCSInt32(-1) >= ZCSInt32(0), 0u);
    EXPECT_EQ(ZCSInt32(3) < ZCSInt32(3), 0u); // strict
    EXPECT_EQ(ZCSInt32(2) != ZCSInt32(3), 1u);

    ZCSInt64 carry = ZCSInt64(0x00000001FFFFFFFFLL) + ZCSInt64(1);
    EXPECT_EQ(carry._Get(), 0x0000000200000000LL);
    EXPECT_EQ(carry.AsLargeInteger().HighPart, 2);
    EXPECT_EQ(carry.AsLargeInteger().LowPart, 0u);
    ZCSInt64 wrap(ZCSInt64::MaxValue);
    wrap += ZCSInt64(1);
    EXPECT_EQ(static_cast<ULONGLONG>(wrap._Get()), 0x8000000000000000ull);
    wrap -= ZCSInt64(1);
    EXPECT_EQ(wrap._Get(), ZCSInt64::MaxValue);
    EXPECT_EQ(ZCSInt64(-1) <= ZCSInt64(0), 1u); // signed high words
    EXPECT_EQ(ZCSInt64(0x100000000LL) >= ZCSInt64(0xFFFFFFFFLL), 1u);
    EXPECT_EQ(ZCSInt64(0x1234567800000005LL).AsInt(), 5);
    EXPECT_EQ(ZCSInt64::CastInt(0x1FFFFFFFFLL), -1);
}

TEST(Integer, Words)
{
    EXPECT_EQ(MakeLong(0x1234, 0xABCD), 0xABCD1234u);
    WORD low = 0, high = 0;
    MakeWords(0xABCD1234, low, high);
    EXPECT_EQ(low, 0x1234);
    EXPECT_EQ(high, 0xABCD);
}
