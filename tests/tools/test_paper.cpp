// The paper format table of ZCFormat and its inside, outside and closest searches.
#include "testsupport.h"

#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace {

using TFormatInfo = ZCFormat::TFormatInfo;

std::basic_string<WCHAR> Name(const WCHAR* name)
{
    return name ? std::basic_string<WCHAR>(name) : std::basic_string<WCHAR>(TEXT("(null)"));
}

struct Row
{
    const WCHAR* name;
    WORD formatClass;
    ULONG sizeX;
    ULONG sizeY;
};

// The standard table, every size to the unit.
const Row kTable[ZCFormat::FormatCount] = {
    {TEXT("Window"), 0xFFFF, 0, 0},           {TEXT("ISO A0"), 1, 158910, 224732},
    {TEXT("ISO A1"), 1, 112366, 158910},      {TEXT("ISO A2"), 1, 79455, 112366},
    {TEXT("ISO A3"), 1, 56183, 79455},        {TEXT("ISO A4"), 1, 39727, 56183},
    {TEXT("ISO A5"), 1, 28091, 39727},        {TEXT("ISO A6"), 1, 19863, 28091},
    {TEXT("ISO B0"), 2, 188976, 267253},      {TEXT("ISO B1"), 2, 133626, 188976},
    {TEXT("ISO B2"), 2, 94488, 133626},       {TEXT("ISO B3"), 2, 66813, 94488},
    {TEXT("ISO B4"), 2, 47244, 66813},        {TEXT("ISO B5"), 2, 33406, 47244},
    {TEXT("ISO B6"), 2, 23622, 33406},        {TEXT("ISO C0"), 3, 173292, 245072},
    {TEXT("ISO C1"), 3, 122536, 173292},      {TEXT("ISO C2"), 3, 86646, 122536},
    {TEXT("ISO C3"), 3, 61268, 86646},        {TEXT("ISO C4"), 3, 43323, 61268},
    {TEXT("ISO C5"), 3, 30634, 43323},        {TEXT("ISO C6"), 3, 21661, 30634},
    {TEXT("ANSI E"), 4, 163200, 211200},      {TEXT("ANSI D"), 4, 105600, 163200},
    {TEXT("ANSI C"), 4, 81600, 105600},       {TEXT("ANSI B"), 4, 52800, 81600},
    {TEXT("ANSI A"), 4, 40800, 52800},        {TEXT("ARC E"), 5, 172800, 230400},
    {TEXT("ARC D"), 5, 115200, 172800},       {TEXT("ARC C"), 5, 86400, 115200},
    {TEXT("ARC B"), 5, 57600, 86400},         {TEXT("ARC A"), 5, 43200, 57600},
    {TEXT("Asia B0"), 6, 194646, 275150},     {TEXT("Asia B1"), 6, 137575, 194646},
    {TEXT("Asia B2"), 6, 97323, 137575},      {TEXT("Asia B3"), 6, 68787, 97323},
    {TEXT("Asia B4"), 6, 48567, 68787},       {TEXT("Asia B5"), 6, 34394, 48567},
    {TEXT("Asia B6"), 6, 24189, 34394},       {TEXT("30 x 42 Inch"), 4, 144000, 201600},
    {TEXT("15 x 21 Inch"), 4, 72000, 100800},
};

void ExpectTable(const ZCFormat& format)
{
    for (int i = 0; i < ZCFormat::FormatCount; ++i) {
        SCOPED_TRACE(i);
        TFormatInfo info;
        std::memset(&info, 0xAB, sizeof(info));
        format.InitFormat(i, &info);
        EXPECT_EQ(Name(info.Name), kTable[i].name);
        EXPECT_EQ(info.Class, kTable[i].formatClass);
        EXPECT_EQ(info.SizeX, kTable[i].sizeX);
        EXPECT_EQ(info.SizeY, kTable[i].sizeY);
        EXPECT_LE(info.SizeX, info.SizeY);
        EXPECT_EQ(info.SkipX, 0u);
        EXPECT_EQ(info.SkipY, 0u);
        EXPECT_EQ(info.Land, 0u);
        EXPECT_EQ(info.Index, static_cast<ULONG>(i));
        // The unused rest of the name is cleared.
        const std::size_t length = std::basic_string<WCHAR>(kTable[i].name).size();
        for (std::size_t c = length; c < 32; ++c) {
            EXPECT_EQ(info.Name[c], 0) << c;
        }
    }
}

