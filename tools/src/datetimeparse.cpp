// ZCDateTime's parsing: text written in a mask read back into the fields (straight
// from the text where it can be, otherwise in a working copy that is nudged into
// place), the whole-value tests, and the search for month names in a text.
#include "catalogs.h"
#include "datetimeimpl.h"

#include <algorithm>
#include <corewu/widestr.h>
#include <cstring>
#include <memory>
#include <string>

using namespace ZANTH::detail::dates;

namespace {

bool IsDigit(WCHAR ch)
{
    return ch >= TEXT('0') && ch <= TEXT('9');
}

// wcstol in base 10 (WStrToL). Up to nine plain digits, the case of every field
// that a mask writes, are read here directly; they cannot overflow.
LONG ReadNumber(const WCHAR* text, const WCHAR** end)
{
    const WCHAR* p = text;
    LONG value = 0;
    for (int n = 0; n < 9 && IsDigit(*p); ++n, ++p) {
        value = value * 10 + (*p - TEXT('0'));
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

    TString ToString() const { return TString(std::basic_string<WCHAR>(m_Data, m_Length)); }

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
    case ZCDateTime::CodeDay:
        return 0;
    case ZCDateTime::CodeMonth:
        return 1;
    case ZCDateTime::CodeYear:
    case ZCDateTime::CodeYear2:
        return 2;
    case ZCDateTime::CodeHour:
        return 3;
    case ZCDateTime::CodeMinute:
        return 4;
    case ZCDateTime::CodeSecond:
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
    if (code == ZCDateTime::CodeYear2 && magnitude != 0) {
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
                if (chars[i] == fill || chars[i] == TEXT('0')) {
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
    LONG code = ZCDateTime::CodeNone;
    LONG width = 0;
    for (std::size_t i = 0; i < maskLength; ++i) {
        if (mask[i] != TEXT('%')) {
            ++position;
            continue;
        }
        const WCHAR letter = i + 1 < maskLength ? mask[i + 1] : WCHAR(0);
        CodeWidth(letter, code, width);
        ++i; // the letter belongs to the code
        const LONGLONG at = position;
        position += letter == ZCDateTime::CodeYear ? 4 : 2;
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
                    number = number * 10 + (start[n] - TEXT('0'));
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
            read[field] = code == ZCDateTime::CodeYear2 ? number + 1900 : number;
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
