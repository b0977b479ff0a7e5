#include <gtest/gtest.h>

#include "DeviceSettings.h"
#include "Fakes.h"

namespace vitalon {
namespace {

using testing::FakeLabel;
using testing::FakeLink;

class SettingSelectorsTest : public ::testing::Test {
public:
    SettingSelectorsTest() {
        port_.openable = {"com1"};
        port_.open("com1", {});
        selectors_.applyStartValues();
    }

    FakeLink port_;
    FakeLabel speed_, amp_, filter_, sim_, channel_, curve_;
    SettingSelectors selectors_{{speed_, amp_, filter_, sim_, channel_, curve_}, port_};
};

TEST_F(SettingSelectorsTest, StartCommandsAreSixWritesWithNothingAppended) {
    selectors_.sendStartCommands();
    EXPECT_EQ(port_.writes, (std::vector<std::string>{"S1", "A1", "5", "N", "G1", "D0"}));
    const auto& s = selectors_.settings();
    EXPECT_EQ(s.speed, 1);
    EXPECT_EQ(s.amplification, 1);
    EXPECT_EQ(s.filter, 5);
    EXPECT_EQ(s.mode, 0);
    EXPECT_EQ(s.lead, 1);
    EXPECT_EQ(s.curve, 0);
}

struct Cycle {
    const char* name;
    void (SettingSelectors::*click)();
    FakeLabel SettingSelectorsTest::*label;
    std::vector<std::string> captions;
    std::vector<std::string> commands;
};

TEST_F(SettingSelectorsTest, EveryButtonCyclesCaptionsAndCommands) {
    const std::vector<Cycle> cycles = {
        {"Speed",
         &SettingSelectors::cycleSpeed,
         &SettingSelectorsTest::speed_,
         {"50/sec", "300/sec", "100/sec", "50/sec"},
         {"S2", "S0", "S1", "S2"}},
        {"Amplification",
         &SettingSelectors::cycleAmplification,
         &SettingSelectorsTest::amp_,
         {"Amp 2", "Amp 0", "Amp 1", "Amp 2"},
         {"A2", "A0", "A1", "A2"}},
        {"Filter",
         &SettingSelectors::cycleFilter,
         &SettingSelectorsTest::filter_,
         {"60 Hz", "50 Hz", "60 Hz"},
         {"6", "5", "6"}},
        {"Simmode",
         &SettingSelectors::cycleMode,
         &SettingSelectorsTest::sim_,
         {"Simulate", "Normal", "Simulate"},
         {"M", "N", "M"}},
        {"Channel",
         &SettingSelectors::cycleLead,
         &SettingSelectorsTest::channel_,
         {"I", "III", "II", "I"},
         {"G2", "G0", "G1", "G2"}},
        {"Curve",
         &SettingSelectors::cycleCurve,
         &SettingSelectorsTest::curve_,
         {"Resp.", "EKG", "Resp."},
         {"D1", "D0", "D1"}},
    };
    for (const Cycle& c : cycles) {
        SCOPED_TRACE(c.name);
        port_.writes.clear();
        std::vector<std::string> captions;
        for (std::size_t i = 0; i < c.captions.size(); ++i) {
            (selectors_.*c.click)();
            captions.push_back((this->*c.label).caption);
        }
        EXPECT_EQ(captions, c.captions);
        EXPECT_EQ(port_.writes, c.commands);
    }
}

TEST_F(SettingSelectorsTest, ClickTouchesOnlyItsOwnSelectorAndLabel) {
    selectors_.cycleLead();
    EXPECT_EQ(speed_.caption, "");
    EXPECT_EQ(curve_.caption, "");
    EXPECT_EQ(selectors_.settings().speed, 1);
    EXPECT_EQ(selectors_.settings().lead, 2);
}

TEST_F(SettingSelectorsTest, CalibrateSendsCEveryTimeAndChangesNoLabel) {
    for (int i = 0; i < 3; ++i) {
        selectors_.calibrate();
    }
    EXPECT_EQ(port_.writes, (std::vector<std::string>{"C", "C", "C"}));
    EXPECT_EQ(speed_.caption + amp_.caption + filter_.caption + sim_.caption + channel_.caption +
                  curve_.caption,
              "");
}

TEST_F(SettingSelectorsTest, UnsentCommandKeepsTheNewValueAndSaysWhichCommand) {
    port_.close();
    try {
        selectors_.cycleSpeed();
        FAIL() << "a write without an open port must fail";
    } catch (const PortError& e) {
        EXPECT_EQ(e.kind(), PortErrorKind::NotOpen);
        EXPECT_NE(std::string(e.what()).find("\"S2\" was not sent"), std::string::npos) << e.what();
    }
    EXPECT_EQ(selectors_.settings().speed, 2);
    EXPECT_EQ(speed_.caption, "50/sec");
}

TEST_F(SettingSelectorsTest, SelectingACommandSetsItsSelectorAndLabelAndWritesItExactly) {
    struct Case {
        const char* command;
        FakeLabel SettingSelectorsTest::*label;
        const char* caption;
    };
    // The current value too: "S1" at speed 1 is written again, not skipped.
    const Case cases[] = {
        {"S1", &SettingSelectorsTest::speed_, "100/sec"},
        {"S0", &SettingSelectorsTest::speed_, "300/sec"},
        {"S2", &SettingSelectorsTest::speed_, "50/sec"},
        {"A0", &SettingSelectorsTest::amp_, "Amp 0"},
        {"A2", &SettingSelectorsTest::amp_, "Amp 2"},
        {"6", &SettingSelectorsTest::filter_, "60 Hz"},
        {"5", &SettingSelectorsTest::filter_, "50 Hz"},
        {"M", &SettingSelectorsTest::sim_, "Simulate"},
        {"N", &SettingSelectorsTest::sim_, "Normal"},
        {"G2", &SettingSelectorsTest::channel_, "I"},
        {"G0", &SettingSelectorsTest::channel_, "III"},
        {"D1", &SettingSelectorsTest::curve_, "Resp."},
        {"D0", &SettingSelectorsTest::curve_, "EKG"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        port_.writes.clear();
        EXPECT_TRUE(selectors_.select(c.command));
        EXPECT_EQ((this->*c.label).caption, c.caption);
        EXPECT_EQ(port_.writes, std::vector<std::string>{c.command});
    }
    const auto& s = selectors_.settings();
    EXPECT_EQ(s.speed, 2);
    EXPECT_EQ(s.amplification, 2);
    EXPECT_EQ(s.filter, 5);
    EXPECT_EQ(s.mode, 0);
    EXPECT_EQ(s.lead, 0);
    EXPECT_EQ(s.curve, 0);

    // A following click goes on from the selected value.
    selectors_.cycleSpeed();
    EXPECT_EQ(speed_.caption, "300/sec");
}

TEST_F(SettingSelectorsTest, SelectingCalibratesOrRefusesTextThatIsNoCommand) {
    EXPECT_TRUE(selectors_.select("C"));
    EXPECT_EQ(port_.writes, std::vector<std::string>{"C"});
    for (const char* text : {"", "S", "S3", "S1\r", "G1 ", "X", "A10", "c"}) {
        EXPECT_FALSE(selectors_.select(text)) << text;
    }
    EXPECT_EQ(port_.writes.size(), 1u);
    EXPECT_EQ(speed_.caption + amp_.caption + channel_.caption, "");

    port_.close();
    EXPECT_THROW(selectors_.select("A2"), PortError);
    EXPECT_EQ(amp_.caption, "Amp 2");
}

TEST_F(SettingSelectorsTest, MainsFrequencyFollowsTheFilterSelector) {
    EXPECT_EQ(mainsFrequencyHz(DeviceSettings{}), 50);  // before any filter command
    EXPECT_EQ(mainsFrequencyHz(selectors_.settings()), 50);
    selectors_.cycleFilter();
    EXPECT_EQ(filter_.caption, "60 Hz");
    EXPECT_EQ(mainsFrequencyHz(selectors_.settings()), 60);
    ASSERT_TRUE(selectors_.select("5"));
    EXPECT_EQ(mainsFrequencyHz(selectors_.settings()), 50);
}

TEST(SettingCycles, UnexpectedSelectorValuesFallBackToTheFirstStep) {
    EXPECT_EQ(nextSpeed(7).command, "S0");
    EXPECT_EQ(nextFilter(0).command, "5");  // the filter values are 5 and 6, not 0 and 1
    EXPECT_EQ(nextMode(9).command, "N");
    EXPECT_EQ(nextCurve(3).command, "D0");
}

}  // namespace
}  // namespace vitalon
