#include "console/core/BarButtonLayout.h"

BarButtonBackground ChooseBarButtonBackground(const BarButtonState& s)
{
    if (!s.enabled || !(s.selected || s.hot || s.pressed || s.checked))
        return BarButtonBackground::None;
    if (s.dropDownPending)
        return BarButtonBackground::Open;
    if (s.dropDown && (s.selected || s.pressed))
        return BarButtonBackground::Open;
    return s.selected ? BarButtonBackground::PressedFill : BarButtonBackground::SelectionFill;
}

BarButtonLayout LayoutBarButton(const BarButtonGeometry& g, const BarButtonState& s)
{
    BarButtonLayout l;
    l.textRect = g.rect;
    if (!g.hasImage)
        return l;
    l.imageX = g.listStyle ? g.rect.left + 4 : g.rect.left + (g.buttonSize.width - g.imageSize.width) / 2;
    l.imageY = g.hasText ? g.rect.top + 4 : g.rect.top + (g.buttonSize.height - g.imageSize.height) / 2 + 1;
    if (!s.enabled)
        l.imageMode = BarImageMode::Silhouette;
    else if (s.hot && !s.selected)
        l.imageMode = BarImageMode::Lifted;
    if (g.listStyle) {
        l.textRect.left += g.imageSize.width + 8;
        l.centreText = false;
    } else if (g.hasText) {
        l.textRect.top += (g.buttonSize.height - g.imageSize.height) / 2 + 6;
    }
    return l;
}

XPRgb BarButtonTextColor(const BarButtonState& s, const XPColorSet& c)
{
    if (!s.enabled)
        return c.disabledText;
    return s.hot ? c.hotBarText : c.barText;
}
