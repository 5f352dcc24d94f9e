// Pictures of the main window.

#include "console/screenshots/Screenshot.h"

#include "console/core/CommandIds.h"
#include "console/core/SaveJournal.h"
#include "console/core/SavePlan.h"
#include "console/core/ServerConfiguration.h"
#include "console/core/TextFormat.h"
#include "console/core/VirtualServer.h"
#include "platform/registry/RegistryTransaction.h"
#include "console/widgets/AboutDlg.h"
#include "console/widgets/QtPrompt.h"

#include <QMenu>
#include <QMessageBox>

#include <cstdlib>
#include <filesystem>
#include <fstream>

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

// What the next console says of a save killed once it had stored its list
// (Warehouse renamed to Stock), whose folder was then put back by hand: found
// by a real recovery, in a registry of its own so that no other picture sees it.
TQ_SCREENSHOT(RecoveryBox, "save-recovered.png")
{
    const std::string shown = std::getenv("TQ_STATE_ROOT");
    const std::string root = shown + "/recovered";
    const std::string from = root + "/Warehouse", to = root + "/Stock";
    std::filesystem::create_directories(from);
    std::ofstream(from + "/userlist.fdb") << "users";
    setenv("TQ_STATE_ROOT", root.c_str(), 1);
    {
        std::vector<CFolderMove> moves;
        moves.emplace_back("Warehouse", "Stock", from + "/", to + "/");
        CSaveJournal journal(std::move(moves));
        const CFolderMove* failed = nullptr;
        journal.Begin(failed);
        journal.Apply("", failed);
        CRegistryTransaction stored;
        CVirtualServer("Stock", to + "/", "Scanners and stock terminals", 35002, false).Save(stored, nullptr);
        journal.Commit(stored);
        stored.Commit();
    } // killed here
    std::filesystem::rename(to, from);
    const std::string text = CSaveJournal::Recover().problem;
    setenv("TQ_STATE_ROOT", shown.c_str(), 1);
    QMessageBox* box = CQtPrompt::MessageBox(text, CServerConfiguration::kTitle, PromptButtons::Ok,
                                             PromptIcon::Warning, &stage.Frame());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->show();
    CScreenshotStage::Settle();
    return box;
}
