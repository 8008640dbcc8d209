// TPosition: logical window positions and their registry values.
#include <corewu/errors.h>
#include <zanth/position.h>

namespace {

// Sizes and places in 64 bits, so that extreme rectangles cannot overflow.
LONGLONG NonNegative(LONGLONG value)
{
    return value < 0 ? 0 : value;
}

} // namespace

TPoint TPosition::LogposToOffset(const TRect& area, const TRect& window) const
{
    const LONGLONG W = NonNegative(LONGLONG(area.Right()) - area.Left());
    const LONGLONG H = NonNegative(LONGLONG(area.Bottom()) - area.Top());
    const LONGLONG w = NonNegative(LONGLONG(window.Right()) - window.Left());
    const LONGLONG h = NonNegative(LONGLONG(window.Bottom()) - window.Top());
    enum Rule
    {
        kStart,
        kCentre,
        kEnd
    };
    // Horizontal and vertical rule of each logical position, in table order.
    static const Rule kRules[9][2] = {
        {kStart, kStart}, {kCentre, kStart}, {kEnd, kStart},  {kStart, kEnd},     {kCentre, kEnd},
        {kEnd, kEnd},     {kStart, kCentre}, {kEnd, kCentre}, {kCentre, kCentre},
    };
    if (m_LogicalPosition < 0 || m_LogicalPosition > 8) {
        return TPoint(0, 0);
    }
    auto place = [](Rule rule, LONGLONG start, LONGLONG room, LONGLONG size) {
        switch (rule) {
        case kStart:
            return start;
        case kCentre:
            return start + (room - size) / 2; // cuts toward zero
        default:
            return start + (room - size);
        }
    };
    const Rule* rule = kRules[m_LogicalPosition];
    return TPoint(static_cast<LONG>(place(rule[0], area.Left(), W, w)),
                  static_cast<LONG>(place(rule[1], area.Top(), H, h)));
}

void TPosition::Read(IRegistry& registry, const TString& prefix)
{
    int x = 0, y = 0, position = 0;
    registry.Read(prefix + TEXT("_X"), x, 0, 0, 0);
    m_Offset.X(x);
    registry.Read(prefix + TEXT("_Y"), y, 0, 0, 0);
    m_Offset.Y(y);
    registry.Read(prefix + TEXT("_LOGPOS"), position, 0, 0, 0);
    m_LogicalPosition = static_cast<TLogicalPosition>(position);
}

void TPosition::Write(IRegistry& registry, const TString& prefix)
{
    registry.Write(prefix + TEXT("_X"), static_cast<int>(m_Offset.X()), 0, 0);
    registry.Write(prefix + TEXT("_Y"), static_cast<int>(m_Offset.Y()), 0, 0);
    registry.Write(prefix + TEXT("_LOGPOS"), static_cast<int>(m_LogicalPosition), 0, 0);
}

void TPosition::TransferRegistry(UINT access, UINT direction)
{
    const ULONG entriesBefore = GetErrorCount();
    PRegistry registry(IRegistryBase::CreateClass(6, TString(), TEXT("Child"), access));
    registry->BeginSection(TEXT("TPosition"));
    registry->Transfer(direction, TEXT("Offset"), m_Offset, TPoint(0, 0), 1);
    int position = static_cast<int>(m_LogicalPosition);
    registry->Transfer(direction, TEXT("LOGPOS"), position, 0, 1);
    m_LogicalPosition = static_cast<TLogicalPosition>(position);
    registry->EndSection();
    if (registry->GetErrorCount() > 0) {
        // Only this transfer's entries go: an error that the caller is handling
        // meanwhile keeps its place on the stack.
        while (GetErrorCount() > entriesBefore) {
            PopError();
        }
        registry->ResetErrorCount();
    }
    IRegistryBase::DestroyClass(registry.Detach());
}
