// The datetime family's part of ztools: the clock, formatting through masks, parsing
// text back into a value, and the calendar steps.
#include "commands.h"

#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace ztools {
namespace {

const char* const kMaskHelp =
    "a mask by name (german, english, american, sql, sort, d10, d8, t8, t5, standard) "
    "or as text, e.g. \"%d.%m.%Y %H:%M:%S\"";

// A mask given by name, or else the text itself.
TString MaskFromArgument(const std::string& argument)
{
    struct Named
    {
        const char* name;
        const TString* mask;
    };
    const Named names[] = {
        {"german", &ZCDateTime::DATEMASK_GERMAN},
        {"english", &ZCDateTime::DATEMASK_ENGLISH},
        {"american", &ZCDateTime::DATEMASK_AMERICAN},
        {"sql", &ZCDateTime::DATEMASK_SQL},
        {"sort", &ZCDateTime::DATEMASK_SORT},
        {"d10", &ZCDateTime::DATEMASK_D10},
        {"d8", &ZCDateTime::DATEMASK_D8},
        {"t8", &ZCDateTime::TIMEMASK_T8},
        {"t5", &ZCDateTime::TIMEMASK_T5},
        {"standard", &ZCDateTime::TIMEMASK_STANDARD},
    };
    for (const Named& named : names) {
        if (argument == named.name) {
            return *named.mask;
        }
    }
    return TString::FromAnsi(argument.c_str());
}

[[noreturn]] void Fail(const std::string& message)
{
    std::cerr << "ztools date: " << message << "\n";
    throw CLI::RuntimeError(1);
}

// The fill character: exactly one character, and one UTF-16 unit, since the
// library pads with a single WCHAR.
WCHAR FillFromArgument(const std::string& argument)
{
    const TString fill = TString::FromAnsi(argument.c_str());
    if (fill.GetLength() == 2 && fill[0] >= 0xD800 && fill[0] <= 0xDBFF && fill[1] >= 0xDC00 &&
        fill[1] <= 0xDFFF) {
        Fail("the fill character \"" + argument +
             "\" lies outside the Basic Multilingual Plane: the fill is a single UTF-16 unit, "
             "so choose a character from U+0000 to U+FFFF");
    }
    if (fill.GetLength() != 1) {
        Fail("the fill character must be exactly one character, not \"" + argument + "\"");
    }
    return fill[0];
}

std::string Field(LONG value)
{
    return value == -1 ? std::string("empty") : std::to_string(value);
}

void PrintFields(ZCDateTime& value)
{
    std::cout << "day     " << Field(value.Day()) << "\n";
    std::cout << "month   " << Field(value.Month());
    if (value.Month() >= 1 && value.Month() <= 12) {
        std::cout << " (" << Utf8(value.MonthName()) << ")";
    }
    std::cout << "\n";
    std::cout << "year    " << Field(value.Year()) << "\n";
    std::cout << "hour    " << Field(value.Hour()) << "\n";
    std::cout << "minute  " << Field(value.Minute()) << "\n";
    std::cout << "second  " << Field(value.Second()) << "\n";
}

const TString kDateTimeMask(TEXT("%d.%m.%Y %H:%M:%S"));

struct NowOptions
{
    bool local = false;
    std::string mask = "%d.%m.%Y %H:%M:%S";
    std::string fill = "0";
};

struct FormatOptions
{
    std::string mask;
    std::string fill = "0";
    std::vector<LONG> values;
};

struct ParseOptions
{
    std::string mask;
    std::string fill = "_";
    bool allowEmpty = false;
    std::string text;
};

struct StepOptions
{
    std::string inc;
    std::string dec;
    std::string mask;
    int count = 1;
    std::string date;
};

void RunNow(const NowOptions& options)
{
    ZCDateTime now;
    if (options.local) {
        now.LoadLocalDateTime();
    } else {
        now.LoadSystemDateTime();
    }
    std::cout << Utf8(now.FormatDate(MaskFromArgument(options.mask), FillFromArgument(options.fill),
                                     0))
              << "\n";
}

void RunFormat(const FormatOptions& options)
{
    const std::vector<LONG>& v = options.values;
    if (v.size() != 3 && v.size() != 6) {
        Fail("give DAY MONTH YEAR, optionally followed by HOUR MINUTE SECOND (-1 for empty)");
    }
    ZCDateTime value;
    const LONG hour = v.size() == 6 ? v[3] : -1;
    const LONG minute = v.size() == 6 ? v[4] : -1;
    const LONG second = v.size() == 6 ? v[5] : -1;
    if (!value.IsValidDateTime(v[0], v[1], v[2], hour, minute, second, 1)) {
        Fail("not a valid date and time (day 1 to the month's length, month 1 to 12, year 0 "
             "to 9999, hour 0 to 23, minute and second 0 to 59; -1 for empty)");
    }
    value = ZCDateTime(v[0], v[1], v[2], hour, minute, second);
    std::cout << Utf8(value.FormatDate(MaskFromArgument(options.mask),
                                       FillFromArgument(options.fill), 0))
              << "\n";
}

void RunParse(const ParseOptions& options)
{
    const WCHAR fill = FillFromArgument(options.fill);
    if (fill >= TEXT('0') && fill <= TEXT('9')) {
        Fail("a digit cannot mark empty places: choose another fill character");
    }
    const TString mask = MaskFromArgument(options.mask);
    ZCDateTime value;
    if (!value.DateFromFormat(mask, TString::FromAnsi(options.text.c_str()), fill,
                              options.allowEmpty ? 1 : 0)) {
        std::string message =
            "\"" + options.text + "\" is not a valid value in the mask \"" + Utf8(mask) + "\"";
        if (!options.allowEmpty) {
            message += " (fields that the mask lacks are empty: add --allow-empty to accept them)";
        }
        Fail(message);
    }
    PrintFields(value);
}

void RunStep(const StepOptions& options)
{
    const bool increment = !options.inc.empty();
    const std::string& unit = increment ? options.inc : options.dec;
    if (options.count < 0) {
        Fail("--count must not be negative");
    }

    // The date: in the mask given, or as "DD.MM.YYYY" with an optional "HH:MM:SS".
    const TString text = TString::FromAnsi(options.date.c_str());
    ZCDateTime value;
    TString mask;
    if (!options.mask.empty()) {
        mask = MaskFromArgument(options.mask);
        if (!value.DateFromFormat(mask, text, TEXT('_'), 1)) {
            Fail("\"" + options.date + "\" is not a valid value in the mask \"" + Utf8(mask) +
                 "\"");
        }
    } else {
        // Without a time the date-time mask would read the missing hour as 0.
        const bool withTime = options.date.find(':') != std::string::npos;
        mask = withTime ? kDateTimeMask : ZCDateTime::DATEMASK_GERMAN;
        if (!value.DateFromFormat(mask, text, TEXT('_'), withTime ? 0 : 1) ||
            (!withTime &&
             value.IsValidDate(value.Day(), value.Month(), value.Year(), TEXT('_'), 0) == 0)) {
            Fail("\"" + options.date +
                 "\" is not a date such as 31.12.2003 or 31.12.2003 23:59:59");
        }
    }

    using StepFunction = LONG (ZCDateTime::*)(unsigned int);
    struct Unit
    {
        const char* name;
        StepFunction inc;
        StepFunction dec;
    };
    const Unit units[] = {
        {"day", &ZCDateTime::IncDay, &ZCDateTime::DecDay},
        {"month", &ZCDateTime::IncMonth, &ZCDateTime::DecMonth},
        {"year", &ZCDateTime::IncYear, &ZCDateTime::DecYear},
        {"hour", &ZCDateTime::IncHour, &ZCDateTime::DecHour},
        {"minute", &ZCDateTime::IncMinute, &ZCDateTime::DecMinute},
        {"second", &ZCDateTime::IncSecond, &ZCDateTime::DecSecond},
    };
    for (const Unit& u : units) {
        if (unit == u.name) {
            const StepFunction step = increment ? u.inc : u.dec;
            for (int i = 0; i < options.count; ++i) {
                (value.*step)(0);
            }
            std::cout << Utf8(value.FormatDate(mask, TEXT('0'), 0)) << "\n";
            return;
        }
    }
    Fail("unknown unit \"" + unit + "\" (day, month, year, hour, minute or second)");
}

} // namespace

