// TString: the base library's wide string (UTF-16 on every platform).
#ifndef COREWU_TSTRING_H
#define COREWU_TSTRING_H

#include <corewu/config.h>

#include <cstdarg>
#include <string>

// A value-semantics UTF-16 string. Copies are independent. Not synchronised: one
// object must not be changed by two threads at once; distinct objects are free.
//
// Index conventions: Left(n) is the first n characters; Right(n) is everything from
// index n to the end (not the last n characters); Find returns the index of the
// first occurrence or -1. Out-of-range counts are clamped, never undefined.
class COREWU_API TString
{
public:
    static const TString NullString;

    TString() = default;
    // From wide text, at most maxLength characters (0x7fffffff: all). Null is empty.
    TString(const WCHAR* text, LONG maxLength = 0x7fffffff);
    TString(WCHAR ch, LONG repeat);
    TString(const TString& other) = default;
    TString(TString&& other) noexcept = default;
    // A number in the given radix (2 to 36). A negative value has a minus sign in
    // radix 10; other radixes show the two's-complement bit pattern, as _ltow does.
    TString(LONG value, int radix);
    TString(DWORD value, int radix);
    TString(LONGLONG value, int radix);
    TString(ULONGLONG value, int radix);
#ifdef _WIN32
    // LONG and DWORD are long there, not int: without these an int argument
    // (TString(TEXT('x'), 3), TString(42, 10)) would fit several of the above.
    TString(WCHAR ch, int repeat) : TString(ch, static_cast<LONG>(repeat)) {}
    TString(int value, int radix) : TString(static_cast<LONG>(value), radix) {}
    TString(unsigned int value, int radix) : TString(static_cast<DWORD>(value), radix) {}
#endif
    explicit TString(const std::basic_string<WCHAR>& text) : m_Text(text) {}
    explicit TString(std::basic_string<WCHAR>&& text) : m_Text(std::move(text)) {}
    ~TString() = default;

    // UTF-8 text (the "ANSI" text of the platform).
    static TString FromAnsi(const char* text);

    TString& operator=(const TString& other) = default;
    TString& operator=(TString&& other) noexcept = default;
    TString& operator=(const WCHAR* text);
    TString& operator=(WCHAR ch);

    TString& operator+=(const TString& other);
    TString& operator+=(const WCHAR* text);
    TString& operator+=(WCHAR ch);

    friend COREWU_API TString operator+(const TString& a, const TString& b);
    friend COREWU_API TString operator+(const TString& a, const WCHAR* b);
    friend COREWU_API TString operator+(const WCHAR* a, const TString& b);
    friend COREWU_API TString operator+(const TString& a, WCHAR b);

    bool operator==(const TString& other) const
    {
        return m_Text == other.m_Text;
    }
    bool operator==(const WCHAR* text) const;
    bool operator!=(const TString& other) const
    {
        return !(*this == other);
    }
    bool operator!=(const WCHAR* text) const
    {
        return !(*this == text);
    }
    bool operator<(const TString& other) const
    {
        return m_Text < other.m_Text;
    }
    int Compare(const WCHAR* text) const;
    int CompareNoCase(const WCHAR* text) const;

    // The characters, terminated; valid until the string is next changed.
    operator const WCHAR*() const
    {
        return m_Text.c_str();
    }
    const WCHAR* c_str() const
    {
        return m_Text.c_str();
    }
    const std::basic_string<WCHAR>& str() const
    {
        return m_Text;
    }

    LONG GetLength() const
    {
        return static_cast<LONG>(m_Text.size());
    }
    BOOL IsEmpty() const
    {
        return m_Text.empty();
    }
    void Empty()
    {
        m_Text.clear();
    }
    // The character at an index; 0 for an index outside the string.
    WCHAR GetAt(LONG index) const;
    WCHAR operator[](LONG index) const
    {
        return GetAt(index);
    }
    void SetAt(LONG index, WCHAR ch);

    TString Left(LONG count) const;
    TString Right(LONG first) const;
    TString Mid(LONG first, LONG count = 0x7fffffff) const;

    LONG Find(const WCHAR* text, LONG start = 0) const;
    LONG Find(WCHAR ch, LONG start = 0) const;
    LONG ReverseFind(WCHAR ch) const;

    // Replaces every occurrence of `from` by `to`; returns the number replaced.
    LONG Replace(const WCHAR* from, const WCHAR* to);
    // Exchanges every character `from` for `to`; returns the number exchanged.
    LONG Exchange(WCHAR from, WCHAR to);
    // Removes trailing white space (blank, tab, CR, LF).
    TString& StripTail();
    // Removes trailing characters that occur in `set`.
    TString& StripTail(const WCHAR* set);
    TString& MakeUpper();
    TString& MakeLower();
    TString& Insert(LONG index, const WCHAR* text);
    TString& Delete(LONG index, LONG count = 1);

    // printf-style formatting into this string; returns *this. Conversions: d i u
    // x X o c s S(UTF-8 char*) f F e E g G p %, flags - + blank 0 #, width and
    // precision (also *). Length modifiers follow the 32-bit Windows convention:
    // none and l are 32 bits, ll and I64 are 64 bits, h is 16 bits, z and I are
    // pointer-sized. %s takes a const WCHAR*.
    TString& Format(const WCHAR* format, ...);
    TString& FormatV(const WCHAR* format, va_list arguments);
    static TString Formatted(const WCHAR* format, ...);

    // Room for at least minLength characters (plus a terminator) that the caller
    // writes directly; ReleaseBuffer then sets the length: to newLength, or with -1
    // to the first zero character.
    WCHAR* GetBuffer(LONG minLength);
    void ReleaseBuffer(LONG newLength = -1);

    // The text as UTF-8 into a buffer of `size` bytes, always terminated (cut at a
    // character boundary if it does not fit). Returns the bytes written, without
    // the terminator.
    LONG AsAnsi(char* buffer, LONG size) const;
    std::string AsAnsi() const;

private:
    std::basic_string<WCHAR> m_Text;
};

#endif // COREWU_TSTRING_H
