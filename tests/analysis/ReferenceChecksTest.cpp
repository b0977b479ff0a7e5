// The checks that judge the module against what the bench feeds it: every
// report on its own, simulation mode both ways, the respiration curve, and a
// first sample that the module sent after the start commands.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <set>
#include <string>
#include <vector>

#include "ModelBench.h"
#include "RespirationCurve.h"

namespace vitalon::analysis {
namespace {

using testing::ModelBench;

std::string describe(const ModuleTestRunner& runner) {
    std::string text;
    for (const StepResult& step : runner.steps()) {
        text += std::to_string(step.number) + " " + std::string(verdictText(step.verdict)) + " " +
                step.reason + "\n";
    }
    return text;
}

const CheckResult* checkWithId(const ModuleTestRunner& runner, std::string_view id) {
    for (const StepResult& step : runner.steps()) {
        for (const CheckResult& check : step.checks) {
            if (check.id == id) {
                return &check;
            }
        }
    }
    return nullptr;
}

bool anyStepFailed(const ModuleTestRunner& runner) {
    return std::ranges::any_of(runner.steps(),
                               [](const StepResult& s) { return s.verdict == Verdict::Failed; });
}

// A healthy module judged against a profile that names another patient fails:
// the reference is the bench, not the module's own signal.
TEST(ReferenceChecks, ReportsAndRhythmAreJudgedAgainstTheBenchProfile) {
    TestLimits limits;
    limits.bench.heartRate = 90.0;
    ModelBench bench({}, limits);
    bench.run();
    EXPECT_EQ(bench.runner.outcome(), TestOutcome::Failed);
    for (const char* id :
         {"pulse.rhythm", "pulse.reports", "pulse.reports.outside", "sim.return"}) {
        const CheckResult* check = checkWithId(bench.runner, id);
        ASSERT_NE(check, nullptr) << id;
        EXPECT_FALSE(check->passed) << id << ": " << check->reason;
    }
    const CheckResult* outside = checkWithId(bench.runner, "pulse.reports.outside");
    EXPECT_NE(outside->reason.find("outside 85.0 to 95.0 /min: "), std::string::npos)
        << outside->reason;
    EXPECT_NE(outside->reason.find("the worst 7"), std::string::npos) << outside->reason;

    TestLimits breathing;
    breathing.bench.respirationRate = 25.0;
    ModelBench other({}, breathing);
    other.run();
    for (const char* id : {"resp.reports", "resp.reports.outside", "resp.curve"}) {
        const CheckResult* check = checkWithId(other.runner, id);
        ASSERT_NE(check, nullptr) << id;
        EXPECT_FALSE(check->passed) << id << ": " << check->reason;
    }
}

// Two of every five reports wrong: each one counts, and the count has its own
// limit. Allowed enough of them, the worst report beyond those is judged.
TEST(ReferenceChecks, EveryWrongReportCountsAgainstItsOwnLimit) {
    sim::Scenario scenario;
    scenario.defects.add(sim::ModuleDefect::PulseTwoInFiveWrong);
    ModelBench strict(scenario);
    strict.run();
    const CheckResult* outside = checkWithId(strict.runner, "pulse.reports.outside");
    ASSERT_NE(outside, nullptr);
    ASSERT_TRUE(outside->measured);
    EXPECT_GE(*outside->measured, 5.0) << outside->reason;
    EXPECT_NE(outside->reason.find("the worst 30 /min"), std::string::npos) << outside->reason;
    EXPECT_NE(outside->reason.find("limit at most 0"), std::string::npos) << outside->reason;

    TestLimits lenient;
    lenient.reports.maxPulseOutside = 10;
    ModelBench allowed(scenario, lenient);
    allowed.run();
    EXPECT_EQ(allowed.runner.outcome(), TestOutcome::Passed) << describe(allowed.runner);
    const CheckResult* worst = checkWithId(allowed.runner, "pulse.reports");
    ASSERT_NE(worst, nullptr);
    EXPECT_TRUE(worst->passed);
    EXPECT_NE(worst->reason.find("after the 10 allowed outside"), std::string::npos)
        << worst->reason;
}

// A sample byte that the line turns into a pulse marker makes the next sample
// read as a report. Its value lies among the samples around it: a link error,
// not a wrong report. A value far from them is the module's wrong report, and
// so is a second such report in one recording.
TEST(ReferenceChecks, AReportReadFromTheWaveformIsALinkErrorAndAWrongOneFails) {
    struct Case {
        int value;  // given to the byte after the marker; -1: left as it is
        int times;  // in as many deliveries, a second apart
        bool passes;
    };
    for (const Case c : {Case{-1, 1, true}, Case{30, 1, false}, Case{-1, 2, false}}) {
        ModelBench bench;
        int made = 0;
        double lastAt = 0.0;
        bench.tamper = [&](ModelBench& b, std::vector<std::uint8_t>& bytes) {
            const StepResult* step = b.runner.currentStep();
            if (made == c.times || !step || step->number != 7 ||
                b.model.settings().curve != sim::Curve::Ecg ||
                b.seconds() - secondsBetween(HostTime{}, *step->started) < 5.0 ||
                b.seconds() - lastAt < 1.0) {
                return;
            }
            for (std::size_t i = 2; i + 2 < bytes.size(); ++i) {
                if (bytes[i - 2] < 248 && bytes[i - 1] < 248 && bytes[i] < 248 &&
                    bytes[i + 1] < 248 && bytes[i + 2] < 248) {
                    bytes[i] = 250;
                    if (c.value >= 0) {
                        bytes[i + 1] = static_cast<std::uint8_t>(c.value);
                    }
                    ++made;
                    lastAt = b.seconds();
                    return;
                }
            }
        };
        bench.run();
        ASSERT_EQ(made, c.times);
        const StepResult& reports = bench.runner.steps()[6];
        const CheckResult* outside = checkWithId(bench.runner, "pulse.reports.outside");
        ASSERT_NE(outside, nullptr);
        const CheckResult* link = checkWithId(bench.runner, "reports.link-errors");
        ASSERT_NE(link, nullptr);
        if (c.passes) {
            EXPECT_EQ(bench.runner.outcome(), TestOutcome::Passed) << describe(bench.runner);
            EXPECT_EQ(outside->measured, 0.0) << outside->reason;
            EXPECT_EQ(link->measured, 1.0) << link->reason;
            EXPECT_NE(link->reason.find("1 reports read from the waveform"), std::string::npos)
                << link->reason;
        } else {
            // A wrong value, or a second report read from the waveform: the
            // module's fault. Only the first of those is a link error.
            EXPECT_EQ(reports.verdict, Verdict::Failed) << describe(bench.runner);
            EXPECT_EQ(outside->measured, 1.0) << outside->reason;
            if (c.value >= 0) {
                EXPECT_NE(outside->reason.find("the worst 30 /min"), std::string::npos);
            }
            EXPECT_EQ(link->measured, c.times - 1.0) << link->reason;
        }
    }
}

// A module that stays in simulation mode after "N" shows the simulation's
// rhythm and reports where the patient's belong; one that ignores "D" shows
// an ECG where the breaths belong.
TEST(ReferenceChecks, SimulationModeIsCheckedBothWaysAndTheCurveWithD1) {
    sim::Scenario stuck;
    stuck.defects.add(sim::ModuleDefect::StaysInSimulation);
    ModelBench simulating(stuck);
    simulating.run();
    const CheckResult* back = checkWithId(simulating.runner, "sim.return");
    ASSERT_NE(back, nullptr);
    EXPECT_FALSE(back->passed);
    EXPECT_EQ(back->reason,
              "pulse report at the patient's rate after \"N\": none within 5.0 s (67.0 to "
              "77.0 /min), limit at most 5.0 s");
    for (const char* id : {"pulse.rhythm", "resp.curve", "resp.reports.outside"}) {
        const CheckResult* check = checkWithId(simulating.runner, id);
        ASSERT_NE(check, nullptr) << id;
        EXPECT_FALSE(check->passed) << id << ": " << check->reason;
    }
    EXPECT_EQ(simulating.model.settings(), sim::ModuleSettings{}) << "what the commands set";

    ModelBench healthy;
    healthy.run();
    const CheckResult* returned = checkWithId(healthy.runner, "sim.return");
    ASSERT_NE(returned, nullptr);
    EXPECT_TRUE(returned->passed) << returned->reason;
    EXPECT_LT(*returned->measured, 2.0) << "a report comes with the next beat";
    const CheckResult* amplitude = checkWithId(healthy.runner, "pulse.amplitude");
    ASSERT_NE(amplitude, nullptr);
    EXPECT_NEAR(*amplitude->measured, 1.0, 0.05) << amplitude->reason;
    const CheckResult* curve = checkWithId(healthy.runner, "resp.curve");
    ASSERT_NE(curve, nullptr);
    EXPECT_NEAR(*curve->measured, 15.0, 1.0) << curve->reason;

    sim::Scenario ecgOnly;
    ecgOnly.defects.add(sim::ModuleDefect::IgnoresCurveCommand);
    ModelBench ignoring(ecgOnly);
    ignoring.run();
    const CheckResult* ecg = checkWithId(ignoring.runner, "resp.curve");
    ASSERT_NE(ecg, nullptr);
    EXPECT_FALSE(ecg->passed) << ecg->reason;
}

// When the patient's rate lies within the tolerance of the simulation's, a
// module stuck in simulation mode cannot show: not judged, never a pass.
TEST(ReferenceChecks, RatesTooCloseToTellApartLeaveTheTestIncomplete) {
    sim::Scenario scenario;
    scenario.heartRate = 78.0;
    TestLimits limits;
    limits.bench.heartRate = 78.0;
    ModelBench bench(scenario, limits);
    bench.run();
    EXPECT_EQ(bench.runner.outcome(), TestOutcome::Incomplete) << describe(bench.runner);
    EXPECT_FALSE(anyStepFailed(bench.runner)) << describe(bench.runner);
    const CheckResult* back = checkWithId(bench.runner, "sim.return");
    ASSERT_NE(back, nullptr);
    EXPECT_FALSE(back->judged);
    EXPECT_NE(back->reason.find("cannot be told apart"), std::string::npos) << back->reason;
}

// Bytes the adapter held from before the port was opened come in the first
// delivery: they do not show that the module answers the start commands.
TEST(ReferenceChecks, StepOneCountsOnlySamplesAfterTheFirstDelivery) {
    sim::Scenario silent;
    silent.silence = {0.0, sim::kNever};
    ModelBench bench(silent);
    bool first = true;
    bench.tamper = [&](ModelBench&, std::vector<std::uint8_t>& bytes) {
        if (first) {
            bytes.assign(300, 128);  // three seconds of backlog at once
            first = false;
        }
    };
    bench.run();
    EXPECT_EQ(bench.runner.outcome(), TestOutcome::NoModule) << describe(bench.runner);
    EXPECT_EQ(bench.runner.steps()[0].reason,
              "first sample after the start commands: none, limit at most 2.00 s");

    ModelBench healthy;
    healthy.run();
    const CheckResult* sample = checkWithId(healthy.runner, "link.first-sample");
    ASSERT_NE(sample, nullptr);
    EXPECT_TRUE(sample->passed);
    EXPECT_GT(*sample->measured, 0.0);
}

std::vector<std::uint8_t> breathing(double perMinute, double seconds, double rate, double noise) {
    std::vector<std::uint8_t> samples;
    std::uint32_t seed = 7;
    for (int i = 0; i < static_cast<int>(seconds * rate); ++i) {
        seed = seed * 1103515245u + 12345u;
        const double jitter = noise * (static_cast<double>((seed >> 16) % 1000) / 500.0 - 1.0);
        const double t = i / rate;
        samples.push_back(static_cast<std::uint8_t>(std::lround(
            128.0 + 30.0 * std::sin(2.0 * std::numbers::pi * perMinute / 60.0 * t) + jitter)));
    }
    return samples;
}

TEST(RespirationCurve, CountsBreathsAndNothingElse) {
    for (const double rate : {50.0, 100.0, 300.0}) {
        for (const double perMinute : {6.0, 15.0, 30.0}) {
            const double seconds = 2.5 * 60.0 / perMinute;
            const auto measured = breathsPerMinute(breathing(perMinute, seconds, rate, 3.0), rate);
            ASSERT_TRUE(measured) << rate << " " << perMinute;
            EXPECT_NEAR(*measured, perMinute, 0.05 * perMinute) << rate << " " << perMinute;
        }
    }
    // Flat, or noise only: no breaths. One breath: no rate.
    EXPECT_FALSE(breathsPerMinute(std::vector<std::uint8_t>(3000, 128), 300.0));
    std::vector<std::uint8_t> noise(3000, 128);
    for (std::size_t i = 0; i < noise.size(); i += 2) {
        noise[i] = 129;
    }
    EXPECT_FALSE(breathsPerMinute(noise, 300.0));
    EXPECT_FALSE(breathsPerMinute(breathing(15.0, 5.0, 300.0, 0.0), 300.0));
    EXPECT_FALSE(breathsPerMinute({}, 300.0));

    // An ECG's R waves rise once a beat.
    std::vector<std::uint8_t> ecg(3000, 128);
    for (std::size_t i = 100; i < ecg.size(); i += 250) {  // 72 a minute at 300/s
        for (std::size_t j = 0; j < 6 && i + j < ecg.size(); ++j) {
            ecg[i + j] = 168;
        }
    }
    const auto beats = breathsPerMinute(ecg, 300.0);
    ASSERT_TRUE(beats);
    EXPECT_NEAR(*beats, 72.0, 1.0);
}

}  // namespace
}  // namespace vitalon::analysis
