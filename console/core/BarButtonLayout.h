#pragma once
// How a button of the flat command bar (or of a toolbar drawn like it) is
// painted: its background for its state, where its image and text go, and
// the colour of its text.

#include "console/core/XPColorSet.h"
#include "console/core/XPGeometry.h"

struct BarButtonState {
    bool enabled = true;
    bool selected = false;         // held down
    bool hot = false;              // under the mouse
    bool pressed = false;
    bool checked = false;
    bool dropDown = false;         // opens a menu
    bool dropDownPending = false;  // its menu is just being opened
};

enum class BarButtonBackground {
    None,           // the bar shows through
    Open,           // face colour, framed left, top and right: its menu hangs below
    PressedFill,    // outlined, pressed fill
    SelectionFill,  // outlined, selection fill
};

// The caller clears its drop-down pending flag once a button has been drawn
// with a background.
BarButtonBackground ChooseBarButtonBackground(const BarButtonState& state);

enum class BarImageMode {
    Plain,       // the image where it belongs
    Silhouette,  // disabled: a one-colour silhouette
    Lifted,      // hot: a silhouette one pixel down and right as a shadow, the image one pixel up and left
};

struct BarButtonGeometry {
    XPRect rect;            // the button
    XPSize buttonSize;      // the bar's button size
    XPSize imageSize;
    bool hasImage = false;
    bool hasText = false;
    bool listStyle = false; // text beside the image instead of below it
};

struct BarButtonLayout {
    int imageX = 0;
    int imageY = 0;
    BarImageMode imageMode = BarImageMode::Plain;
    XPRect textRect;
    bool centreText = true;
};
BarButtonLayout LayoutBarButton(const BarButtonGeometry& geometry, const BarButtonState& state);

XPRgb BarButtonTextColor(const BarButtonState& state, const XPColorSet& colors);
