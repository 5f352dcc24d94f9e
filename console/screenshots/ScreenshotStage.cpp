#include "console/screenshots/ScreenshotStage.h"

#include "console/core/SilentPrompt.h"

#include <QApplication>
#include <QCursor>
#include <QToolBar>
#include <QElapsedTimer>
#include <QMenu>
#include <QMenuBar>

CScreenshotStage::CScreenshotStage()
    : prompt_(std::make_unique<CSilentPrompt>()), frame_(std::make_unique<CMainFrame>(*prompt_))
{
    frame_->move(24, 24);
    frame_->resize(640, 440);
    frame_->show();
    frame_->activateWindow();
    Settle();
}

CScreenshotStage::~CScreenshotStage()
{
    while (QWidget* popup = QApplication::activePopupWidget())
        popup->close();
    for (QWidget* window : QApplication::topLevelWidgets())
        if (window != frame_.get() && window->isVisible() && !window->parent())
            window->close();
    frame_.reset();
    // The pointer leaves the window's place, so no later picture shows a hot button.
    QCursor::setPos(0, 0);
    Settle(100);
}

void CScreenshotStage::Settle(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
}

QMenu* CScreenshotStage::OpenMenu(const QString& title, int highlightId)
{
    for (QAction* action : frame_->menuBar()->actions()) {
        if (action->text() != title || !action->menu())
            continue;
        frame_->menuBar()->setActiveAction(action);
        Settle();
        QMenu* menu = action->menu();
        if (highlightId != 0)
            menu->setActiveAction(frame_->Action(highlightId));
        Settle();
        return menu;
    }
    return nullptr;
}

void CScreenshotStage::HoverToolBarButton(int id)
{
    QWidget* button = frame_->OptionsToolBar()->widgetForAction(frame_->Action(id));
    if (!button)
        return;
    QCursor::setPos(button->mapToGlobal(button->rect().center()));
    Settle();
}
