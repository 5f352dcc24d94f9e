#include "console/widgets/QtPrompt.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QSettings>

// A notice the user asked not to see again answers at once, without a box
// (a box would block this test).
TEST(QtPrompt, RememberedNoticeIsNotShownAgain)
{
    QCoreApplication::setOrganizationName("tq-test");
    QSettings("Tessary Quorle", "WLStatus").setValue("DontShowAgain/test-key", true);
    CQtPrompt prompt;
    EXPECT_EQ(prompt.NoticeWithCheck("text", "caption", PromptIcon::Information, "test-key"), PromptAnswer::Ok);
    QSettings("Tessary Quorle", "WLStatus").remove("DontShowAgain/test-key");
}
