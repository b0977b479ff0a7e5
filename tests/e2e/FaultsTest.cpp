// The real executable against the faults of a bench: pulled cables, replugged
// adapters, ports held by other programs, devices the user may not open, no
// device at all, a flooding or babbling module, and shutdown in every state.
// What the user is told is read from standard error, where the program echoes
// every status-bar message; menus and buttons are worked through the VNC
// platform plugin.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <stdexcept>
#include <thread>

#include "PtyPair.h"
#include "Replug.h"
#include "StartCommands.h"
#include "VncScreen.h"
#include "WindowActions.h"

namespace vitalon::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::string kStart = testing::startCommandBytes();
constexpr uid_t kNobody = 65534;

std::string asText(const std::vector<std::uint8_t>& bytes) {
    return {bytes.begin(), bytes.end()};
}

// Picks port n from the Port menu.
void pickPort(VncScreen& screen, int n) {
    pickPortMenuItem(screen, n);
}

// A module-like stream: reports and samples, every byte value 0..251 used.
std::vector<std::uint8_t> moduleStream(std::size_t size) {
    std::vector<std::uint8_t> out;
    out.reserve(size);
    for (std::uint32_t i = 0; out.size() < size; ++i) {
        if (i % 100 == 0) {
            const auto v = static_cast<std::uint8_t>(40 + i / 100 % 200);
            out.insert(out.end(), {250, v, 249, static_cast<std::uint8_t>(v / 4), 251, 0});
        }
        out.push_back(static_cast<std::uint8_t>(i * 7 % 248));
    }
    out.resize(size);
    return out;
}

