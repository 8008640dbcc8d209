// Unit conversion: ZCUnit, ZCSUnit, ZCUnitEx, the rounding helpers, the text
// functions, the TWAIN and OEM maps and the library-wide unit object.
#include "testsupport.h"

#include <cmath>
#include <cstdint>
#include <iomanip>
#include <limits>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr ULONG kDefaultDpi = 0; // the unit-code conversions take 400 dpi for it
constexpr ULONG kMinusOne = 0xFFFFFFFFu;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(Units, Constants)
{
    EXPECT_EQ(ZCUnit::EinZanthInMm, 0.005291666666666667);
    EXPECT_EQ(ZCUnit::EinZanthInInch, 0.00020833333333333335);
    EXPECT_EQ(ZCUnit::EinHalbZanthInInch, 0.00010416666666666667);
    EXPECT_EQ(ZCUnit::EinHalbZanthInMm, 0.0026458333333333334);
    EXPECT_EQ(ZCUnit::EinHalbZanthInMm, ZCUnit::EinZanthInMm * 0.5);
}

struct ToZanthCase
{
    double value;
    ULONG unit;
    ULONG resolution;
    ULONG expected;
};

TEST(Units, ConvertToZanthUnsigned)
{
    const ToZanthCase cases[] = {
        {25.4, 1, kDefaultDpi, 4800},
        {210.0, 1, kDefaultDpi, 39685},
        {297.0, 1, kDefaultDpi, 56126},
        {0.0026, 1, kDefaultDpi, 0}, // below half a unit
        {0.0027, 1, kDefaultDpi, 1}, // above half a unit
        {1.0, 2, kDefaultDpi, 4800},
        {8.5, 2, kDefaultDpi, 40800},
        {1.0 / 9600, 2, kDefaultDpi, 1}, // exactly half a unit rounds up
        // Pixels at 400 dpi when the resolution is 0 or -1: (480000 + 200) / 400.
        {100.0, 0, 0, 1200},
        {100.0, 0, kMinusOne, 1200},
        {100.0, 0, 300, 1600},
        {100.9, 0, 300, 1600}, // whole pixels first
        {1.0, 0, 9600, 1},     // 0.5 unit: half up
        {1.0, 0, 9601, 0},
        {1234.9, 3, kDefaultDpi, 1234},
        {1234.9, 9, kDefaultDpi, 0},       // unknown unit
        {1440.0, 4, kDefaultDpi, 0},       // twips are ZCUnitEx only
        {-1.0, 3, kDefaultDpi, kMinusOne}, // the bit pattern of -1
        // Truncation keeps the low 32 bits; NaN and values beyond 64 bits give 0.
        {4294967296.0 + 5.0, 3, kDefaultDpi, 5},
        {1e30, 3, kDefaultDpi, 0},
        {kNaN, 3, kDefaultDpi, 0},
        {kInf, 1, kDefaultDpi, 0},
    };
    for (const ToZanthCase& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.value << " unit " << c.unit << " dpi " << c.resolution);
        EXPECT_EQ(ZCUnit::ConvertToZanth(c.value, c.unit, c.resolution), c.expected);
        if (c.unit == 1) {
            EXPECT_EQ(ZCUnit::ConvertMmToZanth(c.value), c.expected);
        }
        if (c.unit == 2) {
            EXPECT_EQ(ZCUnit::ConvertInchToZanth(c.value), c.expected);
        }
    }
}

struct FromZanthCase
{
    ULONG zanth;
    ULONG unit;
    ULONG resolution;
    double expected;
};

