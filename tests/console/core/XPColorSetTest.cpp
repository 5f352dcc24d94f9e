#include "console/core/XPColorSet.h"

#include <gtest/gtest.h>

namespace {

// The classic desktop colours.
XPDesktopColors Classic()
{
    XPDesktopColors d;
    d.window = {255, 255, 255};
    d.windowText = {0, 0, 0};
    d.buttonFace = {212, 208, 200};
    d.highlight = {10, 36, 106};
    d.windowFrame = {0, 0, 0};
    d.grayText = {128, 128, 128};
    d.menuText = {1, 2, 3};
    d.buttonText = {4, 5, 6};
    return d;
}

TEST(XPColorSet, BlendsTowardTheSecondColourTruncating)
{
    EXPECT_EQ(BlendXP({255, 255, 255}, {0, 0, 0}, 3), (XPRgb{248, 248, 248}));   // 255 - 7.65
    EXPECT_EQ(BlendXP({10, 36, 106}, {255, 255, 255}, 70), (XPRgb{181, 189, 210})); // 10 + 171.5, 36 + 153.3, 106 + 104.3
    // A falling channel truncates toward zero, not down: 100 - 0.5 stays 100.
    EXPECT_EQ(BlendXP({100, 0, 0}, {99, 0, 0}, 50), (XPRgb{100, 0, 0}));
    EXPECT_EQ(BlendXP({1, 2, 3}, {200, 100, 50}, 0), (XPRgb{1, 2, 3}));
    EXPECT_EQ(BlendXP({1, 2, 3}, {200, 100, 50}, 100), (XPRgb{200, 100, 50}));
}

TEST(XPColorSet, MixesTintsOnDeepScreens)
{
    XPColorSet c = ComputeXPColors(Classic(), 32);
    EXPECT_EQ(c.menuFrame, (XPRgb{0, 0, 0}));
    EXPECT_EQ(c.menuBackground, (XPRgb{248, 248, 248}));
    EXPECT_EQ(c.face, (XPRgb{220, 217, 211}));          // 212 + 8.6, 208 + 9.4, 200 + 11
    EXPECT_EQ(c.selectionBorder, (XPRgb{10, 36, 106}));
    EXPECT_EQ(c.selectionFill, (XPRgb{181, 189, 210}));
    EXPECT_EQ(c.checkFillSelected, (XPRgb{157, 167, 195})); // 10 + 147, 36 + 131.4, 106 + 89.4
    EXPECT_EQ(c.pressedFill, (XPRgb{145, 152, 168}));       // from the selection fill, 20 % toward black
    EXPECT_EQ(c.disabledText, (XPRgb{128, 128, 128}));
    EXPECT_EQ(c.menuText, (XPRgb{0, 0, 0}));
    EXPECT_EQ(c.selectedMenuText, (XPRgb{1, 2, 3}));
    EXPECT_EQ(c.barText, (XPRgb{4, 5, 6}));
    EXPECT_EQ(c.hotBarText, (XPRgb{1, 2, 3}));
    EXPECT_EQ(c.iconShadow, (XPRgb{138, 136, 130}));        // 212 - 74.2, 208 - 72.8, 200 - 70
    // Sixteen bits is deep enough.
    EXPECT_EQ(ComputeXPColors(Classic(), 16), c);
}

TEST(XPColorSet, FallsBackToPlainColoursAtEightBitsOrLess)
{
    for (int bits : {8, 4, 1}) {
        XPColorSet c = ComputeXPColors(Classic(), bits);
        EXPECT_EQ(c.menuBackground, (XPRgb{255, 255, 255}));
        EXPECT_EQ(c.face, (XPRgb{212, 208, 200}));
        EXPECT_EQ(c.selectionFill, (XPRgb{255, 255, 255}));
        EXPECT_EQ(c.checkFillSelected, (XPRgb{255, 255, 255}));
        EXPECT_EQ(c.pressedFill, (XPRgb{10, 36, 106}));
        EXPECT_EQ(c.iconShadow, (XPRgb{128, 128, 128}));
        // The plain system colours stay as they are.
        EXPECT_EQ(c.menuFrame, (XPRgb{0, 0, 0}));
        EXPECT_EQ(c.selectionBorder, (XPRgb{10, 36, 106}));
        EXPECT_EQ(c.disabledText, (XPRgb{128, 128, 128}));
        EXPECT_EQ(c.selectedMenuText, (XPRgb{1, 2, 3}));
        EXPECT_EQ(c.barText, (XPRgb{4, 5, 6}));
    }
}

TEST(XPColorSet, DarkDesktopsBlendTheOtherWay)
{
    XPDesktopColors d = Classic();
    d.window = {30, 30, 30};
    d.windowText = {230, 230, 230};
    d.buttonFace = {50, 50, 50};
    XPColorSet c = ComputeXPColors(d, 24);
    EXPECT_EQ(c.menuBackground, (XPRgb{36, 36, 36}));
    EXPECT_EQ(c.face, (XPRgb{46, 46, 46})); // 50 - 4
    EXPECT_EQ(c.iconShadow, (XPRgb{113, 113, 113}));
}

} // namespace