TEST(Paper, TableOfAFreshObject)
{
    ZCFormat format;
    ExpectTable(format);
}

TEST(Paper, LibraryWideTableEqualsAFreshOne)
{
    ExpectTable(TheFormat);
    ZCFormat format;
    EXPECT_EQ(std::memcmp(&format, &TheFormat, sizeof(ZCFormat)), 0);
}

TEST(Paper, CopiesAreWhole)
{
    ZCFormat copy(TheFormat);
    EXPECT_EQ(std::memcmp(&copy, &TheFormat, sizeof(ZCFormat)), 0);
    ZCFormat assigned;
    assigned = copy;
    EXPECT_EQ(std::memcmp(&assigned, &TheFormat, sizeof(ZCFormat)), 0);
}

TEST(Paper, InitFormat)
{
    TFormatInfo info;
    TheFormat.InitFormat(5, &info);
    EXPECT_EQ(Name(info.Name), TEXT("ISO A4"));
    EXPECT_EQ(info.SizeX, 39727u);
    EXPECT_EQ(info.SizeY, 56183u);
    EXPECT_EQ(info.Class, 1);
    EXPECT_EQ(info.Index, 5u);
    // Outside the table: record 0 instead of a read past it; a null record is ignored.
    for (int index : {-1, 41, 1000}) {
        TheFormat.InitFormat(index, &info);
        EXPECT_EQ(Name(info.Name), TEXT("Window")) << index;
        EXPECT_EQ(info.Class, 0xFFFF) << index;
    }
    TheFormat.InitFormat(5, nullptr);
}

TEST(Paper, FormatNamesCatalog)
{
    EXPECT_EQ(FindCatalog(TEXT("ZCFormat::FormatNames")), ZCFormat::FormatNames.Number());
    for (int i = 0; i < ZCFormat::FormatCount; ++i) {
        EXPECT_EQ(GetMessageW(ZCFormat::FormatNames, static_cast<WORD>(i), TString::NullString,
                              TString::NullString, TString::NullString),
                  TString(kTable[i].name));
    }
}

// A caller's list of records; the fixture owns copies of the standard records
// plus any records a test adds.
class PaperSearch : public testing::Test
{
protected:
    TFormatInfo* Standard(int index)
    {
        m_Records.push_back(std::make_unique<TFormatInfo>());
        TheFormat.InitFormat(index, m_Records.back().get());
        return m_Records.back().get();
    }
    TFormatInfo* Custom(const WCHAR* name, ULONG sizeX, ULONG sizeY)
    {
        m_Records.push_back(std::make_unique<TFormatInfo>());
        TFormatInfo* info = m_Records.back().get();
        std::memset(info, 0, sizeof(*info));
        std::basic_string<WCHAR>(name).copy(info->Name, 31);
        info->SizeX = sizeX;
        info->SizeY = sizeY;
        return info;
    }
    // Builds the list from standard indices; returns the nodes in list order.
    std::vector<POSITION> List(std::initializer_list<int> indices)
    {
        std::vector<POSITION> nodes;
        for (int index : indices) {
            nodes.push_back(m_List.AddTail(Standard(index)));
        }
        return nodes;
    }

    TPtrList<TFormatInfo*> m_List;
    UINT m_Landscape = 7;
    void* m_Position = reinterpret_cast<void*>(1);

private:
    std::vector<std::unique_ptr<TFormatInfo>> m_Records;
};

constexpr int A3 = 4, A4 = 5, A5 = 6;

TEST_F(PaperSearch, InsideOnAListFromSmallToLarge)
{
    const std::vector<POSITION> nodes = List({A5, A4, A3});
    WCHAR* name = TheFormat.GetFormatInside(56183, 39727, &m_List, m_Landscape, m_Position);
    EXPECT_EQ(Name(name), TEXT("ISO A4"));
    EXPECT_EQ(m_Landscape, 1u);
    EXPECT_EQ(m_Position, nodes[1]);
    // The result points into the list's record.
    EXPECT_EQ(name, m_List.GetAt(nodes[1])->Name);
}

