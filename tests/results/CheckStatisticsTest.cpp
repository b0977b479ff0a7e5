#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>

#include "CheckStatistics.h"

namespace vitalon::results {
namespace {

using namespace std::chrono;
using namespace std::chrono_literals;

constexpr double kTolerance = 1e-4;

system_clock::time_point at(int year, unsigned month, unsigned day, int hour, int minute = 0) {
    return sys_days(std::chrono::year(year) / month / day) + hours(hour) + minutes(minute);
}

CheckSample sample(double value, std::optional<double> low = 7.0,
                   std::optional<double> high = 13.0) {
    CheckSample s;
    s.value = value;
    s.low = low;
    s.high = high;
    s.unit = "mV";
    s.verdict = (low && value < *low) || (high && value > *high) ? "fail" : "pass";
    s.limitsName = "production";
    s.limitsRevision = "3";
    s.startedAt = at(2026, 12, 1, 9);
    return s;
}

std::vector<CheckSample> samplesOf(std::initializer_list<double> values,
                                   std::optional<double> low = 7.0,
                                   std::optional<double> high = 13.0) {
    std::vector<CheckSample> samples;
    for (const double value : values) {
        samples.push_back(sample(value, low, high));
    }
    return samples;
}

// Capability: the textbook figures, one-sided limits, and the cases with nothing to divide by.
TEST(CheckStatisticsTest, CentredValuesGiveEqualCpAndCpk) {
    const CheckStatistics statistics = checkStatistics(samplesOf({9, 10, 11, 10, 10}));
    ASSERT_EQ(statistics.groups.size(), 1u);
    const CheckGroup& group = statistics.groups[0];
    EXPECT_EQ(group.count, 5);
    EXPECT_NEAR(group.mean, 10.0, kTolerance);
    ASSERT_TRUE(group.standardDeviation);
    EXPECT_NEAR(*group.standardDeviation, std::sqrt(0.5), kTolerance);  // n - 1, not n
    ASSERT_TRUE(group.capability.cp && group.capability.cpk);
    EXPECT_NEAR(*group.capability.cp, 1.41421, kTolerance);
    EXPECT_NEAR(*group.capability.cpk, 1.41421, kTolerance);
    EXPECT_EQ(group.capability.note, "");
    EXPECT_EQ(group.min, 9.0);
    EXPECT_EQ(group.max, 11.0);
    EXPECT_EQ(group.unit, "mV");
}

TEST(CheckStatisticsTest, OffCentreValuesTakeCpkFromTheNearerLimit) {
    const Capability nearHigh = capabilityOf(5, 12.0, std::sqrt(0.5), 8.0, 14.0);
    EXPECT_NEAR(*nearHigh.cp, 1.41421, kTolerance);
    EXPECT_NEAR(*nearHigh.cpk, 2.0 / (3.0 * std::sqrt(0.5)), kTolerance);
    const Capability nearLow = capabilityOf(5, 9.0, std::sqrt(0.5), 8.0, 14.0);
    EXPECT_NEAR(*nearLow.cpk, 1.0 / (3.0 * std::sqrt(0.5)), kTolerance);
    // Outside the limits Cpk goes below zero rather than being clamped.
    const Capability outside = capabilityOf(5, 15.0, 1.0, 8.0, 14.0);
    EXPECT_NEAR(*outside.cpk, -1.0 / 3.0, kTolerance);
}

TEST(CheckStatisticsTest, OneSidedLimitGivesCpkFromThatSideAndNoCp) {
    const CheckGroup high =
        checkStatistics(samplesOf({9, 10, 11, 10, 10}, std::nullopt, 13.0)).groups.at(0);
    EXPECT_FALSE(high.capability.cp);
    ASSERT_TRUE(high.capability.cpk);
    EXPECT_NEAR(*high.capability.cpk, 3.0 / (3.0 * std::sqrt(0.5)), kTolerance);
    EXPECT_EQ(high.capability.note, "one-sided limit");

    const CheckGroup low =
        checkStatistics(samplesOf({9, 10, 11, 10, 10}, 8.0, std::nullopt)).groups.at(0);
    EXPECT_FALSE(low.capability.cp);
    EXPECT_NEAR(*low.capability.cpk, 2.0 / (3.0 * std::sqrt(0.5)), kTolerance);
}

TEST(CheckStatisticsTest, NoSpreadNoLimitsOrOneValueDefineNoCapability) {
    const CheckGroup flat = checkStatistics(samplesOf({5, 5, 5})).groups.at(0);
    EXPECT_EQ(*flat.standardDeviation, 0.0);
    EXPECT_FALSE(flat.capability.cp);
    EXPECT_FALSE(flat.capability.cpk);
    EXPECT_EQ(flat.capability.note, "no spread");

    const CheckGroup single = checkStatistics(samplesOf({5})).groups.at(0);
    EXPECT_FALSE(single.standardDeviation);
    EXPECT_EQ(single.capability.note, "fewer than two values");

    const CheckGroup open =
        checkStatistics(samplesOf({1, 2, 3}, std::nullopt, std::nullopt)).groups.at(0);
    EXPECT_FALSE(open.capability.cpk);
    EXPECT_EQ(open.capability.note, "no limits");
}

TEST(CheckStatisticsTest, LargeOffsetDoesNotSwampTheSpread) {
    const CheckGroup group =
        checkStatistics(samplesOf({1e9 + 1, 1e9 + 2, 1e9 + 3}, std::nullopt, std::nullopt))
            .groups.at(0);
    EXPECT_NEAR(group.mean, 1e9 + 2, 1e-6);
    EXPECT_NEAR(*group.standardDeviation, 1.0, 1e-6);
}

// Grouping: limits revisions apart, demonstrations out, yield from the verdicts.
TEST(CheckStatisticsTest, LimitsRevisionsAreKeptApartNewestFirst) {
    std::vector<CheckSample> samples = samplesOf({10, 11});
    CheckSample newer = sample(20, 15.0, 25.0);
    newer.limitsRevision = "4";
    newer.startedAt = at(2026, 12, 5, 9);
    samples.push_back(newer);
    // Same revision, edited limits: its own group too, so Cp is never taken
    // against limits that half the values were not judged by.
    CheckSample edited = sample(10.5, 7.0, 12.0);
    samples.push_back(edited);

    const CheckStatistics statistics = checkStatistics(samples);
    ASSERT_EQ(statistics.groups.size(), 3u);
    EXPECT_EQ(statistics.groups[0].limitsRevision, "4");
    EXPECT_EQ(statistics.groups[0].count, 1);
    EXPECT_EQ(*statistics.groups[0].low, 15.0);
    int total = 0;
    for (const CheckGroup& group : statistics.groups) {
        total += group.count;
    }
    EXPECT_EQ(total, 4);
}

TEST(CheckStatisticsTest, DemonstrationRunsAreLeftOutAndCounted) {
    std::vector<CheckSample> samples = samplesOf({10, 10.5});
    CheckSample demo = sample(100);
    demo.demonstration = true;
    samples.push_back(demo);
    const CheckStatistics statistics = checkStatistics(samples);
    EXPECT_EQ(statistics.demonstrationsLeftOut, 1);
    ASSERT_EQ(statistics.groups.size(), 1u);
    EXPECT_EQ(statistics.groups[0].count, 2);
    EXPECT_EQ(statistics.groups[0].max, 10.5);

    demo.demonstration = true;
    EXPECT_TRUE(checkStatistics({demo}).groups.empty());
}

TEST(CheckStatisticsTest, YieldCountsJudgedVerdictsOnly) {
    std::vector<CheckSample> samples = samplesOf({10, 10, 14, 6});  // two pass, two fail
    CheckSample incomplete = sample(10);
    incomplete.verdict = "incomplete";
    samples.push_back(incomplete);
    CheckSample unmeasured = sample(10);
    unmeasured.value.reset();
    unmeasured.verdict = "fail";
    samples.push_back(unmeasured);

    const CheckGroup group = checkStatistics(samples).groups.at(0);
    EXPECT_EQ(group.count, 5);  // the unmeasured one has no value
    EXPECT_EQ(group.judged, 5);
    EXPECT_EQ(group.passed, 2);
    EXPECT_NEAR(*group.yield, 0.4, kTolerance);

    CheckSample onlyIncomplete = incomplete;
    EXPECT_FALSE(checkStatistics({onlyIncomplete}).groups.at(0).yield);
}

TEST(CheckStatisticsTest, ValuesThatAreNotNumbersAreNotCounted) {
    std::vector<CheckSample> samples = samplesOf({10, 11});
    samples.push_back(sample(std::numeric_limits<double>::quiet_NaN()));
    samples.push_back(sample(std::numeric_limits<double>::infinity()));
    const CheckGroup group = checkStatistics(samples).groups.at(0);
    EXPECT_EQ(group.count, 2);
    EXPECT_NEAR(group.mean, 10.5, kTolerance);
    EXPECT_EQ(group.histogram.total(), 2);
}

// Histogram: every value in a bin, both limits inside the range, a bin edge on the low limit.
void expectSoundHistogram(const Histogram& histogram, const std::vector<double>& values,
                          std::optional<double> low, std::optional<double> high) {
    ASSERT_FALSE(histogram.counts.empty());
    EXPECT_GT(histogram.binWidth, 0.0);
    EXPECT_EQ(histogram.total(), static_cast<int>(values.size()));
    for (const double value : values) {
        EXPECT_GE(value, histogram.firstEdge);
        EXPECT_LT(value, histogram.lastEdge());
    }
    if (low) {
        EXPECT_GE(*low, histogram.firstEdge);
        EXPECT_LT(*low, histogram.lastEdge());
        const double steps = (*low - histogram.firstEdge) / histogram.binWidth;
        EXPECT_NEAR(steps, std::round(steps), 1e-9) << "the low limit falls inside a bin";
    }
    if (high) {
        EXPECT_GE(*high, histogram.firstEdge);
        EXPECT_LT(*high, histogram.lastEdge());
    }
}

TEST(CheckStatisticsTest, HistogramHoldsEveryValueAndBothLimits) {
    std::vector<double> values;
    for (int i = 0; i < 200; ++i) {
        values.push_back(10.0 + 0.5 * std::sin(i * 0.7));  // spread within the limits
    }
    const Histogram histogram = histogramOf(values, 7.0, 13.0);
    expectSoundHistogram(histogram, values, 7.0, 13.0);
    EXPECT_GE(histogram.counts.size(), 5u);
    EXPECT_LE(histogram.counts.size(), 60u);
    // A value exactly on the high limit is in a bin, not past the last edge.
    const std::vector<double> onLimit = {7.0, 13.0};
    expectSoundHistogram(histogramOf(onLimit, 7.0, 13.0), onLimit, 7.0, 13.0);
}

TEST(CheckStatisticsTest, HistogramBinsStayFewWhenLimitsAreFarFromTheValues) {
    const std::vector<double> values = {10.0, 10.1, 9.9, 10.05, 9.95};
    const Histogram histogram = histogramOf(values, 0.0, 1e6);
    expectSoundHistogram(histogram, values, 0.0, 1e6);
    EXPECT_LE(histogram.counts.size(), 60u);
}

TEST(CheckStatisticsTest, HistogramOfValuesOutsideTheLimitsAndOfOneSide) {
    const std::vector<double> values = {-3.0, 1.0, 2.0, 2.5, 40.0};
    expectSoundHistogram(histogramOf(values, 0.0, 5.0), values, 0.0, 5.0);
    expectSoundHistogram(histogramOf(values, std::nullopt, 5.0), values, std::nullopt, 5.0);
    expectSoundHistogram(histogramOf(values, std::nullopt, std::nullopt), values, std::nullopt,
                         std::nullopt);
}

TEST(CheckStatisticsTest, HistogramOfOneRepeatedValueOrNothing) {
    const std::vector<double> same = {4.2, 4.2, 4.2};
    const Histogram flat = histogramOf(same, std::nullopt, std::nullopt);
    expectSoundHistogram(flat, same, std::nullopt, std::nullopt);
    EXPECT_EQ(*std::max_element(flat.counts.begin(), flat.counts.end()), 3);
    const std::vector<double> zero = {0.0};
    expectSoundHistogram(histogramOf(zero, std::nullopt, std::nullopt), zero, std::nullopt,
                         std::nullopt);
    EXPECT_TRUE(histogramOf({}, std::nullopt, std::nullopt).counts.empty());
    // Only the limits: a range to draw them on, with nothing in it.
    const Histogram limitsOnly = histogramOf({}, 1.0, 2.0);
    EXPECT_FALSE(limitsOnly.counts.empty());
    EXPECT_EQ(limitsOnly.total(), 0);
}

// Over time: the day is the station's, and first-pass yield follows serial numbers.
TEST(CheckStatisticsTest, TrendIsTheMeanPerStationDay) {
    std::vector<CheckSample> samples = samplesOf({10, 12, 11});
    samples[0].startedAt = at(2026, 12, 1, 9);
    samples[1].startedAt = at(2026, 12, 1, 23, 30);  // 00:30 on 2 December at UTC+1
    samples[1].utcOffset = 60min;
    samples[2].startedAt = at(2026, 12, 2, 8);
    const CheckGroup group = checkStatistics(samples).groups.at(0);
    ASSERT_EQ(group.trend.size(), 2u);
    EXPECT_EQ(group.trend[0].day, sys_days(2026y / 12 / 1));
    EXPECT_EQ(group.trend[0].count, 1);
    EXPECT_NEAR(group.trend[0].mean, 10.0, kTolerance);
    EXPECT_EQ(group.trend[1].day, sys_days(2026y / 12 / 2));
    EXPECT_EQ(group.trend[1].count, 2);
    EXPECT_NEAR(group.trend[1].mean, 11.5, kTolerance);
    EXPECT_EQ(group.trend[1].min, 11.0);
    EXPECT_EQ(group.trend[1].max, 12.0);
}

RunSample run(std::string serial, std::string outcome, int attempt,
              system_clock::time_point startedAt) {
    RunSample r;
    r.serialNumber = std::move(serial);
    r.outcome = std::move(outcome);
    r.attempt = attempt;
    r.startedAt = startedAt;
    return r;
}

TEST(CheckStatisticsTest, FirstPassYieldCountsEachSerialNumberOnceOnItsFirstDay) {
    std::vector<RunSample> runs = {
        run("A", "fail", 1, at(2026, 12, 1, 9)),
        run("A", "pass", 2, at(2026, 12, 1, 10)),  // a retest does not make A a first pass
        run("B", "pass", 1, at(2026, 12, 1, 11)),
        run("C", "incomplete", 1, at(2026, 12, 1, 12)),
        run("D", "pass", 1, at(2026, 12, 2, 9)),
        run("B", "pass", 2, at(2026, 12, 2, 10)),
        run("E", "unfinished", 1, at(2026, 12, 2, 11)),
    };
    RunSample demo = run("F", "fail", 1, at(2026, 12, 2, 12));
    demo.demonstration = true;
    runs.push_back(demo);

    const std::vector<DayYield> days = firstPassYieldPerDay(runs);
    ASSERT_EQ(days.size(), 2u);
    EXPECT_EQ(days[0].day, sys_days(2026y / 12 / 1));
    EXPECT_EQ(days[0].firstAttempts, 3);
    EXPECT_EQ(days[0].passedFirstTime, 1);
    EXPECT_NEAR(days[0].yield, 1.0 / 3.0, kTolerance);
    EXPECT_EQ(days[1].firstAttempts, 1);
    EXPECT_NEAR(days[1].yield, 1.0, kTolerance);
}

TEST(CheckStatisticsTest, FirstPassYieldWithoutAttemptNumbersTakesTheEarliestRun) {
    const std::vector<DayYield> days = firstPassYieldPerDay({
        run("A", "pass", 0, at(2026, 12, 3, 10)),
        run("A", "fail", 0, at(2026, 12, 3, 9)),
        run("B", "pass", 0, at(2026, 12, 3, 11)),
    });
    ASSERT_EQ(days.size(), 1u);
    EXPECT_EQ(days[0].firstAttempts, 2);
    EXPECT_EQ(days[0].passedFirstTime, 1);
}

}  // namespace
}  // namespace vitalon::results
