#include <gtest/gtest.h>

#include <csignal>
#include <thread>

#include "PtyPair.h"

namespace vitalon::testing {
namespace {

using namespace std::chrono_literals;

const std::vector<std::uint8_t> kStartCommands = {0x53, 0x31, 0x41, 0x31, 0x35,
                                                  0x4E, 0x47, 0x31, 0x44, 0x30};

TEST(StartupLink, ModuleReceivesExactlyTheStartCommandsThenHangUpLeavesTheProgramIdle) {
    PtyPair pty;
    ChildProcess vitalon(VITALON_EXE, {"--port", "COM3=" + pty.slavePath()});

    EXPECT_EQ(pty.read(kStartCommands.size(), 10s), kStartCommands);
    // Nothing more follows until a button is clicked.
    EXPECT_TRUE(pty.read(1, 300ms).empty());
    ASSERT_TRUE(vitalon.running());

    // Pulling the cable: the program stays up and does not spin on the dead device.
    const double before = vitalon.cpuSeconds();
    pty.closeMaster();
    std::this_thread::sleep_for(2s);
    const double used = vitalon.cpuSeconds() - before;
    EXPECT_TRUE(vitalon.running());
    EXPECT_LT(used, 0.1) << "CPU seconds used in the 2 s after the hang-up";

    EXPECT_EQ(vitalon.stop(SIGTERM, 3s), 0);
}

TEST(StartupLink, BadPortOptionIsAnErrorNotAStart) {
    ChildProcess vitalon(VITALON_EXE, {"--port", "COM9=/dev/null"});
    EXPECT_EQ(vitalon.waitExit(10s), 2);
}

}  // namespace
}  // namespace vitalon::testing