// Writes `stream` to the module's side over and over, in bursts of 16 KB as
// fast as the line takes them, until stopped or the line breaks.
class Flood {
public:
    Flood(PtyPair& pty, std::vector<std::uint8_t> stream)
        : thread_([this, fd = pty.masterFd(), stream = std::move(stream)] {
              std::size_t at = 0;
              while (!stop_) {
                  const std::size_t n = std::min<std::size_t>(16384, stream.size() - at);
                  const ssize_t w = ::write(fd, stream.data() + at, n);
                  if (w > 0) {
                      written_ += static_cast<std::size_t>(w);
                      at = (at + static_cast<std::size_t>(w)) % stream.size();
                  } else if (w < 0 && errno == EAGAIN) {
                      pollfd p{fd, POLLOUT, 0};
                      poll(&p, 1, 50);
                  } else {
                      break;  // the line broke
                  }
              }
              done_ = true;
          }) {}
    ~Flood() { stop(); }
    void stop() {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    std::size_t written() const { return written_; }
    bool done() const { return done_; }

private:
    std::atomic<bool> stop_{false};
    std::atomic<bool> done_{false};
    std::atomic<std::size_t> written_{0};
    std::thread thread_;
};

// Polls `done` every millisecond until it holds or the timeout passes.
bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto until = Clock::now() + timeout;
    while (!done()) {
        if (Clock::now() > until) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// Exit code and how long the exit took after SIGTERM.
std::pair<int, std::chrono::milliseconds> terminate(ChildProcess& p) {
    const auto t0 = Clock::now();
    const int code = p.stop(SIGTERM, 10s);
    return {code, std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0)};
}

// With reconnecting off, the same device back at the same device node stays
// closed until the user picks its port.
TEST(Faults, CablePulledThenBackUnderTheSamePathAPickReopensIt) {
    auto first = std::make_unique<PtyPair>();
    const std::string node = first->slavePath();
    DeviceLink link("vitalon-usb");
    link.pointTo(node);
    const int vnc = VncScreen::freePort();
    ChildProcess vitalon(VITALON_EXE, {"--no-reconnect", "--port", "COM1=" + link.path()},
                         onScreen(vnc));
    ASSERT_EQ(asText(first->read(kStart.size(), 20s)), kStart);
    first->write({120, 250, 72, 131});

    first.reset();  // the cable is pulled: the device node goes away
    ASSERT_TRUE(vitalon.waitForStderr("COM1 - " + link.path() + " was lost", 10s))
        << vitalon.stderrText();
    EXPECT_NE(vitalon.stderrText().find("Pick the port again"), std::string::npos);
    ASSERT_TRUE(vitalon.running());

    // Plugged in again under its old node: not reopened, then picked by hand.
    const auto second = ptyAt(node, 10s);
    ASSERT_TRUE(second) << node << " was taken by another program";
    link.pointTo(second->slavePath());
    EXPECT_TRUE(second->read(1, 2500ms).empty()) << "reopened with reconnecting off";
    const std::size_t mark = vitalon.stderrText().size();
    const auto screen = windowOn(vnc);
    pickPort(*screen, 1);
    ASSERT_TRUE(vitalon.waitForStderr("COM1 - " + link.path() + " - 9600,n,8,1", 10s, mark))
        << vitalon.stderrText();
    second->write({120, 250, 72, 131});
    clickButton(*screen, kSpeedX);
    EXPECT_EQ(asText(second->read(2, 10s)), "S2");  // picking sends nothing, the click does

    EXPECT_EQ(terminate(vitalon).first, 0) << vitalon.stderrText();
}

// The adapter behind COM2 passed the scan and is unplugged before the pick.
TEST(Faults, DeviceGoneAtThePickIsReported) {
    PtyPair home;
    auto adapter = std::make_unique<PtyPair>();
    DeviceLink link("vitalon-adapter");
    link.pointTo(adapter->slavePath());
    const int vnc = VncScreen::freePort();
    ChildProcess vitalon(VITALON_EXE,
                         {"--port", "COM1=" + home.slavePath(), "--port", "COM2=" + link.path()},
                         onScreen(vnc));
    ASSERT_EQ(asText(home.read(kStart.size(), 20s)), kStart);
    const auto screen = windowOn(vnc);

    adapter.reset();
    const std::size_t mark = vitalon.stderrText().size();
    pickPort(*screen, 2);
    ASSERT_TRUE(vitalon.waitForStderr(
        "COM2 could not be opened: " + link.path() + " does not exist", 10s, mark))
        << vitalon.stderrText();
    EXPECT_NE(vitalon.stderrText().find("No port is open.", mark), std::string::npos);
    clickButton(*screen, kSpeedX);  // COM1 was closed for the pick: nothing goes out
    EXPECT_TRUE(vitalon.waitForStderr("\"S2\" was not sent", 10s, mark)) << vitalon.stderrText();
    EXPECT_TRUE(home.read(1, 200ms).empty());
    EXPECT_EQ(terminate(vitalon).first, 0) << vitalon.stderrText();
}

// Unplugged after the scan and plugged in again, under the same path, before the pick.
TEST(Faults, DeviceBackUnderTheSamePathBeforeThePickOpens) {
    PtyPair home;
    auto adapter = std::make_unique<PtyPair>();
    DeviceLink link("vitalon-adapter");
    link.pointTo(adapter->slavePath());
    const int vnc = VncScreen::freePort();
    ChildProcess vitalon(VITALON_EXE,
                         {"--port", "COM1=" + home.slavePath(), "--port", "COM2=" + link.path()},
                         onScreen(vnc));
    ASSERT_EQ(asText(home.read(kStart.size(), 20s)), kStart);
    const auto screen = windowOn(vnc);

    adapter.reset();
    PtyPair back;
    link.pointTo(back.slavePath());
    const std::size_t mark = vitalon.stderrText().size();
    pickPort(*screen, 2);
    ASSERT_TRUE(vitalon.waitForStderr("COM2 - " + link.path() + " - 9600,n,8,1", 10s, mark))
        << vitalon.stderrText();
    clickButton(*screen, kSpeedX);
    EXPECT_EQ(asText(back.read(2, 10s)), "S2");
    EXPECT_EQ(terminate(vitalon).first, 0) << vitalon.stderrText();
}

TEST(Faults, PortHeldByAnotherProgramIsSkippedByTheScanAndAPickSaysItIsInUse) {
    PtyPair held;
    PtyPair free;
    PtyPair later;
    // Another instance holds the first device: QSerialPort's lock file.
    ChildProcess holder(VITALON_EXE, {"--port", "COM1=" + held.slavePath()}, capturing());
    ASSERT_EQ(asText(held.read(kStart.size(), 20s)), kStart);

    const int vnc = VncScreen::freePort();
    ChildProcess vitalon(VITALON_EXE,
                         {"--port", "COM1=" + held.slavePath(), "--port",
                          "COM2=" + free.slavePath(), "--port", "COM3=" + later.slavePath()},
                         onScreen(vnc));
    // The scan skipped COM1 and opened COM2; the holder's device heard nothing.
    ASSERT_EQ(asText(free.read(kStart.size(), 20s)), kStart);
    EXPECT_TRUE(vitalon.waitForStderr("COM2 - " + free.slavePath(), 10s)) << vitalon.stderrText();
    EXPECT_TRUE(held.read(1, 200ms).empty());

    // COM3 passed the scan; now a third program takes it.
    ChildProcess grabber(VITALON_EXE, {"--port", "COM1=" + later.slavePath()}, capturing());
    ASSERT_EQ(asText(later.read(kStart.size(), 20s)), kStart);
    const auto screen = windowOn(vnc);
    const std::size_t mark = vitalon.stderrText().size();
    pickPort(*screen, 3);
    ASSERT_TRUE(vitalon.waitForStderr(
        "COM3 could not be opened: " + later.slavePath() + " is in use by another program", 10s,
        mark))
        << vitalon.stderrText();
    EXPECT_NE(vitalon.stderrText().find("No port is open.", mark), std::string::npos);

    EXPECT_EQ(terminate(grabber).first, 0) << grabber.stderrText();
    EXPECT_EQ(terminate(vitalon).first, 0) << vitalon.stderrText();
    EXPECT_EQ(terminate(holder).first, 0) << holder.stderrText();
}

// A program that crashed leaves its lock file behind; it must not keep the port.
TEST(Faults, LockLeftByACrashedProgramDoesNotBlockThePort) {
    PtyPair pty;
    pty.holdSlave();  // the line stays up between the two programs
    {
        ChildProcess crashed(VITALON_EXE, {"--port", "COM1=" + pty.slavePath()}, capturing());
        ASSERT_EQ(asText(pty.read(kStart.size(), 20s)), kStart);
        EXPECT_EQ(crashed.stop(SIGKILL, 10s), 128 + SIGKILL);
    }
    ChildProcess next(VITALON_EXE, {"--port", "COM1=" + pty.slavePath()}, capturing());
    EXPECT_EQ(asText(pty.read(kStart.size(), 20s)), kStart) << next.stderrText();
    EXPECT_EQ(terminate(next).first, 0) << next.stderrText();
}

// An unprivileged user cannot open a device that another program holds with
// TIOCEXCL (root could: the kernel lets it through).
TEST(Faults, ExclusiveHoldOfAnotherProgramIsReportedAsInUse) {
    PtyPair pty;
    chmod(pty.slavePath().c_str(), 0666);
    const int excl = open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(excl, 0);
    ASSERT_EQ(ioctl(excl, TIOCEXCL), 0);

    ChildOptions options = capturing();
    if (geteuid() == 0) {
        options.runAs = kNobody;
    }
    ChildProcess vitalon(VITALON_EXE, {"--port", "COM1=" + pty.slavePath()}, options);
    EXPECT_TRUE(vitalon.waitForStderr("No serial port could be opened. COM1: " + pty.slavePath() +
                                          " is in use by another program",
                                      20s))
        << vitalon.stderrText();
    EXPECT_EQ(vitalon.stderrText().find("dialout"), std::string::npos);
    EXPECT_EQ(terminate(vitalon).first, 0) << vitalon.stderrText();
    close(excl);
}

TEST(Faults, PermissionDeniedNamesTheDialoutGroup) {
    PtyPair pty;
    ChildOptions options = capturing();
    if (geteuid() == 0) {
        chmod(pty.slavePath().c_str(), 0600);  // root's own device, like root:dialout 0660
        options.runAs = kNobody;
    } else {
        chmod(pty.slavePath().c_str(), 0000);
    }
    ChildProcess vitalon(VITALON_EXE, {"--port", "COM1=" + pty.slavePath()}, options);
    ASSERT_TRUE(vitalon.waitForStderr("No serial port could be opened.", 20s))
        << vitalon.stderrText();
    ASSERT_TRUE(vitalon.waitForStderr("Start Vitalon again", 5s)) << vitalon.stderrText();
    const std::string text = vitalon.stderrText();
    EXPECT_NE(text.find(pty.slavePath() + ": permission denied"), std::string::npos) << text;
    EXPECT_NE(text.find("dialout group"), std::string::npos) << text;
    EXPECT_TRUE(vitalon.running());
    EXPECT_EQ(terminate(vitalon).first, 0) << text;
}

TEST(Faults, NoSerialDeviceStartsAsUsualAndEveryButtonSaysNothingWasSent) {
    const int vnc = VncScreen::freePort();
    // With root a private mount namespace hides the machine's serial devices
    // from the port enumeration; otherwise the one named device is absent.
    std::unique_ptr<ChildProcess> vitalon;
    std::string expected = "this computer has no serial device";
    if (geteuid() == 0) {
        vitalon = std::make_unique<ChildProcess>(
            "/usr/bin/unshare",
            std::vector<std::string>{"--mount", "--", "/bin/sh", "-c",
                                     "mount -t tmpfs none /sys/class/tty && exec \"$0\"",
                                     VITALON_EXE},
            onScreen(vnc));
        if (!vitalon->waitForStderr("vitalon: ", 20s)) {
            vitalon.reset();  // no mount namespace here (a container without the right)
        }
    }
    if (!vitalon) {
        expected = "/dev/vitalon-absent does not exist";
        vitalon = std::make_unique<ChildProcess>(
            VITALON_EXE, std::vector<std::string>{"--port", "COM1=/dev/vitalon-absent"},
            onScreen(vnc));
    }
    ASSERT_TRUE(vitalon->waitForStderr("No serial port could be opened", 20s))
        << vitalon->stderrText();
    EXPECT_NE(vitalon->stderrText().find(expected), std::string::npos) << vitalon->stderrText();

    const auto screen = windowOn(vnc);
    const std::pair<int, const char*> buttons[] = {{8, "S2"},  {88, "A2"},  {168, "M"}, {248, "6"},
                                                   {328, "C"}, {424, "G2"}, {504, "D1"}};
    for (const auto& [x, command] : buttons) {
        const std::size_t mark = vitalon->stderrText().size();
        clickButton(*screen, x);
        EXPECT_TRUE(vitalon->waitForStderr(
            std::string("Command \"") + command + "\" was not sent: no port is open.", 10s, mark))
            << vitalon->stderrText();
    }
    EXPECT_EQ(terminate(*vitalon).first, 0) << vitalon->stderrText();
}

TEST(Faults, FloodIsTakenWithBoundedMemoryAndTheWindowStaysResponsive) {
    PtyPair pty;
    const int vnc = VncScreen::freePort();
    ChildOptions options = onScreen(vnc);
    options.measuresMemory = true;
    ChildProcess vitalon(VITALON_EXE, {"--port", "COM1=" + pty.slavePath()}, options);
    ASSERT_EQ(asText(pty.read(kStart.size(), 20s)), kStart);
    const auto screen = windowOn(vnc);

    // Warm up (labels, trace, buffers), then note the resident memory.
    {
        Flood warmUp(pty, moduleStream(65536));
        ASSERT_TRUE(waitUntil([&] { return warmUp.written() >= 256 * 1024; }, 60s));
    }
    const long before = vitalon.residentKb();

    // A megabyte, far beyond the line's 960 bytes a second, and on until a
    // click made during the flood has been answered.
    const std::vector<std::uint8_t> stream = moduleStream(1 << 20);
    Flood flood(pty, stream);
    ASSERT_TRUE(waitUntil([&] { return flood.written() >= 65536 || flood.done(); }, 60s));
    clickButton(*screen, kSpeedX);
    const auto clicked = Clock::now();
    std::string answer;
    while (answer.find("S2") == std::string::npos && Clock::now() - clicked < 30s) {
        answer += asText(pty.read(2, 100ms));
    }
    const auto answeredAfter =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - clicked);
    EXPECT_TRUE(waitUntil([&] { return flood.written() >= stream.size() || flood.done(); }, 120s));
    const bool lineHeld = !flood.done();
    flood.stop();
    const long after = vitalon.residentKb();

