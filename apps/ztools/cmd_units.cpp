// The units family's part of ztools: `convert` between units, `paper list` and
// `paper find` over the standard paper format table, and the tour section.
#include "commands.h"

#include <cmath>
#include <cstdlib>
#include <iomanip>
#include <iostream>
#include <memory>
#include <sstream>
#include <vector>

namespace ztools {
namespace {

using TFormatInfo = ZCFormat::TFormatInfo;

struct UnitName
{
    const char* name;
    ULONG code;
    double zanthPerUnit; // for the range check only; the pixel factor depends on dpi
};

// The units `convert` accepts, with their ZCUnitEx codes.
const UnitName kUnits[] = {
    {"px", ZCUnit::UnitPixel, 0.0},
    {"mm", ZCUnit::UnitMillimetre, 4800 / 25.4},
    {"in", ZCUnit::UnitInch, 4800.0},
    {"zanth", ZCUnit::UnitZanth, 1.0},
    {"twip", ZCUnitEx::UnitTwip, 4800 / 1440.0},
    {"pica", ZCUnitEx::UnitPica, 800.0},
    {"tenth-mm", ZCUnitEx::UnitTenthMillimetre, 480 / 25.4},
};

const UnitName& ParseUnit(const std::string& text, const char* what)
{
    for (const UnitName& unit : kUnits) {
        if (text == unit.name) {
            return unit;
        }
    }
    throw CLI::ValidationError(what, "unknown unit \"" + text +
                                         "\" (use px, mm, in, zanth, twip, pica or tenth-mm)");
}

double ParseNumber(const std::string& text, const char* what)
{
    const char* begin = text.c_str();
    char* end = nullptr;
    const double value = std::strtod(begin, &end);
    if (text.empty() || end == begin || *end != 0 || !std::isfinite(value)) {
        throw CLI::ValidationError(what, "\"" + text + "\" is not a number");
    }
    return value;
}

std::string Number(double value)
{
    std::ostringstream out;
    out << std::setprecision(12) << value;
    return out.str();
}

// The dpi for the pixel unit; 0 lets the library take its 400 dpi.
ULONG Dpi(unsigned long long dpi)
{
    return static_cast<ULONG>(dpi);
}

void Convert(const std::string& valueText, const std::string& fromText, const std::string& toText,
             unsigned long long dpiOption)
{
    const double value = ParseNumber(valueText, "VALUE");
    const UnitName& from = ParseUnit(fromText, "FROM");
    const UnitName& to = ParseUnit(toText, "TO");
    const ULONG dpi = Dpi(dpiOption);
    const double effectiveDpi = dpi ? dpi : 400.0;

    // Zanth values are signed 32-bit numbers here; beyond that they would wrap. The
    // library truncates Zanth units and rounds the others to the nearest unit, so the
    // largest value accepted is the one that gives exactly 2147483647.
    const double perUnit =
        from.code == ZCUnit::UnitPixel ? 4800.0 / effectiveDpi : from.zanthPerUnit;
    const double magnitude =
        from.code == ZCUnit::UnitPixel ? std::trunc(std::fabs(value)) : std::fabs(value);
    const double units = from.code == ZCUnit::UnitZanth ? magnitude : magnitude * perUnit + 0.5;
    const auto tooLarge = [&] {
        return CLI::ValidationError("VALUE", valueText + " " + fromText +
                                                 " does not fit 32-bit Zanth units "
                                                 "(at most 2147483647, about 447,000 inches)");
    };
    if (std::floor(units) > 2147483647.0 ||
        (from.code == ZCUnit::UnitPixel && magnitude > 4294967295.0)) {
        throw tooLarge();
    }

    const LONG zanth = ZCUnitEx::ConvertToZanth(value, from.code, dpi);
    // At the very edge the library's own rounding decides: a result whose sign
    // differs from the value's has wrapped.
    if ((value > 0 && zanth < 0) || (value < 0 && zanth > 0)) {
        throw tooLarge();
    }
    // The way out wraps in 32 bits too: Zanth units x dpi + 2400 for pixels,
    // Zanth units x 10 for tenths of a millimetre. Refuse rather than print a wrapped
    // number.
    const double zanthMagnitude = std::fabs(static_cast<double>(zanth));
    if ((to.code == ZCUnit::UnitPixel && zanthMagnitude * effectiveDpi + 2400.0 > 4294967295.0) ||
        (to.code == ZCUnitEx::UnitTenthMillimetre && zanthMagnitude * 10.0 > 2147483647.0)) {
        throw CLI::ValidationError("VALUE", valueText + " " + fromText + " in " + toText +
                                                " does not fit the 32-bit arithmetic of the "
                                                "conversion");
    }
    const double result = ZCUnitEx::ConvertFromZanth(zanth, to.code, dpi);
    std::cout << Number(value) << " " << from.name << " = " << Number(result) << " " << to.name
              << "  (via " << zanth << " Zanth units";
    if (from.code == ZCUnit::UnitPixel || to.code == ZCUnit::UnitPixel) {
        std::cout << ", " << Number(effectiveDpi) << " dpi";
    }
    std::cout << ")\n";
}

const char* ClassName(WORD formatClass)
{
    switch (formatClass) {
    case 1:
        return "ISO A";
    case 2:
        return "ISO B";
    case 3:
        return "ISO C";
    case 4:
        return "ANSI/inch";
    case 5:
        return "ARC";
    case 6:
        return "Asian B";
    default:
        return "-";
    }
}

std::string Sizes(const TFormatInfo& info)
{
    std::ostringstream out;
    out << info.SizeX << " x " << info.SizeY << " Zanth units, "
        << Utf8(ZCUnit::FormatString(info.SizeX, ZCUnit::UnitMillimetre, 0)) << " x "
        << Utf8(ZCUnit::FormatString(info.SizeY, ZCUnit::UnitMillimetre, 0)) << " mm";
    return out.str();
}

void PaperList()
{
    std::cout << std::left << std::setw(4) << "#" << std::setw(15) << "name" << std::setw(14)
              << "class" << std::setw(20) << "Zanth units"
              << "mm\n";
    for (int i = 1; i < ZCFormat::FormatCount; ++i) {
        TFormatInfo info;
        TheFormat.InitFormat(i, &info);
        std::ostringstream zanth, mm;
        zanth << info.SizeX << " x " << info.SizeY;
        mm << Utf8(ZCUnit::FormatString(info.SizeX, ZCUnit::UnitMillimetre, 0)) << " x "
           << Utf8(ZCUnit::FormatString(info.SizeY, ZCUnit::UnitMillimetre, 0));
        std::ostringstream cls;
        cls << info.Class << " " << ClassName(info.Class);
        std::cout << std::left << std::setw(4) << i << std::setw(15) << Utf8(TString(info.Name))
                  << std::setw(14) << cls.str() << std::setw(20) << zanth.str() << mm.str() << "\n";
    }
    std::cout << std::right;
}

// A size such as "210x297mm", "8.5x11in" or "39727x56183zanth" (millimetres when
// no unit is given).
struct Request
{
    ULONG x;
    ULONG y;
    ULONG unit;
    const char* unitName;
};

// `what` names the argument that the value came from, for the error.
ULONG ToZanth(double value, ULONG unit, const std::string& text, const char* what)
{
    const double perUnit = unit == ZCUnit::UnitMillimetre ? 4800 / 25.4
                           : unit == ZCUnit::UnitInch     ? 4800.0
                                                          : 1.0;
    if (value * perUnit + 1.0 > 4294967295.0) {
        throw CLI::ValidationError(what, text + " does not fit 32-bit Zanth units");
    }
    return ZCUnit::ConvertToZanth(value, unit, 0);
}

Request ParseSize(const std::string& text)
{
    static const struct
    {
        const char* suffix;
        ULONG unit;
    } kSuffixes[] = {
        {"zanth", ZCUnit::UnitZanth}, {"mm", ZCUnit::UnitMillimetre}, {"in", ZCUnit::UnitInch}};
    std::string numbers = text;
    Request request{0, 0, ZCUnit::UnitMillimetre, "mm"};
    for (const auto& suffix : kSuffixes) {
        const std::string s = suffix.suffix;
        if (numbers.size() > s.size() &&
            numbers.compare(numbers.size() - s.size(), s.size(), s) == 0) {
            numbers.resize(numbers.size() - s.size());
            request.unit = suffix.unit;
            request.unitName = suffix.suffix;
            break;
        }
    }
    const std::size_t cross = numbers.find_first_of("xX");
    if (cross == std::string::npos) {
        throw CLI::ValidationError(
            "SIZE", "\"" + text + "\" is not WIDTHxHEIGHT[mm|in|zanth], e.g. 210x297mm");
    }
    const double width = ParseNumber(numbers.substr(0, cross), "SIZE");
    const double height = ParseNumber(numbers.substr(cross + 1), "SIZE");
    if (width <= 0 || height <= 0) {
        throw CLI::ValidationError("SIZE", "width and height must be greater than 0");
    }
    request.x = ToZanth(width, request.unit, text, "SIZE");
    request.y = ToZanth(height, request.unit, text, "SIZE");
    if (request.x == 0 || request.y == 0) {
        throw CLI::ValidationError("SIZE", "\"" + text +
                                               "\" is smaller than one Zanth unit (1/4800 inch) "
                                               "in width or height");
    }
    return request;
}

// The standard table as runs of records of one series (consecutive records of one
// class), each from its largest to its smallest format. Within a run every format
// fits inside the one before it, which is the order the inside and outside
// searches need to stop early without missing anything.
std::vector<std::vector<TFormatInfo*>> Series(std::vector<TFormatInfo>& records)
{
    std::vector<std::vector<TFormatInfo*>> series;
    for (int i = 1; i < ZCFormat::FormatCount; ++i) {
        if (series.empty() || records[i].Class != records[i - 1].Class) {
            series.emplace_back();
        }
        series.back().push_back(&records[i]);
    }
    return series;
}

enum class Mode
{
    Inside,
    Outside,
    Closest
};

void PaperFind(const std::string& sizeText, bool inside, bool outside, const std::string* closest)
{
    const Request request = ParseSize(sizeText);
    Mode mode = inside ? Mode::Inside : outside ? Mode::Outside : Mode::Closest;
    ULONG tolerance = 0;
    if (closest) {
        const double t = ParseNumber(*closest, "--closest");
        if (t < 0) {
            throw CLI::ValidationError("--closest", "the tolerance must not be negative");
        }
        tolerance = ToZanth(t, request.unit, *closest, "--closest");
    }

    std::vector<TFormatInfo> records(ZCFormat::FormatCount);
    for (int i = 0; i < ZCFormat::FormatCount; ++i) {
        TheFormat.InitFormat(i, &records[i]);
    }

    std::cout << "request: " << request.x << " x " << request.y << " Zanth units ("
              << Utf8(ZCUnit::FormatString(request.x, ZCUnit::UnitMillimetre, 0)) << " x "
              << Utf8(ZCUnit::FormatString(request.y, ZCUnit::UnitMillimetre, 0)) << " mm)\n";

    UINT landscape = 0;
    const TFormatInfo* found = nullptr;
    if (mode == Mode::Closest) {
        std::cout << "search:  closest within " << tolerance << " Zanth units\n";
        TPtrList<TFormatInfo*> list;
        for (int i = 1; i < ZCFormat::FormatCount; ++i) {
            list.AddTail(&records[i]);
        }
        void* position = nullptr;
        TheFormat.GetFormatClosest(request.x, request.y, &list, landscape, position, tolerance);
        found = position ? list.GetAt(position) : nullptr;
    } else {
        std::cout << "search:  "
                  << (mode == Mode::Inside ? "inside (the largest format that fits in the size)"
                                           : "outside (the smallest format that holds the size)")
                  << "\n";
        // One search per series, then the best of their answers: the largest area
        // inside, the smallest outside; on a tie the earlier series wins.
        for (const std::vector<TFormatInfo*>& run : Series(records)) {
            TPtrList<TFormatInfo*> list;
            if (mode == Mode::Inside) {
                for (auto it = run.rbegin(); it != run.rend(); ++it) {
                    list.AddTail(*it); // small to large
                }
            } else {
                for (TFormatInfo* info : run) {
                    list.AddTail(info); // large to small
                }
            }
            void* position = nullptr;
            if (mode == Mode::Inside) {
                TheFormat.GetFormatInside(request.x, request.y, &list, landscape, position);
            } else {
                TheFormat.GetFormatOutside(request.x, request.y, &list, landscape, position);
            }
            if (!position) {
                continue;
            }
            const TFormatInfo* candidate = list.GetAt(position);
            const ULONGLONG area = ULONGLONG{candidate->SizeX} * candidate->SizeY;
            const bool better =
                !found || (mode == Mode::Inside ? area > ULONGLONG{found->SizeX} * found->SizeY
                                                : area < ULONGLONG{found->SizeX} * found->SizeY);
            if (better) {
                found = candidate;
            }
        }
    }

    const char* orientation = landscape ? "landscape" : "portrait";
    if (found) {
        std::cout << "found:   " << Utf8(TString(found->Name)) << " (class " << found->Class << ", "
                  << Sizes(*found) << "), " << orientation << "\n";
    } else {
        std::cout << "found:   no standard format fits (the search answers \""
                  << Utf8(TString(records[0].Name)) << "\")\n";
    }
}

} // namespace

void AddUnitCommands(CLI::App& app)
{
    CLI::App* convert = app.add_subcommand(
        "convert", "Convert a length between px, mm, in, zanth, twip, pica and tenth-mm");
    struct ConvertArgs
    {
        std::string value, from, to;
        unsigned long long dpi = 0;
    };
    auto convertArgs = std::make_shared<ConvertArgs>();
    convert->add_option("VALUE", convertArgs->value, "The length (may be negative)")->required();
    convert->add_option("FROM", convertArgs->from, "Its unit")->required();
    convert->add_option("TO", convertArgs->to, "The unit wanted")->required();
    convert
        ->add_option("--dpi", convertArgs->dpi,
                     "Resolution for px in dots per inch (default: the library's 400)")
        ->check(CLI::Range(1ULL, 0xFFFFFFFEULL));
    convert->callback([convertArgs] {
        Convert(convertArgs->value, convertArgs->from, convertArgs->to, convertArgs->dpi);
    });

    CLI::App* paper = app.add_subcommand("paper", "The standard paper formats");
    paper->require_subcommand(1);
    CLI::App* list = paper->add_subcommand("list", "List the standard paper formats");
    list->callback([] { PaperList(); });

    CLI::App* find = paper->add_subcommand(
        "find", "Find the standard format for a size: exact match unless a search is chosen");
    struct FindArgs
    {
        std::string size;
        bool inside = false;
        bool outside = false;
        std::string closest;
    };
    auto findArgs = std::make_shared<FindArgs>();
    find->add_option("SIZE", findArgs->size, "WIDTHxHEIGHT[mm|in|zanth], e.g. 210x297mm")
        ->required();
    CLI::Option* inside =
        find->add_flag("--inside", findArgs->inside, "The largest format that fits inside");
    CLI::Option* outside =
        find->add_flag("--outside", findArgs->outside, "The smallest format that holds the size");
    CLI::Option* closest =
        find->add_option("--closest", findArgs->closest,
                         "The closest format whose sides differ by at most N (in the size's unit)");
    inside->excludes(outside)->excludes(closest);
    outside->excludes(closest);
    find->callback([findArgs, closest] {
        PaperFind(findArgs->size, findArgs->inside, findArgs->outside,
                  closest->count() ? &findArgs->closest : nullptr);
    });
}

void TourUnits(std::ostream& out)
{
    Heading(out, "Units and paper formats");
    out << "Zanth units are 1/4800 inch.\n";
    out << "ZCUnit::ConvertMmToZanth(25.4) = " << ZCUnit::ConvertMmToZanth(25.4)
        << ", ConvertMmToZanth(210.0) = " << ZCUnit::ConvertMmToZanth(210.0)
        << ", ConvertInchToZanth(8.5) = " << ZCUnit::ConvertInchToZanth(8.5) << "\n";
    out << "ZCUnit::ConvertToZanth(100 px, resolution 0 -> 400 dpi) = "
        << ZCUnit::ConvertToZanth(100.0, ZCUnit::UnitPixel, 0)
        << ", ConvertFromZanth(1200, px, 300 dpi) = "
        << ZCUnit::ConvertFromZanth(1200, ZCUnit::UnitPixel, 300) << "\n";
    out << "ZCSUnit::ConvertMmToZanth(-0.0027) = " << ZCSUnit::ConvertMmToZanth(-0.0027)
        << " (signed values round like positive ones)\n";
    out << "ZCUnitEx::ConvertToZanth(1440 twips) = "
        << ZCUnitEx::ConvertToZanth(1440.0, ZCUnitEx::UnitTwip, 0)
        << ", (6 picas) = " << ZCUnitEx::ConvertToZanth(6.0, ZCUnitEx::UnitPica, 0) << "\n";
    out << "ZCUnit::Convert(mm, mm, 1.2345) = "
        << Number(ZCUnit::Convert(ZCUnit::UnitMillimetre, ZCUnit::UnitMillimetre, 1.2345, 0))
        << ", ZCUnitEx::Convert(mm, mm, 1.2345) = "
        << Number(ZCUnitEx::Convert(ZCUnit::UnitMillimetre, ZCUnit::UnitMillimetre, 1.2345, 0))
        << " (always via whole Zanth units)\n";
    out << "FormatString(56183, mm) = \""
        << Utf8(ZCUnit::FormatString(56183, ZCUnit::UnitMillimetre, 0))
        << "\", FormatString(4800, px, 300) = \""
        << Utf8(ZCUnit::FormatString(4800, ZCUnit::UnitPixel, 300)) << "\", GetUnitText(1) = \""
        << Utf8(ZCUnit::GetUnitText(ZCUnit::UnitMillimetre)) << "\"\n";
    out << "RoundToDigits(1234.5, 2) = " << Number(ZCUnit::RoundToDigits(1234.5, 2))
        << ", RoundToDigitsAfterDecimalPoint(2.346, 2) = "
        << Number(ZCUnit::RoundToDigitsAfterDecimalPoint(2.346, 2)) << "\n";
    out << "TWAIN: Twain2Zanth(2 picas) = " << ZCUnitEx::Twain2Zanth(2)
        << ", Zanth2Twain(5 pica) = " << ZCUnitEx::Zanth2Twain(ZCUnitEx::UnitPica)
        << " (not inverse)\n";

    TFormatInfo a4;
    TheFormat.InitFormat(5, &a4);
    out << "TheFormat record 5: " << Utf8(TString(a4.Name)) << ", " << Sizes(a4) << "\n";

    // The ISO A series from small to large, as the inside search expects it.
    std::vector<TFormatInfo> series(7);
    TPtrList<TFormatInfo*> list;
    for (int i = 7; i >= 1; --i) {
        TheFormat.InitFormat(i, &series[7 - i]);
        list.AddTail(&series[7 - i]);
    }
    UINT landscape = 0;
    void* position = nullptr;
    const ULONG letterX = ZCUnit::ConvertInchToZanth(11.0);
    const ULONG letterY = ZCUnit::ConvertInchToZanth(8.5);
    WCHAR* name = TheFormat.GetFormatInside(letterX, letterY, &list, landscape, position);
    out << "largest ISO A format inside 11 x 8.5 in: " << Utf8(TString(name))
        << (landscape ? " (landscape)" : " (portrait)") << "\n";
    name =
        TheFormat.GetFormatClosest(ZCUnit::ConvertMmToZanth(210.0), ZCUnit::ConvertMmToZanth(297.0),
                                   &list, landscape, position, 0);
    out << "exact match for 210 x 297 mm: " << Utf8(TString(name))
        << (position ? "" : " (none: the table's A4 is 210.22 x 297.30 mm)") << "\n";
    name =
        TheFormat.GetFormatClosest(ZCUnit::ConvertMmToZanth(210.0), ZCUnit::ConvertMmToZanth(297.0),
                                   &list, landscape, position, ZCUnit::ConvertMmToZanth(1.0));
    out << "closest within 1 mm: " << Utf8(TString(name)) << "\n";
}

} // namespace ztools
