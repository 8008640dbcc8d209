// TString: construction, the index conventions, editing, UTF-8, and Format.
#include "testsupport.h"

#include <climits>
#include <cstring>
#include <memory>

TEST(TString, ConstructionFromTextNumbersAndCharacters)
{
    EXPECT_TRUE(TString().IsEmpty());
    EXPECT_TRUE(TString(static_cast<const WCHAR*>(nullptr)).IsEmpty());
    EXPECT_EQ(TString(u"abcdef", 3), u"abc");
    EXPECT_EQ(TString(u"ab", 0x7fffffff), u"ab");
    EXPECT_EQ(TString(u'x', 3), u"xxx");
    struct Number
    {
        TString made;
        const char16_t* expected;
    };
    const Number numbers[] = {
        {TString(LONG(0), 10), u"0"},
        {TString(LONG(-42), 10), u"-42"},
        {TString(LONG(INT_MIN), 10), u"-2147483648"},
        {TString(LONG(255), 16), u"ff"},
        {TString(LONG(-1), 16), u"ffffffff"}, // other radixes show the bit pattern
        {TString(DWORD(4096), 16), u"1000"},
        {TString(LONGLONG(-5000000000LL), 10), u"-5000000000"},
        {TString(LONG(5), 2), u"101"},
    };
    for (const Number& n : numbers) {
        EXPECT_EQ(n.made, n.expected);
    }
}

TEST(TString, LeftIsTheFirstNAndRightIsFromIndexN)
{
    const TString text(u"Hello");
    struct Case
    {
        LONG n;
        const char16_t* left;
        const char16_t* right;
    };
    const Case cases[] = {
        {0, u"", u"Hello"}, {2, u"He", u"llo"},  {5, u"Hello", u""},
        {9, u"Hello", u""}, {-1, u"", u"Hello"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.n);
        EXPECT_EQ(text.Left(c.n), c.left);
        EXPECT_EQ(text.Right(c.n), c.right);
    }
    EXPECT_EQ(text.Mid(1, 3), u"ell");
    EXPECT_EQ(text.Mid(4, 99), u"o");
}

TEST(TString, FindReplaceExchangeStrip)
{
    TString text(u"a-b-c");
    EXPECT_EQ(text.Find(u"-"), 1);
    EXPECT_EQ(text.Find(u"-", 2), 3);
    EXPECT_EQ(text.Find(u"x"), -1);
    EXPECT_EQ(text.Find(u'c'), 4);
    EXPECT_EQ(text.Find(u"-", 99), -1);
    EXPECT_EQ(text.ReverseFind(u'-'), 3);
    EXPECT_EQ(text.Replace(u"-", u"--"), 2);
    EXPECT_EQ(text, u"a--b--c");
    EXPECT_EQ(text.Exchange(u'-', u'+'), 4);
    EXPECT_EQ(text, u"a++b++c");
    TString padded(u"value \t\r\n");
    EXPECT_EQ(padded.StripTail(), u"value");
    TString zeros(u"1.500");
    EXPECT_EQ(zeros.StripTail(u"0"), u"1.5");
    EXPECT_EQ(TString(u"MiXeD").MakeUpper(), u"MIXED");
    EXPECT_EQ(TString(u"abc").CompareNoCase(u"ABC"), 0);
}

TEST(TString, OperatorsAndComparisons)
{
    TString text(u"ab");
    text += u"cd";
    text += u'e';
    text += TString(u"f");
    EXPECT_EQ(text, u"abcdef");
    EXPECT_EQ(u"<" + text + u">", u"<abcdef>");
    EXPECT_TRUE(u"abcdef" == text);
    EXPECT_EQ(text.GetAt(1), u'b');
    EXPECT_EQ(text.GetAt(99), 0);
    EXPECT_LT(TString(u"a"), TString(u"b"));
}

TEST(TString, BufferAccess)
{
    TString text;
    WCHAR* buffer = text.GetBuffer(10);
    buffer[0] = u'h';
    buffer[1] = u'i';
    buffer[2] = 0;
    text.ReleaseBuffer();
    EXPECT_EQ(text, u"hi");
    text.GetBuffer(5)[4] = u'!';
    text.ReleaseBuffer(5);
    EXPECT_EQ(text.GetLength(), 5);
    EXPECT_EQ(text.GetAt(4), u'!');
}

TEST(TString, Utf8)
{
    const TString text(u"gr\u00FC\u00DF \U0001F600");
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
        const char16_t* expected;
    };
    const WCHAR* nullText = nullptr;
    const Case cases[] = {
        {TString::Formatted(u"%d|%5d|%-5d|%05d", 42, 42, 42, -42), u"42|   42|42   |-0042"},
        {TString::Formatted(u"%u %x %X %o", 4000000000u, 255u, 255u, 8u), u"4000000000 ff FF 10"},
        {TString::Formatted(u"%08X", 0xBEEFu), u"0000BEEF"},
        {TString::Formatted(u"%ld", LONG(-7)), u"-7"}, // l is 32 bits, as on Windows
        {TString::Formatted(u"%lld %I64d", -5000000000LL, 5000000000LL), u"-5000000000 5000000000"},
        {TString::Formatted(u"%.2f|%8.3f|%e", 3.14159, 2.5, 1234.5), u"3.14|   2.500|1.234500e+03"},
        {TString::Formatted(u"%s|%-4s|%4s|%.2s", u"abc", u"ab", u"ab", u"abc"),
         u"abc|ab  |  ab|ab"},
        {TString::Formatted(u"%s", nullText), u"(null)"},
        {TString::Formatted(u"%S", "utf\xC3\xA4"), u"utf\u00E4"},
        {TString::Formatted(u"%c%c", u'o', u'k'), u"ok"},
        {TString::Formatted(u"%*d|%.*f", 4, 7, 1, 0.25), u"   7|0.2"},
        {TString::Formatted(u"100%% %d%%", 5), u"100% 5%"},
        {TString::Formatted(u"%hd", 70000), u"4464"},
        {TString::Formatted(u"%q stays, lone %"), u"%q stays, lone %"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.made, c.expected);
    }
}

