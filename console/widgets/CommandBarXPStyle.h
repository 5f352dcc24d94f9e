#pragma once
// The flat look of the command bar, its popup menus and the toolbar beside it,
// drawn through Qt's own style hooks. The colours are the bar's colour set;
// the state of a menu that is being opened from the bar (its button and
// whether it was just opened) lives here because the bar and its popups share
// one style.

#include "console/core/BarButtonLayout.h"
#include "console/core/XPColorSet.h"
#include "console/core/XPGeometry.h"

#include <QProxyStyle>
#include <QRect>

class QStyleOptionMenuItem;
class QStyleOptionToolButton;

class CCommandBarXPStyle : public QProxyStyle {
    Q_OBJECT

public:
    CCommandBarXPStyle();

    void SetColors(const XPColorSet& colors, const XPDesktopColors& desktop);
    const XPColorSet& Colors() const { return colors_; }
    const XPCells& Cells() const { return cells_; }

    // The bar button whose menu is being opened (empty: none), and whether its
    // opening has been drawn yet.
    void SetDropDown(const QRect& button);
    // The button's width for the first popup that opens, which empties it.
    int TakeDropDownWidth();

    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override;
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override;
    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& contents,
                           const QWidget* widget) const override;
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override;
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                            const QWidget* widget) const override;
    void polish(QWidget* widget) override;
    using QProxyStyle::polish;

private:
    struct ButtonPaint {
        QRect rect;
        BarButtonState state;
        BarButtonGeometry geometry;
        QPixmap image;
        QString text;
    };

    QSize MeasureItem(const QStyleOptionMenuItem& item, const QSize& contents, const QWidget* widget) const;
    void DrawItemXP(const QStyleOptionMenuItem& item, QPainter* painter, const QWidget* widget) const;
    void DrawCheckXP(QPainter* painter, const XPRect& cell, bool selected, bool checked) const;
    void DrawMenuBarItem(const QStyleOptionMenuItem& item, QPainter* painter, const QWidget* widget) const;
    void DrawToolButton(const QStyleOptionToolButton& button, QPainter* painter, const QWidget* widget) const;
    void DrawToolbarButtonXP(const ButtonPaint& button, QPainter* painter, const QWidget* widget) const;
    void DrawIconDisabledXP(QPainter* painter, const QPixmap& image, QPoint at) const;
    void DrawOpenButtonEdge(QPainter* painter, const QRect& rect) const;
    bool ShowMnemonics(const QStyleOption* option, const QWidget* widget) const;
    static bool IsToolbarButton(const QWidget* widget);

    XPColorSet colors_;
    XPDesktopColors desktop_;
    XPCells cells_;
    QRect dropDown_;
    mutable bool dropDownPending_ = false;
};
