// Unit conversion between Zanth units (1/4800 inch) and pixels, millimetres,
// inches, twips, picas and tenths of a millimetre; TWAIN unit maps.
#ifndef ZANTH_UNITS_H
#define ZANTH_UNITS_H

#include <corewu/messages.h>
#include <corewu/tstring.h>
#include <zanth/config.h>

namespace ZANTH {

// The OEM unit setting; UnitFromOem turns it into a unit code.
enum TUnitOem
{
    UnitOemPixel = 0,
    UnitOemMillimetre = 1,
    UnitOemInch = 2,
    UnitOemZanth = 3
};

} // namespace ZANTH

// Unsigned conversions between Zanth units and the units users and devices speak.
//
// Unit codes (ULONG): ZCUnit::UnitPixel 0 (a resolution in dots per inch is passed
// beside the value), UnitMillimetre 1, UnitInch 2, UnitZanth 3; ZCUnitEx also knows
// ZCUnitEx::UnitTwip 4, UnitPica 5, UnitTenthMillimetre 6 and UnitZanthEx 7 (a
// Zanth unit, as 3). Any other code is unrecognised: the to-Zanth conversions give
// 0, the from-Zanth conversions 0.0 and the text functions an empty string. No
// operation raises an error.
//
// Arithmetic: a double is truncated toward zero through a 64-bit integer and the
// low 32 bits are kept, as the processor's conversion does; NaN and values outside
// the 64-bit range give the processor's "integer indefinite", whose low 32 bits
// are 0. So a result that does not fit 32 bits wraps instead of being undefined.
// Products of two 32-bit integers (Zanth value x resolution, Zanth value x 10)
// wrap in 32 bits before they are widened to double.
//
// Resolution: the unit-code conversions (ConvertToZanth, ConvertFromZanth and
// what is built on them) take 400 dpi when the resolution is 0 or 0xFFFFFFFF.
// The direct pixel converters and FormatString use the resolution as passed; a
// resolution of 0 there gives 0 (there is nothing to divide by).
//
// The object holds only its default unit; every conversion is static and pure,
// so any thread may call them. Sharing one object while calling SetDefault needs
// the caller's own lock.
class ZANTH_TOOLS_API ZCUnit
{
public:
    // The unit-name catalog ("ZCUnit::ZanthUnits"): messages 0-2 name pixel,
    // millimetre and inch.
    class ZANTH_TOOLS_API ZMCZanthUnits : public TMessageBase
    {
    public:
        ZMCZanthUnits();
        ZMCZanthUnits& operator=(const ZMCZanthUnits& other)
        {
            TMessageBase::operator=(other);
            return *this;
        }
    };

    static ZMCZanthUnits ZanthUnits;

    // The unit codes that all three classes understand.
    static constexpr ULONG UnitPixel = 0; // at a resolution passed beside the value
    static constexpr ULONG UnitMillimetre = 1;
    static constexpr ULONG UnitInch = 2;
    static constexpr ULONG UnitZanth = 3; // the value itself

    // One Zanth unit in millimetres and in inches; half a Zanth unit in inches and
    // in millimetres (the rounding offsets added before truncation).
    static constexpr double EinZanthInMm = 25.4 / 4800;
    static constexpr double EinZanthInInch = 1.0 / 4800;
    static constexpr double EinHalbZanthInInch = 1.0 / 9600;
    static const double EinHalbZanthInMm;

    explicit ZCUnit(ULONG defaultUnit = UnitMillimetre) : m_DefaultUnit(defaultUnit) {}

    // Does nothing; kept for callers that end an object's use explicitly.
    void Destructor() {}

    ULONG GetDefault() const { return m_DefaultUnit; }
    // Any code is accepted; an unrecognised one makes the default conversions give 0.
    void SetDefault(ULONG unit) { m_DefaultUnit = unit; }

    double ConvertZanthToDefault(ULONG zanth, ULONG resolution) const;
    ULONG ConvertDefaultToZanth(double value, ULONG resolution);

    // Units 0-3. Pixels are truncated to whole pixels first, then rounded half up.
    static ULONG ConvertToZanth(double value, ULONG unit, ULONG resolution);
    // Units 0-3. A pixel result is always a whole number.
    static double ConvertFromZanth(ULONG zanth, ULONG unit, ULONG resolution);
    // Returns the value untouched when both units are equal; otherwise it passes
    // through a whole number of Zanth units.
    static double Convert(ULONG fromUnit, ULONG toUnit, double value, ULONG resolution);

