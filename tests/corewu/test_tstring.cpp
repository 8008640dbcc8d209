// TString: construction, the index conventions, editing, UTF-8, and Format.
#include "testsupport.h"

#include <climits>
#include <cstring>
#include <memory>

TEST(TString, ConstructionFromTextNumbersAndCharacters)
{
    EXPECT_TRUE(TString().IsEmpty());
    EXPECT_TRUE(TString(static_cast<const WCHAR*>(nullptr)).IsEmpty());
    EXPECT_EQ(TString(TEXT("abcdef"), 3), TEXT("abc"));
    EXPECT_EQ(TString(TEXT("ab"), 0x7fffffff), TEXT("ab"));
    EXPECT_EQ(TString(TEXT('x'), 3), TEXT("xxx"));
    struct Number
    {
        TString made;
        const WCHAR* expected;
    };
    const Number numbers[] = {
        {TString(LONG(0), 10), TEXT("0")},
        {TString(LONG(-42), 10), TEXT("-42")},
        {TString(LONG(INT_MIN), 10), TEXT("-2147483648")},
        {TString(LONG(255), 16), TEXT("ff")},
        {TString(LONG(-1), 16), TEXT("ffffffff")}, // other radixes show the bit pattern
        {TString(DWORD(4096), 16), TEXT("1000")},
        {TString(LONGLONG(-5000000000LL), 10), TEXT("-5000000000")},
        {TString(LONG(5), 2), TEXT("101")},
    };
    for (const Number& n : numbers) {
        EXPECT_EQ(n.made, n.expected);
    }
}

TEST(TString, LeftIsTheFirstNAndRightIsFromIndexN)
{
    const TString text(TEXT("Hello"));
    struct Case
    {
        LONG n;
        const WCHAR* left;
        const WCHAR* right;
    };
    const Case cases[] = {
        {0, TEXT(""), TEXT("Hello")}, {2, TEXT("He"), TEXT("llo")},  {5, TEXT("Hello"), TEXT("")},
        {9, TEXT("Hello"), TEXT("")}, {-1, TEXT(""), TEXT("Hello")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.n);
        EXPECT_EQ(text.Left(c.n), c.left);
        EXPECT_EQ(text.Right(c.n), c.right);
    }
    EXPECT_EQ(text.Mid(1, 3), TEXT("ell"));
    EXPECT_EQ(text.Mid(4, 99), TEXT("o"));
}

TEST(TString, FindReplaceExchangeStrip)
{
    TString text(TEXT("a-b-c"));
    EXPECT_EQ(text.Find(TEXT("-")), 1);
    EXPECT_EQ(text.Find(TEXT("-"), 2), 3);
    EXPECT_EQ(text.Find(TEXT("x")), -1);
    EXPECT_EQ(text.Find(TEXT('c')), 4);
    EXPECT_EQ(text.Find(TEXT("-"), 99), -1);
    EXPECT_EQ(text.ReverseFind(TEXT('-')), 3);
    EXPECT_EQ(text.Replace(TEXT("-"), TEXT("--")), 2);
    EXPECT_EQ(text, TEXT("a--b--c"));
    EXPECT_EQ(text.Exchange(TEXT('-'), TEXT('+')), 4);
    EXPECT_EQ(text, TEXT("a++b++c"));
    TString padded(TEXT("value \t\r\n"));
    EXPECT_EQ(padded.StripTail(), TEXT("value"));
    TString zeros(TEXT("1.500"));
    EXPECT_EQ(zeros.StripTail(TEXT("0")), TEXT("1.5"));
    EXPECT_EQ(TString(TEXT("MiXeD")).MakeUpper(), TEXT("MIXED"));
    EXPECT_EQ(TString(TEXT("abc")).CompareNoCase(TEXT("ABC")), 0);
}

TEST(TString, OperatorsAndComparisons)
{
    TString text(TEXT("ab"));
    text += TEXT("cd");
    text += TEXT('e');
    text += TString(TEXT("f"));
    EXPECT_EQ(text, TEXT("abcdef"));
    EXPECT_EQ(TEXT("<") + text + TEXT(">"), TEXT("<abcdef>"));
    EXPECT_TRUE(TEXT("abcdef") == text);
    EXPECT_EQ(text.GetAt(1), TEXT('b'));
    EXPECT_EQ(text.GetAt(99), 0);
    EXPECT_LT(TString(TEXT("a")), TString(TEXT("b")));
}

TEST(TString, BufferAccess)
{
    TString text;
    WCHAR* buffer = text.GetBuffer(10);
    buffer[0] = TEXT('h');
    buffer[1] = TEXT('i');
    buffer[2] = 0;
    text.ReleaseBuffer();
    EXPECT_EQ(text, TEXT("hi"));
    text.GetBuffer(5)[4] = TEXT('!');
    text.ReleaseBuffer(5);
    EXPECT_EQ(text.GetLength(), 5);
    EXPECT_EQ(text.GetAt(4), TEXT('!'));
}

