// Reading and writing the text format of Windows .reg files.
#include "regfile.h"

#include <cstdio>

namespace ztools::regfile {

const WCHAR* const kHeader = TEXT("Windows Registry Editor Version 5.00");

namespace {

// regedit wraps hex data so that no line is longer than this.
constexpr std::size_t kLineWidth = 80;

std::string Narrow(const std::basic_string<WCHAR>& text)
{
    std::string out;
    for (WCHAR c : text) {
        out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    }
    return out;
}

bool IsSpace(WCHAR c)
{
    return c == TEXT(' ') || c == TEXT('\t');
}

std::basic_string<WCHAR> Trim(const std::basic_string<WCHAR>& text)
{
    std::size_t start = 0;
    std::size_t end = text.size();
    while (start < end && IsSpace(text[start])) {
        ++start;
    }
    while (end > start && (IsSpace(text[end - 1]) || text[end - 1] == TEXT('\r'))) {
        --end;
    }
    return text.substr(start, end - start);
}

int HexDigit(WCHAR c)
{
    if (c >= TEXT('0') && c <= TEXT('9')) {
        return c - TEXT('0');
    }
    if (c >= TEXT('a') && c <= TEXT('f')) {
        return c - TEXT('a') + 10;
    }
    if (c >= TEXT('A') && c <= TEXT('F')) {
        return c - TEXT('A') + 10;
    }
    return -1;
}

// A quoted text starting at text[pos] == '"', with \\ and \" escapes; pos ends
// after the closing quote.
std::basic_string<WCHAR> Quoted(const std::basic_string<WCHAR>& text, std::size_t& pos, int line)
{
    std::basic_string<WCHAR> out;
    for (++pos; pos < text.size(); ++pos) {
        WCHAR c = text[pos];
        if (c == TEXT('"')) {
            ++pos;
            return out;
        }
        if (c == TEXT('\\')) {
            if (pos + 1 >= text.size()) {
                break;
            }
            WCHAR next = text[++pos];
            if (next == TEXT('\\') || next == TEXT('"')) {
                out.push_back(next);
            } else if (next == TEXT('n')) {
                out.push_back(TEXT('\n'));
            } else if (next == TEXT('r')) {
                out.push_back(TEXT('\r'));
            } else if (next == TEXT('0')) {
                out.push_back(TEXT('\0'));
            } else {
                throw ParseError(line,
                                 "unknown escape \\" + Narrow(std::basic_string<WCHAR>(1, next)));
            }
            continue;
        }
        out.push_back(c);
    }
    throw ParseError(line, "a quoted text has no closing quote");
}

std::vector<BYTE> HexBytes(const std::basic_string<WCHAR>& text, int line)
{
    std::vector<BYTE> bytes;
    std::size_t pos = 0;
    auto skipSpace = [&] {
        while (pos < text.size() && IsSpace(text[pos])) {
            ++pos;
        }
    };
    skipSpace();
    if (pos == text.size()) {
        return bytes;
    }
    for (;;) {
        skipSpace();
        if (pos >= text.size()) {
            throw ParseError(line, "a hex byte is missing");
        }
        int high = pos < text.size() ? HexDigit(text[pos]) : -1;
        int low = pos + 1 < text.size() ? HexDigit(text[pos + 1]) : -1;
        if (high < 0 || low < 0) {
            throw ParseError(line, "hex data must be two-digit bytes separated by commas");
        }
        bytes.push_back(static_cast<BYTE>(high * 16 + low));
        pos += 2;
        skipSpace();
        if (pos == text.size()) {
            return bytes;
        }
        if (text[pos] != TEXT(',')) {
            throw ParseError(line, "hex data must be two-digit bytes separated by commas");
        }
        ++pos;
    }
}

Value ParseValue(const std::basic_string<WCHAR>& text, int line)
{
    Value value;
    value.line = line;
    std::size_t pos = 0;
    if (text[0] == TEXT('@')) {
        pos = 1;
    } else {
        value.name = Quoted(text, pos, line);
        if (value.name.empty()) {
            throw ParseError(line, "an empty value name is written @");
        }
    }
    while (pos < text.size() && IsSpace(text[pos])) {
        ++pos;
    }
    if (pos >= text.size() || text[pos] != TEXT('=')) {
        throw ParseError(line, "a value line needs \"=\" after the name");
    }
    std::basic_string<WCHAR> data = Trim(text.substr(pos + 1));
    if (data == TEXT("-")) {
        value.remove = true;
        return value;
    }
    if (!data.empty() && data[0] == TEXT('"')) {
        std::size_t at = 0;
        std::basic_string<WCHAR> string = Quoted(data, at, line);
        if (!Trim(data.substr(at)).empty()) {
            throw ParseError(line, "text after the closing quote");
        }
        value.type = REG_SZ;
        string.push_back(TEXT('\0'));
        const BYTE* bytes = reinterpret_cast<const BYTE*>(string.data());
        value.data.assign(bytes, bytes + string.size() * 2);
        return value;
    }
    if (data.compare(0, 6, TEXT("dword:")) == 0) {
        std::basic_string<WCHAR> digits = Trim(data.substr(6));
        if (digits.empty() || digits.size() > 8) {
            throw ParseError(line, "dword: needs one to eight hex digits");
        }
        DWORD number = 0;
        for (WCHAR c : digits) {
            int digit = HexDigit(c);
            if (digit < 0) {
                throw ParseError(line, "dword: needs one to eight hex digits");
            }
            number = number * 16 + static_cast<DWORD>(digit);
        }
        value.type = REG_DWORD;
        for (int i = 0; i < 4; ++i) {
            value.data.push_back(static_cast<BYTE>(number >> (8 * i)));
        }
        return value;
    }
    if (data.compare(0, 4, TEXT("hex:")) == 0) {
        value.type = REG_BINARY;
        value.data = HexBytes(data.substr(4), line);
        return value;
    }
    if (data.compare(0, 4, TEXT("hex(")) == 0) {
        std::size_t close = data.find(TEXT(')'));
        if (close == std::basic_string<WCHAR>::npos || close == 4 || close > 12 ||
            close + 1 >= data.size() || data[close + 1] != TEXT(':')) {
            throw ParseError(line, "hex(type): needs a hex type number");
        }
        DWORD type = 0;
        for (std::size_t i = 4; i < close; ++i) {
            int digit = HexDigit(data[i]);
            if (digit < 0) {
                throw ParseError(line, "hex(type): needs a hex type number");
            }
            type = type * 16 + static_cast<DWORD>(digit);
        }
        value.type = type;
        value.data = HexBytes(data.substr(close + 2), line);
        return value;
    }
    throw ParseError(line, "unknown value data (expected \"text\", dword:, hex: or hex(type):)");
}

void AppendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// Text in quotes must be well-formed UTF-16, so that a UTF-8 file keeps it whole.
bool WellFormed(const std::basic_string<WCHAR>& text)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size() &&
            text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            ++i;
        } else if (text[i] >= 0xD800 && text[i] <= 0xDFFF) {
            return false;
        }
    }
    return true;
}