TEST(Units, ConvertFromZanthUnsigned)
{
    const FromZanthCase cases[] = {
        {1200, 0, 300, 75.0}, // (360000 + 2400) / 4800 = 75.5, truncated
        {1200, 0, 0, 100.0},  // 400 dpi: 100.5 truncated
        {1200, 0, kMinusOne, 100.0},
        {4800, 2, kDefaultDpi, 1.0},
        {4800, 1, kDefaultDpi, 4800 * ZCUnit::EinZanthInMm},
        {4800, 3, kDefaultDpi, 4800.0},
        {4800, 9, kDefaultDpi, 0.0},
        // z x r wraps in 32 bits: 2^31 x 2 is 0, so only the 2400 is left.
        {0x80000000u, 0, 2, 0.0},
        // The sum wraps too: 0xFFFFFC18 + 2400 is 1400.
        {0xFFFFFC18u, 0, 1, 0.0},
        {0xFFFFFFFFu, 3, kDefaultDpi, 4294967295.0},
    };
    for (const FromZanthCase& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.zanth << " unit " << c.unit << " dpi " << c.resolution);
        EXPECT_EQ(ZCUnit::ConvertFromZanth(c.zanth, c.unit, c.resolution), c.expected);
    }
    EXPECT_DOUBLE_EQ(ZCUnit::ConvertFromZanth(4800, 1, kDefaultDpi), 25.4);
    EXPECT_DOUBLE_EQ(ZCUnit::ConvertZanthToMm(4800), 25.4);
    EXPECT_EQ(ZCUnit::ConvertZanthToInch(4800), 1.0);
}

TEST(Units, DirectPixelConvertersUseTheResolutionPassed)
{
    EXPECT_EQ(ZCUnit::ConvertPixelToZanth(75, 300), 1200u);
    EXPECT_EQ(ZCUnit::ConvertPixelToZanth(1, 9600), 1u);
    EXPECT_EQ(ZCUnit::ConvertZanthToPixel(1200, 300), 75u);
    EXPECT_EQ(ZCUnit::ConvertZanthToPixel(4800, 96), 96u);
    // No 400 dpi substitute: -1 is taken as 4294967295 dpi, so the 32-bit product
    // z x r wraps to -z and the numerator is 2400 - 4800.
    EXPECT_EQ(ZCUnit::ConvertZanthToPixel(4800, kMinusOne), (0xFFFFFFFFu - 2400u + 1u) / 4800u);
    // A resolution of 0 gives 0 instead of dividing by zero.
    EXPECT_EQ(ZCUnit::ConvertPixelToZanth(75, 0), 0u);
    EXPECT_EQ(ZCUnit::ConvertZanthToPixel(1200, 0), 0u);
    EXPECT_EQ(ZCSUnit::ConvertPixelToZanth(-75, 0), 0);
    EXPECT_EQ(ZCSUnit::ConvertZanthToPixel(-1200, 0), 0);
}

TEST(Units, ConvertUnsigned)
{
    // Equal units return the value untouched; otherwise it passes through whole
    // Zanth units.
    EXPECT_EQ(ZCUnit::Convert(1, 1, 1.2345, kDefaultDpi), 1.2345);
    EXPECT_EQ(ZCUnit::Convert(9, 9, 1.2345, kDefaultDpi), 1.2345);
    EXPECT_EQ(ZCUnit::Convert(1, 2, 25.4, kDefaultDpi), 1.0);
    EXPECT_DOUBLE_EQ(ZCUnit::Convert(2, 1, 1.0, kDefaultDpi), 25.4);
    EXPECT_EQ(ZCUnit::Convert(1, 3, 1.2345, kDefaultDpi), 233.0);
    EXPECT_EQ(ZCUnit::Convert(2, 0, 1.0, 300), 300.0);
    EXPECT_EQ(ZCUnit::Convert(2, 0, 1.0, 0), 400.0);
    EXPECT_EQ(ZCUnit::Convert(0, 2, 300.0, 300), 1.0);
    EXPECT_EQ(ZCUnit::Convert(1, 9, 25.4, kDefaultDpi), 0.0);
    EXPECT_EQ(ZCUnit::Convert(9, 1, 25.4, kDefaultDpi), 0.0);
}

// Signed conversions round the magnitude and put the sign back: every case is
// checked with both signs.
struct SignedCase
{
    const char* what;
    double value;
    ULONG unit;
    ULONG resolution;
    LONG zanth;
};

