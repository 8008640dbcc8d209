// ZCDateTime: a date-time value with field-wise validation, calendar steps, formatting
// through masks and parsing of text written in such a mask.
#ifndef ZANTH_DATETIME_H
#define ZANTH_DATETIME_H

#include <corewu/tstring.h>
#include <zanth/config.h>

#include <list>

// One code of a date mask as FormatCodeInterpreter finds it: the code letter (one of
// ZCDateTime::TMaskCode: for "%%" the character '%', -1 when no known code has been
// seen yet), where the code's
// text starts in the formatted output, and how many characters it stands for (-1
// for the name codes %a, %A, %b and %B).
struct TFormatCodesPos
{
    LONG code;
    LONG position;
    LONG width;
};

// A date-time value: day, month, year, hour, minute and second, each of which may be
// empty (-1). Setters, Date, Time, the clock loaders and the steps keep the fields
// in range; the six-value constructor stores whatever it is given. Month lengths
// follow the Gregorian calendar (February has 29 days in leap years and whenever
// the year is empty).
//
// Formatting and parsing work through masks such as "%d.%m.%Y": each code stands for
// a field of fixed width, padded with a fill character chosen by the caller. The
// standard masks are the DATEMASK_* and TIMEMASK_* constants.
//
// A plain value that owns no resources: copies are cheap and independent. Not
// synchronised: one object must not be changed by two threads at once; different
// objects may be used on different threads, and the masks may be read anywhere.
class ZANTH_TOOLS_API ZCDateTime
{
public:
    // Month numbers as stored in the month field.
    enum TMonthName : LONG
    {
        January = 1,
        February,
        March,
        April,
        May,
        June,
        July,
        August,
        September,
        October,
        November,
        December
    };

    // The codes of a mask: each is the letter after a '%' (the values are those
    // letters, so a TFormatCodesPos code compares with them), with the width of its
    // text. FormatDate writes the field codes; the others are known to the scanner
    // only, and FormatDate copies them as they stand.
    enum TMaskCode : LONG
    {
        CodeNone = -1,          // no known code seen yet (TFormatCodesPos only)
        CodeDay = 'd',          // 2: the day
        CodeMonth = 'm',        // 2: the month
        CodeYear2 = 'y',        // 2: the year modulo 100 (read back as 1900 + yy)
        CodeYear = 'Y',         // 4: the year
        CodeHour = 'H',         // 2: the hour
        CodeHour12 = 'I',       // 2: the hour, less 12 when above 12
        CodeMinute = 'M',       // 2: the minute, padded with '0'
        CodeSecond = 'S',       // 2: the second, padded with '0'
        CodePercent = '%',      // 1: "%%" stands for a '%'
        CodeDayOfYear = 'j',    // 3
        CodeAmPm = 'p',         // 4
        CodeWeekSunday = 'U',   // 2: the week of the year, from Sunday
        CodeWeekMonday = 'W',   // 2: the week of the year, from Monday
        CodeWeekday = 'w',      // 2
        CodeShortWeekday = 'a', // -1: a name, of no fixed width
        CodeLongWeekday = 'A',  // -1
        CodeShortMonth = 'b',   // -1
        CodeLongMonth = 'B'     // -1
    };

    // The standard masks.
    static const TString DATEMASK_GERMAN;   // "%d.%m.%Y"
    static const TString DATEMASK_ENGLISH;  // "%d\%m\%Y" (backslashes)
    static const TString DATEMASK_AMERICAN; // "%m\%d\%Y" (backslashes)
    static const TString DATEMASK_SQL;      // "%Y-%m-%d"
    static const TString DATEMASK_SORT;     // "%Y%m%d"
    static const TString DATEMASK_D10;      // "%d.%m.%Y"
    static const TString DATEMASK_D8;       // "%d.%m.%y"
    static const TString TIMEMASK_T8;       // "%H:%M:%S"
    static const TString TIMEMASK_T5;       // "%H:%M"
    static const TString TIMEMASK_STANDARD; // "%H:%M:%S"