TEST_F(PaperSearch, InsideEndsAtTheFirstRecordThatDoesNotFit)
{
    // Large to small: A3 does not fit and ends the walk before A4 is looked at.
    List({A3, A4, A5});
    WCHAR* name = TheFormat.GetFormatInside(56183, 39727, &m_List, m_Landscape, m_Position);
    EXPECT_EQ(Name(name), TEXT("Window"));
    EXPECT_EQ(m_Position, nullptr);
    EXPECT_EQ(m_Landscape, 1u);

    // A5 fits, A3 ends the walk, the A4 behind it is never reached.
    m_List.RemoveAll();
    const std::vector<POSITION> nodes = List({A5, A3, A4});
    name = TheFormat.GetFormatInside(39727, 56183, &m_List, m_Landscape, m_Position);
    EXPECT_EQ(Name(name), TEXT("ISO A5"));
    EXPECT_EQ(m_Position, nodes[0]);
    EXPECT_EQ(m_Landscape, 0u);
}

TEST_F(PaperSearch, OutsideOnAListFromLargeToSmall)
{
    const std::vector<POSITION> nodes = List({A3, A4, A5});
    WCHAR* name = TheFormat.GetFormatOutside(39000, 56000, &m_List, m_Landscape, m_Position);
    EXPECT_EQ(Name(name), TEXT("ISO A4"));
    EXPECT_EQ(m_Landscape, 0u);
    EXPECT_EQ(m_Position, nodes[1]);

    // A4 is 39727 units wide, too narrow for 40000: it ends the walk.
    name = TheFormat.GetFormatOutside(40000, 56000, &m_List, m_Landscape, m_Position);
    EXPECT_EQ(Name(name), TEXT("ISO A3"));
    EXPECT_EQ(m_Position, nodes[0]);

    // Exactly A4's size, given landscape.
    name = TheFormat.GetFormatOutside(56183, 39727, &m_List, m_Landscape, m_Position);
    EXPECT_EQ(Name(name), TEXT("ISO A4"));
    EXPECT_EQ(m_Landscape, 1u);

    // Larger than every record: the first one ends the walk.
    name = TheFormat.GetFormatOutside(60000, 80000, &m_List, m_Landscape, m_Position);
    EXPECT_EQ(Name(name), TEXT("Window"));
    EXPECT_EQ(m_Position, nullptr);
}

TEST_F(PaperSearch, ClosestWithinATolerance)
{
    for (int i = 1; i < ZCFormat::FormatCount; ++i) {
        m_List.AddTail(Standard(i));
    }
    // Tolerance 0: only the exact size, in either orientation.
    for (auto [x, y] : {std::pair<ULONG, ULONG>{39727, 56183}, {56183, 39727}}) {
        WCHAR* name = TheFormat.GetFormatClosest(x, y, &m_List, m_Landscape, m_Position, 0);
        EXPECT_EQ(Name(name), TEXT("ISO A4"));
        ASSERT_NE(m_Position, nullptr);
        EXPECT_EQ(m_List.GetAt(m_Position)->Index, 5u);
        EXPECT_EQ(m_Landscape, x > y ? 1u : 0u);
    }
    // 210 x 297 mm is not the table's A4 (39727 x 56183) to the unit.
    const ULONG a4x = ZCUnit::ConvertMmToZanth(210.0);
    const ULONG a4y = ZCUnit::ConvertMmToZanth(297.0);
    WCHAR* name = TheFormat.GetFormatClosest(a4x, a4y, &m_List, m_Landscape, m_Position, 0);
    EXPECT_EQ(Name(name), TEXT("Window"));
    EXPECT_EQ(m_Position, nullptr);
    name = TheFormat.GetFormatClosest(a4x, a4y, &m_List, m_Landscape, m_Position, 189);
    EXPECT_EQ(Name(name), TEXT("ISO A4"));

    // dx 73, dy 0: score 0.
    name = TheFormat.GetFormatClosest(39800, 56183, &m_List, m_Landscape, m_Position, 500);
    EXPECT_EQ(Name(name), TEXT("ISO A4"));
    // Within the tolerance in one side only: skipped.
    name = TheFormat.GetFormatClosest(39800, 56183 + 501, &m_List, m_Landscape, m_Position, 500);
    EXPECT_EQ(Name(name), TEXT("Window"));
}