void AddDateCommands(CLI::App& app)
{
    CLI::App* date = app.add_subcommand("date", "Date and time: clock, masks, parsing, steps");
    date->require_subcommand(1);

    auto now = std::make_shared<NowOptions>();
    CLI::App* nowCommand = date->add_subcommand("now", "Print the current date and time");
    nowCommand->add_flag("--local", now->local, "Local time instead of UTC");
    nowCommand->add_option("--mask", now->mask, kMaskHelp)->capture_default_str();
    nowCommand->add_option("--fill", now->fill, "Character that pads short numbers")
        ->capture_default_str();
    nowCommand->callback([now] { RunNow(*now); });

    auto format = std::make_shared<FormatOptions>();
    CLI::App* formatCommand =
        date->add_subcommand("format", "Format DAY MONTH YEAR [HOUR MINUTE SECOND] in a mask");
    formatCommand->add_option("--mask", format->mask, kMaskHelp)->required();
    formatCommand
        ->add_option("--fill", format->fill, "Character that pads short numbers and empty fields")
        ->capture_default_str();
    formatCommand->add_option("values", format->values, "DAY MONTH YEAR [HOUR MINUTE SECOND]")
        ->required()
        ->expected(3, 6);
    formatCommand->callback([format] { RunFormat(*format); });

    auto parse = std::make_shared<ParseOptions>();
    CLI::App* parseCommand =
        date->add_subcommand("parse", "Read TEXT written in a mask and print its six fields");
    parseCommand->add_option("--mask", parse->mask, kMaskHelp)->required();
    parseCommand
        ->add_option("--fill", parse->fill,
                     "Character that marks empty places (not a digit, and not a character "
                     "that separates two numbers in the mask)")
        ->capture_default_str();
    parseCommand->add_flag("--allow-empty", parse->allowEmpty,
                           "Accept empty fields (needed when the mask lacks some fields)");
    parseCommand->add_option("text", parse->text, "The text to read")->required();
    parseCommand->callback([parse] { RunParse(*parse); });

    auto step = std::make_shared<StepOptions>();
    CLI::App* stepCommand = date->add_subcommand(
        "step", "Step DATE (\"31.12.2003\" or \"31.12.2003 23:59:59\") by one unit");
    CLI::Option* inc =
        stepCommand->add_option("--inc", step->inc, "day, month, year, hour, minute or second");
    CLI::Option* dec =
        stepCommand->add_option("--dec", step->dec, "day, month, year, hour, minute or second");
    inc->excludes(dec);
    stepCommand->add_option("--mask", step->mask, std::string("The mask of DATE: ") + kMaskHelp);
    stepCommand->add_option("--count", step->count, "How many steps")->capture_default_str();
    stepCommand->add_option("date", step->date, "The date to step")->required();
    stepCommand->callback([step, inc, dec] {
        if (inc->count() == 0 && dec->count() == 0) {
            Fail("give --inc UNIT or --dec UNIT");
        }
        RunStep(*step);
    });
}

