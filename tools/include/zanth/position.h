// TPosition: where a window goes relative to a reference rectangle, and how that
// description is kept in the registry.
#ifndef ZANTH_POSITION_H
#define ZANTH_POSITION_H

#include <corewu/geometry.h>
#include <corewu/registry.h>
#include <corewu/tstring.h>
#include <zanth/config.h>

// A window position: one of nine logical places in a reference rectangle (its
// corners, edge centres and centre) or none, and an explicit offset kept beside it.
// LogposToOffset turns the logical place into the window's top-left point; Read,
// Write and TransferRegistry keep the description in the registry.
//
// A plain value: copying copies all three words. Thread rules: one thread at a time.
class ZANTH_TOOLS_API TPosition
{
public:
    // Stored as a 32-bit integer; any other value (NoPosition included) places
    // nothing.
    enum TLogicalPosition : std::int32_t
    {
        NoPosition = -1,
        LeftTop = 0,
        CenterTop = 1,
        RightTop = 2,
        LeftBottom = 3,
        CenterBottom = 4,
        RightBottom = 5,
        LeftCenter = 6,
        RightCenter = 7,
        CenterCenter = 8
    };

    TPosition() = default;
    TPosition(const TPosition& other) = default;
    TPosition& operator=(const TPosition& other) = default;
    bool operator==(const TPosition& other) const
    {
        return m_LogicalPosition == other.m_LogicalPosition && m_Offset == other.m_Offset;
    }

    TLogicalPosition Position() const { return m_LogicalPosition; }
    void Position(TLogicalPosition position) { m_LogicalPosition = position; }

    TPoint& Offset() { return m_Offset; }
    void Offset(const TPoint& offset) { m_Offset = offset; }
    void Offset(LONG x, LONG y) { m_Offset = TPoint(x, y); }
    LONG Offset_X() const { return m_Offset.X(); }
    void Offset_X(LONG x) { m_Offset.X(x); }
    LONG Offset_Y() const { return m_Offset.Y(); }
    void Offset_Y(LONG y) { m_Offset.Y(y); }

    // The top-left point at which a window of `window`'s size goes in `area` at
    // the logical position; (0, 0) for no or an unknown position. Negative sizes
    // count as 0; a window larger than the area sticks out to the left or top.
    // Only the window's size is used, not its place.
    TPoint LogposToOffset(const TRect& area, const TRect& window) const;

    // Read or write prefix + "_X", prefix + "_Y" and prefix + "_LOGPOS" as integers
    // (missing values read as 0). Registry errors are raised.
    void Read(IRegistry& registry, const TString& prefix);
    void Write(IRegistry& registry, const TString& prefix);

    // Reads (IRegistry::TransferRead) or writes (IRegistry::TransferWrite) "Offset"
    // and "LOGPOS" in the section "TPosition" of the program's key "Child" (root 6
    // of IRegistryBase); `access` is TRegistry's. Failures of the transfer are
    // dropped: the error entries it pushed are taken off the stack again.
    void TransferRegistry(UINT access, UINT direction);

private:
    TLogicalPosition m_LogicalPosition = NoPosition;
    TPoint m_Offset;
};

#endif // ZANTH_POSITION_H
