// The soak: an hour of the module's stream at 300 samples a second, from the
// module model, pushed through a pseudo-terminal into the real program as fast
// as it takes it. Memory that grows with the stream (a buffer that is never
// trimmed, a leak per report) shows as resident memory that keeps rising after
// the first minute has warmed everything up.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "EdfReader.h"
#include "FullRateRecording.h"
#include "ModuleModel.h"
#include "PtyPair.h"
#include "StartCommands.h"

namespace vitalon::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::string kStart = testing::startCommandBytes();

// Waits until the program has taken everything written so far: the line's
// receive queue, seen through a second descriptor of the same device, stays
// empty over three looks 10 ms apart (the kernel refills it from its own
// buffer within microseconds while anything is left there).
bool drained(int slaveFd, std::chrono::seconds timeout) {
    const auto until = Clock::now() + timeout;
    int emptyLooks = 0;
    while (emptyLooks < 3) {
        if (Clock::now() > until) {
            return false;
        }
        int waiting = 0;
        if (ioctl(slaveFd, FIONREAD, &waiting) != 0) {
            return false;
        }
        emptyLooks = waiting == 0 ? emptyLooks + 1 : 0;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

TEST(Soak, AnHourOfStreamAtThreeHundredSamplesASecondKeepsMemoryFlat) {
    PtyPair pty;
    const int slave = open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(slave, 0);

    ChildOptions options;
    options.captureStderr = true;
    options.measuresMemory = true;
    ChildProcess vitalon(VITALON_EXE, {"--port", "COM1=" + pty.slavePath()}, options);
    const auto commands = pty.read(kStart.size(), 30s);
    ASSERT_EQ(std::string(commands.begin(), commands.end()), kStart);

    // The module takes the program's start commands, then is switched to 300
    // samples a second.
    sim::ModuleModel module;
    module.receive(commands);
    module.receive(std::string_view("S0"));
    ASSERT_EQ(module.settings().samplesPerSecond, 300);

    const auto started = Clock::now();
    std::size_t bytes = 0;
    std::vector<std::uint8_t> minute;
    const auto sendMinute = [&] {
        minute.clear();
        module.advance(std::chrono::minutes(1), minute);
        pty.write(minute);
        bytes += minute.size();
    };

    sendMinute();
    ASSERT_TRUE(drained(slave, 120s));
    const long firstMinuteKb = vitalon.residentKb();
    for (int m = 1; m < 60; ++m) {
        sendMinute();
        ASSERT_TRUE(vitalon.running()) << "ended after " << m << " minutes of stream\n"
                                       << vitalon.stderrText();
    }
    ASSERT_TRUE(drained(slave, 300s));
    const long endKb = vitalon.residentKb();
    const auto took = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - started);

    // 300 samples a second plus reports: about a megabyte for the hour.
    EXPECT_GT(bytes, 3600u * 300u);
    EXPECT_GT(firstMinuteKb, 0);
    EXPECT_LE(std::labs(endKb - firstMinuteKb), firstMinuteKb / 20)
        << "resident kB after the first minute " << firstMinuteKb << ", after the hour " << endKb;
    RecordProperty("resident_kb_first_minute", static_cast<int>(firstMinuteKb));
    RecordProperty("resident_kb_end", static_cast<int>(endKb));
    RecordProperty("seconds", static_cast<int>(took.count()));
    std::printf(
        "soak: %zu bytes in %lld s; resident %ld kB after the first minute, %ld kB at "
        "the end\n",
        bytes, static_cast<long long>(took.count()), firstMinuteKb, endKb);

    // Nothing went wrong on the way: the only status is the open port.
    EXPECT_EQ(vitalon.stderrText().find("was lost"), std::string::npos) << vitalon.stderrText();
    EXPECT_EQ(vitalon.stop(SIGTERM, 10s), 0) << vitalon.stderrText();
    close(slave);
}

// The same hour recorded: the recorder keeps one second of samples and the
// annotations of the file; memory must stay flat while the file grows.
TEST(Soak, AnHourRecordedAtThreeHundredSamplesASecondKeepsMemoryFlat) {
    char pattern[] = "/tmp/vitalon-soak-XXXXXX";
    const std::string dir = mkdtemp(pattern);
    const std::string path = dir + "/hour.edf";
    const FullRateRun run = recordAtFullRate(path, 60);
    ASSERT_EQ(run.problem, "") << run.errorOutput;
    EXPECT_EQ(run.exitCode, 0) << run.errorOutput;
    EXPECT_GT(run.firstMinuteKb, 0);
    EXPECT_LE(std::labs(run.endKb - run.firstMinuteKb), run.firstMinuteKb / 20)
        << "resident kB after the first minute " << run.firstMinuteKb << ", after the hour "
        << run.endKb;
    std::printf("soak (recording): resident %ld kB after the first minute, %ld kB at the end\n",
                run.firstMinuteKb, run.endKb);

    recording::EdfReader reader;
    ASSERT_EQ(reader.open(dir + "/hour-3.edf"), "");
    EXPECT_TRUE(reader.header().consistent());
    EXPECT_GE(reader.header().usableRecords, 3600u);
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace vitalon::testing
