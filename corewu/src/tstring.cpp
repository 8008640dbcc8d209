// TString: construction, editing, searching and the UTF-8 bridge. The printf-style
// engine lives in format.cpp.
#include <corewu/tstring.h>

#include <algorithm>
#include <cstring>

namespace {

std::basic_string<WCHAR> Digits(ULONGLONG value, int radix, bool negative)
{
    if (radix < 2 || radix > 36) {
        radix = 10;
    }
    WCHAR buffer[72];
    int n = 0;
    do {
        const unsigned digit = static_cast<unsigned>(value % static_cast<unsigned>(radix));
        buffer[n++] = static_cast<WCHAR>(digit < 10 ? TEXT('0') + digit : TEXT('a') + digit - 10);
        value /= static_cast<unsigned>(radix);
    } while (value != 0);
    if (negative) {
        buffer[n++] = TEXT('-');
    }
    std::reverse(buffer, buffer + n);
    return std::basic_string<WCHAR>(buffer, static_cast<std::size_t>(n));
}

std::size_t Clamp(LONG value, std::size_t limit)
{
    if (value < 0) {
        return 0;
    }
    return std::min(static_cast<std::size_t>(value), limit);
}

bool IsBlank(WCHAR ch)
{
    return ch == TEXT(' ') || ch == TEXT('\t') || ch == TEXT('\r') || ch == TEXT('\n');
}

WCHAR FoldCase(WCHAR ch)
{
    return (ch >= TEXT('A') && ch <= TEXT('Z')) ? static_cast<WCHAR>(ch - TEXT('A') + TEXT('a'))
                                                : ch;
}

} // namespace

const TString TString::NullString;

TString::TString(const WCHAR* text, LONG maxLength)
{
    if (!text || maxLength <= 0) {
        return;
    }
    std::size_t n = 0;
    while (n < static_cast<std::size_t>(maxLength) && text[n]) {
        ++n;
    }
    m_Text.assign(text, n);
}

TString::TString(WCHAR ch, LONG repeat)
    : m_Text(repeat > 0 ? static_cast<std::size_t>(repeat) : 0, ch)
{}

TString::TString(LONG value, int radix)
    : m_Text(radix == 10
                 ? Digits(value < 0 ? 0u - static_cast<ULONGLONG>(static_cast<LONGLONG>(value))
                                    : static_cast<ULONGLONG>(value),
                          10, value < 0)
                 : Digits(static_cast<DWORD>(value), radix, false))
{}

TString::TString(DWORD value, int radix) : m_Text(Digits(value, radix, false)) {}

TString::TString(LONGLONG value, int radix)
    : m_Text(radix == 10 ? Digits(value < 0 ? 0u - static_cast<ULONGLONG>(value)
                                            : static_cast<ULONGLONG>(value),
                                  10, value < 0)
                         : Digits(static_cast<ULONGLONG>(value), radix, false))
{}

TString::TString(ULONGLONG value, int radix) : m_Text(Digits(value, radix, false)) {}

TString TString::FromAnsi(const char* text)
{
    TString result;
    if (!text || !*text) {
        return result;
    }
    const int length = static_cast<int>(std::strlen(text));
    const int needed = ::MultiByteToWideChar(CP_UTF8, 0, text, length, nullptr, 0);
    if (needed > 0) {
        result.m_Text.resize(static_cast<std::size_t>(needed));
        ::MultiByteToWideChar(CP_UTF8, 0, text, length, result.m_Text.data(), needed);
    }
    return result;
}

TString& TString::operator=(const WCHAR* text)
{
    m_Text = text ? std::basic_string<WCHAR>(text) : std::basic_string<WCHAR>();
    return *this;
}

TString& TString::operator=(WCHAR ch)
{
    m_Text.assign(1, ch);
    return *this;
}

TString& TString::operator+=(const TString& other)
{
    m_Text += other.m_Text;
    return *this;
}

TString& TString::operator+=(const WCHAR* text)
{
    if (text) {
        m_Text += text;
    }
    return *this;
}

TString& TString::operator+=(WCHAR ch)
{
    m_Text += ch;
    return *this;
}

TString operator+(const TString& a, const TString& b)
{
    TString result(a);
    result += b;
    return result;
}

TString operator+(const TString& a, const WCHAR* b)
{
    TString result(a);
    result += b;
    return result;
}

TString operator+(const WCHAR* a, const TString& b)
{
    TString result(a);
    result += b;
    return result;
}

TString operator+(const TString& a, WCHAR b)
{
    TString result(a);
    result += b;
    return result;
}

bool TString::operator==(const WCHAR* text) const
{
    return m_Text == (text ? text : TEXT(""));
}

int TString::Compare(const WCHAR* text) const
{
    return m_Text.compare(text ? text : TEXT(""));
}

int TString::CompareNoCase(const WCHAR* text) const
{
    const WCHAR* other = text ? text : TEXT("");
    std::size_t i = 0;
    for (;; ++i) {
        WCHAR a = i < m_Text.size() ? FoldCase(m_Text[i]) : 0;
        WCHAR b = FoldCase(other[i]);
        if (a != b) {
            return a < b ? -1 : 1;
        }
        if (a == 0) {
            return 0;
        }
    }
}

WCHAR TString::GetAt(LONG index) const
{
    return (index >= 0 && static_cast<std::size_t>(index) < m_Text.size()) ? m_Text[index] : 0;
}