    static ULONG ConvertMmToZanth(double mm);
    static ULONG ConvertInchToZanth(double inch);
    // With the resolution passed (no 400 dpi substitute); resolution 0 gives 0.
    static ULONG ConvertPixelToZanth(ULONG pixels, ULONG resolution);
    static double ConvertZanthToMm(ULONG zanth);
    static double ConvertZanthToInch(ULONG zanth);
    // With the resolution passed (no 400 dpi substitute); resolution 0 gives 0.
    static ULONG ConvertZanthToPixel(ULONG zanth, ULONG resolution);

    // Rounds half away from zero to `digits` significant digits, or to `places`
    // decimal places. Zero, NaN and infinities come back unchanged, and so does a
    // value that already has fewer digits than a double can show at that precision.
    static double RoundToDigits(double value, ULONG digits);
    static double RoundToDigitsAfterDecimalPoint(double value, ULONG places);

    // Unit 0: whole pixels at the resolution passed ("%d"); units 1 and 2: two
    // decimals ("%.2f"); any other unit: empty. No unit name is appended.
    static TString FormatString(ULONG zanth, ULONG unit, ULONG resolution);
    // The name of unit 0, 1 or 2 from the catalog ZanthUnits; empty for others.
    static TString GetUnitText(ULONG unit);

protected:
    ULONG m_DefaultUnit;
};

// Signed conversions: each works on the magnitude and puts the sign back, so
// rounding is symmetric about zero. Lengths are expected within +-2^31 Zanth
// units; the thread rules are those of ZCUnit.
class ZANTH_TOOLS_API ZCSUnit : public ZCUnit
{
public:
    ZCSUnit() : ZCUnit(UnitMillimetre) {}

    double ConvertZanthToDefault(LONG zanth, ULONG resolution) const;
    LONG ConvertDefaultToZanth(double value, ULONG resolution);

    static LONG ConvertToZanth(double value, ULONG unit, ULONG resolution);
    static double ConvertFromZanth(LONG zanth, ULONG unit, ULONG resolution);
    static double Convert(ULONG fromUnit, ULONG toUnit, double value, ULONG resolution);

    static LONG ConvertMmToZanth(double mm);
    static LONG ConvertInchToZanth(double inch);
    // With the resolution passed; resolution 0 gives 0.
    static LONG ConvertPixelToZanth(LONG pixels, ULONG resolution);
    static double ConvertZanthToMm(LONG zanth);
    static double ConvertZanthToInch(LONG zanth);
    // With the resolution passed; resolution 0 gives 0.
    static LONG ConvertZanthToPixel(LONG zanth, ULONG resolution);

    static TString FormatString(LONG zanth, ULONG unit, ULONG resolution);
};

// Signed conversions that also know twips (4), picas (5), tenths of a millimetre
// (6) and a second Zanth code (7), and the TWAIN unit maps. Codes 0-3 and codes
// above 7 are handled by ZCSUnit. The thread rules are those of ZCUnit.
class ZANTH_TOOLS_API ZCUnitEx : public ZCSUnit
{
public:
    // The codes that only ZCUnitEx understands.
    static constexpr ULONG UnitTwip = 4; // 1440 per inch
    static constexpr ULONG UnitPica = 5; // 6 per inch
    static constexpr ULONG UnitTenthMillimetre = 6;
    static constexpr ULONG UnitZanthEx = 7; // the value itself, as UnitZanth

    ZCUnitEx() = default;

    double ConvertZanthToDefault(LONG zanth, ULONG resolution) const;
    LONG ConvertDefaultToZanth(double value, ULONG resolution);

    static LONG ConvertToZanth(double value, ULONG unit, ULONG resolution);
    static double ConvertFromZanth(LONG zanth, ULONG unit, ULONG resolution);
    // Always passes through Zanth units, even when both units are equal: a value
    // converted to its own unit comes back rounded to a whole Zanth unit.
    static double Convert(ULONG fromUnit, ULONG toUnit, double value, ULONG resolution);

    // TWAIN ICAP_UNITS value -> unit code, and unit code -> TWAIN value. The two
    // tables are fixed and not inverse to each other; unknown codes give 0.
    static ULONG Twain2Zanth(ULONG twainUnit);
    static ULONG Zanth2Twain(ULONG unit);
};

// The unit code of an OEM unit setting (0-3 map onto unit codes 0-3). A setting
// outside 0-3 gives unit 1 (millimetre), the default unit of every unit object.
ZANTH_TOOLS_API ULONG UnitFromOem(ZANTH::TUnitOem setting);

// The library-wide unit object (default unit 1), built when the library loads.
extern ZANTH_TOOLS_API ZCUnit TheUnits;

#endif // ZANTH_UNITS_H
