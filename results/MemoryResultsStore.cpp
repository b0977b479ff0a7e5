#include "MemoryResultsStore.h"

#include <algorithm>

namespace vitalon::results {

bool matches(const RunRecord& run, const RunFilter& filter) {
    return (filter.serialNumber.empty() || run.serialNumber == filter.serialNumber) &&
           (!filter.since.isValid() || run.startedAt >= filter.since) &&
           (!filter.until.isValid() || run.startedAt < filter.until) &&
           (filter.station.empty() || run.station == filter.station) &&
           (filter.outcome.empty() || run.outcome == filter.outcome) &&
           (filter.operatorName.empty() || run.operatorName == filter.operatorName);
}

StoreResult MemoryResultsStore::store(const RunRecord& run) {
    if (!failure_.empty()) {
        return {StoreStatus::Failed, failure_};
    }
    if (run.uuid.empty()) {
        return {StoreStatus::Failed, "a run without a UUID"};
    }
    const bool known = std::any_of(runs_.begin(), runs_.end(),
                                   [&](const RunRecord& r) { return r.uuid == run.uuid; });
    if (known) {
        return {StoreStatus::AlreadyStored, {}};
    }
    runs_.push_back(run);
    return {StoreStatus::Stored, {}};
}

std::vector<const RunRecord*> MemoryResultsStore::selected(const RunFilter& filter) const {
    std::vector<const RunRecord*> found;
    for (const RunRecord& run : runs_) {
        if (matches(run, filter)) {
            found.push_back(&run);
        }
    }
    // Oldest first; runs that started together in the order stored.
    std::stable_sort(found.begin(), found.end(), [](const RunRecord* a, const RunRecord* b) {
        return a->startedAt.toMSecsSinceEpoch() < b->startedAt.toMSecsSinceEpoch();
    });
    return found;
}

Answer<std::vector<RunRecord>> MemoryResultsStore::runs(const RunFilter& filter) {
    if (!failure_.empty()) {
        return {{}, failure_};
    }
    std::vector<RunRecord> found;
    for (const RunRecord* run : selected(filter)) {
        RunRecord copy = *run;
        copy.checks.clear();
        copy.attachments.clear();
        found.push_back(std::move(copy));
    }
    return {std::move(found), {}};
}

Answer<std::optional<RunRecord>> MemoryResultsStore::run(const std::string& uuid) {
    if (!failure_.empty()) {
        return {{}, failure_};
    }
    for (const RunRecord& run : runs_) {
        if (run.uuid == uuid) {
            return {run, {}};
        }
    }
    return {std::nullopt, {}};
}

Answer<std::vector<CheckValue>> MemoryResultsStore::checkValues(const std::string& checkId,
                                                                const RunFilter& filter) {
    if (!failure_.empty()) {
        return {{}, failure_};
    }
    std::vector<CheckValue> found;
    for (const RunRecord* run : selected(filter)) {
        for (const CheckRecord& check : run->checks) {
            if (check.checkId != checkId) {
                continue;
            }
            found.push_back({run->uuid, run->serialNumber, run->station, run->startedAt,
                             run->outcome, run->limitsName, run->limitsRevision, run->limitsSha256,
                             run->demonstration, check.value, check.low, check.high, check.verdict,
                             check.marginal});
        }
    }
    return {std::move(found), {}};
}

Answer<std::vector<Attempt>> MemoryResultsStore::attempts(const std::string& serialNumber) {
    if (!failure_.empty()) {
        return {{}, failure_};
    }
    RunFilter filter;
    filter.serialNumber = serialNumber;
    std::vector<Attempt> found;
    for (const RunRecord* run : selected(filter)) {
        Attempt attempt{
            run->uuid, run->startedAt, run->station, run->outcome, run->attempt, run->retestReason,
            {}};
        for (const CheckRecord& check : run->checks) {
            if (check.verdict == "fail") {
                attempt.failedChecks.push_back(check.checkId);
            }
        }
        found.push_back(std::move(attempt));
    }
    return {std::move(found), {}};
}

}  // namespace vitalon::results
