#include "console/widgets/CommandBarXPCtrl.h"

#include "console/core/MenuItemMetrics.h"
#include "console/widgets/CommandBarXPStyle.h"
#include "console/widgets/FlatMenuWindow.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontInfo>
#include <QImage>
#include <QMainWindow>
#include <QMenu>
#include <QPainter>
#include <QStyleOptionMenuItem>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include <algorithm>
#include <memory>

namespace {

QColor Qt(XPRgb c)
{
    return QColor(c.r, c.g, c.b);
}

QIcon SolidIcon(const QColor& color)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(color);
    return QIcon(pixmap);
}

// A window with the bar and a File menu like the console's.
class CommandBarTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        window = std::make_unique<QMainWindow>();
        bar = new CCommandBarXPCtrl(window.get());
        window->setMenuBar(bar);
        file = bar->addMenu(QStringLiteral("&File"));
        newServer = file->addAction(SolidIcon(QColor(0, 128, 0)), QStringLiteral("&New Virtual Server\tCtrl+N"));
        separator = file->addSeparator();
        exit = file->addAction(QStringLiteral("E&xit"));
        view = bar->addMenu(QStringLiteral("&View"));
        icons = view->addAction(QStringLiteral("&Icons"));
        icons->setCheckable(true);
        icons->setChecked(true);
        more = view->addMenu(QStringLiteral("&More"));
        more->addAction(QStringLiteral("&Other"));
        window->resize(400, 300);
        window->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    void TearDown() override
    {
        file->hide();
        view->hide();
        more->hide();
        window.reset();
    }

    // Opens a menu of the bar as a click on its button would.
    void OpenFromBar(QMenu* menu)
    {
        bar->setActiveAction(menu->menuAction());
        ASSERT_TRUE(QTest::qWaitFor([menu] { return menu->isVisible(); }));
    }

    std::unique_ptr<QMainWindow> window;
    CCommandBarXPCtrl* bar = nullptr;
    QMenu* file = nullptr;
    QMenu* view = nullptr;
    QMenu* more = nullptr;
    QAction* newServer = nullptr;
    QAction* separator = nullptr;
    QAction* exit = nullptr;
    QAction* icons = nullptr;
};

TEST_F(CommandBarTest, ColourSetFollowsThePalette)
{
    QPalette p = bar->palette();
    p.setColor(QPalette::Highlight, QColor(200, 0, 0));
    p.setColor(QPalette::Base, QColor(255, 255, 255));
    bar->setPalette(p);
    EXPECT_EQ(Qt(bar->Colors().selectionBorder), QColor(200, 0, 0));
    EXPECT_EQ(Qt(bar->Colors().selectionFill), QColor(200 + 55 * 70 / 100, 178, 178));

}

TEST(CommandBar, ColourSetFollowsTheProgramsPalette)
{
    QWidget window;
    auto* bar = new CCommandBarXPCtrl(&window);
    QPalette old = QApplication::palette();
    QPalette green = old;
    green.setColor(QPalette::Highlight, QColor(0, 90, 0));
    QApplication::setPalette(green);
    // The program's palette reaches its widgets through the event loop.
    QTest::qWait(20);
    EXPECT_EQ(Qt(bar->Colors().selectionBorder), QColor(0, 90, 0));
    QApplication::setPalette(old);
    QTest::qWait(20);
    EXPECT_EQ(Qt(bar->Colors().selectionBorder), old.color(QPalette::Highlight));
}

TEST_F(CommandBarTest, MenuItemsAreMeasuredByTheRules)
{
    OpenFromBar(file);
    EXPECT_EQ(file->actionGeometry(separator).height(), kMenuSeparatorHeight);
    int fontHeight = QFontInfo(file->font()).pixelSize();
    EXPECT_EQ(file->actionGeometry(exit).height(), std::max(fontHeight + 10, 23));
    // Items fill the popup inside its three-pixel border.
    EXPECT_EQ(file->actionGeometry(exit).left(), 3);
    EXPECT_EQ(file->actionGeometry(exit).width(), file->width() - 6);

    // The default item is measured with a font 200 heavier.
    QStyleOptionMenuItem option;
    option.initFrom(file);
    option.font = file->font();
    option.text = QStringLiteral("Server Activity");
    option.menuItemType = QStyleOptionMenuItem::Normal;
    QSize contents(QFontMetrics(option.font).horizontalAdvance(option.text), 15);
    QSize normal = bar->Style()->sizeFromContents(QStyle::CT_MenuItem, &option, contents, file);
    option.menuItemType = QStyleOptionMenuItem::DefaultItem;
    QSize heavy = bar->Style()->sizeFromContents(QStyle::CT_MenuItem, &option, contents, file);
    QFont bold = option.font;
    bold.setWeight(static_cast<QFont::Weight>(HeavierFontWeight(option.font.weight())));
    EXPECT_EQ(heavy.width() - normal.width(),
              QFontMetrics(bold).horizontalAdvance(option.text) - contents.width());
    EXPECT_GT(heavy.width(), normal.width());
    EXPECT_EQ(normal.width(), contents.width() + 44 + 12 - 1);
}

