#pragma once
// The console's menu bar: a flat command bar whose buttons open popup menus
// drawn with an icon column, outlined selections and a thin border that meets
// the open button. The colour set is mixed from the palette and mixed again
// whenever the palette or the desktop theme changes.

#include "console/core/XPColorSet.h"

#include <QList>
#include <QMenuBar>
#include <QPointer>

class CCommandBarXPStyle;
class QMenu;
class QToolBar;

class CCommandBarXPCtrl : public QMenuBar {
    Q_OBJECT

public:
    explicit CCommandBarXPCtrl(QWidget* parent = nullptr);
    ~CCommandBarXPCtrl() override;

    // Mixes the colour set afresh from the bar's palette and the screen's depth.
    void InitXPColors();
    const XPColorSet& Colors() const;

    // Draws the buttons of a toolbar like the bar's own.
    void UseFlatLook(QToolBar* toolbar);

    CCommandBarXPStyle* Style() const { return style_; }

protected:
    bool event(QEvent* e) override;
    void actionEvent(QActionEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private slots:
    void OnMenuAboutToShow();

private:
    void AdoptMenu(QMenu* menu);
    void Restyle(QWidget* widget);

    CCommandBarXPStyle* style_;
    QList<QPointer<QWidget>> styled_;
    QList<QPointer<QToolBar>> toolbars_;
};
