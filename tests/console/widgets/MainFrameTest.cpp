#include "console/widgets/MainFrame.h"

#include "common/Names.h"
#include "console/core/CommandIds.h"
#include "console/widgets/AboutDlg.h"
#include "platform/registry/Registry.h"
#include "tests/console/widgets/FakeActivityWindow.h"
#include "tests/console/widgets/RecordingPrompt.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>
#include <QToolTip>
#include <QHelpEvent>
#include <QTreeView>

#include <memory>
#include <string>
#include <vector>

namespace {

// A frame whose configuration, service and update commands only say that they ran.
class RecordingFrame : public CMainFrame {
public:
    using CMainFrame::CMainFrame;
    std::vector<std::string> calls;
    int statusUpdates = 0;

protected:
    void OnNewServer() override { calls.push_back("new"); }
    void OnDeleteServer() override { calls.push_back("delete"); }
    void SaveConfiguration() override { calls.push_back("save"); }
    void OnStartService() override { calls.push_back("start"); }
    void OnStopService() override { calls.push_back("stop"); }
    void UpdateServiceStatus() override { ++statusUpdates; }
    void CheckForUpdates() override { calls.push_back("updates"); }
};

void AddStoredServer(const std::string& name, DWORD port, const std::string& folder)
{
    HKEY key = nullptr;
    const std::string path = std::string(tq::kVirtualServersKey) + "\\" + name;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    RegSetValueExA(key, tq::kPortValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&port), sizeof port);
    RegSetValueExA(key, tq::kStorageFolderValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                   static_cast<DWORD>(folder.size() + 1));
    const std::string description = "about " + name;
    RegSetValueExA(key, tq::kDescriptionValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(description.c_str()),
                   static_cast<DWORD>(description.size() + 1));
    RegCloseKey(key);
}

struct MenuEntry {
    QString text;
    int id; // 0 for a separator
};

std::vector<MenuEntry> Entries(QMenu* menu)
{
    std::vector<MenuEntry> entries;
    for (QAction* a : menu->actions())
        entries.push_back({a->isSeparator() ? QString() : a->text(), a->isSeparator() ? 0 : a->data().toInt()});
    return entries;
}

class MainFrameTest : public tqtest::StateRootTest {
protected:
    void TearDown() override
    {
        FakeActivityWindow::EndAll();
        frame_.reset();
        StateRootTest::TearDown();
    }

    void SetUp() override
    {
        StateRootTest::SetUp();
        AddStoredServer("Alpha", 35001, "/srv/alpha/");
        AddStoredServer("Beta", 35002, "/srv/beta/");
    }

    // Made after the registry is ready; fakes stand for activity windows.
    RecordingFrame& Frame()
    {
        if (!frame_) {
            frame_ = std::make_unique<RecordingFrame>(prompt);
            frame_->SetActivityWindowFactory([this](DWORD port) {
                auto window = std::make_unique<FakeActivityWindow>();
                activity[port] = window.get();
                ++made;
                return window;
            });
        }
        return *frame_;
    }

    // Shows the activity window of one row.
    FakeActivityWindow* ShowActivity(int row)
    {
        Frame().SelectServerItem(row);
        EXPECT_TRUE(Frame().Trigger(cmd::kViewServerActivity));
        return activity[Frame().SelectedServer()->Port()];
    }

    RecordingPrompt prompt;
    std::map<DWORD, FakeActivityWindow*> activity;
    int made = 0; // windows the factory made

private:
    std::unique_ptr<RecordingFrame> frame_;
};

} // namespace

TEST_F(MainFrameTest, TitleFollowsTheModifiedFlag)
{
    EXPECT_EQ(Frame().windowTitle(), QString("Wardlake 7"));
    Frame().SetModified();
    EXPECT_EQ(Frame().windowTitle(), QString("Wardlake 7 (Modified)"));
}

