// ZCDateTime's formatting: masks filled with the fields, the scanner's list of
// codes, the fill character of a mask, and the month names.
#include "catalogs.h"
#include "datetimeimpl.h"

#include <string>

using namespace ZANTH::detail::dates;

namespace {

// Appends a field: `value` in decimal with its sign (nothing when `empty`), padded
// on the left with `pad` to `width` characters; a longer text is neither padded nor
// cut.
void AppendField(std::basic_string<WCHAR>& out, LONG value, bool empty, LONG width, WCHAR pad)
{
    WCHAR digits[12];
    LONG n = 0;
    if (!empty) {
        ULONG magnitude = value < 0 ? 0u - static_cast<ULONG>(value) : static_cast<ULONG>(value);
        do {
            digits[n++] = static_cast<WCHAR>(TEXT('0') + magnitude % 10);
            magnitude /= 10;
        } while (magnitude != 0);
        if (value < 0) {
            digits[n++] = TEXT('-');
        }
    }
    if (width > n) {
        out.append(static_cast<std::size_t>(width - n), pad);
    }
    while (n > 0) {
        out.push_back(digits[--n]);
    }
}

} // namespace

// ---------------------------------------------------------------------------------
// Formatting

// Each code is filled at its own place in one pass over the mask, so a literal that
// "%%" produces is never taken for a code. Codes that no field stands for (%a, %j,
// %p, ...), a '%' before a letter that is no code, and a '%' at the very end are
// copied as they stand.
TString ZCDateTime::FormatDate(const TString& format, unsigned short fill, unsigned int) const
{
    const std::basic_string<WCHAR>& mask = format.str();
    const WCHAR pad = static_cast<WCHAR>(fill);
    std::basic_string<WCHAR> out;
    out.reserve(mask.size() + 8);
    const std::size_t length = mask.size();
    for (std::size_t i = 0; i < length; ++i) {
        const WCHAR ch = mask[i];
        if (ch != TEXT('%') || i + 1 == length) {
            out.push_back(ch);
            continue;
        }
        const WCHAR code = mask[++i];
        switch (code) {
        case ZCDateTime::CodeDay:
            AppendField(out, m_Day, m_Day == kEmpty, 2, pad);
            break;
        case ZCDateTime::CodeMonth:
            AppendField(out, m_Month, m_Month == kEmpty, 2, pad);
            break;
        case ZCDateTime::CodeYear2:
            AppendField(out, m_Year % 100, m_Year == kEmpty, 2, pad);
            break;
        case ZCDateTime::CodeYear:
            AppendField(out, m_Year, m_Year == kEmpty, 4, pad);
            break;
        case ZCDateTime::CodeHour:
            AppendField(out, m_Hour, m_Hour == kEmpty, 2, pad);
            break;
        case ZCDateTime::CodeHour12:
            AppendField(out, m_Hour > 12 ? m_Hour - 12 : m_Hour, m_Hour == kEmpty, 2, pad);
            break;
        case ZCDateTime::CodeMinute:
            AppendField(out, m_Minute, m_Minute == kEmpty, 2, TEXT('0'));
            break;
        case ZCDateTime::CodeSecond:
            AppendField(out, m_Second, m_Second == kEmpty, 2, TEXT('0'));
            break;
        case ZCDateTime::CodePercent:
            out.push_back(TEXT('%'));
            break;
        default:
            out.push_back(TEXT('%'));
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
    while (format[at] && format[at] != TEXT('%')) {
        ++at;
    }
    if (!format[at]) {
        return format[1]; // no code: the second character (0 for a one-character mask)
    }
    if (!format[at + 1]) {
        return 0;
    }
    const WCHAR ch = format[at + 2];
    return ch == TEXT('%') ? 0 : ch;
}

unsigned short ZCDateTime::FillCharFromFormat(const TString& format) const
{
    const LONG at = format.Find(TEXT('%'));
    if (at < 0) {
        return format.GetAt(1);
    }
    const WCHAR ch = format.GetAt(at + 2);
    return ch == TEXT('%') ? 0 : ch;
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

void ZCDateTime::CheckForEmpty(TString& out, unsigned short fill, LONG value, LONG width,
                               unsigned int) const
{
    std::basic_string<WCHAR> text;
    AppendField(text, value, value == kEmpty, width, static_cast<WCHAR>(fill));
    out = TString(std::move(text));
}
