// The printf-style engine behind TString::Format. Numbers are laid out by the C
// library's snprintf (so widths, flags and precisions behave exactly as in C);
// strings and characters are handled here because they are UTF-16.
#include <corewu/tstring.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <string>

namespace {

// The largest width or precision honoured; larger ones are taken as this.
constexpr int kMaxField = 100000;

enum class Length
{
    Default,
    Char,
    Short,
    Long64,
    Size,
    LongDouble
};

struct Directive
{
    std::string flags;
    int width = -1;
    int precision = -1;
    Length length = Length::Default;
    char conversion = 0;
};

void AppendAscii(std::basic_string<WCHAR>& out, const char* text, int n)
{
    for (int i = 0; i < n; ++i) {
        out.push_back(static_cast<unsigned char>(text[i]));
    }
}

// Runs snprintf with a directive built from the parsed fields and one value.
template <class Value>
void AppendNumber(std::basic_string<WCHAR>& out, const Directive& directive, const char* lengthTag,
                  Value value)
{
    std::string format(1, '%');
    format += directive.flags;
    if (directive.width >= 0) {
        format += std::to_string(directive.width);
    }
    if (directive.precision >= 0) {
        format += '.';
        format += std::to_string(directive.precision);
    }
    format += lengthTag;
    format += directive.conversion;
    char small[128];
    int n = std::snprintf(small, sizeof small, format.c_str(), value);
    if (n < 0) {
        return;
    }
    if (n < static_cast<int>(sizeof small)) {
        AppendAscii(out, small, n);
        return;
    }
    std::string large(static_cast<std::size_t>(n) + 1, '\0');
    std::snprintf(large.data(), large.size(), format.c_str(), value);
    AppendAscii(out, large.data(), n);
}

void AppendPadded(std::basic_string<WCHAR>& out, const Directive& directive,
                  const std::basic_string<WCHAR>& text)
{
    const bool left = directive.flags.find('-') != std::string::npos;
    const std::size_t width = directive.width > 0 ? static_cast<std::size_t>(directive.width) : 0;
    const std::size_t pad = width > text.size() ? width - text.size() : 0;
    if (!left) {
        out.append(pad, TEXT(' '));
    }
    out += text;
    if (left) {
        out.append(pad, TEXT(' '));
    }
}

// A UTF-16 argument. With a precision the array need not be terminated (as in
// C): no unit beyond the precision is read.
std::basic_string<WCHAR> WideArgument(const WCHAR* text, int precision)
{
    std::size_t n = 0;
    if (precision < 0) {
        while (text[n]) {
            ++n;
        }
    } else {
        while (n < static_cast<std::size_t>(precision) && text[n]) {
            ++n;
        }
    }
    return std::basic_string<WCHAR>(text, n);
}

// The length of the UTF-8 sequence (or of the maximal subpart of an ill-formed one)
// at `s`, and the UTF-16 units it decodes to. Bytes are read one at a time and the
// scan stops at the first byte that cannot continue the sequence (a terminator
// cannot), so nothing past the character is touched.
std::size_t Utf8SequenceLength(const unsigned char* s, int& units)
{
    units = 1;
    const unsigned char c = s[0];
    int extra = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        extra = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
        extra = 2;
        low = c == 0xE0 ? 0xA0 : 0x80;
        high = c == 0xED ? 0x9F : 0xBF;
    } else if (c >= 0xF0 && c <= 0xF4) {
        extra = 3;
        low = c == 0xF0 ? 0x90 : 0x80;
        high = c == 0xF4 ? 0x8F : 0xBF;
    }
    for (int k = 1; k <= extra; ++k) {
        const unsigned char next = s[k];
        if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF)) {
            return static_cast<std::size_t>(k);
        }
    }
    if (extra == 3) {
        units = 2; // a supplementary character: a surrogate pair
    }
    return static_cast<std::size_t>(extra) + 1;
}