void TString::SetAt(LONG index, WCHAR ch)
{
    if (index >= 0 && static_cast<std::size_t>(index) < m_Text.size()) {
        m_Text[index] = ch;
    }
}

TString TString::Left(LONG count) const
{
    return TString(m_Text.substr(0, Clamp(count, m_Text.size())));
}

TString TString::Right(LONG first) const
{
    return TString(m_Text.substr(Clamp(first, m_Text.size())));
}

TString TString::Mid(LONG first, LONG count) const
{
    const std::size_t start = Clamp(first, m_Text.size());
    return TString(m_Text.substr(start, Clamp(count, m_Text.size() - start)));
}

LONG TString::Find(const WCHAR* text, LONG start) const
{
    if (!text || start < 0 || static_cast<std::size_t>(start) > m_Text.size()) {
        return -1;
    }
    std::size_t at = m_Text.find(text, static_cast<std::size_t>(start));
    return at == std::basic_string<WCHAR>::npos ? -1 : static_cast<LONG>(at);
}

LONG TString::Find(WCHAR ch, LONG start) const
{
    if (start < 0 || static_cast<std::size_t>(start) > m_Text.size()) {
        return -1;
    }
    std::size_t at = m_Text.find(ch, static_cast<std::size_t>(start));
    return at == std::basic_string<WCHAR>::npos ? -1 : static_cast<LONG>(at);
}

LONG TString::ReverseFind(WCHAR ch) const
{
    std::size_t at = m_Text.rfind(ch);
    return at == std::basic_string<WCHAR>::npos ? -1 : static_cast<LONG>(at);
}

LONG TString::Replace(const WCHAR* from, const WCHAR* to)
{
    if (!from || !*from) {
        return 0;
    }
    const std::basic_string<WCHAR> needle(from);
    const std::basic_string<WCHAR> replacement(to ? to : TEXT(""));
    LONG count = 0;
    std::size_t at = 0;
    while ((at = m_Text.find(needle, at)) != std::basic_string<WCHAR>::npos) {
        m_Text.replace(at, needle.size(), replacement);
        at += replacement.size();
        ++count;
    }
    return count;
}

LONG TString::Exchange(WCHAR from, WCHAR to)
{
    LONG count = 0;
    for (auto& ch : m_Text) {
        if (ch == from) {
            ch = to;
            ++count;
        }
    }
    return count;
}

TString& TString::StripTail()
{
    while (!m_Text.empty() && IsBlank(m_Text.back())) {
        m_Text.pop_back();
    }
    return *this;
}

TString& TString::StripTail(const WCHAR* set)
{
    if (!set) {
        return *this;
    }
    const std::basic_string<WCHAR> chars(set);
    while (!m_Text.empty() && chars.find(m_Text.back()) != std::basic_string<WCHAR>::npos) {
        m_Text.pop_back();
    }
    return *this;
}

TString& TString::MakeUpper()
{
    for (auto& ch : m_Text) {
        if (ch >= TEXT('a') && ch <= TEXT('z')) {
            ch = static_cast<WCHAR>(ch - TEXT('a') + TEXT('A'));
        }
    }
    return *this;
}

TString& TString::MakeLower()
{
    for (auto& ch : m_Text) {
        ch = FoldCase(ch);
    }
    return *this;
}

TString& TString::Insert(LONG index, const WCHAR* text)
{
    if (text) {
        m_Text.insert(Clamp(index, m_Text.size()), text);
    }
    return *this;
}

TString& TString::Delete(LONG index, LONG count)
{
    const std::size_t start = Clamp(index, m_Text.size());
    m_Text.erase(start, Clamp(count, m_Text.size() - start));
    return *this;
}

WCHAR* TString::GetBuffer(LONG minLength)
{
    const std::size_t wanted = minLength > 0 ? static_cast<std::size_t>(minLength) : 0;
    if (m_Text.size() < wanted) {
        m_Text.resize(wanted, 0);
    }
    return m_Text.data();
}

void TString::ReleaseBuffer(LONG newLength)
{
    if (newLength < 0) {
        std::size_t end = m_Text.find(WCHAR(0));
        if (end != std::basic_string<WCHAR>::npos) {
            m_Text.resize(end);
        }
    } else if (static_cast<std::size_t>(newLength) <= m_Text.size()) {
        m_Text.resize(static_cast<std::size_t>(newLength));
    }
}

std::string TString::AsAnsi() const
{
    std::string result;
    if (m_Text.empty()) {
        return result;
    }
    const int length = static_cast<int>(m_Text.size());
    const int needed =
        ::WideCharToMultiByte(CP_UTF8, 0, m_Text.data(), length, nullptr, 0, nullptr, nullptr);
    if (needed > 0) {
        result.resize(static_cast<std::size_t>(needed));
        ::WideCharToMultiByte(CP_UTF8, 0, m_Text.data(), length, result.data(), needed, nullptr,
                              nullptr);
    }
    return result;
}

LONG TString::AsAnsi(char* buffer, LONG size) const
{
    if (!buffer || size <= 0) {
        return 0;
    }
    const std::string text = AsAnsi();
    std::size_t n = std::min(text.size(), static_cast<std::size_t>(size - 1));
    // Never cut a UTF-8 sequence in the middle.
    while (n > 0 && n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) {
        --n;
    }
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return static_cast<LONG>(n);
}
