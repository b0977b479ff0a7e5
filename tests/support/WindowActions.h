#pragma once

// POSIX-only test support: the real program's window on Qt's VNC platform,
// and the clicks the end-to-end tests make in it.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <stdexcept>

#include "PtyPair.h"
#include "VncScreen.h"

namespace vitalon::testing {

inline ChildOptions capturing() {
    ChildOptions o;
    o.captureStderr = true;
    return o;
}

inline ChildOptions onScreen(int vncPort) {
    ChildOptions o = capturing();
    o.env.emplace_back("QT_QPA_PLATFORM", VncScreen::platform(vncPort));
    return o;
}

// The window is centred on the 1024 x 768 screen: 802 pixels wide, so its
// left edge is at x 111, and 415 pixels of client area plus the menu bar (20
// to 30 pixels) high, so the menu bar's bottom is near y 190. The buttons'
// row is 320 pixels below the menu bar and 33 high: their middle is near
// y 524 whatever the menu bar's height.
inline constexpr int kWindowLeft = (VncScreen::kWidth - 802) / 2;
inline constexpr int kSpeedX = 8;

inline void clickButton(VncScreen& screen, int designX) {
    screen.click(kWindowLeft + designX + 36, 524);
}

// The program's screen once its window is up: keys sent earlier would be lost.
inline std::unique_ptr<VncScreen> windowOn(int vncPort) {
    using namespace std::chrono_literals;
    auto screen = std::make_unique<VncScreen>(vncPort, 20s);
    if (!screen->waitUntilDrawn(VncScreen::kWidth / 2, VncScreen::kHeight / 2, 20s)) {
        throw std::runtime_error("the window did not show");
    }
    return screen;
}

// The Port menu's items: COM1 .. COM8, then "Reconnect Automatically".
inline constexpr int kPortMenuItems = 9;
inline constexpr int kReconnectItem = 9;

// Picks item n of the Port menu: Alt+P opens it, a click on the item picks.
// Once per run: after a menu has closed the VNC screen leaves no window with
// the keyboard focus, and getting it back is a race a test cannot see.
inline void pickPortMenuItem(VncScreen& screen, int n) {
    using namespace std::chrono_literals;
    // The Port menu drops from the menu bar's left part.
    const VncScreen::Rect portMenu{kWindowLeft, 170, 400, 330};
    const auto menu = screen.openMenu('P', portMenu, 150, 20s);
    ASSERT_TRUE(menu) << "the Port menu did not open";
    // Items of equal height; the menu's frame is thin against them.
    screen.click(menu->x + menu->w / 2, menu->y + menu->h * (2 * n - 1) / (2 * kPortMenuItems));
}

}  // namespace vitalon::testing
