// TPoint and TRect: integer points and rectangles.
#ifndef COREWU_GEOMETRY_H
#define COREWU_GEOMETRY_H

#include <corewu/config.h>

// A point. Plain value.
class TPoint
{
public:
    TPoint() = default;
    TPoint(LONG x, LONG y) : m_X(x), m_Y(y) {}
    LONG X() const { return m_X; }
    LONG Y() const { return m_Y; }
    void X(LONG x) { m_X = x; }
    void Y(LONG y) { m_Y = y; }
    bool operator==(const TPoint& other) const { return m_X == other.m_X && m_Y == other.m_Y; }

private:
    LONG m_X = 0;
    LONG m_Y = 0;
};

// A rectangle from (left, top) to (right, bottom), right and bottom exclusive.
class TRect
{
public:
    TRect() = default;
    TRect(LONG left, LONG top, LONG right, LONG bottom)
        : m_Left(left), m_Top(top), m_Right(right), m_Bottom(bottom)
    {}
    LONG Left() const { return m_Left; }
    LONG Top() const { return m_Top; }
    LONG Right() const { return m_Right; }
    LONG Bottom() const { return m_Bottom; }
    LONG Width() const { return m_Right - m_Left; }
    LONG Height() const { return m_Bottom - m_Top; }
    TPoint TopLeft() const { return TPoint(m_Left, m_Top); }
    TPoint BottomRight() const { return TPoint(m_Right, m_Bottom); }
    bool IsEmpty() const { return m_Right <= m_Left || m_Bottom <= m_Top; }
    bool Contains(const TPoint& point) const
    {
        return point.X() >= m_Left && point.X() < m_Right && point.Y() >= m_Top &&
               point.Y() < m_Bottom;
    }
    bool operator==(const TRect& other) const
    {
        return m_Left == other.m_Left && m_Top == other.m_Top && m_Right == other.m_Right &&
               m_Bottom == other.m_Bottom;
    }

private:
    LONG m_Left = 0;
    LONG m_Top = 0;
    LONG m_Right = 0;
    LONG m_Bottom = 0;
};

#endif // COREWU_GEOMETRY_H
