#include "console/widgets/CommandBarXPStyle.h"

#include "console/core/MenuItemMetrics.h"
#include "console/widgets/FlatMenuWindow.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QLinearGradient>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QStyleOption>
#include <QToolBar>
#include <QToolButton>

#include <algorithm>

namespace {

QColor ToQt(XPRgb c)
{
    return QColor(c.r, c.g, c.b);
}

XPRect ToXP(const QRect& r)
{
    return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
}

QRect ToQt(const XPRect& r)
{
    return QRect(r.left, r.top, r.Width(), r.Height());
}

// The desktop's check mark, 7 by 7 pixels.
constexpr const char* kCheckMark[] = {
    "......X",
    ".....XX",
    "X...XXX",
    "XX.XXX.",
    "XXXXX..",
    ".XXX...",
    "..X....",
};
constexpr int kCheckMarkSize = 7;

// An outlined rectangle in the way of the desktop's Rectangle: the pen on the
// outermost pixels, the brush inside.
void OutlinedRect(QPainter* p, const QRect& r, const QColor& pen, const QColor& fill)
{
    p->fillRect(r, fill);
    p->setPen(pen);
    p->setBrush(Qt::NoBrush);
    p->drawRect(r.adjusted(0, 0, -1, -1));
}

QPixmap Tinted(const QPixmap& image, const QColor& color, qreal opacity)
{
    QPixmap out = image;
    QPainter p(&out);
    p.setCompositionMode(QPainter::CompositionMode_SourceAtop);
    p.setOpacity(opacity);
    p.fillRect(out.rect(), color);
    return out;
}

} // namespace

CCommandBarXPStyle::CCommandBarXPStyle() = default;

void CCommandBarXPStyle::SetColors(const XPColorSet& colors, const XPDesktopColors& desktop)
{
    colors_ = colors;
    desktop_ = desktop;
}

void CCommandBarXPStyle::SetDropDown(const QRect& button)
{
    dropDown_ = button;
    dropDownPending_ = !button.isEmpty();
}

int CCommandBarXPStyle::TakeDropDownWidth()
{
    int width = dropDown_.isEmpty() ? 0 : dropDown_.width();
    dropDown_ = QRect();
    return width;
}

bool CCommandBarXPStyle::IsToolbarButton(const QWidget* widget)
{
    return qobject_cast<const QToolButton*>(widget) && qobject_cast<const QToolBar*>(widget->parentWidget())
           && widget->objectName() != QLatin1String("qt_toolbar_ext_button");
}

bool CCommandBarXPStyle::ShowMnemonics(const QStyleOption* option, const QWidget* widget) const
{
    return proxy()->styleHint(SH_UnderlineShortcut, option, widget);
}

void CCommandBarXPStyle::polish(QWidget* widget)
{
    QProxyStyle::polish(widget);
    if (qobject_cast<QMenuBar*>(widget) || qobject_cast<QToolButton*>(widget))
        widget->setAttribute(Qt::WA_Hover);
}

