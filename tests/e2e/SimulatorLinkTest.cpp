#include <gtest/gtest.h>

#include <csignal>

#include "PtyPair.h"
#include "SimProcess.h"
#include "StartCommands.h"

namespace vitalon::testing {
namespace {

using namespace std::chrono_literals;

TEST(SimulatorLink, TheModelReceivesTheStartCommandsFromTheRealProgram) {
    SimProcess sim({"--verbose"});
    ChildProcess vitalon(VITALON_EXE, {"--port", "COM1=" + sim.devicePath()});
    ASSERT_TRUE(sim.waitForError("received D0", 10s)) << sim.errorOutput();

    std::vector<std::string> received;
    const std::string& log = sim.errorOutput();
    for (std::size_t at = log.find("received "); at != std::string::npos;
         at = log.find("received ", at + 1)) {
        const auto end = log.find('\n', at);
        received.push_back(log.substr(at + 9, end - at - 9));
    }
    EXPECT_EQ(received, testing::startCommandList());
    EXPECT_TRUE(vitalon.running());
    EXPECT_EQ(vitalon.stop(SIGTERM, 3s), 0);
}

TEST(SimulatorLink, SimulateOptionStartsOnTheBuiltInModule) {
    // With --simulate and no other device, any scan result but COM1 would be wrong;
    // the process must come up and end cleanly on request.
    ChildProcess vitalon(VITALON_EXE, {"--simulate"});
    EXPECT_EQ(vitalon.waitExit(1500ms), -1) << "vitalon --simulate ended by itself";
    EXPECT_EQ(vitalon.stop(SIGTERM, 3s), 0);
}

}  // namespace
}  // namespace vitalon::testing
