#include "StatisticsSamples.h"

#include <QDateTime>
#include <chrono>

namespace vitalon::results {

namespace {

std::chrono::system_clock::time_point timePointOf(const QDateTime& at) {
    return std::chrono::system_clock::time_point(std::chrono::milliseconds(at.toMSecsSinceEpoch()));
}

std::chrono::minutes offsetOf(const QDateTime& at) {
    return std::chrono::minutes(at.offsetFromUtc() / 60);
}

}  // namespace

std::vector<CheckSample> checkSamplesOf(const std::vector<CheckValue>& values,
                                        const std::string& unit) {
    std::vector<CheckSample> samples;
    samples.reserve(values.size());
    for (const CheckValue& v : values) {
        CheckSample sample;
        sample.value = v.value;
        sample.low = v.low;
        sample.high = v.high;
        sample.unit = unit;
        sample.verdict = v.verdict;
        sample.limitsName = v.limitsName;
        sample.limitsRevision = v.limitsRevision;
        sample.demonstration = v.demonstration;
        sample.startedAt = timePointOf(v.startedAt);
        sample.utcOffset = offsetOf(v.startedAt);
        samples.push_back(std::move(sample));
    }
    return samples;
}

std::vector<RunSample> runSamplesOf(const std::vector<RunRecord>& runs) {
    std::vector<RunSample> samples;
    samples.reserve(runs.size());
    for (const RunRecord& run : runs) {
        samples.push_back({run.serialNumber, run.outcome, run.attempt, run.demonstration,
                           timePointOf(run.startedAt), offsetOf(run.startedAt)});
    }
    return samples;
}

}  // namespace vitalon::results