int CCommandBarXPStyle::pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const
{
    switch (metric) {
    case PM_MenuPanelWidth:
        // The border of a dialog frame, as popup menus have it.
        return 3;
    case PM_MenuHMargin:
    case PM_MenuVMargin:
    case PM_MenuBarPanelWidth:
    case PM_MenuBarItemSpacing:
        return 0;
    case PM_MenuBarHMargin:
        return 2;
    case PM_MenuBarVMargin:
        return 1;
    default:
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
}

int CCommandBarXPStyle::styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                                  QStyleHintReturn* returnData) const
{
    switch (hint) {
    case SH_MenuBar_AltKeyNavigation:
        return 1;
    default:
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
}

QSize CCommandBarXPStyle::sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& contents,
                                           const QWidget* widget) const
{
    if (type == CT_MenuItem) {
        if (auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option))
            return MeasureItem(*item, contents, widget);
    }
    if (type == CT_MenuBarItem && option) {
        // A bar button: its text with room on both sides, as high as a button cell.
        return QSize(contents.width() + 14, std::max(contents.height() + 8, cells_.cyButton + 1));
    }
    if (type == CT_ToolButton && IsToolbarButton(widget)) {
        if (auto* b = qstyleoption_cast<const QStyleOptionToolButton*>(option)) {
            QSize image = b->iconSize;
            bool hasImage = !b->icon.isNull() && b->toolButtonStyle != Qt::ToolButtonTextOnly;
            bool hasText = !b->text.isEmpty() && b->toolButtonStyle != Qt::ToolButtonIconOnly;
            QFontMetrics fm(b->fontMetrics);
            int textWidth = hasText ? fm.horizontalAdvance(b->text) : 0;
            int height = std::max(image.height() + 7, fm.height() + 8);
            if (b->toolButtonStyle == Qt::ToolButtonTextBesideIcon && hasImage && hasText)
                return QSize(4 + image.width() + 8 + textWidth + 7, height);
            if (hasImage && hasText)
                return QSize(std::max(image.width() + 7, textWidth + 8), image.height() + 7 + fm.height() + 2);
            if (hasText)
                return QSize(textWidth + 14, height);
            return QSize(image.width() + 7, image.height() + 7);
        }
    }
    return QProxyStyle::sizeFromContents(type, option, contents, widget);
}

QSize CCommandBarXPStyle::MeasureItem(const QStyleOptionMenuItem& item, const QSize& contents,
                                      const QWidget* widget) const
{
    Q_UNUSED(widget);
    if (item.menuItemType == QStyleOptionMenuItem::Separator) {
        // The menu drops items without width; the popup is as wide as its widest item anyway.
        XPSize s = MeasureMenuItem(true, 0, 0, cells_);
        return QSize(std::max(s.width, 1), s.height);
    }
    // The menu measured the command text; the text with its shortcut is one
    // text here, so the tab between them counts as a blank.
    QFontMetrics fm(item.font);
    int textWidth = contents.width();
    if (item.reservedShortcutWidth > 0)
        textWidth += fm.horizontalAdvance(QLatin1Char(' '));
    if (item.menuItemType == QStyleOptionMenuItem::DefaultItem) {
        QFont heavy = item.font;
        heavy.setWeight(static_cast<QFont::Weight>(HeavierFontWeight(item.font.weight())));
        QString command = item.text.left(item.text.indexOf(QLatin1Char('\t')));
        textWidth += QFontMetrics(heavy).horizontalAdvance(command) - fm.horizontalAdvance(command);
    }
    XPSize s = MeasureMenuItem(false, textWidth, QFontInfo(item.font).pixelSize(), cells_);
    return QSize(MenuItemWidthOnScreen(s.width), s.height);
}

void CCommandBarXPStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                                       const QWidget* widget) const
{
    switch (element) {
    case PE_FrameMenu:
        if (qobject_cast<const QMenu*>(widget)) {
            if (CFlatMenuWindow* border = CFlatMenuWindow::Of(widget)) {
                border->PaintBorder(painter, option->rect);
            } else {
                int frame = proxy()->pixelMetric(PM_MenuPanelWidth, option, widget);
                CFlatMenuWindow(nullptr, ToQt(colors_.menuFrame), ToQt(colors_.menuBackground), ToQt(colors_.face),
                                frame, frame, 0)
                    .PaintBorder(painter, option->rect);
            }
            return;
        }
        break;
    case PE_PanelMenu:
        painter->fillRect(option->rect, ToQt(colors_.menuBackground));
        return;
    case PE_PanelMenuBar:
    case PE_PanelToolBar:
        painter->fillRect(option->rect, ToQt(desktop_.buttonFace));
        return;
    default:
        break;
    }
    QProxyStyle::drawPrimitive(element, option, painter, widget);
}

void CCommandBarXPStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                                     const QWidget* widget) const
{
    switch (element) {
    case CE_MenuItem:
        if (auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option)) {
            DrawItemXP(*item, painter, widget);
            return;
        }
        break;
    case CE_MenuEmptyArea:
        painter->fillRect(option->rect, ToQt(colors_.menuBackground));
        return;
    case CE_MenuBarItem:
        if (auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option)) {
            DrawMenuBarItem(*item, painter, widget);
            return;
        }
        break;
    case CE_MenuBarEmptyArea:
    case CE_ToolBar:
        painter->fillRect(option->rect, ToQt(desktop_.buttonFace));
        return;
    default:
        break;
    }
    QProxyStyle::drawControl(element, option, painter, widget);
}

void CCommandBarXPStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                                            QPainter* painter, const QWidget* widget) const
{
    if (control == CC_ToolButton && IsToolbarButton(widget)) {
        if (auto* b = qstyleoption_cast<const QStyleOptionToolButton*>(option)) {
            DrawToolButton(*b, painter, widget);
            return;
        }
    }
    QProxyStyle::drawComplexControl(control, option, painter, widget);
}

void CCommandBarXPStyle::DrawItemXP(const QStyleOptionMenuItem& item, QPainter* p, const QWidget* widget) const
{
    MenuItemState s;
    s.selected = item.state & State_Selected;
    s.disabled = !(item.state & State_Enabled);
    s.checked = item.checkType != QStyleOptionMenuItem::NotCheckable && item.checked;
    s.hasImage = !item.icon.isNull();
    s.opensSubmenu = item.menuItemType == QStyleOptionMenuItem::SubMenu;
    MenuItemLook look = ChooseMenuItemLook(s, colors_);
    MenuItemLayout l = LayoutMenuItem(ToXP(item.rect), cells_);

    p->save();
    p->setRenderHint(QPainter::Antialiasing, false);
    if (look.selectionBackground) {
        OutlinedRect(p, item.rect, ToQt(colors_.selectionBorder), ToQt(colors_.selectionFill));
    } else {
        QRect column = ToQt(l.iconColumn);
        // From the first pixel's centre, reaching the right colour just past the column.
        QLinearGradient gradient(column.left() + 0.5, 0, column.left() + column.width() + 0.5, 0);
        gradient.setColorAt(0, ToQt(kGradientLeft));
        gradient.setColorAt(1, ToQt(kGradientRight));
        p->fillRect(column, gradient);
        p->fillRect(ToQt(l.textArea), ToQt(colors_.menuBackground));
    }

    if (item.menuItemType == QStyleOptionMenuItem::Separator) {
        if (l.separatorX2 > l.separatorX1)
            p->fillRect(QRect(l.separatorX1, l.separatorY, l.separatorX2 - l.separatorX1, 1), ToQt(kSeparatorColor));
        p->restore();
        return;
    }

    if (s.hasImage) {
        QPixmap image = item.icon.pixmap(QSize(cells_.cxImage, cells_.cxImage), p->device()->devicePixelRatioF());
        // A disabled image is blended a quarter toward the highlight colour.
        if (s.disabled)
            image = Tinted(image, ToQt(colors_.selectionBorder), 0.25);
        p->drawPixmap(l.imageX, l.imageY, image);
    } else if (look.checkBox) {
        DrawCheckXP(p, l.buttonCell, s.selected, s.checked);
    }

    std::string text8 = item.text.toStdString();
    MenuText parts = SplitMenuText(text8);
    QString command = QString::fromUtf8(parts.command.data(), static_cast<qsizetype>(parts.command.size()));
    QString shortcut = QString::fromUtf8(parts.shortcut.data(), static_cast<qsizetype>(parts.shortcut.size()));
    int flags = Qt::TextSingleLine | Qt::AlignVCenter
                | (ShowMnemonics(&item, widget) ? Qt::TextShowMnemonic : Qt::TextHideMnemonic);
    QRect text = ToQt(l.textRect);
    p->setFont(item.font);
    p->setPen(ToQt(look.text));
    p->drawText(text, flags | Qt::AlignLeft, command);
    if (parts.hasShortcut)
        p->drawText(text, flags | Qt::AlignRight, shortcut);
    if (s.opensSubmenu) {
        // The desktop draws the arrow of a submenu item itself; here the style must.
        QStyleOption arrow = item;
        arrow.rect = QRect(item.rect.right() + 1 - cells_.cxButton, item.rect.top(), cells_.cxButton, item.rect.height())
                         .adjusted(7, 0, -7, 0);
        arrow.palette.setColor(QPalette::ButtonText, ToQt(look.text));
        arrow.palette.setColor(QPalette::WindowText, ToQt(look.text));
        arrow.palette.setColor(QPalette::Text, ToQt(look.text));
        proxy()->drawPrimitive(PE_IndicatorArrowRight, &arrow, p, widget);
    }
    p->restore();
}

