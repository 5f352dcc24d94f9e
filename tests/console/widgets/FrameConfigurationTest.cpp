// The main window's configuration and service commands, over a service that
// only answers as the test says.

#include "console/core/CommandIds.h"
#include "console/widgets/MainFrame.h"
#include "console/widgets/ServerDetailsWnd.h"
#include "tests/console/core/ConsoleRegistry.h"
#include "tests/console/core/FakeServiceController.h"
#include "tests/console/widgets/FakeActivityWindow.h"
#include "tests/console/widgets/RecordingPrompt.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QApplication>
#include <QTest>
#include <QTimer>

#include <filesystem>

using consoletest::FakeServiceController;
namespace fs = std::filesystem;

namespace {

class FrameConfigurationTest : public tqtest::StateRootTest {
protected:
    void SetUp() override
    {
        StateRootTest::SetUp();
        for (const char* folder : {"/storage", "/Alpha", "/Beta"})
            fs::create_directories(Root() + folder);
        consoletest::SetMainText("Path", Root());
        consoletest::SetMainText("StorageFolder", Root() + "/storage/");
        consoletest::StoreServer("Alpha", 35001, Root() + "/Alpha/");
        consoletest::StoreServer("Beta", 35002, Root() + "/Beta/");
        service.query = {ServiceQuery::Outcome::State, SERVICE_RUNNING};
        frame = std::make_unique<CMainFrame>(prompt);
        frame->SetServiceController(service);
        frame->SetActivityWindowFactory([this](DWORD port) {
            auto window = std::make_unique<FakeActivityWindow>();
            activity[port] = window.get();
            return window;
        });
        frame->show();
    }
    void TearDown() override
    {
        FakeActivityWindow::EndAll();
        frame.reset();
        StateRootTest::TearDown();
    }
    std::string Title() const { return frame->windowTitle().toStdString(); }
    std::string Selected() const { return frame->SelectedServer() ? frame->SelectedServer()->Name() : "<none>"; }
    std::string Shown() const { return frame->DetailsPane()->NameEdit()->text().toStdString(); }

    RecordingPrompt prompt;
    FakeServiceController service;
    std::map<DWORD, FakeActivityWindow*> activity;
    std::unique_ptr<CMainFrame> frame;
};

} // namespace

TEST_F(FrameConfigurationTest, NewServerShowsTheNewRowBeforeTheNotice)
{
    ASSERT_EQ(frame->RowCount(), 3);
    EXPECT_EQ(Shown(), "Default");
    EXPECT_FALSE(frame->DetailsPane()->SaveButton()->isEnabled());
    prompt.onRecord = [this](const PromptRecord&) {
        EXPECT_EQ(frame->RowCount(), 4);
        EXPECT_EQ(Selected(), "Virtual Server 35003");
    };
    ASSERT_TRUE(frame->Trigger(cmd::kFileNew));
    prompt.onRecord = nullptr;
    ASSERT_EQ(prompt.records.size(), 1u);
    EXPECT_EQ(prompt.records[0].kind, "notice");
    EXPECT_EQ(Shown(), "Virtual Server 35003");
    EXPECT_EQ(frame->DetailsPane()->FolderDisplay()->text().toStdString(), Root() + "/Virtual Server 35003/");
    EXPECT_EQ(Title(), "Wardlake 7 (Modified)");
    ASSERT_TRUE(frame->Trigger(cmd::kNewServer));
    EXPECT_EQ(Selected(), "Virtual Server 35004");
}

TEST_F(FrameConfigurationTest, DeleteSelectsTheRowThatTookThePlace)
{
    frame->SelectServerItem(0);
    frame->Trigger(cmd::kDeleteServer);
    EXPECT_EQ(frame->RowCount(), 3);
    EXPECT_EQ(Title(), "Wardlake 7");
    frame->SelectServerItem(1);
    frame->Trigger(cmd::kDeleteServer);
    EXPECT_EQ(Selected(), "Beta");
    EXPECT_EQ(Shown(), "Beta");
    frame->Trigger(cmd::kDeleteServer);
    EXPECT_EQ(Selected(), "Default");
    EXPECT_EQ(frame->RowCount(), 1);
    EXPECT_EQ(Title(), "Wardlake 7 (Modified)");
}

TEST_F(FrameConfigurationTest, AnEditInThePaneReachesTheListAndTheActivityTitle)
{
    frame->SelectServerItem(1);
    frame->Trigger(cmd::kViewServerActivity);
    ASSERT_TRUE(activity[35001]);
    frame->DetailsPane()->NameEdit()->setText("Renamed");
    frame->DetailsPane()->OnSave();
    EXPECT_EQ(Selected(), "Renamed");
    EXPECT_EQ(Shown(), "Renamed");
    EXPECT_EQ(frame->SelectedServer()->StorageFolder(), Root() + "/Renamed/");
    EXPECT_EQ(activity[35001]->Window()->windowTitle(), "Server Activity - Renamed");
    // A tool window as large as the frame from edge to edge.
    EXPECT_TRUE(activity[35001]->Window()->windowFlags().testFlag(Qt::Tool));
    EXPECT_EQ(activity[35001]->Window()->frameGeometry().size(), frame->frameGeometry().size());
    EXPECT_EQ(Title(), "Wardlake 7 (Modified)");
}

