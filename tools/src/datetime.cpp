// ZCDateTime, the value: construction, the fields, the clock, the calendar tests,
// the steps with their carries and the counts since 1980.
#include "datetimeimpl.h"

#include <cstring>

using namespace ZANTH::detail::dates;

namespace {

constexpr LONG kDaysPerMonth[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

// Days from 1 January 1970 to a date of the proleptic Gregorian calendar.
LONGLONG DaysFromCivil(LONGLONG y, LONG m, LONG d)
{
    y -= m <= 2;
    const LONGLONG era = (y >= 0 ? y : y - 399) / 400;
    const LONGLONG yoe = y - era * 400;
    const LONGLONG doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const LONGLONG doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

} // namespace

// ---------------------------------------------------------------------------------
// Construction and copying

ZCDateTime::ZCDateTime()
    : m_Day(kEmpty), m_Month(kEmpty), m_Year(kEmpty), m_Hour(kEmpty), m_Minute(kEmpty),
      m_Second(kEmpty)
{
    InitDPM();
}

ZCDateTime::ZCDateTime(const ZCDateTime& other)
{
    InitDPM();
    InitClass(other);
}

ZCDateTime::ZCDateTime(const SYSTEMTIME& st)
    : m_Day(kEmpty), m_Month(kEmpty), m_Year(kEmpty), m_Hour(kEmpty), m_Minute(kEmpty),
      m_Second(kEmpty)
{
    InitDPM();
    InitClass(st, InitDate);
    InitClass(st, InitTime);
}

ZCDateTime::ZCDateTime(LONG day, LONG month, LONG year, LONG hour, LONG minute, LONG second)
{
    InitDPM();
    InitClass(day, month, year, hour, minute, second);
}

ZCDateTime& ZCDateTime::operator=(const ZCDateTime& other)
{
    InitClass(other);
    return *this;
}

unsigned int ZCDateTime::operator==(const ZCDateTime& other) const
{
    return m_Day == other.m_Day && m_Month == other.m_Month && m_Year == other.m_Year &&
           m_Hour == other.m_Hour;
}

void ZCDateTime::InitClass(LONG day, LONG month, LONG year, LONG hour, LONG minute, LONG second)
{
    m_Day = day;
    m_Month = month;
    m_Year = year;
    m_Hour = hour;
    m_Minute = minute;
    m_Second = second;
}

void ZCDateTime::InitClass(const ZCDateTime& other)
{
    InitClass(other.m_Day, other.m_Month, other.m_Year, other.m_Hour, other.m_Minute,
              other.m_Second);
}

void ZCDateTime::InitClass(const SYSTEMTIME& st, TInitType type)
{
    if (type == InitDate || type == InitDateTime) {
        if (st.wYear <= 9999) {
            m_Year = st.wYear;
        }
        if (st.wMonth >= 1 && st.wMonth <= 12) {
            m_Month = st.wMonth;
        }
        if (IsValidDay(m_Month, st.wDay, 0)) {
            m_Day = st.wDay;
        }
    }
    if (type == InitTime || type == InitDateTime) {
        if (st.wHour <= 23) {
            m_Hour = st.wHour;
        }
        if (st.wMinute <= 59) {
            m_Minute = st.wMinute;
        }
        if (st.wSecond <= 59) {
            m_Second = st.wSecond;
        }
    }
}

void ZCDateTime::InitDPM()
{
    std::memcpy(m_DaysPerMonth, kDaysPerMonth, sizeof(m_DaysPerMonth));
}

// ---------------------------------------------------------------------------------
// Fields

unsigned int ZCDateTime::Day(LONG day, unsigned int allowEmpty)
{
    if (!IsValidDay(m_Month, day, allowEmpty)) {
        return 0;
    }
    m_Day = day;
    return 1;
}

unsigned int ZCDateTime::Month(LONG month, unsigned int allowEmpty)
{
    if (!IsValidMonth(month, allowEmpty)) {
        return 0;
    }
    m_Month = month;
    return 1;
}

unsigned int ZCDateTime::MonthType(TMonthName month, unsigned int allowEmpty)
{
    return Month(static_cast<LONG>(month), allowEmpty);
}

unsigned int ZCDateTime::Year(LONG year, unsigned int allowEmpty)
{
    if (!IsValidYear(year, allowEmpty)) {
        return 0;
    }
    m_Year = year;
    return 1;
}

unsigned int ZCDateTime::Hour(LONG hour, unsigned int allowEmpty)
{
    if (!IsValidHour(hour, allowEmpty)) {
        return 0;
    }
    m_Hour = hour;
    return 1;
}

unsigned int ZCDateTime::Minute(LONG minute, unsigned int allowEmpty)
{
    if (!IsValidMinute(minute, allowEmpty)) {
        return 0;
    }
    m_Minute = minute;
    return 1;
}

unsigned int ZCDateTime::Second(LONG second, unsigned int allowEmpty)
{
    if (!IsValidSecond(second, allowEmpty)) {
        return 0;
    }
    m_Second = second;
    return 1;
}

void ZCDateTime::Date(LONG day, LONG month, LONG year, unsigned int allowEmpty)
{
    if (allowEmpty) {
        if (IsValidYear(year, 1)) {
            m_Year = year;
        }
        if (IsValidMonth(month, 1)) {
            m_Month = month;
        }
        if (IsValidDay(m_Month, day, 1)) {
            m_Day = day;
        }
        return;
    }
    const LONG oldDay = m_Day;
    const LONG oldMonth = m_Month;
    const LONG oldYear = m_Year;
    m_Day = 1;
    m_Month = 1;
    if (IsValidYear(year, 0)) {
        m_Year = year;
    }
    if (IsValidMonth(month, 0)) {
        m_Month = month;
    }
    if (IsValidDay(m_Month, day, 0)) {
        m_Day = day;
    }
    if (m_Day != day || m_Month != month || m_Year != year) {
        m_Day = oldDay;
        m_Month = oldMonth;
        m_Year = oldYear;
    }
}

void ZCDateTime::Time(LONG hour, LONG minute, LONG second, unsigned int allowEmpty)
{
    Hour(hour, allowEmpty);
    Minute(minute, allowEmpty);
    Second(second, allowEmpty);
}

// ---------------------------------------------------------------------------------
// The clock

void ZCDateTime::LoadSystemTime(TInitType type)
{
    SYSTEMTIME st;
    ::GetSystemTime(&st);
    InitClass(st, type);
}

void ZCDateTime::LoadLocalTime(TInitType type)
{
    SYSTEMTIME st;
    ::GetLocalTime(&st);
    InitClass(st, type);
}

void ZCDateTime::LoadSystemDate()
{
    LoadSystemTime(InitDate);
}

void ZCDateTime::LoadSystemTime()
{
    LoadSystemTime(InitTime);
}

void ZCDateTime::LoadSystemDateTime()
{
    LoadSystemTime(InitDateTime);
}

void ZCDateTime::LoadLocalDate()
{
    LoadLocalTime(InitDate);
}

void ZCDateTime::LoadLocalTime()
{
    LoadLocalTime(InitTime);
}

void ZCDateTime::LoadLocalDateTime()
{
    LoadLocalTime(InitDateTime);
}

// ---------------------------------------------------------------------------------
// Tests

unsigned int ZCDateTime::IsLeapYear(LONG year) const
{
    return IsLeap(year);
}

LONG ZCDateTime::MonthLength(LONG month, LONG year) const
{
    return LengthOfMonth(m_DaysPerMonth, month, year);
}

unsigned int ZCDateTime::IsValidDay(LONG month, LONG day, unsigned int allowEmpty) const
{
    return DayFits(m_DaysPerMonth, month, day, m_Year, allowEmpty);
}

unsigned int ZCDateTime::IsValidMonth(LONG month, unsigned int allowEmpty) const
{
    return InRange(month, 1, 12, allowEmpty);
}

unsigned int ZCDateTime::IsValidYear(LONG year, unsigned int allowEmpty) const
{
    return InRange(year, 0, 9999, allowEmpty);
}

unsigned int ZCDateTime::IsValidHour(LONG hour, unsigned int allowEmpty) const
{
    return InRange(hour, 0, 23, allowEmpty);
}

unsigned int ZCDateTime::IsValidMinute(LONG minute, unsigned int allowEmpty) const
{
    return InRange(minute, 0, 59, allowEmpty);
}

unsigned int ZCDateTime::IsValidSecond(LONG second, unsigned int allowEmpty) const
{
    return InRange(second, 0, 59, allowEmpty);
}

// ---------------------------------------------------------------------------------
// Steps. Months outside 1 to 12, which only the six-value constructor can store,
// step as if they were January (below 1) or December (above 12).

void ZCDateTime::MakeValidDay(unsigned int allowEmpty)
{
    // Lowers the day one by one until it fits, in a single step: a day above the
    // month's length ends at the length, or at 0 for a month that does not exist.
    if (m_Day >= 1 && !IsValidDay(m_Month, m_Day, allowEmpty)) {
        m_Day = MonthLength(m_Month, m_Year);
    }
}

void ZCDateTime::NextMonth()
{
    if (m_Month == kEmpty) {
        m_Month = 1;
    } else if (m_Month < 12) {
        m_Month = m_Month < 1 ? 2 : m_Month + 1;
    } else {
        m_Month = 1;
        if (m_Year == kEmpty) {
            m_Year = 1;
        } else if (m_Year < kLongMax) {
            ++m_Year;
        }
    }
}

void ZCDateTime::PreviousMonth()
{
    if (m_Month == kEmpty) {
        return;
    }
    if (m_Month > 1) {
        m_Month = m_Month > 12 ? 11 : m_Month - 1;
        return;
    }
    m_Month = 12;
    if (m_Year > 1) {
        --m_Year;
    }
}

LONG ZCDateTime::IncDay(unsigned int allowEmpty)
{
    if (m_Day < kLongMax && IsValidDay(m_Month, m_Day + 1, allowEmpty)) {
        return ++m_Day;
    }
    NextMonth();
    m_Day = 1;
    return m_Day;
}

LONG ZCDateTime::DecDay(unsigned int allowEmpty)
{
    if (m_Day > kLongMin && IsValidDay(m_Month, m_Day - 1, allowEmpty)) {
        return --m_Day;
    }
    PreviousMonth();
    m_Day = MonthLength(m_Month, m_Year);
    return m_Day;
}

LONG ZCDateTime::IncMonth(unsigned int allowEmpty)
{
    if (m_Month >= 12) {
        NextMonth();
        m_Day = 1;
        return m_Month;
    }
    NextMonth();
    MakeValidDay(allowEmpty);
    return m_Month;
}

LONG ZCDateTime::DecMonth(unsigned int allowEmpty)
{
    if (m_Month != kEmpty && m_Month <= 1) {
        PreviousMonth();
        m_Day = 31;
        return m_Month;
    }
    PreviousMonth();
    MakeValidDay(allowEmpty);
    return m_Month;
}

LONG ZCDateTime::IncYear(unsigned int allowEmpty)
{
    if (m_Year == kEmpty) {
        m_Year = 1;
    } else if (m_Year < kLongMax) {
        ++m_Year;
    }
    MakeValidDay(allowEmpty);
    return m_Year;
}

LONG ZCDateTime::DecYear(unsigned int allowEmpty)
{
    if (m_Year > 1) {
        --m_Year;
    }
    MakeValidDay(allowEmpty);
    return m_Year;
}

// The hour step that a minute or second carry makes: an empty hour stays empty.
void ZCDateTime::NextHour(unsigned int allowEmpty)
{
    if (m_Hour == kEmpty) {
        return;
    }
    if (m_Hour < 23) {
        ++m_Hour;
    } else {
        IncDay(allowEmpty);
        m_Hour = 0;
    }
}

void ZCDateTime::PreviousHour(unsigned int allowEmpty)
{
    if (m_Hour == kEmpty) {
        return;
    }
    if (m_Hour > 0) {
        --m_Hour;
    } else {
        DecDay(allowEmpty);
        m_Hour = 23;
    }
}

LONG ZCDateTime::IncHour(unsigned int allowEmpty)
{
    if (m_Hour == kEmpty) {
        return kEmpty;
    }
    if (m_Hour < 23) {
        return ++m_Hour;
    }
    IncDay(allowEmpty);
    m_Hour = 0;
    m_Minute = 0;
    m_Second = 0;
    return m_Hour;
}

LONG ZCDateTime::DecHour(unsigned int allowEmpty)
{
    if (m_Hour == kEmpty) {
        return kEmpty;
    }
    if (m_Hour > 0) {
        return --m_Hour;
    }
    DecDay(allowEmpty);
    m_Hour = 23;
    m_Minute = 59;
    m_Second = 59;
    return m_Hour;
}

LONG ZCDateTime::IncMinute(unsigned int allowEmpty)
{
    if (m_Minute < 59) { // an empty minute becomes 0
        return ++m_Minute;
    }
    m_Minute = 0;
    m_Second = 0;
    NextHour(allowEmpty);
    return m_Minute;
}

LONG ZCDateTime::DecMinute(unsigned int allowEmpty)
{
    if (m_Minute == kEmpty) {
        return kEmpty;
    }
    if (m_Minute > 0) {
        return --m_Minute;
    }
    m_Minute = 59;
    m_Second = 59;
    PreviousHour(allowEmpty);
    return m_Minute;
}

LONG ZCDateTime::IncSecond(unsigned int allowEmpty)
{
    if (m_Second < 59) { // an empty second becomes 0
        return ++m_Second;
    }
    m_Second = 0;
    if (m_Minute < 59) {
        ++m_Minute;
    } else {
        m_Minute = 0;
        NextHour(allowEmpty);
    }
    return m_Second;
}

LONG ZCDateTime::DecSecond(unsigned int allowEmpty)
{
    if (m_Second == kEmpty) {
        return kEmpty;
    }
    if (m_Second > 0) {
        return --m_Second;
    }
    m_Second = 59;
    if (m_Minute == kEmpty) {
        return m_Second;
    }
    if (m_Minute > 0) {
        --m_Minute;
    } else {
        m_Minute = 59;
        PreviousHour(allowEmpty);
    }
    return m_Second;
}

// ---------------------------------------------------------------------------------
// Counts

LONGLONG ZCDateTime::GetDaysFrom1980() const
{
    if (m_Year < 1980) {
        return 0; // also an empty year
    }
    // An empty or impossible month counts as January and an empty day as the 1st; a
    // day beyond the month's end counts on into the following months.
    const LONG month = (m_Month >= 1 && m_Month <= 12) ? m_Month : 1;
    const LONGLONG day = m_Day >= 1 ? m_Day : 1;
    const LONGLONG days = DaysFromCivil(m_Year, month, 1) - DaysFromCivil(1980, 1, 1) + day - 1;
    return days > 0 ? days : 0;
}

LONGLONG ZCDateTime::GetHoursFrom1980() const
{
    return GetDaysFrom1980() * 24 + m_Hour;
}

LONGLONG ZCDateTime::GetMinsFrom1980() const
{
    return GetHoursFrom1980() * 60 + m_Minute;
}

LONGLONG ZCDateTime::GetDayDiff(const ZCDateTime& other) const
{
    const LONGLONG diff = GetDaysFrom1980() - other.GetDaysFrom1980();
    return diff < 0 ? -diff : diff;
}

LONGLONG ZCDateTime::GetHourDiff(const ZCDateTime& other) const
{
    const LONGLONG diff = GetHoursFrom1980() - other.GetHoursFrom1980();
    return diff < 0 ? -diff : diff;
}

LONGLONG ZCDateTime::GetMinDiff(const ZCDateTime& other) const
{
    const LONGLONG diff = GetMinsFrom1980() - other.GetMinsFrom1980();
    return diff < 0 ? -diff : diff;
}

LONG ZCDateTime::CountDigits(LONG n) const
{
    const ULONGLONG magnitude =
        n < 0 ? static_cast<ULONGLONG>(-static_cast<LONGLONG>(n)) : static_cast<ULONGLONG>(n);
    LONG digits = 1;
    for (ULONGLONG power = 10; power < magnitude; power *= 10) {
        ++digits;
    }
    return digits;
}
