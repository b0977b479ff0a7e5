#include "TestReport.h"

namespace vitalon::report {

using analysis::StepResult;
using analysis::TestOutcome;
using analysis::Verdict;

TestReport collectReport(const analysis::ModuleTestRunner& runner, RunFacts facts) {
    return {std::move(facts), runner.outcome(), runner.steps(), runner.pictures(), runner.limits()};
}

std::string outcomeText(TestOutcome outcome) {
    switch (outcome) {
        case TestOutcome::Passed:
            return "PASS";
        case TestOutcome::Failed:
            return "FAIL";
        case TestOutcome::Cancelled:
        case TestOutcome::NoModule:
        case TestOutcome::Incomplete:
            return "INCOMPLETE";
        case TestOutcome::NotStarted:
        case TestOutcome::Running:
            break;
    }
    return "UNFINISHED";
}

std::string outcomeKey(TestOutcome outcome) {
    switch (outcome) {
        case TestOutcome::Passed:
            return "pass";
        case TestOutcome::Failed:
            return "fail";
        case TestOutcome::Cancelled:
        case TestOutcome::NoModule:
        case TestOutcome::Incomplete:
            return "incomplete";
        case TestOutcome::NotStarted:
        case TestOutcome::Running:
            break;
    }
    return "unfinished";
}

std::string incompleteBecause(TestOutcome outcome) {
    switch (outcome) {
        case TestOutcome::Cancelled:
            return "cancelled";
        case TestOutcome::NoModule:
            return "no-module";
        case TestOutcome::Incomplete:
            return "not-judged";
        case TestOutcome::Passed:
        case TestOutcome::Failed:
        case TestOutcome::NotStarted:
        case TestOutcome::Running:
            break;
    }
    return {};
}

std::string verdictKey(Verdict verdict) {
    switch (verdict) {
        case Verdict::Pending:
            return "pending";
        case Verdict::Running:
            return "running";
        case Verdict::Passed:
            return "pass";
        case Verdict::Failed:
            return "fail";
        case Verdict::Skipped:
            return "skipped";
        case Verdict::Cancelled:
            return "cancelled";
        case Verdict::Incomplete:
            return "incomplete";
    }
    return "pending";
}

std::vector<const StepResult*> failedSteps(const TestReport& report) {
    std::vector<const StepResult*> failed;
    for (const StepResult& step : report.steps) {
        if (step.verdict == Verdict::Failed) {
            failed.push_back(&step);
        }
    }
    return failed;
}

namespace {

std::optional<analysis::HostTime> testStart(const TestReport& report) {
    for (const StepResult& step : report.steps) {
        if (step.started) {
            return step.started;
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<double> stepStartSeconds(const TestReport& report, const StepResult& step) {
    const auto start = testStart(report);
    if (!start || !step.started) {
        return std::nullopt;
    }
    return analysis::secondsBetween(*start, *step.started);
}

std::optional<double> stepDurationSeconds(const StepResult& step) {
    if (!step.started || !step.finished) {
        return std::nullopt;
    }
    return analysis::secondsBetween(*step.started, *step.finished);
}

std::optional<double> testDurationSeconds(const TestReport& report) {
    const auto start = testStart(report);
    std::optional<analysis::HostTime> end;
    for (const StepResult& step : report.steps) {
        if (step.finished && (!end || *step.finished > *end)) {
            end = step.finished;
        }
    }
    if (!start || !end) {
        return std::nullopt;
    }
    return analysis::secondsBetween(*start, *end);
}

}  // namespace vitalon::report