TEST_F(FrameConfigurationTest, SaveStopsWritesAndStartsAndClosesWindowsOfGonePorts)
{
    frame->SelectServerItem(1);
    frame->Trigger(cmd::kViewServerActivity);
    frame->SelectServerItem(2);
    frame->Trigger(cmd::kViewServerActivity);
    frame->SelectServerItem(1);
    frame->Trigger(cmd::kDeleteServer);
    ASSERT_TRUE(frame->Trigger(cmd::kFileSave));
    EXPECT_EQ(service.log, (std::vector<std::string>{"stop", "start"}));
    EXPECT_EQ(frame->ServiceStatusText(), "Starting service...");
    EXPECT_EQ(Title(), "Wardlake 7");
    EXPECT_EQ(activity[35001]->closeCalls, 1);
    EXPECT_EQ(activity[35002]->closeCalls, 0);
    EXPECT_FALSE(consoletest::StoredPort("Alpha"));
    EXPECT_EQ(consoletest::StoredPort("Beta"), 35002u);
    EXPECT_TRUE(fs::exists(Root() + "/Beta/"));
    // The timer runs again and puts the state back.
    EXPECT_TRUE(QTest::qWaitFor([this] { return frame->ServiceStatusText() == "Service Status: Running"; }, 3000));
}

TEST_F(FrameConfigurationTest, ARefusedSaveKeepsTheWindowOpenAtClose)
{
    frame->SelectServerItem(2);
    frame->DetailsPane()->PortEdit()->setText("35001");
    frame->DetailsPane()->OnSave();
    prompt.answers.push_back(PromptAnswer::Yes);
    EXPECT_FALSE(frame->close());
    EXPECT_TRUE(service.log.empty());
    ASSERT_EQ(prompt.records.size(), 2u);
    EXPECT_EQ(prompt.records[1].text, "Port 35001 is given to both \"Alpha\" and \"Beta\". The configuration was not "
                                      "saved.");
    EXPECT_TRUE(frame->isVisible());
    EXPECT_EQ(Title(), "Wardlake 7 (Modified)");
}

TEST_F(FrameConfigurationTest, ServiceCommandsAndTheStatusLine)
{
    service.query = {ServiceQuery::Outcome::State, SERVICE_STOPPED};
    EXPECT_TRUE(QTest::qWaitFor([this] { return frame->ServiceStatusText() == "Service Status: Stopped"; }, 3000));
    service.stopError = ERROR_SERVICE_NOT_ACTIVE;
    frame->Trigger(cmd::kServiceStop);
    ASSERT_EQ(prompt.records.size(), 1u);
    EXPECT_EQ(prompt.records[0].text, "Error stopping service: The service has not been started.");
    EXPECT_EQ(prompt.records[0].icon, PromptIcon::Error);
    frame->Trigger(cmd::kServiceStart);
    EXPECT_EQ(prompt.records.size(), 1u);
    EXPECT_EQ(service.log, (std::vector<std::string>{"stop", "start"}));
    EXPECT_TRUE(QTest::qWaitFor([this] { return frame->ServiceStatusText() == "Service Status: Running"; }, 3000));
}

TEST_F(FrameConfigurationTest, TheWindowAnswersButIgnoresCommandsWhileTheServiceStops)
{
    service.stopLeaves = SERVICE_STOP_PENDING;
    int polls = 0;
    service.onQuery = [&](FakeServiceController& s) {
        if (s.query.state == SERVICE_STOP_PENDING && ++polls == 4)
            s.query.state = SERVICE_STOPPED;
    };
    service.startError = ERROR_SERVICE_REQUEST_TIMEOUT;
    bool ranDuringWait = false;
    QTimer::singleShot(150, frame.get(), [&] {
        ranDuringWait = frame->IsSaving();
        EXPECT_EQ(frame->ServiceStatusText(), "Saving configuration...");
        EXPECT_FALSE(frame->DetailsPane()->isEnabled());
        frame->Trigger(cmd::kFileNew);
        frame->Trigger(cmd::kFileSave);
        EXPECT_FALSE(frame->close());
    });
    prompt.onRecord = [](const PromptRecord&) {
        ASSERT_NE(QApplication::overrideCursor(), nullptr);
        EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::ArrowCursor);
    };
    ASSERT_TRUE(frame->Trigger(cmd::kFileSave));
    EXPECT_TRUE(ranDuringWait);
    EXPECT_EQ(frame->RowCount(), 3);
    EXPECT_EQ(service.log, (std::vector<std::string>{"stop", "start"}));
    ASSERT_EQ(prompt.records.size(), 1u);
    EXPECT_EQ(prompt.records[0].text.rfind("Error starting service: ", 0), 0u);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(frame->DetailsPane()->isEnabled());
    EXPECT_TRUE(frame->isVisible());
}