std::basic_string<WCHAR> HexList(const std::basic_string<WCHAR>& prefix, const BYTE* data,
                                 std::size_t size)
{
    std::basic_string<WCHAR> out = prefix;
    std::size_t column = prefix.size();
    static const WCHAR kDigits[] = TEXT("0123456789abcdef");
    for (std::size_t i = 0; i < size; ++i) {
        out.push_back(kDigits[data[i] >> 4]);
        out.push_back(kDigits[data[i] & 15]);
        column += 2;
        if (i + 1 < size) {
            out.push_back(TEXT(','));
            ++column;
            if (column >= kLineWidth - 4) {
                out += TEXT("\\\n  ");
                column = 2;
            }
        }
    }
    return out;
}

// A name or text in quotes. Line breaks and NULs (possible in value names) are
// written as \n, \r and \0, so that the line stays one line.
std::basic_string<WCHAR> Escaped(const std::basic_string<WCHAR>& text)
{
    std::basic_string<WCHAR> out = TEXT("\"");
    for (WCHAR c : text) {
        if (c == TEXT('\\') || c == TEXT('"')) {
            out.push_back(TEXT('\\'));
        } else if (c == TEXT('\n') || c == TEXT('\r') || c == TEXT('\0')) {
            out.push_back(TEXT('\\'));
            c = c == TEXT('\n') ? TEXT('n') : c == TEXT('\r') ? TEXT('r') : TEXT('0');
        }
        out.push_back(c);
    }
    out.push_back(TEXT('"'));
    return out;
}

} // namespace

