#pragma once

#include <QTimeZone>
#include <string>

#include "RunRecord.h"

namespace vitalon::testing {

// A run with every field set, the awkward ones included: an unmeasured value,
// one-sided limits, a marginal pass, text outside ASCII, start and end at
// different offsets from UTC.
inline results::RunRecord sampleRun(const std::string& uuid, const std::string& serial,
                                    qint64 startMs, const std::string& outcome = "pass") {
    results::RunRecord run;
    run.uuid = uuid;
    run.serialNumber = serial;
    run.operatorName = "Zoë O'Neil";
    run.station = "bench-2";
    run.startedAt = QDateTime::fromMSecsSinceEpoch(startMs, QTimeZone(3600));
    run.endedAt = QDateTime::fromMSecsSinceEpoch(startMs + 131'250, QTimeZone(7200));
    run.outcome = outcome;
    run.limitsName = "TR71000 production";
    run.limitsRevision = "2026-12-08";
    run.limitsSha256 = std::string(64, 'a');
    run.demonstration = false;
    run.vitalonVersion = "1.4.0";
    run.vitalonCommit = "e46bbac";
    run.adapter = "FTDI FT232R A10K3Z";
    run.attempt = 2;
    run.retestReason = "fixture cable replaced";
    run.checks = {
        {"rate.s1", "sample rate at S1", 100.25, "/s", 99.0, 101.0, "pass", false},
        {"mains.rejection", "mains rejection", 41.5, "dB", 40.0, std::nullopt, "pass", true},
        {"link.errors", "link errors", std::nullopt, "", std::nullopt, 0.0, "incomplete", false},
        {"cal.a2.height", "calibration pulse height", 0.875, "mV", 0.95, 1.05,
         outcome == "fail" ? "fail" : "pass", false},
    };
    run.attachments = {{"pdf", "/home/op/Vitalon Reports/SN 1.pdf", std::string(64, 'b')},
                       {"edf", "/home/op/Vitalon Reports/SN 1.edf", ""}};
    return run;
}

}  // namespace vitalon::testing
