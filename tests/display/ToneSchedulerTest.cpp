#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ToneScheduler.h"

namespace vitalon {
namespace {

using namespace std::chrono_literals;
using Clock = ToneScheduler::Clock;

// An output that records what was written and fails on request.
class FakeToneOutput : public ToneOutput {
public:
    ToneOutputStatus open() override {
        ++opens;
        open_ = next == ToneOutputStatus::Opened;
        return next;
    }
    bool isOpen() const override { return open_; }
    bool write(std::uint32_t silenceMs, std::uint32_t hz, std::uint32_t ms) override {
        if (failWrites) {
            return false;
        }
        writes.push_back({silenceMs, hz, ms});
        return true;
    }
    void close() override {
        open_ = false;
        ++closes;
    }

    struct Write {
        std::uint32_t silenceMs, hz, ms;
        bool operator==(const Write&) const = default;
    };
    ToneOutputStatus next = ToneOutputStatus::Opened;
    bool failWrites = false;
    int opens = 0;
    int closes = 0;
    std::vector<Write> writes;

private:
    bool open_ = false;
};

class ToneSchedulerTest : public ::testing::Test {
protected:
    ToneSchedulerTest() {
        scheduler.onUnavailable = [this](const std::string& m) { messages.push_back(m); };
    }
    FakeToneOutput output;
    ToneScheduler scheduler{output};
    std::vector<std::string> messages;
    const Clock::time_point t0 = Clock::time_point{} + 1h;
};

TEST_F(ToneSchedulerTest, SwitchingOnOpensAndOffReleasesTheOutput) {
    scheduler.hold(true, t0);
    EXPECT_TRUE(output.isOpen());
    scheduler.beep(1000, 60, t0);
    scheduler.beep(1000, 60, t0 + 700ms);
    EXPECT_EQ(output.opens, 1);  // one stream for every beep
    scheduler.hold(false, t0 + 800ms);
    EXPECT_FALSE(output.isOpen());
    EXPECT_EQ(output.writes.size(), 2u);
}

TEST_F(ToneSchedulerTest, BeepsThatOverlapPlayInTurnWithAGapAndAtMostThreeWait) {
    scheduler.hold(true, t0);
    for (int i = 0; i < 6; ++i) {
        scheduler.beep(1000, 60, t0 + 1ms * i);
    }
    using W = FakeToneOutput::Write;
    EXPECT_EQ(output.writes,
              (std::vector<W>{{0, 1000, 60}, {40, 1000, 60}, {40, 1000, 60}, {40, 1000, 60}}));
    EXPECT_EQ(scheduler.dropped(), 2u);
    EXPECT_EQ(scheduler.waiting(t0 + 5ms), 3u);
    // The queue drains at 100 ms a tone: the second starts at 100 ms, the fourth at 300 ms.
    EXPECT_EQ(scheduler.waiting(t0 + 100ms), 2u);
    EXPECT_EQ(scheduler.waiting(t0 + 300ms), 0u);
    scheduler.beep(1000, 60, t0 + 300ms);  // the fourth still sounds: this one queues
    EXPECT_EQ(output.writes.back(), (W{40, 1000, 60}));
    scheduler.beep(1000, 60, t0 + 2s);  // long after: at once, no gap
    EXPECT_EQ(output.writes.back(), (W{0, 1000, 60}));
    EXPECT_EQ(scheduler.dropped(), 2u);
}

TEST_F(ToneSchedulerTest, NoOutputIsToldOnceAndTriedAgainAtMostOnceASecond) {
    output.next = ToneOutputStatus::NoDevice;
    scheduler.hold(true, t0);
    scheduler.beep(1000, 60, t0 + 100ms);
    scheduler.beep(1000, 60, t0 + 999ms);
    EXPECT_EQ(output.opens, 1);
    scheduler.beep(1000, 60, t0 + 1000ms);
    EXPECT_EQ(output.opens, 2);
    EXPECT_EQ(messages,
              std::vector<std::string>{"Pulse tone unavailable: no audio output device."});

    output.next = ToneOutputStatus::Opened;  // plugged in
    scheduler.beep(1000, 60, t0 + 1500ms);
    EXPECT_TRUE(output.writes.empty());
    scheduler.beep(1000, 60, t0 + 2000ms);
    EXPECT_EQ(output.writes.size(), 1u);
    EXPECT_EQ(messages.size(), 1u);
}

TEST_F(ToneSchedulerTest, LostOutputIsClosedToldAndComesBackAfterASecond) {
    scheduler.hold(true, t0);
    scheduler.beep(1000, 60, t0);
    scheduler.outputFailed(t0 + 10ms);  // the server went away
    EXPECT_FALSE(output.isOpen());
    scheduler.beep(1000, 60, t0 + 500ms);
    EXPECT_EQ(output.opens, 1);
    scheduler.beep(1000, 60, t0 + 1010ms);
    EXPECT_EQ(output.opens, 2);
    EXPECT_EQ(output.writes.size(), 2u);
    // A write refused by a dropped stream is the same loss; a second outage is told again.
    output.failWrites = true;
    scheduler.beep(1000, 60, t0 + 3s);
    EXPECT_FALSE(output.isOpen());
    EXPECT_EQ(messages, (std::vector<std::string>{
                            "Pulse tone unavailable: the audio output stopped with an error.",
                            "Pulse tone unavailable: the audio output stopped with an error."}));
}

TEST_F(ToneSchedulerTest, RefusedFormatAndFailedOpenHaveTheirOwnMessages) {
    output.next = ToneOutputStatus::FormatRefused;
    scheduler.hold(true, t0);
    scheduler.hold(false, t0);
    output.next = ToneOutputStatus::Failed;
    scheduler.hold(true, t0);
    EXPECT_EQ(messages,
              (std::vector<std::string>{
                  "Pulse tone unavailable: the audio output does not accept the tone's format.",
                  "Pulse tone unavailable: the audio output could not be opened."}));
}

TEST_F(ToneSchedulerTest, ZeroAndWildDurations) {
    scheduler.hold(true, t0);
    scheduler.beep(1000, 0, t0);
    EXPECT_TRUE(output.writes.empty());
    scheduler.beep(37, 0xFFFFFFFFu, t0);
    ASSERT_EQ(output.writes.size(), 1u);
    EXPECT_EQ(output.writes[0].ms, ToneScheduler::kMaxDurationMs);
}

}  // namespace
}  // namespace vitalon