TEST(TString, Utf8)
{
    const TString text(TEXT("gr\u00FC\u00DF \U0001F600"));
    EXPECT_EQ(text.AsAnsi(), "gr\xC3\xBC\xC3\x9F \xF0\x9F\x98\x80");
    EXPECT_EQ(TString::FromAnsi(text.AsAnsi().c_str()), text);
    char small[6];
    // Never cuts a character in half: "gr" and the two bytes of u-umlaut fit, the
    // sharp s would not.
    EXPECT_EQ(text.AsAnsi(small, sizeof small), 4);
    EXPECT_STREQ(small, "gr\xC3\xBC");
}

TEST(TStringFormat, ConversionsWidthsAndFlags)
{
    struct Case
    {
        TString made;
        const WCHAR* expected;
    };
    const WCHAR* nullText = nullptr;
    const Case cases[] = {
        {TString::Formatted(TEXT("%d|%5d|%-5d|%05d"), 42, 42, 42, -42),
         TEXT("42|   42|42   |-0042")},
        {TString::Formatted(TEXT("%u %x %X %o"), 4000000000u, 255u, 255u, 8u),
         TEXT("4000000000 ff FF 10")},
        {TString::Formatted(TEXT("%08X"), 0xBEEFu), TEXT("0000BEEF")},
        {TString::Formatted(TEXT("%ld"), LONG(-7)), TEXT("-7")}, // l is 32 bits, as on Windows
        {TString::Formatted(TEXT("%lld %I64d"), -5000000000LL, 5000000000LL),
         TEXT("-5000000000 5000000000")},
        {TString::Formatted(TEXT("%.2f|%8.3f|%e"), 3.14159, 2.5, 1234.5),
         TEXT("3.14|   2.500|1.234500e+03")},
        {TString::Formatted(TEXT("%s|%-4s|%4s|%.2s"), TEXT("abc"), TEXT("ab"), TEXT("ab"),
                            TEXT("abc")),
         TEXT("abc|ab  |  ab|ab")},
        {TString::Formatted(TEXT("%s"), nullText), TEXT("(null)")},
        {TString::Formatted(TEXT("%S"), "utf\xC3\xA4"), TEXT("utf\u00E4")},
        {TString::Formatted(TEXT("%c%c"), TEXT('o'), TEXT('k')), TEXT("ok")},
        {TString::Formatted(TEXT("%*d|%.*f"), 4, 7, 1, 0.25), TEXT("   7|0.2")},
        {TString::Formatted(TEXT("100%% %d%%"), 5), TEXT("100% 5%")},
        {TString::Formatted(TEXT("%hd"), 70000), TEXT("4464")},
        {TString::Formatted(TEXT("%q stays, lone %")), TEXT("%q stays, lone %")},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.made, c.expected);
    }
}

TEST(TStringFormat, LongOutputAndWideStringHelpers)
{
    const TString big = TString::Formatted(TEXT("%300d"), 1);
    EXPECT_EQ(big.GetLength(), 300);
    WCHAR buffer[8];
    EXPECT_EQ(WSPrintf(buffer, 8, TEXT("%d"), 1234), 4);
    EXPECT_EQ(WSPrintf(buffer, 4, TEXT("%d"), 123456), -1); // cut, but terminated
    EXPECT_EQ(TString(buffer), TEXT("123"));
    WCHAR field[4];
    WStrNCopy(field, TEXT("abcdef"), 4); // no terminator, as wcsncpy
    EXPECT_EQ(WStrFieldLen(field, 4), 4u);
    WStrNCopy(field, TEXT("a"), 4);
    EXPECT_EQ(field[3], 0);
}

TEST(TStringFormat, WidthsAndPrecisionsFromArgumentsAreCapped)
{
    // The most negative width is left alignment at the cap, not an overflow.
    const TString left = TString::Formatted(TEXT("%*d|"), INT_MIN, 7);
    EXPECT_EQ(left.GetLength(), 100001);
    EXPECT_EQ(left.Left(2), TEXT("7 "));
    EXPECT_EQ(left.Right(100000), TEXT("|"));
    EXPECT_EQ(TString::Formatted(TEXT("%*s"), INT_MAX, TEXT("x")).GetLength(), 100000);
    EXPECT_EQ(TString::Formatted(TEXT("%.*f"), INT_MAX, 1.0).GetLength(),
              100002); // "1." and digits
    EXPECT_EQ(TString::Formatted(TEXT("%.*d"), -5, 42),
              TEXT("42")); // negative: as if none was given
}

namespace {

// Places bytes at the very end of a committed page with an inaccessible page
// behind them, so that reading one byte too many faults in every build (and is a
// heap overflow report under ASan besides).
class EndOfPage
{
public:
    EndOfPage()
    {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        m_Page = info.dwPageSize;
        m_Base = static_cast<char*>(VirtualAlloc(nullptr, 2 * m_Page, MEM_RESERVE, PAGE_NOACCESS));
        if (m_Base) {
            VirtualAlloc(m_Base, m_Page, MEM_COMMIT, PAGE_READWRITE);
        }
    }
    ~EndOfPage()
    {
        if (m_Base) {
            VirtualFree(m_Base, 0, MEM_RELEASE);
        }
    }
    EndOfPage(const EndOfPage&) = delete;
    EndOfPage& operator=(const EndOfPage&) = delete;