    ZCDateTime();
    ZCDateTime(const ZCDateTime& other);
    // The date and the time of `st`; a member out of range leaves its field empty.
    ZCDateTime(const SYSTEMTIME& st);
    // Stores the six values as they are, without any test.
    ZCDateTime(LONG day, LONG month, LONG year, LONG hour, LONG minute, LONG second);
    ZCDateTime& operator=(const ZCDateTime& other);
    // 1 when day, month, year and hour are equal; minute and second are not compared.
    unsigned int operator==(const ZCDateTime& other) const;

    // Field access. A setter stores an accepted value and returns 1; otherwise it
    // returns 0 and leaves the field as it was. Day judges the day against the month
    // and year as they stand; setting the month or year never adjusts the day.
    LONG Day() const { return m_Day; }
    unsigned int Day(LONG day, unsigned int allowEmpty);
    LONG Month() const { return m_Month; }
    unsigned int Month(LONG month, unsigned int allowEmpty);
    TMonthName MonthType() const { return static_cast<TMonthName>(m_Month); }
    unsigned int MonthType(TMonthName month, unsigned int allowEmpty);
    LONG Year() const { return m_Year; }
    unsigned int Year(LONG year, unsigned int allowEmpty);
    LONG Hour() const { return m_Hour; }
    unsigned int Hour(LONG hour, unsigned int allowEmpty);
    LONG Minute() const { return m_Minute; }
    unsigned int Minute(LONG minute, unsigned int allowEmpty);
    LONG Second() const { return m_Second; }
    unsigned int Second(LONG second, unsigned int allowEmpty);

    // The whole date: with allowEmpty field by field (year, month, day); without it
    // all or nothing, so an invalid or empty part leaves the date as it was.
    void Date(LONG day, LONG month, LONG year, unsigned int allowEmpty);
    // The whole time, field by field; a refused value does not stop the others.
    void Time(LONG hour, LONG minute, LONG second, unsigned int allowEmpty);

    // The clock, read once per call: System* in UTC, Local* in the local time zone.
    void LoadSystemDate();
    void LoadSystemTime();
    void LoadSystemDateTime();
    void LoadLocalDate();
    void LoadLocalTime();
    void LoadLocalDateTime();

    // Steps with carry into (and borrow from) the higher fields; each returns the new
    // value of the stepped field. allowEmpty is handed to every day test they make.
    LONG IncDay(unsigned int allowEmpty);
    LONG DecDay(unsigned int allowEmpty);
    LONG IncMonth(unsigned int allowEmpty);
    LONG DecMonth(unsigned int allowEmpty);
    LONG IncYear(unsigned int allowEmpty);
    LONG DecYear(unsigned int allowEmpty);
    LONG IncHour(unsigned int allowEmpty);
    LONG DecHour(unsigned int allowEmpty);
    LONG IncMinute(unsigned int allowEmpty);
    LONG DecMinute(unsigned int allowEmpty);
    LONG IncSecond(unsigned int allowEmpty);
    LONG DecSecond(unsigned int allowEmpty);

    // Tests; no field changes. IsValidDay takes the month first and judges February
    // by this value's own year.
    unsigned int IsLeapYear(LONG year) const;
    unsigned int IsValidDay(LONG month, LONG day, unsigned int allowEmpty) const;
    unsigned int IsValidMonth(LONG month, unsigned int allowEmpty) const;
    unsigned int IsValidYear(LONG year, unsigned int allowEmpty) const;
    unsigned int IsValidHour(LONG hour, unsigned int allowEmpty) const;
    unsigned int IsValidMinute(LONG minute, unsigned int allowEmpty) const;
    unsigned int IsValidSecond(LONG second, unsigned int allowEmpty) const;

    // Days since 1 January 1980 (0 for that day and every earlier date); hours and
    // minutes add the hour and minute fields as they stand (-1 when empty).
    LONGLONG GetDaysFrom1980() const;
    LONGLONG GetHoursFrom1980() const;
    LONGLONG GetMinsFrom1980() const;
    // Absolute differences of the counts above; the same whichever value is asked.
    LONGLONG GetDayDiff(const ZCDateTime& other) const;
    LONGLONG GetHourDiff(const ZCDateTime& other) const;
    LONGLONG GetMinDiff(const ZCDateTime& other) const;