// The rightmost pixel of a row of an image that differs from background.
int RightmostInk(const QImage& image, int y, int from, int to, const QColor& background)
{
    for (int x = to - 1; x >= from; --x)
        if (image.pixelColor(x, y) != background)
            return x;
    return -1;
}

TEST_F(CommandBarTest, ShortcutsAreRightAlignedAndSeparatorsIndented)
{
    OpenFromBar(file);
    QImage shot = file->grab().toImage();
    const XPColorSet& c = bar->Colors();
    QColor background = Qt(c.menuBackground);

    // Text area: after the icon column; text: 5 in, and one button cell short of the right edge.
    QRect withKey = file->actionGeometry(newServer);
    int textRight = withKey.right() + 1 - 22;
    int inkWithKey = -1;
    int inkPlain = -1;
    QRect plain = file->actionGeometry(exit);
    for (int dy = 0; dy < withKey.height(); ++dy) {
        inkWithKey = std::max(inkWithKey, RightmostInk(shot, withKey.top() + dy, withKey.left() + 23, withKey.right(),
                                                       background));
        inkPlain = std::max(inkPlain, RightmostInk(shot, plain.top() + dy, plain.left() + 23, plain.right(), background));
    }
    EXPECT_LE(inkWithKey, textRight - 1);
    EXPECT_GE(inkWithKey, textRight - 4);
    EXPECT_LT(inkPlain, withKey.left() + withKey.width() / 2);

    QRect line = file->actionGeometry(separator);
    int y = line.top() + line.height() / 2;
    int areaLeft = line.left() + 23;
    EXPECT_EQ(shot.pixelColor(areaLeft + 8, y), background);
    EXPECT_EQ(shot.pixelColor(areaLeft + 9, y), Qt(kSeparatorColor));
    EXPECT_EQ(shot.pixelColor(line.right(), y), Qt(kSeparatorColor));
    EXPECT_EQ(shot.pixelColor(areaLeft + 9, y - 1), background);
    // The icon column runs through the separator, light on the left, dark on the right.
    EXPECT_EQ(shot.pixelColor(line.left(), y), Qt(kGradientLeft));
    EXPECT_LT(shot.pixelColor(line.left() + 22, y).lightness(), shot.pixelColor(line.left() + 1, y).lightness());
}

TEST_F(CommandBarTest, PopupFromTheBarLeavesAGapForItsButton)
{
    OpenFromBar(file);
    CFlatMenuWindow* border = CFlatMenuWindow::Of(file);
    ASSERT_NE(border, nullptr);
    int button = bar->actionGeometry(file->menuAction()).width();
    EXPECT_EQ(border->GapWidth(), button);
    EXPECT_EQ(file->pos(), bar->mapToGlobal(bar->actionGeometry(file->menuAction()).bottomLeft() + QPoint(0, 1)));

    // The gap is in the frame's top line only, the left strip is the face colour.
    QImage shot = file->grab().toImage();
    const XPColorSet& c = bar->Colors();
    EXPECT_EQ(shot.pixelColor(0, 0), Qt(c.menuFrame));
    EXPECT_EQ(shot.pixelColor(1, 0), Qt(c.face));
    EXPECT_EQ(shot.pixelColor(button - 2, 0), Qt(c.face));
    EXPECT_EQ(shot.pixelColor(button, 0), Qt(c.menuFrame));
    EXPECT_EQ(shot.pixelColor(0, 10), Qt(c.menuFrame));
    EXPECT_EQ(shot.pixelColor(1, 10), Qt(c.face));
    EXPECT_EQ(shot.pixelColor(2, 10), Qt(c.face));
    EXPECT_EQ(shot.pixelColor(shot.width() - 2, 10), Qt(c.menuBackground));
    EXPECT_EQ(shot.pixelColor(shot.width() - 1, 10), Qt(c.menuFrame));

    // Its border goes when it closes; the next popup on its own has a closed frame.
    file->hide();
    EXPECT_EQ(CFlatMenuWindow::Of(file), nullptr);
    more->popup(QPoint(50, 50));
    ASSERT_TRUE(QTest::qWaitFor([this] { return more->isVisible(); }));
    ASSERT_NE(CFlatMenuWindow::Of(more), nullptr);
    EXPECT_EQ(CFlatMenuWindow::Of(more)->GapWidth(), 0);
    EXPECT_EQ(more->grab().toImage().pixelColor(5, 0), Qt(c.menuFrame));
}