TEST_F(MainFrameTest, ListShowsTheDefaultRecordFirstThenTheStoredOnes)
{
    RecordingFrame& frame = Frame();
    ASSERT_EQ(frame.RowCount(), 3);
    EXPECT_EQ(frame.SelectedRow(), 0);
    ASSERT_NE(frame.SelectedServer(), nullptr);
    EXPECT_EQ(frame.SelectedServer()->Name(), "Default");
    EXPECT_TRUE(frame.SelectedServer()->IsReadOnly());

    QAbstractItemModel* model = frame.ReportView()->model();
    ASSERT_EQ(model->columnCount(), 4);
    const char* headers[] = {"Name", "Port", "Storage Folder", "Description"};
    for (int c = 0; c < 4; ++c)
        EXPECT_EQ(model->headerData(c, Qt::Horizontal).toString(), QString(headers[c]));
    EXPECT_EQ(model->index(0, 1).data().toString(), QString("34347"));
    EXPECT_EQ(model->index(1, 0).data().toString(), QString("Alpha"));
    EXPECT_EQ(model->index(1, 1).data().toString(), QString("35001"));
    EXPECT_EQ(model->index(1, 2).data().toString(), QString("/srv/alpha/"));
    EXPECT_EQ(model->index(2, 3).data().toString(), QString("about Beta"));
    EXPECT_FALSE(model->index(0, 0).data(Qt::DecorationRole).isNull());

    frame.SelectServerItem(2);
    EXPECT_EQ(frame.SelectedServer()->Name(), "Beta");
    frame.SelectServerItem(7); // no such row: nothing changes
    EXPECT_EQ(frame.SelectedRow(), 2);
}

TEST_F(MainFrameTest, MenuTreeHasItsTextsIdsIconsAndChecks)
{
    RecordingFrame& frame = Frame();
    QList<QAction*> menus = frame.menuBar()->actions();
    ASSERT_EQ(menus.size(), 4);
    EXPECT_EQ(menus[0]->text(), QString("&File"));
    EXPECT_EQ(menus[1]->text(), QString("&Service"));
    EXPECT_EQ(menus[2]->text(), QString("&View"));
    EXPECT_EQ(menus[3]->text(), QString("&Help"));

    auto expect = [](QMenu* menu, const std::vector<MenuEntry>& want) {
        std::vector<MenuEntry> got = Entries(menu);
        ASSERT_EQ(got.size(), want.size()) << menu->title().toStdString();
        for (size_t i = 0; i < want.size(); ++i) {
            EXPECT_EQ(got[i].text, want[i].text);
            EXPECT_EQ(got[i].id, want[i].id) << want[i].text.toStdString();
        }
    };
    expect(menus[0]->menu(), {{"&New Virtual Server", 0xE100}, {"", 0}, {"&Save Configuration", 0xE103}, {"", 0},
                              {"E&xit", 0xE141}});
    expect(menus[1]->menu(), {{"&Start", 32772}, {"S&top", 32773}});
    expect(menus[2]->menu(), {{"&Icons", 32782}, {"&List", 32783}, {"", 0}, {"Server &Activity", 32785}, {"", 0},
                              {"&Refresh", 0xE803}});
    expect(menus[3]->menu(), {{"&About Wardlake Settings...", 0xE140}});

    for (int id : {cmd::kFileNew, cmd::kFileSave, cmd::kViewServerActivity})
        EXPECT_FALSE(frame.Action(id)->icon().isNull()) << id;
    for (int id : {cmd::kAppExit, cmd::kServiceStart, cmd::kViewIcons, cmd::kViewRefresh, cmd::kAppAbout})
        EXPECT_TRUE(frame.Action(id)->icon().isNull()) << id;
    EXPECT_TRUE(frame.Action(cmd::kViewIcons)->isChecked());
    EXPECT_FALSE(frame.Action(cmd::kViewList)->isChecked());

    EXPECT_EQ(frame.Action(cmd::kFileNew)->statusTip(), QString("Create a new Virtual Server"));
    EXPECT_EQ(frame.Action(cmd::kFileNew)->toolTip(), QString("New Virtual Server"));
    EXPECT_EQ(frame.Action(cmd::kAppExit)->statusTip(), QString("Quit the application"));
    EXPECT_EQ(frame.Action(cmd::kServiceStart)->statusTip(), QString("Start the Wardlake Service"));
    EXPECT_EQ(frame.Action(cmd::kServiceStop)->statusTip(), QString("Stop the Wardlake service"));
    EXPECT_TRUE(frame.Action(cmd::kFileSave)->statusTip().isEmpty());

    EXPECT_EQ(frame.Action(cmd::kFileNew)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_N));
    EXPECT_EQ(frame.Action(cmd::kFileSave)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_S));
}

