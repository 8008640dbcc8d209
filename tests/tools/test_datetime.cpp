// ZCDateTime: fields and their acceptance rules, calendar steps, counts, formatting
// through masks, month names, parsing and the whole-value tests.
#include "testsupport.h"

#include <zanth/datetime.h>

#include <initializer_list>
#include <string>
#include <vector>

// Reaches the private helpers of ZCDateTime (declared a friend by the class).
struct ZCDateTimeTestAccess
{
    static void CatchEmptysInNumber(ZCDateTime& value, TString& text, unsigned short fill)
    {
        value.CatchEmptysInNumber(text, fill);
    }
    static void CheckForEmpty(ZCDateTime& value, TString& out, unsigned short fill, LONG number,
                              LONG width)
    {
        value.CheckForEmpty(out, fill, number, width, 0);
    }
    static LONG FindMonthNameShort(ZCDateTime& value, TString& text, LONG& month)
    {
        return value.FindMonthNameShort(text, month);
    }
    static LONG FindMonthNameLong(ZCDateTime& value, TString& text, LONG& month)
    {
        return value.FindMonthNameLong(text, month);
    }
    static void MakeValidDay(ZCDateTime& value, unsigned int allowEmpty)
    {
        value.MakeValidDay(allowEmpty);
    }
    static unsigned int ValidDateHelper(ZCDateTime& value, const TString& format, TString& text,
                                        unsigned short fill, LONG (&f)[6], unsigned int allowEmpty)
    {
        return value.ValidDateHelper(format, text, fill, f[0], f[1], f[2], f[3], f[4], f[5],
                                     allowEmpty);
    }
};

namespace {

constexpr LONG E = -1; // empty

struct Fields
{
    LONG day, month, year, hour, minute, second;
};

Fields Of(const ZCDateTime& value)
{
    return {value.Day(), value.Month(), value.Year(), value.Hour(), value.Minute(), value.Second()};
}

ZCDateTime Make(const Fields& f)
{
    return ZCDateTime(f.day, f.month, f.year, f.hour, f.minute, f.second);
}

std::string Show(const Fields& f)
{
    return std::to_string(f.day) + "." + std::to_string(f.month) + "." + std::to_string(f.year) +
           " " + std::to_string(f.hour) + ":" + std::to_string(f.minute) + ":" +
           std::to_string(f.second);
}

#define EXPECT_FIELDS(value, ...)                                                                  \
    do {                                                                                           \
        const Fields want_{__VA_ARGS__};                                                           \
        EXPECT_EQ(Show(Of(value)), Show(want_));                                                   \
    } while (0)

std::string Utf8(const TString& text)
{
    return text.AsAnsi();
}

} // namespace

// ---------------------------------------------------------------------------------
// The value

TEST(DateTimeValue, ConstructionAndCopying)
{
    ZCDateTime empty;
    EXPECT_FIELDS(empty, E, E, E, E, E, E);
    EXPECT_EQ(empty.Day(), -1);

    // The six-value constructor takes anything, even out-of-range values.
    ZCDateTime raw(45, 13, 12345, 24, 60, -7);
    EXPECT_FIELDS(raw, 45, 13, 12345, 24, 60, -7);

    ZCDateTime copy(raw);
    EXPECT_FIELDS(copy, 45, 13, 12345, 24, 60, -7);
    ZCDateTime assigned;
    assigned = ZCDateTime(5, 3, 2004, 9, 5, 7);
    EXPECT_FIELDS(assigned, 5, 3, 2004, 9, 5, 7);
    copy.IncDay(0);
    EXPECT_FIELDS(raw, 45, 13, 12345, 24, 60, -7); // copies are independent
}

