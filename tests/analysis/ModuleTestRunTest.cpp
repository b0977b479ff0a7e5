#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <functional>
#include <map>
#include <numbers>
#include <set>
#include <string>

#include "ModelBench.h"

namespace vitalon::analysis {
namespace {

using testing::ModelBench;

std::set<int> failedSteps(const ModuleTestRunner& runner) {
    std::set<int> failed;
    for (const StepResult& step : runner.steps()) {
        if (step.verdict == Verdict::Failed) {
            failed.insert(step.number);
        }
    }
    return failed;
}

std::string describe(const ModuleTestRunner& runner) {
    std::string text;
    for (const StepResult& step : runner.steps()) {
        text += std::to_string(step.number) + " " + std::string(verdictText(step.verdict)) + " " +
                step.reason + "\n";
    }
    return text;
}

const CheckResult* findCheck(const ModuleTestRunner& runner, std::string_view name) {
    for (const StepResult& step : runner.steps()) {
        for (const CheckResult& check : step.checks) {
            if (check.name == name) {
                return &check;
            }
        }
    }
    return nullptr;
}

const CheckResult* findCheckWithReason(const ModuleTestRunner& runner, std::string_view text) {
    for (const StepResult& step : runner.steps()) {
        for (const CheckResult& check : step.checks) {
            if (check.reason.find(text) != std::string::npos) {
                return &check;
            }
        }
    }
    return nullptr;
}

TEST(ModuleTestRun, HealthyModelPassesEveryStepWithinThreeMinutes) {
    ModelBench bench;
    double lastProgress = 0.0;
    double plannedAtStart = 0.0;
    bool progressFell = false;
    bench.during = [&](ModelBench& b) {
        const double progress = b.runner.progress(b.now);
        progressFell = progressFell || progress < lastProgress;
        lastProgress = progress;
        if (plannedAtStart == 0.0) {
            plannedAtStart = b.runner.secondsLeft(b.now);
        }
    };
    bench.run();

    ASSERT_EQ(bench.runner.outcome(), TestOutcome::Passed) << describe(bench.runner);
    for (const StepResult& step : bench.runner.steps()) {
        EXPECT_EQ(step.verdict, Verdict::Passed) << step.number << " " << step.reason;
        EXPECT_FALSE(step.checks.empty()) << step.number;
        // No R wave, edge or hum taken for a corrupted byte.
        const auto link = std::ranges::find(step.checks, "link errors", &CheckResult::name);
        ASSERT_NE(link, step.checks.end()) << step.number;
        EXPECT_EQ(link->measured, 0.0) << link->reason;
    }
    EXPECT_LT(bench.seconds(), 180.0);
    EXPECT_NEAR(plannedAtStart, bench.seconds(), 0.1 * bench.seconds());
    EXPECT_FALSE(progressFell);
    EXPECT_EQ(bench.runner.progress(bench.now), 1.0);
    EXPECT_EQ(bench.runner.secondsLeft(bench.now), 0.0);

    // It begins and ends with the start commands, and leaves the module as it found it.
    EXPECT_TRUE(bench.channel.sent.starts_with("S1 A1 5 N G1 D0 S1 "));
    EXPECT_TRUE(bench.channel.sent.ends_with("S1 A1 5 N G1 D0 "));
    EXPECT_EQ(bench.model.settings(), sim::ModuleSettings{});

    const TestPictures& pictures = bench.runner.pictures();
    ASSERT_EQ(pictures.calibration.size(), 3u);
    for (const CalibrationTrace& trace : pictures.calibration) {
        EXPECT_TRUE(trace.pulse.has_value()) << "A" << trace.amplification;
    }
    ASSERT_EQ(pictures.leads.size(), 3u);
    for (const LeadBeat& lead : pictures.leads) {
        EXPECT_GE(lead.average.beats, 6u) << lead.lead;
    }
}

struct DefectCase {
    const char* defect;
    std::set<int> failingSteps;
    const char* reason;  // part of the failed step's reason: measured value and limit
};

class DefectRun : public ::testing::TestWithParam<DefectCase> {};

TEST_P(DefectRun, FailsExactlyItsStepsAndNamesValueAndLimit) {
    const DefectCase& c = GetParam();
    sim::Scenario scenario;
    scenario.defects.add(*sim::moduleDefectNamed(c.defect));
    ModelBench bench(scenario);
    bench.run();

    ASSERT_EQ(bench.runner.outcome(), TestOutcome::Failed) << describe(bench.runner);
    EXPECT_EQ(failedSteps(bench.runner), c.failingSteps) << describe(bench.runner);
    const StepResult& first = bench.runner.steps()[*c.failingSteps.begin() - 1];
    EXPECT_NE(first.reason.find(c.reason), std::string::npos) << first.reason;
    for (int number : c.failingSteps) {
        EXPECT_NE(bench.runner.steps()[number - 1].reason.find(", limit "), std::string::npos);
    }
    EXPECT_EQ(bench.model.settings(), sim::ModuleSettings{}) << "restored";
}

const DefectCase kDefectCases[] = {
    // A lasting fault of the clock fails the restore's rate too.
    {"rate-3-percent-fast", {2, 8}, "sample rate at S1: 103.0"},
    {"amplification-2-as-1", {3}, "calibration height at A2: 40.0 counts, limit 72.0 to 88.0"},
    {"leads-swapped", {4}, "R wave of lead I over lead II: 0.3"},
    {"no-calibration", {3, 8}, "calibration pulse at A0: no rectangle found, limit 18.0 to 22.0"},
    {"stuck-sample", {3, 4, 6, 7, 8}, "samples at 0 or 247: "},
    {"no-pulse-reports", {6, 7}, "pulse reports in simulation mode: none in 10.0 s"},
    {"pulse-15-high", {6, 7}, "pulse reports in simulation mode: 95.0 /min"},
    {"mains-filter-off", {5}, "50 Hz suppression by \"5\": "},
    {"ignores-lead-command", {4}, "R wave of lead I over lead II: 1.0"},
    // The burst comes while the counting looks for on-time deliveries to start
    // from, so it no longer biases the rate: it fails as what it is.
    // The restore's "S1" after "S0" brings a burst too.
    {"corrupt-burst", {2, 8}, "link errors: "},
    {"rate-1.5-percent-slow", {2, 8}, "sample rate at S1: 98.5"},
    {"rate-1.5-percent-fast", {2, 8}, "sample rate at S1: 101.4"},
    {"corrupt-link", {2, 3, 4, 5, 6, 7}, "link errors: "},
    // The restore's "N" does not bring the patient back either.
    {"stays-in-simulation",
     {6, 7, 8},
     "pulse report at the patient's rate after \"N\": none within 5.0 s"},
    {"ignores-curve-command", {7}, "breaths on the curve with \"D1\": "},
    {"pulse-2-in-5-wrong", {6, 7}, "pulse reports in simulation mode: 30.0 /min"},
    {"respiration-reports-zero", {6, 7}, "respiration reports in simulation mode: 0.0 /min"},
    {"no-respiration-reports", {7}, "respiration reports with \"D1\": 0 (in 10.0 s)"},
    {"status-every-5-s", {7}, "longest time between status reports: 5."},
    {"calibration-0.3-s-wide", {3}, "calibration width at A0: 0.300 s"},
    {"calibration-droops", {3}, "calibration droop at A0: 1"},
    {"ecg-gain-20-percent-low", {7}, "R wave of lead II: 0.8"},
    // Fails the noise check alone: its Einthoven residual stays within the limit.
    {"noisy-lead-i", {4}, "noise between the beats in lead I: 2."},
    {"baseline-offset", {3}, "calibration baseline offset from 128: 16.0 counts"},
    {"noisy-leg-electrode", {4}, "noise between the beats in lead II: 2."},
};

// Awkward but sound modules and lines, which every step must pass.
const char* const kHealthyVariants[] = {"pauses-then-catches-up", "rare-corrupt-byte",
                                        "calibration-on-ecg"};

INSTANTIATE_TEST_SUITE_P(EveryDefect, DefectRun, ::testing::ValuesIn(kDefectCases),
                         [](const ::testing::TestParamInfo<DefectCase>& param) {
                             std::string name = param.param.defect;
                             std::ranges::replace_if(
                                 name, [](char c) { return std::isalnum(c) == 0; }, '_');
                             return name;
                         });

TEST(ModuleTestRun, EveryDefectOfTheModelHasItsCase) {
    for (const sim::ModuleDefectInfo& info : sim::moduleDefects()) {
        EXPECT_EQ(sim::moduleDefectNamed(info.name), info.defect);
        if (info.healthy) {
            EXPECT_TRUE(std::ranges::any_of(kHealthyVariants, [&](const char* name) {
                return name == info.name;
            })) << info.name;
            continue;
        }
        EXPECT_TRUE(std::ranges::any_of(kDefectCases, [&](const DefectCase& c) {
            return c.defect == info.name;
        })) << info.name;
    }
    EXPECT_FALSE(sim::moduleDefectNamed("no-such-defect"));
}

// Several patients and lines per variant: none may fail a step.
TEST(ModuleTestRun, HealthyVariantsPassEveryStep) {
    for (const char* variant : kHealthyVariants) {
        std::uint64_t corrupted = 0;
        for (std::uint64_t seed = 1; seed <= 4; ++seed) {
            sim::Scenario scenario;
            scenario.seed = seed;
            scenario.defects.add(*sim::moduleDefectNamed(variant));
            ModelBench bench(scenario);
            bench.run();
            EXPECT_EQ(bench.runner.outcome(), TestOutcome::Passed)
                << variant << " seed " << seed << "\n"
                << describe(bench.runner);
            EXPECT_LT(bench.seconds(), 180.0);
            corrupted += bench.model.counters().corruptedBytes;
        }
        if (std::string_view(variant) == "rare-corrupt-byte") {
            EXPECT_GE(corrupted, 4u) << "the variant must change bytes to show anything";
        }
    }
}

// Patients whose heart axis lies anywhere from +15 to +75 degrees, where one
// lead's R wave is small or points away (lead III at +15, lead I at +75): the
// bench profile names the axis, and the lead ratios follow it as a bench
// engineer would write them, I/II = cos(a) / cos(a - 60) and III/II =
// cos(a - 120) / cos(a - 60), each within 0.2.
TEST(ModuleTestRun, PatientsAtEveryUsualHeartAxisPass) {
    for (const double axis : {15.0, 45.0, 75.0}) {
        const auto lead = [axis](double angle) {
            return std::cos((axis - angle) * std::numbers::pi / 180.0);
        };
        TestLimits limits;
        limits.bench.axisDegrees = axis;
        // The model's R wave is 1 mV along the axis: lead II sees its projection.
        limits.bench.amplitudeMillivolts = lead(60.0);
        const double i = lead(0.0) / lead(60.0);
        const double iii = lead(120.0) / lead(60.0);
        limits.leads.leadIRatio = {i - 0.2, i + 0.2};
        limits.leads.leadIIIRatio = {iii - 0.2, iii + 0.2};
        for (std::uint64_t seed = 1; seed <= 2; ++seed) {
            sim::Scenario scenario;
            scenario.seed = seed;
            scenario.heartAxisDegrees = axis;
            ModelBench bench(scenario, limits);
            bench.run();
            EXPECT_EQ(bench.runner.outcome(), TestOutcome::Passed)
                << axis << " degrees, seed " << seed << "\n"
                << describe(bench.runner);
            const CheckResult* third = findCheck(bench.runner, "R wave of lead III over lead II");
            ASSERT_NE(third, nullptr);
            if (axis == 15.0) {
                EXPECT_LT(*third->measured, 0.0) << "lead III points away at +15 degrees";
            }
        }
        // The same patient on a bench whose limits expect the model's own
        // axis fails the leads, unless that is near enough.
        if (axis != 45.0) {
            sim::Scenario scenario;
            scenario.heartAxisDegrees = axis;
            ModelBench bench(scenario);
            bench.run();
            EXPECT_TRUE(failedSteps(bench.runner).contains(4)) << axis;
        }
    }
}

// A clock that is off fails the sample rate checks and nothing else; a link
// that changes many bytes fails the link errors check of every step that
// records the stream.
TEST(ModuleTestRun, ClockAndLinkFaultsFailTheirOwnChecks) {
    for (const char* defect : {"rate-1.5-percent-slow", "rate-1.5-percent-fast"}) {
        sim::Scenario scenario;
        scenario.defects.add(*sim::moduleDefectNamed(defect));
        ModelBench bench(scenario);
        bench.run();
        std::size_t failed = 0;
        for (const StepResult& step : bench.runner.steps()) {
            for (const CheckResult& check : step.checks) {
                if (!check.passed) {
                    ++failed;
                    EXPECT_TRUE(check.name.starts_with("sample rate at S"))
                        << defect << ": " << check.reason;
                }
            }
        }
        EXPECT_EQ(failed, 4u) << defect << ": S1, S2, S0 and S1 again after restoring";
    }

    sim::Scenario scenario;
    scenario.defects.add(sim::ModuleDefect::CorruptLink);
    ModelBench bench(scenario);
    bench.run();
    for (int number = 2; number <= 7; ++number) {
        const StepResult& step = bench.runner.steps()[number - 1];
        const auto link = std::ranges::find(step.checks, "link errors", &CheckResult::name);
        ASSERT_NE(link, step.checks.end()) << number;
        EXPECT_FALSE(link->passed) << number;
        EXPECT_GT(*link->measured, 3.0) << number;
    }
    EXPECT_GT(bench.model.counters().corruptedBytes, 100u);
}

// A sample byte inside each calibration recording turned into 0, 247 and an
// invalid 252: no clipped sample, no failed calibration, three link errors.
TEST(ModuleTestRun, CorruptedBytesAreLinkErrorsNotCalibrationFaults) {
    ModelBench bench;
    const std::uint8_t replacements[] = {0, 247, 252};
    std::size_t calibrations = 0;
    int countdown = -1;
    std::size_t done = 0;
    bench.tamper = [&](ModelBench& b, std::vector<std::uint8_t>& bytes) {
        const auto sent = static_cast<std::size_t>(std::ranges::count(b.channel.sent, 'C'));
        if (sent != calibrations) {
            calibrations = sent;
            countdown = 10;
        }
        if (countdown < 0 || --countdown > 0 || done >= std::size(replacements)) {
            return;
        }
        // A sample amid samples, not a report's value.
        for (std::size_t i = 2; i + 1 < bytes.size(); ++i) {
            if (bytes[i - 2] < 248 && bytes[i - 1] < 248 && bytes[i] < 248 && bytes[i + 1] < 248) {
                bytes[i] = replacements[done++];
                countdown = -1;
                return;
            }
        }
        countdown = 1;  // too few samples in this delivery: the next one
    };
    bench.run();

    ASSERT_EQ(done, 3u);
    const StepResult& calibration = bench.runner.steps()[2];
    EXPECT_EQ(calibration.verdict, Verdict::Passed) << calibration.reason;
    const CheckResult* rail = findCheck(bench.runner, "samples at 0 or 247");
    ASSERT_NE(rail, nullptr);
    EXPECT_EQ(rail->measured, 0.0);
    const auto link = std::ranges::find(calibration.checks, "link errors", &CheckResult::name);
    ASSERT_NE(link, calibration.checks.end());
    EXPECT_EQ(link->measured, 3.0) << link->reason;
    EXPECT_NE(link->reason.find("1 invalid bytes, 0 unknown status codes, 2 isolated spikes"),
              std::string::npos)
        << link->reason;
    EXPECT_EQ(bench.runner.outcome(), TestOutcome::Passed) << describe(bench.runner);

    // One more than the limit fails the step, naming the count and the limit.
    TestLimits strict;
    strict.link.maxErrors = 2;
    ModelBench strictBench({}, strict);
    calibrations = 0;
    countdown = -1;
    done = 0;
    strictBench.tamper = bench.tamper;
    strictBench.run();
    EXPECT_EQ(failedSteps(strictBench.runner), std::set<int>{3}) << describe(strictBench.runner);
    EXPECT_NE(strictBench.runner.steps()[2].reason.find("link errors: 3 ("), std::string::npos);
    EXPECT_NE(strictBench.runner.steps()[2].reason.find("limit at most 2"), std::string::npos);
}

// A gap of 2.5 s: the step it falls in starts again and then passes.
TEST(ModuleTestRun, AGapRepeatsItsStepOnce) {
    for (const double at : {20.0, 45.0, 75.0, 110.0}) {
        sim::Scenario scenario;
        scenario.silence = {at, at + 2.5};
        ModelBench bench(scenario);
        bench.run();

        EXPECT_EQ(bench.runner.outcome(), TestOutcome::Passed) << at << "\n"
                                                               << describe(bench.runner);
        const CheckResult* gap = findCheckWithReason(bench.runner, "repeated after");
        ASSERT_NE(gap, nullptr) << at;
        EXPECT_TRUE(gap->passed);
        EXPECT_TRUE(gap->id.ends_with(".link-errors")) << gap->id;
        EXPECT_NE(gap->reason.find("repeated after 2."), std::string::npos) << gap->reason;
    }
}

// Cancelled in simulation mode: the module must not be left there.
TEST(ModuleTestRun, CancelStillRestoresTheStartState) {
    ModelBench bench;
    bench.during = [](ModelBench& b) {
        const StepResult* step = b.runner.currentStep();
        if (step && step->number == 6 && b.model.settings().simulation) {
            b.runner.cancel(b.now);
        }
    };
    bench.run();

    EXPECT_EQ(bench.runner.outcome(), TestOutcome::Cancelled);
    const auto& steps = bench.runner.steps();
    EXPECT_EQ(steps[5].verdict, Verdict::Cancelled);
    EXPECT_EQ(steps[6].verdict, Verdict::Skipped);
    EXPECT_EQ(steps[7].verdict, Verdict::Passed) << steps[7].reason;
    EXPECT_EQ(bench.model.settings(), sim::ModuleSettings{});
}

// Step 8 measures that the start commands took effect: a module that does not
// take one of them fails the restore, and only the restore, by the check that
// sees it. A cancelled test restores without measuring.
TEST(ModuleTestRun, RestoreMeasuresThatTheStartCommandsTookEffect) {
    struct Case {
        const char* lost;     // lost in step 8
        const char* setting;  // what the module is set to when step 8 starts
        const char* failing;  // the restore check that fails
    };
    for (const Case c :
         {Case{"S1", "S0", "restore.rate"}, Case{"N", "M", "restore.heart-rate"},
          Case{"G1", "G0", "restore.lead-ii"}, Case{"A1", "A2", "restore.cal.height"}}) {
        ModelBench bench;
        bool restoring = false;
        bench.during = [&](ModelBench& b) {
            const StepResult* step = b.runner.currentStep();
            if (step && step->number == 8 && !restoring) {
                restoring = true;
                b.model.receive(c.setting);
            }
        };
        bench.channel.lost = [&](std::string_view command) {
            return restoring && command == c.lost;
        };
        bench.run();
        EXPECT_EQ(failedSteps(bench.runner), std::set<int>{8}) << c.lost << "\n"
                                                               << describe(bench.runner);
        const auto& checks = bench.runner.steps()[7].checks;
        const auto failing = std::ranges::find(checks, c.failing, &CheckResult::id);
        ASSERT_NE(failing, checks.end()) << c.failing;
        EXPECT_FALSE(failing->passed) << failing->reason;
        EXPECT_NE(failing->reason.find(", limit "), std::string::npos) << failing->reason;
    }

    ModelBench cancelled;
    cancelled.during = [](ModelBench& b) {
        const StepResult* step = b.runner.currentStep();
        if (step && step->number == 7) {
            b.runner.cancel(b.now);
        }
    };
    cancelled.run();
    EXPECT_EQ(cancelled.runner.outcome(), TestOutcome::Cancelled);
    const auto& restore = cancelled.runner.steps()[7];
    EXPECT_EQ(restore.verdict, Verdict::Passed) << restore.reason;
    EXPECT_TRUE(std::ranges::none_of(restore.checks, [](const CheckResult& check) {
        return check.id == "restore.rate" || check.id == "restore.cal.height";
    }));
    EXPECT_TRUE(cancelled.channel.sent.ends_with("S1 A1 5 N G1 D0 "));
}

TEST(ModuleTestRun, WithoutAModuleItSaysSoAndSkipsToRestore) {
    {
        ModelBench bench;
        bench.channel.failWrites = true;
        bench.run();
        EXPECT_EQ(bench.runner.outcome(), TestOutcome::NoModule);
        EXPECT_EQ(bench.runner.steps()[0].reason, "command \"S1\" could not be written");
        EXPECT_LT(bench.seconds(), 10.0);
    }
    {
        sim::Scenario silent;
        silent.silence = {0.0, sim::kNever};
        ModelBench bench(silent);
        bench.run();
        EXPECT_EQ(bench.runner.outcome(), TestOutcome::NoModule);
        EXPECT_EQ(bench.runner.steps()[0].reason,
                  "first sample after the start commands: none, limit at most 2.00 s");
        for (int i = 1; i < 7; ++i) {
            EXPECT_EQ(bench.runner.steps()[i].verdict, Verdict::Skipped) << i + 1;
        }
        EXPECT_EQ(bench.runner.steps()[7].verdict, Verdict::Failed);
    }
}

TEST(ModuleTestRun, AStreamThatStopsEndsTheRunningStepAtOnce) {
    sim::Scenario scenario;
    scenario.silence = {40.0, sim::kNever};
    ModelBench bench(scenario);
    bench.run();

    // The interrupted step is not judged; the module that never answers again
    // fails the restore.
    EXPECT_EQ(bench.runner.outcome(), TestOutcome::Failed);
    const auto failed = failedSteps(bench.runner);
    ASSERT_EQ(failed.size(), 1u) << describe(bench.runner);
    const auto stopped =
        std::ranges::find(bench.runner.steps(), Verdict::Incomplete, &StepResult::verdict);
    ASSERT_NE(stopped, bench.runner.steps().end()) << describe(bench.runner);
    EXPECT_TRUE(stopped->reason.starts_with("time without samples: 2.0")) << stopped->reason;
    EXPECT_TRUE(failed.contains(8));
    EXPECT_LT(bench.seconds(), 60.0);
}

// A stream that stops for longer than the step's repeat can wait, and then
// comes back: the interrupted step is INCOMPLETE, and so is the test, whose
// restore passes.
TEST(ModuleTestRun, AStepInterruptedAgainAfterItsRepeatLeavesTheTestIncomplete) {
    sim::Scenario scenario;
    scenario.silence = {40.0, 45.0};
    ModelBench bench(scenario);
    bench.run();

    EXPECT_EQ(bench.runner.outcome(), TestOutcome::Incomplete) << describe(bench.runner);
    EXPECT_TRUE(failedSteps(bench.runner).empty()) << describe(bench.runner);
    const auto stopped =
        std::ranges::find(bench.runner.steps(), Verdict::Incomplete, &StepResult::verdict);
    ASSERT_NE(stopped, bench.runner.steps().end());
    EXPECT_NE(stopped->reason.find("again in the repeated step"), std::string::npos)
        << stopped->reason;
    EXPECT_NE(stopped->reason.find("could not be judged"), std::string::npos);
    EXPECT_EQ(bench.runner.steps()[7].verdict, Verdict::Passed) << describe(bench.runner);
    EXPECT_EQ(bench.model.settings(), sim::ModuleSettings{});
}

TEST(ModuleTestRun, PulledLeadIsReportedWhenTheLimitsAskForIt) {
    struct Case {
        bool modulePullsLead;
        Verdict reports;
    };
    for (const Case c : {Case{true, Verdict::Passed}, Case{false, Verdict::Failed}}) {
        TestLimits limits;
        limits.reports.leadOffCheck = true;
        ModelBench bench({}, limits);
        std::vector<std::string> prompts;
        bench.during = [&](ModelBench& b) {
            if (!b.runner.prompt().empty()) {
                prompts.push_back(b.runner.prompt());
                // Playing the technician; without the pull, the module sees no lead off.
                b.model.setLeadPulled(c.modulePullsLead && prompts.size() == 1);
                b.runner.confirmPrompt(b.now);
            }
        };
        bench.run();

        // Put back on whether or not the pull was reported.
        EXPECT_EQ(prompts.size(), 2u);
        EXPECT_EQ(bench.runner.steps()[6].verdict, c.reports) << describe(bench.runner);
        const CheckResult* leadOff =
            findCheck(bench.runner, "lead-off report after the electrode was taken off");
        ASSERT_NE(leadOff, nullptr);
        EXPECT_EQ(leadOff->passed, c.modulePullsLead) << leadOff->reason;
        EXPECT_EQ(bench.runner.steps()[7].verdict, Verdict::Passed);
    }
}

// Nobody did what the prompt asked: the step could not judge the module,
// which is no fault of the module, so the test is INCOMPLETE.
TEST(ModuleTestRun, UnansweredPromptLeavesTheStepIncompleteAndTheTestGoesOn) {
    TestLimits limits;
    limits.reports.leadOffCheck = true;
    limits.reports.promptTimeoutSeconds = 5.0;
    ModelBench bench({}, limits);
    bench.run();

    EXPECT_TRUE(failedSteps(bench.runner).empty()) << describe(bench.runner);
    EXPECT_EQ(bench.runner.steps()[6].verdict, Verdict::Incomplete);
    EXPECT_EQ(bench.runner.outcome(), TestOutcome::Incomplete);
    EXPECT_EQ(bench.runner.steps()[7].verdict, Verdict::Passed);
    EXPECT_NE(bench.runner.steps()[6].reason.find("confirmation by the technician: none"),
              std::string::npos);
    EXPECT_TRUE(bench.runner.prompt().empty());
}

}  // namespace
}  // namespace vitalon::analysis

