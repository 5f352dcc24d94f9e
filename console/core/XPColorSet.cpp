#include "console/core/XPColorSet.h"

namespace {

uint8_t BlendChannel(int from, int to, int percent)
{
    return static_cast<uint8_t>(from + (to - from) * percent / 100);
}

} // namespace

XPRgb BlendXP(XPRgb from, XPRgb to, int percent)
{
    return {BlendChannel(from.r, to.r, percent), BlendChannel(from.g, to.g, percent),
            BlendChannel(from.b, to.b, percent)};
}

XPColorSet ComputeXPColors(const XPDesktopColors& d, int bitsPerPixel)
{
    XPColorSet c;
    c.menuFrame = d.windowFrame;
    c.selectionBorder = d.highlight;
    c.disabledText = d.grayText;
    c.menuText = d.windowText;
    c.selectedMenuText = d.menuText;
    c.barText = d.buttonText;
    c.hotBarText = d.menuText;
    if (bitsPerPixel > 8) {
        c.menuBackground = BlendXP(d.window, d.windowText, 3);
        c.face = BlendXP(d.buttonFace, d.window, 20);
        c.selectionFill = BlendXP(d.highlight, d.window, 70);
        c.checkFillSelected = BlendXP(d.highlight, d.window, 60);
        c.pressedFill = BlendXP(c.selectionFill, d.windowText, 20);
        c.iconShadow = BlendXP(d.buttonFace, d.windowText, 35);
    } else {
        c.menuBackground = d.window;
        c.face = d.buttonFace;
        c.selectionFill = d.window;
        c.checkFillSelected = d.window;
        c.pressedFill = d.highlight;
        c.iconShadow = d.grayText;
    }
    return c;
}
