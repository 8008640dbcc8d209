// The unit conversions of ZCUnit, ZCSUnit and ZCUnitEx, and the OEM and TWAIN unit
// maps.
//
// The results must be reproducible to the last Zanth unit, so every expression
// keeps the order of its factors (this file is compiled without contraction into
// fused multiply-adds).
#include <zanth/integer.h>
#include <zanth/units.h>

#include <cmath>
#include <cstdint>
#include <iterator>

namespace {

// Zanth units per millimetre are applied as two factors in this order.
constexpr double ZanthPerMmStep1 = 48000;
constexpr double ZanthPerMmStep2 = 0.003937007874015748; // 1/254
constexpr double ZanthPerInch = 4800;
constexpr double InchPerTwip = 0.0006944444444444445; // 1/1440
constexpr double TwipsPerInch = 1440;
constexpr double InchPerPica = 0.16666666666666666; // 1/6
constexpr double PicasPerInch = 6;
constexpr double MmPerTenth = 0.1;
constexpr ULONG SubstituteResolution = 400;

// The double cut toward zero through a 64-bit integer, low 32 bits kept; NaN and
// values outside the 64-bit range give 0 (the low half of "integer indefinite").
inline ULONG Trunc(double x)
{
    return static_cast<ULONG>(ZANTH::ZCSInt32::TruncToInt(x));
}

inline LONG TruncSigned(double x)
{
    return ZANTH::ZCSInt32::TruncToInt(x);
}

// The resolution of the unit-code conversions: 400 dpi stands in for 0 and -1.
inline ULONG Resolution(ULONG resolution)
{
    return (resolution == 0 || resolution == 0xFFFFFFFFu) ? SubstituteResolution : resolution;
}

// |v| of a 32-bit value as an unsigned number (|-2^31| is 2^31, not a fault).
inline ULONG Magnitude(LONG v)
{
    return v < 0 ? 0u - static_cast<ULONG>(v) : static_cast<ULONG>(v);
}

// -m in 32 bits, read as signed.
inline LONG Negated(ULONG m)
{
    return static_cast<LONG>(0u - m);
}

// (z x r + 2400) with the product and the sum wrapping in 32 bits.
inline double PixelNumerator(ULONG zanth, ULONG resolution)
{
    return static_cast<double>(static_cast<ULONG>(zanth * resolution + 2400u));
}

// Zanth units -> pixels: truncate((z x r + 2400) / 4800), the sign applied to the
// last factor.
inline LONG ZanthToPixel(ULONG magnitude, ULONG resolution, bool negative)
{
    const double factor = negative ? -ZCUnit::EinZanthInInch : ZCUnit::EinZanthInInch;
    return TruncSigned(PixelNumerator(magnitude, resolution) * factor);
}

// Pixels -> Zanth units: truncate((p x 4800 + r / 2) / r), rounded half up.
inline ULONG PixelToZanth(ULONG pixels, ULONG resolution)
{
    const double r = static_cast<double>(resolution);
    return Trunc((static_cast<double>(pixels) * ZanthPerInch + r * 0.5) / r);
}

inline ULONG MmToZanth(double mm)
{
    return Trunc(((ZCUnit::EinHalbZanthInMm + mm) * ZanthPerMmStep1) * ZanthPerMmStep2);
}

inline ULONG InchToZanth(double inch)
{
    return Trunc((ZCUnit::EinHalbZanthInInch + inch) * ZanthPerInch);
}

// Rounds |value| down to a multiple of `step` after adding half a step; the value
// comes back unchanged where the step is too small for a double to resolve
// (step 0 after underflow, or a quotient that is no longer finite).
double RoundToStep(double value, double step)
{
    const double magnitude = std::fabs(value);
    const double quotient = (step * 0.5 + magnitude) / step;
    if (step == 0.0 || !std::isfinite(quotient)) {
        return value;
    }
    const double rounded = std::floor(quotient) * step;
    return value < 0 ? -rounded : rounded;
}

} // namespace

