#include "console/widgets/CommandBarXPCtrl.h"

#include "console/widgets/CommandBarXPStyle.h"
#include "console/widgets/FlatMenuWindow.h"

#include <QActionEvent>
#include <QApplication>
#include <QMenu>
#include <QScreen>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>

namespace {

XPRgb ToXP(const QColor& c)
{
    QColor rgb = c.toRgb();
    return {static_cast<uint8_t>(rgb.red()), static_cast<uint8_t>(rgb.green()), static_cast<uint8_t>(rgb.blue())};
}

QColor ToQt(XPRgb c)
{
    return QColor(c.r, c.g, c.b);
}

} // namespace

CCommandBarXPCtrl::CCommandBarXPCtrl(QWidget* parent) : QMenuBar(parent), style_(new CCommandBarXPStyle)
{
    // The style must outlive every widget it draws; the bar takes them back
    // from it when it goes (see the destructor).
    style_->setParent(this);
    setObjectName(QStringLiteral("CommandBar"));
    // A desktop-wide menu bar would take the menus out of the window and out of this look.
    setNativeMenuBar(false);
    InitXPColors();
    Restyle(this);
}

CCommandBarXPCtrl::~CCommandBarXPCtrl()
{
    for (const QPointer<QWidget>& w : styled_)
        if (w && w != this)
            w->setStyle(nullptr);
    setStyle(nullptr);
}

const XPColorSet& CCommandBarXPCtrl::Colors() const
{
    return style_->Colors();
}

void CCommandBarXPCtrl::InitXPColors()
{
    const QPalette& p = palette();
    XPDesktopColors d;
    d.window = ToXP(p.color(QPalette::Active, QPalette::Base));
    d.windowText = ToXP(p.color(QPalette::Active, QPalette::Text));
    d.buttonFace = ToXP(p.color(QPalette::Active, QPalette::Button));
    d.highlight = ToXP(p.color(QPalette::Active, QPalette::Highlight));
    d.windowFrame = ToXP(p.color(QPalette::Active, QPalette::Shadow));
    d.grayText = ToXP(p.color(QPalette::Disabled, QPalette::Text));
    d.menuText = ToXP(p.color(QPalette::Active, QPalette::WindowText));
    d.buttonText = ToXP(p.color(QPalette::Active, QPalette::ButtonText));
    QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
    int depth = s ? s->depth() : 32;
    style_->SetColors(ComputeXPColors(d, depth), d);
    update();
    for (const QPointer<QWidget>& w : styled_)
        if (w)
            w->update();
}

void CCommandBarXPCtrl::Restyle(QWidget* widget)
{
    if (widget->style() != style_)
        widget->setStyle(style_);
    if (!styled_.contains(widget))
        styled_.append(widget);
}

bool CCommandBarXPCtrl::event(QEvent* e)
{
    // The base takes the new palette first; the colours are mixed from it.
    bool handled = QMenuBar::event(e);
    switch (e->type()) {
    case QEvent::PaletteChange:
    case QEvent::ApplicationPaletteChange:
    case QEvent::ThemeChange:
    case QEvent::StyleChange:
        InitXPColors();
        break;
    default:
        break;
    }
    return handled;
}

void CCommandBarXPCtrl::actionEvent(QActionEvent* e)
{
    QMenuBar::actionEvent(e);
    if (e->type() != QEvent::ActionAdded)
        return;
    if (QMenu* menu = QMenu::menuInAction(e->action())) {
        AdoptMenu(menu);
        connect(menu, &QMenu::aboutToShow, this, &CCommandBarXPCtrl::OnMenuAboutToShow, Qt::UniqueConnection);
    }
}

void CCommandBarXPCtrl::OnMenuAboutToShow()
{
    // A menu of the bar opens under its button: remember the button.
    auto* menu = qobject_cast<QMenu*>(sender());
    if (menu && actions().contains(menu->menuAction()))
        style_->SetDropDown(actionGeometry(menu->menuAction()));
}

void CCommandBarXPCtrl::AdoptMenu(QMenu* menu)
{
    Restyle(menu);
    menu->installEventFilter(this);
    for (QAction* a : menu->actions())
        if (QMenu* sub = QMenu::menuInAction(a))
            AdoptMenu(sub);
}

void CCommandBarXPCtrl::UseFlatLook(QToolBar* toolbar)
{
    Restyle(toolbar);
    toolbars_.append(toolbar);
    toolbar->installEventFilter(this);
    for (QToolButton* b : toolbar->findChildren<QToolButton*>())
        Restyle(b);
}

bool CCommandBarXPCtrl::eventFilter(QObject* watched, QEvent* e)
{
    if (auto* menu = qobject_cast<QMenu*>(watched)) {
        switch (e->type()) {
        case QEvent::Show: {
            // A popup gets its border as it opens: the first one after a bar
            // button was pressed leaves a gap for it, submenus a closed frame.
            delete CFlatMenuWindow::Of(menu);
            int frame = style_->pixelMetric(QStyle::PM_MenuPanelWidth, nullptr, menu);
            const XPColorSet& c = style_->Colors();
            new CFlatMenuWindow(menu, ToQt(c.menuFrame), ToQt(c.menuBackground), ToQt(c.face), frame, frame,
                                style_->TakeDropDownWidth());
            break;
        }
        case QEvent::Hide:
            delete CFlatMenuWindow::Of(menu);
            break;
        case QEvent::ActionAdded:
            if (QMenu* sub = QMenu::menuInAction(static_cast<QActionEvent*>(e)->action()))
                AdoptMenu(sub);
            break;
        default:
            break;
        }
    } else if (auto* toolbar = qobject_cast<QToolBar*>(watched); toolbar && toolbars_.contains(toolbar)) {
        if (e->type() == QEvent::ChildPolished || e->type() == QEvent::ChildAdded)
            if (auto* b = qobject_cast<QToolButton*>(static_cast<QChildEvent*>(e)->child()))
                Restyle(b);
    }
    return QMenuBar::eventFilter(watched, e);
}