namespace vitalon::analysis {
namespace {

std::vector<std::string> checkIds(const ModuleTestRunner& runner) {
    std::vector<std::string> ids;
    for (const StepResult& step : runner.steps()) {
        for (const CheckResult& check : step.checks) {
            ids.push_back(check.id);
        }
    }
    return ids;
}

// The identifiers are what results are compared and counted by from run to
// run: this table is their contract. A change here breaks every store of
// earlier results; add identifiers, never rename one.
TEST(ModuleTestRun, EveryCheckHasItsStableIdentifier) {
    // clang-format off
    const std::vector<std::string> healthy = {
        "link.first-sample", "link.status", "link.link-errors",                     // 1
        "rate.s1", "rate.s2", "rate.s0", "rate.link-errors",                        // 2
        "cal.a0.height", "cal.a0.width", "cal.a0.droop",                            // 3
        "cal.a1.height", "cal.a1.width", "cal.a1.droop",
        "cal.a2.height", "cal.a2.width", "cal.a2.droop",
        "cal.ratio.a1a0", "cal.ratio.a2a1", "cal.rail", "cal.baseline", "cal.link-errors",
        "leads.i.beats", "leads.ii.beats", "leads.iii.beats",                       // 4
        "leads.i.noise", "leads.ii.noise", "leads.iii.noise", "leads.einthoven",
        "leads.i.ratio", "leads.iii.ratio", "leads.link-errors",
        "mains.hum", "mains.50hz.suppression", "mains.link-errors",                 // 5
        "sim.rate", "sim.variation", "sim.pulse.reports",                           // 6
        "sim.pulse.reports.outside", "sim.resp.reports", "sim.resp.reports.outside",
        "sim.return", "sim.link-errors",
        "pulse.rhythm", "pulse.amplitude", "pulse.reports.count", "pulse.reports",  // 7
        "pulse.reports.outside", "resp.reports.count", "resp.reports",
        "resp.reports.outside", "resp.curve", "status.interval",
        "reports.link-errors",
        "restore.commands", "restore.samples", "restore.rate",                      // 8
        "restore.heart-rate", "restore.lead-ii", "restore.cal.height",
        "restore.link-errors",
    };
    // clang-format on
    ModelBench bench;
    bench.run();
    ASSERT_EQ(bench.runner.outcome(), TestOutcome::Passed) << describe(bench.runner);
    EXPECT_EQ(checkIds(bench.runner), healthy);

    // The other mains frequency, and the lead-off check with the technician.
    sim::Scenario sixty;
    sixty.mainsHz = 60;
    TestLimits limits;
    limits.bench.hum50Hz = false;
    limits.bench.hum60Hz = true;
    limits.reports.leadOffCheck = true;
    ModelBench other(sixty, limits);
    other.during = [](ModelBench& b) {
        if (!b.runner.prompt().empty()) {
            b.model.setLeadPulled(b.runner.prompt().starts_with("Take"));
            b.runner.confirmPrompt(b.now);
        }
    };
    other.run();
    const std::vector<std::string> ids = checkIds(other.runner);
    for (const char* id : {"mains.60hz.suppression", "status.lead-off"}) {
        EXPECT_NE(std::ranges::find(ids, id), ids.end()) << id;
    }
    EXPECT_EQ(std::ranges::find(ids, "mains.50hz.suppression"), ids.end());

    // Unique within a run, and of one form: lower case words joined by dots.
    for (const auto* run : {&healthy, &ids}) {
        const std::set<std::string> unique(run->begin(), run->end());
        EXPECT_EQ(unique.size(), run->size());
        for (const std::string& id : *run) {
            EXPECT_TRUE(std::ranges::all_of(id,
                                            [](char c) {
                                                return (c >= 'a' && c <= 'z') ||
                                                       (c >= '0' && c <= '9') || c == '.' ||
                                                       c == '-';
                                            }) &&
                        !id.starts_with('.') && !id.ends_with('.') &&
                        id.find("..") == std::string::npos)
                << id;
        }
    }
}

// Checks that end a step early carry identifiers too.
TEST(ModuleTestRun, ChecksOfAnAbortedRunHaveIdentifiers) {
    ModelBench unwritable;
    unwritable.channel.failWrites = true;
    unwritable.run();
    EXPECT_EQ(unwritable.runner.steps()[0].checks.at(0).id, "link.write");

    sim::Scenario stops;
    stops.silence = {40.0, sim::kNever};
    ModelBench stopped(stops);
    stopped.run();
    const std::vector<std::string> ids = checkIds(stopped.runner);
    EXPECT_TRUE(std::ranges::any_of(ids, [](const std::string& id) {
        return id.ends_with(".gap");
    })) << "the interrupted step says so";
    EXPECT_TRUE(std::ranges::none_of(ids, [](const std::string& id) { return id.empty(); }));

    TestLimits limits;
    limits.reports.leadOffCheck = true;
    limits.reports.promptTimeoutSeconds = 5.0;
    ModelBench unanswered({}, limits);
    unanswered.run();
    const CheckResult* prompt = findCheck(unanswered.runner, "confirmation by the technician");
    ASSERT_NE(prompt, nullptr);
    EXPECT_EQ(prompt->id, "prompt.confirmed");
}

// The model's calibration pulse at A1 is 40 counts: marginal against a range
// that ends half a count below it, not against the shipped 36 to 44.
TEST(ModuleTestRun, AValueCloseToItsLimitIsMarkedMarginal) {
    struct Case {
        Range a1;
        double fraction;
        bool marginal;
    };
    for (const Case c : {Case{{36.0, 44.0}, 0.1, false}, Case{{39.5, 48.0}, 0.1, true},
                         Case{{39.5, 48.0}, 0.0, false}}) {
        TestLimits limits;
        limits.calibration.heightCounts[1] = c.a1;
        limits.marginalFraction = c.fraction;
        ModelBench bench({}, limits);
        bench.run();
        const CheckResult* height = findCheck(bench.runner, "calibration height at A1");
        ASSERT_NE(height, nullptr);
        EXPECT_TRUE(height->passed) << height->reason;
        EXPECT_EQ(height->marginal, c.marginal) << height->reason << " " << c.fraction;
        EXPECT_EQ(bench.runner.outcome(), TestOutcome::Passed) << "a marginal pass is a pass";
    }
}

// PASS, FAIL and INCOMPLETE end to end. A check that cannot be judged (no
// mains hum on the bench) leaves the test incomplete, never passed, unless a
// fault was found elsewhere; a cancel is incomplete whatever was found.
TEST(ModuleTestRun, ThreeOutcomesAndAnUnjudgedCheckIsNeverAPass) {
    sim::Scenario shielded;
    shielded.humMillivolts = 0.0;
    ModelBench quiet(shielded);
    quiet.run();
    EXPECT_EQ(quiet.runner.outcome(), TestOutcome::Incomplete) << describe(quiet.runner);
    EXPECT_TRUE(isIncomplete(quiet.runner.outcome()));
    const StepResult& mains = quiet.runner.steps()[4];
    EXPECT_EQ(mains.verdict, Verdict::Incomplete);
    EXPECT_NE(mains.reason.find("mains hum without its filter: "), std::string::npos)
        << mains.reason;
    EXPECT_NE(mains.reason.find("could not be judged"), std::string::npos);
    const CheckResult* hum = findCheck(quiet.runner, "mains hum without its filter");
    ASSERT_NE(hum, nullptr);
    EXPECT_FALSE(hum->judged);
    EXPECT_FALSE(hum->passed);
    EXPECT_FALSE(hum->marginal);
    EXPECT_TRUE(failedSteps(quiet.runner).empty()) << "no hum is no fault of the module";
    EXPECT_EQ(quiet.model.settings(), sim::ModuleSettings{});

    // A fault found elsewhere decides: FAIL.
    shielded.defects.add(*sim::moduleDefectNamed("rate-3-percent-fast"));
    ModelBench faulty(shielded);
    faulty.run();
    EXPECT_EQ(faulty.runner.outcome(), TestOutcome::Failed);
    EXPECT_EQ(faulty.runner.steps()[4].verdict, Verdict::Incomplete);

    // A cancel is incomplete, even after a failed step.
    sim::Scenario slow;
    slow.defects.add(*sim::moduleDefectNamed("rate-3-percent-fast"));
    ModelBench cancelled(slow);
    cancelled.during = [](ModelBench& b) {
        const StepResult* step = b.runner.currentStep();
        if (step && step->number == 4) {
            b.runner.cancel(b.now);
        }
    };
    cancelled.run();
    EXPECT_EQ(cancelled.runner.steps()[1].verdict, Verdict::Failed);
    EXPECT_EQ(cancelled.runner.outcome(), TestOutcome::Cancelled);
    EXPECT_TRUE(isIncomplete(cancelled.runner.outcome()));

    // The bench profile says which frequencies carry hum. Hum where it says
    // none is not judged, and the check says why; no hum where it says some
    // leaves the test incomplete; hum at both is judged at both.
    struct ProfileCase {
        int mainsHz;
        bool hum50;
        bool hum60;
        Verdict mains;
        std::vector<std::string> suppressionIds;
        const char* text;
    };
    const ProfileCase profileCases[] = {
        {60, true, false, Verdict::Incomplete, {}, "the bench profile says it carries hum"},
        {50,
         true,
         false,
         Verdict::Passed,
         {"mains.50hz.suppression"},
         "60 Hz not judged: the bench profile declares no hum there"},
        {60,
         false,
         true,
         Verdict::Passed,
         {"mains.60hz.suppression"},
         "50 Hz not judged: the bench profile declares no hum there"},
        {50, false, false, Verdict::Incomplete, {}, "the bench profile declares no mains hum"},
    };
    for (const ProfileCase& c : profileCases) {
        sim::Scenario scenario;
        scenario.mainsHz = c.mainsHz;
        TestLimits limits;
        limits.bench.hum50Hz = c.hum50;
        limits.bench.hum60Hz = c.hum60;
        ModelBench bench(scenario, limits);
        bench.run();
        EXPECT_EQ(bench.runner.steps()[4].verdict, c.mains) << c.mainsHz << describe(bench.runner);
        if (c.mains != Verdict::Passed) {
            EXPECT_NE(bench.runner.outcome(), TestOutcome::Passed);
        }
        const CheckResult* humCheck = findCheck(bench.runner, "mains hum without its filter");
        ASSERT_NE(humCheck, nullptr);
        EXPECT_NE(humCheck->reason.find(c.text), std::string::npos) << humCheck->reason;
        EXPECT_EQ(humCheck->judged, c.mains == Verdict::Passed) << humCheck->reason;
        std::vector<std::string> suppression;
        for (const CheckResult& check : bench.runner.steps()[4].checks) {
            if (check.id.ends_with(".suppression")) {
                suppression.push_back(check.id);
            }
        }
        EXPECT_EQ(suppression, c.suppressionIds) << c.mainsHz;
    }

    for (const TestOutcome judged : {TestOutcome::Passed, TestOutcome::Failed}) {
        EXPECT_FALSE(isIncomplete(judged));
    }
    EXPECT_TRUE(isIncomplete(TestOutcome::NoModule));
}

}  // namespace
}  // namespace vitalon::analysis