TEST(Units, SignedConversionsAreSymmetric)
{
    const SignedCase cases[] = {
        {"1 inch", 1.0, 2, kDefaultDpi, 4800},
        {"8.5 inch", 8.5, 2, kDefaultDpi, 40800},
        {"25.4 mm", 25.4, 1, kDefaultDpi, 4800},
        {"0.0027 mm", 0.0027, 1, kDefaultDpi, 1},
        {"0.0026 mm", 0.0026, 1, kDefaultDpi, 0},
        {"100 px at 400 dpi", 100.0, 0, 0, 1200},
        {"100 px at 300 dpi", 100.0, 0, 300, 1600},
        {"1 px at 9600 dpi (half a unit)", 1.0, 0, 9600, 1},
        {"Zanth", 1234.9, 3, kDefaultDpi, 1234},
        {"unknown unit", 5.0, 9, kDefaultDpi, 0},
    };
    for (const SignedCase& c : cases) {
        for (int sign : {1, -1}) {
            SCOPED_TRACE(testing::Message() << c.what << " sign " << sign);
            const double value = sign * c.value;
            const LONG zanth = sign * c.zanth;
            EXPECT_EQ(ZCSUnit::ConvertToZanth(value, c.unit, c.resolution), zanth);
            EXPECT_EQ(ZCUnitEx::ConvertToZanth(value, c.unit, c.resolution), zanth);
            if (c.unit == 1) {
                EXPECT_EQ(ZCSUnit::ConvertMmToZanth(value), zanth);
            }
            if (c.unit == 2) {
                EXPECT_EQ(ZCSUnit::ConvertInchToZanth(value), zanth);
            }
            if (c.unit == 0 && c.resolution != 0) {
                EXPECT_EQ(ZCSUnit::ConvertPixelToZanth(static_cast<LONG>(value), c.resolution),
                          zanth);
            }
        }
    }
}

TEST(Units, SignedFromZanth)
{
    for (int sign : {1, -1}) {
        SCOPED_TRACE(sign);
        EXPECT_EQ(ZCSUnit::ConvertFromZanth(sign * 1200, 0, 300), sign * 75.0);
        EXPECT_EQ(ZCSUnit::ConvertFromZanth(sign * 1200, 0, 0), sign * 100.0);
        EXPECT_EQ(ZCSUnit::ConvertFromZanth(sign * 4800, 2, kDefaultDpi), sign * 1.0);
        EXPECT_DOUBLE_EQ(ZCSUnit::ConvertFromZanth(sign * 4800, 1, kDefaultDpi), sign * 25.4);
        EXPECT_EQ(ZCSUnit::ConvertFromZanth(sign * 4800, 3, kDefaultDpi), sign * 4800.0);
        EXPECT_EQ(ZCSUnit::ConvertFromZanth(sign * 4800, 9, kDefaultDpi), 0.0);
        EXPECT_DOUBLE_EQ(ZCSUnit::ConvertZanthToMm(sign * 4800), sign * 25.4);
        EXPECT_EQ(ZCSUnit::ConvertZanthToInch(sign * 4800), sign * 1.0);
        EXPECT_EQ(ZCSUnit::ConvertZanthToPixel(sign * 1200, 300), sign * 75);
        EXPECT_EQ(ZCSUnit::ConvertZanthToPixel(sign * 4800, 96), sign * 96);
        EXPECT_EQ(ZCSUnit::Convert(1, 2, sign * 25.4, kDefaultDpi), sign * 1.0);
        EXPECT_EQ(ZCSUnit::Convert(1, 1, sign * 1.2345, kDefaultDpi), sign * 1.2345);
    }
}

TEST(Units, SignedExtremes)
{
    // |-2^31| is taken as the unsigned 2^31, and negating it gives -2^31 back.
    EXPECT_EQ(ZCSUnit::ConvertFromZanth(INT32_MIN, 3, kDefaultDpi), -2147483648.0);
    EXPECT_EQ(ZCSUnit::ConvertToZanth(-2147483648.0, 3, kDefaultDpi), INT32_MIN);
    EXPECT_DOUBLE_EQ(ZCSUnit::ConvertZanthToInch(INT32_MIN), -2147483648.0 / 4800);
    // Beyond 2^31 the result wraps: 2^31 Zanth units read as signed are -2^31.
    EXPECT_EQ(ZCSUnit::ConvertToZanth(2147483648.0, 3, kDefaultDpi), INT32_MIN);
    EXPECT_EQ(ZCSUnit::ConvertToZanth(kNaN, 1, kDefaultDpi), 0);
    EXPECT_EQ(ZCSUnit::ConvertMmToZanth(-kInf), 0);
}

