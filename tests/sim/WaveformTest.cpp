#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <string>

#include "ModuleModel.h"
#include "SimTestSupport.h"

namespace vitalon::sim {
namespace {

using testing::decode;
using testing::run;

std::vector<int> samplesOf(ModuleModel& model, double seconds) {
    return decode(run(model, seconds)).samples;
}

// One seed, three modules each showing one lead: II = I + III in every sample,
// with the patient's noise and hum as much as with the clean test signal. Only
// the rounding of each sample to whole counts may separate them, by one count.
TEST(Waveform, LeadsFollowEinthovenSampleBySample) {
    for (const std::string mode : {"N", "M"}) {
        Scenario scenario;
        scenario.seed = 5;
        ModuleModel leadI(scenario), leadII(scenario), leadIII(scenario);
        leadI.receive("S0G2" + mode);
        leadII.receive("S0G1" + mode);
        leadIII.receive("S0G0" + mode);
        const auto i = samplesOf(leadI, 8.0);
        const auto ii = samplesOf(leadII, 8.0);
        const auto iii = samplesOf(leadIII, 8.0);
        ASSERT_EQ(i.size(), 2400u);
        ASSERT_EQ(ii.size(), i.size());
        ASSERT_EQ(iii.size(), i.size());
        int worst = 0;
        for (std::size_t n = 0; n < i.size(); ++n) {
            worst = std::max(worst, std::abs((ii[n] - 128) - (i[n] - 128) - (iii[n] - 128)));
        }
        EXPECT_LE(worst, 1) << "mode " << mode;
        EXPECT_NE(i, iii);

        // G1 is lead II, G2 lead I, G0 lead III: with the axis at +60 degrees
        // lead II has the tallest R wave and lead III the smallest.
        const auto top = [](const std::vector<int>& v) { return *std::ranges::max_element(v); };
        EXPECT_GT(top(ii), top(i)) << mode;
        EXPECT_GT(top(i), top(iii)) << mode;
    }
}

TEST(Waveform, AmplificationStepsDoubleTheCountsPerMillivolt) {
    int range[3] = {};
    for (int step = 0; step < 3; ++step) {
        ModuleModel model;
        std::string command = "MA";
        command += std::to_string(step);
        model.receive(command);
        const auto s = testing::from(samplesOf(model, 4.0), 100);
        range[step] = *std::ranges::max_element(s) - *std::ranges::min_element(s);
        if (step == 1) {
            // R wave about 1 mV above the mean at 40 counts per millivolt.
            EXPECT_NEAR(*std::ranges::max_element(s) - 128, 40, 6);
        }
    }
    EXPECT_NEAR(range[1], 2 * range[0], 2);
    EXPECT_NEAR(range[2], 4 * range[0], 3);
}

TEST(Waveform, CalibrationIsOneMillivoltForPointTwoSeconds) {
    struct Case {
        const char* speed;
        int rate;
    };
    for (const Case c : {Case{"S1", 100}, Case{"S2", 50}, Case{"S0", 300}}) {
        for (int step = 0; step < 3; ++step) {
            const int gain = ModuleModel::countsPerMillivolt(step);
            ModuleModel model;
            model.receive(std::string(c.speed) + "A" + std::to_string(step));
            run(model, 1.03);
            model.receive("C");
            const auto s = samplesOf(model, 1.0);
            std::vector<int> high;
            std::size_t first = s.size(), last = 0;
            for (std::size_t n = 0; n < s.size(); ++n) {
                if (s[n] > 128 + gain / 2) {
                    high.push_back(s[n]);
                    first = std::min(first, n);
                    last = n;
                }
            }
            const auto label = std::string(c.speed) + " A" + std::to_string(step);
            ASSERT_EQ(high.size(), static_cast<std::size_t>(c.rate / 5)) << label;
            EXPECT_EQ(last - first + 1, high.size()) << label << ": one unbroken rectangle";
            EXPECT_TRUE(std::ranges::all_of(high, [&](int v) { return v == 128 + gain; })) << label;
            EXPECT_EQ(s[first - 1], 128) << label << ": stands on the baseline";
            EXPECT_EQ(s[last + 1], 128) << label;
        }
    }
}

TEST(Waveform, RespirationCurveHasTheBreathingPeriodAndAQuickRise) {
    for (const double breaths : {12.0, 30.0}) {
        Scenario scenario;
        scenario.respirationRate = breaths;
        ModuleModel model(scenario);
        model.receive("D1");
        const auto stream = decode(run(model, 40.0));
        const auto& s = stream.samples;
        // Upward crossings of the middle, with hysteresis against noise.
        std::vector<double> ups;
        std::vector<double> riseShares;
        bool low = s.front() < 128;
        for (std::size_t n = 1; n < s.size(); ++n) {
            if (low && s[n] > 132) {
                ups.push_back(static_cast<double>(n) / 100.0);
                low = false;
            } else if (!low && s[n] < 124) {
                low = true;
            }
        }
        ASSERT_GE(ups.size(), 5u);
        const double period = (ups.back() - ups.front()) / static_cast<double>(ups.size() - 1);
        EXPECT_NEAR(period, 60.0 / breaths, 0.01 * 60.0 / breaths) << breaths;

        // Rise from trough to crest over about a third of the cycle.
        const auto cycle = static_cast<std::size_t>(std::lround(100.0 * period));
        for (std::size_t start = cycle; start + 2 * cycle < s.size(); start += cycle) {
            const auto b = s.begin() + static_cast<long>(start);
            const auto trough = std::min_element(b, b + static_cast<long>(cycle)) - s.begin();
            const auto t = s.begin() + trough;
            const auto crest = std::max_element(t, t + static_cast<long>(cycle)) - s.begin();
            riseShares.push_back(static_cast<double>(crest - trough) / static_cast<double>(cycle));
        }
        ASSERT_GE(riseShares.size(), 3u);
        for (const double share : riseShares) {
            EXPECT_NEAR(share, 1.0 / 3.0, 0.06) << breaths;
        }
        for (const int reported : stream.values(ModuleModel::kRespirationMarker)) {
            EXPECT_EQ(reported, static_cast<int>(breaths));
        }
    }
}

// Hum at the selected filter's frequency is removed; at the other one it stays,
// visible at 300 samples per second.
TEST(Waveform, MainsFilterRemovesOnlyTheHumItIsSetFor) {
    for (const int mains : {50, 60}) {
        for (const char* filter : {"5", "6"}) {
            Scenario scenario;
            scenario.mainsHz = mains;
            ModuleModel model(scenario);
            model.receive(std::string("S0") + filter);
            const auto s = testing::from(samplesOf(model, 7.0), 300);
            const double hum = testing::amplitudeAt(s, 300.0, mains);
            const bool matched = (mains == 50) == (filter[0] == '5');
            if (matched) {
                EXPECT_LT(hum, 0.3) << mains << " Hz mains, filter " << filter;
            } else {
                // 0.15 mV of hum in lead II at 40 counts per millivolt.
                EXPECT_GT(hum, 4.0) << mains << " Hz mains, filter " << filter;
            }
        }
    }
}

}  // namespace
}  // namespace vitalon::sim

