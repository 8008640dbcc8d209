#include "testsupport.h"

TEST(Frame, Placeholder)
{
    EXPECT_FALSE(GetCommonDlgErrorText(0xFFFF).IsEmpty());
}