TEST(Units, ExtendedUnits)
{
    for (int sign : {1, -1}) {
        SCOPED_TRACE(sign);
        EXPECT_EQ(ZCUnitEx::ConvertToZanth(sign * 1440.0, 4, kDefaultDpi), sign * 4800);
        EXPECT_EQ(ZCUnitEx::ConvertToZanth(sign * 6.0, 5, kDefaultDpi), sign * 4800);
        EXPECT_EQ(ZCUnitEx::ConvertToZanth(sign * 1.0, 4, kDefaultDpi), sign * 3); // 3.33
        EXPECT_EQ(ZCUnitEx::ConvertToZanth(sign * 10.0, 6, kDefaultDpi),
                  static_cast<LONG>(sign * ZCUnit::ConvertMmToZanth(1.0)));
        EXPECT_EQ(ZCUnitEx::ConvertToZanth(sign * 10.0, 6, kDefaultDpi), sign * 189);
        EXPECT_EQ(ZCUnitEx::ConvertToZanth(sign * 1234.9, 7, kDefaultDpi), sign * 1234);
        EXPECT_EQ(ZCUnitEx::ConvertToZanth(sign * 1.0, 8, kDefaultDpi), 0);

        EXPECT_EQ(ZCUnitEx::ConvertFromZanth(sign * 4800, 4, kDefaultDpi), sign * 1440.0);
        EXPECT_EQ(ZCUnitEx::ConvertFromZanth(sign * 4800, 5, kDefaultDpi), sign * 6.0);
        EXPECT_DOUBLE_EQ(ZCUnitEx::ConvertFromZanth(sign * 189, 6, kDefaultDpi),
                         sign * 1890 * ZCUnit::EinZanthInMm);
        EXPECT_EQ(ZCUnitEx::ConvertFromZanth(sign * 4800, 7, kDefaultDpi), sign * 4800.0);
        EXPECT_EQ(ZCUnitEx::ConvertFromZanth(sign * 4800, 8, kDefaultDpi), 0.0);
        EXPECT_EQ(ZCUnitEx::ConvertFromZanth(sign * 4800, 2, kDefaultDpi), sign * 1.0);

        EXPECT_EQ(ZCUnitEx::Convert(4, 5, sign * 1440.0, kDefaultDpi), sign * 6.0);
        EXPECT_EQ(ZCUnitEx::Convert(2, 4, sign * 1.0, kDefaultDpi), sign * 1440.0);
    }
    // Tenths of a millimetre multiply the Zanth value by 10 in 32 bits:
    // 0x20000000 x 10 keeps 0x40000000.
    EXPECT_EQ(ZCUnitEx::ConvertFromZanth(0x20000000, 6, kDefaultDpi),
              1073741824.0 * ZCUnit::EinZanthInMm);
}

TEST(Units, ExtendedConvertAlwaysPassesThroughZanthUnits)
{
    EXPECT_EQ(ZCUnit::Convert(1, 1, 1.2345, kDefaultDpi), 1.2345);
    EXPECT_EQ(ZCSUnit::Convert(1, 1, 1.2345, kDefaultDpi), 1.2345);
    EXPECT_EQ(ZCUnitEx::Convert(1, 1, 1.2345, kDefaultDpi), 233 * ZCUnit::EinZanthInMm);
    EXPECT_EQ(ZCUnitEx::Convert(1, 1, -1.2345, kDefaultDpi), -233 * ZCUnit::EinZanthInMm);
    EXPECT_EQ(ZCUnitEx::Convert(6, 6, 12.345, kDefaultDpi), 2330 * ZCUnit::EinZanthInMm);
    EXPECT_EQ(ZCUnitEx::Convert(0, 0, 100.9, 300), 100.0);
}

