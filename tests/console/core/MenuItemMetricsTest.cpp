#include "console/core/MenuItemMetrics.h"

#include <gtest/gtest.h>

namespace {

const XPCells kCells; // 16 x 15 images in 22 x 21 cells

TEST(MenuItemMetrics, SeparatorIsFivePixelsHighAndNoneWide)
{
    EXPECT_EQ(MeasureMenuItem(true, 500, 40, kCells), (XPSize{0, 5}));
}

TEST(MenuItemMetrics, ItemHeightIsTheFontOrTheButtonCell)
{
    // A small font: the button cell and two pixels win.
    EXPECT_EQ(MeasureMenuItem(false, 50, 12, kCells).height, 23);
    EXPECT_EQ(MeasureMenuItem(false, 50, -13, kCells).height, 23);
    // A big font: its height and ten pixels; the sign of the height does not matter.
    EXPECT_EQ(MeasureMenuItem(false, 50, 14, kCells).height, 24);
    EXPECT_EQ(MeasureMenuItem(false, 50, -20, kCells).height, 30);
}

TEST(MenuItemMetrics, ItemWidthLeavesRoomForIconColumnAndShortcutMargin)
{
    // text + two cells + 12, less the check-mark width the desktop adds back.
    EXPECT_EQ(MeasureMenuItem(false, 100, 12, kCells).width, 100 + 44 + 12 - 13);
    EXPECT_EQ(MeasureMenuItem(false, 100, 12, kCells, 15).width, 100 + 44 + 12 - 15);
    EXPECT_EQ(MenuItemWidthOnScreen(143), 155);
    // What the item gets on screen leaves the text five pixels to spare
    // between the text's indent and the right-hand cell.
    int onScreen = MenuItemWidthOnScreen(MeasureMenuItem(false, 100, 12, kCells).width);
    MenuItemLayout l = LayoutMenuItem({0, 0, onScreen, 23}, kCells);
    EXPECT_EQ(l.textRect.Width(), 100 + 5);
}

TEST(MenuItemMetrics, DefaultItemIsTwoHundredHeavier)
{
    EXPECT_EQ(HeavierFontWeight(400), 600);
    EXPECT_EQ(HeavierFontWeight(700), 900);
    EXPECT_EQ(HeavierFontWeight(900), 1000);
    EXPECT_EQ(HeavierFontWeight(-500), 1);
}

TEST(MenuItemMetrics, TextSplitsAtTheFirstTab)
{
    MenuText plain = SplitMenuText("&Refresh");
    EXPECT_EQ(plain.command, "&Refresh");
    EXPECT_FALSE(plain.hasShortcut);
    EXPECT_EQ(plain.shortcut, "");

    MenuText withKey = SplitMenuText("&New Virtual Server\tCtrl+N");
    EXPECT_EQ(withKey.command, "&New Virtual Server");
    EXPECT_TRUE(withKey.hasShortcut);
    EXPECT_EQ(withKey.shortcut, "Ctrl+N");

    MenuText twoTabs = SplitMenuText("a\tb\tc");
    EXPECT_EQ(twoTabs.command, "a");
    EXPECT_EQ(twoTabs.shortcut, "b\tc");

    MenuText trailing = SplitMenuText("a\t");
    EXPECT_TRUE(trailing.hasShortcut);
    EXPECT_EQ(trailing.shortcut, "");
}

TEST(MenuItemMetrics, LaysOutCellColumnAndText)
{
    MenuItemLayout l = LayoutMenuItem({3, 10, 203, 33}, kCells);
    EXPECT_EQ(l.buttonCell, (XPRect{3, 11, 25, 32})); // centred: (23 - 21) / 2
    EXPECT_EQ(l.iconColumn, (XPRect{3, 10, 26, 33}));
    EXPECT_EQ(l.textArea, (XPRect{26, 10, 203, 33}));
    EXPECT_EQ(l.textRect, (XPRect{31, 10, 181, 33}));
    EXPECT_EQ(l.imageX, 6);
    EXPECT_EQ(l.imageY, 14);
    EXPECT_EQ(l.checkBox, (XPRect{6, 14, 22, 29}));
}

TEST(MenuItemMetrics, SeparatorLineStartsNineIntoTheTextArea)
{
    MenuItemLayout l = LayoutMenuItem({0, 40, 150, 45}, kCells);
    EXPECT_EQ(l.separatorY, 42);
    EXPECT_EQ(l.separatorX1, 23 + 9);
    EXPECT_EQ(l.separatorX2, 150);
    // The icon column reaches through the separator too.
    EXPECT_EQ(l.iconColumn, (XPRect{0, 40, 23, 45}));
}

TEST(MenuItemMetrics, CheckMarkSitsInTheMiddleOfItsBox)
{
    int x = 0, y = 0;
    CheckMarkOrigin({6, 14, 22, 29}, 7, 7, x, y);
    EXPECT_EQ(x, 6 + 1 + 4);
    EXPECT_EQ(y, 14 + 4);
}

XPColorSet DistinctColors()
{
    XPColorSet c;
    c.selectionFill = {1, 0, 0};
    c.checkFillSelected = {2, 0, 0};
    c.disabledText = {3, 0, 0};
    c.menuText = {4, 0, 0};
    c.selectedMenuText = {5, 0, 0};
    return c;
}

TEST(MenuItemMetrics, LookFollowsTheItemsState)
{
    XPColorSet c = DistinctColors();
    MenuItemLook normal = ChooseMenuItemLook({}, c);
    EXPECT_FALSE(normal.selectionBackground);
    EXPECT_FALSE(normal.checkBox);
    EXPECT_EQ(normal.text, c.menuText);

    MenuItemLook selected = ChooseMenuItemLook({.selected = true}, c);
    EXPECT_TRUE(selected.selectionBackground);
    EXPECT_EQ(selected.text, c.selectedMenuText);

    // Disabled under the mouse: drawn as unselected, in the disabled colour.
    MenuItemLook disabled = ChooseMenuItemLook({.selected = true, .disabled = true}, c);
    EXPECT_FALSE(disabled.selectionBackground);
    EXPECT_EQ(disabled.text, c.disabledText);

    // An item that opens a submenu never shows as selected.
    MenuItemLook submenu = ChooseMenuItemLook({.selected = true, .opensSubmenu = true}, c);
    EXPECT_FALSE(submenu.selectionBackground);
    EXPECT_EQ(submenu.text, c.menuText);
}

TEST(MenuItemMetrics, CheckBoxOnlyWithoutAnImage)
{
    XPColorSet c = DistinctColors();
    MenuItemLook checked = ChooseMenuItemLook({.checked = true}, c);
    EXPECT_TRUE(checked.checkBox);
    EXPECT_EQ(checked.checkFill, c.selectionFill);
    EXPECT_EQ(ChooseMenuItemLook({.selected = true, .checked = true}, c).checkFill, c.checkFillSelected);
    EXPECT_FALSE(ChooseMenuItemLook({.checked = true, .hasImage = true}, c).checkBox);
}

TEST(MenuItemMetrics, PopupFrameHasAGapOnlyUnderItsBarButton)
{
    PopupFrameLayout top = LayoutPopupFrame(180, 120, 3, 3, 40);
    EXPECT_EQ(top.frame, (XPRect{0, 0, 180, 120}));
    EXPECT_EQ(top.leftStrip, (XPRect{1, 3, 3, 117}));
    EXPECT_TRUE(top.hasGap);
    EXPECT_EQ(top.gapX1, 1);
    EXPECT_EQ(top.gapX2, 40);

    EXPECT_FALSE(LayoutPopupFrame(180, 120, 3, 3, 0).hasGap);
}

} // namespace
