// ZCFormat: the table of standard paper formats and the inside, outside and
// closest searches over a caller's list of formats.
#ifndef ZANTH_PAPER_H
#define ZANTH_PAPER_H

#include <corewu/messages.h>
#include <corewu/ptrlist.h>
#include <zanth/config.h>
#include <zanth/units.h>

// The 41 standard paper formats (record 0 "Window", then the ISO A, B and C
// series, ANSI, architectural, the Asian B series and two inch formats), sizes in
// Zanth units and stored upright, and three searches that pick the format that
// best fits a size from a list the caller builds.
//
// The object owns its table and nothing else; it is copied byte for byte. The
// searches neither own nor change the caller's list. The table is read-only after
// construction, so any number of threads may search one object at once as long as
// nobody changes their lists meanwhile.
class ZANTH_TOOLS_API ZCFormat
{
public:
    // The format-name catalog ("ZCFormat::FormatNames").
    class ZANTH_TOOLS_API ZMCFormatNames : public TMessageBase
    {
    public:
        ZMCFormatNames();
        ZMCFormatNames& operator=(const ZMCFormatNames& other)
        {
            TMessageBase::operator=(other);
            return *this;
        }
    };

    static ZMCFormatNames FormatNames;

    // One paper format. Sizes and offsets are Zanth units; SizeX is the short side.
    struct TFormatInfo
    {
        ULONG SkipX;    // offset along the short side
        ULONG SkipY;    // offset along the long side
        ULONG SizeX;    // width, the short side
        ULONG SizeY;    // height, the long side
        WORD Class;     // 1 ISO A, 2 ISO B, 3 ISO C, 4 ANSI and inch, 5 ARC, 6 Asian B
        UINT Land;      // landscape flag
        WCHAR Name[32]; // zero-terminated, at most 31 characters
        ULONG Index;    // position in the standard table; not stored by callers
    };

    // Number of records in the standard table (0 "Window" to 40).
    static constexpr int FormatCount = 41;
    // The class of record 0 "Window".
    static constexpr WORD WindowClass = 0xFFFF;

    ZCFormat();
    ZCFormat(const ZCFormat& other) = default;
    ZCFormat& operator=(const ZCFormat& other) = default;

    // Does nothing; kept for callers that end an object's use explicitly.
    void Destructor() {}

    // Copies the whole record at `index` (0 to 40) into *out. An index outside the
    // table copies record 0 ("Window"); a null `out` is ignored.
    void InitFormat(int index, TFormatInfo* out) const;

    // The three searches compare each record's SizeX with the smaller and its SizeY
    // with the larger of x and y, and set `landscape` to 1 when x > y, else 0.
    // They return the chosen record's Name and its node in `position`; when nothing
    // qualifies, `position` is null and the result is record 0's "Window". Among
    // equal scores the first record in list order wins. A null list, and null
    // records in a list, count as nothing.
    //
    // Inside: the largest format that fits inside the size. The walk ends at the
    // first record that does not fit, so the list should run from small to large.
    WCHAR* GetFormatInside(ULONG x, ULONG y, TPtrList<TFormatInfo*>* list, UINT& landscape,
                           void*& position);
    // Outside: the smallest format that holds the size. The walk ends at the first
    // record that is too small, so the list should run from large to small.
    WCHAR* GetFormatOutside(ULONG x, ULONG y, TPtrList<TFormatInfo*>* list, UINT& landscape,
                            void*& position);
    // Closest: every record whose sides both differ by at most `tolerance` Zanth
    // units is a candidate; the score is the product of the two differences, so
    // a record exact in one side scores 0.
    WCHAR* GetFormatClosest(ULONG x, ULONG y, TPtrList<TFormatInfo*>* list, UINT& landscape,
                            void*& position, ULONG tolerance);

    // A rank from a fixed table for mode 0-2 and class 0-5 (the class counting
    // from 0); 0 for anything else.
    static int GetFormatSortOrderClass(int mode, int formatClass);

protected:
    TFormatInfo m_aFormatInfo[FormatCount];
};

// The library-wide format table, built when the library loads.
extern ZANTH_TOOLS_API ZCFormat TheFormat;

#endif // ZANTH_PAPER_H
