// Fuzzes the date masks: arbitrary masks, texts, fill characters and field values go
// through DateFromFormat, IsValidDate, ValidDateHelper, FormatDate,
// FormatCodeInterpreter and FillCharFromFormat, and the calendar steps run on
// whatever values come out.
//
// Input layout: byte 0 flags (bit 0 allowEmpty), bytes 1-2 the fill character,
// bytes 3-26 six 32-bit field values, byte 27 the mask length in UTF-16 units, then
// the mask and the text as UTF-16 units (a missing part is empty).
#include <zanth/datetime.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <list>
#include <string>

// Reaches the parser that always works on a copy of the text (declared a friend by
// the class for the library's tests).
struct ZCDateTimeTestAccess
{
    static unsigned int ValidDateHelper(const ZCDateTime& value, const TString& format,
                                        TString& text, unsigned short fill, LONG (&f)[6],
                                        unsigned int allowEmpty)
    {
        return value.ValidDateHelper(format, text, fill, f[0], f[1], f[2], f[3], f[4], f[5],
                                     allowEmpty);
    }
};

namespace {

std::basic_string<WCHAR> Units(const std::uint8_t* data, std::size_t count)
{
    std::basic_string<WCHAR> text(count, TEXT('\0'));
    std::memcpy(text.data(), data, count * 2);
    return text;
}

void Check(bool condition)
{
    if (!condition) {
        __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 28) {
        return 0;
    }
    const unsigned int allowEmpty = data[0] & 1;
    std::uint16_t fill;
    std::memcpy(&fill, data + 1, 2);
    LONG fields[6];
    std::memcpy(fields, data + 3, sizeof(fields));
    const std::size_t maskUnits = data[27];
    const std::uint8_t* rest = data + 28;
    const std::size_t restUnits = (size - 28) / 2;
    const std::size_t inMask = maskUnits < restUnits ? maskUnits : restUnits;
    const TString mask(Units(rest, inMask));
    const TString text(Units(rest + inMask * 2, restUnits - inMask));

    // Parsing: the result is all or nothing, and what it stores is valid. DateFromFormat
    // reads a text that needs no nudging in place; it must read what the parser that
    // works on a copy of the text reads.
    ZCDateTime value(fields[0], fields[1], fields[2], fields[3], fields[4], fields[5]);
    const ZCDateTime before(value);
    const unsigned int valid = value.IsValidDate(mask, text, fill, allowEmpty);
    const unsigned int parsed = value.DateFromFormat(mask, text, fill, allowEmpty);
    Check(valid == parsed);
    LONG copy[6] = {-1, -1, -1, -1, -1, -1};
    TString work(text);
    Check(ZCDateTimeTestAccess::ValidDateHelper(before, mask, work, fill, copy, allowEmpty) ==
          parsed);
    if (parsed) {
        Check(value.IsValidDateTime(value.Day(), value.Month(), value.Year(), value.Hour(),
                                    value.Minute(), value.Second(), allowEmpty) == 1);
        Check(value.Day() == copy[0] && value.Month() == copy[1] && value.Year() == copy[2] &&
              value.Hour() == copy[3] && value.Minute() == copy[4] && value.Second() == copy[5]);
    } else {
        Check(value.Day() == before.Day() && value.Month() == before.Month() &&
              value.Year() == before.Year() && value.Hour() == before.Hour() &&
              value.Minute() == before.Minute() && value.Second() == before.Second());
    }
    // The text read as a mask, and the mask read as a text.
    value.DateFromFormat(text, mask, fill, allowEmpty);

    // Formatting of the raw values and of the parsed ones.
    ZCDateTime raw(fields[0], fields[1], fields[2], fields[3], fields[4], fields[5]);
    const TString formatted = raw.FormatDate(mask, fill, 0);
    value.FormatDate(text, fill, 0);
    raw.DateFromFormat(mask, formatted, fill, allowEmpty);

    std::list<TFormatCodesPos> codes;
    raw.FormatCodeInterpreter(mask, codes);
    LONG previous = -1;
    for (const TFormatCodesPos& entry : codes) {
        Check(entry.position > previous || entry.position == 0x7fffffff);
        previous = entry.position;
    }
    if (mask.str().find(TEXT('\0')) == std::basic_string<WCHAR>::npos) {
        Check(raw.FillCharFromFormat(mask.c_str()) == raw.FillCharFromFormat(mask));
    }

    // A complete value in a mask of separated fields reads back unchanged.
    {
        const LONG day = 1 + static_cast<LONG>(static_cast<ULONG>(fields[0]) % 28);
        const LONG month = 1 + static_cast<LONG>(static_cast<ULONG>(fields[1]) % 12);
        const LONG year = 1 + static_cast<LONG>(static_cast<ULONG>(fields[2]) % 9999);
        const LONG hour = static_cast<LONG>(static_cast<ULONG>(fields[3]) % 24);
        const LONG minute = static_cast<LONG>(static_cast<ULONG>(fields[4]) % 60);
        const LONG second = static_cast<LONG>(static_cast<ULONG>(fields[5]) % 60);
        const ZCDateTime full(day, month, year, hour, minute, second);
        const TString fullMask(TEXT("%d.%m.%Y %H:%M:%S"));
        const TString written = full.FormatDate(fullMask, TEXT('_'), 0);
        ZCDateTime back;
        Check(back.DateFromFormat(fullMask, written, TEXT('_'), 0) == 1);
        Check(back.Day() == day && back.Month() == month && back.Year() == year &&
              back.Hour() == hour && back.Minute() == minute && back.Second() == second);
    }

    // Every step and count on the raw values: no overflow, no endless loop.
    using Step = LONG (ZCDateTime::*)(unsigned int);
    const Step steps[] = {&ZCDateTime::IncDay,    &ZCDateTime::DecDay,    &ZCDateTime::IncMonth,
                          &ZCDateTime::DecMonth,  &ZCDateTime::IncYear,   &ZCDateTime::DecYear,
                          &ZCDateTime::IncHour,   &ZCDateTime::DecHour,   &ZCDateTime::IncMinute,
                          &ZCDateTime::DecMinute, &ZCDateTime::IncSecond, &ZCDateTime::DecSecond};
    for (const Step step : steps) {
        ZCDateTime stepped(raw);
        (stepped.*step)(allowEmpty);
        Check(stepped.GetDayDiff(raw) >= 0 && stepped.GetMinDiff(raw) >= 0);
    }
    raw.CountDigits(fields[0]);
    raw.MonthName();
    raw.ShortMonthName();
    return 0;
}