TEST_F(MainFrameTest, ToolBarHasItsThreeButtonsInAFixedBand)
{
    QToolBar* bar = Frame().OptionsToolBar();
    EXPECT_EQ(bar->windowTitle(), QString("Virtual Server Options"));
    EXPECT_FALSE(bar->isMovable());
    EXPECT_EQ(bar->toolButtonStyle(), Qt::ToolButtonTextBesideIcon);
    std::vector<std::pair<QString, int>> buttons;
    for (QAction* a : bar->actions())
        if (a->data().isValid())
            buttons.push_back({a->text(), a->data().toInt()});
    std::vector<std::pair<QString, int>> want = {{"New Server", 2000}, {"Delete Server", 2001},
                                                 {"Server &Activity", 32785}};
    EXPECT_EQ(buttons, want);
    for (QAction* a : bar->actions()) {
        if (a->data().isValid()) {
            EXPECT_FALSE(a->icon().isNull());
        }
    }
    EXPECT_EQ(Frame().createPopupMenu(), nullptr);

    // None of the three commands has a prompt string, so no button shows a tooltip.
    Frame().show();
    for (int id : {cmd::kNewServer, cmd::kDeleteServer, cmd::kViewServerActivity}) {
        QWidget* button = bar->widgetForAction(Frame().Action(id));
        ASSERT_NE(button, nullptr);
        QHelpEvent help(QEvent::ToolTip, QPoint(2, 2), button->mapToGlobal(QPoint(2, 2)));
        QApplication::sendEvent(button, &help);
        EXPECT_FALSE(QToolTip::isVisible()) << id;
    }
}

TEST_F(MainFrameTest, EveryCommandIsDispatchedByItsId)
{
    RecordingFrame& frame = Frame();
    EXPECT_FALSE(frame.Trigger(12345));

    const std::vector<std::pair<int, std::string>> seams = {
        {cmd::kFileNew, "new"},        {cmd::kNewServer, "new"},        {cmd::kDeleteServer, "delete"},
        {cmd::kFileSave, "save"},      {cmd::kServiceStart, "start"},   {cmd::kServiceStop, "stop"},
        {cmd::kCheckForUpdates, "updates"}};
    for (const auto& [id, call] : seams) {
        frame.calls.clear();
        EXPECT_TRUE(frame.Trigger(id));
        EXPECT_EQ(frame.calls, std::vector<std::string>{call}) << id;
    }

    EXPECT_TRUE(frame.Trigger(cmd::kViewList));
    EXPECT_FALSE(frame.IsIconView());
    EXPECT_TRUE(frame.Action(cmd::kViewList)->isChecked());
    EXPECT_FALSE(frame.Action(cmd::kViewIcons)->isChecked());
    EXPECT_GT(frame.ReportView()->columnWidth(2), 0);
    EXPECT_TRUE(frame.Trigger(cmd::kViewIcons));
    EXPECT_TRUE(frame.IsIconView());
    EXPECT_TRUE(frame.Action(cmd::kViewIcons)->isChecked());
    EXPECT_FALSE(frame.Action(cmd::kViewList)->isChecked());

    // Clearing drops rows only; Refresh rebuilds them from memory.
    EXPECT_TRUE(frame.Trigger(cmd::kClearServerList));
    EXPECT_EQ(frame.RowCount(), 0);
    EXPECT_EQ(frame.Configuration().Count(), 3u);
    AddStoredServer("Gamma", 35003, "/srv/gamma/");
    EXPECT_TRUE(frame.Trigger(cmd::kViewRefresh));
    EXPECT_EQ(frame.RowCount(), 3); // the registry is not read again
    EXPECT_EQ(frame.SelectedRow(), 0);

    frame.show();
    EXPECT_TRUE(frame.Trigger(cmd::kViewStatusBar));
    EXPECT_FALSE(frame.statusBar()->isVisible());
    EXPECT_FALSE(frame.Action(cmd::kViewStatusBar)->isChecked());
    EXPECT_TRUE(frame.Trigger(cmd::kViewStatusBar));
    EXPECT_TRUE(frame.statusBar()->isVisible());

    EXPECT_TRUE(frame.Trigger(cmd::kViewServerActivity));
    EXPECT_EQ(frame.ActivityWindows().Count(), 1u);

    EXPECT_TRUE(frame.Trigger(cmd::kAppAbout));
    auto* about = frame.findChild<CAboutDlg*>();
    ASSERT_NE(about, nullptr);
    EXPECT_TRUE(about->isVisible());
    EXPECT_EQ(about->windowModality(), Qt::ApplicationModal);
    about->OkButton()->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return frame.findChild<CAboutDlg*>() == nullptr; }, 2000));

    QSignalSpy closed(&frame, &CMainFrame::Closed);
    EXPECT_TRUE(frame.Trigger(cmd::kAppExit));
    EXPECT_TRUE(frame.isVisible()); // the close comes from the event loop
    EXPECT_TRUE(QTest::qWaitFor([&] { return !frame.isVisible(); }, 2000));
    EXPECT_EQ(closed.count(), 1);
    EXPECT_TRUE(prompt.records.empty()); // nothing was modified
}

