#include "RunRecord.h"

#include <QUuid>
#include <chrono>
#include <cmath>

#include "TestReport.h"

namespace vitalon::results {

namespace {

std::optional<double> finiteOrNothing(double limit) {
    return std::isfinite(limit) ? std::optional<double>(limit) : std::nullopt;
}

std::string checkVerdict(const analysis::CheckResult& check) {
    if (!check.judged) {
        return "incomplete";
    }
    return check.passed ? "pass" : "fail";
}

// The station's local time at that instant, kept with its offset from UTC.
QDateTime localWithOffset(std::chrono::system_clock::time_point at) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch());
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(ms.count());
    return local.toOffsetFromUtc(local.offsetFromUtc());
}

}  // namespace

std::string newRunUuid() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString();
}

RunRecord runRecordOf(const report::TestReport& report, RunIdentity identity) {
    const report::RunFacts& facts = report.facts;
    RunRecord run;
    run.uuid = identity.uuid.empty() ? newRunUuid() : std::move(identity.uuid);
    run.serialNumber = facts.serialNumber;
    run.operatorName = facts.operatorName;
    run.station = facts.station;
    if (facts.startedAt != std::chrono::system_clock::time_point{}) {
        run.startedAt = localWithOffset(facts.startedAt);
    }
    run.outcome = report::outcomeKey(report.outcome);
    run.limitsName = report.limits.name;
    run.limitsRevision = report.limits.revision;
    run.limitsSha256 = report.limits.sha256;
    run.demonstration = !facts.notices.empty();
    run.vitalonVersion = facts.vitalonVersion;
    run.attempt = identity.attempt;
    run.retestReason = std::move(identity.retestReason);
    for (const analysis::StepResult& step : report.steps) {
        for (const analysis::CheckResult& check : step.checks) {
            run.checks.push_back(
                {check.id, check.name, check.measured, check.unit, finiteOrNothing(check.limit.min),
                 finiteOrNothing(check.limit.max), checkVerdict(check), check.marginal});
        }
    }
    run.attachments = std::move(identity.attachments);
    return run;
}

}  // namespace vitalon::results