#ifdef _WIN32
// The users of zanthtools.dll import the static members of its exported classes,
// so the DLL must hold a definition of each constant that they may bind a
// reference to (an EXPECT_EQ does); inline constexpr members alone emit none.
constexpr ULONG ZCUnit::UnitPixel;
constexpr ULONG ZCUnit::UnitMillimetre;
constexpr ULONG ZCUnit::UnitInch;
constexpr ULONG ZCUnit::UnitZanth;
constexpr double ZCUnit::EinZanthInMm;
constexpr double ZCUnit::EinZanthInInch;
constexpr double ZCUnit::EinHalbZanthInInch;
constexpr ULONG ZCUnitEx::UnitTwip;
constexpr ULONG ZCUnitEx::UnitPica;
constexpr ULONG ZCUnitEx::UnitTenthMillimetre;
#endif

// ---------------------------------------------------------------------------
// ZCUnit

double ZCUnit::ConvertZanthToDefault(ULONG zanth, ULONG resolution) const
{
    return ConvertFromZanth(zanth, m_DefaultUnit, resolution);
}

ULONG ZCUnit::ConvertDefaultToZanth(double value, ULONG resolution)
{
    return ConvertToZanth(value, m_DefaultUnit, resolution);
}

ULONG ZCUnit::ConvertToZanth(double value, ULONG unit, ULONG resolution)
{
    switch (unit) {
    case UnitPixel:
        return PixelToZanth(Trunc(value), Resolution(resolution));
    case UnitMillimetre:
        return MmToZanth(value);
    case UnitInch:
        return InchToZanth(value);
    case UnitZanth:
        return Trunc(value);
    default:
        return 0;
    }
}

double ZCUnit::ConvertFromZanth(ULONG zanth, ULONG unit, ULONG resolution)
{
    switch (unit) {
    case UnitPixel:
        return static_cast<double>(
            Trunc(PixelNumerator(zanth, Resolution(resolution)) * ZCUnit::EinZanthInInch));
    case UnitMillimetre:
        return static_cast<double>(zanth) * EinZanthInMm;
    case UnitInch:
        return static_cast<double>(zanth) * EinZanthInInch;
    case UnitZanth:
        return static_cast<double>(zanth);
    default:
        return 0.0;
    }
}

double ZCUnit::Convert(ULONG fromUnit, ULONG toUnit, double value, ULONG resolution)
{
    if (fromUnit == toUnit) {
        return value;
    }
    return ConvertFromZanth(ConvertToZanth(value, fromUnit, resolution), toUnit, resolution);
}

ULONG ZCUnit::ConvertMmToZanth(double mm)
{
    return MmToZanth(mm);
}

ULONG ZCUnit::ConvertInchToZanth(double inch)
{
    return InchToZanth(inch);
}

ULONG ZCUnit::ConvertPixelToZanth(ULONG pixels, ULONG resolution)
{
    if (resolution == 0) {
        return 0;
    }
    return PixelToZanth(pixels, resolution);
}

double ZCUnit::ConvertZanthToMm(ULONG zanth)
{
    return static_cast<double>(zanth) * EinZanthInMm;
}

double ZCUnit::ConvertZanthToInch(ULONG zanth)
{
    return static_cast<double>(zanth) * EinZanthInInch;
}

ULONG ZCUnit::ConvertZanthToPixel(ULONG zanth, ULONG resolution)
{
    if (resolution == 0) {
        return 0;
    }
    return static_cast<ULONG>(ZanthToPixel(zanth, resolution, false));
}

double ZCUnit::RoundToDigits(double value, ULONG digits)
{
    if (value == 0.0 || !std::isfinite(value)) {
        return value;
    }
    // The decimal exponent: log2 of the magnitude times log10(2) in extended
    // precision (on x86 the long double log10 is exactly that instruction), rounded
    // to a double before ceil. It is exact for every power of ten. The double
    // log10 of the C library is not the same function: a few values just above a
    // power of ten (1000.0000000000006) get the power's exponent from it and so
    // one significant digit too many.
    const double e =
        std::ceil(static_cast<double>(std::log10(static_cast<long double>(std::fabs(value)))));
    const double k = e >= 0 ? std::floor(e + 0.01) : -std::floor(0.01 - e);
    const double step = std::pow(10.0, k - static_cast<double>(digits));
    return RoundToStep(value, step);
}

