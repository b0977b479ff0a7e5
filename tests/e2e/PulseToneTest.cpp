// The real executable with "Pulse Tone" switched on through its menu, heard
// through a private PulseAudio server: pulse reports on the serial line, the
// tones recorded from the server's null sink.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>
#include <vector>

#include "PtyPair.h"
#include "PulseServer.h"
#include "StartCommands.h"
#include "ToneAnalysis.h"
#include "VncScreen.h"

namespace vitalon::testing {
namespace {

using namespace std::chrono_literals;

const std::string kStart = startCommandBytes();
// The window is centred on the screen; its menu bar ends near y 190 (see FaultsTest).
constexpr int kWindowLeft = (VncScreen::kWidth - 802) / 2;

TEST(PulseTone, SwitchedOnThroughTheMenuEveryNonZeroPulseIsHeard) {
    PulseServer server;
    MonitorRecording recording(server);
    ASSERT_TRUE(recording.waitUntilRecording(10s));

    PtyPair pty;
    const int vnc = VncScreen::freePort();
    ChildOptions options;
    options.captureStderr = true;
    options.env.emplace_back("QT_QPA_PLATFORM", VncScreen::platform(vnc));
    for (const auto& variable : server.clientEnv()) {
        options.env.push_back(variable);
    }
    ChildProcess vitalon(VITALON_EXE, {"--port", "COM1=" + pty.slavePath()}, options);
    const auto start = pty.read(kStart.size(), 20s);
    ASSERT_EQ(std::string(start.begin(), start.end()), kStart) << vitalon.stderrText();

    VncScreen screen(vnc, 20s);
    ASSERT_TRUE(screen.waitUntilDrawn(VncScreen::kWidth / 2, VncScreen::kHeight / 2, 20s));
    // Alt+T opens the Tone menu, one item high, below the menu bar; a click picks the item.
    const VncScreen::Rect below{kWindowLeft, 183, 500, 120};
    const auto menu = screen.openMenu('T', below, 18, 20s);
    ASSERT_TRUE(menu) << "the Tone menu did not open";
    screen.click(menu->x + menu->w / 2, menu->y + menu->h / 2);
    // Switched on, the program holds its audio stream open on the server.
    ASSERT_TRUE(server.waitForPlaybackStreams(1, 10s)) << vitalon.stderrText();

    // Five pulse reports 0.7 s apart, as a module sends them at 86 beats a minute.
    const std::size_t from = recording.size();
    for (const std::uint8_t value : std::vector<std::uint8_t>{80, 0, 75, 72, 90}) {
        const auto next = std::chrono::steady_clock::now() + 700ms;
        pty.write({250, value});
        std::this_thread::sleep_until(next);  // the reports' pace, not a wait for a result
    }
    // Everything played by now is in the recording once 0.3 s more has come in.
    const std::size_t until = recording.size() + PulseServer::kRate * 3 / 10;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (recording.size() < until && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }

    auto tones = findTones(recording.samples(), PulseServer::kRate);
    std::erase_if(tones, [&](const HeardTone& t) { return t.start < from; });
    for (const auto& t : tones) {
        std::printf("tone at %.3f s: %.1f ms, %.1f Hz\n",
                    static_cast<double>(t.start - from) / PulseServer::kRate, t.lengthMs,
                    t.frequencyHz);
    }
    ASSERT_EQ(tones.size(), 4u) << vitalon.stderrText();
    for (const auto& t : tones) {
        EXPECT_NEAR(t.lengthMs, 60.0, 8.0);
        EXPECT_NEAR(t.frequencyHz, 1000.0, 20.0);
    }
    // 80 at 0 s, 75 at 1.4 s, 72 at 2.1 s, 90 at 2.8 s: nothing for the 0.
    const double firstToSecond =
        static_cast<double>(tones[1].start - tones[0].start) / PulseServer::kRate;
    EXPECT_NEAR(firstToSecond, 1.4, 0.1);
    EXPECT_EQ(vitalon.stderrText().find("Pulse tone unavailable"), std::string::npos)
        << vitalon.stderrText();

    // The program ends as usual with its audio stream open.
    EXPECT_EQ(vitalon.stop(SIGTERM, 5s), 0) << vitalon.stderrText();
}

}  // namespace
}  // namespace vitalon::testing
