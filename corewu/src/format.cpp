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

void AppendAscii(std::u16string& out, const char* text, int n)
{
    for (int i = 0; i < n; ++i) {
        out.push_back(static_cast<unsigned char>(text[i]));
    }
}

// Runs snprintf with a directive built from the parsed fields and one value.
template <class Value>
void AppendNumber(std::u16string& out, const Directive& directive, const char* lengthTag,
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

void AppendPadded(std::u16string& out, const Directive& directive, const std::u16string& text)
{
    const bool left = directive.flags.find('-') != std::string::npos;
    const std::size_t width = directive.width > 0 ? static_cast<std::size_t>(directive.width) : 0;
    const std::size_t pad = width > text.size() ? width - text.size() : 0;
    if (!left) {
        out.append(pad, u' ');
    }
    out += text;
    if (left) {
        out.append(pad, u' ');
    }
}

void TrimToPrecision(std::u16string& value, int precision)
{
    if (precision >= 0 && value.size() > static_cast<std::size_t>(precision)) {
        value.resize(static_cast<std::size_t>(precision));
    }
}

// A UTF-16 argument. With a precision the array need not be terminated (as in
// C): no unit beyond the precision is read.
std::u16string WideArgument(const WCHAR* text, int precision)
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
    return std::u16string(text, n);
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
std::u16string NarrowArgument(const char* text, int precision)
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
    std::u16string value;
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

TString& TString::FormatV(const WCHAR* format, va_list arguments)
{
    std::u16string out;
    if (!format) {
        m_Text.clear();
        return *this;
    }
    va_list args;
    va_copy(args, arguments);
    for (const WCHAR* p = format; *p; ++p) {
        if (*p != u'%') {
            out.push_back(*p);
            continue;
        }
        const WCHAR* start = p++;
        Directive directive;
        while (*p == u'-' || *p == u'+' || *p == u' ' || *p == u'0' || *p == u'#') {
            if (directive.flags.find(static_cast<char>(*p)) == std::string::npos) {
                directive.flags.push_back(static_cast<char>(*p));
            }
            ++p;
        }
        if (*p == u'*') {
            // A negative width means left alignment; widths and precisions from
            // arguments are capped like written ones, so no value overflows or
            // asks for gigabytes of padding.
            const int width = va_arg(args, int);
            if (width < 0) {
                directive.flags.push_back('-');
            }
            directive.width =
                width < -kMaxField || width > kMaxField ? kMaxField : (width < 0 ? -width : width);
            ++p;
        } else {
            while (*p >= u'0' && *p <= u'9') {
                directive.width = (directive.width < 0 ? 0 : directive.width) * 10 + (*p - u'0');
                if (directive.width > kMaxField) {
                    directive.width = kMaxField;
                }
                ++p;
            }
        }
        if (*p == u'.') {
            ++p;
            directive.precision = 0;
            if (*p == u'*') {
                const int precision = va_arg(args, int);
                directive.precision = precision < 0 ? -1 : std::min(precision, kMaxField);
                ++p;
            } else {
                while (*p >= u'0' && *p <= u'9') {
                    directive.precision = directive.precision * 10 + (*p - u'0');
                    if (directive.precision > kMaxField) {
                        directive.precision = kMaxField;
                    }
                    ++p;
                }
            }
        }
        // Length modifiers, with the 32-bit Windows meaning of l.
        if (p[0] == u'h' && p[1] == u'h') {
            directive.length = Length::Char;
            p += 2;
        } else if (*p == u'h') {
            directive.length = Length::Short;
            ++p;
        } else if (p[0] == u'l' && p[1] == u'l') {
            directive.length = Length::Long64;
            p += 2;
        } else if (*p == u'l' || *p == u'w') {
            ++p;
        } else if (p[0] == u'I' && p[1] == u'6' && p[2] == u'4') {
            directive.length = Length::Long64;
            p += 3;
        } else if (p[0] == u'I' && p[1] == u'3' && p[2] == u'2') {
            p += 3;
        } else if (*p == u'I' || *p == u'z' || *p == u't' || *p == u'j') {
            directive.length = (*p == u'j') ? Length::Long64 : Length::Size;
            ++p;
        } else if (*p == u'L') {
            directive.length = Length::LongDouble;
            ++p;
        }
        directive.conversion = static_cast<char>(*p);
        switch (*p) {
        case u'd':
        case u'i': {
            long long value;
            switch (directive.length) {
            case Length::Char:
                value = static_cast<signed char>(va_arg(args, int));
                break;
            case Length::Short:
                value = static_cast<short>(va_arg(args, int));
                break;
            case Length::Long64:
                value = va_arg(args, long long);
                break;
            case Length::Size:
                value = static_cast<long long>(va_arg(args, std::ptrdiff_t));
                break;
            default:
                value = va_arg(args, int);
                break;
            }
            AppendNumber(out, directive, "ll", value);
            break;
        }
        case u'u':
        case u'x':
        case u'X':
        case u'o': {
            unsigned long long value;
            switch (directive.length) {
            case Length::Char:
                value = static_cast<unsigned char>(va_arg(args, unsigned));
                break;
            case Length::Short:
                value = static_cast<unsigned short>(va_arg(args, unsigned));
                break;
            case Length::Long64:
                value = va_arg(args, unsigned long long);
                break;
            case Length::Size:
                value = va_arg(args, std::size_t);
                break;
            default:
                value = va_arg(args, unsigned);
                break;
            }
            AppendNumber(out, directive, "ll", value);
            break;
        }
        case u'f':
        case u'F':
        case u'e':
        case u'E':
        case u'g':
        case u'G':
        case u'a':
        case u'A':
            if (directive.length == Length::LongDouble) {
                AppendNumber(out, directive, "L", va_arg(args, long double));
            } else {
                AppendNumber(out, directive, "", va_arg(args, double));
            }
            break;
        case u'p': {
            Directive pointer;
            pointer.conversion = 'X';
            pointer.flags.assign(1, '0');
            pointer.width = 16;
            pointer.precision = -1;
            AppendNumber(out, pointer, "ll",
                         static_cast<unsigned long long>(
                             reinterpret_cast<std::uintptr_t>(va_arg(args, void*))));
            break;
        }
        case u'c':
        case u'C': {
            std::u16string text(1, static_cast<char16_t>(va_arg(args, int)));
            AppendPadded(out, directive, text);
            break;
        }
        case u's': {
            const WCHAR* text = va_arg(args, const WCHAR*);
            std::u16string value =
                text ? WideArgument(text, directive.precision) : std::u16string(u"(null)");
            TrimToPrecision(value, directive.precision);
            AppendPadded(out, directive, value);
            break;
        }
        case u'S': {
            const char* text = va_arg(args, const char*);
            std::u16string value =
                text ? NarrowArgument(text, directive.precision) : std::u16string(u"(null)");
            TrimToPrecision(value, directive.precision);
            AppendPadded(out, directive, value);
            break;
        }
        case u'%':
            out.push_back(u'%');
            break;
        case 0:
            // A lone % at the end: keep what was written.
            out.append(start, p);
            --p;
            break;
        default:
            // Unknown conversion: copy it through unchanged.
            out.append(start, p + 1);
            break;
        }
    }
    va_end(args);
    m_Text = std::move(out);
    return *this;
}