void CCommandBarXPStyle::DrawCheckXP(QPainter* p, const XPRect& cell, bool selected, bool checked) const
{
    XPRect box{cell.left + kCheckBoxInset, cell.top + kCheckBoxInset, cell.right - kCheckBoxInset,
               cell.bottom - kCheckBoxInset};
    QColor fill = ToQt(selected ? colors_.checkFillSelected : colors_.selectionFill);
    OutlinedRect(p, ToQt(box), ToQt(colors_.selectionBorder), fill);
    if (!checked)
        return;
    // A radio item shows the same mark.
    int x = 0, y = 0;
    CheckMarkOrigin(box, kCheckMarkSize, kCheckMarkSize, x, y);
    QColor mark = ToQt(colors_.menuText);
    for (int row = 0; row < kCheckMarkSize; ++row)
        for (int col = 0; col < kCheckMarkSize; ++col)
            if (kCheckMark[row][col] == 'X')
                p->fillRect(QRect(x + col, y + row, 1, 1), mark);
}

void CCommandBarXPStyle::DrawMenuBarItem(const QStyleOptionMenuItem& item, QPainter* p, const QWidget* widget) const
{
    ButtonPaint b;
    b.rect = item.rect;
    b.state.enabled = item.state & State_Enabled;
    b.state.hot = item.state & State_Selected;
    // The button of an open menu is pressed; every bar button opens a menu.
    b.state.pressed = item.state & State_Sunken;
    b.state.dropDown = true;
    b.state.dropDownPending = dropDownPending_;
    b.geometry.rect = ToXP(item.rect);
    b.geometry.buttonSize = {item.rect.width(), item.rect.height()};
    b.text = item.text;
    p->fillRect(item.rect, ToQt(desktop_.buttonFace));
    DrawToolbarButtonXP(b, p, widget);
}

void CCommandBarXPStyle::DrawToolButton(const QStyleOptionToolButton& o, QPainter* p, const QWidget* widget) const
{
    ButtonPaint b;
    b.rect = o.rect;
    b.state.enabled = o.state & State_Enabled;
    b.state.hot = (o.state & State_MouseOver) && b.state.enabled;
    b.state.selected = o.state & State_Sunken;
    b.state.checked = o.state & State_On;
    b.state.dropDown = o.features & QStyleOptionToolButton::HasMenu;
    bool hasImage = !o.icon.isNull() && o.toolButtonStyle != Qt::ToolButtonTextOnly;
    bool hasText = !o.text.isEmpty() && o.toolButtonStyle != Qt::ToolButtonIconOnly;
    b.geometry.rect = ToXP(o.rect);
    b.geometry.buttonSize = {o.rect.width(), o.rect.height()};
    b.geometry.imageSize = {o.iconSize.width(), o.iconSize.height()};
    b.geometry.hasImage = hasImage;
    b.geometry.hasText = hasText;
    b.geometry.listStyle = o.toolButtonStyle == Qt::ToolButtonTextBesideIcon;
    // A hot button shows the icon's active image (the normal one when it has none).
    if (hasImage)
        b.image = o.icon.pixmap(o.iconSize, p->device()->devicePixelRatioF(),
                                b.state.hot ? QIcon::Active : QIcon::Normal, b.state.checked ? QIcon::On : QIcon::Off);
    if (hasText)
        b.text = o.text;
    DrawToolbarButtonXP(b, p, widget);
}