// A UTF-8 argument. With a precision, only the bytes of the characters that make
// up the first `precision` UTF-16 units are read, so an unterminated array is
// fine as long as it holds that many (C's rule for %s in wide output).
std::basic_string<WCHAR> NarrowArgument(const char* text, int precision)
{
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    std::size_t length = 0;
    if (precision < 0) {
        while (s[length]) {
            ++length;
        }
    } else {
        int units = 0;
        while (units < precision && s[length]) {
            int step = 0;
            length += Utf8SequenceLength(s + length, step);
            units += step;
        }
    }
    std::basic_string<WCHAR> value;
    if (length == 0) {
        return value;
    }
    const int bytes = static_cast<int>(std::min<std::size_t>(length, INT_MAX));
    const int needed = ::MultiByteToWideChar(CP_UTF8, 0, text, bytes, nullptr, 0);
    if (needed > 0) {
        value.resize(static_cast<std::size_t>(needed));
        ::MultiByteToWideChar(CP_UTF8, 0, text, bytes, value.data(), needed);
    }
    return value;
}

// The arguments of one FormatV call, read in order.
class Arguments
{
public:
    explicit Arguments(va_list arguments) { va_copy(m_List, arguments); }
    ~Arguments() { va_end(m_List); }
    Arguments(const Arguments&) = delete;
    Arguments& operator=(const Arguments&) = delete;

    template <class T> T Next() { return va_arg(m_List, T); }

    // An integer argument as the length modifier has it (promoted types are read
    // and narrowed back, as printf does).
    long long Signed(Length length)
    {
        switch (length) {
        case Length::Char:
            return static_cast<signed char>(Next<int>());
        case Length::Short:
            return static_cast<short>(Next<int>());
        case Length::Long64:
            return Next<long long>();
        case Length::Size:
            return static_cast<long long>(Next<std::ptrdiff_t>());
        default:
            return Next<int>();
        }
    }
    unsigned long long Unsigned(Length length)
    {
        switch (length) {
        case Length::Char:
            return static_cast<unsigned char>(Next<unsigned>());
        case Length::Short:
            return static_cast<unsigned short>(Next<unsigned>());
        case Length::Long64:
            return Next<unsigned long long>();
        case Length::Size:
            return Next<std::size_t>();
        default:
            return Next<unsigned>();
        }
    }

private:
    va_list m_List;
};

// Reads a run of decimal digits into `value`, capped at kMaxField.
const WCHAR* ReadField(const WCHAR* p, int& value)
{
    value = 0;
    for (; *p >= TEXT('0') && *p <= TEXT('9'); ++p) {
        value = std::min(value * 10 + (*p - TEXT('0')), kMaxField);
    }
    return p;
}

// Parses flags, width, precision and length modifier of the directive that starts
// after its '%' at `p`, fetching the widths and precisions given as '*'. Returns
// the position of the conversion character (the terminator when there is none).
const WCHAR* ParseDirective(const WCHAR* p, Arguments& args, Directive& directive)
{
    while (*p == TEXT('-') || *p == TEXT('+') || *p == TEXT(' ') || *p == TEXT('0') ||
           *p == TEXT('#')) {
        if (directive.flags.find(static_cast<char>(*p)) == std::string::npos) {
            directive.flags.push_back(static_cast<char>(*p));
        }
        ++p;
    }
    if (*p == TEXT('*')) {
        // A negative width means left alignment; widths and precisions from
        // arguments are capped like written ones, so no value overflows or asks
        // for gigabytes of padding.
        const int width = args.Next<int>();
        if (width < 0) {
            directive.flags.push_back('-');
        }
        directive.width =
            width < -kMaxField || width > kMaxField ? kMaxField : (width < 0 ? -width : width);
        ++p;
    } else if (*p >= TEXT('0') && *p <= TEXT('9')) {
        p = ReadField(p, directive.width);
    }
    if (*p == TEXT('.')) {
        ++p;
        if (*p == TEXT('*')) {
            const int precision = args.Next<int>();
            directive.precision = precision < 0 ? -1 : std::min(precision, kMaxField);
            ++p;
        } else {
            p = ReadField(p, directive.precision);
        }
    }
    // Length modifiers, with the 32-bit Windows meaning of l.
    if (p[0] == TEXT('h') && p[1] == TEXT('h')) {
        directive.length = Length::Char;
        p += 2;
    } else if (*p == TEXT('h')) {
        directive.length = Length::Short;
        ++p;
    } else if (p[0] == TEXT('l') && p[1] == TEXT('l')) {
        directive.length = Length::Long64;
        p += 2;
    } else if (*p == TEXT('l') || *p == TEXT('w')) {
        ++p;
    } else if (p[0] == TEXT('I') && p[1] == TEXT('6') && p[2] == TEXT('4')) {
        directive.length = Length::Long64;
        p += 3;
    } else if (p[0] == TEXT('I') && p[1] == TEXT('3') && p[2] == TEXT('2')) {
        p += 3;
    } else if (*p == TEXT('I') || *p == TEXT('z') || *p == TEXT('t') || *p == TEXT('j')) {
        directive.length = (*p == TEXT('j')) ? Length::Long64 : Length::Size;
        ++p;
    } else if (*p == TEXT('L')) {
        directive.length = Length::LongDouble;
        ++p;
    }
    directive.conversion = static_cast<char>(*p);
    return p;
}

