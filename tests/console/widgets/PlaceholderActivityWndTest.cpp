#include "console/widgets/PlaceholderActivityWnd.h"

#include <gtest/gtest.h>

#include <QTest>

// Closing the window by any road marks it closed; hiding it does not. It has
// no threads, so it may be deleted at once.
TEST(PlaceholderActivityWnd, KnowsWhenItsWindowWasClosed)
{
    CPlaceholderActivityWnd byUser(34347);
    EXPECT_TRUE(byUser.HasEnded());
    byUser.SetTitle("Server Activity - Default");
    EXPECT_EQ(byUser.Window()->windowTitle(), QString("Server Activity - Default"));
    byUser.Window()->show();
    byUser.Window()->hide();
    EXPECT_TRUE(byUser.IsWindowOpen());
    byUser.Window()->show();
    byUser.Window()->close(); // the close box
    EXPECT_FALSE(byUser.IsWindowOpen());

    CPlaceholderActivityWnd byOwner(35001);
    byOwner.Window()->show();
    byOwner.Close();
    EXPECT_FALSE(byOwner.IsWindowOpen());
    EXPECT_FALSE(byOwner.Window()->isVisible());
}
