#pragma once
// The flat border of one open popup menu: a one-pixel frame, the rest of the
// border in the menu background, the left strip in the face colour, and a gap
// in the top line under the bar button that opened it. It is attached to the
// menu while the menu is shown and keeps the colours it was created with.

#include <QColor>
#include <QObject>

class QMenu;
class QPainter;
class QRect;

class CFlatMenuWindow : public QObject {
    Q_OBJECT

public:
    CFlatMenuWindow(QMenu* menu, const QColor& frame, const QColor& background, const QColor& strip,
                    int frameWidth, int frameHeight, int gapWidth);

    // The window's border, into painter (whose origin is the window's corner).
    void PaintBorder(QPainter* painter, const QRect& window) const;

    int GapWidth() const { return gapWidth_; }

    // The border of the menu as it stands, when it has one.
    static CFlatMenuWindow* Of(const QObject* menu);

private:
    QColor frame_;
    QColor background_;
    QColor strip_;
    int frameWidth_;
    int frameHeight_;
    int gapWidth_;
};