namespace vitalon::sim {
namespace {

// The R wave of each lead follows the axis the scenario sets: the extreme of
// the larger magnitude, signed, over a few beats at 300/s and A1.
TEST(Waveform, TheHeartAxisSetsTheRWaveOfEveryLead) {
    const auto rWave = [](double axis, const char* lead) {
        Scenario scenario;
        scenario.heartAxisDegrees = axis;
        scenario.noiseMillivolts = 0.0;
        scenario.humMillivolts = 0.0;
        scenario.baselineWanderMillivolts = 0.0;
        ModuleModel model(scenario);
        model.receive(std::string("S0A1") + lead);
        const auto s = testing::from(decode(run(model, 4.0)).samples, 300);
        const int high = *std::ranges::max_element(s) - 128;
        const int low = *std::ranges::min_element(s) - 128;
        return std::abs(low) > high ? low : high;
    };
    for (const double axis : {15.0, 45.0, 75.0}) {
        const double i = rWave(axis, "G2"), ii = rWave(axis, "G1"), iii = rWave(axis, "G0");
        const double largest = std::max({std::abs(i), std::abs(ii), std::abs(iii)});
        const double pi = std::numbers::pi;
        const auto expected = [&](double leadAngle) {
            return std::cos((axis - leadAngle) * pi / 180.0);
        };
        const double scale = std::max({expected(0.0), expected(60.0), std::abs(expected(120.0))});
        // Each lead within a sixth of the largest of where the axis puts it.
        EXPECT_NEAR(i / largest, expected(0.0) / scale, 0.17) << axis;
        EXPECT_NEAR(ii / largest, expected(60.0) / scale, 0.17) << axis;
        EXPECT_NEAR(iii / largest, expected(120.0) / scale, 0.17) << axis;
    }
    EXPECT_LT(rWave(15.0, "G0"), 0.0) << "at +15 degrees lead III points away";
    EXPECT_GT(rWave(15.0, "G2"), rWave(15.0, "G1")) << "and lead I is the tallest";
}

// The defects of the signal act where they say and nowhere else.
TEST(Waveform, NoiseOffsetAndCalibrationOnTheEcgActWhereTheySay) {
    const auto samples = [](ModuleDefect defect, const char* commands, double seconds) {
        Scenario scenario;
        scenario.defects.add(defect);
        ModuleModel faulty(scenario);
        ModuleModel sound{Scenario{}};
        faulty.receive(commands);
        sound.receive(commands);
        return std::pair(samplesOf(faulty, seconds), samplesOf(sound, seconds));
    };
    // Noise on lead I only, of about 2 counts rms.
    for (const char* lead : {"S0G2", "S0G1", "S0G0"}) {
        const auto [faulty, sound] = samples(ModuleDefect::NoisyLeadI, lead, 4.0);
        double squares = 0.0;
        for (std::size_t n = 0; n < faulty.size(); ++n) {
            squares += (faulty[n] - sound[n]) * (faulty[n] - sound[n]);
        }
        const double rms = std::sqrt(squares / static_cast<double>(faulty.size()));
        if (std::string_view(lead) == "S0G2") {
            EXPECT_NEAR(rms, ModuleModel::kLeadINoiseCounts, 0.2);
        } else {
            EXPECT_EQ(rms, 0.0) << lead;
        }
    }
    // Every sample 16 counts up, the calibration rectangle included.
    {
        const auto [faulty, sound] = samples(ModuleDefect::BaselineOffset, "S0M", 2.0);
        for (std::size_t n = 0; n < faulty.size(); ++n) {
            ASSERT_EQ(faulty[n] - sound[n], ModuleModel::kBaselineOffsetCounts) << n;
        }
    }
    // The rectangle added to the ECG: the difference to the sound module's
    // trace is 0 outside the pulse, which the sound one shows on flat input,
    // and the sum of 1 mV and the ECG on top.
    {
        Scenario scenario;
        scenario.defects.add(ModuleDefect::CalibrationOnEcg);
        ModuleModel onEcg(scenario);
        ModuleModel plain{Scenario{}};
        ModuleModel switched{Scenario{}};
        for (ModuleModel* m : {&onEcg, &plain, &switched}) {
            m->receive("S0A1");
            run(*m, 1.0);
        }
        onEcg.receive("C");
        switched.receive("C");
        const auto withPulse = samplesOf(onEcg, 1.0);
        const auto ecg = samplesOf(plain, 1.0);
        const auto reference = samplesOf(switched, 1.0);
        std::size_t high = 0;
        for (std::size_t n = 0; n < withPulse.size(); ++n) {
            const int added = withPulse[n] - ecg[n];
            if (reference[n] == 128 + 40) {
                ++high;
                EXPECT_NEAR(added, 40, 1) << n;
            } else {
                EXPECT_EQ(added, 0) << n;
            }
        }
        EXPECT_EQ(high, 60u) << "0.2 s at 300/s";
    }
}

}  // namespace
}  // namespace vitalon::sim