TEST_F(PaperSearch, ClosestPrefersTheSmallerProductOfDifferences)
{
    TFormatInfo* nearest = Custom(TEXT("near"), 1010, 2010);         // 10 x 10 = 100
    TFormatInfo* exactSide = Custom(TEXT("exact side"), 1000, 2400); // 0 x 400 = 0
    TFormatInfo* farthest = Custom(TEXT("far"), 1020, 2020);         // 400
    m_List.AddTail(farthest);
    m_List.AddTail(nearest);
    WCHAR* name = TheFormat.GetFormatClosest(1000, 2000, &m_List, m_Landscape, m_Position, 500);
    EXPECT_EQ(Name(name), TEXT("near"));
    m_List.AddTail(exactSide);
    name = TheFormat.GetFormatClosest(1000, 2000, &m_List, m_Landscape, m_Position, 500);
    EXPECT_EQ(Name(name), TEXT("exact side"));
    // Out of tolerance in the exact record's other side: the product rule no longer applies.
    name = TheFormat.GetFormatClosest(1000, 2000, &m_List, m_Landscape, m_Position, 399);
    EXPECT_EQ(Name(name), TEXT("near"));
}

TEST_F(PaperSearch, EqualScoresKeepTheFirstInListOrder)
{
    TFormatInfo* first = Custom(TEXT("first"), 1000, 2000);
    TFormatInfo* second = Custom(TEXT("second"), 1000, 2000);
    const POSITION firstNode = m_List.AddTail(first);
    m_List.AddTail(second);

    WCHAR* name = TheFormat.GetFormatInside(1000, 2000, &m_List, m_Landscape, m_Position);
    EXPECT_EQ(Name(name), TEXT("first"));
    EXPECT_EQ(m_Position, firstNode);
    name = TheFormat.GetFormatOutside(1000, 2000, &m_List, m_Landscape, m_Position);
    EXPECT_EQ(Name(name), TEXT("first"));
    EXPECT_EQ(m_Position, firstNode);

    // Two different records that both score 0 in the closest search.
    m_List.RemoveAll();
    TFormatInfo* wider = Custom(TEXT("wider"), 1100, 2000);
    TFormatInfo* taller = Custom(TEXT("taller"), 1000, 2100);
    m_List.AddTail(wider);
    m_List.AddTail(taller);
    name = TheFormat.GetFormatClosest(1000, 2000, &m_List, m_Landscape, m_Position, 200);
    EXPECT_EQ(Name(name), TEXT("wider"));
    m_List.RemoveAll();
    m_List.AddTail(taller);
    m_List.AddTail(wider);
    name = TheFormat.GetFormatClosest(1000, 2000, &m_List, m_Landscape, m_Position, 200);
    EXPECT_EQ(Name(name), TEXT("taller"));
}

TEST_F(PaperSearch, EmptyAndNullListsFindNothing)
{
    WCHAR* window = nullptr;
    for (TPtrList<TFormatInfo*>* list : {&m_List, static_cast<TPtrList<TFormatInfo*>*>(nullptr)}) {
        m_Position = reinterpret_cast<void*>(1);
        WCHAR* name = TheFormat.GetFormatInside(300, 200, list, m_Landscape, m_Position);
        EXPECT_EQ(Name(name), TEXT("Window"));
        EXPECT_EQ(m_Position, nullptr);
        EXPECT_EQ(m_Landscape, 1u); // set even when nothing is found
        window = name;

        m_Position = reinterpret_cast<void*>(1);
        name = TheFormat.GetFormatOutside(200, 300, list, m_Landscape, m_Position);
        EXPECT_EQ(name, window);
        EXPECT_EQ(m_Position, nullptr);
        EXPECT_EQ(m_Landscape, 0u);

        m_Position = reinterpret_cast<void*>(1);
        name = TheFormat.GetFormatClosest(200, 200, list, m_Landscape, m_Position, 0xFFFFFFFFu);
        EXPECT_EQ(name, window);
        EXPECT_EQ(m_Position, nullptr);
        EXPECT_EQ(m_Landscape, 0u); // a square counts as upright
    }
}

