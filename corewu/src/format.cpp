// The printf-style engine behind TString::Format. Numbers are laid out by the C
// library's snprintf (so widths, flags and precisions behave exactly as in C);
// strings and characters are handled here because they are UTF-16.
#include <corewu/tstring.h>

#include <algorithm>
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
            std::u16string value = text ? std::u16string(text) : std::u16string(u"(null)");
            if (directive.precision >= 0 &&
                value.size() > static_cast<std::size_t>(directive.precision)) {
                value.resize(static_cast<std::size_t>(directive.precision));
            }
            AppendPadded(out, directive, value);
            break;
        }
        case u'S': {
            const char* text = va_arg(args, const char*);
            std::u16string value = text ? TString::FromAnsi(text).str() : std::u16string(u"(null)");
            if (directive.precision >= 0 &&
                value.size() > static_cast<std::size_t>(directive.precision)) {
                value.resize(static_cast<std::size_t>(directive.precision));
            }
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
