#include "console/widgets/FlatMenuWindow.h"

#include "console/core/MenuItemMetrics.h"

#include <QMenu>
#include <QPainter>

CFlatMenuWindow::CFlatMenuWindow(QMenu* menu, const QColor& frame, const QColor& background, const QColor& strip,
                                 int frameWidth, int frameHeight, int gapWidth)
    : QObject(menu), frame_(frame), background_(background), strip_(strip), frameWidth_(frameWidth),
      frameHeight_(frameHeight), gapWidth_(gapWidth)
{
    setObjectName(QStringLiteral("FlatMenuWindow"));
}

CFlatMenuWindow* CFlatMenuWindow::Of(const QObject* menu)
{
    return menu ? menu->findChild<CFlatMenuWindow*>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
}

void CFlatMenuWindow::PaintBorder(QPainter* painter, const QRect& window) const
{
    PopupFrameLayout l = LayoutPopupFrame(window.width(), window.height(), frameWidth_, frameHeight_, gapWidth_);
    painter->save();
    painter->translate(window.topLeft());
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->fillRect(QRect(0, 0, l.frame.Width(), l.frame.Height()), background_);
    painter->setPen(frame_);
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(QRect(0, 0, l.frame.Width() - 1, l.frame.Height() - 1));
    painter->fillRect(QRect(l.leftStrip.left, l.leftStrip.top, l.leftStrip.Width(), l.leftStrip.Height()), strip_);
    if (l.hasGap && l.gapX2 > l.gapX1)
        painter->fillRect(QRect(l.gapX1, 0, l.gapX2 - l.gapX1, 1), strip_);
    painter->restore();
}