// A string argument: a null pointer reads "(null)"; the precision bounds what is
// read of the argument and what is written of it, then the width pads it.
template <class Char, class Decode>
void AppendString(std::basic_string<WCHAR>& out, const Directive& directive, const Char* text,
                  Decode decode)
{
    std::basic_string<WCHAR> value =
        text ? decode(text, directive.precision) : std::basic_string<WCHAR>(TEXT("(null)"));
    if (directive.precision >= 0 && value.size() > static_cast<std::size_t>(directive.precision)) {
        value.resize(static_cast<std::size_t>(directive.precision));
    }
    AppendPadded(out, directive, value);
}

// Fetches the argument of a parsed directive and writes it. False for a conversion
// character that is none, which fetches nothing.
bool AppendConversion(std::basic_string<WCHAR>& out, const Directive& directive, WCHAR conversion,
                      Arguments& args)
{
    switch (conversion) {
    case TEXT('d'):
    case TEXT('i'):
        AppendNumber(out, directive, "ll", args.Signed(directive.length));
        return true;
    case TEXT('u'):
    case TEXT('x'):
    case TEXT('X'):
    case TEXT('o'):
        AppendNumber(out, directive, "ll", args.Unsigned(directive.length));
        return true;
    case TEXT('f'):
    case TEXT('F'):
    case TEXT('e'):
    case TEXT('E'):
    case TEXT('g'):
    case TEXT('G'):
    case TEXT('a'):
    case TEXT('A'):
        if (directive.length == Length::LongDouble) {
            AppendNumber(out, directive, "L", args.Next<long double>());
        } else {
            AppendNumber(out, directive, "", args.Next<double>());
        }
        return true;
    case TEXT('p'): {
        // Every digit of the address, as 64-bit Windows prints it.
        Directive pointer;
        pointer.conversion = 'X';
        pointer.flags.assign(1, '0');
        pointer.width = 16;
        AppendNumber(
            out, pointer, "ll",
            static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(args.Next<void*>())));
        return true;
    }
    case TEXT('c'):
    case TEXT('C'):
        AppendPadded(out, directive,
                     std::basic_string<WCHAR>(1, static_cast<WCHAR>(args.Next<int>())));
        return true;
    case TEXT('s'):
        AppendString(out, directive, args.Next<const WCHAR*>(), WideArgument);
        return true;
    case TEXT('S'):
        AppendString(out, directive, args.Next<const char*>(), NarrowArgument);
        return true;
    case TEXT('%'):
        out.push_back(TEXT('%'));
        return true;
    default:
        return false;
    }
}

} // namespace

TString& TString::Format(const WCHAR* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    FormatV(format, arguments);
    va_end(arguments);
    return *this;
}

TString TString::Formatted(const WCHAR* format, ...)
{
    TString result;
    va_list arguments;
    va_start(arguments, format);
    result.FormatV(format, arguments);
    va_end(arguments);
    return result;
}

// One pass over the format: plain characters are copied, each directive is parsed,
// its argument fetched and written.
TString& TString::FormatV(const WCHAR* format, va_list arguments)
{
    if (!format) {
        m_Text.clear();
        return *this;
    }
    Arguments args(arguments);
    std::basic_string<WCHAR> out;
    for (const WCHAR* p = format; *p; ++p) {
        if (*p != TEXT('%')) {
            out.push_back(*p);
            continue;
        }
        const WCHAR* const start = p;
        Directive directive;
        p = ParseDirective(p + 1, args, directive);
        if (*p == 0) {
            // A directive cut off by the end of the format: keep what was written.
            out.append(start, p);
            break;
        }
        if (!AppendConversion(out, directive, *p, args)) {
            // Unknown conversion: copy it through unchanged.
            out.append(start, p + 1);
        }
    }
    m_Text = std::move(out);
    return *this;
}
