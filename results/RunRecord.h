#pragma once

#include <QDateTime>
#include <optional>
#include <string>
#include <vector>

namespace vitalon::report {
struct TestReport;
}

namespace vitalon::results {

// One measured quantity of a run as the results store keeps it.
struct CheckRecord {
    std::string checkId;          // stable identifier, e.g. "rate.s1"
    std::string name;             // e.g. "sample rate at S1"
    std::optional<double> value;  // nothing: could not be measured
    std::string unit;
    std::optional<double> low;   // nothing: no lower limit
    std::optional<double> high;  // nothing: no upper limit
    std::string verdict;         // "pass", "fail", "incomplete", ... (report::verdictKey)
    bool marginal = false;

    bool operator==(const CheckRecord&) const = default;
};

// A file that belongs to a run: its report, its recording.
struct AttachmentRecord {
    std::string kind;  // "pdf", "html", "json", "edf"
    std::string path;
    std::string sha256;  // hexadecimal, lower case; empty when not known

    bool operator==(const AttachmentRecord&) const = default;
};

// A finished module test as the results store keeps it. Times carry the
// station's offset from UTC, so a run reads back at the local time it ran.
struct RunRecord {
    std::string uuid;  // lower case, no braces; the key that makes a resend harmless
    std::string serialNumber;
    std::string operatorName;
    std::string station;
    QDateTime startedAt;
    QDateTime endedAt;    // invalid: not known
    std::string outcome;  // "pass", "fail", "incomplete", "unfinished" (report::outcomeKey)
    std::string limitsName;
    std::string limitsRevision;
    std::string limitsSha256;  // empty: the built-in limits
    // A simulated module, a replay, demonstration or built-in limits: not a
    // production result, left out of a production statistic.
    bool demonstration = false;
    std::string vitalonVersion;
    std::string vitalonCommit;
    std::string adapter;  // the serial adapter: maker, product, USB ids, serial number
    int attempt = 1;      // 1 for the first test of this serial number
    std::string retestReason;
    std::vector<CheckRecord> checks;
    std::vector<AttachmentRecord> attachments;

    bool operator==(const RunRecord&) const = default;
};

// A new random run identifier in RunRecord::uuid's form.
std::string newRunUuid();

// What the report does not say about a run: its identifier, which attempt it
// is and why it was repeated, and its files.
struct RunIdentity {
    std::string uuid;  // empty: a new one
    int attempt = 0;   // 0: the report's own attempt number
    std::string retestReason;
    std::vector<AttachmentRecord> attachments;  // the report files; recordings come from the report
};

// The record of a finished test: its facts, outcome, limits identity and every
// check of every step in step order. Times are kept at their offset from UTC
// in the station's time zone. The attachments are `identity`'s followed by
// the run's recordings ("edf", by file name). The run counts as a
// demonstration when the report carries a notice (simulated module,
// demonstration limits).
RunRecord runRecordOf(const report::TestReport& report, RunIdentity identity = {});

}  // namespace vitalon::results