std::basic_string<WCHAR> Decode(const std::string& bytes)
{
    std::basic_string<WCHAR> text;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        if (bytes.size() % 2 != 0) {
            throw ParseError(1, "a UTF-16 file with an odd number of bytes");
        }
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
            text.push_back(static_cast<WCHAR>(static_cast<unsigned char>(bytes[i]) |
                                              (static_cast<unsigned char>(bytes[i + 1]) << 8)));
        }
        return text;
    }
    std::size_t i = 0;
    if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        i = 3;
    }
    int line = 1;
    while (i < bytes.size()) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        int extra = c < 0x80             ? 0
                    : (c & 0xE0) == 0xC0 ? 1
                    : (c & 0xF0) == 0xE0 ? 2
                    : (c & 0xF8) == 0xF0 ? 3
                                         : -1;
        if (extra < 0 || (extra > 0 && i + static_cast<std::size_t>(extra) >= bytes.size())) {
            throw ParseError(line, "the file is neither UTF-16 with a byte-order mark nor UTF-8");
        }
        char32_t code = extra == 0 ? c : c & (0x3F >> extra);
        for (int k = 1; k <= extra; ++k) {
            unsigned char next = static_cast<unsigned char>(bytes[i + static_cast<std::size_t>(k)]);
            if ((next & 0xC0) != 0x80) {
                throw ParseError(line,
                                 "the file is neither UTF-16 with a byte-order mark nor UTF-8");
            }
            code = (code << 6) | (next & 0x3F);
        }
        static const char32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
        if (code < kMinimum[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            throw ParseError(line, "the file is neither UTF-16 with a byte-order mark nor UTF-8");
        }
        if (code == TEXT('\n')) {
            ++line;
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            text.push_back(static_cast<WCHAR>(0xD800 + (code >> 10)));
            text.push_back(static_cast<WCHAR>(0xDC00 + (code & 0x3FF)));
        } else {
            text.push_back(static_cast<WCHAR>(code));
        }
        i += static_cast<std::size_t>(extra) + 1;
    }
    return text;
}

