#pragma once
// Measuring and laying out the flat look's popup menus: the items (an icon
// column with a gradient, then the text area) and the popup's border.

#include "console/core/XPColorSet.h"
#include "console/core/XPGeometry.h"

#include <string_view>

inline constexpr int kMenuSeparatorHeight = 5;
// The check-mark width the desktop adds to every measured menu item. Windows
// asks the system metrics for it; there is no such metric here, so it is the
// 13 pixels of an ordinary screen.
inline constexpr int kMenuCheckWidth = 13;
// Distance of a separator line from the start of the text area.
inline constexpr int kSeparatorIndent = 9;
// Space between the text area's edge and the command text.
inline constexpr int kMenuTextIndent = 5;
// How far the check box sits inside the button cell.
inline constexpr int kCheckBoxInset = 3;

// The icon column's gradient, left to right.
inline constexpr XPRgb kGradientLeft{254, 254, 251};
inline constexpr XPRgb kGradientRight{196, 195, 172};
inline constexpr XPRgb kSeparatorColor{196, 195, 172};

// Size of an item as the menu measures it. textWidth is the width of the
// whole text in the menu font (the heavier font for the default item);
// fontHeight the menu font's character height in pixels.
XPSize MeasureMenuItem(bool separator, int textWidth, int fontHeight, const XPCells& cells,
                       int menuCheckWidth = kMenuCheckWidth);

// Width the item gets on screen: the desktop adds the check-mark width less
// one to what the menu measured.
int MenuItemWidthOnScreen(int measuredWidth, int menuCheckWidth = kMenuCheckWidth);

// The default item is measured and drawn 200 heavier (weights 1 to 1000).
int HeavierFontWeight(int weight);

// The command text before the first tab, and the shortcut after it.
struct MenuText {
    std::string_view command;
    std::string_view shortcut;
    bool hasShortcut = false;
};
MenuText SplitMenuText(std::string_view text);

struct MenuItemLayout {
    XPRect buttonCell;   // the icon's cell, centred on the item's height
    XPRect iconColumn;   // where the gradient goes
    XPRect textArea;     // the rest of the item
    XPRect textRect;     // where the texts are drawn
    XPRect checkBox;     // the check box of a checked item without an image
    int imageX = 0;      // the image's top-left corner
    int imageY = 0;
    int separatorY = 0;  // a separator's line, from separatorX1 up to separatorX2
    int separatorX1 = 0;
    int separatorX2 = 0;
};
MenuItemLayout LayoutMenuItem(const XPRect& item, const XPCells& cells);

// Top-left corner of a check mark of the given size inside the check box.
void CheckMarkOrigin(const XPRect& box, int markWidth, int markHeight, int& x, int& y);

struct MenuItemState {
    bool selected = false;   // under the mouse or the keyboard
    bool disabled = false;
    bool checked = false;
    bool hasImage = false;
    bool opensSubmenu = false;
};

struct MenuItemLook {
    bool selectionBackground = false; // the outlined selection, else gradient and background
    bool checkBox = false;
    XPRgb checkFill;
    XPRgb text;
};
// A disabled item under the mouse looks like an unselected one, and an item
// that opens a submenu never shows as selected.
MenuItemLook ChooseMenuItemLook(const MenuItemState& state, const XPColorSet& colors);

// The popup's border: a one-pixel frame, the rest of the border in the menu
// background, the left border strip in the face colour, and a gap in the top
// line where the popup meets the bar button that opened it.
struct PopupFrameLayout {
    XPRect frame;      // the one-pixel frame's outline (the whole window)
    XPRect leftStrip;
    bool hasGap = false;
    int gapX1 = 0;     // the gap on row 0, from gapX1 up to gapX2
    int gapX2 = 0;
};
PopupFrameLayout LayoutPopupFrame(int width, int height, int frameWidth, int frameHeight, int gapWidth);