double ZCUnit::RoundToDigitsAfterDecimalPoint(double value, ULONG places)
{
    if (value == 0.0 || !std::isfinite(value)) {
        return value;
    }
    // 10^places is exact in a double up to 10^22, and one division by it gives the
    // double nearest to 10^-places on every C library; pow(10, -places) is only
    // that close where the library's pow is correctly rounded (mingw-w64's is not).
    static constexpr double exactPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                             1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                             1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    const double step = places < std::size(exactPowers)
                            ? 1.0 / exactPowers[places]
                            : std::pow(10.0, -static_cast<double>(places));
    return RoundToStep(value, step);
}

TString ZCUnit::FormatString(ULONG zanth, ULONG unit, ULONG resolution)
{
    switch (unit) {
    case UnitPixel:
        return TString::Formatted(TEXT("%d"),
                                  static_cast<int>(ZanthToPixel(zanth, resolution, false)));
    case UnitMillimetre:
    case UnitInch:
        return TString::Formatted(TEXT("%.2f"), ConvertFromZanth(zanth, unit, resolution));
    default:
        return TString();
    }
}

TString ZCUnit::GetUnitText(ULONG unit)
{
    if (unit > UnitInch) {
        return TString();
    }
    return GetMessageW(ZanthUnits, static_cast<WORD>(unit), TString::NullString,
                       TString::NullString, TString::NullString);
}

// ---------------------------------------------------------------------------
// ZCSUnit

double ZCSUnit::ConvertZanthToDefault(LONG zanth, ULONG resolution) const
{
    return ConvertFromZanth(zanth, m_DefaultUnit, resolution);
}

LONG ZCSUnit::ConvertDefaultToZanth(double value, ULONG resolution)
{
    return ConvertToZanth(value, m_DefaultUnit, resolution);
}

LONG ZCSUnit::ConvertToZanth(double value, ULONG unit, ULONG resolution)
{
    const ULONG m = ZCUnit::ConvertToZanth(std::fabs(value), unit, resolution);
    return value < 0 ? Negated(m) : static_cast<LONG>(m);
}

double ZCSUnit::ConvertFromZanth(LONG zanth, ULONG unit, ULONG resolution)
{
    const double d = ZCUnit::ConvertFromZanth(Magnitude(zanth), unit, resolution);
    return zanth < 0 ? d * -1.0 : d;
}

double ZCSUnit::Convert(ULONG fromUnit, ULONG toUnit, double value, ULONG resolution)
{
    const double d = ZCUnit::Convert(fromUnit, toUnit, std::fabs(value), resolution);
    return value < 0 ? d * -1.0 : d;
}

LONG ZCSUnit::ConvertMmToZanth(double mm)
{
    const double factor = mm < 0 ? -ZanthPerMmStep2 : ZanthPerMmStep2;
    return TruncSigned(((std::fabs(mm) + EinHalbZanthInMm) * ZanthPerMmStep1) * factor);
}

LONG ZCSUnit::ConvertInchToZanth(double inch)
{
    const double factor = inch < 0 ? -ZanthPerInch : ZanthPerInch;
    return TruncSigned((std::fabs(inch) + EinHalbZanthInInch) * factor);
}

LONG ZCSUnit::ConvertPixelToZanth(LONG pixels, ULONG resolution)
{
    if (resolution == 0) {
        return 0;
    }
    const ULONG m = PixelToZanth(Magnitude(pixels), resolution);
    return pixels < 0 ? Negated(m) : static_cast<LONG>(m);
}

double ZCSUnit::ConvertZanthToMm(LONG zanth)
{
    const double d = static_cast<double>(Magnitude(zanth)) * EinZanthInMm;
    return zanth < 0 ? d * -1.0 : d;
}

double ZCSUnit::ConvertZanthToInch(LONG zanth)
{
    const double d = static_cast<double>(Magnitude(zanth)) * EinZanthInInch;
    return zanth < 0 ? d * -1.0 : d;
}