TEST(Units, DefaultUnitOperations)
{
    EXPECT_EQ(TheUnits.GetDefault(), 1u);
    EXPECT_EQ(ZCUnit().GetDefault(), 1u);
    EXPECT_EQ(ZCSUnit().GetDefault(), 1u);
    EXPECT_EQ(ZCUnitEx().GetDefault(), 1u);

    ZCUnit inches(2);
    EXPECT_EQ(inches.ConvertDefaultToZanth(8.5, kDefaultDpi), 40800u);
    EXPECT_EQ(inches.ConvertZanthToDefault(4800, kDefaultDpi), 1.0);
    inches.SetDefault(0);
    EXPECT_EQ(inches.ConvertDefaultToZanth(100.0, 300), 1600u);
    EXPECT_EQ(inches.ConvertZanthToDefault(1600, 300), 100.0);
    inches.SetDefault(9); // accepted; the default conversions give 0
    EXPECT_EQ(inches.GetDefault(), 9u);
    EXPECT_EQ(inches.ConvertDefaultToZanth(8.5, kDefaultDpi), 0u);
    EXPECT_EQ(inches.ConvertZanthToDefault(4800, kDefaultDpi), 0.0);

    ZCSUnit signedUnit;
    EXPECT_EQ(signedUnit.ConvertDefaultToZanth(-25.4, kDefaultDpi), -4800);
    EXPECT_DOUBLE_EQ(signedUnit.ConvertZanthToDefault(-4800, kDefaultDpi), -25.4);

    // ZCUnitEx's default operations know the extended codes.
    ZCUnitEx twips;
    twips.SetDefault(4);
    EXPECT_EQ(twips.ConvertDefaultToZanth(-1440.0, kDefaultDpi), -4800);
    EXPECT_EQ(twips.ConvertZanthToDefault(-4800, kDefaultDpi), -1440.0);

    // Copies are member by member.
    ZCUnitEx copy = twips;
    EXPECT_EQ(copy.GetDefault(), 4u);
}

struct RoundCase
{
    double value;
    ULONG digits;
    double expected;
};

TEST(Units, RoundToDigits)
{
    const RoundCase cases[] = {
        {1234.5, 2, 1200.0}, {999.7, 2, 1000.0},       {0.012345, 3, 0.0123}, {2.5, 1, 3.0},
        {1000.0, 2, 1000.0}, {1234.5, 5, 1234.5},      {0.5, 1, 0.5},         {7.0, 1, 7.0},
        {123456.0, 0, 0.0},  {654321.0, 0, 1000000.0},
    };
    for (const RoundCase& c : cases) {
        for (int sign : {1, -1}) {
            SCOPED_TRACE(testing::Message() << sign * c.value << " to " << c.digits);
            EXPECT_DOUBLE_EQ(ZCUnit::RoundToDigits(sign * c.value, c.digits), sign * c.expected);
        }
    }
    EXPECT_EQ(ZCUnit::RoundToDigits(0.0, 3), 0.0);
    EXPECT_TRUE(std::isnan(ZCUnit::RoundToDigits(kNaN, 3)));
}

TEST(Units, RoundToDigitsKeepsPowersOfTen)
{
    // The decimal exponent of an exact power of ten is exact, so the value stays.
    double power = 1.0;
    for (int k = 0; k <= 22; ++k, power *= 10.0) {
        SCOPED_TRACE(k);
        EXPECT_EQ(ZCUnit::RoundToDigits(power, 1), power);
        EXPECT_EQ(ZCUnit::RoundToDigits(-power, 1), -power);
    }
}

TEST(Units, RoundToDigitsTakesTheExponentFromLog2TimesLog10Of2)
{
    // With 0 digits a value rounds to the power of ten at its exponent, or to 0:
    // that shows the exponent. Computed as log2 x log10(2) and rounded to a double,
    // it is 4 for a value just above 1000 (the C library's double log10 says 3)
    // and 9 for one just above 10^9 (where the C library's says 10).
    const RoundCase cases[] = {
        {100.00000000000006, 0, 0.0}, {1000.0000000000006, 0, 0.0},
        {1000000.000000001, 0, 0.0},  {1000000000.000002, 0, 1000000000.0},
        {1000.0, 0, 1000.0}, // an exact power keeps its exponent
    };
    for (const RoundCase& c : cases) {
        for (int sign : {1, -1}) {
            SCOPED_TRACE(testing::Message() << std::setprecision(17) << sign * c.value);
            EXPECT_EQ(ZCUnit::RoundToDigits(sign * c.value, c.digits), sign * c.expected);
        }
    }
}

