// The main window's service and configuration commands against the real
// server program, installed as a service in the test's own state root.

#include "common/Names.h"
#include "console/core/CommandIds.h"
#include "console/widgets/MainFrame.h"
#include "console/widgets/ServerDetailsWnd.h"
#include "tests/console/service/InstalledService.h"
#include "tests/console/widgets/RecordingPrompt.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <filesystem>
#include <memory>

using consoletest::InstalledServiceTest;
namespace fs = std::filesystem;

namespace {

class FrameServiceTest : public InstalledServiceTest {
protected:
    void TearDown() override
    {
        frame_.reset();
        InstalledServiceTest::TearDown();
    }
    // A console started now (it reads the registry as it stands).
    CMainFrame& StartConsole()
    {
        frame_ = std::make_unique<CMainFrame>(prompt_);
        frame_->show();
        frame_->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(frame_.get()));
        return *frame_;
    }
    // Waits, with the window's timer running, for the status line.
    bool StatusBecomes(const std::string& text, int timeoutMs = 20000)
    {
        const QString line = QString::fromStdString("Service Status: " + text);
        return QTest::qWaitFor([&] { return frame_->ServiceStatusText() == line; }, timeoutMs);
    }
    bool Answers(int port)
    {
        return QTest::qWaitFor([port] { return GetVersion(port) == 5; }, 20000);
    }

    RecordingPrompt prompt_;
    std::unique_ptr<CMainFrame> frame_;
};

bool HasUser(int port, const char* name)
{
    CInvokeData request(2019), reply;
    if (InstalledServiceTest::Invoke(port, request, reply) != 0)
        return false;
    BYTE* data = nullptr;
    DWORD length = 0;
    if (reply.PopOutBytes(&data, &length) < 0 || data == nullptr)
        return false;
    std::string flat(reinterpret_cast<const char*>(data), length);
    delete[] data;
    return flat.find(name) != std::string::npos;
}

} // namespace

TEST_F(FrameServiceTest, StatusLineFollowsTheServiceThroughStartAndStop)
{
    StartConsole();
    EXPECT_TRUE(StatusBecomes("Service Not Installed", 3000));
    Install();
    ASSERT_TRUE(StatusBecomes("Stopped", 3000));

    ASSERT_TRUE(frame_->Trigger(cmd::kServiceStop));
    ASSERT_EQ(prompt_.records.size(), 1u);
    EXPECT_EQ(prompt_.records[0].text, "Error stopping service: The service has not been started.");
    EXPECT_EQ(prompt_.records[0].caption, "Wardlake 7");
    EXPECT_EQ(prompt_.records[0].icon, PromptIcon::Error);
    EXPECT_EQ(frame_->ServiceStatusText(), "Stopping service...");
    EXPECT_TRUE(StatusBecomes("Stopped", 3000));
    QTest::qWait(600);
    EXPECT_EQ(frame_->ServiceStatusText(), "Service Status: Stopped");

    prompt_.records.clear();
    ASSERT_TRUE(frame_->Trigger(cmd::kServiceStart));
    EXPECT_TRUE(prompt_.records.empty());
    EXPECT_TRUE(StatusBecomes("Running"));
    EXPECT_TRUE(Answers(tq::kDefaultPort));

    ASSERT_TRUE(frame_->Trigger(cmd::kServiceStop));
    EXPECT_TRUE(prompt_.records.empty());
    EXPECT_TRUE(StatusBecomes("Stopped"));
}

TEST_F(FrameServiceTest, SaveConfigurationRestartsTheServiceWithNewAndRenamedServers)
{
    Install();
    CMainFrame& frame = StartConsole();
    ASSERT_TRUE(frame.Trigger(cmd::kServiceStart));
    ASSERT_TRUE(StatusBecomes("Running"));

    ASSERT_TRUE(frame.Trigger(cmd::kFileNew));
    ASSERT_EQ(frame.SelectedServer()->Name(), "Virtual Server 35001");
    EXPECT_EQ(frame.SelectedServer()->StorageFolder(), Root() + "/Virtual Server 35001/");
    ASSERT_TRUE(frame.Trigger(cmd::kFileSave));
    EXPECT_EQ(prompt_.records.size(), 1u); // the New Server notice, nothing else
    EXPECT_EQ(frame.windowTitle(), "Wardlake 7");
    EXPECT_TRUE(StatusBecomes("Running"));
    EXPECT_TRUE(Answers(35001));
    EXPECT_TRUE(Answers(tq::kDefaultPort));
    EXPECT_TRUE(fs::exists(Root() + "/Virtual Server 35001/userlist.fdb"));

    // A user on the new server, then a rename of the server in the details pane.
    CInvokeData create(2004), created;
    create.PushInString("alice");
    ASSERT_EQ(Invoke(35001, create, created), 0);
    ASSERT_TRUE(HasUser(35001, "alice"));
    frame.SelectServerItem(1);
    CServerDetailsWnd& pane = *frame.DetailsPane();
    pane.NameEdit()->setFocus();
    ASSERT_TRUE(pane.SaveButton()->isVisible());
    pane.NameEdit()->setText("Branch Office");
    QTest::mouseClick(pane.SaveButton(), Qt::LeftButton);
    ASSERT_EQ(frame.SelectedServer()->Name(), "Branch Office");
    EXPECT_EQ(frame.windowTitle(), "Wardlake 7 (Modified)");

    ASSERT_TRUE(frame.Trigger(cmd::kFileSave));
    EXPECT_EQ(prompt_.records.size(), 1u);
    EXPECT_FALSE(fs::exists(Root() + "/Virtual Server 35001"));
    EXPECT_TRUE(fs::exists(Root() + "/Branch Office/userlist.fdb"));
    EXPECT_TRUE(StatusBecomes("Running"));
    EXPECT_TRUE(Answers(35001));
    EXPECT_TRUE(HasUser(35001, "alice"));
    EXPECT_TRUE(Answers(tq::kDefaultPort));

    ASSERT_TRUE(frame.Trigger(cmd::kServiceStop));
    EXPECT_TRUE(StatusBecomes("Stopped"));
}