TEST_F(MainFrameTest, AcceleratorsReachTheFrameFromAnotherWindow)
{
    RecordingFrame& frame = Frame();
    frame.show();
    FakeActivityWindow* activityWindow = ShowActivity(1);
    QWidget* other = activityWindow->Window();
    other->show();
    other->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(other));

    QTest::keyClick(other, Qt::Key_S, Qt::ControlModifier);
    QTest::keyClick(other, Qt::Key_N, Qt::ControlModifier);
    EXPECT_EQ(frame.calls, (std::vector<std::string>{"save", "new"}));
}

TEST_F(MainFrameTest, FrameKeepsItsMinimumSize)
{
    RecordingFrame& frame = Frame();
    EXPECT_EQ(frame.minimumSize(), QSize(350, 340));
    frame.resize(100, 100);
    EXPECT_GE(frame.width(), 350);
    EXPECT_GE(frame.height(), 340);
    frame.resize(CMainFrame::kStartWidth, CMainFrame::kStartHeight);
    EXPECT_EQ(frame.size(), QSize(500, 340));
    EXPECT_EQ(frame.DetailsPane()->height(), 123);
}

TEST_F(MainFrameTest, ServiceLineSurvivesMenuPromptsAndIsUpdatedByTheTimer)
{
    RecordingFrame& frame = Frame();
    frame.show();
    frame.SetServiceStatusText("Service Status: Running");
    frame.statusBar()->showMessage("Create a new Virtual Server");
    EXPECT_EQ(frame.ServiceStatusText(), QString("Service Status: Running"));
    EXPECT_TRUE(frame.findChild<QLabel*>("ServiceStatus")->isVisible());
    EXPECT_TRUE(QTest::qWaitFor([&] { return frame.statusUpdates >= 2; }, 3000));
}

TEST_F(MainFrameTest, ShowActivityRaisesAnOpenWindowAndReplacesAClosedOne)
{
    RecordingFrame& frame = Frame();
    frame.show();
    FakeActivityWindow* first = ShowActivity(1);
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->Window()->isVisible());
    EXPECT_EQ(first->Window()->windowTitle(), QString("Server Activity - Alpha"));
    EXPECT_EQ(first->Window()->size(), frame.size());

    EXPECT_EQ(ShowActivity(1), first); // brought to the front, not made again
    EXPECT_EQ(frame.ActivityWindows().Count(), 1u);

    first->Close(); // the user closed it
    first->ended = true;
    // The first is freed by now, so its address may well come back.
    FakeActivityWindow* second = ShowActivity(1);
    EXPECT_EQ(made, 2);
    EXPECT_TRUE(second->IsWindowOpen());
    EXPECT_EQ(frame.ActivityWindows().Count(), 1u);

    ShowActivity(2);
    EXPECT_EQ(frame.ActivityWindows().Count(), 2u);
}

TEST_F(MainFrameTest, ActivationOfARowShowsItsActivity)
{
    RecordingFrame& frame = Frame();
    frame.show();
    frame.SelectServerItem(2);
    emit frame.IconView()->activated(frame.IconView()->model()->index(2, 0));
    ASSERT_EQ(activity.count(35002), 1u);
    EXPECT_EQ(activity[35002]->Window()->windowTitle(), QString("Server Activity - Beta"));
}

TEST_F(MainFrameTest, SavedEditsMarkModifiedKeepTheRowAndRetitleActivityWindows)
{
    RecordingFrame& frame = Frame();
    frame.show();
    FakeActivityWindow* alpha = ShowActivity(1);
    alpha->SetTitle("stale");
    frame.SelectServerItem(2);
    frame.OnServerEdited();
    EXPECT_TRUE(frame.Configuration().IsModified());
    EXPECT_EQ(frame.windowTitle(), QString("Wardlake 7 (Modified)"));
    EXPECT_EQ(frame.SelectedRow(), 2);
    EXPECT_EQ(alpha->Window()->windowTitle(), QString("Server Activity - Alpha"));
}