std::vector<Section> Parse(const std::basic_string<WCHAR>& text)
{
    std::vector<Section> sections;
    bool header = false;
    std::basic_string<WCHAR> logical;
    int logicalLine = 0;
    int line = 0;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t end = text.find(TEXT('\n'), pos);
        if (end == std::basic_string<WCHAR>::npos) {
            end = text.size();
        }
        ++line;
        std::basic_string<WCHAR> current = Trim(text.substr(pos, end - pos));
        pos = end + 1;
        if (logical.empty()) {
            logicalLine = line;
        }
        // A line that ends with a backslash goes on in the next one (long hex data).
        if (!current.empty() && current.back() == TEXT('\\') && pos <= text.size()) {
            logical += current.substr(0, current.size() - 1);
            continue;
        }
        logical += current;
        const std::basic_string<WCHAR> entry = logical;
        logical.clear();
        if (entry.empty() || entry[0] == TEXT(';')) {
            continue;
        }
        if (!header) {
            if (entry != kHeader && entry != TEXT("REGEDIT4")) {
                throw ParseError(logicalLine, "the file does not start with \"" + Narrow(kHeader) +
                                                  "\" or \"REGEDIT4\"");
            }
            header = true;
            continue;
        }
        if (entry[0] == TEXT('[')) {
            if (entry.back() != TEXT(']') || entry.size() < 3) {
                throw ParseError(logicalLine, "a key line must be [path]");
            }
            Section section;
            section.line = logicalLine;
            section.path = entry.substr(1, entry.size() - 2);
            if (section.path[0] == TEXT('-')) {
                section.remove = true;
                section.path.erase(0, 1);
            }
            if (section.path.empty()) {
                throw ParseError(logicalLine, "a key line must name a key");
            }
            sections.push_back(std::move(section));
            continue;
        }
        if (entry[0] != TEXT('"') && entry[0] != TEXT('@')) {
            throw ParseError(logicalLine, "expected [key], \"name\"=data or @=data");
        }
        if (sections.empty()) {
            throw ParseError(logicalLine, "a value before the first [key]");
        }
        if (sections.back().remove) {
            throw ParseError(logicalLine, "a value in a key that is being removed");
        }
        sections.back().values.push_back(ParseValue(entry, logicalLine));
    }
    if (!header) {
        throw ParseError(1, "the file is empty");
    }
    return sections;
}

std::basic_string<WCHAR> FormatSection(const std::basic_string<WCHAR>& path)
{
    return TEXT("[") + path + TEXT("]");
}

std::basic_string<WCHAR> FormatValue(const std::basic_string<WCHAR>& name, DWORD type,
                                     const BYTE* data, std::size_t size)
{
    std::basic_string<WCHAR> line =
        name.empty() ? std::basic_string<WCHAR>(TEXT("@")) : Escaped(name);
    line += TEXT("=");
    if (type == REG_SZ && size % 2 == 0 && size >= 2) {
        std::basic_string<WCHAR> text(reinterpret_cast<const WCHAR*>(data), size / 2);
        // Only a text with exactly one terminator and no line break fits in quotes.
        if (text.back() == TEXT('\0') && text.find(TEXT('\0')) == text.size() - 1 &&
            text.find_first_of(TEXT("\r\n")) == std::basic_string<WCHAR>::npos &&
            WellFormed(text)) {
            text.pop_back();
            return line + Escaped(text);
        }
    }
    if (type == REG_DWORD && size == 4) {
        char buffer[16];
        DWORD value = static_cast<DWORD>(data[0]) | (static_cast<DWORD>(data[1]) << 8) |
                      (static_cast<DWORD>(data[2]) << 16) | (static_cast<DWORD>(data[3]) << 24);
        std::snprintf(buffer, sizeof buffer, "dword:%08x", static_cast<unsigned>(value));
        return line +
               std::basic_string<WCHAR>(buffer, buffer + std::char_traits<char>::length(buffer));
    }
    if (type == REG_BINARY) {
        return HexList(line + TEXT("hex:"), data, size);
    }
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "hex(%x):", static_cast<unsigned>(type));
    return HexList(
        line + std::basic_string<WCHAR>(buffer, buffer + std::char_traits<char>::length(buffer)),
        data, size);
}

std::string Encode(const std::basic_string<WCHAR>& text, bool utf8)
{
    std::string out;
    if (utf8) {
        for (std::size_t i = 0; i < text.size(); ++i) {
            char32_t c = text[i];
            if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                text[i + 1] <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
            } else if (c >= 0xD800 && c <= 0xDFFF) {
                c = 0xFFFD; // a lone surrogate has no UTF-8 form
            }
            AppendUtf8(out, c);
        }
        return out;
    }
    out = "\xFF\xFE";
    for (WCHAR c : text) {
        if (c == TEXT('\n')) {
            out.push_back('\r');
            out.push_back('\0');
        }
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>(c >> 8));
    }
    return out;
}

} // namespace ztools::regfile
