#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "ModuleModel.h"
#include "SimTestSupport.h"

namespace vitalon::sim {
namespace {

using namespace std::chrono_literals;
using testing::decode;
using testing::run;

constexpr std::uint8_t kPulse = ModuleModel::kPulseMarker;
constexpr std::uint8_t kResp = ModuleModel::kRespirationMarker;
constexpr std::uint8_t kStatus = ModuleModel::kStatusMarker;

TEST(SampleStream, EachSpeedGivesExactlyItsRateInEverySimulatedSecond) {
    struct Case {
        const char* command;
        std::size_t perSecond;
    };
    for (const Case c : {Case{"S1", 100}, Case{"S2", 50}, Case{"S0", 300}}) {
        ModuleModel model;
        model.receive(c.command);
        for (int second = 0; second < 3; ++second) {
            // Uneven steps, as a host timer delivers them, adding up to one second.
            std::vector<std::uint8_t> out;
            std::chrono::nanoseconds left = 1s;
            for (std::chrono::nanoseconds step = 7'777'777ns; left > 0ns; step += 1'234'567ns) {
                const auto dt = std::min(step, left);
                model.advance(dt, out);
                left -= dt;
            }
            EXPECT_EQ(decode(out).samples.size(), c.perSecond) << c.command << " second " << second;
        }
    }
}

TEST(SampleStream, OutputDoesNotDependOnHowTimeIsCutIntoCalls) {
    Scenario scenario;
    scenario.seed = 42;
    ModuleModel whole(scenario);
    ModuleModel pieces(scenario);
    whole.receive("S0");
    pieces.receive("S0");
    const auto a = whole.advance(3.0);
    const auto b = run(pieces, 3.0, 0.001);
    EXPECT_EQ(a, b);
    EXPECT_EQ(whole.elapsed(), 3s);
}

// Every setting, a calibration, a rate step and hum large enough to clip: the
// stream stays well formed in every chunk (no byte 248 or 252..255, no sample
// above 247, every marker directly followed by its value in the same chunk).
TEST(SampleStream, StaysWellFormedThroughEverySettingAndChunk) {
    Scenario scenario;
    scenario.heartRate = 180;
    scenario.rateSteps = {{6.0, 250.0}};
    scenario.humMillivolts = 3.0;
    scenario.noiseMillivolts = 0.5;
    ModuleModel model(scenario);
    const char* const commands[] = {"S0", "A2", "6", "G2", "C", "D1", "M",  "G0", "S2",
                                    "A0", "N",  "5", "D0", "C", "S1", "A2", "G1"};
    std::vector<std::uint8_t> all;
    std::size_t chunks = 0;
    for (const char* command : commands) {
        model.receive(command);
        for (int i = 0; i < 700; ++i) {
            const auto chunk = model.advance(0.001);
            const auto decoded = decode(chunk);
            ASSERT_TRUE(decoded.faults.empty()) << decoded.faults.front() << " after " << command;
            all.insert(all.end(), chunk.begin(), chunk.end());
            chunks += chunk.empty() ? 0 : 1;
        }
    }
    const auto decoded = decode(all);
    EXPECT_TRUE(decoded.faults.empty());
    EXPECT_GT(chunks, 2000u);
    // Clipping happened, and stopped at the top of the sample range.
    EXPECT_EQ(*std::max_element(decoded.samples.begin(), decoded.samples.end()), 247);
    EXPECT_EQ(*std::min_element(decoded.samples.begin(), decoded.samples.end()), 0);
    for (const auto& r : decoded.reports) {
        if (r.marker == kStatus) {
            EXPECT_EQ(r.value, ModuleModel::kStatusOk);
        }
    }
    // A heart at 250 per minute is reported as 248 at most: a value of 249..251
    // would also count as a marker for the host and swallow the next sample.
    const auto pulses = decoded.values(kPulse);
    EXPECT_EQ(*std::max_element(pulses.begin(), pulses.end()), kMaxRateByte);
}

TEST(SampleStream, StatusIsReportedEveryTwoSeconds) {
    ModuleModel model;
    const auto decoded = decode(run(model, 10.0));
    std::vector<std::size_t> at;
    for (const auto& r : decoded.reports) {
        if (r.marker == kStatus) {
            EXPECT_EQ(r.value, 0);
            at.push_back(r.samplesBefore);
        }
    }
    EXPECT_EQ(at, (std::vector<std::size_t>{0, 200, 400, 600, 800}));
}

TEST(SampleStream, LeadOffReportsStatus17AndAFlatLineUntilTheElectrodeIsBack) {
    Scenario scenario;
    scenario.leadOff = {5.3, 15.3};
    ModuleModel model(scenario);
    const auto before = decode(run(model, 5.3));
    const auto during = decode(run(model, 10.0));
    const auto after = decode(run(model, 10.0));

    EXPECT_EQ(before.values(kStatus), (std::vector<int>{0, 0, 0}));
    EXPECT_GT(*std::max_element(before.samples.begin(), before.samples.end()), 150);

    // At once and then every two seconds: pulse 0 and respiration 0, then
    // status 17; a pulse marker keeps the host's no-data watchdog quiet.
    EXPECT_EQ(during.values(kStatus), std::vector<int>(5, ModuleModel::kStatusLeadOff));
    EXPECT_EQ(during.values(kPulse), std::vector<int>(5, 0));
    EXPECT_EQ(during.values(kResp), std::vector<int>(5, 0));
    ASSERT_EQ(during.reports.size(), 15u);
    EXPECT_EQ(during.reports[0].samplesBefore, 0u) << "reported as soon as it happens";
    EXPECT_EQ(during.reports[0].marker, kPulse);
    EXPECT_EQ(during.reports[2].marker, kStatus);
    // Flat at the baseline once the filter has settled (a few samples).
    const auto flat = testing::from(during.samples, 20);
    EXPECT_TRUE(std::all_of(flat.begin(), flat.end(), [](int s) { return s == 128; }));

    ASSERT_FALSE(after.reports.empty());
    EXPECT_EQ(after.reports[0].marker, kStatus);
    EXPECT_EQ(after.reports[0].value, 0);
    EXPECT_EQ(after.reports[0].samplesBefore, 0u);
    const auto pulses = after.values(kPulse);
    ASSERT_GE(pulses.size(), 8u);
    EXPECT_TRUE(std::all_of(pulses.begin(), pulses.end(), [](int p) { return p > 60; }));
}

TEST(SampleStream, SilenceSendsNothingAtAllUntilItEnds) {
    Scenario scenario;
    scenario.silence = {4.0, 9.0};
    ModuleModel model(scenario);
    EXPECT_EQ(decode(run(model, 4.0)).samples.size(), 400u);
    for (int i = 0; i < 500; ++i) {
        ASSERT_TRUE(model.advance(0.01).empty()) << "at " << model.elapsedSeconds();
    }
    model.receive("S0");  // commands still work while silent
    const auto resumed = decode(run(model, 2.0));
    EXPECT_EQ(resumed.samples.size(), 600u);
    EXPECT_EQ(resumed.values(kStatus).size(), 1u);  // the interval ran on: one at 10 s
}

TEST(SampleStream, LineFaultsAreSeededAndOnlyLoseOrChangeBytes) {
    Scenario clean;
    clean.seed = 9;
    Scenario lossy = clean;
    lossy.byteLossRate = 0.1;
    Scenario noisy = clean;
    noisy.byteCorruptionRate = 0.05;

    ModuleModel reference(clean);
    ModuleModel lossyA(lossy);
    ModuleModel lossyB(lossy);
    ModuleModel corrupting(noisy);
    const auto original = run(reference, 20.0);
    const auto lostA = run(lossyA, 20.0);
    const auto lostB = run(lossyB, 20.0, 0.003);
    const auto changed = run(corrupting, 20.0);

    EXPECT_EQ(lostA, lostB);  // same seed, same faults, whatever the step
    // The patient is the same: the lossy stream is the clean one with gaps.
    std::size_t matched = 0;
    for (std::size_t i = 0; i < original.size() && matched < lostA.size(); ++i) {
        matched += original[i] == lostA[matched] ? 1 : 0;
    }
    EXPECT_EQ(matched, lostA.size());
    const double lossShare =
        1.0 - static_cast<double>(lostA.size()) / static_cast<double>(original.size());
    EXPECT_NEAR(lossShare, 0.1, 0.02);
    EXPECT_EQ(lossyA.counters().lostBytes, original.size() - lostA.size());

    ASSERT_EQ(changed.size(), original.size());
    std::size_t differ = 0;
    for (std::size_t i = 0; i < original.size(); ++i) {
        differ += original[i] != changed[i] ? 1 : 0;
    }
    EXPECT_EQ(differ, corrupting.counters().corruptedBytes);
    EXPECT_NEAR(static_cast<double>(differ) / static_cast<double>(original.size()), 0.05, 0.015);
}

}  // namespace
}  // namespace vitalon::sim
