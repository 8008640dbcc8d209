// Reading and writing the text format of Windows .reg files.
#include "regfile.h"

#include <cstdio>

namespace ztools::regfile {

const char16_t* const kHeader = u"Windows Registry Editor Version 5.00";

namespace {

// regedit wraps hex data so that no line is longer than this.
constexpr std::size_t kLineWidth = 80;

std::string Narrow(const std::u16string& text)
{
    std::string out;
    for (char16_t c : text) {
        out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    }
    return out;
}

bool IsSpace(char16_t c)
{
    return c == u' ' || c == u'\t';
}

std::u16string Trim(const std::u16string& text)
{
    std::size_t start = 0;
    std::size_t end = text.size();
    while (start < end && IsSpace(text[start])) {
        ++start;
    }
    while (end > start && (IsSpace(text[end - 1]) || text[end - 1] == u'\r')) {
        --end;
    }
    return text.substr(start, end - start);
}

int HexDigit(char16_t c)
{
    if (c >= u'0' && c <= u'9') {
        return c - u'0';
    }
    if (c >= u'a' && c <= u'f') {
        return c - u'a' + 10;
    }
    if (c >= u'A' && c <= u'F') {
        return c - u'A' + 10;
    }
    return -1;
}

// A quoted text starting at text[pos] == '"', with \\ and \" escapes; pos ends
// after the closing quote.
std::u16string Quoted(const std::u16string& text, std::size_t& pos, int line)
{
    std::u16string out;
    for (++pos; pos < text.size(); ++pos) {
        char16_t c = text[pos];
        if (c == u'"') {
            ++pos;
            return out;
        }
        if (c == u'\\') {
            if (pos + 1 >= text.size()) {
                break;
            }
            char16_t next = text[++pos];
            if (next == u'\\' || next == u'"') {
                out.push_back(next);
            } else if (next == u'n') {
                out.push_back(u'\n');
            } else if (next == u'r') {
                out.push_back(u'\r');
            } else if (next == u'0') {
                out.push_back(u'\0');
            } else {
                throw ParseError(line, "unknown escape \\" + Narrow(std::u16string(1, next)));
            }
            continue;
        }
        out.push_back(c);
    }
    throw ParseError(line, "a quoted text has no closing quote");
}

std::vector<BYTE> HexBytes(const std::u16string& text, int line)
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
        if (text[pos] != u',') {
            throw ParseError(line, "hex data must be two-digit bytes separated by commas");
        }
        ++pos;
    }
}