    bool Ready() const { return m_Base != nullptr; }

    // Copies `count` elements (no terminator) so that the last one ends the page.
    template <class Unit> const Unit* Place(const Unit* units, std::size_t count)
    {
        Unit* at = reinterpret_cast<Unit*>(m_Base + m_Page) - count;
        std::memcpy(at, units, count * sizeof(Unit));
        return at;
    }

private:
    DWORD m_Page = 0;
    char* m_Base = nullptr;
};

} // namespace

// With a precision, a string argument need not be terminated: only as much is
// read as the precision asks for (units for %s, the characters that make up that
// many units for the UTF-8 %S).
TEST(TStringFormat, PrecisionBoundsTheReadOfUnterminatedStrings)
{
    EndOfPage page;
    ASSERT_TRUE(page.Ready());
    struct WideCase
    {
        const WCHAR* format;
        std::basic_string<WCHAR> units;
        std::basic_string<WCHAR> expected;
    };
    const WideCase wide[] = {
        {TEXT("[%.4s]"), TEXT("abcd"), TEXT("[abcd]")},
        {TEXT("[%.2s]"), TEXT("abcd"), TEXT("[ab]")},
        {TEXT("[%6.4s]"), TEXT("abcd"), TEXT("[  abcd]")},
        {TEXT("[%-5.1s]"), TEXT("x"), TEXT("[x    ]")},
        {TEXT("[%.0s]"), TEXT(""), TEXT("[]")},
    };
    for (const WideCase& c : wide) {
        const WCHAR* p = page.Place(c.units.data(), c.units.size());
        EXPECT_EQ(TString::Formatted(c.format, p), c.expected.c_str())
            << TString(c.format).AsAnsi();
        // The precision given as an argument bounds the read the same way.
        EXPECT_EQ(TString::Formatted(TEXT("%.*s"), static_cast<int>(c.units.size()), p),
                  c.units.c_str());
    }
    struct NarrowCase
    {
        const WCHAR* format;
        std::string bytes;
        std::basic_string<WCHAR> expected;
    };
    const NarrowCase narrow[] = {
        {TEXT("[%.4S]"), "abcd", TEXT("[abcd]")},
        {TEXT("[%.2S]"), "abcd", TEXT("[ab]")},
        {TEXT("[%.3S]"),
         "a\xC3\xA4"
         "b",
         TEXT("[a\u00E4b]")},                                       // a two-byte character
        {TEXT("[%.2S]"), "\xF0\x9F\x98\x80", TEXT("[\U0001F600]")}, // two units from four bytes
        {TEXT("[%.3S]"),
         "a\xFF"
         "b",
         TEXT("[a\uFFFDb]")}, // an invalid byte is one unit
        {TEXT("[%.3S]"),
         "a\xE2\x82"
         "b",
         TEXT("[a\uFFFDb]")}, // a cut sequence is one unit
    };
    for (const NarrowCase& c : narrow) {
        const char* p = page.Place(c.bytes.data(), c.bytes.size());
        EXPECT_EQ(TString::Formatted(c.format, p), c.expected.c_str())
            << TString(c.format).AsAnsi();
    }
    // The same on the heap, where the address sanitizer reports a read too far.
    const auto wideHeap = std::make_unique<WCHAR[]>(4);
    std::memcpy(wideHeap.get(), TEXT("abcd"), 4 * sizeof(WCHAR));
    const auto narrowHeap = std::make_unique<char[]>(4);
    std::memcpy(narrowHeap.get(), "abcd", 4);
    EXPECT_EQ(TString::Formatted(TEXT("[%.4s|%.4S]"), wideHeap.get(), narrowHeap.get()),
              TEXT("[abcd|abcd]"));
    // Terminated strings shorter than the precision are taken whole.
    EXPECT_EQ(TString::Formatted(TEXT("[%.10s|%.10S]"), TEXT("ab"), "cd"), TEXT("[ab|cd]"));
}

TEST(WideStrings, StrToLFollowsWcstolOnWindows)
{
    struct Case
    {
        const WCHAR* text;
        LONG value;
        int consumed;
    };
    const Case cases[] = {
        {TEXT("123abc"), 123, 3},
        {TEXT("  -45"), -45, 5},
        {TEXT("+7"), 7, 2},
        {TEXT("abc"), 0, 0},
        {TEXT(" -x"), 0, 0},
        {TEXT(""), 0, 0},
        {TEXT("99999999999"), INT32_MAX, 11},
        {TEXT("-99999999999"), INT32_MIN, 12},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(TString(c.text).AsAnsi());
        const WCHAR* end = nullptr;
        EXPECT_EQ(WStrToL(c.text, &end, 10), c.value);
        EXPECT_EQ(end - c.text, c.consumed);
    }
}
