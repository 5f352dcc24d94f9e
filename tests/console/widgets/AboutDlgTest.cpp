#include "console/widgets/AboutDlg.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTest>

// Only OK ends the box: Enter presses it, Escape and the close button do nothing.
TEST(AboutDlg, EnterClosesThroughOkButEscapeAndCloseBoxDoNot)
{
    CAboutDlg about;
    about.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&about));
    EXPECT_EQ(about.windowTitle(), QString(CAboutDlg::kCaption));
    EXPECT_TRUE(about.TitleLine()->font().bold());
    EXPECT_TRUE(about.OkButton()->isDefault());

    QTest::keyClick(&about, Qt::Key_Escape);
    EXPECT_TRUE(about.isVisible());
    about.close();
    EXPECT_TRUE(about.isVisible());

    QTest::keyClick(about.focusWidget() ? about.focusWidget() : &about, Qt::Key_Return);
    EXPECT_FALSE(about.isVisible());
    EXPECT_EQ(about.result(), QDialog::Accepted);
}