namespace vitalon::analysis {
namespace {

// What one run of the coverage table sets up: a module with a defect, or a
// situation of the bench (a port that refuses writes, a technician who never
// answers) whose checks no module defect can reach.
struct Coverage {
    std::string name;
    sim::Scenario scenario;
    TestLimits limits;
    std::function<void(ModelBench&)> during;
    std::function<void(ModelBench&, std::vector<std::uint8_t>&)> tamper;
};

Coverage named(std::string name) {
    Coverage row;
    row.name = std::move(name);
    return row;
}

struct CoverageRun {
    std::set<std::string> produced;
    std::set<std::string> failed;  // not passed: a fault found, or not judged
};

CoverageRun runCoverage(const Coverage& c, bool failWrites = false) {
    ModelBench bench(c.scenario, c.limits);
    bench.channel.failWrites = failWrites;
    bench.during = c.during;
    bench.tamper = c.tamper;
    bench.run();
    CoverageRun run;
    for (const StepResult& step : bench.runner.steps()) {
        for (const CheckResult& check : step.checks) {
            run.produced.insert(check.id);
            if (!check.passed) {
                run.failed.insert(check.id);
            }
        }
    }
    return run;
}

std::vector<Coverage> coverageTable() {
    std::vector<Coverage> table;
    for (const DefectCase& c : kDefectCases) {
        Coverage row = named(c.defect);
        row.scenario.defects.add(*sim::moduleDefectNamed(c.defect));
        table.push_back(row);
    }
    {
        // The other mains frequency, declared by the profile, unfiltered.
        Coverage row = named("mains-filter-off at 60 Hz");
        row.scenario.mainsHz = 60;
        row.scenario.defects.add(sim::ModuleDefect::MainsFilterOff);
        row.limits.bench.hum50Hz = false;
        row.limits.bench.hum60Hz = true;
        table.push_back(row);
    }
    // The technician's lead-off check: a module that never reports the lead
    // off, one whose electrode stays off, and a prompt nobody answers.
    for (const bool pulled : {false, true}) {
        Coverage row = named(pulled ? "electrode left off" : "lead off not reported");
        row.limits.reports.leadOffCheck = true;
        row.during = [pulled](ModelBench& b) {
            if (!b.runner.prompt().empty()) {
                b.model.setLeadPulled(pulled);
                b.runner.confirmPrompt(b.now);
            }
        };
        table.push_back(row);
    }
    {
        Coverage row = named("prompt unanswered");
        row.limits.reports.leadOffCheck = true;
        row.limits.reports.promptTimeoutSeconds = 5.0;
        table.push_back(row);
    }
    {
        Coverage row = named("lead off at the start");
        row.scenario.leadOff = {0.0, 3.0};
        table.push_back(row);
    }
    {
        Coverage row = named("silent module");
        row.scenario.silence = {0.0, sim::kNever};
        table.push_back(row);
    }
    {
        Coverage row = named("stream stops twice in a step");
        row.scenario.silence = {40.0, 45.0};
        table.push_back(row);
    }
    {
        // A noisy line: invalid bytes in every delivery, so in every step,
        // however short.
        Coverage row = named("line adds invalid bytes");
        row.tamper = [](ModelBench&, std::vector<std::uint8_t>& bytes) {
            bytes.insert(bytes.end(), 4, 252);
        };
        table.push_back(row);
    }
    {
        // Writes fail from the end of step 7 on: the restore cannot send.
        Coverage row = named("port refuses writes at the restore");
        row.during = [](ModelBench& b) {
            const StepResult* step = b.runner.currentStep();
            if (step && step->number == 7 && b.channel.sent.ends_with("D0 ")) {
                b.channel.failWrites = true;
            }
        };
        table.push_back(row);
    }
    return table;
}

// Every check identifier the runner produces has at least one row of the table
// that fails it, and no healthy variant fails any: a check that nothing can
// fail would be vacuous. The identifiers are collected from the runs
// themselves, so a new check joins without being listed here.
TEST(ModuleTestRun, EveryCheckIdentifierHasAFaultThatFailsItAndNoHealthyVariantDoes) {
    std::set<std::string> produced;
    std::map<std::string, std::vector<std::string>> failedBy;
    for (const Coverage& row : coverageTable()) {
        const CoverageRun run = runCoverage(row);
        produced.insert(run.produced.begin(), run.produced.end());
        for (const std::string& id : run.failed) {
            failedBy[id].push_back(row.name);
        }
    }
    const CoverageRun unwritable = runCoverage(named("port refuses every write"), true);
    produced.insert(unwritable.produced.begin(), unwritable.produced.end());
    for (const std::string& id : unwritable.failed) {
        failedBy[id].push_back("port refuses every write");
    }

    std::vector<Coverage> healthy = {named("healthy")};
    for (const char* variant : kHealthyVariants) {
        Coverage row = named(variant);
        row.scenario.defects.add(*sim::moduleDefectNamed(variant));
        healthy.push_back(row);
    }
    for (const Coverage& row : healthy) {
        const CoverageRun run = runCoverage(row);
        produced.insert(run.produced.begin(), run.produced.end());
        EXPECT_TRUE(run.failed.empty()) << row.name << " fails " << *run.failed.begin();
    }

    std::string uncovered;
    for (const std::string& id : produced) {
        if (!failedBy.contains(id)) {
            uncovered += id + " ";
        }
    }
    EXPECT_TRUE(uncovered.empty()) << "no fault fails: " << uncovered;
    EXPECT_GT(produced.size(), 40u);
}

}  // namespace
}  // namespace vitalon::analysis