TEST(TStringFormat, LongOutputAndWideStringHelpers)
{
    const TString big = TString::Formatted(u"%300d", 1);
    EXPECT_EQ(big.GetLength(), 300);
    WCHAR buffer[8];
    EXPECT_EQ(WSPrintf(buffer, 8, u"%d", 1234), 4);
    EXPECT_EQ(WSPrintf(buffer, 4, u"%d", 123456), -1); // cut, but terminated
    EXPECT_EQ(TString(buffer), u"123");
    WCHAR field[4];
    WStrNCopy(field, u"abcdef", 4); // no terminator, as wcsncpy
    EXPECT_EQ(WStrFieldLen(field, 4), 4u);
    WStrNCopy(field, u"a", 4);
    EXPECT_EQ(field[3], 0);
}

TEST(TStringFormat, WidthsAndPrecisionsFromArgumentsAreCapped)
{
    // The most negative width is left alignment at the cap, not an overflow.
    const TString left = TString::Formatted(u"%*d|", INT_MIN, 7);
    EXPECT_EQ(left.GetLength(), 100001);
    EXPECT_EQ(left.Left(2), u"7 ");
    EXPECT_EQ(left.Right(100000), u"|");
    EXPECT_EQ(TString::Formatted(u"%*s", INT_MAX, u"x").GetLength(), 100000);
    EXPECT_EQ(TString::Formatted(u"%.*f", INT_MAX, 1.0).GetLength(), 100002); // "1." and digits
    EXPECT_EQ(TString::Formatted(u"%.*d", -5, 42), u"42"); // negative: as if none was given
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
        const char16_t* format;
        std::u16string units;
        std::u16string expected;
    };
    const WideCase wide[] = {
        {u"[%.4s]", u"abcd", u"[abcd]"},
        {u"[%.2s]", u"abcd", u"[ab]"},
        {u"[%6.4s]", u"abcd", u"[  abcd]"},
        {u"[%-5.1s]", u"x", u"[x    ]"},
        {u"[%.0s]", u"", u"[]"},
    };
    for (const WideCase& c : wide) {
        const WCHAR* p = page.Place(c.units.data(), c.units.size());
        EXPECT_EQ(TString::Formatted(c.format, p), c.expected.c_str())
            << TString(c.format).AsAnsi();
        // The precision given as an argument bounds the read the same way.
        EXPECT_EQ(TString::Formatted(u"%.*s", static_cast<int>(c.units.size()), p),
                  c.units.c_str());
    }
    struct NarrowCase
    {
        const char16_t* format;
        std::string bytes;
        std::u16string expected;
    };
    const NarrowCase narrow[] = {
        {u"[%.4S]", "abcd", u"[abcd]"},
        {u"[%.2S]", "abcd", u"[ab]"},
        {u"[%.3S]",
         "a\xC3\xA4"
         "b",
         u"[a\u00E4b]"},                                  // a two-byte character
        {u"[%.2S]", "\xF0\x9F\x98\x80", u"[\U0001F600]"}, // two units from four bytes
        {u"[%.3S]",
         "a\xFF"
         "b",
         u"[a\uFFFDb]"}, // an invalid byte is one unit
        {u"[%.3S]",
         "a\xE2\x82"
         "b",
         u"[a\uFFFDb]"}, // a cut sequence is one unit
    };
    for (const NarrowCase& c : narrow) {
        const char* p = page.Place(c.bytes.data(), c.bytes.size());
        EXPECT_EQ(TString::Formatted(c.format, p), c.expected.c_str())
            << TString(c.format).AsAnsi();
    }
    // The same on the heap, where the address sanitizer reports a read too far.
    const auto wideHeap = std::make_unique<WCHAR[]>(4);
    std::memcpy(wideHeap.get(), u"abcd", 4 * sizeof(WCHAR));
    const auto narrowHeap = std::make_unique<char[]>(4);
    std::memcpy(narrowHeap.get(), "abcd", 4);
    EXPECT_EQ(TString::Formatted(u"[%.4s|%.4S]", wideHeap.get(), narrowHeap.get()), u"[abcd|abcd]");
    // Terminated strings shorter than the precision are taken whole.
    EXPECT_EQ(TString::Formatted(u"[%.10s|%.10S]", u"ab", "cd"), u"[ab|cd]");
}

TEST(WideStrings, StrToLFollowsWcstolOnWindows)
{
    struct Case
    {
        const char16_t* text;
        LONG value;
        int consumed;
    };
    const Case cases[] = {
        {u"123abc", 123, 3},
        {u"  -45", -45, 5},
        {u"+7", 7, 2},
        {u"abc", 0, 0},
        {u" -x", 0, 0},
        {u"", 0, 0},
        {u"99999999999", INT32_MAX, 11},
        {u"-99999999999", INT32_MIN, 12},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(TString(c.text).AsAnsi());
        const WCHAR* end = nullptr;
        EXPECT_EQ(WStrToL(c.text, &end, 10), c.value);
        EXPECT_EQ(end - c.text, c.consumed);
    }
}