    RecordProperty("click_answered_ms", static_cast<int>(answeredAfter.count()));
    RecordProperty("resident_growth_kb", static_cast<int>(after - before));
    EXPECT_NE(answer.find("S2"), std::string::npos) << "the click got no answer";
    EXPECT_TRUE(lineHeld);
    EXPECT_LT(answeredAfter, 5s);
    EXPECT_GE(flood.written(), stream.size());
    EXPECT_LT(after - before, 4096) << "kB of resident memory grew over " << flood.written()
                                    << " bytes: " << before << " -> " << after;
    EXPECT_EQ(terminate(vitalon).first, 0) << vitalon.stderrText();
}

TEST(Faults, GarbageOfEveryKindLeavesTheProgramWorking) {
    PtyPair pty;
    const int vnc = VncScreen::freePort();
    ChildProcess vitalon(VITALON_EXE, {"--port", "COM1=" + pty.slavePath()}, onScreen(vnc));
    ASSERT_EQ(asText(pty.read(kStart.size(), 20s)), kStart);

    std::mt19937 rng(7);
    std::uniform_int_distribution<int> any(0, 255);
    std::vector<std::uint8_t> garbage(256 * 1024);
    for (auto& b : garbage) {
        b = static_cast<std::uint8_t>(any(rng));
    }
    for (const int marker : {249, 250, 251}) {
        garbage.insert(garbage.end(), 65536, static_cast<std::uint8_t>(marker));  // long runs
    }
    for (int state = 0; state < 4; ++state) {  // 248..255 after nothing, 249, 250, 251
        for (int b = 248; b <= 255; ++b) {
            if (state > 0) {
                garbage.push_back(static_cast<std::uint8_t>(248 + state));
            }
            garbage.push_back(static_cast<std::uint8_t>(b));
        }
    }
    // In uneven writes, so markers and their values fall into different reads.
    for (std::size_t at = 0, n = 1; at < garbage.size(); at += n, n = n % 977 + 1) {
        const std::size_t end = std::min(garbage.size(), at + n);
        pty.write({garbage.begin() + static_cast<std::ptrdiff_t>(at),
                   garbage.begin() + static_cast<std::ptrdiff_t>(end)});
    }

    // Still answering: a click after all of it reaches the module.
    const auto screen = windowOn(vnc);
    clickButton(*screen, kSpeedX);
    EXPECT_EQ(asText(pty.read(2, 30s)), "S2");
    EXPECT_TRUE(vitalon.running());
    EXPECT_EQ(terminate(vitalon).first, 0) << vitalon.stderrText();
}

