#include "RunRecord.h"

#include <QTimeZone>
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

// The station's time at that instant, kept with its offset from UTC: in its
// named zone, or the system's when it names none (or one unknown here).
QDateTime stationTime(std::chrono::system_clock::time_point at, const std::string& zoneId) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch());
    const QTimeZone zone(QByteArray::fromStdString(zoneId));
    const QDateTime local = zone.isValid() ? QDateTime::fromMSecsSinceEpoch(ms.count(), zone)
                                           : QDateTime::fromMSecsSinceEpoch(ms.count());
    return local.toOffsetFromUtc(local.offsetFromUtc());
}

// "FTDI FT232R USB UART usb 0403:6001 serial A10K3Z"; the device for an
// adapter the system tells nothing about.
std::string adapterOf(const report::PortFacts& port) {
    std::string text;
    auto add = [&text](const std::string& part) {
        if (!part.empty()) {
            text += (text.empty() ? "" : " ") + part;
        }
    };
    add(port.manufacturer);
    add(port.description);
    if (port.usb) {
        add(QStringLiteral("usb %1:%2")
                .arg(port.usbVendorId, 4, 16, QLatin1Char('0'))
                .arg(port.usbProductId, 4, 16, QLatin1Char('0'))
                .toStdString());
    }
    if (!port.adapterSerialNumber.empty()) {
        add("serial " + port.adapterSerialNumber);
    }
    if (text.empty()) {
        add(port.device);
    }
    return text;
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
        run.startedAt = stationTime(facts.startedAt, facts.timeZone);
    }
    if (facts.endedAt) {
        run.endedAt = stationTime(*facts.endedAt, facts.timeZone);
    }
    run.outcome = report::outcomeKey(report.outcome);
    run.limitsName = report.limits.name;
    run.limitsRevision = report.limits.revision;
    run.limitsSha256 = report.limits.sha256;
    run.demonstration = !facts.notices.empty();
    run.vitalonVersion = facts.vitalonVersion;
    run.vitalonCommit = facts.buildCommit;
    run.adapter = adapterOf(facts.port);
    run.attempt = identity.attempt > 0 ? identity.attempt : facts.attempt;
    run.retestReason = std::move(identity.retestReason);
    for (const analysis::StepResult& step : report.steps) {
        for (const analysis::CheckResult& check : step.checks) {
            run.checks.push_back(
                {check.id, check.name, check.measured, check.unit, finiteOrNothing(check.limit.min),
                 finiteOrNothing(check.limit.max), checkVerdict(check), check.marginal});
        }
    }
    run.attachments = std::move(identity.attachments);
    for (const report::RecordedFile& recording : facts.recordings) {
        run.attachments.push_back({"edf", recording.name, recording.sha256});
    }
    return run;
}

}  // namespace vitalon::results
