#include "console/core/AtoiText.h"

#include <gtest/gtest.h>

#include <limits>

TEST(AtoiText, ReadsAsAtoiDoes)
{
    EXPECT_EQ(AtoiText("2000"), 2000);
    EXPECT_EQ(AtoiText("  \t-5"), -5);
    EXPECT_EQ(AtoiText("+17"), 17);
    EXPECT_EQ(AtoiText("2000xyz"), 2000);
    EXPECT_EQ(AtoiText("abc"), 0);
    EXPECT_EQ(AtoiText(""), 0);
    EXPECT_EQ(AtoiText("0x600"), 0);
    EXPECT_EQ(AtoiText("- 5"), 0);
}

TEST(AtoiText, SaturatesBeyondTheRange)
{
    EXPECT_EQ(AtoiText("-2147483648"), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(AtoiText("2147483647"), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(AtoiText("2147483648"), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(AtoiText("99999999999999999999999"), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(AtoiText("-99999999999999999999999"), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(AtoiText("-2147024891"), -2147024891);
}
