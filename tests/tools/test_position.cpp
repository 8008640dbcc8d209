// TPosition: the logical positions, equality, Read/Write under a prefix and
// TransferRegistry with its dropped errors.
#include "testsupport.h"

#include <zanth/win32/zanthext.h>

#include <climits>

namespace {

using TP = TPosition::TLogicalPosition;

TEST(TPositionPlace, LogposToOffsetFollowsTheTable)
{
    struct Case
    {
        TRect area;
        TRect window;
        int position;
        TPoint expected;
    };
    const TRect area(0, 0, 1000, 800);
    const TRect window(300, 300, 500, 400); // 200 x 100; its place does not matter
    const Case cases[] = {
        {area, window, 0, TPoint(0, 0)},
        {area, window, 1, TPoint(400, 0)},
        {area, window, 2, TPoint(800, 0)},
        {area, window, 3, TPoint(0, 700)},
        {area, window, 4, TPoint(400, 700)},
        {area, window, 5, TPoint(800, 700)},
        {area, window, 6, TPoint(0, 350)},
        {area, window, 7, TPoint(800, 350)},
        {area, window, 8, TPoint(400, 350)},
        {area, window, -1, TPoint(0, 0)},
        {area, window, 9, TPoint(0, 0)},
        // Halving cuts toward zero: (100 - 101) / 2 is 0.
        {TRect(10, 20, 110, 120), TRect(0, 0, 101, 10), 1, TPoint(10, 20)},
        {TRect(10, 20, 110, 120), TRect(0, 0, 101, 10), 2, TPoint(9, 20)},
        // An inverted area has width 0; an inverted window size 0.
        {TRect(50, 0, 40, 100), TRect(0, 0, 30, 10), 2, TPoint(20, 0)},
        {area, TRect(10, 10, 0, 0), 5, TPoint(1000, 800)},
        // Extreme coordinates neither overflow nor wrap the sizes.
        {TRect(INT_MIN, INT_MIN, INT_MAX, INT_MAX), TRect(0, 0, 0, 0), 0, TPoint(INT_MIN, INT_MIN)},
        {TRect(INT_MIN, 0, INT_MAX, 0), TRect(INT_MIN, 0, INT_MAX, 0), 8, TPoint(INT_MIN, 0)},
    };
    for (const Case& c : cases) {
        TPosition position;
        position.Position(static_cast<TP>(c.position));
        TPoint point = position.LogposToOffset(c.area, c.window);
        EXPECT_EQ(c.expected.X(), point.X()) << "position " << c.position;
        EXPECT_EQ(c.expected.Y(), point.Y()) << "position " << c.position;
    }
}

TEST(TPositionValue, EqualityAndCopies)
{
    TPosition a;
    TPosition b;
    EXPECT_EQ(TPosition::NoPosition, a.Position());
    EXPECT_EQ(TPoint(0, 0), a.Offset());
    EXPECT_TRUE(a == b);
    b.Offset_Y(1);
    EXPECT_FALSE(a == b);
    b.Offset_Y(0);
    b.Position(TPosition::CenterCenter);
    EXPECT_FALSE(a == b);
    TPosition c(b);
    EXPECT_TRUE(c == b);
    a = b;
    EXPECT_TRUE(a == b);
    a.Offset(3, 4);
    a.Offset().X(5);
    EXPECT_EQ(5, a.Offset_X());
    EXPECT_EQ(4, a.Offset_Y());
}

class TPositionRegistry : public ::testing::Test
{
protected:
    void SetUp() override { ZanthRegCloseDatabases(); }
    void TearDown() override
    {
        ClearError();
        ZanthRegCloseDatabases();
    }
};

TEST_F(TPositionRegistry, ReadOfAnEmptyRegistryGivesLeftTopNotNone)
{
    TRegistry registry(TEXT("ZANTH"), TEXT("Windows"), 0);
    TPosition position;
    position.Offset(7, 8);
    position.Read(registry, TEXT("Main"));
    EXPECT_EQ(TPosition::LeftTop, position.Position());
    EXPECT_EQ(TPoint(0, 0), position.Offset());
}

TEST_F(TPositionRegistry, WriteThenReadRestoresAllThree)
{
    TRegistry registry(TEXT("ZANTH"), TEXT("Windows"), 0);
    TPosition written;
    written.Position(TPosition::RightCenter);
    written.Offset(-20, 35);
    written.Write(registry, TEXT("Main"));
    int x = 0;
    EXPECT_TRUE(registry.Read(TEXT("Main_X"), x, 0, 0, 0));
    EXPECT_EQ(-20, x);

    TPosition read;
    read.Read(registry, TEXT("Main"));
    EXPECT_TRUE(read == written);
    TPosition other;
    other.Read(registry, TEXT("Other"));
    EXPECT_FALSE(other == written);
}

TEST_F(TPositionRegistry, TransferRegistryGoesBothWaysUnderTheProgramsKey)
{
    TPosition saved;
    saved.Position(TPosition::CenterBottom);
    saved.Offset(11, -12);
    saved.TransferRegistry(0, IRegistry::TransferWrite);

    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              ::RegOpenKeyExW(HKEY_CURRENT_USER,
                              TEXT("Software\\ZANTH\\tools_test_position\\Child\\TPosition"), 0,
                              KEY_READ, &key));
    DWORD type = 0;
    EXPECT_EQ(ERROR_SUCCESS,
              ::RegQueryValueExW(key, TEXT("Offset"), nullptr, &type, nullptr, nullptr));
    EXPECT_EQ(REG_BINARY, type);
    EXPECT_EQ(ERROR_SUCCESS,
              ::RegQueryValueExW(key, TEXT("LOGPOS"), nullptr, &type, nullptr, nullptr));
    EXPECT_EQ(REG_DWORD, type);
    ::RegCloseKey(key);

    TPosition loaded;
    loaded.TransferRegistry(0, IRegistry::TransferRead);
    EXPECT_TRUE(loaded == saved);
}

TEST_F(TPositionRegistry, TransferErrorsAreDroppedAndOnlyThey)
{
    {
        TRegistry registry(TEXT("ZANTH"), TEXT("tools_test_position\\Child\\TPosition"), 0);
        registry.Write(TEXT("LOGPOS"), TString(TEXT("not a number")), 0, 0);
        registry.Write(TEXT("Offset"), 5, 0, 0); // a point is stored as binary
    }
    // An error the caller is handling stays where it is.
    PushError(0, 0, TString(TEXT("outer")), TString::NullString, TString::NullString);
    TPosition position;
    position.Position(TPosition::RightTop);
    position.Offset(1, 1);
    position.TransferRegistry(0, IRegistry::TransferRead);
    EXPECT_EQ(TPosition::LeftTop, position.Position()); // the defaults
    EXPECT_EQ(TPoint(0, 0), position.Offset());
    EXPECT_EQ(1u, GetErrorCount());
    EXPECT_NE(std::string::npos, GetErrorText().AsAnsi().find("outer"));
    ClearError();

    // A direction that is neither read nor write changes nothing and raises nothing.
    position.Offset(3, 3);
    position.TransferRegistry(0, 7);
    EXPECT_EQ(TPoint(3, 3), position.Offset());
    EXPECT_EQ(0u, GetErrorCount());

    // A read-only registry object cannot write; that is dropped as well.
    position.TransferRegistry(TRegistry::ReadOnly, IRegistry::TransferWrite);
    EXPECT_EQ(0u, GetErrorCount());
    EXPECT_EQ(0, GetPendingCount());
}

} // namespace
