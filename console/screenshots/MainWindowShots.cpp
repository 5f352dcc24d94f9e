// Pictures of the main window.

#include "console/screenshots/Screenshot.h"

#include "console/core/CommandIds.h"
#include "console/core/SavePlan.h"
#include "console/core/ServerConfiguration.h"
#include "console/core/TextFormat.h"
#include "console/widgets/AboutDlg.h"
#include "console/widgets/QtPrompt.h"

#include <QMenu>
#include <QMessageBox>

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

// What a save asks before a new server takes over a folder it finds.
TQ_SCREENSHOT(TakeOverQuestion, "save-question.png")
{
    QMessageBox* box =
        CQtPrompt::MessageBox(Format(CSavePlan::kTakeOver, "/srv/tqwl/Warehouse/", "Warehouse"),
                              CServerConfiguration::kTitle, PromptButtons::YesNo, PromptIcon::Question, &stage.Frame());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->show();
    CScreenshotStage::Settle();
    return box;
}
