// ZCFormat: the standard paper format table and its inside, outside and closest
// searches.
//
// The table's sizes are computed in millimetres and inches and converted like any
// other length, so this file too is compiled without contraction into fused
// multiply-adds.
#include <zanth/paper.h>
#include <zanth/units.h>

#include <cmath>
#include <cstring>

namespace {

ULONG MmToZanth(double mm)
{
    return ZCUnit::ConvertMmToZanth(mm);
}

ULONG InchToZanth(double inch)
{
    return ZCUnit::ConvertInchToZanth(inch);
}

void SetName(ZCFormat::TFormatInfo& record, const char* name)
{
    // ASCII names only; at most 31 characters and always terminated.
    std::size_t i = 0;
    for (; name[i] && i < 31; ++i) {
        record.Name[i] = static_cast<WCHAR>(static_cast<unsigned char>(name[i]));
    }
    record.Name[i] = 0;
}

struct Series
{
    const char* const* names;
    int count;
    WORD formatClass;
};

const char* const IsoA[] = {"ISO A0", "ISO A1", "ISO A2", "ISO A3", "ISO A4", "ISO A5", "ISO A6"};
const char* const IsoB[] = {"ISO B0", "ISO B1", "ISO B2", "ISO B3", "ISO B4", "ISO B5", "ISO B6"};
const char* const IsoC[] = {"ISO C0", "ISO C1", "ISO C2", "ISO C3", "ISO C4", "ISO C5", "ISO C6"};
const char* const Ansi[] = {"ANSI E", "ANSI D", "ANSI C", "ANSI B", "ANSI A"};
// (Not "Arc": <windows.h> declares a GDI function of that name.)
const char* const ArcSeries[] = {"ARC E", "ARC D", "ARC C", "ARC B", "ARC A"};
const char* const AsiaB[] = {"Asia B0", "Asia B1", "Asia B2", "Asia B3",
                             "Asia B4", "Asia B5", "Asia B6"};

} // namespace

ZCFormat::ZCFormat()
{
    std::memset(m_aFormatInfo, 0, sizeof(m_aFormatInfo));
    SetName(m_aFormatInfo[0], "Window");
    m_aFormatInfo[0].Class = WindowClass;

    int index = 1;
    auto record = [&](ULONG sizeX, ULONG sizeY, WORD formatClass, const char* name) {
        TFormatInfo& info = m_aFormatInfo[index];
        info.SizeX = sizeX;
        info.SizeY = sizeY;
        info.Class = formatClass;
        info.Index = static_cast<ULONG>(index);
        SetName(info, name);
        ++index;
    };
    // Each record of a series is the previous one cut in half across its long
    // side: width = previous height halved (an odd Zanth unit dropped), height =
    // previous width.
    auto halvingSeries = [&](ULONG width, ULONG height, const Series& series) {
        for (int i = 0; i < series.count; ++i) {
            record(width, height, series.formatClass, series.names[i]);
            const ULONG previousWidth = width;
            width = height >> 1;
            height = previousWidth;
        }
    };

    const double r2 = std::sqrt(2.0);
    const double r4 = std::sqrt(r2);
    const double r8 = std::sqrt(r4);
    const double rootOfRootOfRoot8 = std::sqrt(std::sqrt(std::sqrt(8.0)));

    halvingSeries(MmToZanth(1000 / r4), MmToZanth(r4 * 1000), {IsoA, 7, 1});
    halvingSeries(MmToZanth(1000), MmToZanth(r2 * 1000), {IsoB, 7, 2});
    halvingSeries(MmToZanth(1000 / r8), MmToZanth(rootOfRootOfRoot8 * 1000), {IsoC, 7, 3});
    halvingSeries(InchToZanth(34), InchToZanth(44), {Ansi, 5, 4});
    halvingSeries(InchToZanth(36), InchToZanth(48), {ArcSeries, 5, 5});

    // The Asian B series halves whole millimetres and converts each record on its own.
    int widthMm = 1030;
    int heightMm = 1456;
    for (const char* name : AsiaB) {
        record(MmToZanth(widthMm), MmToZanth(heightMm), 6, name);
        const int previousWidth = widthMm;
        widthMm = heightMm / 2;
        heightMm = previousWidth;
    }

    record(InchToZanth(30), InchToZanth(42), 4, "30 x 42 Inch");
    record(InchToZanth(15), InchToZanth(21), 4, "15 x 21 Inch");
}

void ZCFormat::InitFormat(int index, TFormatInfo* out) const
{
    if (!out) {
        return;
    }
    if (index < 0 || index >= FormatCount) {
        index = 0;
    }
    *out = m_aFormatInfo[index];
}