    // The smallest k >= 1 with 10^k >= |n| (so an exact power of ten counts one
    // digit fewer than it is written with: 10 gives 1, 100 gives 2).
    LONG CountDigits(LONG n) const;

    // Formatting. FormatDate replaces every code of `format` by its field, padded on
    // the left to the code's width (%M and %S with '0', the others with `fill`); an
    // empty field becomes width times the padding. `option` has no effect.
    TString FormatDate(const TString& format, unsigned short fill, unsigned int option) const;
    // Empties `codes` and appends one entry per code of `format`, in order.
    void FormatCodeInterpreter(const TString& format, std::list<TFormatCodesPos>& codes) const;
    // The separator that follows a mask's first code (0 when there is none).
    unsigned short FillCharFromFormat(const WCHAR* format) const;
    unsigned short FillCharFromFormat(const TString& format) const;

    // Month names from the message store ("LongMonth" and "ShortMonth", messages 1
    // to 12 for January to December).
    TString MonthName(LONG month) const;
    TString MonthName() const;
    TString MonthName(TMonthName month) const;
    TString ShortMonthName(LONG month) const;
    TString ShortMonthName() const;
    TString ShortMonthName(TMonthName month) const;

    // Parsing. DateFromFormat reads `text` written in `format` (mask first) and, when
    // the whole value is valid, sets all six fields (fields the mask lacks become
    // empty) and returns 1; otherwise it returns 0 and changes nothing. `fill` is the
    // character that marks empty places in the text; it must not be a digit.
    unsigned int DateFromFormat(const TString& format, const TString& text, unsigned short fill,
                                unsigned int allowEmpty);
    // The same parse and result without changing the value.
    unsigned int IsValidDate(const TString& format, const TString& text, unsigned short fill,
                             unsigned int allowEmpty) const;
    // Whole-value tests on separate fields; `fill` has no effect.
    unsigned int IsValidDate(LONG day, LONG month, LONG year, unsigned short fill,
                             unsigned int allowEmpty) const;
    unsigned int IsValidTime(LONG hour, LONG minute, LONG second, unsigned int allowEmpty) const;
    unsigned int IsValidDateTime(LONG day, LONG month, LONG year, LONG hour, LONG minute,
                                 LONG second, unsigned int allowEmpty) const;

private:
    enum TInitType
    {
        InitDate = 0,
        InitTime = 1,
        InitDateTime = 2
    };

    // Lets the library's tests reach the private helpers.
    friend struct ZCDateTimeTestAccess;

    void InitClass(LONG day, LONG month, LONG year, LONG hour, LONG minute, LONG second);
    void InitClass(const ZCDateTime& other);
    void InitClass(const SYSTEMTIME& st, TInitType type);
    void InitDPM();
    void MakeValidDay(unsigned int allowEmpty);
    void LoadSystemTime(TInitType type);
    void LoadLocalTime(TInitType type);

    LONG FindMonthName(unsigned short catalog, unsigned short first, const TString& text,
                       LONG& month) const;
    LONG FindMonthNameShort(const TString& text, LONG& month) const;
    LONG FindMonthNameLong(const TString& text, LONG& month) const;

    unsigned int ValidDateHelper(TString format, TString& text, unsigned short fill, LONG& day,
                                 LONG& month, LONG& year, LONG& hour, LONG& minute, LONG& second,
                                 unsigned int allowEmpty) const;
    void CatchEmptysInNumber(TString& text, unsigned short fill) const;
    void CheckForEmpty(TString& out, unsigned short fill, LONG value, LONG width,
                       unsigned int option) const;

    // The length of a month in the year `year` (0 for a month outside 1 to 12, 31
    // for an empty one).
    LONG MonthLength(LONG month, LONG year) const;
    void NextMonth();
    void PreviousMonth();
    void NextHour(unsigned int allowEmpty);
    void PreviousHour(unsigned int allowEmpty);

    LONG m_Day;
    LONG m_Month;
    LONG m_Year;
    LONG m_Hour;
    LONG m_Minute;
    LONG m_Second;
    LONG m_DaysPerMonth[12];
};

#endif // ZANTH_DATETIME_H
