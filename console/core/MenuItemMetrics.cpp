#include "console/core/MenuItemMetrics.h"

#include <algorithm>
#include <cstdlib>

XPSize MeasureMenuItem(bool separator, int textWidth, int fontHeight, const XPCells& cells, int menuCheckWidth)
{
    if (separator)
        return {0, kMenuSeparatorHeight};
    int height = std::max(std::abs(fontHeight) + 10, cells.cyButton + 2);
    int width = textWidth + 2 * cells.cxButton + 11 + 1 - menuCheckWidth;
    return {width, height};
}

int MenuItemWidthOnScreen(int measuredWidth, int menuCheckWidth)
{
    return measuredWidth + menuCheckWidth - 1;
}

int HeavierFontWeight(int weight)
{
    return std::clamp(weight + 200, 1, 1000);
}

MenuText SplitMenuText(std::string_view text)
{
    size_t tab = text.find('\t');
    if (tab == std::string_view::npos)
        return {text, {}, false};
    return {text.substr(0, tab), text.substr(tab + 1), true};
}

MenuItemLayout LayoutMenuItem(const XPRect& item, const XPCells& cells)
{
    MenuItemLayout l;
    int cellTop = item.top + (item.Height() - cells.cyButton) / 2;
    l.buttonCell = {item.left, cellTop, item.left + cells.cxButton, cellTop + cells.cyButton};
    l.iconColumn = {item.left, item.top, item.left + cells.cxButton + 1, item.bottom};
    l.textArea = {item.left + cells.cxButton + 1, item.top, item.right, item.bottom};
    l.textRect = {l.textArea.left + kMenuTextIndent, item.top, l.textArea.right - cells.cxButton, item.bottom};
    l.checkBox = {l.buttonCell.left + kCheckBoxInset, l.buttonCell.top + kCheckBoxInset,
                  l.buttonCell.right - kCheckBoxInset, l.buttonCell.bottom - kCheckBoxInset};
    l.imageX = l.buttonCell.left + (cells.cxButton - cells.cxImage) / 2;
    l.imageY = l.buttonCell.top + (cells.cyButton - cells.cyImage) / 2;
    l.separatorY = item.top + (item.bottom - item.top) / 2;
    l.separatorX1 = l.textArea.left + kSeparatorIndent;
    l.separatorX2 = l.textArea.right;
    return l;
}

void CheckMarkOrigin(const XPRect& box, int markWidth, int markHeight, int& x, int& y)
{
    x = box.left + 1 + (box.Width() - markWidth) / 2;
    y = box.top + (box.Height() - markHeight) / 2;
}

MenuItemLook ChooseMenuItemLook(const MenuItemState& state, const XPColorSet& colors)
{
    bool selected = state.selected && !state.opensSubmenu;
    MenuItemLook look;
    look.selectionBackground = selected && !state.disabled;
    look.checkBox = state.checked && !state.hasImage;
    look.checkFill = selected ? colors.checkFillSelected : colors.selectionFill;
    look.text = state.disabled ? colors.disabledText : selected ? colors.selectedMenuText : colors.menuText;
    return look;
}

PopupFrameLayout LayoutPopupFrame(int width, int height, int frameWidth, int frameHeight, int gapWidth)
{
    PopupFrameLayout l;
    l.frame = {0, 0, width, height};
    l.leftStrip = {1, frameHeight, frameWidth, height - frameHeight};
    l.hasGap = gapWidth > 0;
    l.gapX1 = 1;
    l.gapX2 = gapWidth;
    return l;
}
