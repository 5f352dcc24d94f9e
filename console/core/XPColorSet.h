#pragma once
// The colour set of the flat command bar and its menus: thirteen colours
// mixed from a few desktop colours. On screens of 8 bits per pixel or less the
// mixed tints would dither, so plain desktop colours stand in for them.

#include <cstdint>

struct XPRgb {
    uint8_t r = 0;
    uint8_t g = 0;
    uint8_t b = 0;

    friend bool operator==(const XPRgb&, const XPRgb&) = default;
};

// The desktop colours the set is mixed from.
struct XPDesktopColors {
    XPRgb window;       // background of text areas
    XPRgb windowText;   // text on it
    XPRgb buttonFace;   // face of buttons and bars
    XPRgb highlight;    // background of selected items
    XPRgb windowFrame;  // thin frames of windows
    XPRgb grayText;     // disabled text
    XPRgb menuText;     // text of menus
    XPRgb buttonText;   // text of buttons
};

struct XPColorSet {
    XPRgb menuFrame;
    XPRgb menuBackground;
    XPRgb face;
    XPRgb selectionBorder;
    XPRgb selectionFill;
    XPRgb checkFillSelected;
    XPRgb pressedFill;
    XPRgb disabledText;
    XPRgb menuText;
    XPRgb selectedMenuText;
    XPRgb barText;
    XPRgb hotBarText;
    XPRgb iconShadow;

    friend bool operator==(const XPColorSet&, const XPColorSet&) = default;
};

// from + (to - from) * percent / 100 per channel, truncated toward zero.
XPRgb BlendXP(XPRgb from, XPRgb to, int percent);

XPColorSet ComputeXPColors(const XPDesktopColors& desktop, int bitsPerPixel);