TEST_F(PaperSearch, WindowIsThisObjectsRecordZero)
{
    ZCFormat format;
    WCHAR* fromOwn = format.GetFormatInside(1, 1, &m_List, m_Landscape, m_Position);
    WCHAR* fromGlobal = TheFormat.GetFormatInside(1, 1, &m_List, m_Landscape, m_Position);
    EXPECT_NE(fromOwn, fromGlobal);
    EXPECT_EQ(Name(fromOwn), TEXT("Window"));
    EXPECT_GE(reinterpret_cast<const char*>(fromOwn), reinterpret_cast<const char*>(&format));
    EXPECT_LT(reinterpret_cast<const char*>(fromOwn),
              reinterpret_cast<const char*>(&format) + sizeof(format));
}

TEST_F(PaperSearch, NullRecordsAreSkipped)
{
    m_List.AddTail(nullptr);
    const POSITION a4 = m_List.AddTail(Standard(A4));
    m_List.AddTail(nullptr);
    EXPECT_EQ(Name(TheFormat.GetFormatInside(60000, 60000, &m_List, m_Landscape, m_Position)),
              TEXT("ISO A4"));
    EXPECT_EQ(m_Position, a4);
    EXPECT_EQ(Name(TheFormat.GetFormatOutside(100, 100, &m_List, m_Landscape, m_Position)),
              TEXT("ISO A4"));
    EXPECT_EQ(Name(TheFormat.GetFormatClosest(39727, 56183, &m_List, m_Landscape, m_Position, 0)),
              TEXT("ISO A4"));
}

TEST_F(PaperSearch, ScoresUseSixtyFourBits)
{
    // Areas near 2^64 neither overflow nor wrap into a better score.
    TFormatInfo* huge = Custom(TEXT("huge"), 0xFFFFFFFFu, 0xFFFFFFFFu);
    TFormatInfo* big = Custom(TEXT("big"), 0xFFFFFFF0u, 0xFFFFFFF0u);
    m_List.AddTail(huge);
    m_List.AddTail(big);
    EXPECT_EQ(Name(TheFormat.GetFormatOutside(0xFFFFFFF0u, 0xFFFFFFF0u, &m_List, m_Landscape,
                                              m_Position)),
              TEXT("big"));
    EXPECT_EQ(Name(TheFormat.GetFormatOutside(0xFFFFFFFFu, 0xFFFFFFFFu, &m_List, m_Landscape,
                                              m_Position)),
              TEXT("huge"));
    EXPECT_EQ(Name(TheFormat.GetFormatClosest(0, 0, &m_List, m_Landscape, m_Position, 0xFFFFFFFFu)),
              TEXT("big"));
    m_List.RemoveAll();
    m_List.AddTail(big);
    m_List.AddTail(huge);
    EXPECT_EQ(
        Name(TheFormat.GetFormatInside(0xFFFFFFFFu, 0xFFFFFFFFu, &m_List, m_Landscape, m_Position)),
        TEXT("huge"));
}

TEST(Paper, GetFormatSortOrderClass)
{
    const int ranks[6][3] = {{1, 4, 6}, {2, 5, 1}, {3, 1, 2}, {4, 2, 3}, {5, 3, 4}, {6, 6, 5}};
    for (int formatClass = 0; formatClass < 6; ++formatClass) {
        for (int mode = 0; mode < 3; ++mode) {
            EXPECT_EQ(ZCFormat::GetFormatSortOrderClass(mode, formatClass),
                      ranks[formatClass][mode])
                << "mode " << mode << " class " << formatClass;
        }
    }
    EXPECT_EQ(ZCFormat::GetFormatSortOrderClass(1, 2), 1);
    EXPECT_EQ(ZCFormat::GetFormatSortOrderClass(2, 0), 6);
    EXPECT_EQ(ZCFormat::GetFormatSortOrderClass(0, 5), 6);
    EXPECT_EQ(ZCFormat::GetFormatSortOrderClass(3, 0), 0);
    EXPECT_EQ(ZCFormat::GetFormatSortOrderClass(0, 6), 0);
    EXPECT_EQ(ZCFormat::GetFormatSortOrderClass(-1, 0), 0);
    EXPECT_EQ(ZCFormat::GetFormatSortOrderClass(0, -1), 0);
    EXPECT_EQ(TheFormat.GetFormatSortOrderClass(0, 0xFFFF), 0);
}

} // namespace
