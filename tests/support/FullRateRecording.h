#pragma once

// POSIX-only test support: the real program recording the module's stream at
// 300 samples a second. The program runs on the VNC platform, so the test can
// click Speed twice ("S2", "S0") as a user would; the module model, switched
// with it, then writes its stream into the pseudo-terminal as fast as the
// program takes it. Header-only; used by the end-to-end suite (a minute) and
// the soak (an hour).

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ModuleModel.h"
#include "PtyPair.h"
#include "StartCommands.h"
#include "VncScreen.h"

namespace vitalon::testing {

struct FullRateRun {
    std::vector<std::uint8_t> sent;  // everything the module sent
    long firstMinuteKb = -1;         // resident memory after the first minute
    long endKb = -1;                 // and at the end
    int exitCode = -1;
    std::string errorOutput;
    std::string problem;  // empty when the run went as planned
};

// Waits until the program has taken everything written so far: the line's
// receive queue, seen through a second descriptor of the same device, stays
// empty over three looks 10 ms apart.
inline bool drainedBy(int slaveFd, std::chrono::seconds timeout) {
    using namespace std::chrono_literals;
    const auto until = std::chrono::steady_clock::now() + timeout;
    int emptyLooks = 0;
    while (emptyLooks < 3) {
        int waiting = 0;
        if (std::chrono::steady_clock::now() > until || ioctl(slaveFd, FIONREAD, &waiting) != 0) {
            return false;
        }
        emptyLooks = waiting == 0 ? emptyLooks + 1 : 0;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

inline FullRateRun recordAtFullRate(const std::string& edfPath, int minutes) {
    using namespace std::chrono_literals;
    FullRateRun run;
    PtyPair pty;
    const int slave = open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    const int vncPort = VncScreen::freePort();
    ChildOptions options;
    options.captureStderr = true;
    options.measuresMemory = true;
    options.env.emplace_back("QT_QPA_PLATFORM", VncScreen::platform(vncPort));
    ChildProcess vitalon(VITALON_EXE, {"--port", "COM1=" + pty.slavePath(), "--record", edfPath},
                         options);
    const std::string start = startCommandBytes();
    const auto commands = pty.read(start.size(), 30s);
    if (std::string(commands.begin(), commands.end()) != start) {
        run.problem = "no start commands";
        return run;
    }
    sim::ModuleModel module;
    module.receive(commands);

    // Speed twice: 100 -> 50 -> 300 a second. The button row's middle is near
    // y 524 on the centred window; Speed is the first button.
    auto screen = std::make_unique<VncScreen>(vncPort, 20s);
    if (!screen->waitUntilDrawn(VncScreen::kWidth / 2, VncScreen::kHeight / 2, 20s)) {
        run.problem = "the window did not show";
        return run;
    }
    const int speedX = (VncScreen::kWidth - 802) / 2 + 8 + 36;
    std::string speed;
    for (int click = 0; click < 2; ++click) {
        screen->click(speedX, 524);
        const auto got = pty.read(2, 10s);
        speed.append(got.begin(), got.end());
    }
    module.receive(speed);
    if (speed != "S2S0" || module.settings().samplesPerSecond != 300) {
        run.problem = "Speed sent \"" + speed + "\"";
        return run;
    }

    std::vector<std::uint8_t> minute;
    for (int m = 0; m < minutes; ++m) {
        minute.clear();
        module.advance(std::chrono::minutes(1), minute);
        pty.write(minute);
        run.sent.insert(run.sent.end(), minute.begin(), minute.end());
        if (m == 0) {
            if (!drainedBy(slave, 120s)) {
                run.problem = "the first minute was not taken";
                return run;
            }
            run.firstMinuteKb = vitalon.residentKb();
        }
    }
    if (!drainedBy(slave, 300s)) {
        run.problem = "the stream was not taken";
    }
    run.endKb = vitalon.residentKb();
    run.exitCode = vitalon.stop(SIGTERM, 20s);
    run.errorOutput = vitalon.stderrText();
    close(slave);
    return run;
}

}  // namespace vitalon::testing