namespace {

struct SearchStart
{
    ULONGLONG shortSide;
    ULONGLONG longSide;
};

SearchStart StartSearch(ULONG x, ULONG y, UINT& landscape, void*& position)
{
    position = nullptr;
    landscape = x > y ? 1 : 0;
    return x < y ? SearchStart{x, y} : SearchStart{y, x};
}

// The record's name, or "Window" of the table when nothing was chosen.
WCHAR* Result(ZCFormat::TFormatInfo* chosen, ZCFormat::TFormatInfo& window)
{
    return chosen ? chosen->Name : window.Name;
}

// What a search makes of one record: it ends the walk (the list is sorted, so no
// later record can qualify), it does not qualify, or it has a score.
enum class Verdict
{
    Stop,
    Skip,
    Scored
};

// The walk of the three searches: the records in list order (a null list is empty,
// null records are passed over), each judged by `judge(record, score)`; the first
// record with the lowest score is chosen and its position stored.
template <class Judge>
ZCFormat::TFormatInfo* Choose(TPtrList<ZCFormat::TFormatInfo*>* list, void*& position, Judge judge)
{
    ULONGLONG best = ~0ULL;
    ZCFormat::TFormatInfo* chosen = nullptr;
    for (POSITION next = list ? list->GetHeadPosition() : nullptr; next;) {
        const POSITION here = next;
        ZCFormat::TFormatInfo* info = list->GetNext(next);
        if (!info) {
            continue;
        }
        ULONGLONG score = 0;
        const Verdict verdict = judge(*info, score);
        if (verdict == Verdict::Stop) {
            break;
        }
        if (verdict == Verdict::Scored && score < best) {
            best = score;
            chosen = info;
            position = here;
        }
    }
    return chosen;
}

} // namespace

WCHAR* ZCFormat::GetFormatInside(ULONG x, ULONG y, TPtrList<TFormatInfo*>* list, UINT& landscape,
                                 void*& position)
{
    const SearchStart size = StartSearch(x, y, landscape, position);
    const ULONGLONG area = size.shortSide * size.longSide;
    TFormatInfo* chosen = Choose(list, position, [&](const TFormatInfo& info, ULONGLONG& score) {
        if (info.SizeX > size.shortSide || info.SizeY > size.longSide) {
            return Verdict::Stop;
        }
        score = area - ULONGLONG{info.SizeX} * info.SizeY;
        return Verdict::Scored;
    });
    return Result(chosen, m_aFormatInfo[0]);
}

WCHAR* ZCFormat::GetFormatOutside(ULONG x, ULONG y, TPtrList<TFormatInfo*>* list, UINT& landscape,
                                  void*& position)
{
    const SearchStart size = StartSearch(x, y, landscape, position);
    const ULONGLONG area = size.shortSide * size.longSide;
    TFormatInfo* chosen = Choose(list, position, [&](const TFormatInfo& info, ULONGLONG& score) {
        if (info.SizeX < size.shortSide || info.SizeY < size.longSide) {
            return Verdict::Stop;
        }
        score = ULONGLONG{info.SizeX} * info.SizeY - area;
        return Verdict::Scored;
    });
    return Result(chosen, m_aFormatInfo[0]);
}

WCHAR* ZCFormat::GetFormatClosest(ULONG x, ULONG y, TPtrList<TFormatInfo*>* list, UINT& landscape,
                                  void*& position, ULONG tolerance)
{
    const SearchStart size = StartSearch(x, y, landscape, position);
    TFormatInfo* chosen = Choose(list, position, [&](const TFormatInfo& info, ULONGLONG& score) {
        const ULONGLONG dx =
            info.SizeX > size.shortSide ? info.SizeX - size.shortSide : size.shortSide - info.SizeX;
        const ULONGLONG dy =
            info.SizeY > size.longSide ? info.SizeY - size.longSide : size.longSide - info.SizeY;
        if (dx > tolerance || dy > tolerance) {
            return Verdict::Skip;
        }
        score = dx * dy;
        return Verdict::Scored;
    });
    return Result(chosen, m_aFormatInfo[0]);
}

int ZCFormat::GetFormatSortOrderClass(int mode, int formatClass)
{
    static const int ranks[6][3] = {
        {1, 4, 6}, {2, 5, 1}, {3, 1, 2}, {4, 2, 3}, {5, 3, 4}, {6, 6, 5},
    };
    if (mode < 0 || mode > 2 || formatClass < 0 || formatClass > 5) {
        return 0;
    }
    return ranks[formatClass][mode];
}