Value ParseValue(const std::u16string& text, int line)
{
    Value value;
    value.line = line;
    std::size_t pos = 0;
    if (text[0] == u'@') {
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
    if (pos >= text.size() || text[pos] != u'=') {
        throw ParseError(line, "a value line needs \"=\" after the name");
    }
    std::u16string data = Trim(text.substr(pos + 1));
    if (data == u"-") {
        value.remove = true;
        return value;
    }
    if (!data.empty() && data[0] == u'"') {
        std::size_t at = 0;
        std::u16string string = Quoted(data, at, line);
        if (!Trim(data.substr(at)).empty()) {
            throw ParseError(line, "text after the closing quote");
        }
        value.type = REG_SZ;
        string.push_back(u'\0');
        const BYTE* bytes = reinterpret_cast<const BYTE*>(string.data());
        value.data.assign(bytes, bytes + string.size() * 2);
        return value;
    }
    if (data.compare(0, 6, u"dword:") == 0) {
        std::u16string digits = Trim(data.substr(6));
        if (digits.empty() || digits.size() > 8) {
            throw ParseError(line, "dword: needs one to eight hex digits");
        }
        DWORD number = 0;
        for (char16_t c : digits) {
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
    if (data.compare(0, 4, u"hex:") == 0) {
        value.type = REG_BINARY;
        value.data = HexBytes(data.substr(4), line);
        return value;
    }
    if (data.compare(0, 4, u"hex(") == 0) {
        std::size_t close = data.find(u')');
        if (close == std::u16string::npos || close == 4 || close > 12 || close + 1 >= data.size() ||
            data[close + 1] != u':') {
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
bool WellFormed(const std::u16string& text)
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

std::u16string HexList(const std::u16string& prefix, const BYTE* data, std::size_t size)
{
    std::u16string out = prefix;
    std::size_t column = prefix.size();
    static const char16_t kDigits[] = u"0123456789abcdef";
    for (std::size_t i = 0; i < size; ++i) {
        out.push_back(kDigits[data[i] >> 4]);
        out.push_back(kDigits[data[i] & 15]);
        column += 2;
        if (i + 1 < size) {
            out.push_back(u',');
            ++column;
            if (column >= kLineWidth - 4) {
                out += u"\\\n  ";
                column = 2;
            }
        }
    }
    return out;
}

// A name or text in quotes. Line breaks and NULs (possible in value names) are
// written as \n, \r and \0, so that the line stays one line.
std::u16string Escaped(const std::u16string& text)
{
    std::u16string out = u"\"";
    for (char16_t c : text) {
        if (c == u'\\' || c == u'"') {
            out.push_back(u'\\');
        } else if (c == u'\n' || c == u'\r' || c == u'\0') {
            out.push_back(u'\\');
            c = c == u'\n' ? u'n' : c == u'\r' ? u'r' : u'0';
        }
        out.push_back(c);
    }
    out.push_back(u'"');
    return out;
}

} // namespace

std::u16string Decode(const std::string& bytes)
{
    std::u16string text;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        if (bytes.size() % 2 != 0) {
            throw ParseError(1, "a UTF-16 file with an odd number of bytes");
        }
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
            text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
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
        if (code == u'\n') {
            ++line;
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            text.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            text.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            text.push_back(static_cast<char16_t>(code));
        }
        i += static_cast<std::size_t>(extra) + 1;
    }
    return text;
}

std::vector<Section> Parse(const std::u16string& text)
{
    std::vector<Section> sections;
    bool header = false;
    std::u16string logical;
    int logicalLine = 0;
    int line = 0;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t end = text.find(u'\n', pos);
        if (end == std::u16string::npos) {
            end = text.size();
        }
        ++line;
        std::u16string current = Trim(text.substr(pos, end - pos));
        pos = end + 1;
        if (logical.empty()) {
            logicalLine = line;
        }
        // A line that ends with a backslash goes on in the next one (long hex data).
        if (!current.empty() && current.back() == u'\\' && pos <= text.size()) {
            logical += current.substr(0, current.size() - 1);
            continue;
        }
        logical += current;
        const std::u16string entry = logical;
        logical.clear();
        if (entry.empty() || entry[0] == u';') {
            continue;
        }
        if (!header) {
            if (entry != kHeader && entry != u"REGEDIT4") {
                throw ParseError(logicalLine, "the file does not start with \"" + Narrow(kHeader) +
                                                  "\" or \"REGEDIT4\"");
            }
            header = true;
            continue;
        }
        if (entry[0] == u'[') {
            if (entry.back() != u']' || entry.size() < 3) {
                throw ParseError(logicalLine, "a key line must be [path]");
            }
            Section section;
            section.line = logicalLine;
            section.path = entry.substr(1, entry.size() - 2);
            if (section.path[0] == u'-') {
                section.remove = true;
                section.path.erase(0, 1);
            }
            if (section.path.empty()) {
                throw ParseError(logicalLine, "a key line must name a key");
            }
            sections.push_back(std::move(section));
            continue;
        }
        if (entry[0] != u'"' && entry[0] != u'@') {
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

std::u16string FormatSection(const std::u16string& path)
{
    return u"[" + path + u"]";
}

std::u16string FormatValue(const std::u16string& name, DWORD type, const BYTE* data,
                           std::size_t size)
{
    std::u16string line = name.empty() ? std::u16string(u"@") : Escaped(name);
    line += u"=";
    if (type == REG_SZ && size % 2 == 0 && size >= 2) {
        std::u16string text(reinterpret_cast<const char16_t*>(data), size / 2);
        // Only a text with exactly one terminator and no line break fits in quotes.
        if (text.back() == u'\0' && text.find(u'\0') == text.size() - 1 &&
            text.find_first_of(u"\r\n") == std::u16string::npos && WellFormed(text)) {
            text.pop_back();
            return line + Escaped(text);
        }
    }
    if (type == REG_DWORD && size == 4) {
        char buffer[16];
        DWORD value = static_cast<DWORD>(data[0]) | (static_cast<DWORD>(data[1]) << 8) |
                      (static_cast<DWORD>(data[2]) << 16) | (static_cast<DWORD>(data[3]) << 24);
        std::snprintf(buffer, sizeof buffer, "dword:%08x", static_cast<unsigned>(value));
        return line + std::u16string(buffer, buffer + std::char_traits<char>::length(buffer));
    }
    if (type == REG_BINARY) {
        return HexList(line + u"hex:", data, size);
    }
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "hex(%x):", static_cast<unsigned>(type));
    return HexList(line + std::u16string(buffer, buffer + std::char_traits<char>::length(buffer)),
                   data, size);
}

std::string Encode(const std::u16string& text, bool utf8)
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
    for (char16_t c : text) {
        if (c == u'\n') {
            out.push_back('\r');
            out.push_back('\0');
        }
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>(c >> 8));
    }
    return out;
}

} // namespace ztools::regfile
