// UTF-8 <-> UTF-16, which every area uses: the text conversions (ill-formed input
// becomes U+FFFD), the one-to-one mapping of file-system names, copying a UTF-16
// result out to a caller's buffer, and MultiByteToWideChar/WideCharToMultiByte
// with CP_UTF8.
#include "internal.h"

#include <zanth/win32/zanthext.h>

#include <climits>
#include <cstring>
#include <string_view>

namespace zanth::platform {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one code point from UTF-8; advances `i`. An ill-formed sequence yields
// one U+FFFD for its maximal subpart (the longest start of a well-formed sequence
// that is there), as Unicode recommends: "\xE2\x82A" is U+FFFD 'A', while every
// byte of an overlong form or an encoded surrogate is a U+FFFD of its own.
char32_t DecodeUtf8(const unsigned char* s, std::size_t length, std::size_t& i, bool& bad)
{
    const unsigned char c = s[i];
    if (c < 0x80) {
        ++i;
        return c;
    }
    int extra;
    char32_t cp;
    // The range of the second byte; the others are 0x80-0xBF.
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        extra = 1;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        extra = 2;
        cp = c & 0x0F;
        if (c == 0xE0) {
            low = 0xA0; // no overlong forms
        } else if (c == 0xED) {
            high = 0x9F; // no surrogates
        }
    } else if (c >= 0xF0 && c <= 0xF4) {
        extra = 3;
        cp = c & 0x07;
        if (c == 0xF0) {
            low = 0x90; // no overlong forms
        } else if (c == 0xF4) {
            high = 0x8F; // nothing above U+10FFFF
        }
    } else {
        ++i;
        bad = true;
        return kReplacement;
    }
    for (int k = 1; k <= extra; ++k) {
        const bool inRange = i + k < length && s[i + k] >= (k == 1 ? low : 0x80) &&
                             s[i + k] <= (k == 1 ? high : 0xBF);
        if (!inRange) {
            i += static_cast<std::size_t>(k);
            bad = true;
            return kReplacement;
        }
        cp = (cp << 6) | (s[i + k] & 0x3F);
    }
    i += static_cast<std::size_t>(extra) + 1;
    return cp;
}

void AppendUtf16(std::u16string& out, char32_t cp)
{
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
}

void AppendUtf8(std::string& out, char32_t cp)
{
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

std::u16string Utf8ToUtf16(const char* text, std::size_t length, bool& bad)
{
    std::u16string out;
    out.reserve(length);
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    std::size_t i = 0;
    while (i < length) {
        AppendUtf16(out, DecodeUtf8(s, length, i, bad));
    }
    return out;
}

std::string Utf16ToUtf8(const WCHAR* text, std::size_t length, bool& bad)
{
    std::string out;
    out.reserve(length);
    for (std::size_t i = 0; i < length; ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = kReplacement;
            bad = true;
        }
        AppendUtf8(out, c);
    }
    return out;
}

std::size_t WideLength(const WCHAR* text)
{
    std::size_t n = 0;
    while (text[n]) {
        ++n;
    }
    return n;
}

// The lone low surrogates that carry the bytes 0x80-0xFF of a file name that are
// not part of well-formed UTF-8.
constexpr char16_t kEscapeBase = 0xDC00;
constexpr char16_t kEscapeFirst = 0xDC80;
constexpr char16_t kEscapeLast = 0xDCFF;

// A file-system name as UTF-16: well-formed UTF-8 decodes as usual, and every byte
// of an ill-formed part is escaped on its own (such bytes are all 0x80 or above:
// ASCII always decodes). Well-formed UTF-8 never yields a lone surrogate, so the
// escapes cannot be confused with decoded text.
std::u16string BytesToName(const char* text, std::size_t length)
{
    std::u16string out;
    out.reserve(length);
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    std::size_t i = 0;
    while (i < length) {
        const std::size_t start = i;
        bool bad = false;
        const char32_t cp = DecodeUtf8(s, length, i, bad);
        if (!bad) {
            AppendUtf16(out, cp);
            continue;
        }
        for (std::size_t k = start; k < i; ++k) {
            out.push_back(static_cast<char16_t>(kEscapeBase + s[k]));
        }
    }
    return out;
}

// The bytes of a UTF-16 file name; false for a name that no byte string reads back
// as: a lone surrogate other than an escape, or escapes whose bytes would read
// back as a character (U+DCC3 U+DCA4 is not the name "\xC3\xA4", which reads as
// U+00E4). Refusing those keeps the mapping one-to-one in both directions.
bool NameToBytes(const WCHAR* text, std::size_t length, std::string& out)
{
    out.clear();
    out.reserve(length);
    bool escaped = false;
    for (std::size_t i = 0; i < length; ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= kEscapeFirst && c <= kEscapeLast) {
            out.push_back(static_cast<char>(c - kEscapeBase));
            escaped = true;
            continue;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            return false;
        }
        AppendUtf8(out, c);
    }
    return !escaped || BytesToName(out.data(), out.size()) == std::u16string_view(text, length);
}

} // namespace