TEST(Units, RoundingLeavesWhatADoubleCannotResolve)
{
    // More digits than a double holds, or a step that underflows: unchanged
    // instead of NaN or infinity.
    EXPECT_EQ(ZCUnit::RoundToDigits(1234.5, 400), 1234.5);
    EXPECT_EQ(ZCUnit::RoundToDigits(5e-324, 3), 5e-324);
    EXPECT_EQ(ZCUnit::RoundToDigits(kInf, 3), kInf);
    EXPECT_EQ(ZCUnit::RoundToDigits(-kInf, 3), -kInf);
    EXPECT_EQ(ZCUnit::RoundToDigitsAfterDecimalPoint(1.5, 400), 1.5);
    EXPECT_EQ(ZCUnit::RoundToDigitsAfterDecimalPoint(1e308, 2), 1e308);
    EXPECT_EQ(ZCUnit::RoundToDigitsAfterDecimalPoint(-1e308, 2), -1e308);
    EXPECT_EQ(ZCUnit::RoundToDigitsAfterDecimalPoint(kInf, 2), kInf);
}

TEST(Units, RoundToDigitsAfterDecimalPoint)
{
    const RoundCase cases[] = {
        {2.346, 2, 2.35},       {2.5, 0, 3.0},    {2.4, 0, 2.0},      {0.126, 2, 0.13},
        {1234.5678, 1, 1234.6}, {0.0004, 3, 0.0}, {0.0005, 3, 0.001}, {12.0, 3, 12.0},
    };
    for (const RoundCase& c : cases) {
        for (int sign : {1, -1}) {
            SCOPED_TRACE(testing::Message() << sign * c.value << " to " << c.digits);
            EXPECT_DOUBLE_EQ(ZCUnit::RoundToDigitsAfterDecimalPoint(sign * c.value, c.digits),
                             sign * c.expected);
        }
    }
    EXPECT_EQ(ZCUnit::RoundToDigitsAfterDecimalPoint(0.0, 2), 0.0);
    EXPECT_TRUE(std::isnan(ZCUnit::RoundToDigitsAfterDecimalPoint(kNaN, 2)));
}

TEST(Units, FormatString)
{
    EXPECT_EQ(ZCUnit::FormatString(4800, 3, kDefaultDpi), TString());
    EXPECT_EQ(ZCUnit::FormatString(4800, 9, kDefaultDpi), TString());
    EXPECT_EQ(ZCUnit::FormatString(4800, 2, kDefaultDpi), TString(TEXT("1.00")));
    EXPECT_EQ(ZCUnit::FormatString(4800, 1, kDefaultDpi), TString(TEXT("25.40")));
    EXPECT_EQ(ZCUnit::FormatString(56183, 1, kDefaultDpi), TString(TEXT("297.30")));
    EXPECT_EQ(ZCUnit::FormatString(4800, 0, 300), TString(TEXT("300")));
    // The pixel branch has no 400 dpi substitute: 0 dpi formats 0 pixels.
    EXPECT_EQ(ZCUnit::FormatString(4800, 0, 0), TString(TEXT("0")));

    EXPECT_EQ(ZCSUnit::FormatString(-4800, 2, kDefaultDpi), TString(TEXT("-1.00")));
    EXPECT_EQ(ZCSUnit::FormatString(-4800, 1, kDefaultDpi), TString(TEXT("-25.40")));
    EXPECT_EQ(ZCSUnit::FormatString(-4800, 0, 300), TString(TEXT("-300")));
    EXPECT_EQ(ZCSUnit::FormatString(4800, 0, 300), TString(TEXT("300")));
    EXPECT_EQ(ZCSUnit::FormatString(-4800, 3, kDefaultDpi), TString());
}

TEST(Units, UnitTextsComeFromTheCatalog)
{
    EXPECT_EQ(FindCatalog(TEXT("ZCUnit::ZanthUnits")), ZCUnit::ZanthUnits.Number());
    EXPECT_EQ(ZCUnit::GetUnitText(0), TString(TEXT("pixel")));
    EXPECT_EQ(ZCUnit::GetUnitText(1), TString(TEXT("millimetre")));
    EXPECT_EQ(ZCUnit::GetUnitText(2), TString(TEXT("inch")));
    EXPECT_EQ(ZCUnit::GetUnitText(3), TString());
    EXPECT_EQ(ZCUnitEx::GetUnitText(4), TString());
    EXPECT_EQ(ZCUnit::GetUnitText(0xFFFFFFFFu), TString());
}

