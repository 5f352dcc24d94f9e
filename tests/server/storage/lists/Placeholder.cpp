#include "platform/directory/Utf.h"

#include <gtest/gtest.h>

TEST(Utf, PlaceholderBuild)
{
    EXPECT_EQ(Utf8ToUtf16("ab"), u"ab");
}