TEST(DateTimeValue, FromSystemTime)
{
    SYSTEMTIME st{};
    st.wYear = 2004;
    st.wMonth = 2;
    st.wDay = 29;
    st.wHour = 23;
    st.wMinute = 59;
    st.wSecond = 58;
    EXPECT_FIELDS(ZCDateTime(st), 29, 2, 2004, 23, 59, 58);

    // Out-of-range members leave their fields empty; the day is judged against the
    // month and year that were taken.
    struct Case
    {
        WORD year, month, day, hour, minute, second;
        Fields want;
    };
    const Case cases[] = {
        {2003, 2, 29, 24, 60, 60, {E, 2, 2003, E, E, E}},
        {10000, 2, 29, 0, 0, 0, {29, 2, E, 0, 0, 0}},          // empty year: February has 29
        {2004, 13, 31, 12, 30, 15, {31, E, 2004, 12, 30, 15}}, // empty month: 31
        {2004, 0, 32, 12, 30, 15, {E, E, 2004, 12, 30, 15}},
        {2004, 4, 0, 0, 0, 0, {E, 4, 2004, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SYSTEMTIME t{};
        t.wYear = c.year;
        t.wMonth = c.month;
        t.wDay = c.day;
        t.wHour = c.hour;
        t.wMinute = c.minute;
        t.wSecond = c.second;
        EXPECT_EQ(Show(Of(ZCDateTime(t))), Show(c.want))
            << c.year << "-" << c.month << "-" << c.day;
    }
}

TEST(DateTimeValue, FieldSetters)
{
    enum Field
    {
        Day,
        Month,
        MonthType,
        Year,
        Hour,
        Minute,
        Second
    };
    struct Case
    {
        Field field;
        Fields start;
        LONG value;
        unsigned int allowEmpty;
        unsigned int accepted;
    };
    const Fields none{E, E, E, E, E, E};
    const Case cases[] = {
        {Day, none, 31, 0, 1},                  // empty month: up to 31
        {Day, none, 32, 0, 0},                  //
        {Day, {1, 2, 2003, E, E, E}, 29, 0, 0}, // common year
        {Day, {1, 2, 2004, E, E, E}, 29, 0, 1}, // leap year
        {Day, {1, 2, E, E, E, E}, 29, 0, 1},    // February without a year
        {Day, {1, 2, E, E, E, E}, 30, 0, 0},
        {Day, {1, 2, -5, E, E, E}, 29, 0, 1}, // negative year: 29
        {Day, {1, 4, 2004, E, E, E}, 30, 0, 1},
        {Day, {1, 4, 2004, E, E, E}, 31, 0, 0},
        {Day, {1, 13, 2004, E, E, E}, 1, 0, 0}, // a month that does not exist
        {Day, {1, 0, 2004, E, E, E}, 1, 0, 0},
        {Day, none, 0, 1, 0},  // 0 is never a day
        {Day, none, -1, 1, 1}, // with allowEmpty any value below 1 except 0
        {Day, none, -7, 1, 1},
        {Day, none, -1, 0, 0},
        {Month, none, 1, 0, 1},
        {Month, none, 12, 0, 1},
        {Month, none, 13, 0, 0},
        {Month, none, 0, 1, 0},
        {Month, none, -1, 0, 0},
        {Month, none, -1, 1, 1},
        {Month, none, -2, 1, 0},
        {MonthType, none, 12, 0, 1},
        {MonthType, none, -1, 0, 0},
        {MonthType, none, -1, 1, 1},
        {Year, none, 0, 0, 1},
        {Year, none, 9999, 0, 1},
        {Year, none, 10000, 0, 0},
        {Year, none, -1, 0, 0},
        {Year, none, -1, 1, 1},
        {Hour, none, 0, 0, 1},
        {Hour, none, 23, 0, 1},
        {Hour, none, 24, 0, 0},
        {Hour, none, -1, 1, 1},
        {Minute, none, 59, 0, 1},
        {Minute, none, 60, 0, 0},
        {Minute, none, -1, 0, 0},
        {Second, none, 59, 0, 1},
        {Second, none, 60, 1, 0},
        {Second, none, -1, 1, 1},
    };
    for (const Case& c : cases) {
        ZCDateTime value = Make(c.start);
        if (c.field != Day && c.field != Month && c.field != MonthType && c.field != Year) {
            value = ZCDateTime(E, E, E, 7, 7, 7); // so that storing -1 shows
        }
        const Fields before = Of(value);
        unsigned int result = 0;
        LONG stored = 0;
        switch (c.field) {
        case Day:
            result = value.Day(c.value, c.allowEmpty);
            stored = value.Day();
            break;
        case Month:
            result = value.Month(c.value, c.allowEmpty);
            stored = value.Month();
            break;
        case MonthType:
            result = value.MonthType(static_cast<ZCDateTime::TMonthName>(c.value), c.allowEmpty);
            stored = value.MonthType();
            break;
        case Year:
            result = value.Year(c.value, c.allowEmpty);
            stored = value.Year();
            break;
        case Hour:
            result = value.Hour(c.value, c.allowEmpty);
            stored = value.Hour();
            break;
        case Minute:
            result = value.Minute(c.value, c.allowEmpty);
            stored = value.Minute();
            break;
        case Second:
            result = value.Second(c.value, c.allowEmpty);
            stored = value.Second();
            break;
        }
        SCOPED_TRACE("field " + std::to_string(c.field) + " value " + std::to_string(c.value) +
                     " allowEmpty " + std::to_string(c.allowEmpty) + " on " + Show(before));
        EXPECT_EQ(result, c.accepted);
        if (c.accepted) {
            EXPECT_EQ(stored, c.value);
        } else {
            EXPECT_EQ(Show(Of(value)), Show(before)); // a refusal changes nothing
        }
    }

    // Setting the month or the year never adjusts the day.
    ZCDateTime value(31, 1, 2003, E, E, E);
    EXPECT_EQ(value.Month(2, 0), 1u);
    EXPECT_EQ(value.Year(2004, 0), 1u);
    EXPECT_FIELDS(value, 31, 2, 2004, E, E, E);
}

TEST(DateTimeValue, WholeDate)
{
    struct Case
    {
        Fields start;
        LONG day, month, year;
        unsigned int allowEmpty;
        Fields want;
    };
    const Fields was{1, 1, 1999, E, E, E};
    const Case cases[] = {
        // All or nothing without allowEmpty.
        {was, 31, 4, 2004, 0, {1, 1, 1999, E, E, E}},
        {was, 30, 4, 2004, 0, {30, 4, 2004, E, E, E}},
        {was, 29, 2, 2003, 0, {1, 1, 1999, E, E, E}},
        {was, 29, 2, 2004, 0, {29, 2, 2004, E, E, E}},
        {was, 29, 2, 2000, 0, {29, 2, 2000, E, E, E}},
        {was, 29, 2, 1900, 0, {1, 1, 1999, E, E, E}},
        {was, 28, 2, 1900, 0, {28, 2, 1900, E, E, E}},
        {was, 5, 3, -1, 0, {1, 1, 1999, E, E, E}}, // an empty part refuses the whole
        {was, 5, -1, 2004, 0, {1, 1, 1999, E, E, E}},
        {was, -1, 3, 2004, 0, {1, 1, 1999, E, E, E}},
        {was, 5, 13, 2004, 0, {1, 1, 1999, E, E, E}},
        {was, 5, 3, 10000, 0, {1, 1, 1999, E, E, E}},
        {was, 1, 1, 0, 0, {1, 1, 0, E, E, E}},
        // Field by field with allowEmpty: year, then month, then the day against both.
        {was, 31, 4, 2004, 1, {1, 4, 2004, E, E, E}},
        {was, 29, 2, 2003, 1, {1, 2, 2003, E, E, E}},
        {was, -1, -1, -1, 1, {E, E, E, E, E, E}},
        {was, 31, 13, 10000, 1, {31, 1, 1999, E, E, E}},
        {was, 0, 6, 2004, 1, {1, 6, 2004, E, E, E}},
        {{31, 1, 2004, E, E, E}, 29, -1, -1, 1, {29, E, E, E, E, E}},
    };
    for (const Case& c : cases) {
        ZCDateTime value = Make(c.start);
        value.Date(c.day, c.month, c.year, c.allowEmpty);
        EXPECT_EQ(Show(Of(value)), Show(c.want))
            << "Date(" << c.day << ", " << c.month << ", " << c.year << ", " << c.allowEmpty << ")";
    }
}

TEST(DateTimeValue, WholeTime)
{
    struct Case
    {
        LONG hour, minute, second;
        unsigned int allowEmpty;
        Fields want;
    };
    const Case cases[] = {
        {25, 30, 10, 0, {E, E, E, 1, 30, 10}}, // a refused value does not stop the others
        {23, 59, 59, 0, {E, E, E, 23, 59, 59}}, {0, 60, 0, 0, {E, E, E, 0, 2, 0}},
        {-1, -1, -1, 0, {E, E, E, 1, 2, 3}},    {-1, -1, -1, 1, {E, E, E, E, E, E}},
        {-2, 61, -1, 1, {E, E, E, 1, 2, E}},
    };
    for (const Case& c : cases) {
        ZCDateTime value(E, E, E, 1, 2, 3);
        value.Time(c.hour, c.minute, c.second, c.allowEmpty);
        EXPECT_EQ(Show(Of(value)), Show(c.want))
            << "Time(" << c.hour << ", " << c.minute << ", " << c.second << ")";
    }
}

TEST(DateTimeValue, ClockLoaders)
{
    // The date may roll over while the test runs: accept the clock before or after.
    auto within = [](const ZCDateTime& value, const SYSTEMTIME& a, const SYSTEMTIME& b) {
        const ZCDateTime before(a), after(b);
        return (Of(value).day == before.Day() || Of(value).day == after.Day()) &&
               (value.Year() == before.Year() || value.Year() == after.Year());
    };
    SYSTEMTIME a, b;
    ZCDateTime utc;
    ::GetSystemTime(&a);
    utc.LoadSystemDateTime();
    ::GetSystemTime(&b);
    EXPECT_TRUE(within(utc, a, b));
    EXPECT_TRUE(utc.IsValidDateTime(utc.Day(), utc.Month(), utc.Year(), utc.Hour(), utc.Minute(),
                                    utc.Second(), 0));

    ZCDateTime local;
    ::GetLocalTime(&a);
    local.LoadLocalDateTime();
    ::GetLocalTime(&b);
    EXPECT_TRUE(within(local, a, b));

    // The partial loaders take only their part.
    ZCDateTime dateOnly;
    dateOnly.LoadSystemDate();
    EXPECT_NE(dateOnly.Year(), E);
    EXPECT_EQ(dateOnly.Hour(), E);
    EXPECT_EQ(dateOnly.Second(), E);
    ZCDateTime timeOnly;
    timeOnly.LoadLocalTime();
    EXPECT_EQ(timeOnly.Day(), E);
    EXPECT_EQ(timeOnly.Year(), E);
    EXPECT_NE(timeOnly.Hour(), E);
    EXPECT_NE(timeOnly.Second(), E);
    ZCDateTime localDate, systemTime;
    localDate.LoadLocalDate();
    systemTime.LoadSystemTime();
    EXPECT_NE(localDate.Month(), E);
    EXPECT_EQ(localDate.Minute(), E);
    EXPECT_EQ(systemTime.Month(), E);
    EXPECT_NE(systemTime.Minute(), E);
}

TEST(DateTimeValue, LeapYearsAndDayTest)
{
    ZCDateTime value;
    for (LONG year : {2000, 2004, 1600, 0, 4, -4, -400, 9996}) {
        EXPECT_EQ(value.IsLeapYear(year), 1u) << year;
    }
    for (LONG year : {1900, 2003, 2100, 1, -1, -100, 9999}) {
        EXPECT_EQ(value.IsLeapYear(year), 0u) << year;
    }
    // IsValidDay takes the month first and the year of the value itself.
    ZCDateTime y2003(E, E, 2003, E, E, E), y2004(E, E, 2004, E, E, E);
    EXPECT_EQ(y2003.IsValidDay(2, 29, 0), 0u);
    EXPECT_EQ(y2004.IsValidDay(2, 29, 0), 1u);
    EXPECT_EQ(y2004.IsValidDay(29, 2, 0), 0u); // month 29 does not exist
    EXPECT_EQ(y2004.IsValidDay(-1, 31, 0), 1u);
    EXPECT_EQ(y2004.IsValidDay(12, 31, 0), 1u);
    EXPECT_EQ(y2004.IsValidDay(11, 31, 0), 0u);
}

// ---------------------------------------------------------------------------------
// Steps

namespace {

enum Step
{
    IncDay,
    DecDay,
    IncMonth,
    DecMonth,
    IncYear,
    DecYear,
    IncHour,
    DecHour,
    IncMinute,
    DecMinute,
    IncSecond,
    DecSecond
};

const char* const kStepNames[] = {"IncDay",    "DecDay",    "IncMonth",  "DecMonth",
                                  "IncYear",   "DecYear",   "IncHour",   "DecHour",
                                  "IncMinute", "DecMinute", "IncSecond", "DecSecond"};

LONG RunStep(ZCDateTime& value, Step step, unsigned int allowEmpty)
{
    switch (step) {
    case IncDay:
        return value.IncDay(allowEmpty);
    case DecDay:
        return value.DecDay(allowEmpty);
    case IncMonth:
        return value.IncMonth(allowEmpty);
    case DecMonth:
        return value.DecMonth(allowEmpty);
    case IncYear:
        return value.IncYear(allowEmpty);
    case DecYear:
        return value.DecYear(allowEmpty);
    case IncHour:
        return value.IncHour(allowEmpty);
    case DecHour:
        return value.DecHour(allowEmpty);
    case IncMinute:
        return value.IncMinute(allowEmpty);
    case DecMinute:
        return value.DecMinute(allowEmpty);
    case IncSecond:
        return value.IncSecond(allowEmpty);
    case DecSecond:
        return value.DecSecond(allowEmpty);
    }
    return 0;
}

struct StepCase
{
    Fields start;
    Step step;
    unsigned int allowEmpty;
    Fields want;
    LONG result;
};

void CheckSteps(const std::vector<StepCase>& cases)
{
    for (const StepCase& c : cases) {
        ZCDateTime value = Make(c.start);
        const LONG result = RunStep(value, c.step, c.allowEmpty);
        SCOPED_TRACE(std::string(kStepNames[c.step]) + "(" + std::to_string(c.allowEmpty) +
                     ") on " + Show(c.start));
        EXPECT_EQ(Show(Of(value)), Show(c.want));
        EXPECT_EQ(result, c.result);
    }
}

} // namespace

TEST(DateTimeSteps, DaysMonthsYears)
{
    CheckSteps({
        // IncDay: the next day, or the first of the next month (and year).
        {{5, 3, 2004, 9, 8, 7}, IncDay, 0, {6, 3, 2004, 9, 8, 7}, 6},
        {{31, 12, 2003, E, E, E}, IncDay, 0, {1, 1, 2004, E, E, E}, 1},
        {{28, 2, 2004, E, E, E}, IncDay, 0, {29, 2, 2004, E, E, E}, 29},
        {{28, 2, 2003, E, E, E}, IncDay, 0, {1, 3, 2003, E, E, E}, 1},
        {{28, 2, 1900, E, E, E}, IncDay, 0, {1, 3, 1900, E, E, E}, 1},
        {{28, 2, 2000, E, E, E}, IncDay, 0, {29, 2, 2000, E, E, E}, 29},
        {{29, 2, 2000, E, E, E}, IncDay, 0, {1, 3, 2000, E, E, E}, 1},
        {{30, 4, 2004, E, E, E}, IncDay, 0, {1, 5, 2004, E, E, E}, 1},
        {{31, 12, 9999, E, E, E}, IncDay, 0, {1, 1, 10000, E, E, E}, 1}, // no upper limit
        {{31, 12, E, E, E, E}, IncDay, 0, {1, 1, 1, E, E, E}, 1},      // an empty year counts as 0
        {{31, E, 2004, E, E, E}, IncDay, 0, {1, 1, 2004, E, E, E}, 1}, // an empty month: to 1
        {{E, 5, 2004, E, E, E}, IncDay, 0, {1, 6, 2004, E, E, E}, 1},  // an empty day: next month
        {{E, 5, 2004, E, E, E}, IncDay, 1, {1, 6, 2004, E, E, E}, 1},
        {{-5, 5, 2004, E, E, E}, IncDay, 1, {-4, 5, 2004, E, E, E}, -4},
        // DecDay: the previous day, or the last of the previous month (and year).
        {{5, 3, 2004, E, E, E}, DecDay, 0, {4, 3, 2004, E, E, E}, 4},
        {{1, 3, 2003, E, E, E}, DecDay, 0, {28, 2, 2003, E, E, E}, 28},
        {{1, 3, 2004, E, E, E}, DecDay, 0, {29, 2, 2004, E, E, E}, 29},
        {{1, 3, 1900, E, E, E}, DecDay, 0, {28, 2, 1900, E, E, E}, 28},
        {{1, 3, 2000, E, E, E}, DecDay, 0, {29, 2, 2000, E, E, E}, 29},
        {{1, 5, 2004, E, E, E}, DecDay, 0, {30, 4, 2004, E, E, E}, 30},
        {{1, 1, 2004, E, E, E}, DecDay, 0, {31, 12, 2003, E, E, E}, 31},
        {{1, 1, 1, E, E, E}, DecDay, 0, {31, 12, 1, E, E, E}, 31},
        {{1, 1, 0, E, E, E}, DecDay, 0, {31, 12, 0, E, E, E}, 31},
        {{1, 3, E, E, E, E}, DecDay, 0, {29, 2, E, E, E, E}, 29},
        {{1, E, 2004, E, E, E}, DecDay, 0, {31, E, 2004, E, E, E}, 31},
        {{E, 3, 2004, E, E, E}, DecDay, 0, {29, 2, 2004, E, E, E}, 29},
        {{E, 3, 2004, E, E, E}, DecDay, 1, {-2, 3, 2004, E, E, E}, -2},
        // IncMonth: the next month with the day made to fit; December carries to
        // the 1st of January.
        {{31, 1, 2003, E, E, E}, IncMonth, 0, {28, 2, 2003, E, E, E}, 2},
        {{31, 1, 2004, E, E, E}, IncMonth, 0, {29, 2, 2004, E, E, E}, 2},
        {{31, 1, 1900, E, E, E}, IncMonth, 0, {28, 2, 1900, E, E, E}, 2},
        {{31, 1, 2000, E, E, E}, IncMonth, 0, {29, 2, 2000, E, E, E}, 2},
        {{31, 3, 2004, E, E, E}, IncMonth, 0, {30, 4, 2004, E, E, E}, 4},
        {{15, 3, 2004, E, E, E}, IncMonth, 0, {15, 4, 2004, E, E, E}, 4},
        {{15, 12, 2003, E, E, E}, IncMonth, 0, {1, 1, 2004, E, E, E}, 1},
        {{15, 12, E, E, E, E}, IncMonth, 0, {1, 1, 1, E, E, E}, 1},
        {{31, E, 2004, E, E, E}, IncMonth, 0, {31, 1, 2004, E, E, E}, 1},
        {{E, 4, 2004, E, E, E}, IncMonth, 0, {E, 5, 2004, E, E, E}, 5},
        // DecMonth: the previous month with the day made to fit; January borrows
        // the 31st of December.
        {{31, 3, 2004, E, E, E}, DecMonth, 0, {29, 2, 2004, E, E, E}, 2},
        {{31, 3, 2003, E, E, E}, DecMonth, 0, {28, 2, 2003, E, E, E}, 2},
        {{31, 5, 2004, E, E, E}, DecMonth, 0, {30, 4, 2004, E, E, E}, 4},
        {{15, 1, 2004, E, E, E}, DecMonth, 0, {31, 12, 2003, E, E, E}, 12},
        {{1, 1, 1, E, E, E}, DecMonth, 0, {31, 12, 1, E, E, E}, 12},
        {{15, E, 2004, E, E, E}, DecMonth, 0, {15, E, 2004, E, E, E}, E},
        // IncYear and DecYear make the day fit; DecYear stops at year 1.
        {{29, 2, 2004, E, E, E}, IncYear, 0, {28, 2, 2005, E, E, E}, 2005},
        {{29, 2, 1999, E, E, E}, IncYear, 0, {29, 2, 2000, E, E, E}, 2000},
        {{29, 2, 1899, E, E, E}, IncYear, 0, {28, 2, 1900, E, E, E}, 1900},
        {{29, 2, E, E, E, E}, IncYear, 0, {28, 2, 1, E, E, E}, 1},
        {{1, 1, 9999, E, E, E}, IncYear, 0, {1, 1, 10000, E, E, E}, 10000},
        {{29, 2, 2004, E, E, E}, DecYear, 0, {28, 2, 2003, E, E, E}, 2003},
        {{29, 2, 2001, E, E, E}, DecYear, 0, {29, 2, 2000, E, E, E}, 2000},
        {{5, 3, 1, E, E, E}, DecYear, 0, {5, 3, 1, E, E, E}, 1},
        {{5, 3, 0, E, E, E}, DecYear, 0, {5, 3, 0, E, E, E}, 0},
        {{5, 3, E, E, E, E}, DecYear, 0, {5, 3, E, E, E, E}, E},
    });
}

TEST(DateTimeSteps, HoursMinutesSeconds)
{
    CheckSteps({
        {{5, 3, 2004, 22, 10, 5}, IncHour, 0, {5, 3, 2004, 23, 10, 5}, 23},
        {{31, 12, 2003, 23, 10, 5}, IncHour, 0, {1, 1, 2004, 0, 0, 0}, 0},
        {{28, 2, 2004, 23, 10, 5}, IncHour, 0, {29, 2, 2004, 0, 0, 0}, 0},
        {{28, 2, 2003, 23, 10, 5}, IncHour, 0, {1, 3, 2003, 0, 0, 0}, 0},
        {{5, 3, 2004, 24, 10, 5}, IncHour, 0, {6, 3, 2004, 0, 0, 0}, 0}, // past 23
        {{5, 3, 2004, E, 10, 5}, IncHour, 0, {5, 3, 2004, E, 10, 5}, E},
        {{5, 3, 2004, 1, 10, 5}, DecHour, 0, {5, 3, 2004, 0, 10, 5}, 0},
        {{1, 3, 2003, 0, 10, 5}, DecHour, 0, {28, 2, 2003, 23, 59, 59}, 23},
        {{1, 3, 2004, 0, 10, 5}, DecHour, 0, {29, 2, 2004, 23, 59, 59}, 23},
        {{1, 1, 2004, 0, 10, 5}, DecHour, 0, {31, 12, 2003, 23, 59, 59}, 23},
        {{5, 3, 2004, E, 10, 5}, DecHour, 0, {5, 3, 2004, E, 10, 5}, E},

        {{5, 3, 2004, 10, 58, 5}, IncMinute, 0, {5, 3, 2004, 10, 59, 5}, 59},
        {{5, 3, 2004, 10, E, 5}, IncMinute, 0, {5, 3, 2004, 10, 0, 5}, 0},
        {{5, 3, 2004, 10, 59, 5}, IncMinute, 0, {5, 3, 2004, 11, 0, 0}, 0},
        {{5, 3, 2004, E, 59, 5}, IncMinute, 0, {5, 3, 2004, E, 0, 0}, 0},
        {{31, 12, 2003, 23, 59, 5}, IncMinute, 0, {1, 1, 2004, 0, 0, 0}, 0},
        {{5, 3, 2004, 10, 1, 5}, DecMinute, 0, {5, 3, 2004, 10, 0, 5}, 0},
        {{5, 3, 2004, 10, E, 5}, DecMinute, 0, {5, 3, 2004, 10, E, 5}, E},
        {{5, 3, 2004, 10, 0, 5}, DecMinute, 0, {5, 3, 2004, 9, 59, 59}, 59},
        {{5, 3, 2004, E, 0, 5}, DecMinute, 0, {5, 3, 2004, E, 59, 59}, 59},
        {{1, 1, 2004, 0, 0, 5}, DecMinute, 0, {31, 12, 2003, 23, 59, 59}, 59},

        {{5, 3, 2004, 10, 10, 58}, IncSecond, 0, {5, 3, 2004, 10, 10, 59}, 59},
        {{5, 3, 2004, 10, 10, E}, IncSecond, 0, {5, 3, 2004, 10, 10, 0}, 0},
        {{5, 3, 2004, 10, 10, 59}, IncSecond, 0, {5, 3, 2004, 10, 11, 0}, 0},
        {{5, 3, 2004, 10, E, 59}, IncSecond, 0, {5, 3, 2004, 10, 0, 0}, 0},
        {{5, 3, 2004, 10, 59, 59}, IncSecond, 0, {5, 3, 2004, 11, 0, 0}, 0},
        {{5, 3, 2004, E, 59, 59}, IncSecond, 0, {5, 3, 2004, E, 0, 0}, 0},
        {{31, 12, 2003, 23, 59, 59}, IncSecond, 0, {1, 1, 2004, 0, 0, 0}, 0},
        {{28, 2, 2004, 23, 59, 59}, IncSecond, 0, {29, 2, 2004, 0, 0, 0}, 0},
        {{5, 3, 2004, 10, 10, 1}, DecSecond, 0, {5, 3, 2004, 10, 10, 0}, 0},
        {{5, 3, 2004, 10, 10, E}, DecSecond, 0, {5, 3, 2004, 10, 10, E}, E},
        {{5, 3, 2004, 10, 10, 0}, DecSecond, 0, {5, 3, 2004, 10, 9, 59}, 59},
        {{5, 3, 2004, 10, E, 0}, DecSecond, 0, {5, 3, 2004, 10, E, 59}, 59},
        {{5, 3, 2004, 10, 0, 0}, DecSecond, 0, {5, 3, 2004, 9, 59, 59}, 59},
        {{5, 3, 2004, E, 0, 0}, DecSecond, 0, {5, 3, 2004, E, 59, 59}, 59},
        {{1, 1, 2004, 0, 0, 0}, DecSecond, 0, {31, 12, 2003, 23, 59, 59}, 59},
        {{1, 3, 2000, 0, 0, 0}, DecSecond, 0, {29, 2, 2000, 23, 59, 59}, 59},
        {{1, 3, 1900, 0, 0, 0}, DecSecond, 0, {28, 2, 1900, 23, 59, 59}, 59},
    });
}

TEST(DateTimeSteps, MakeValidDay)
{
    struct Case
    {
        Fields start;
        LONG want;
    };
    const Case cases[] = {
        {{31, 4, 2004, E, E, E}, 30},         {{29, 2, 2003, E, E, E}, 28},
        {{29, 2, 2004, E, E, E}, 29},         {{-3, 2, 2003, E, E, E}, -3},
        {{31, 13, 2004, E, E, E}, 0}, // no day fits a month that does not exist
        {{2000000000, 1, 2004, E, E, E}, 31},
    };
    for (const Case& c : cases) {
        ZCDateTime value = Make(c.start);
        ZCDateTimeTestAccess::MakeValidDay(value, 0);
        EXPECT_EQ(value.Day(), c.want) << Show(c.start);
    }
}

TEST(DateTimeSteps, ExtremeRawValuesStaySafe)
{
    // The six-value constructor can store anything; the steps must neither overflow
    // nor loop for long on such values.
    for (int step = IncDay; step <= DecSecond; ++step) {
        for (LONG v : std::initializer_list<LONG>{std::numeric_limits<LONG>::max(),
                                                  std::numeric_limits<LONG>::min(), 0, -2, 100}) {
            ZCDateTime value(v, v, v, v, v, v);
            RunStep(value, static_cast<Step>(step), 0);
            RunStep(value, static_cast<Step>(step), 1);
            ZCDateTime other(v, v, v, v, v, v);
            value.GetMinDiff(other);
            value.FormatDate(TEXT("%d.%m.%Y %y %H:%I:%M:%S"), TEXT(' '), 0);
        }
    }
}

// ---------------------------------------------------------------------------------
// Comparison and counts

TEST(DateTimeValue, EqualityIgnoresMinuteAndSecond)
{
    EXPECT_EQ(ZCDateTime(5, 3, 2004, 10, 15, 0) == ZCDateTime(5, 3, 2004, 10, 45, 30), 1u);
    EXPECT_EQ(ZCDateTime(5, 3, 2004, 10, 15, 0) == ZCDateTime(5, 3, 2004, 11, 15, 0), 0u);
    EXPECT_EQ(ZCDateTime(5, 3, 2004, 10, 15, 0) == ZCDateTime(6, 3, 2004, 10, 15, 0), 0u);
    EXPECT_EQ(ZCDateTime(5, 3, 2004, 10, 15, 0) == ZCDateTime(5, 4, 2004, 10, 15, 0), 0u);
    EXPECT_EQ(ZCDateTime(5, 3, 2004, 10, 15, 0) == ZCDateTime(5, 3, 2005, 10, 15, 0), 0u);
    EXPECT_EQ(ZCDateTime() == ZCDateTime(), 1u);
}

TEST(DateTimeValue, CountsFrom1980)
{
    struct Case
    {
        Fields value;
        LONGLONG days, hours, minutes;
    };
    const Case cases[] = {
        {{1, 1, 1980, 0, 0, 0}, 0, 0, 0},
        {{31, 12, 1979, 23, 59, 0}, 0, 23, 23 * 60 + 59}, // every earlier date counts 0
        {{5, 3, 1, 0, 0, 0}, 0, 0, 0},
        {{E, E, E, E, E, E}, 0, -1, -61},
        {{2, 1, 1980, 1, 30, 0}, 1, 25, 25 * 60 + 30},
        {{1, 3, 1980, 0, 0, 0}, 60, 60 * 24, 60 * 24 * 60}, // 1980 is a leap year
        {{1, 1, 1981, 0, 0, 0}, 366, 366 * 24, 366 * 24 * 60},
        {{1, 1, 2000, 12, 0, 0}, 7305, 7305 * 24 + 12, (7305 * 24 + 12) * 60},
        {{5, 3, 2004, E, E, E}, 8830, 8830 * 24 - 1, (8830 * 24 - 1) * 60 - 1},
        {{E, E, 1981, 0, 0, 0}, 366, 366 * 24, 366 * 24 * 60}, // empty day and month: 1 Jan
        {{31, 12, 9999, 23, 59, 59}, 2929244, 2929244LL * 24 + 23, (2929244LL * 24 + 23) * 60 + 59},
    };
    for (const Case& c : cases) {
        const ZCDateTime value = Make(c.value);
        EXPECT_EQ(value.GetDaysFrom1980(), c.days) << Show(c.value);
        EXPECT_EQ(value.GetHoursFrom1980(), c.hours) << Show(c.value);
        EXPECT_EQ(value.GetMinsFrom1980(), c.minutes) << Show(c.value);
    }

    ZCDateTime a(5, 3, 2004, 10, 15, 0), b(1, 1, 2004, 12, 0, 30);
    EXPECT_EQ(a.GetDayDiff(b), 64);
    EXPECT_EQ(b.GetDayDiff(a), 64);
    EXPECT_EQ(a.GetHourDiff(b), 64 * 24 - 2);
    EXPECT_EQ(b.GetHourDiff(a), 64 * 24 - 2);
    EXPECT_EQ(a.GetMinDiff(b), (64 * 24 - 2) * 60 + 15);
    EXPECT_EQ(b.GetMinDiff(a), (64 * 24 - 2) * 60 + 15);
    EXPECT_EQ(a.GetDayDiff(a), 0);

    // Consecutive days count one apart across every month and leap-year boundary.
    ZCDateTime day(1, 1, 1980, E, E, E);
    for (LONGLONG n = 0; n < 50000; ++n) {
        ASSERT_EQ(day.GetDaysFrom1980(), n) << Show(Of(day));
        day.IncDay(0);
    }
}

TEST(DateTimeValue, CountDigits)
{
    struct Case
    {
        LONG n, digits;
    };
    const Case cases[] = {
        {0, 1},
        {9, 1},
        {10, 1},
        {11, 2},
        {100, 2},
        {101, 3},
        {-100, 2},
        {-101, 3},
        {1000, 3},
        {1001, 4},
        {999999999, 9},
        {1000000000, 9},
        {1000000001, 10},
        {std::numeric_limits<LONG>::max(), 10},
        {std::numeric_limits<LONG>::min(), 10},
    };
    ZCDateTime value;
    for (const Case& c : cases) {
        EXPECT_EQ(value.CountDigits(c.n), c.digits) << c.n;
    }
}

// ---------------------------------------------------------------------------------
// Formatting

TEST(DateTimeFormat, Masks)
{
    EXPECT_EQ(ZCDateTime::DATEMASK_GERMAN, TEXT("%d.%m.%Y"));
    EXPECT_EQ(ZCDateTime::DATEMASK_ENGLISH, TEXT("%d\\%m\\%Y"));
    EXPECT_EQ(ZCDateTime::DATEMASK_AMERICAN, TEXT("%m\\%d\\%Y"));
    EXPECT_EQ(ZCDateTime::DATEMASK_SQL, TEXT("%Y-%m-%d"));
    EXPECT_EQ(ZCDateTime::DATEMASK_SORT, TEXT("%Y%m%d"));
    EXPECT_EQ(ZCDateTime::DATEMASK_D10, TEXT("%d.%m.%Y"));
    EXPECT_EQ(ZCDateTime::DATEMASK_D8, TEXT("%d.%m.%y"));
    EXPECT_EQ(ZCDateTime::TIMEMASK_T8, TEXT("%H:%M:%S"));
    EXPECT_EQ(ZCDateTime::TIMEMASK_T5, TEXT("%H:%M"));
    EXPECT_EQ(ZCDateTime::TIMEMASK_STANDARD, TEXT("%H:%M:%S"));
}

TEST(DateTimeFormat, FormatDate)
{
    struct Case
    {
        Fields value;
        const WCHAR* mask;
        WCHAR fill;
        const WCHAR* want;
    };
    const Fields date{5, 3, 2004, 9, 5, 7};
    const Fields none{E, E, E, E, E, E};
    const Case cases[] = {
        {date, TEXT("%d.%m.%Y"), TEXT('0'), TEXT("05.03.2004")},
        {date, TEXT("%d.%m.%Y"), TEXT(' '), TEXT(" 5. 3.2004")},
        {none, TEXT("%d.%m.%Y"), TEXT(' '), TEXT("  .  .    ")},
        {none, TEXT("%d.%m.%Y"), TEXT('_'), TEXT("__.__.____")},
        {{E, 3, 2004, E, E, E}, TEXT("%d.%m.%Y"), TEXT('_'), TEXT("__._3.2004")},
        {date, TEXT("%d\\%m\\%Y"), TEXT('0'), TEXT("05\\03\\2004")},
        {date, TEXT("%m\\%d\\%Y"), TEXT('0'), TEXT("03\\05\\2004")},
        {date, TEXT("%Y-%m-%d"), TEXT('0'), TEXT("2004-03-05")},
        {date, TEXT("%Y%m%d"), TEXT('0'), TEXT("20040305")},
        {{31, 12, 2005, E, E, E}, TEXT("%d.%m.%y"), TEXT('0'), TEXT("31.12.05")},
        {{1, 1, 1999, E, E, E}, TEXT("%d.%m.%y"), TEXT(' '), TEXT(" 1. 1.99")},
        {{1, 1, 2000, E, E, E}, TEXT("%d.%m.%y"), TEXT('0'), TEXT("01.01.00")},
        {{1, 1, 5, E, E, E}, TEXT("%d.%m.%Y"), TEXT('0'), TEXT("01.01.0005")},
        {{1, 1, 10000, E, E, E},
         TEXT("%d.%m.%Y"),
         TEXT('0'),
         TEXT("01.01.10000")}, // written in full
        {{1, 1, 10000, E, E, E}, TEXT("%y"), TEXT('0'), TEXT("00")},
        {{1, 1, -2005, E, E, E}, TEXT("%y|%Y"), TEXT('0'), TEXT("-5|-2005")}, // signed remainder
        {date, TEXT("%H:%M:%S"), TEXT(' '), TEXT(" 9:05:07")},
        {date, TEXT("%H:%M:%S"), TEXT('0'), TEXT("09:05:07")},
        {{E, E, E, 9, E, E},
         TEXT("%H:%M:%S"),
         TEXT(' '),
         TEXT(" 9:00:00")}, // %M and %S pad with '0'
        {none, TEXT("%H:%M:%S"), TEXT(' '), TEXT("  :00:00")},
        {date, TEXT("%H:%M"), TEXT('0'), TEXT("09:05")},
        {{E, E, E, 0, 0, 0}, TEXT("%I"), TEXT('0'), TEXT("00")},
        {{E, E, E, 12, 0, 0}, TEXT("%I"), TEXT('0'), TEXT("12")},
        {{E, E, E, 13, 0, 0}, TEXT("%I"), TEXT('0'), TEXT("01")},
        {{E, E, E, 23, 0, 0}, TEXT("%I"), TEXT(' '), TEXT("11")},
        {{E, E, E, E, 0, 0}, TEXT("%I"), TEXT('_'), TEXT("__")},
        {date, TEXT("%%d"), TEXT('0'), TEXT("%d")},
        {date, TEXT("100%% %d"), TEXT('0'), TEXT("100% 05")},
        {date, TEXT("%%d %d"), TEXT('0'), TEXT("%d 05")}, // each code at its own place
        {date, TEXT("%d%%%d"), TEXT('0'), TEXT("05%05")},
        {date, TEXT("%d %d"), TEXT('0'), TEXT("05 05")}, // a code may occur twice
        {date, TEXT("Date: %d.%m.%Y, %H:%M"), TEXT('0'), TEXT("Date: 05.03.2004, 09:05")},
        {date, TEXT("no codes"), TEXT('0'), TEXT("no codes")},
        {date, TEXT(""), TEXT('0'), TEXT("")},
        // Codes without a field, unknown letters and a trailing '%' stay as written.
        {date, TEXT("%a %j %p %x %"), TEXT('0'), TEXT("%a %j %p %x %")},
        {{-5, 3, 2004, E, E, E}, TEXT("%d"), TEXT('0'), TEXT("-5")},
        {{123, 3, 2004, E, E, E}, TEXT("%d"), TEXT('0'), TEXT("123")},
        {{std::numeric_limits<LONG>::min(), 3, 2004, E, E, E},
         TEXT("%d"),
         TEXT('0'),
         TEXT("-2147483648")},
    };
    for (const Case& c : cases) {
        const ZCDateTime value = Make(c.value);
        EXPECT_EQ(value.FormatDate(c.mask, c.fill, 0), TString(c.want))
            << Utf8(TString(c.mask)) << " with " << Show(c.value);
    }
    // The standard masks themselves.
    const ZCDateTime value = Make(date);
    EXPECT_EQ(value.FormatDate(ZCDateTime::DATEMASK_SORT, TEXT('0'), 0), TEXT("20040305"));
    EXPECT_EQ(value.FormatDate(ZCDateTime::DATEMASK_D8, TEXT('0'), 0), TEXT("05.03.04"));
    EXPECT_EQ(value.FormatDate(ZCDateTime::TIMEMASK_STANDARD, TEXT('0'), 0), TEXT("09:05:07"));
}

TEST(DateTimeFormat, CheckForEmptyPadsLikeFormatDate)
{
    struct Case
    {
        LONG value, width;
        WCHAR fill;
        const WCHAR* want;
    };
    const Case cases[] = {
        {5, 2, TEXT('0'), TEXT("05")},      {5, 2, TEXT(' '), TEXT(" 5")},
        {-1, 2, TEXT('_'), TEXT("__")},     {-1, 4, TEXT(' '), TEXT("    ")},
        {2004, 2, TEXT(' '), TEXT("2004")}, {-5, 4, TEXT('0'), TEXT("00-5")},
        {7, 0, TEXT(' '), TEXT("7")},
    };
    ZCDateTime value;
    for (const Case& c : cases) {
        TString out(TEXT("old"));
        ZCDateTimeTestAccess::CheckForEmpty(value, out, c.fill, c.value, c.width);
        EXPECT_EQ(out, TString(c.want)) << c.value << " width " << c.width;
    }
}

TEST(DateTimeFormat, FormatCodeInterpreter)
{
    struct Case
    {
        const WCHAR* mask;
        std::vector<TFormatCodesPos> want;
    };
    const Case cases[] = {
        {TEXT("%d.%m.%Y"), {{'d', 0, 2}, {'m', 3, 2}, {'Y', 6, 4}}},
        {TEXT("%Y-%m-%d"), {{'Y', 0, 4}, {'m', 5, 2}, {'d', 8, 2}}},
        {TEXT("%Y%m%d"), {{'Y', 0, 4}, {'m', 4, 2}, {'d', 6, 2}}},
        {TEXT("%H:%M:%S"), {{'H', 0, 2}, {'M', 3, 2}, {'S', 6, 2}}},
        {TEXT("%d.%m.%y %I"), {{'d', 0, 2}, {'m', 3, 2}, {'y', 6, 2}, {'I', 9, 2}}},
        {TEXT("no codes"), {}},
        {TEXT(""), {}},
        {TEXT("%%d"), {{'%', 0, 1}}},
        {TEXT("%j%p%U%W%w"), {{'j', 0, 3}, {'p', 2, 4}, {'U', 4, 2}, {'W', 6, 2}, {'w', 8, 2}}},
        {TEXT("%a %A %b %B"), {{'a', 0, -1}, {'A', 3, -1}, {'b', 6, -1}, {'B', 9, -1}}},
        // A letter that is no code keeps the code and width seen last (or -1 and 0).
        {TEXT("%x%d %q"), {{-1, 0, 0}, {'d', 2, 2}, {'d', 5, 2}}},
        {TEXT("at %"), {{-1, 3, 0}}}, // a lone '%' at the end
        {TEXT("Date: %d"), {{'d', 6, 2}}},
    };
    ZCDateTime value;
    for (const Case& c : cases) {
        std::list<TFormatCodesPos> codes{{'z', 99, 99}}; // emptied first
        value.FormatCodeInterpreter(c.mask, codes);
        ASSERT_EQ(codes.size(), c.want.size()) << Utf8(TString(c.mask));
        std::size_t i = 0;
        for (const TFormatCodesPos& entry : codes) {
            EXPECT_EQ(entry.code, c.want[i].code) << Utf8(TString(c.mask)) << " entry " << i;
            EXPECT_EQ(entry.position, c.want[i].position)
                << Utf8(TString(c.mask)) << " entry " << i;
            EXPECT_EQ(entry.width, c.want[i].width) << Utf8(TString(c.mask)) << " entry " << i;
            ++i;
        }
    }
}

TEST(DateTimeFormat, FillCharFromFormat)
{
    struct Case
    {
        const WCHAR* mask;
        unsigned short want;
    };
    const Case cases[] = {
        {TEXT("%d.%m.%Y"), TEXT('.')},
        {TEXT("%d\\%m\\%Y"), TEXT('\\')},
        {TEXT("%Y-%m-%d"), TEXT('-')},
        {TEXT("%Y%m%d"), 0},
        {TEXT("%H:%M:%S"), TEXT(':')},
        {TEXT("abc"), TEXT('b')},
        {TEXT("a"), 0},
        {TEXT(""), 0},
        {TEXT("%d"), 0},
        {TEXT("%"), 0},
        {TEXT("x%d/"), TEXT('/')},
    };
    ZCDateTime value;
    for (const Case& c : cases) {
        EXPECT_EQ(value.FillCharFromFormat(c.mask), c.want) << Utf8(TString(c.mask));
        TString mask(c.mask);
        EXPECT_EQ(value.FillCharFromFormat(mask), c.want) << Utf8(TString(c.mask));
    }
    EXPECT_EQ(value.FillCharFromFormat(static_cast<const WCHAR*>(nullptr)), 0);
    // The standard masks (const TString) go through either overload.
    EXPECT_EQ(value.FillCharFromFormat(ZCDateTime::DATEMASK_GERMAN), TEXT('.'));
    EXPECT_EQ(value.FillCharFromFormat(ZCDateTime::DATEMASK_SORT), 0);
}

// ---------------------------------------------------------------------------------
// Month names

TEST(DateTimeMonthNames, NamesInThreeForms)
{
    const char* const longNames[] = {"January",   "February", "March",    "April",
                                     "May",       "June",     "July",     "August",
                                     "September", "October",  "November", "December"};
    for (LONG m = 1; m <= 12; ++m) {
        ZCDateTime value(1, m, 2004, E, E, E);
        EXPECT_EQ(Utf8(value.MonthName(m)), longNames[m - 1]);
        EXPECT_EQ(Utf8(value.MonthName()), longNames[m - 1]);
        EXPECT_EQ(Utf8(value.MonthName(static_cast<ZCDateTime::TMonthName>(m))), longNames[m - 1]);
        const std::string shortName = std::string(longNames[m - 1]).substr(0, 3);
        EXPECT_EQ(Utf8(value.ShortMonthName(m)), shortName);
        EXPECT_EQ(Utf8(value.ShortMonthName()), shortName);
        EXPECT_EQ(Utf8(value.ShortMonthName(static_cast<ZCDateTime::TMonthName>(m))), shortName);
    }
    EXPECT_EQ(Utf8(ZCDateTime().MonthName(ZCDateTime::December)), "December");
}

TEST(DateTimeMonthNames, WeekdayCatalogs)
{
    const WORD shortDays = FindCatalog(TEXT("ShortWeekDay"));
    const WORD longDays = FindCatalog(TEXT("LongWeekDay"));
    ASSERT_NE(shortDays, 0);
    ASSERT_NE(longDays, 0);
    // Numbered as SYSTEMTIME.wDayOfWeek: 0 is Sunday.
    EXPECT_EQ(
        GetMessageW(longDays, 0, TString::NullString, TString::NullString, TString::NullString),
        TEXT("Sunday"));
    EXPECT_EQ(
        GetMessageW(shortDays, 6, TString::NullString, TString::NullString, TString::NullString),
        TEXT("Sat"));
}

TEST(DateTimeMonthNames, SearchReportsTheMonthIndex)
{
    struct Case
    {
        const WCHAR* text;
        bool longNames;
        LONG month, end;
    };
    const Case cases[] = {
        {TEXT("5 March 2004"), true, 2, 7},
        {TEXT("January"), true, 0, 7},
        {TEXT("31 December"), true, 11, 11},
        {TEXT("5 Mar 2004"), true, -1, -1},
        {TEXT("5 Mar 2004"), false, 2, 5},
        {TEXT("Dec"), false, 11, 3},
        {TEXT("5 March 2004"), false, 2, 5}, // the short name occurs within the long one
        {TEXT("June or May"), true, 4, 11},  // searched in month order, not text order
        {TEXT(""), true, -1, -1},
        {TEXT(""), false, -1, -1},
        {TEXT("5.3.2004"), false, -1, -1},
    };
    ZCDateTime value;
    for (const Case& c : cases) {
        TString text(c.text);
        LONG month = 99;
        const LONG end = c.longNames ? ZCDateTimeTestAccess::FindMonthNameLong(value, text, month)
                                     : ZCDateTimeTestAccess::FindMonthNameShort(value, text, month);
        EXPECT_EQ(month, c.month) << Utf8(text);
        EXPECT_EQ(end, c.end) << Utf8(text);
        if (month >= 0) {
            // The index found names the same month as MonthName(index + 1).
            const TString name =
                c.longNames ? value.MonthName(month + 1) : value.ShortMonthName(month + 1);
            EXPECT_EQ(text.Find(name.c_str()) + name.GetLength(), end);
        }
    }
}

TEST(DateTimeMonthNames, EmptyNameNeverMatches)
{
    // An application may install its own texts, an empty one among them.
    SetMessageText(TEXT("LongMonth"), 1, TEXT(""));
    ZCDateTime value;
    TString text(TEXT("in July"));
    LONG month = 99;
    const LONG end = ZCDateTimeTestAccess::FindMonthNameLong(value, text, month);
    SetMessageText(TEXT("LongMonth"), 1, TEXT("January"));
    EXPECT_EQ(month, 6);
    EXPECT_EQ(end, 7);
}

// ---------------------------------------------------------------------------------
// Parsing and validation

TEST(DateTimeParse, WholeValueTests)
{
    ZCDateTime value(1, 1, 2003, E, E, E); // its own year plays no part
    EXPECT_EQ(value.IsValidDate(31, 4, 2004, TEXT(' '), 0), 0u);
    EXPECT_EQ(value.IsValidDate(30, 4, 2004, TEXT(' '), 0), 1u);
    EXPECT_EQ(value.IsValidDate(-1, -1, -1, TEXT(' '), 1), 1u);
    EXPECT_EQ(value.IsValidDate(-1, -1, -1, TEXT(' '), 0), 0u);
    EXPECT_EQ(value.IsValidDate(29, 2, 2004, TEXT(' '), 0), 1u);
    EXPECT_EQ(value.IsValidDate(29, 2, 2000, TEXT(' '), 0), 1u);
    EXPECT_EQ(value.IsValidDate(29, 2, 1900, TEXT(' '), 0), 0u);
    EXPECT_EQ(value.IsValidDate(29, 2, -1, TEXT(' '), 1), 1u);
    EXPECT_EQ(value.IsValidDate(30, 2, -1, TEXT(' '), 1), 0u);
    EXPECT_EQ(value.IsValidDate(31, -1, 2004, TEXT(' '), 1), 1u);
    EXPECT_EQ(value.IsValidDate(0, 1, 2004, TEXT(' '), 1), 0u);
    EXPECT_EQ(value.IsValidDate(-4, 1, 2004, TEXT(' '), 1), 1u);
    EXPECT_EQ(value.IsValidDate(1, 1, 10000, TEXT(' '), 0), 0u);
    EXPECT_EQ(value.IsValidTime(24, 0, 0, 1), 0u);
    EXPECT_EQ(value.IsValidTime(23, 59, 59, 0), 1u);
    EXPECT_EQ(value.IsValidTime(23, 60, 59, 0), 0u);
    EXPECT_EQ(value.IsValidTime(-1, -1, -1, 1), 1u);
    EXPECT_EQ(value.IsValidTime(-1, 0, 0, 0), 0u);
    EXPECT_EQ(value.IsValidDateTime(-1, -1, -1, -1, -1, -1, 1), 1u);
    EXPECT_EQ(value.IsValidDateTime(-1, -1, -1, -1, -1, -1, 0), 0u);
    EXPECT_EQ(value.IsValidDateTime(29, 2, 2004, 23, 59, 59, 0), 1u);
    EXPECT_EQ(value.IsValidDateTime(29, 2, 2004, 23, 59, 60, 0), 0u);
}

TEST(DateTimeParse, CatchEmptysInNumber)
{
    struct Case
    {
        const WCHAR* text;
        WCHAR fill;
        const WCHAR* want;
    };
    const Case cases[] = {
        {TEXT("1 5.03.2004"), TEXT(' '), TEXT("15.03.2004")},
        {TEXT(" 5.03.2004"), TEXT(' '), TEXT(" 5.03.2004")},
        {TEXT("05.03.2004 "), TEXT(' '), TEXT("05.03.2004 ")},
        {TEXT("2 0 0 4"), TEXT(' '), TEXT("2004")},
        {TEXT("1  5"), TEXT(' '), TEXT("1  5")}, // two in a row: neither stands between digits
        {TEXT("1_5._3"), TEXT('_'), TEXT("15._3")},
        {TEXT("1 5"), TEXT('_'), TEXT("1 5")},
        {TEXT(""), TEXT(' '), TEXT("")},
        {TEXT(" "), TEXT(' '), TEXT(" ")},
        {TEXT("1 "), TEXT(' '), TEXT("1 ")},
        {TEXT("2004"), TEXT('0'), TEXT("24")}, // why '0' is no fill character for parsing
    };
    ZCDateTime value;
    for (const Case& c : cases) {
        TString text(c.text);
        ZCDateTimeTestAccess::CatchEmptysInNumber(value, text, c.fill);
        EXPECT_EQ(text, TString(c.want)) << "'" << Utf8(TString(c.text)) << "'";
    }
}

namespace {

struct ParseCase
{
    const WCHAR* mask;
    const WCHAR* text;
    WCHAR fill;
    unsigned int allowEmpty;
    unsigned int ok;
    Fields want; // when ok
};

} // namespace

TEST(DateTimeParse, DateFromFormat)
{
    const ParseCase cases[] = {
        {TEXT("%d.%m.%Y"), TEXT("05.03.2004"), TEXT(' '), 1, 1, {5, 3, 2004, E, E, E}},
        {TEXT("%d.%m.%Y"), TEXT("05.03.2004"), TEXT(' '), 0, 0, {}}, // the time fields are empty
        {TEXT("%d.%m.%Y"), TEXT(" 5. 3.2004"), TEXT(' '), 1, 1, {5, 3, 2004, E, E, E}},
        {TEXT("%d.%m.%Y"), TEXT("5.3.2004"), TEXT('_'), 1, 1, {5, 3, 2004, E, E, E}}, // unpadded
        {TEXT("%d.%m.%Y"),
         TEXT("005.03.2004"),
         TEXT(' '),
         1,
         1,
         {5, 3, 2004, E, E, E}}, // over-long
        {TEXT("%d.%m.%Y"), TEXT("  5.03.2004"), TEXT(' '), 1, 1, {5, 3, 2004, E, E, E}},
        {TEXT("%d.%m.%Y"), TEXT("29.02.2003"), TEXT(' '), 1, 0, {}},
        {TEXT("%d.%m.%Y"), TEXT("29.02.2004"), TEXT(' '), 1, 1, {29, 2, 2004, E, E, E}},
        {TEXT("%d.%m.%Y"), TEXT("29.02.2000"), TEXT(' '), 1, 1, {29, 2, 2000, E, E, E}},
        {TEXT("%d.%m.%Y"), TEXT("29.02.1900"), TEXT(' '), 1, 0, {}},
        {TEXT("%d.%m.%Y"), TEXT("31.04.2004"), TEXT(' '), 1, 0, {}},
        {TEXT("%d.%m.%Y"), TEXT("1 5.03.2004"), TEXT(' '), 1, 1, {15, 3, 2004, E, E, E}},
        {TEXT("%d.%m.%Y"), TEXT("-5.-3.2004"), TEXT(' '), 1, 1, {5, 3, 2004, E, E, E}}, // signs
                                                                                        // ignored
        {TEXT("%d.%m.%Y"), TEXT("05.03.99999"), TEXT(' '), 1, 0, {}},
        {TEXT("%d.%m.%Y"), TEXT("99999999999.03.2004"), TEXT(' '), 1, 0, {}},
        {TEXT("%d.%m.%Y"), TEXT("-99999999999.03.2004"), TEXT(' '), 1, 0, {}},
        {TEXT("%d.%m.%Y"), TEXT("ab.cd.efgh"), TEXT(' '), 1, 1, {E, E, E, E, E, E}},
        {TEXT("%d.%m.%Y"), TEXT("ab.cd.efgh"), TEXT(' '), 0, 0, {}},
        // Empty fields as FormatDate writes them.
        {TEXT("%d.%m.%Y"), TEXT("  .  .    "), TEXT(' '), 1, 1, {E, E, E, E, E, E}},
        {TEXT("%d.%m.%Y"), TEXT("__.__.____"), TEXT('_'), 1, 1, {E, E, E, E, E, E}},
        {TEXT("%d.%m.%Y"), TEXT("05.03.    "), TEXT(' '), 1, 1, {5, 3, E, E, E, E}},
        {TEXT("%d.%m.%Y"), TEXT("  .03.2004"), TEXT(' '), 1, 1, {E, 3, 2004, E, E, E}},
        {TEXT("%d.%m.%Y"), TEXT("__.03.2004"), TEXT('_'), 1, 1, {E, 3, 2004, E, E, E}},
        {TEXT("%d.%m.%Y"), TEXT("05.__.2004"), TEXT('_'), 1, 1, {5, E, 2004, E, E, E}},
        // Text shorter than the mask, or none at all.
        {TEXT("%d.%m.%Y"), TEXT("05.03"), TEXT(' '), 1, 1, {5, 3, E, E, E, E}},
        {TEXT("%d.%m.%Y"), TEXT("05"), TEXT(' '), 1, 1, {5, E, E, E, E, E}},
        {TEXT("%d.%m.%Y"), TEXT(""), TEXT(' '), 1, 1, {E, E, E, E, E, E}},
        {TEXT("%d.%m.%Y"), TEXT(""), TEXT(' '), 0, 0, {}},
        // Two-digit years always land in the 1900s; "00" is an empty year.
        {TEXT("%d.%m.%y"), TEXT("05.03.04"), TEXT(' '), 1, 1, {5, 3, 1904, E, E, E}},
        {TEXT("%d.%m.%y"), TEXT("05.03.99"), TEXT(' '), 1, 1, {5, 3, 1999, E, E, E}},
        {TEXT("%d.%m.%y"), TEXT("05.03.00"), TEXT(' '), 1, 1, {5, 3, E, E, E, E}},
        {TEXT("%d.%m.%y"), TEXT("29.02.00"), TEXT(' '), 1, 1, {29, 2, E, E, E, E}},
        {TEXT("%d.%m.%y"), TEXT("29.02.03"), TEXT(' '), 1, 0, {}},
        // Other masks.
        {TEXT("%Y-%m-%d"), TEXT("2004-03-05"), TEXT(' '), 1, 1, {5, 3, 2004, E, E, E}},
        {TEXT("%d\\%m\\%Y"), TEXT("05\\03\\2004"), TEXT(' '), 1, 1, {5, 3, 2004, E, E, E}},
        {TEXT("%m\\%d\\%Y"), TEXT("03\\05\\2004"), TEXT(' '), 1, 1, {5, 3, 2004, E, E, E}},
        // Times: the hour, minute and second read 0 where there are no digits.
        {TEXT("%H:%M:%S"), TEXT(" 9:05:07"), TEXT(' '), 1, 1, {E, E, E, 9, 5, 7}},
        {TEXT("%H:%M:%S"), TEXT("9:05:07"), TEXT(' '), 1, 1, {E, E, E, 9, 5, 7}},
        {TEXT("%H:%M:%S"), TEXT("09:05:07"), TEXT(' '), 0, 0, {}}, // the date fields are empty
        {TEXT("%H:%M:%S"), TEXT("23:59:59"), TEXT(' '), 1, 1, {E, E, E, 23, 59, 59}},
        {TEXT("%H:%M:%S"), TEXT("24:00:00"), TEXT(' '), 1, 0, {}},
        {TEXT("%H:%M:%S"), TEXT("10:60:00"), TEXT(' '), 1, 0, {}},
        {TEXT("%H:%M:%S"), TEXT("  :00:00"), TEXT(' '), 1, 1, {E, E, E, 0, 0, 0}},
        {TEXT("%H:%M"), TEXT("09:05"), TEXT(' '), 1, 1, {E, E, E, 9, 5, E}},
        {TEXT("%H:%M:%S"), TEXT(""), TEXT(' '), 1, 1, {E, E, E, 0, 0, 0}},
        // A complete date-time parses without allowEmpty.
        {TEXT("%d.%m.%Y %H:%M:%S"),
         TEXT("05.03.2004 09:05:07"),
         TEXT('_'),
         0,
         1,
         {5, 3, 2004, 9, 5, 7}},
        // A fill character that also separates two numbers is taken for a gap
        // inside one number ("200409"): such a fill character cannot be used.
        {TEXT("%d.%m.%Y %H:%M:%S"), TEXT("05.03.2004 09:05:07"), TEXT(' '), 0, 0, {}},
        {TEXT("%d.%m.%Y %H:%M:%S"),
         TEXT("5.3.2004 9:05:07"),
         TEXT('_'),
         0,
         1,
         {5, 3, 2004, 9, 5, 7}},
        {TEXT("%d.%m.%Y %H:%M:%S"), TEXT("29.02.2003 09:05:07"), TEXT(' '), 0, 0, {}},
        {TEXT("%d.%m.%Y %H:%M:%S"), TEXT("05.03.2004"), TEXT(' '), 0, 1, {5, 3, 2004, 0, 0, 0}},
        {TEXT("%d.%m.%Y %H:%M:%S"),
         TEXT("05.03.2004   :00:00"),
         TEXT(' '),
         0,
         1,
         {5, 3, 2004, 0, 0, 0}},
        // Codes without a field are not read but count two places, as does "%%"
        // (which FormatDate writes as one character).
        {TEXT("%a %d.%m.%Y"), TEXT("Fr 05.03.2004"), TEXT(' '), 1, 1, {5, 3, 2004, E, E, E}},
        {TEXT("%d%%%m"), TEXT("05%12"), TEXT(' '), 1, 1, {5, 2, E, E, E, E}},
        // Padding with a fill character other than a blank, as FormatDate writes it.
        {TEXT("%d.%m.%Y"), TEXT("_5._3.2004"), TEXT('_'), 1, 1, {5, 3, 2004, E, E, E}},
        {TEXT("%d.%m.%Y"), TEXT("_5._3.__12"), TEXT('_'), 1, 1, {5, 3, 12, E, E, E}},
        {TEXT("%d.%m.%Y"), TEXT("__5.03.2004"), TEXT('_'), 1, 1, {5, 3, 2004, E, E, E}},
        {TEXT("%d.%m.%Y %H:%M:%S"),
         TEXT("_5._3.2004 _0:_7:08"),
         TEXT('_'),
         0,
         1,
         {5, 3, 2004, 0, 7, 8}},
        {TEXT("%d.%m.%Y"), TEXT("05.03.2004 and more"), TEXT(' '), 1, 1, {5, 3, 2004, E, E, E}},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE("'" + Utf8(TString(c.text)) + "' in " + Utf8(TString(c.mask)) +
                     " allowEmpty " + std::to_string(c.allowEmpty));
        const Fields before{1, 2, 2003, 4, 5, 6};
        ZCDateTime value = Make(before);
        const TString text(c.text);
        EXPECT_EQ(value.IsValidDate(c.mask, text, c.fill, c.allowEmpty), c.ok);
        EXPECT_EQ(Show(Of(value)), Show(before)); // IsValidDate never changes the value
        EXPECT_EQ(value.DateFromFormat(c.mask, text, c.fill, c.allowEmpty), c.ok);
        EXPECT_EQ(Show(Of(value)), Show(c.ok ? c.want : before));
        EXPECT_EQ(text, TString(c.text)); // the caller's text is never changed
    }
}

TEST(DateTimeParse, ValidDateHelperNudgesTheTextAndKeepsAbsentFields)
{
    ZCDateTime value;
    // The fields that the mask lacks keep what the caller put in.
    LONG f[6] = {E, E, E, 10, 20, 30};
    TString text(TEXT("5.3.2004"));
    EXPECT_EQ(ZCDateTimeTestAccess::ValidDateHelper(value, ZCDateTime::DATEMASK_GERMAN, text,
                                                    TEXT('_'), f, 0),
              1u);
    EXPECT_EQ(Show({f[0], f[1], f[2], f[3], f[4], f[5]}), "5.3.2004 10:20:30");
    EXPECT_EQ(text, TEXT("5_.3_.2004")); // a fill character after each short field

    LONG g[6] = {E, E, E, E, E, E};
    TString longer(TEXT("005.03.2004"));
    EXPECT_EQ(ZCDateTimeTestAccess::ValidDateHelper(value, ZCDateTime::DATEMASK_GERMAN, longer,
                                                    TEXT(' '), g, 1),
              1u);
    EXPECT_EQ(longer, TEXT("05.03.2004"));  // the first '0' of the over-long day removed
    EXPECT_FIELDS(value, E, E, E, E, E, E); // the value itself is not touched
}

TEST(DateTimeParse, ResultDoesNotDependOnThePreviousValue)
{
    for (const Fields& before :
         {Fields{1, 1, 2003, E, E, E}, Fields{1, 1, 2004, E, E, E}, Fields{E, E, E, E, E, E}}) {
        ZCDateTime value = Make(before);
        EXPECT_EQ(
            value.DateFromFormat(ZCDateTime::DATEMASK_GERMAN, TEXT("29.02.2003"), TEXT(' '), 1),
            0u);
        EXPECT_EQ(
            value.DateFromFormat(ZCDateTime::DATEMASK_GERMAN, TEXT("29.02.2004"), TEXT(' '), 1),
            1u);
        EXPECT_FIELDS(value, 29, 2, 2004, E, E, E);
    }
}

// DateFromFormat reads the texts met in practice straight from the caller's string,
// counting the fill characters that the parser would insert, and every other text
// from a working copy; ValidDateHelper always works on the text itself. Both must
// read the same fields from every text: here all short texts over small alphabets
// (digits, separators, blank, '_', a sign) in masks with and without separators,
// two- and four-digit fields, date and time fields, %y and a letter that is no code,
// with fill characters that are and are not part of the texts.
TEST(DateTimeParse, ReadingInPlaceMatchesTheWorkingCopy)
{
    struct Family
    {
        std::basic_string<WCHAR> alphabet;
        std::size_t longest;
        std::vector<TString> masks;
    };
    const Family families[] = {
        {TEXT("07._ "), 7, {TString(TEXT("%d.%m")), TString(TEXT("%m.%Y")), TString(TEXT("%y%m"))}},
        {TEXT("09:_ -"),
         6,
         {TString(TEXT("%m%Y")), TString(TEXT("%H:%y")), TString(TEXT("%M:%d%%"))}},
        // A letter that is no code repeats the code before it, here %Y with its width
        // of 4 but only 2 places, so the day is read inside that field.
        {TEXT("09_ "), 8, {TString(TEXT("%Y%q%d"))}},
    };
    const WCHAR fills[] = {TEXT('_'), TEXT(' '), TEXT('0'), TEXT('.')};
    std::basic_string<WCHAR> text;
    for (const Family& family : families) {
        const std::size_t letters = family.alphabet.size();
        for (std::size_t length = 0; length <= family.longest; ++length) {
            std::size_t count = 1;
            for (std::size_t i = 0; i < length; ++i) {
                count *= letters;
            }
            for (std::size_t n = 0; n < count; ++n) {
                text.clear();
                for (std::size_t i = 0, rest = n; i < length; ++i, rest /= letters) {
                    text.push_back(family.alphabet[rest % letters]);
                }
                const TString given(text);
                for (const TString& mask : family.masks) {
                    for (WCHAR fill : fills) {
                        LONG f[6] = {E, E, E, E, E, E};
                        TString work(given);
                        ZCDateTime helper;
                        const unsigned int want =
                            ZCDateTimeTestAccess::ValidDateHelper(helper, mask, work, fill, f, 1);
                        ZCDateTime value;
                        const unsigned int got = value.DateFromFormat(mask, given, fill, 1);
                        const Fields read = want ? Fields{f[0], f[1], f[2], f[3], f[4], f[5]}
                                                 : Fields{E, E, E, E, E, E};
                        const Fields seen = Of(value);
                        if (got != want || seen.day != read.day || seen.month != read.month ||
                            seen.year != read.year || seen.hour != read.hour ||
                            seen.minute != read.minute || seen.second != read.second) {
                            ADD_FAILURE()
                                << "'" << Utf8(given) << "' in " << Utf8(mask) << " fill '"
                                << static_cast<char>(fill) << "': " << got << " " << Show(Of(value))
                                << ", working copy " << want << " " << Show(read);
                            return;
                        }
                    }
                }
            }
        }
    }
}

// Every day from 1 January of year 1 to 31 December 9999 is formatted and read back.
TEST(DateTimeParse, RoundTripOfEveryDay)
{
    ZCDateTime day(1, 1, 1, E, E, E);
    const TString mask = ZCDateTime::DATEMASK_GERMAN;
    LONG count = 0;
    ZCDateTime back;
    while (day.Year() <= 9999) {
        const TString text = day.FormatDate(mask, TEXT(' '), 0);
        if (back.DateFromFormat(mask, text, TEXT(' '), 1) != 1 || back.Day() != day.Day() ||
            back.Month() != day.Month() || back.Year() != day.Year() || back.Hour() != E) {
            ADD_FAILURE() << "'" << Utf8(text) << "' gave " << Show(Of(back)) << " for "
                          << Show(Of(day));
            break;
        }
        day.IncDay(0);
        ++count;
    }
    EXPECT_EQ(count, 3652059); // the days of 9999 Gregorian years
}

TEST(DateTimeParse, RoundTripOfEverySecondOfADay)
{
    // The fill character differs from the blank between date and time: a fill
    // character between two digits is taken for a gap inside a number.
    ZCDateTime time(5, 3, 2004, 0, 0, 0);
    const TString mask(TEXT("%d.%m.%Y %H:%M:%S"));
    for (int n = 0; n < 86400; ++n) {
        const TString text = time.FormatDate(mask, TEXT('_'), 0);
        ZCDateTime back;
        ASSERT_EQ(back.DateFromFormat(mask, text, TEXT('_'), 0), 1u) << Utf8(text);
        ASSERT_EQ(Show(Of(back)), Show(Of(time))) << Utf8(text);
        time.IncSecond(0);
    }
    EXPECT_FIELDS(time, 6, 3, 2004, 0, 0, 0);
}

// Empty date fields come back empty: a field that FormatDate wrote as nothing but
// fill characters is stepped over, so the fields after it are still found.
TEST(DateTimeParse, RoundTripOfPartlyEmptyDates)
{
    const Fields dates[] = {{5, 3, 2004, E, E, E}, {31, 12, 1999, E, E, E}, {1, 1, 12, E, E, E}};
    for (const Fields& date : dates) {
        for (int empty = 0; empty < 8; ++empty) {
            const Fields value{(empty & 1) ? E : date.day,
                               (empty & 2) ? E : date.month,
                               (empty & 4) ? E : date.year,
                               E,
                               E,
                               E};
            for (const TString& mask : {ZCDateTime::DATEMASK_GERMAN, ZCDateTime::DATEMASK_SQL,
                                        ZCDateTime::DATEMASK_AMERICAN}) {
                for (WCHAR fill : {TEXT(' '), TEXT('_'), TEXT('*')}) {
                    const TString text = Make(value).FormatDate(mask, fill, 0);
                    ZCDateTime back;
                    EXPECT_EQ(back.DateFromFormat(mask, text, fill, 1), 1u) << Utf8(text);
                    EXPECT_EQ(Show(Of(back)), Show(value)) << "'" << Utf8(text) << "'";
                }
            }
        }
    }
}
