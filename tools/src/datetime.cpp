// ZCDateTime: the value and its calendar arithmetic, formatting through masks, the
// month names, and parsing of text written in a mask.
#include <zanth/datetime.h>

#include "catalogs.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

namespace {

constexpr LONG kDaysPerMonth[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

constexpr LONG kEmpty = -1;
constexpr LONG kLongMax = std::numeric_limits<LONG>::max();
constexpr LONG kLongMin = std::numeric_limits<LONG>::min();

// Widths of the code letters, indexed by the letter (0: the letter is no code).
struct CodeWidthTable
{
    signed char width[128] = {};
    constexpr CodeWidthTable()
    {
        for (char c : {'d', 'm', 'y', 'H', 'I', 'M', 'S', 'U', 'W', 'w'}) {
            width[static_cast<unsigned char>(c)] = 2;
        }
        width[static_cast<unsigned char>('Y')] = 4;
        width[static_cast<unsigned char>('p')] = 4;
        width[static_cast<unsigned char>('j')] = 3;
        width[static_cast<unsigned char>('%')] = 1;
        for (char c : {'a', 'A', 'b', 'B'}) {
            width[static_cast<unsigned char>(c)] = -1;
        }
    }
};
constexpr CodeWidthTable kCodeWidths;

// Width of a code letter, or false when the letter is no code.
bool CodeWidth(WCHAR ch, LONG& width)
{
    if (ch >= 128 || kCodeWidths.width[ch] == 0) {
        return false;
    }
    width = kCodeWidths.width[ch];
    return true;
}

// Remembers a code letter and its width; a letter that is no code keeps the code and
// width remembered before.
void CodeWidth(WCHAR ch, LONG& code, LONG& width)
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
    LONG code = -1;
    LONG width = 0;
    std::size_t rest = 0;
    for (;;) {
        std::size_t at = rest;
        while (at < length && format[at] != u'%') {
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
        position += ch == u'Y' ? 4 : 2;
    }
}

// Appends a field: `value` in decimal with its sign (nothing when `empty`), padded
// on the left with `pad` to `width` characters; a longer text is neither padded nor
// cut.
void AppendField(std::u16string& out, LONG value, bool empty, LONG width, WCHAR pad)
{
    WCHAR digits[12];
    LONG n = 0;
    if (!empty) {
        ULONG magnitude = value < 0 ? 0u - static_cast<ULONG>(value) : static_cast<ULONG>(value);
        do {
            digits[n++] = static_cast<WCHAR>(u'0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude != 0);
        if (value < 0) {
            digits[n++] = u'-';
        }
    }
    if (width > n) {
        out.append(static_cast<std::size_t>(width - n), pad);
    }
    while (n > 0) {
        out.push_back(digits[--n]);
    }
}

bool IsDigit(WCHAR ch)
{
    return ch >= u'0' && ch <= u'9';
}

bool InRange(LONG value, LONG low, LONG high, unsigned int allowEmpty)
{
    return (value >= low && value <= high) || (value == kEmpty && allowEmpty);
}

bool IsLeap(LONG year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// The length of a month: 31 for an empty month, 0 for one outside 1 to 12, and
// February by the year (29 when the year is empty or negative).
LONG LengthOfMonth(const LONG (&daysPerMonth)[12], LONG month, LONG year)
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
bool DayFits(const LONG (&daysPerMonth)[12], LONG month, LONG day, LONG year,
             unsigned int allowEmpty)
{
    if (day < 1) {
        return allowEmpty && day != 0;
    }
    return day <= LengthOfMonth(daysPerMonth, month, year);
}

// The whole-value test, in the order year, month, day, hour, minute, second.
bool FieldsValid(const LONG (&daysPerMonth)[12], const LONG (&f)[6], unsigned int allowEmpty)
{
    return InRange(f[2], 0, 9999, allowEmpty) && InRange(f[1], 1, 12, allowEmpty) &&
           DayFits(daysPerMonth, f[1], f[0], f[2], allowEmpty) &&
           InRange(f[3], 0, 23, allowEmpty) && InRange(f[4], 0, 59, allowEmpty) &&
           InRange(f[5], 0, 59, allowEmpty);
}

// wcstol in base 10 (WStrToL). Up to nine plain digits, the case of every field
// that a mask writes, are read here directly; they cannot overflow.
LONG ReadNumber(const WCHAR* text, const WCHAR** end)
{
    const WCHAR* p = text;
    LONG value = 0;
    for (int n = 0; n < 9 && IsDigit(*p); ++n, ++p) {
        value = value * 10 + (*p - u'0');
    }
    if (p != text && !IsDigit(*p)) {
        *end = p;
        return value;
    }
    return ::WStrToL(text, end, 10); // blanks, a sign, no digit, or a long number
}

// Whether the `width` characters at `field` (of `available`) are all `fill` and no
// digit follows them: how FormatDate writes an empty field. A digit right after
// them means a number padded with more fill characters than the field holds.
bool IsEmptyField(const WCHAR* field, LONG available, LONG width, WCHAR fill)
{
    if (IsDigit(fill) || width < 1 || width > available) {
        return false;
    }
    for (LONG i = 0; i < width; ++i) {
        if (field[i] != fill) {
            return false;
        }
    }
    return width == available || !IsDigit(field[width]);
}

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

// The parser's working copy of a text: inline up to a few dozen characters, so that
// parsing a short text allocates nothing. It is always terminated, so a number
// read with WStrToL ends at the text's end at the latest.
class WorkText
{
public:
    // Copies the text and removes every fill character that stands between two
    // digits, as the parser's first step. Neighbours are judged in the text as
    // given, so of two fill characters in a row between digits neither is removed.
    WorkText(const WCHAR* chars, LONG length, WCHAR fill)
    {
        const std::size_t n = length > 0 ? static_cast<std::size_t>(length) : 0;
        Reserve(n + 8); // room for the few characters that nudging inserts
        std::size_t first = 0;
        while (first < n && chars[first] != fill) {
            ++first;
        }
        std::memcpy(m_Data, chars, first * sizeof(WCHAR)); // nothing to drop before it
        std::size_t kept = first;
        for (std::size_t i = first; i < n; ++i) {
            const WCHAR ch = chars[i];
            if (ch == fill && i > 0 && i + 1 < n && IsDigit(chars[i - 1]) &&
                IsDigit(chars[i + 1])) {
                continue;
            }
            m_Data[kept++] = ch;
        }
        SetLength(static_cast<LONG>(kept));
    }
    WorkText(const WorkText&) = delete;
    WorkText& operator=(const WorkText&) = delete;

    const WCHAR* Data() const { return m_Data; }
    WCHAR* Data() { return m_Data; }
    LONG Length() const { return static_cast<LONG>(m_Length); }
    void SetLength(LONG length)
    {
        m_Length = static_cast<std::size_t>(length);
        m_Data[m_Length] = 0;
    }

    void Insert(LONG at, WCHAR ch)
    {
        Reserve(m_Length + 1);
        const std::size_t i = static_cast<std::size_t>(at);
        std::memmove(m_Data + i + 1, m_Data + i, (m_Length - i + 1) * sizeof(WCHAR));
        m_Data[i] = ch;
        ++m_Length;
    }

    void Remove(LONG at)
    {
        const std::size_t i = static_cast<std::size_t>(at);
        std::memmove(m_Data + i, m_Data + i + 1, (m_Length - i) * sizeof(WCHAR));
        --m_Length;
    }

    TString ToString() const { return TString(std::u16string(m_Data, m_Length)); }

private:
    static constexpr std::size_t kInline = 64;

    // Room for `length` characters and the terminator; keeps what is held.
    void Reserve(std::size_t length)
    {
        if (length < m_Capacity) {
            return;
        }
        const std::size_t capacity = length * 2 + 1;
        std::unique_ptr<WCHAR[]> grown(new WCHAR[capacity]);
        std::memcpy(grown.get(), m_Data, m_Length * sizeof(WCHAR));
        grown[m_Length] = 0;
        m_Heap = std::move(grown);
        m_Data = m_Heap.get();
        m_Capacity = capacity;
    }

    WCHAR m_Inline[kInline];
    std::unique_ptr<WCHAR[]> m_Heap;
    WCHAR* m_Data = m_Inline;
    std::size_t m_Capacity = kInline;
    std::size_t m_Length = 0;
};

// The field that a code reads: 0 to 5 for day, month, year, hour, minute and
// second; -1 for "%%" (which stands for its one character) and the codes that are
// not read. Neither of those changes the text.
int FieldOf(LONG code)
{
    switch (code) {
    case u'd':
        return 0;
    case u'm':
        return 1;
    case u'Y':
    case u'y':
        return 2;
    case u'H':
        return 3;
    case u'M':
        return 4;
    case u'S':
        return 5;
    default:
        return -1;
    }
}

// Stores the number read for a code: the sign is ignored and numbers too large for
// a field stay too large. A zero day, month or year is empty; a zero hour, minute
// or second is 0. A two-digit year always lies in the 1900s.
void StoreField(LONG (&fields)[6], int field, LONG code, LONGLONG number)
{
    LONGLONG magnitude = number < 0 ? -number : number;
    if (code == u'y' && magnitude != 0) {
        magnitude += 1900;
    }
    const LONG value = magnitude > kLongMax ? kLongMax : static_cast<LONG>(magnitude);
    fields[field] = (value == 0 && field <= 2) ? kEmpty : value;
}

// The parser (after the working copy has dropped the fill characters inside
// numbers): reads each field at the position that the mask gives it, and nudges
// the text by one character where a number was shorter or longer than its field,
// so that the later fields are found where the mask expects them. `fields` holds
// day, month, year, hour, minute and second; a field whose code the mask lacks
// keeps its value.
void ReadFields(const WCHAR* mask, std::size_t maskLength, WorkText& text, WCHAR fill,
                LONG (&fields)[6])
{
    // Each code is read as the scanner finds it: the positions of later codes do
    // not depend on what the text holds.
    ScanCodes(mask, maskLength, [&text, fill, &fields](const TFormatCodesPos& entry) {
        const int field = FieldOf(entry.code);
        if (field < 0) {
            return true;
        }

        const LONG length = text.Length();
        const LONG position = entry.position;
        const LONG width = entry.width;
        LONG consumed = 0;
        LONGLONG number = 0;
        if (position < length) {
            const WCHAR* start = text.Data() + position;
            const WCHAR* digits = start;
            if (*start == fill && !IsDigit(fill)) {
                if (IsEmptyField(start, length - position, width, fill)) {
                    // A field written as nothing but fill characters is empty: step
                    // over its width instead of nudging the fields after it.
                    digits = nullptr;
                    consumed = width;
                } else {
                    // Fill characters that pad the number on the left are passed
                    // over as wcstol passes over blanks, so that a field written as
                    // "_5" reads as 5 in two characters whatever the fill is.
                    while (*digits && *digits == fill) {
                        ++digits;
                    }
                }
            }
            if (digits) {
                const WCHAR* end = digits;
                number = ReadNumber(digits, &end);
                consumed = end == digits ? 0 : static_cast<LONG>(end - start);
            }
        }
        StoreField(fields, field, entry.code, number);

        if (consumed > width) {
            // One character too many: drop the first fill character or '0' from the
            // field on, so that the later fields move back to where the mask has them.
            const WCHAR* chars = text.Data();
            for (LONG i = position; i < length; ++i) {
                if (chars[i] == fill || chars[i] == u'0') {
                    text.Remove(i);
                    break;
                }
            }
        } else if (consumed < width) {
            // Too short: one fill character right after what was read moves the later
            // fields forward by one place.
            text.Insert(position + consumed < length ? position + consumed : length, fill);
        }
        return true;
    });
}

// Reads the fields straight from the caller's text, for the texts met in practice: no
// fill character stands between two digits (so the working copy would drop nothing),
// and under every code that is read stand fill characters followed by digits, no more
// than the code's width of them, or fill characters only for the whole width (an
// empty field), or nothing at all past the end of the text. The parser then never
// removes a character and inserts fill characters only right after a number shorter
// than its field, or at the end of the text; every later field lies after the
// characters inserted so far, so it is found in the caller's text by counting them.
// Anything else (a number longer than its field, a sign, blanks before a number when
// they are not the fill character, a field that would start on an inserted
// character, a fill character of 0) returns false, with `fields` untouched, and the
// caller parses a working copy from the start.
bool ReadFieldsInPlace(const WCHAR* mask, std::size_t maskLength, const WCHAR* text, LONG length,
                       WCHAR fill, LONG (&fields)[6])
{
    // A fill character of 0 would meet the terminator; such texts take the long way.
    if (fill == 0) {
        return false;
    }
    const bool padding = !IsDigit(fill);
    LONG read[6];
    std::memcpy(read, fields, sizeof(read));
    LONG inserted = 0;        // fill characters that the parser has inserted so far
    LONGLONG lastInsert = -1; // where the last of them stands in the nudged text
    // The codes and their positions exactly as ScanCodes finds them, in one pass.
    LONGLONG position = 0;
    LONG code = -1;
    LONG width = 0;
    for (std::size_t i = 0; i < maskLength; ++i) {
        if (mask[i] != u'%') {
            ++position;
            continue;
        }
        const WCHAR letter = i + 1 < maskLength ? mask[i + 1] : WCHAR(0);
        CodeWidth(letter, code, width);
        ++i; // the letter belongs to the code
        const LONGLONG at = position;
        position += letter == u'Y' ? 4 : 2;
        const int field = FieldOf(code);
        if (field < 0) {
            continue;
        }
        const LONGLONG nudgedLength = static_cast<LONGLONG>(length) + inserted;
        LONG consumed = 0; // nothing to read past the end
        LONG number = 0;
        if (at < nudgedLength) {
            if (at <= lastInsert) {
                return false;
            }
            // The text is terminated and no fill character is 0, so neither loop
            // passes the terminator.
            const WCHAR* start = text + (at - inserted);
            LONG n = 0;
            if (padding) {
                while (n < width && start[n] == fill) {
                    ++n;
                }
            }
            if (n == width) {
                if (IsDigit(start[width])) {
                    return false; // a number padded beyond its field
                }
                consumed = width; // an empty field is stepped over
            } else {
                const LONG first = n;
                for (; n < width && IsDigit(start[n]); ++n) {
                    number = number * 10 + (start[n] - u'0');
                }
                if (n == first || IsDigit(start[n])) {
                    return false; // no number here, or one longer than its field
                }
                consumed = n;
            }
        }
        // At most four digits: no sign, no overflow.
        if (number == 0) {
            read[field] = field <= 2 ? kEmpty : 0;
        } else {
            read[field] = code == u'y' ? number + 1900 : number;
        }
        if (consumed < width) {
            lastInsert = at + consumed < nudgedLength ? at + consumed : nudgedLength;
            ++inserted;
        }
    }
    // Checked last, as the texts that take the long way mostly fail above already.
    if (length > 2) {
        const WCHAR* const last = text + length - 1; // a fill character at either end stays
        for (const WCHAR* p = std::find(text + 1, last, fill); p != last;
             p = std::find(p + 1, last, fill)) {
            if (IsDigit(p[-1]) && IsDigit(p[1])) {
                return false; // the working copy would drop it
            }
        }
    }
    std::memcpy(fields, read, sizeof(read));
    return true;
}

// Parses `text` written in `mask` into `fields` (day to second): straight from the
// text when that is possible, otherwise in a working copy.
void ParseFields(const TString& mask, const TString& text, WCHAR fill, LONG (&fields)[6])
{
    const WCHAR* chars = text.c_str();
    const LONG length = text.GetLength();
    const std::size_t maskLength = static_cast<std::size_t>(mask.GetLength());
    if (ReadFieldsInPlace(mask.c_str(), maskLength, chars, length, fill, fields)) {
        return;
    }
    WorkText work(chars, length, fill);
    ReadFields(mask.c_str(), maskLength, work, fill, fields);
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

// ---------------------------------------------------------------------------------
// Formatting

// Each code is filled at its own place in one pass over the mask, so a literal that
// "%%" produces is never taken for a code. Codes that no field stands for (%a, %j,
// %p, ...), a '%' before a letter that is no code, and a '%' at the very end are
// copied as they stand.
TString ZCDateTime::FormatDate(const TString& format, unsigned short fill, unsigned int) const
{
    const std::u16string& mask = format.str();
    const WCHAR pad = static_cast<WCHAR>(fill);
    std::u16string out;
    out.reserve(mask.size() + 8);
    const std::size_t length = mask.size();
    for (std::size_t i = 0; i < length; ++i) {
        const WCHAR ch = mask[i];
        if (ch != u'%' || i + 1 == length) {
            out.push_back(ch);
            continue;
        }
        const WCHAR code = mask[++i];
        switch (code) {
        case u'd':
            AppendField(out, m_Day, m_Day == kEmpty, 2, pad);
            break;
        case u'm':
            AppendField(out, m_Month, m_Month == kEmpty, 2, pad);
            break;
        case u'y':
            AppendField(out, m_Year % 100, m_Year == kEmpty, 2, pad);
            break;
        case u'Y':
            AppendField(out, m_Year, m_Year == kEmpty, 4, pad);
            break;
        case u'H':
            AppendField(out, m_Hour, m_Hour == kEmpty, 2, pad);
            break;
        case u'I':
            AppendField(out, m_Hour > 12 ? m_Hour - 12 : m_Hour, m_Hour == kEmpty, 2, pad);
            break;
        case u'M':
            AppendField(out, m_Minute, m_Minute == kEmpty, 2, u'0');
            break;
        case u'S':
            AppendField(out, m_Second, m_Second == kEmpty, 2, u'0');
            break;
        case u'%':
            out.push_back(u'%');
            break;
        default:
            out.push_back(u'%');
            out.push_back(code);
            break;
        }
    }
    return TString(std::move(out));
}

void ZCDateTime::FormatCodeInterpreter(const TString& format,
                                       std::list<TFormatCodesPos>& codes) const
{
    codes.clear();
    ScanCodes(format.c_str(), static_cast<std::size_t>(format.GetLength()),
              [&codes](const TFormatCodesPos& entry) {
                  codes.push_back(entry);
                  return true;
              });
}

unsigned short ZCDateTime::FillCharFromFormat(const WCHAR* format) const
{
    if (!format || !format[0]) {
        return 0;
    }
    std::size_t at = 0;
    while (format[at] && format[at] != u'%') {
        ++at;
    }
    if (!format[at]) {
        return format[1]; // no code: the second character (0 for a one-character mask)
    }
    if (!format[at + 1]) {
        return 0;
    }
    const WCHAR ch = format[at + 2];
    return ch == u'%' ? 0 : ch;
}

unsigned short ZCDateTime::FillCharFromFormat(const TString& format) const
{
    const LONG at = format.Find(u'%');
    if (at < 0) {
        return format.GetAt(1);
    }
    const WCHAR ch = format.GetAt(at + 2);
    return ch == u'%' ? 0 : ch;
}

// ---------------------------------------------------------------------------------
// Month names

TString ZCDateTime::MonthName(LONG month) const
{
    return GetMessageW(ZANTH::detail::g_LongMonthCatalog, static_cast<WORD>(month),
                       TString::NullString, TString::NullString, TString::NullString);
}

TString ZCDateTime::MonthName() const
{
    return MonthName(m_Month);
}

TString ZCDateTime::MonthName(TMonthName month) const
{
    return MonthName(static_cast<LONG>(month));
}

TString ZCDateTime::ShortMonthName(LONG month) const
{
    return GetMessageW(ZANTH::detail::g_ShortMonthCatalog, static_cast<WORD>(month),
                       TString::NullString, TString::NullString, TString::NullString);
}

TString ZCDateTime::ShortMonthName() const
{
    return ShortMonthName(m_Month);
}

TString ZCDateTime::ShortMonthName(TMonthName month) const
{
    return ShortMonthName(static_cast<LONG>(month));
}

// Looks for the twelve names in `text` in month order and reports the first that
// occurs as its month index 0 to 11; returns the position just after the name, or
// -1. An empty name (an application may install one) never matches.
LONG ZCDateTime::FindMonthName(unsigned short catalog, unsigned short first, const TString& text,
                               LONG& month) const
{
    month = -1;
    for (LONG i = 0; i < 12; ++i) {
        const TString name = GetMessageW(catalog, static_cast<WORD>(first + i), TString::NullString,
                                         TString::NullString, TString::NullString);
        if (name.IsEmpty()) {
            continue;
        }
        const LONG at = text.Find(name.c_str());
        if (at >= 0) {
            month = i;
            return at + name.GetLength();
        }
    }
    return -1;
}

// Both searches start at message 1, the number that MonthName and ShortMonthName
// read for January, so that they look at exactly the names those return.
LONG ZCDateTime::FindMonthNameShort(const TString& text, LONG& month) const
{
    return FindMonthName(ZANTH::detail::g_ShortMonthCatalog, 1, text, month);
}

LONG ZCDateTime::FindMonthNameLong(const TString& text, LONG& month) const
{
    return FindMonthName(ZANTH::detail::g_LongMonthCatalog, 1, text, month);
}

// ---------------------------------------------------------------------------------
// Parsing and validation

unsigned int ZCDateTime::IsValidDate(LONG day, LONG month, LONG year, unsigned short,
                                     unsigned int allowEmpty) const
{
    return InRange(year, 0, 9999, allowEmpty) && InRange(month, 1, 12, allowEmpty) &&
           DayFits(m_DaysPerMonth, month, day, year, allowEmpty);
}

unsigned int ZCDateTime::IsValidTime(LONG hour, LONG minute, LONG second,
                                     unsigned int allowEmpty) const
{
    return InRange(hour, 0, 23, allowEmpty) && InRange(minute, 0, 59, allowEmpty) &&
           InRange(second, 0, 59, allowEmpty);
}

unsigned int ZCDateTime::IsValidDateTime(LONG day, LONG month, LONG year, LONG hour, LONG minute,
                                         LONG second, unsigned int allowEmpty) const
{
    const LONG fields[6] = {day, month, year, hour, minute, second};
    return FieldsValid(m_DaysPerMonth, fields, allowEmpty);
}

void ZCDateTime::CatchEmptysInNumber(TString& text, unsigned short fill) const
{
    const WorkText work(text.c_str(), text.GetLength(), static_cast<WCHAR>(fill));
    text = work.ToString();
}

void ZCDateTime::CheckForEmpty(TString& out, unsigned short fill, LONG value, LONG width,
                               unsigned int) const
{
    std::u16string text;
    AppendField(text, value, value == kEmpty, width, static_cast<WCHAR>(fill));
    out = TString(std::move(text));
}

unsigned int ZCDateTime::ValidDateHelper(TString format, TString& text, unsigned short fill,
                                         LONG& day, LONG& month, LONG& year, LONG& hour,
                                         LONG& minute, LONG& second, unsigned int allowEmpty) const
{
    WorkText work(text.c_str(), text.GetLength(), static_cast<WCHAR>(fill));
    LONG fields[6] = {day, month, year, hour, minute, second};
    ReadFields(format.c_str(), static_cast<std::size_t>(format.GetLength()), work,
               static_cast<WCHAR>(fill), fields);
    text = work.ToString();
    day = fields[0];
    month = fields[1];
    year = fields[2];
    hour = fields[3];
    minute = fields[4];
    second = fields[5];
    return IsValidDateTime(day, month, year, hour, minute, second, allowEmpty);
}

// DateFromFormat and IsValidDate do the steps of ValidDateHelper without its string
// round trip, and read a text that needs no nudging without copying it.
unsigned int ZCDateTime::DateFromFormat(const TString& format, const TString& text,
                                        unsigned short fill, unsigned int allowEmpty)
{
    LONG f[6] = {kEmpty, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty};
    ParseFields(format, text, static_cast<WCHAR>(fill), f);
    if (!FieldsValid(m_DaysPerMonth, f, allowEmpty)) {
        return 0;
    }
    m_Day = f[0];
    m_Month = f[1];
    m_Year = f[2];
    m_Hour = f[3];
    m_Minute = f[4];
    m_Second = f[5];
    return 1;
}

unsigned int ZCDateTime::IsValidDate(const TString& format, const TString& text,
                                     unsigned short fill, unsigned int allowEmpty) const
{
    LONG f[6] = {kEmpty, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty};
    ParseFields(format, text, static_cast<WCHAR>(fill), f);
    return FieldsValid(m_DaysPerMonth, f, allowEmpty);
}