TEST(Units, TwainMapsAreFixedTables)
{
    const ULONG twainToZanth[] = {2, 6, 5, 0, 4, 0, 0, 0};
    for (ULONG i = 0; i < 8; ++i) {
        EXPECT_EQ(ZCUnitEx::Twain2Zanth(i), twainToZanth[i]) << i;
    }
    const ULONG zanthToTwain[] = {5, 0, 0, 0, 4, 3, 1, 0, 0};
    for (ULONG i = 0; i < 9; ++i) {
        EXPECT_EQ(ZCUnitEx::Zanth2Twain(i), zanthToTwain[i]) << i;
    }
    EXPECT_EQ(ZCUnitEx::Twain2Zanth(0xFFFFFFFFu), 0u);
    EXPECT_EQ(ZCUnitEx::Zanth2Twain(0xFFFFFFFFu), 0u);
    // Not inverse to each other.
    EXPECT_EQ(ZCUnitEx::Twain2Zanth(2), 5u);
    EXPECT_EQ(ZCUnitEx::Zanth2Twain(5), 3u);
}

TEST(Units, UnitFromOem)
{
    EXPECT_EQ(UnitFromOem(ZANTH::UnitOemPixel), 0u);
    EXPECT_EQ(UnitFromOem(ZANTH::UnitOemMillimetre), 1u);
    EXPECT_EQ(UnitFromOem(ZANTH::UnitOemInch), 2u);
    EXPECT_EQ(UnitFromOem(ZANTH::UnitOemZanth), 3u);
    // Out of range: the default unit instead of a read past the table.
    EXPECT_EQ(UnitFromOem(static_cast<ZANTH::TUnitOem>(4)), 1u);
    EXPECT_EQ(UnitFromOem(static_cast<ZANTH::TUnitOem>(-1)), 1u);
}

// ztools convert prints a result only when the library's 32-bit arithmetic holds
// it; otherwise it refuses instead of printing a wrapped number.
TEST(UnitsCommand, ConvertRefusesResultsThatWouldWrap)
{
    const std::string ztools = testsupport::HelperPath("ztools");
    if (::access(ztools.c_str(), X_OK) != 0) {
        GTEST_SKIP() << "ztools is not built";
    }
    struct Case
    {
        const char* value;
        const char* from;
        const char* to;
        const char* dpi; // null: the library's 400
        bool accepted;
        const char* output; // the start of the line printed when accepted
    };
    const Case cases[] = {
        {"1", "in", "px", "300", true, "1 in = 300 px"},
        {"-25.4", "mm", "px", "96", true, "-25.4 mm = -96 px"},
        {"100", "px", "mm", nullptr, true, "100 px = 6.35 mm"},
        {"10", "mm", "tenth-mm", nullptr, true, "10 mm = 100.0125 tenth-mm"},
        // 48,000,000 Zanth units x 600000 dpi is far beyond 32 bits.
        {"10000", "in", "px", "600000", false, nullptr},
        {"1", "in", "px", "4294967294", false, nullptr},
        // 377,952,756 Zanth units x 10 does not fit a signed 32-bit number.
        {"2000000", "mm", "tenth-mm", nullptr, false, nullptr},
        {"-2000000", "mm", "tenth-mm", nullptr, false, nullptr},
        // Whole pixels are taken as a 32-bit number first.
        {"5000000000", "px", "mm", "4000000000", false, nullptr},
        {"500000", "in", "mm", nullptr, false, nullptr},
    };
    for (const Case& c : cases) {
        std::vector<std::string> argv = {ztools, "convert"};
        if (c.dpi) {
            argv.insert(argv.end(), {"--dpi", c.dpi});
        }
        argv.insert(argv.end(), {"--", c.value, c.from, c.to}); // "--": values may be negative
        const testsupport::ChildResult result = testsupport::RunChild(argv);
        SCOPED_TRACE(testing::Message()
                     << c.value << " " << c.from << " " << c.to << ": " << result.output);
        EXPECT_EQ(result.status == 0, c.accepted);
        if (c.accepted) {
            EXPECT_EQ(result.output.rfind(c.output, 0), 0u);
        } else {
            EXPECT_TRUE(result.output.empty());
        }
    }
}

} // namespace
