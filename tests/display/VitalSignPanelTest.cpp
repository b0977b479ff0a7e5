#include <gtest/gtest.h>

#include <limits>
#include <utility>
#include <vector>

#include "Colors.h"
#include "Fakes.h"
#include "VitalSignPanel.h"

namespace vitalon {
namespace {

using Beeps = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

class RecordingTone : public ToneGenerator {
public:
    void beep(std::uint32_t hz, std::uint32_t ms) override { beeps.emplace_back(hz, ms); }
    void holdOutput(bool on) override { holds.push_back(on); }
    Beeps beeps;
    std::vector<bool> holds;
};

class VitalSignPanelTest : public ::testing::Test {
protected:
    VitalSignPanelTest() { status.caption = "No Data!"; }

    void ticks(int n) {
        while (n-- > 0) {
            panel.watchdogTick();
        }
    }
    bool stale() const {
        return pulse.backColor == colors::AlarmBackground &&
               resp.backColor == colors::AlarmBackground && pulse.caption.empty() &&
               status.caption == "No Data!";
    }
    bool live() const {
        return pulse.backColor == colors::WindowBackground &&
               resp.backColor == colors::WindowBackground;
    }

    testing::FakeLabel pulse, resp, status;
    testing::FakeMenuItem toneSwitch;
    RecordingTone tone;
    VitalSignPanel panel{pulse, resp, status, toneSwitch, tone};
};

TEST_F(VitalSignPanelTest, PulseAndStatusCaptions) {
    panel.showPulse(0);  // shown, but says nothing about the status
    EXPECT_EQ(pulse.caption, "0");
    EXPECT_EQ(status.caption, "No Data!");

    panel.showPulse(72);
    panel.showStatus(0);
    EXPECT_EQ(pulse.caption, "72");
    EXPECT_EQ(status.caption, "OK!");
    panel.showStatus(5);
    EXPECT_EQ(pulse.caption, "---");
    EXPECT_EQ(status.caption, "OK!");
    panel.showStatus(17);
    EXPECT_EQ(status.caption, "Lead Off!");

    panel.showPulse(0);  // a zero pulse replaces only the number
    EXPECT_EQ(pulse.caption, "0");
    EXPECT_EQ(status.caption, "Lead Off!");
    panel.showPulse(255);
    EXPECT_EQ(pulse.caption, "255");
    EXPECT_EQ(status.caption, "OK!");
}

TEST_F(VitalSignPanelTest, WatchdogGoesStaleOnTheFourthTickAndBackAfterOnePulseMarker) {
    panel.showRespiration(15);
    ticks(3);
    EXPECT_TRUE(live());
    EXPECT_FALSE(panel.state().stale());
    EXPECT_EQ(resp.caption, "15");

    panel.showRespiration(16);  // respiration does not hold the watchdog off
    panel.watchdogTick();
    EXPECT_TRUE(stale());
    EXPECT_TRUE(panel.state().stale());  // what the recording marks as stale
    EXPECT_EQ(resp.caption, "");

    ticks(300);
    EXPECT_EQ(panel.state().noDataTicks, 250);
    panel.restartWatchdog();
    panel.showPulse(80);
    EXPECT_EQ(pulse.caption, "80");
    EXPECT_EQ(pulse.backColor, colors::AlarmBackground);  // until the next tick
    panel.watchdogTick();
    EXPECT_TRUE(live());
    EXPECT_EQ(pulse.caption, "80");
    ticks(2);
    EXPECT_TRUE(live());
    panel.watchdogTick();
    EXPECT_TRUE(stale());
}

TEST_F(VitalSignPanelTest, PulseToneSoundsForNonZeroPulsesWhileSwitchedOn) {
    panel.showPulse(80);
    panel.togglePulseTone();
    EXPECT_TRUE(toneSwitch.checked);
    for (int rate : {80, 0, 75}) {
        panel.showPulse(static_cast<std::uint8_t>(rate));
    }
    EXPECT_EQ(tone.beeps, (Beeps{{1000, 60}, {1000, 60}}));
    panel.togglePulseTone();
    panel.showPulse(90);
    EXPECT_FALSE(toneSwitch.checked);
    EXPECT_EQ(tone.beeps.size(), 2u);
    EXPECT_EQ(tone.holds, (std::vector<bool>{true, false}));  // the output follows the switch
}

TEST(soundTone, ClampsRoundsHalvesToEvenAndPassesTheDurationOn) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::pair<double, std::uint32_t> cases[] = {
        {36.9, 37},     {37.0, 37},     {nan, 37},       {40000.0, 32767}, {32767.0, 32767},
        {1000.5, 1000}, {1001.5, 1002}, {1000.51, 1001}, {32766.5, 32766}};
    for (auto [in, out] : cases) {
        EXPECT_EQ(toneFrequency(in), out) << in;
    }
    RecordingTone tone;
    soundTone(tone, 1001.5, 60);
    soundTone(tone, 440.0, -1);  // a negative duration sounds nothing rather than for days
    EXPECT_EQ(tone.beeps, (Beeps{{1002, 60}, {440, 0}}));
}

}  // namespace
}  // namespace vitalon