std::string ToUtf8(const WCHAR* text)
{
    if (!text) {
        return {};
    }
    bool bad = false;
    return Utf16ToUtf8(text, WideLength(text), bad);
}

std::string ToUtf8(const WCHAR* text, std::size_t length)
{
    bool bad = false;
    return Utf16ToUtf8(text, length, bad);
}

std::u16string FromUtf8(const char* text)
{
    if (!text) {
        return {};
    }
    bool bad = false;
    return Utf8ToUtf16(text, std::strlen(text), bad);
}

std::u16string FromUtf8(const char* text, std::size_t length)
{
    bool bad = false;
    return Utf8ToUtf16(text, length, bad);
}

bool PathFromName(const WCHAR* name, std::string& path)
{
    if (!name) {
        path.clear();
        return true;
    }
    if (!NameToBytes(name, WideLength(name), path)) {
        ::SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    return true;
}

std::u16string NameFromPath(const char* path)
{
    return path ? BytesToName(path, std::strlen(path)) : std::u16string();
}

DWORD CopyOut(const std::u16string& text, LPWSTR buffer, DWORD size)
{
    if (!buffer || size <= text.size()) {
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return static_cast<DWORD>(text.size() + 1);
    }
    std::memcpy(buffer, text.data(), text.size() * sizeof(WCHAR));
    buffer[text.size()] = 0;
    return static_cast<DWORD>(text.size());
}

} // namespace zanth::platform

namespace {

// The end of MultiByteToWideChar and WideCharToMultiByte: refuses ill-formed input
// when the caller asked for that, answers a size query (a buffer of length 0) or
// copies the result into the buffer.
template <class String>
int DeliverConverted(const String& out, bool refuse, typename String::value_type* buffer,
                     int bufferLength)
{
    if (refuse) {
        ::SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    if (bufferLength == 0) {
        return static_cast<int>(out.size());
    }
    if (out.size() > static_cast<std::size_t>(bufferLength)) {
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(buffer, out.data(), out.size() * sizeof(typename String::value_type));
    return static_cast<int>(out.size());
}

} // namespace

using namespace zanth::platform;

extern "C" {

int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int textLength, LPWSTR wide,
                               int wideLength)
{
    if (flags & ~MB_ERR_INVALID_CHARS) {
        ::SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    if (!text || textLength == 0 || wideLength < 0 || (wideLength > 0 && !wide) ||
        (codePage != CP_UTF8 && codePage != CP_ACP)) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const bool withTerminator = textLength < 0;
    std::size_t length =
        withTerminator ? std::strlen(text) + 1 : static_cast<std::size_t>(textLength);
    bool bad = false;
    const std::u16string out = Utf8ToUtf16(text, length, bad);
    return DeliverConverted(out, bad && (flags & MB_ERR_INVALID_CHARS), wide, wideLength);
}

int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideLength, LPSTR text,
                               int textLength, LPCSTR defaultChar, BOOL* usedDefaultChar)
{
    if (!wide || wideLength == 0 || textLength < 0 || (textLength > 0 && !text) ||
        (codePage != CP_UTF8 && codePage != CP_ACP) || defaultChar || usedDefaultChar ||
        (flags & ~WC_ERR_INVALID_CHARS)) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::size_t length = wideLength < 0 ? 0 : static_cast<std::size_t>(wideLength);
    if (wideLength < 0) {
        while (wide[length]) {
            ++length;
        }
        ++length; // the terminator is converted too
    }
    bool bad = false;
    const std::string out = Utf16ToUtf8(wide, length, bad);
    return DeliverConverted(out, bad && (flags & WC_ERR_INVALID_CHARS), text, textLength);
}

DWORD ZanthFileNameFromBytes(LPCSTR bytes, LPWSTR name, DWORD size)
{
    if (!bytes) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return CopyOut(NameFromPath(bytes), name, size);
}

DWORD ZanthFileNameToBytes(LPCWSTR name, LPSTR bytes, DWORD size)
{
    if (!name) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string path;
    if (!PathFromName(name, path)) {
        return 0;
    }
    if (!bytes || size <= path.size()) {
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return static_cast<DWORD>(path.size() + 1);
    }
    std::memcpy(bytes, path.data(), path.size());
    bytes[path.size()] = '\0';
    return static_cast<DWORD>(path.size());
}

} // extern "C"
