// Pictures of the main window.

#include "console/screenshots/Screenshot.h"

#include "console/core/CommandIds.h"
#include "console/widgets/AboutDlg.h"

#include <QMenu>

TQ_SCREENSHOT(MainWindowIcons, "main-icons.png")
{
    stage.Frame().SelectServerItem(1);
    return nullptr;
}

TQ_SCREENSHOT(MainWindowReport, "main-report.png")
{
    stage.Frame().Trigger(cmd::kViewList);
    stage.Frame().SelectServerItem(1);
    return nullptr;
}

TQ_SCREENSHOT(MainWindowFileMenu, "main-menu.png")
{
    stage.OpenMenu(QStringLiteral("&File"), cmd::kFileNew);
    return nullptr;
}

TQ_SCREENSHOT(AboutBox, "about.png")
{
    stage.Frame().Trigger(cmd::kAppAbout);
    CScreenshotStage::Settle();
    return stage.Frame().findChild<CAboutDlg*>();
}
