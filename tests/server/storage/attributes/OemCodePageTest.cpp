#include "server/storage/attributes/OemCodePage.h"

#include <gtest/gtest.h>

namespace {

TEST(OemCodePageTest, EveryOemByteSurvivesTheRoundTrip)
{
    std::string all;
    for (int b = 1; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    const std::u16string wide = OemToWide(all.c_str());
    ASSERT_EQ(wide.size(), 255u);
    EXPECT_EQ(WideToOem(wide), all);

    std::u16string ascii;
    for (char16_t c = 1; c < 0x80; ++c)
        ascii.push_back(c);
    EXPECT_EQ(OemToWide(WideToOem(ascii).c_str()), ascii);
}

TEST(OemCodePageTest, UpperHalfIsCodePage437)
{
    EXPECT_EQ(OemToWide("\x80"), u"\u00C7");
    EXPECT_EQ(OemToWide("\x9E"), u"\u20A7");
    EXPECT_EQ(OemToWide("\xB3"), u"\u2502");
    EXPECT_EQ(OemToWide("\xE1"), u"\u00DF");
    EXPECT_EQ(OemToWide("\xFF"), u"\u00A0");
    EXPECT_EQ(WideToOem(u"\u00E9t\u00E9"), "\x82t\x82");
}

TEST(OemCodePageTest, CharactersOutsideThePageBecomeOneQuestionMarkEach)
{
    EXPECT_EQ(WideToOem(u"\u20AC5"), "?5");      // euro sign
    EXPECT_EQ(WideToOem(u"\u00C0"), "?");        // no nearest letter
    EXPECT_EQ(WideToOem(u"a\U0001F600b"), "a?b"); // a surrogate pair
    const char16_t lone[] = {u'x', 0xD800, u'y', 0};
    EXPECT_EQ(WideToOem(lone), "x?y");
}

TEST(OemCodePageTest, ConversionStopsAtTheTerminatorOrTheLength)
{
    EXPECT_EQ(OemToWide("ab\0cd", 5), u"ab");
    EXPECT_EQ(OemToWide("abcd", 2), u"ab");
    EXPECT_EQ(OemToWide(nullptr), u"");
    const char16_t text[] = {u'a', 0, u'b'};
    EXPECT_EQ(WideToOem(std::u16string_view(text, 3)), "a");
}

} // namespace