TEST_F(MainFrameTest, MinimiseHidesActivityWindowsAndRestoreShowsThem)
{
    RecordingFrame& frame = Frame();
    frame.show();
    FakeActivityWindow* alpha = ShowActivity(1);
    FakeActivityWindow* beta = ShowActivity(2);
    beta->Close(); // a closed window stays closed
    frame.setWindowState(Qt::WindowMinimized);
    EXPECT_FALSE(alpha->Window()->isVisible());
    frame.setWindowState(Qt::WindowNoState);
    EXPECT_TRUE(alpha->Window()->isVisible());
    EXPECT_FALSE(beta->Window()->isVisible());

    frame.setWindowState(Qt::WindowMaximized);
    frame.setWindowState(Qt::WindowMinimized);
    EXPECT_FALSE(alpha->Window()->isVisible());
    frame.setWindowState(Qt::WindowMaximized); // restored to maximised
    EXPECT_TRUE(alpha->Window()->isVisible());
}

TEST_F(MainFrameTest, ClosingUnmodifiedAsksNothing)
{
    RecordingFrame& frame = Frame();
    frame.show();
    FakeActivityWindow* alpha = ShowActivity(1);
    EXPECT_TRUE(frame.close());
    EXPECT_TRUE(prompt.records.empty());
    EXPECT_TRUE(frame.calls.empty());
    EXPECT_EQ(alpha->closeCalls, 1);
    EXPECT_EQ(frame.ActivityWindows().Count(), 0u);
}

TEST_F(MainFrameTest, CancelAtTheClosePromptKeepsFrameAndActivityWindows)
{
    RecordingFrame& frame = Frame();
    frame.show();
    FakeActivityWindow* alpha = ShowActivity(1);
    frame.SetModified();
    prompt.answers.push_back(PromptAnswer::Cancel);
    EXPECT_FALSE(frame.close());
    EXPECT_TRUE(frame.isVisible());
    ASSERT_EQ(prompt.records.size(), 1u);
    EXPECT_EQ(prompt.records[0].text, "Would you like to save your changes before closing?");
    EXPECT_EQ(prompt.records[0].caption, "Wardlake 7");
    EXPECT_EQ(prompt.records[0].buttons, PromptButtons::YesNoCancel);
    EXPECT_EQ(prompt.records[0].icon, PromptIcon::Question);
    EXPECT_TRUE(frame.calls.empty());
    EXPECT_TRUE(alpha->IsWindowOpen());
    EXPECT_EQ(alpha->closeCalls, 0);
    EXPECT_EQ(frame.ActivityWindows().Count(), 1u);
}

TEST_F(MainFrameTest, NoAtTheClosePromptClosesWithoutSaving)
{
    RecordingFrame& frame = Frame();
    frame.show();
    FakeActivityWindow* alpha = ShowActivity(1);
    frame.SetModified();
    prompt.answers.push_back(PromptAnswer::No);
    QSignalSpy closed(&frame, &CMainFrame::Closed);
    EXPECT_TRUE(frame.close());
    EXPECT_TRUE(frame.calls.empty());
    EXPECT_EQ(alpha->closeCalls, 1);
    EXPECT_EQ(closed.count(), 1);
}

TEST_F(MainFrameTest, YesAtTheClosePromptSavesThenCloses)
{
    RecordingFrame& frame = Frame();
    frame.show();
    frame.SetModified();
    prompt.answers.push_back(PromptAnswer::Yes);
    EXPECT_TRUE(frame.close());
    EXPECT_EQ(frame.calls, std::vector<std::string>{"save"});
    EXPECT_FALSE(frame.isVisible());
}

TEST_F(MainFrameTest, MenuPromptShowsWhileAnItemIsHighlightedAndGoesWithTheMenu)
{
    RecordingFrame& frame = Frame();
    frame.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame));
    frame.SetServiceStatusText("Service Status: Stopped");
    QMenu* file = frame.menuBar()->actions().first()->menu();
    frame.menuBar()->setActiveAction(frame.menuBar()->actions().first());
    ASSERT_TRUE(QTest::qWaitFor([&] { return file->isVisible(); }, 2000));
    file->setActiveAction(frame.Action(cmd::kFileNew));
    EXPECT_EQ(frame.statusBar()->currentMessage(), QString("Create a new Virtual Server"));
    file->setActiveAction(frame.Action(cmd::kFileSave)); // no prompt of its own
    EXPECT_TRUE(frame.statusBar()->currentMessage().isEmpty());
    file->setActiveAction(frame.Action(cmd::kFileNew));
    file->hide();
    EXPECT_TRUE(QTest::qWaitFor([&] { return frame.statusBar()->currentMessage().isEmpty(); }, 2000));
    EXPECT_EQ(frame.ServiceStatusText(), QString("Service Status: Stopped"));
}
