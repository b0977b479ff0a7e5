#pragma once

// POSIX-only test support: the screen, keyboard and mouse of a child process
// that runs on Qt's VNC platform (QT_QPA_PLATFORM=vnc:port=N), so a test can
// pick menu items and click buttons of the real executable.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vitalon::testing {

// X keysyms the tests use.
namespace keysym {
inline constexpr std::uint32_t Return = 0xff0d;
inline constexpr std::uint32_t Escape = 0xff1b;
inline constexpr std::uint32_t Down = 0xff54;
inline constexpr std::uint32_t AltL = 0xffe9;
}  // namespace keysym

// A minimal RFB 3.3 client: no authentication, raw encoding, 32-bit pixels.
class VncScreen {
public:
    static constexpr int kWidth = 1024;
    static constexpr int kHeight = 768;

    // A TCP port on the loopback that nothing listens on right now.
    static int freePort();
    // The QT_QPA_PLATFORM value that serves a kWidth x kHeight screen on `port`.
    static std::string platform(int port);

    // Connects, retrying until the server listens or the timeout passes
    // (throws then), and takes the first full picture of the screen.
    VncScreen(int port, std::chrono::milliseconds timeout);
    ~VncScreen();
    VncScreen(const VncScreen&) = delete;
    VncScreen& operator=(const VncScreen&) = delete;

    // The pixel at (x, y) as last sent, 0 (black) where nothing has been drawn.
    std::uint32_t pixel(int x, int y) const {
        return frame_[static_cast<std::size_t>(y * kWidth + x)];
    }
    // Waits until something is drawn at (x, y): a window shown there.
    bool waitUntilDrawn(int x, int y, std::chrono::milliseconds timeout);

    void key(std::uint32_t sym, bool down);
    void tap(std::uint32_t sym);
    // Presses and releases the left button at (x, y).
    void click(int x, int y);

    struct Rect {
        int x, y, w, h;
        bool contains(const Rect& r) const {
            return r.x >= x && r.y >= y && r.x + r.w <= x + w && r.y + r.h <= y + h;
        }
    };

    // Alt+<letter> opens a menu of the menu bar; waits until the menu is drawn:
    // a change at least 40 pixels wide and `minHeight` high inside `where`.
    // A menu opens asynchronously, and keys sent before it is up would go to
    // the window behind it. Returns where the menu is, or nothing when no
    // menu appeared in time.
    std::optional<Rect> openMenu(char mnemonic, const Rect& where, int minHeight,
                                 std::chrono::milliseconds timeout);

private:
    void send(const std::vector<std::uint8_t>& bytes);
    bool readExact(std::uint8_t* into, std::size_t n, std::chrono::steady_clock::time_point until);
    void requestUpdate(bool incremental);
    // Reads one server message; the rectangles of a screen update go to `rects`.
    // False when nothing complete came before `until`.
    bool readMessage(std::vector<Rect>& rects, std::chrono::steady_clock::time_point until);
    void drainPending();

    int fd_ = -1;
    std::vector<std::uint32_t> frame_;
    bool updateRequested_ = false;
};

}  // namespace vitalon::testing