TEST_F(CommandBarTest, OpenBarButtonIsDrawnOpenAtTheBottom)
{
    OpenFromBar(file);
    QRect button = bar->actionGeometry(file->menuAction());
    QImage shot = bar->grab().toImage();
    const XPColorSet& c = bar->Colors();
    EXPECT_EQ(shot.pixelColor(button.left(), button.top()), Qt(c.menuFrame));
    EXPECT_EQ(shot.pixelColor(button.left(), button.bottom()), Qt(c.menuFrame));
    EXPECT_EQ(shot.pixelColor(button.right(), button.bottom()), Qt(c.menuFrame));
    // No frame line along the bottom: the face goes down to the menu.
    EXPECT_EQ(shot.pixelColor(button.center().x(), button.bottom()), Qt(c.face));
}

TEST_F(CommandBarTest, CheckedItemWithoutImageShowsACheckBox)
{
    OpenFromBar(view);
    QImage shot = view->grab().toImage();
    QRect item = view->actionGeometry(icons);
    int cellTop = item.top() + (item.height() - 21) / 2;
    QPoint boxCorner(item.left() + 3, cellTop + 3);
    const XPColorSet& c = bar->Colors();
    EXPECT_EQ(shot.pixelColor(boxCorner), Qt(c.selectionBorder));
    EXPECT_EQ(shot.pixelColor(boxCorner + QPoint(1, 1)), Qt(c.selectionFill));

    // With an image, the image alone.
    icons->setIcon(SolidIcon(QColor(0, 0, 200)));
    shot = view->grab().toImage();
    EXPECT_EQ(shot.pixelColor(item.left() + 3 + 2, cellTop + 3 + 2), QColor(0, 0, 200));
    EXPECT_NE(shot.pixelColor(boxCorner), Qt(c.selectionBorder));
}

TEST_F(CommandBarTest, HotToolbarImageIsLiftedAboveItsShadow)
{
    auto* toolbar = window->addToolBar(QStringLiteral("Virtual Server Options"));
    toolbar->setToolButtonStyle(::Qt::ToolButtonTextBesideIcon);
    toolbar->setIconSize(QSize(16, 16));
    QAction* action = toolbar->addAction(SolidIcon(QColor(200, 0, 0)), QStringLiteral("New Server"));
    bar->UseFlatLook(toolbar);
    auto* button = qobject_cast<QToolButton*>(toolbar->widgetForAction(action));
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->style(), bar->Style());
    QTest::qWait(10);

    QImage cold = button->grab().toImage();
    int x = 4, y = 4; // list style with text: the image's corner
    EXPECT_EQ(cold.pixelColor(x, y), QColor(200, 0, 0));

    button->setAttribute(::Qt::WA_UnderMouse, true);
    QImage hot = button->grab().toImage();
    const XPColorSet& c = bar->Colors();
    EXPECT_EQ(hot.pixelColor(0, 0), Qt(c.selectionBorder));
    EXPECT_EQ(hot.pixelColor(x - 1, y - 1), QColor(200, 0, 0));
    EXPECT_EQ(hot.pixelColor(x + 15, y + 15), Qt(c.iconShadow));
    EXPECT_EQ(hot.pixelColor(x + 16, y + 16), Qt(c.iconShadow));
    EXPECT_EQ(hot.pixelColor(x + 14, y + 14), QColor(200, 0, 0));
    button->setAttribute(::Qt::WA_UnderMouse, false);

    // Disabled, the image is a silhouette in the icon shadow colour.
    action->setEnabled(false);
    QImage disabled = button->grab().toImage();
    EXPECT_EQ(disabled.pixelColor(x, y), Qt(c.iconShadow));
    EXPECT_EQ(disabled.pixelColor(x + 15, y + 15), Qt(c.iconShadow));
    EXPECT_NE(disabled.pixelColor(0, 0), Qt(c.selectionBorder));
    action->setEnabled(true);

    // Buttons added later take the look as well.
    QAction* later = toolbar->addAction(SolidIcon(QColor(0, 0, 200)), QStringLiteral("Delete Server"));
    QTest::qWait(10);
    EXPECT_EQ(toolbar->widgetForAction(later)->style(), bar->Style());
}

TEST(CommandBar, MenusOutliveTheBarSafely)
{
    auto menu = std::make_unique<QMenu>(QStringLiteral("&Help"));
    menu->addAction(QStringLiteral("&About"));
    {
        CCommandBarXPCtrl bar;
        bar.addMenu(menu.get());
        EXPECT_EQ(menu->style(), bar.Style());
    }
    EXPECT_EQ(menu->style(), QApplication::style());
    EXPECT_FALSE(menu->grab().isNull());
}

} // namespace
