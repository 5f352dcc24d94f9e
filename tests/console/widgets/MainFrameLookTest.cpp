// The main window with its flat command bar, and its update check.
#include "console/widgets/MainFrame.h"

#include "console/core/CommandIds.h"
#include "console/core/UpdateCheck.h"
#include "console/widgets/CommandBarXPCtrl.h"
#include "console/widgets/CommandBarXPStyle.h"
#include "tests/console/widgets/RecordingPrompt.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMenu>
#include <QToolBar>

#include <cstdlib>

namespace {

class MainFrameLookTest : public tqtest::StateRootTest {
protected:
    void SetUp() override
    {
        StateRootTest::SetUp();
        if (const char* v = std::getenv(kUpdateHostVariable))
            oldHost_ = v;
        ::setenv(kUpdateHostVariable, server.Host().c_str(), 1);
        frame = std::make_unique<CMainFrame>(prompt);
    }
    void TearDown() override
    {
        frame.reset();
        if (oldHost_.empty())
            ::unsetenv(kUpdateHostVariable);
        else
            ::setenv(kUpdateHostVariable, oldHost_.c_str(), 1);
        StateRootTest::TearDown();
    }

    LoopbackHttpServer server;
    RecordingPrompt prompt;
    std::unique_ptr<CMainFrame> frame;

private:
    std::string oldHost_;
};

TEST_F(MainFrameLookTest, MenusAndToolbarWearTheFlatLook)
{
    CCommandBarXPCtrl* bar = frame->CommandBar();
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(frame->menuBar(), bar);
    ASSERT_EQ(bar->actions().size(), 4);
    for (QAction* top : bar->actions()) {
        ASSERT_NE(top->menu(), nullptr);
        EXPECT_EQ(top->menu()->style(), bar->Style()) << top->text().toStdString();
    }
    QWidget* button = frame->OptionsToolBar()->widgetForAction(frame->Action(cmd::kViewServerActivity));
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->style(), bar->Style());
}

TEST_F(MainFrameLookTest, CommandRunsTheUpdateCheck)
{
    server.Serve(kBuildListPath, 200,
                 "<Builds><Product Name=\"Wardlake\" Version=\"6.5\" Build=\"1411\" "
                 "DownloadURL=\"http://downloads.example.org/\"/></Builds>");
    ASSERT_TRUE(frame->Trigger(cmd::kCheckForUpdates));
    ASSERT_EQ(prompt.records.size(), 2u);
    EXPECT_EQ(prompt.records[0].text, kUpdateAvailable);
    EXPECT_EQ(prompt.records[1].kind, "url");
    EXPECT_EQ(prompt.records[1].text, "http://downloads.example.org/");
    // The wait cursor is gone once the answer is in.
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(server.Requests(), 1);
}

TEST_F(MainFrameLookTest, UpdateCheckFailureRestoresTheCursor)
{
    server.Serve(kBuildListPath, 404, "gone");
    ASSERT_TRUE(frame->Trigger(cmd::kCheckForUpdates));
    ASSERT_EQ(prompt.records.size(), 1u);
    EXPECT_EQ(prompt.records[0].text, kUpdateOpenFailed);
    EXPECT_EQ(prompt.records[0].caption, "Wardlake 7");
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

} // namespace
