#include "console/widgets/ServerDetailsWnd.h"

#include "console/core/VirtualServer.h"
#include "tests/console/core/ConsoleRegistry.h"
#include "tests/console/widgets/RecordingPrompt.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <filesystem>

namespace {

class ServerDetailsWndTest : public tqtest::StateRootTest {
protected:
    void SetUp() override
    {
        StateRootTest::SetUp();
        consoletest::SetMainText("Path", Root() + "/install");
        pane_ = std::make_unique<CServerDetailsWnd>(prompt_);
        pane_->resize(600, CServerDetailsWnd::kHeight);
        pane_->show();
        pane_->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(pane_.get()));
        ASSERT_EQ(pane_->ShowServer(&server_), S_OK);
    }
    void TearDown() override
    {
        pane_.reset();
        StateRootTest::TearDown();
    }
    // Types a port and saves; true when the record took it.
    bool SaveWithPort(const char* text)
    {
        prompt_.records.clear();
        pane_->PortEdit()->setText(QString::fromLatin1(text));
        QSignalSpy spy(pane_.get(), &CServerDetailsWnd::saved);
        pane_->OnSave();
        const bool taken = spy.count() == 1;
        EXPECT_EQ(prompt_.records.empty(), taken) << text;
        return taken;
    }

    RecordingPrompt prompt_;
    CVirtualServer server_{"Lists", "/srv/lists/", "about", 35001, false};
    CVirtualServer default_{"Default", "/srv/default/", "Default server. Cannot be modified or deleted.", 34347, true};
    std::unique_ptr<CServerDetailsWnd> pane_;
};

} // namespace

TEST_F(ServerDetailsWndTest, ShowsTheRecordWithTheButtonsHidden)
{
    EXPECT_EQ(pane_->NameEdit()->text(), "Lists");
    EXPECT_EQ(pane_->DescriptionEdit()->text(), "about");
    EXPECT_EQ(pane_->FolderDisplay()->text(), "/srv/lists/");
    EXPECT_EQ(pane_->PortEdit()->text(), "35001");
    EXPECT_FALSE(pane_->SaveButton()->isVisible());
    EXPECT_FALSE(pane_->CancelButton()->isVisible());
    EXPECT_FALSE(pane_->NameEdit()->hasFrame());
    EXPECT_EQ(pane_->NameEdit()->geometry(), QRect(110, 30, 480, 17));
    EXPECT_EQ(pane_->PortEdit()->geometry(), QRect(110, 96, 310, 17));
    EXPECT_EQ(pane_->SaveButton()->geometry(), QRect(430, 96, 75, 17));
    EXPECT_EQ(pane_->CancelButton()->geometry(), QRect(515, 96, 75, 17));
    EXPECT_EQ(pane_->ShowServer(nullptr), E_INVALIDARG);
    EXPECT_EQ(pane_->Server(), &server_);
}

TEST_F(ServerDetailsWndTest, PortsOutsideTheRangeAreRefusedWithTheMessage)
{
    for (const char* text : {"1023", "65536", "0", "-5", "abc", "99999999999999999999"}) {
        EXPECT_FALSE(SaveWithPort(text));
        ASSERT_EQ(prompt_.records.size(), 1u);
        EXPECT_EQ(prompt_.records[0].text, "The port number should be greater than 1023 and less than 65536.");
        EXPECT_EQ(prompt_.records[0].caption, "Wardlake 7 Settings");
        EXPECT_EQ(prompt_.records[0].icon, PromptIcon::Error);
        EXPECT_EQ(server_.Port(), 35001u);
    }
    EXPECT_TRUE(SaveWithPort("1024"));
    EXPECT_EQ(server_.Port(), 1024u);
    EXPECT_TRUE(SaveWithPort("65535"));
    EXPECT_EQ(server_.Port(), 65535u);
    EXPECT_TRUE(SaveWithPort("2000xyz"));
    EXPECT_EQ(server_.Port(), 2000u);
}

TEST_F(ServerDetailsWndTest, TheFolderFollowsTheNameAndSaveCopiesEverything)
{
    pane_->NameEdit()->setFocus();
    QTest::keyClicks(pane_->NameEdit(), "X");
    EXPECT_EQ(pane_->FolderDisplay()->text(), (Root() + "/install/ListsX/").c_str());
    pane_->DescriptionEdit()->setText("new text");
    QSignalSpy spy(pane_.get(), &CServerDetailsWnd::saved);
    QTest::mouseClick(pane_->SaveButton(), Qt::LeftButton);
    EXPECT_EQ(spy.count(), 1);
    EXPECT_EQ(server_.Name(), "ListsX");
    EXPECT_EQ(server_.Description(), "new text");
    EXPECT_EQ(server_.StorageFolder(), Root() + "/install/ListsX/");
    EXPECT_FALSE(pane_->SaveButton()->isVisible());
}

TEST_F(ServerDetailsWndTest, CancelPutsTheRecordBack)
{
    pane_->NameEdit()->setFocus();
    EXPECT_TRUE(pane_->SaveButton()->isVisible());
    pane_->NameEdit()->setText("Other");
    pane_->PortEdit()->setText("4000");
    EXPECT_NE(pane_->FolderDisplay()->text(), "/srv/lists/");
    QTest::mouseClick(pane_->CancelButton(), Qt::LeftButton);
    EXPECT_EQ(pane_->NameEdit()->text(), "Lists");
    EXPECT_EQ(pane_->PortEdit()->text(), "35001");
    EXPECT_EQ(pane_->FolderDisplay()->text(), "/srv/lists/");
    EXPECT_FALSE(pane_->SaveButton()->isVisible());
    EXPECT_FALSE(pane_->CancelButton()->isVisible());
    EXPECT_EQ(server_.Name(), "Lists");
    // The edit kept the focus: typing in it again brings the buttons back.
    ASSERT_TRUE(pane_->NameEdit()->hasFocus());
    QTest::keyClick(pane_->NameEdit(), Qt::Key_X);
    EXPECT_TRUE(pane_->SaveButton()->isVisible());
    EXPECT_TRUE(pane_->CancelButton()->isVisible());
}

TEST_F(ServerDetailsWndTest, FocusShowsTheButtonsAndTheDefaultCannotBeSaved)
{
    pane_->ShowServer(&default_);
    EXPECT_FALSE(pane_->SaveButton()->isEnabled());
    pane_->PortEdit()->setFocus();
    EXPECT_TRUE(pane_->SaveButton()->isVisible());
    EXPECT_TRUE(pane_->CancelButton()->isVisible());
    EXPECT_TRUE(pane_->CancelButton()->isEnabled());
    pane_->DescriptionEdit()->setFocus();
    EXPECT_TRUE(pane_->SaveButton()->isVisible());

    pane_->NameEdit()->setText("Changed");
    QSignalSpy spy(pane_.get(), &CServerDetailsWnd::saved);
    pane_->OnSave();
    EXPECT_EQ(spy.count(), 0);
    ASSERT_EQ(prompt_.records.size(), 1u);
    EXPECT_EQ(prompt_.records[0].text, "This Virtual Server cannot be modified");
    EXPECT_EQ(default_.Name(), "Default");
    // A refused save keeps the buttons.
    EXPECT_TRUE(pane_->CancelButton()->isVisible());
}

TEST_F(ServerDetailsWndTest, UsesArialOrAFaceWithItsMetrics)
{
    QFontInfo info(pane_->NameEdit()->font());
    EXPECT_TRUE(info.family() == "Arial" || info.family() == "Liberation Sans") << info.family().toStdString();
    EXPECT_EQ(pane_->NameEdit()->font().pointSize(), 9);
}