LONG ZCSUnit::ConvertZanthToPixel(LONG zanth, ULONG resolution)
{
    if (resolution == 0) {
        return 0;
    }
    return ZanthToPixel(Magnitude(zanth), resolution, zanth < 0);
}

TString ZCSUnit::FormatString(LONG zanth, ULONG unit, ULONG resolution)
{
    switch (unit) {
    case UnitPixel:
        return TString::Formatted(
            TEXT("%d"), static_cast<int>(ZanthToPixel(Magnitude(zanth), resolution, zanth < 0)));
    case UnitMillimetre:
    case UnitInch:
        return TString::Formatted(TEXT("%.2f"), ConvertFromZanth(zanth, unit, resolution));
    default:
        return TString();
    }
}

// ---------------------------------------------------------------------------
// ZCUnitEx

double ZCUnitEx::ConvertZanthToDefault(LONG zanth, ULONG resolution) const
{
    return ConvertFromZanth(zanth, m_DefaultUnit, resolution);
}

LONG ZCUnitEx::ConvertDefaultToZanth(double value, ULONG resolution)
{
    return ConvertToZanth(value, m_DefaultUnit, resolution);
}

LONG ZCUnitEx::ConvertToZanth(double value, ULONG unit, ULONG resolution)
{
    double inches;
    switch (unit) {
    case UnitTwip:
        inches = value * InchPerTwip;
        break;
    case UnitPica:
        inches = value * InchPerPica;
        break;
    case UnitTenthMillimetre:
        return ZCSUnit::ConvertToZanth(value * MmPerTenth, UnitMillimetre, resolution);
    case UnitZanthEx:
        return TruncSigned(value);
    default:
        return ZCSUnit::ConvertToZanth(value, unit, resolution);
    }
    const double factor = inches < 0 ? -ZanthPerInch : ZanthPerInch;
    return TruncSigned((std::fabs(inches) + EinHalbZanthInInch) * factor);
}

double ZCUnitEx::ConvertFromZanth(LONG zanth, ULONG unit, ULONG resolution)
{
    const double sign = zanth < 0 ? -1.0 : 1.0;
    switch (unit) {
    case UnitTwip:
        return static_cast<double>(Magnitude(zanth)) * EinZanthInInch * sign * TwipsPerInch;
    case UnitPica:
        return static_cast<double>(Magnitude(zanth)) * EinZanthInInch * sign * PicasPerInch;
    case UnitTenthMillimetre:
        return ZCSUnit::ConvertFromZanth(static_cast<LONG>(static_cast<ULONG>(zanth) * 10u),
                                         UnitMillimetre, resolution);
    case UnitZanthEx:
        return static_cast<double>(zanth);
    default:
        return ZCSUnit::ConvertFromZanth(zanth, unit, resolution);
    }
}

double ZCUnitEx::Convert(ULONG fromUnit, ULONG toUnit, double value, ULONG resolution)
{
    return ConvertFromZanth(ConvertToZanth(value, fromUnit, resolution), toUnit, resolution);
}

ULONG ZCUnitEx::Twain2Zanth(ULONG twainUnit)
{
    // TWAIN: 0 inches, 1 centimetres, 2 picas, 3 points, 4 twips, 5 pixels.
    static const ULONG map[] = {UnitInch, UnitTenthMillimetre, UnitPica, UnitPixel, UnitTwip,
                                UnitPixel};
    return twainUnit < sizeof(map) / sizeof(map[0]) ? map[twainUnit] : 0;
}

ULONG ZCUnitEx::Zanth2Twain(ULONG unit)
{
    static const ULONG map[] = {5, 0, 0, 0, 4, 3, 1};
    return unit < sizeof(map) / sizeof(map[0]) ? map[unit] : 0;
}

ULONG UnitFromOem(ZANTH::TUnitOem setting)
{
    static const ULONG aUnitList[4] = {ZCUnit::UnitPixel, ZCUnit::UnitMillimetre, ZCUnit::UnitInch,
                                       ZCUnit::UnitZanth};
    const auto index = static_cast<unsigned int>(setting);
    return index < 4 ? aUnitList[index] : ZCUnit::UnitMillimetre;
}