void CCommandBarXPStyle::DrawOpenButtonEdge(QPainter* p, const QRect& r) const
{
    // A raised one-dimensional edge on three sides: the frame colour outside,
    // the window colour inside; the bottom stays open toward the menu.
    QColor outer = ToQt(desktop_.windowFrame);
    QColor inner = ToQt(desktop_.window);
    p->fillRect(QRect(r.left(), r.top(), r.width(), 1), outer);
    p->fillRect(QRect(r.left(), r.top(), 1, r.height()), outer);
    p->fillRect(QRect(r.right(), r.top(), 1, r.height()), outer);
    if (r.width() > 2 && r.height() > 1) {
        p->fillRect(QRect(r.left() + 1, r.top() + 1, r.width() - 2, 1), inner);
        p->fillRect(QRect(r.left() + 1, r.top() + 1, 1, r.height() - 1), inner);
        p->fillRect(QRect(r.right() - 1, r.top() + 1, 1, r.height() - 1), inner);
    }
}

void CCommandBarXPStyle::DrawToolbarButtonXP(const ButtonPaint& b, QPainter* p, const QWidget* widget) const
{
    p->save();
    p->setRenderHint(QPainter::Antialiasing, false);
    switch (ChooseBarButtonBackground(b.state)) {
    case BarButtonBackground::None:
        break;
    case BarButtonBackground::Open:
        p->fillRect(b.rect, ToQt(colors_.face));
        DrawOpenButtonEdge(p, b.rect);
        if (b.state.dropDownPending)
            dropDownPending_ = false;
        break;
    case BarButtonBackground::PressedFill:
        OutlinedRect(p, b.rect, ToQt(colors_.selectionBorder), ToQt(colors_.pressedFill));
        break;
    case BarButtonBackground::SelectionFill:
        OutlinedRect(p, b.rect, ToQt(colors_.selectionBorder), ToQt(colors_.selectionFill));
        break;
    }

    BarButtonLayout l = LayoutBarButton(b.geometry, b.state);
    if (b.geometry.hasImage && !b.image.isNull()) {
        QPoint at(l.imageX, l.imageY);
        switch (l.imageMode) {
        case BarImageMode::Silhouette:
            DrawIconDisabledXP(p, b.image, at);
            break;
        case BarImageMode::Lifted:
            DrawIconDisabledXP(p, b.image, at + QPoint(1, 1));
            p->drawPixmap(at - QPoint(1, 1), b.image);
            break;
        case BarImageMode::Plain:
            p->drawPixmap(at, b.image);
            break;
        }
    }

    if (!b.text.isEmpty()) {
        int flags = Qt::TextSingleLine | Qt::AlignVCenter | (l.centreText ? Qt::AlignHCenter : Qt::AlignLeft)
                    | (ShowMnemonics(nullptr, widget) ? Qt::TextShowMnemonic : Qt::TextHideMnemonic);
        p->setPen(ToQt(BarButtonTextColor(b.state, colors_)));
        if (widget)
            p->setFont(widget->font());
        p->drawText(ToQt(l.textRect), flags, b.text);
    }
    p->restore();
}

void CCommandBarXPStyle::DrawIconDisabledXP(QPainter* p, const QPixmap& image, QPoint at) const
{
    // A one-colour silhouette of the image's opaque part.
    p->drawPixmap(at, Tinted(image, ToQt(colors_.iconShadow), 1.0));
}
