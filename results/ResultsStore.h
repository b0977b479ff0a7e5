#pragma once

#include <QDateTime>
#include <optional>
#include <string>
#include <vector>

#include "RunRecord.h"

namespace vitalon::results {

// Which runs a question is about; an empty field does not filter.
struct RunFilter {
    std::string serialNumber;
    QDateTime since;  // started at or after; invalid: no bound
    QDateTime until;  // started before; invalid: no bound
    std::string station;
    std::string outcome;  // "pass", "fail", ...
    std::string operatorName;
};

// A store's answer: the value, or what went wrong (a sentence for the user,
// never with a password in it).
template <typename T>
struct Answer {
    T value{};
    std::string error;

    bool ok() const { return error.empty(); }
};

enum class StoreStatus {
    Stored,         // the run, its checks and attachments are written
    AlreadyStored,  // a run with this identifier is there: nothing written
    Failed,         // nothing written; the error says why
};

struct StoreResult {
    StoreStatus status = StoreStatus::Failed;
    std::string error;
};

// One value of one check in one run, with what a statistic groups and
// filters by.
struct CheckValue {
    std::string runUuid;
    std::string serialNumber;
    std::string station;
    QDateTime startedAt;
    std::string outcome;
    std::string limitsName;
    std::string limitsRevision;
    std::string limitsSha256;
    bool demonstration = false;
    std::optional<double> value;
    std::optional<double> low;
    std::optional<double> high;
    std::string verdict;
    bool marginal = false;
};

// An earlier test of a serial number, as its history shows it.
struct Attempt {
    std::string runUuid;
    QDateTime startedAt;
    std::string station;
    std::string outcome;
    int attempt = 1;
    std::string retestReason;
    std::vector<std::string> failedChecks;  // check identifiers, in check order
};

// Where finished module tests are kept. Every call completes before it returns
// and says what went wrong in its answer; none throws.
class ResultsStore {
public:
    virtual ~ResultsStore() = default;

    // Writes the run with its checks and attachments, all or nothing. A run
    // whose identifier is already stored is left as it is (AlreadyStored), so
    // sending a run twice is harmless.
    virtual StoreResult store(const RunRecord& run) = 0;
    // The runs the filter selects, oldest first, without their checks and
    // attachments.
    virtual Answer<std::vector<RunRecord>> runs(const RunFilter& filter) = 0;
    // One run with its checks and attachments; nothing when it is not stored.
    virtual Answer<std::optional<RunRecord>> run(const std::string& uuid) = 0;
    // Every stored value of one check in the runs the filter selects, oldest
    // run first.
    virtual Answer<std::vector<CheckValue>> checkValues(const std::string& checkId,
                                                        const RunFilter& filter) = 0;
    // Every earlier test of a serial number, oldest first.
    virtual Answer<std::vector<Attempt>> attempts(const std::string& serialNumber) = 0;
};

}  // namespace vitalon::results
