#include "CheckStatistics.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>
#include <tuple>
#include <unordered_map>

namespace vitalon::results {

namespace {

constexpr std::size_t kFewestBins = 5;

// Mean and spread in one pass (Welford), steady for values far from zero.
struct Moments {
    int count = 0;
    double mean = 0.0;
    double squares = 0.0;
    double min = 0.0;
    double max = 0.0;

    void add(double value) {
        ++count;
        if (count == 1) {
            min = max = value;
        }
        min = std::min(min, value);
        max = std::max(max, value);
        const double delta = value - mean;
        mean += delta / count;
        squares += delta * (value - mean);
    }
    std::optional<double> standardDeviation() const {
        if (count < 2) {
            return std::nullopt;
        }
        return std::sqrt(std::max(0.0, squares / (count - 1)));
    }
};

// The smallest of 1, 2, 2.5, 5 times a power of ten that is at least `width`:
// edges a reader can name.
double roundWidthUp(double width) {
    const double power = std::pow(10.0, std::floor(std::log10(width)));
    for (const double step : {1.0, 2.0, 2.5, 5.0, 10.0}) {
        if (step * power >= width) {
            return step * power;
        }
    }
    return 10.0 * power;
}

// The largest such width that is at most `width`.
double roundWidthDown(double width) {
    const double power = std::pow(10.0, std::floor(std::log10(width)));
    for (const double step : {5.0, 2.5, 2.0, 1.0}) {
        if (step * power <= width) {
            return step * power;
        }
    }
    return power;
}

bool finite(const std::optional<double>& value) {
    return value && std::isfinite(*value);
}

}  // namespace

int Histogram::total() const {
    return std::accumulate(counts.begin(), counts.end(), 0);
}

std::chrono::sys_days dayOf(std::chrono::system_clock::time_point at,
                            std::chrono::minutes utcOffset) {
    return std::chrono::floor<std::chrono::days>(at + utcOffset);
}

Capability capabilityOf(int count, double mean, std::optional<double> standardDeviation,
                        std::optional<double> low, std::optional<double> high) {
    Capability capability;
    if (!low && !high) {
        capability.note = "no limits";
        return capability;
    }
    if (count < 2 || !standardDeviation) {
        capability.note = "fewer than two values";
        return capability;
    }
    const double sd = *standardDeviation;
    // Against the size of the values, not exactly zero: identical values read
    // back from text may differ in their last bit.
    if (!(sd > 1e-12 * std::max(1.0, std::abs(mean)))) {
        capability.note = "no spread";
        return capability;
    }
    if (low && high) {
        capability.cp = (*high - *low) / (6.0 * sd);
        capability.cpk = std::min(*high - mean, mean - *low) / (3.0 * sd);
    } else {
        capability.cpk = high ? (*high - mean) / (3.0 * sd) : (mean - *low) / (3.0 * sd);
        capability.note = "one-sided limit";
    }
    return capability;
}

Histogram histogramOf(const std::vector<double>& values, std::optional<double> low,
                      std::optional<double> high, std::size_t maxBins) {
    Histogram histogram;
    Moments moments;
    for (const double value : values) {
        if (std::isfinite(value)) {
            moments.add(value);
        }
    }
    if (!finite(low)) {
        low.reset();
    }
    if (!finite(high)) {
        high.reset();
    }
    if (moments.count == 0 && !low && !high) {
        return histogram;
    }
    maxBins = std::max(maxBins, kFewestBins);
    double lo = moments.count > 0 ? moments.min : (low ? *low : *high);
    double hi = moments.count > 0 ? moments.max : lo;
    for (const std::optional<double>& limit : {low, high}) {
        if (limit) {
            lo = std::min(lo, *limit);
            hi = std::max(hi, *limit);
        }
    }
    const double range = hi - lo;
    double width = 0.0;
    const std::optional<double> sd = moments.standardDeviation();
    if (sd && *sd > 0.0) {
        // Scott's rule: about right for values near a normal distribution.
        width = 3.49 * *sd / std::cbrt(static_cast<double>(moments.count));
    }
    if (range > 0.0) {
        const double widest = range / static_cast<double>(kFewestBins);
        if (width <= 0.0 || width >= widest) {
            width = roundWidthDown(widest);
        } else {
            width = roundWidthUp(std::max(width, range / static_cast<double>(maxBins - 1)));
        }
    } else if (width <= 0.0) {
        // One value and no other limit: one bin of a width in proportion to it.
        width = roundWidthUp(std::abs(lo) > 0.0 ? std::abs(lo) * 0.01 : 1.0);
    } else {
        width = roundWidthUp(width);
    }
    const double anchor = low ? *low : (high ? *high : lo);
    histogram.binWidth = width;
    histogram.firstEdge = anchor - std::ceil((anchor - lo) / width) * width;
    // The top of the range falls inside the last bin, never on its upper edge.
    const auto bins = static_cast<std::size_t>(std::floor((hi - histogram.firstEdge) / width)) + 1;
    histogram.counts.assign(bins, 0);
    for (const double value : values) {
        if (!std::isfinite(value)) {
            continue;
        }
        const double position = std::floor((value - histogram.firstEdge) / width);
        const auto index = static_cast<std::size_t>(
            std::clamp(position, 0.0, static_cast<double>(histogram.counts.size() - 1)));
        ++histogram.counts[index];
    }
    return histogram;
}

CheckStatistics checkStatistics(const std::vector<CheckSample>& samples) {
    using Key = std::tuple<std::string, std::string, std::optional<double>, std::optional<double>>;
    std::map<Key, std::vector<const CheckSample*>> byLimits;
    CheckStatistics statistics;
    for (const CheckSample& sample : samples) {
        if (sample.demonstration) {
            ++statistics.demonstrationsLeftOut;
            continue;
        }
        byLimits[Key(sample.limitsName, sample.limitsRevision,
                     finite(sample.low) ? sample.low : std::nullopt,
                     finite(sample.high) ? sample.high : std::nullopt)]
            .push_back(&sample);
    }
    for (auto& [key, members] : byLimits) {
        CheckGroup group;
        std::tie(group.limitsName, group.limitsRevision, group.low, group.high) = key;
        Moments moments;
        std::vector<double> values;
        std::map<std::chrono::sys_days, Moments> days;
        group.newest = std::chrono::system_clock::time_point::min();
        auto unitAt = std::chrono::system_clock::time_point::min();
        for (const CheckSample* sample : members) {
            group.newest = std::max(group.newest, sample->startedAt);
            // The newest run names the unit.
            if (!sample->unit.empty() && sample->startedAt >= unitAt) {
                group.unit = sample->unit;
                unitAt = sample->startedAt;
            }
            if (sample->verdict == "pass" || sample->verdict == "fail") {
                ++group.judged;
                group.passed += sample->verdict == "pass" ? 1 : 0;
            }
            if (finite(sample->value)) {
                moments.add(*sample->value);
                values.push_back(*sample->value);
                days[dayOf(sample->startedAt, sample->utcOffset)].add(*sample->value);
            }
        }
        group.count = moments.count;
        group.mean = moments.mean;
        group.min = moments.min;
        group.max = moments.max;
        group.standardDeviation = moments.standardDeviation();
        group.capability =
            capabilityOf(group.count, group.mean, group.standardDeviation, group.low, group.high);
        if (group.judged > 0) {
            group.yield = static_cast<double>(group.passed) / group.judged;
        }
        group.histogram = histogramOf(values, group.low, group.high);
        for (const auto& [day, dayMoments] : days) {
            group.trend.push_back(
                {day, dayMoments.count, dayMoments.mean, dayMoments.min, dayMoments.max});
        }
        statistics.groups.push_back(std::move(group));
    }
    std::stable_sort(statistics.groups.begin(), statistics.groups.end(),
                     [](const CheckGroup& a, const CheckGroup& b) { return a.newest > b.newest; });
    return statistics;
}

std::vector<DayYield> firstPassYieldPerDay(const std::vector<RunSample>& runs) {
    std::unordered_map<std::string, std::chrono::system_clock::time_point> earliest;
    for (const RunSample& run : runs) {
        if (run.demonstration) {
            continue;
        }
        const auto [it, inserted] = earliest.try_emplace(run.serialNumber, run.startedAt);
        if (!inserted) {
            it->second = std::min(it->second, run.startedAt);
        }
    }
    std::map<std::chrono::sys_days, DayYield> days;
    for (const RunSample& run : runs) {
        if (run.demonstration || run.outcome == "unfinished") {
            continue;
        }
        const bool first = run.attempt == 1 ||
                           (run.attempt <= 0 && earliest.at(run.serialNumber) == run.startedAt);
        if (!first) {
            continue;
        }
        const std::chrono::sys_days day = dayOf(run.startedAt, run.utcOffset);
        DayYield& yield = days[day];
        yield.day = day;
        ++yield.firstAttempts;
        yield.passedFirstTime += run.outcome == "pass" ? 1 : 0;
    }
    std::vector<DayYield> result;
    for (auto& [day, yield] : days) {
        yield.yield = static_cast<double>(yield.passedFirstTime) / yield.firstAttempts;
        result.push_back(yield);
    }
    return result;
}

}  // namespace vitalon::results