void TourDates(std::ostream& out)
{
    Heading(out, "Date and time");
    ZCDateTime now;
    now.LoadSystemDateTime();
    out << "now (UTC): " << Utf8(now.FormatDate(kDateTimeMask, TEXT('0'), 0)) << "\n";
    now.LoadLocalDateTime();
    out << "now (local): " << Utf8(now.FormatDate(kDateTimeMask, TEXT('0'), 0)) << "\n";

    ZCDateTime value(5, 3, 2004, 9, 5, 7);
    out << "5 March 2004, 9:05:07 in masks:\n";
    struct Shown
    {
        const char* name;
        const TString* mask;
        WCHAR fill;
    };
    const Shown shown[] = {
        {"DATEMASK_GERMAN, fill '0'", &ZCDateTime::DATEMASK_GERMAN, TEXT('0')},
        {"DATEMASK_GERMAN, fill ' '", &ZCDateTime::DATEMASK_GERMAN, TEXT(' ')},
        {"DATEMASK_AMERICAN", &ZCDateTime::DATEMASK_AMERICAN, TEXT('0')},
        {"DATEMASK_SQL", &ZCDateTime::DATEMASK_SQL, TEXT('0')},
        {"DATEMASK_SORT", &ZCDateTime::DATEMASK_SORT, TEXT('0')},
        {"DATEMASK_D8", &ZCDateTime::DATEMASK_D8, TEXT('0')},
        {"TIMEMASK_T8, fill ' '", &ZCDateTime::TIMEMASK_T8, TEXT(' ')},
        {"TIMEMASK_T5", &ZCDateTime::TIMEMASK_T5, TEXT('0')},
    };
    for (const Shown& s : shown) {
        out << "  " << s.name << " (\"" << Utf8(*s.mask) << "\"): \""
            << Utf8(value.FormatDate(*s.mask, s.fill, 0)) << "\"\n";
    }
    ZCDateTime partial(-1, 3, 2004, -1, -1, -1);
    out << "  an empty day, fill '_': \""
        << Utf8(partial.FormatDate(ZCDateTime::DATEMASK_GERMAN, TEXT('_'), 0)) << "\"\n";
    out << "  month names: " << Utf8(value.MonthName()) << ", " << Utf8(value.ShortMonthName())
        << "\n";

    out << "parsing in DATEMASK_GERMAN with allowEmpty (the time fields are empty):\n";
    for (const WCHAR* text :
         {TEXT("05.03.2004"), TEXT("5.3.2004"), TEXT("005.03.2004"), TEXT("29.02.2003")}) {
        ZCDateTime parsed;
        const unsigned int ok =
            parsed.DateFromFormat(ZCDateTime::DATEMASK_GERMAN, text, TEXT('_'), 1);
        out << "  \"" << Utf8(TString(text)) << "\" -> ";
        if (ok) {
            out << Utf8(parsed.FormatDate(ZCDateTime::DATEMASK_GERMAN, TEXT('0'), 0)) << "\n";
        } else {
            out << "not a valid date\n";
        }
    }
    ZCDateTime twoDigits;
    twoDigits.DateFromFormat(ZCDateTime::DATEMASK_D8, TEXT("05.03.04"), TEXT(' '), 1);
    out << "  \"05.03.04\" in DATEMASK_D8 -> year " << twoDigits.Year()
        << " (two-digit years lie in the 1900s)\n";

    out << "steps:\n";
    ZCDateTime step(31, 12, 2003, 23, 59, 59);
    out << "  " << Utf8(step.FormatDate(kDateTimeMask, TEXT('0'), 0)) << " IncSecond -> ";
    step.IncSecond(0);
    out << Utf8(step.FormatDate(kDateTimeMask, TEXT('0'), 0)) << "\n";
    ZCDateTime month(31, 1, 2004, -1, -1, -1);
    out << "  31.01.2004 IncMonth -> ";
    month.IncMonth(0);
    out << Utf8(month.FormatDate(ZCDateTime::DATEMASK_GERMAN, TEXT('0'), 0)) << "\n";
    ZCDateTime leap(29, 2, 2004, -1, -1, -1);
    out << "  29.02.2004 IncYear -> ";
    leap.IncYear(0);
    out << Utf8(leap.FormatDate(ZCDateTime::DATEMASK_GERMAN, TEXT('0'), 0)) << "\n";
    ZCDateTime from(1, 1, 2000, -1, -1, -1);
    out << "  days from 01.01.2000 to 05.03.2004: " << from.GetDayDiff(value) << "\n";
}

} // namespace ztools