TEST(Faults, ShutdownInEveryStateExitsWithZeroWithinASecond) {
    const auto expectQuickCleanExit = [](ChildProcess& p, const char* state) {
        const auto [code, took] = terminate(p);
        EXPECT_EQ(code, 0) << state << "\n" << p.stderrText();
        EXPECT_LT(took, 1s) << state;
    };
    {
        PtyPair pty;
        ChildProcess open(VITALON_EXE, {"--port", "COM1=" + pty.slavePath()}, capturing());
        ASSERT_EQ(asText(pty.read(kStart.size(), 20s)), kStart);
        expectQuickCleanExit(open, "port open");
        EXPECT_TRUE(pty.read(1, 100ms).empty());  // nothing sent on the way out
    }
    {
        ChildProcess closed(VITALON_EXE, {"--port", "COM1=/dev/vitalon-absent"}, capturing());
        ASSERT_TRUE(closed.waitForStderr("No serial port could be opened", 20s));
        expectQuickCleanExit(closed, "no port open");
    }
    {
        auto pty = std::make_unique<PtyPair>();
        ChildProcess lost(VITALON_EXE, {"--port", "COM1=" + pty->slavePath()}, capturing());
        ASSERT_EQ(asText(pty->read(kStart.size(), 20s)), kStart);
        pty.reset();
        ASSERT_TRUE(lost.waitForStderr("was lost", 10s)) << lost.stderrText();
        expectQuickCleanExit(lost, "port lost");
    }
    {
        PtyPair pty;
        ChildProcess flooded(VITALON_EXE, {"--port", "COM1=" + pty.slavePath()}, capturing());
        ASSERT_EQ(asText(pty.read(kStart.size(), 20s)), kStart);
        Flood flood(pty, moduleStream(1 << 20));
        ASSERT_TRUE(waitUntil([&] { return flood.written() >= 256 * 1024 || flood.done(); }, 60s));
        ASSERT_FALSE(flood.done());
        expectQuickCleanExit(flooded, "mid-flood");
    }
}

}  // namespace
}  // namespace vitalon::testing
