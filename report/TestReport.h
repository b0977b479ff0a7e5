#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "ModuleTestRunner.h"

namespace vitalon::report {

// What the report says about the run besides the measurements: who tested
// which module where, with which program and limits.
struct RunFacts {
    std::string serialNumber;
    std::string operatorName;
    std::string station;  // the host name of the test bench
    std::chrono::system_clock::time_point startedAt;
    std::string vitalonVersion;
    std::string limitsPath;     // empty: the built-in limits
    std::string recordingFile;  // the EDF+ recording of the run; empty: none
    // What the result is not worth, on every page, e.g. "simulated module, not
    // a module result" (analysis::runNotices); empty for a production run.
    std::vector<std::string> notices;
};

// A finished test as the report files show it: a copy, so the runner may be
// started again or go away while the files are written.
struct TestReport {
    RunFacts facts;
    analysis::TestOutcome outcome = analysis::TestOutcome::NotStarted;
    std::vector<analysis::StepResult> steps;
    analysis::TestPictures pictures;
    analysis::TestLimits limits;
};

TestReport collectReport(const analysis::ModuleTestRunner& runner, RunFacts facts);

// "PASS", "FAIL", "INCOMPLETE" (cancelled, no module, or a check that could
// not be judged), "UNFINISHED".
std::string outcomeText(analysis::TestOutcome outcome);
// The same for databases: "pass", "fail", "incomplete", "unfinished".
std::string outcomeKey(analysis::TestOutcome outcome);
// Why an outcome is incomplete: "cancelled", "no-module", "not-judged"; empty
// for any other outcome.
std::string incompleteBecause(analysis::TestOutcome outcome);
// "pass", "fail", "incomplete", "skipped", "cancelled", "pending", "running".
std::string verdictKey(analysis::Verdict verdict);

std::vector<const analysis::StepResult*> failedSteps(const TestReport& report);

// Seconds from the start of the first step; nothing for a step that did not run.
std::optional<double> stepStartSeconds(const TestReport& report, const analysis::StepResult& step);
std::optional<double> stepDurationSeconds(const analysis::StepResult& step);
// From the start of the first step to the end of the last one that ran.
std::optional<double> testDurationSeconds(const TestReport& report);

}  // namespace vitalon::report
