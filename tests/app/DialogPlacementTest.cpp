#include <gtest/gtest.h>

#include "DialogPlacement.h"

namespace vitalon {
namespace {

// The module test window (720 x 590 with its frame) beside the main window
// (802 x 470), which opens centred on the screen.
constexpr QSize kDialog(720, 590);
constexpr QSize kMinimum(480, 420);
constexpr QSize kWindow(802, 470);

QRect centred(const QRect& screen, QSize size) {
    return QRect(screen.left() + (screen.width() - size.width()) / 2,
                 screen.top() + (screen.height() - size.height()) / 2, size.width(), size.height());
}

struct Case {
    const char* name;
    QRect screen;
    QRect window;
    bool windowMayMove;
};

// On every common screen the two windows lie side by side, inside the
// screen, without overlapping; the main window moves only when neither side
// of it has room, and then stays whole on the screen at its height.
TEST(DialogPlacement, BesideTheMainWindowWithoutCoveringItOnCommonScreens) {
    const QRect fullHd(0, 0, 1920, 1040);  // the task bar takes the rest
    const QRect laptop(0, 0, 1366, 728);
    const QRect secondScreen(1920, 0, 2560, 1400);
    const Case cases[] = {
        {"full HD, centred", fullHd, centred(fullHd, kWindow), true},
        {"full HD, window at the left", fullHd, QRect(QPoint(10, 40), kWindow), false},
        {"full HD, window at the right", fullHd, QRect(QPoint(1100, 40), kWindow), false},
        {"laptop, centred", laptop, centred(laptop, kWindow), true},
        {"second screen, centred", secondScreen, centred(secondScreen, kWindow), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Placement placed = placeBeside(c.screen, c.window, kDialog, kMinimum);
        const QRect window(placed.windowTopLeft, c.window.size());
        EXPECT_TRUE(c.screen.contains(placed.dialog))
            << placed.dialog.x() << "," << placed.dialog.y();
        EXPECT_TRUE(c.screen.contains(window));
        EXPECT_FALSE(placed.dialog.intersects(window));
        EXPECT_EQ(window.top(), c.window.top());
        EXPECT_GE(placed.dialog.width(), kMinimum.width());
        EXPECT_GE(placed.dialog.height(), kMinimum.height());
        if (!c.windowMayMove) {
            EXPECT_EQ(placed.windowTopLeft, c.window.topLeft());
            EXPECT_EQ(placed.dialog.size(), kDialog);
        }
    }
}

TEST(DialogPlacement, PrefersTheRightSideAndAlignsTheTops) {
    const QRect screen(0, 0, 1920, 1040);
    const QRect window(QPoint(100, 200), kWindow);
    const Placement placed = placeBeside(screen, window, kDialog, kMinimum);
    EXPECT_EQ(placed.dialog, QRect(QPoint(902, 200), kDialog));

    // Low on the screen: the dialog rises to stay whole.
    const QRect low(QPoint(100, 900), kWindow);
    EXPECT_EQ(placeBeside(screen, low, kDialog, kMinimum).dialog.bottom(), screen.bottom());
}

// A screen too narrow for both: the dialog keeps the graph clear by going
// below the window, and only a tiny screen makes it cover the window.
TEST(DialogPlacement, NarrowScreensUseTheSpaceBelowAndNeverLeaveTheScreen) {
    const QRect tall(0, 0, 1024, 1280);
    const QRect window(QPoint(111, 20), kWindow);
    const Placement below = placeBeside(tall, window, kDialog, kMinimum);
    EXPECT_EQ(below.windowTopLeft, window.topLeft());
    EXPECT_EQ(below.dialog.top(), window.bottom() + 1);
    EXPECT_TRUE(tall.contains(below.dialog));

    const QRect tiny(0, 0, 800, 600);
    const Placement last = placeBeside(tiny, QRect(QPoint(0, 60), kWindow), kDialog, kMinimum);
    EXPECT_TRUE(tiny.contains(last.dialog));
    EXPECT_GE(last.dialog.width(), kMinimum.width());
}

}  // namespace
}  // namespace vitalon
