// What the date-time value, its formatting and its parser share: the empty-field
// mark, the calendar tests, the code letters' widths and the mask scanner.
#ifndef ZANTH_SRC_DATETIMEIMPL_H
#define ZANTH_SRC_DATETIMEIMPL_H

#include <zanth/datetime.h>

#include <cstddef>
#include <limits>

namespace ZANTH::detail::dates {

constexpr LONG kEmpty = -1;
constexpr LONG kLongMax = std::numeric_limits<LONG>::max();
constexpr LONG kLongMin = std::numeric_limits<LONG>::min();

// Widths of the code letters, indexed by the letter (0: the letter is no code).
struct CodeWidthTable
{
    signed char width[128] = {};
    constexpr CodeWidthTable()
    {
        for (LONG c : {ZCDateTime::CodeDay, ZCDateTime::CodeMonth, ZCDateTime::CodeYear2,
                       ZCDateTime::CodeHour, ZCDateTime::CodeHour12, ZCDateTime::CodeMinute,
                       ZCDateTime::CodeSecond, ZCDateTime::CodeWeekSunday,
                       ZCDateTime::CodeWeekMonday, ZCDateTime::CodeWeekday}) {
            width[c] = 2;
        }
        width[ZCDateTime::CodeYear] = 4;
        width[ZCDateTime::CodeAmPm] = 4;
        width[ZCDateTime::CodeDayOfYear] = 3;
        width[ZCDateTime::CodePercent] = 1;
        for (LONG c : {ZCDateTime::CodeShortWeekday, ZCDateTime::CodeLongWeekday,
                       ZCDateTime::CodeShortMonth, ZCDateTime::CodeLongMonth}) {
            width[c] = -1;
        }
    }
};
inline constexpr CodeWidthTable kCodeWidths;

// Width of a code letter, or false when the letter is no code.
inline bool CodeWidth(WCHAR ch, LONG& width)
{
    if (ch >= 128 || kCodeWidths.width[ch] == 0) {
        return false;
    }
    width = kCodeWidths.width[ch];
    return true;
}

// Remembers a code letter and its width; a letter that is no code keeps the code and
// width remembered before.
inline void CodeWidth(WCHAR ch, LONG& code, LONG& width)
{
    if (CodeWidth(ch, width)) {
        code = ch;
    }
}

// The scanner behind FormatCodeInterpreter. A '%' followed by a letter that is no
// code (or by nothing) still yields an entry, carrying the code and width of the
// previous one. Positions count the literal characters before a code, 2 for every
// earlier code and 2 more for every earlier %Y: where the code's text starts in the
// output of FormatDate for masks made of field codes and literal characters.
// `add` returns false to stop the scan.
template <class Add> void ScanCodes(const WCHAR* format, std::size_t length, Add&& add)
{
    LONGLONG position = 0;
    LONG code = ZCDateTime::CodeNone;
    LONG width = 0;
    std::size_t rest = 0;
    for (;;) {
        std::size_t at = rest;
        while (at < length && format[at] != TEXT('%')) {
            ++at;
        }
        if (at >= length) {
            return;
        }
        position += static_cast<LONGLONG>(at - rest);
        const WCHAR ch = at + 1 < length ? format[at + 1] : WCHAR(0);
        CodeWidth(ch, code, width);
        if (!add(TFormatCodesPos{code, position > kLongMax ? kLongMax : static_cast<LONG>(position),
                                 width})) {
            return;
        }
        rest = at + 2 < length ? at + 2 : length;
        position += ch == ZCDateTime::CodeYear ? 4 : 2;
    }
}

inline bool InRange(LONG value, LONG low, LONG high, unsigned int allowEmpty)
{
    return (value >= low && value <= high) || (value == kEmpty && allowEmpty);
}

inline bool IsLeap(LONG year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// The length of a month: 31 for an empty month, 0 for one outside 1 to 12, and
// February by the year (29 when the year is empty or negative).
inline LONG LengthOfMonth(const LONG (&daysPerMonth)[12], LONG month, LONG year)
{
    if (month == kEmpty) {
        return 31;
    }
    if (month < 1 || month > 12) {
        return 0;
    }
    if (month == 2) {
        return (year < 0 || IsLeap(year)) ? 29 : 28;
    }
    return daysPerMonth[month - 1];
}

// The day test: below 1 only with allowEmpty and never 0; otherwise up to the
// month's length.
inline bool DayFits(const LONG (&daysPerMonth)[12], LONG month, LONG day, LONG year,
                    unsigned int allowEmpty)
{
    if (day < 1) {
        return allowEmpty && day != 0;
    }
    return day <= LengthOfMonth(daysPerMonth, month, year);
}

// The whole-value test, in the order year, month, day, hour, minute, second.
inline bool FieldsValid(const LONG (&daysPerMonth)[12], const LONG (&f)[6], unsigned int allowEmpty)
{
    return InRange(f[2], 0, 9999, allowEmpty) && InRange(f[1], 1, 12, allowEmpty) &&
           DayFits(daysPerMonth, f[1], f[0], f[2], allowEmpty) &&
           InRange(f[3], 0, 23, allowEmpty) && InRange(f[4], 0, 59, allowEmpty) &&
           InRange(f[5], 0, 59, allowEmpty);
}

} // namespace ZANTH::detail::dates

#endif // ZANTH_SRC_DATETIMEIMPL_H
