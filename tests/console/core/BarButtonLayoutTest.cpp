#include "console/core/BarButtonLayout.h"

#include <gtest/gtest.h>

namespace {

TEST(BarButtonLayout, BackgroundOnlyForAnActiveEnabledButton)
{
    EXPECT_EQ(ChooseBarButtonBackground({}), BarButtonBackground::None);
    EXPECT_EQ(ChooseBarButtonBackground({.dropDown = true, .dropDownPending = true}), BarButtonBackground::None);
    EXPECT_EQ(ChooseBarButtonBackground({.enabled = false, .hot = true}), BarButtonBackground::None);
    EXPECT_EQ(ChooseBarButtonBackground({.hot = true}), BarButtonBackground::SelectionFill);
    EXPECT_EQ(ChooseBarButtonBackground({.checked = true}), BarButtonBackground::SelectionFill);
    EXPECT_EQ(ChooseBarButtonBackground({.pressed = true}), BarButtonBackground::SelectionFill);
    EXPECT_EQ(ChooseBarButtonBackground({.selected = true}), BarButtonBackground::PressedFill);
}

TEST(BarButtonLayout, OpenWhileItsMenuOpens)
{
    EXPECT_EQ(ChooseBarButtonBackground({.hot = true, .dropDownPending = true}), BarButtonBackground::Open);
    EXPECT_EQ(ChooseBarButtonBackground({.selected = true, .dropDown = true}), BarButtonBackground::Open);
    EXPECT_EQ(ChooseBarButtonBackground({.pressed = true, .dropDown = true}), BarButtonBackground::Open);
    // Merely hot, a drop-down button is outlined like any other.
    EXPECT_EQ(ChooseBarButtonBackground({.hot = true, .dropDown = true}), BarButtonBackground::SelectionFill);
}

BarButtonGeometry Button(bool listStyle, bool hasText)
{
    BarButtonGeometry g;
    g.rect = {100, 2, 200, 24};
    g.buttonSize = {23, 22};
    g.imageSize = {16, 16};
    g.hasImage = true;
    g.hasText = hasText;
    g.listStyle = listStyle;
    return g;
}

TEST(BarButtonLayout, ListStyleImageLeftTextBeside)
{
    BarButtonLayout l = LayoutBarButton(Button(true, true), {});
    EXPECT_EQ(l.imageX, 104);
    EXPECT_EQ(l.imageY, 6);
    EXPECT_EQ(l.textRect, (XPRect{100 + 16 + 8, 2, 200, 24}));
    EXPECT_FALSE(l.centreText);
    EXPECT_EQ(l.imageMode, BarImageMode::Plain);
}

TEST(BarButtonLayout, ImageAboveCentredText)
{
    BarButtonLayout withText = LayoutBarButton(Button(false, true), {});
    EXPECT_EQ(withText.imageX, 100 + 3);
    EXPECT_EQ(withText.imageY, 6);
    EXPECT_EQ(withText.textRect, (XPRect{100, 2 + 3 + 6, 200, 24}));
    EXPECT_TRUE(withText.centreText);

    BarButtonLayout imageOnly = LayoutBarButton(Button(false, false), {});
    EXPECT_EQ(imageOnly.imageY, 2 + 3 + 1);
    EXPECT_EQ(imageOnly.textRect, (XPRect{100, 2, 200, 24}));
}

TEST(BarButtonLayout, HotImageIsLiftedAboveItsShadow)
{
    EXPECT_EQ(LayoutBarButton(Button(true, true), {.hot = true}).imageMode, BarImageMode::Lifted);
    // Held down it sits flat again.
    EXPECT_EQ(LayoutBarButton(Button(true, true), {.selected = true, .hot = true}).imageMode, BarImageMode::Plain);
    EXPECT_EQ(LayoutBarButton(Button(true, true), {.enabled = false, .hot = true}).imageMode,
              BarImageMode::Silhouette);
}

TEST(BarButtonLayout, TextWithoutImageIsCentred)
{
    BarButtonGeometry g = Button(true, true);
    g.hasImage = false;
    BarButtonLayout l = LayoutBarButton(g, {});
    EXPECT_TRUE(l.centreText);
    EXPECT_EQ(l.textRect, g.rect);
}

TEST(BarButtonLayout, TextColourFollowsTheState)
{
    XPColorSet c;
    c.disabledText = {1, 0, 0};
    c.hotBarText = {2, 0, 0};
    c.barText = {3, 0, 0};
    EXPECT_EQ(BarButtonTextColor({}, c), c.barText);
    EXPECT_EQ(BarButtonTextColor({.hot = true}, c), c.hotBarText);
    EXPECT_EQ(BarButtonTextColor({.enabled = false, .hot = true}, c), c.disabledText);
}

} // namespace
