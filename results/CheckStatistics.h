#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace vitalon::results {

// One stored value of one check, with what is needed to group and date it.
struct CheckSample {
    std::optional<double> value;  // none: the check ran but measured nothing
    std::optional<double> low;    // the check's limits in the run's limits file
    std::optional<double> high;
    std::string unit;
    std::string verdict;  // "pass", "fail", "incomplete", ... as stored
    std::string limitsName;
    std::string limitsRevision;
    bool demonstration = false;  // a simulated module: never counted
    std::chrono::system_clock::time_point startedAt;
    // The station's offset from UTC when the run started: a run belongs to the
    // day on which the station's clock saw it start.
    std::chrono::minutes utcOffset{0};
};

// How close the values come to the limits. Cp needs both limits; Cpk is taken
// from the side that exists when only one does. Neither is defined without a
// spread: `note` then says why.
struct Capability {
    std::optional<double> cp;
    std::optional<double> cpk;
    std::string note;  // empty, "no spread", "fewer than two values", "no limits",
                       // "one-sided limit"
};

// Equal-width bins over a range that holds every value and both limits. The
// edges start on the low limit (else the high limit) so no bin straddles it.
struct Histogram {
    double firstEdge = 0.0;
    double binWidth = 0.0;
    std::vector<int> counts;

    double lastEdge() const { return firstEdge + binWidth * static_cast<double>(counts.size()); }
    int total() const;
};

struct DayMean {
    std::chrono::sys_days day;
    int count = 0;
    double mean = 0.0;
    double min = 0.0;
    double max = 0.0;
};

// The values of one check under one pair of limits of one limits revision.
struct CheckGroup {
    std::string limitsName;
    std::string limitsRevision;
    std::optional<double> low;
    std::optional<double> high;
    std::string unit;
    int count = 0;  // values
    double mean = 0.0;
    std::optional<double> standardDeviation;  // sample (n - 1); none below two values
    double min = 0.0;
    double max = 0.0;
    Capability capability;
    int passed = 0;               // verdict "pass"
    int judged = 0;               // verdict "pass" or "fail"
    std::optional<double> yield;  // passed / judged; none when nothing was judged
    Histogram histogram;
    std::vector<DayMean> trend;  // oldest day first
    std::chrono::system_clock::time_point newest;
};

struct CheckStatistics {
    std::vector<CheckGroup> groups;  // the group with the newest run first
    int demonstrationsLeftOut = 0;
};

// Groups the samples by limits name, revision and the check's limits (a limits
// file edited without a new revision still gives its own group), leaves
// demonstration runs out, and computes each group's figures.
CheckStatistics checkStatistics(const std::vector<CheckSample>& samples);

Capability capabilityOf(int count, double mean, std::optional<double> standardDeviation,
                        std::optional<double> low, std::optional<double> high);

// `maxBins` bounds the bins when the limits lie far from the values.
Histogram histogramOf(const std::vector<double>& values, std::optional<double> low,
                      std::optional<double> high, std::size_t maxBins = 60);

// One run, as first-pass yield needs it.
struct RunSample {
    std::string serialNumber;
    std::string outcome;  // "pass", "fail", "incomplete", "unfinished"
    int attempt = 0;      // 1 for the first test of a serial number; 0: not known
    bool demonstration = false;
    std::chrono::system_clock::time_point startedAt;
    std::chrono::minutes utcOffset{0};
};

struct DayYield {
    std::chrono::sys_days day;
    int firstAttempts = 0;  // serial numbers tested for the first time that day
    int passedFirstTime = 0;
    double yield = 0.0;  // passedFirstTime / firstAttempts
};

// Per day, of the serial numbers first tested that day, the share that passed
// at once. A run is a first attempt when its attempt number is 1; without an
// attempt number, when it is the earliest run of its serial number given. An
// incomplete first attempt did not pass; an unfinished one is not counted.
// Demonstration runs are left out. Oldest day first.
std::vector<DayYield> firstPassYieldPerDay(const std::vector<RunSample>& runs);

std::chrono::sys_days dayOf(std::chrono::system_clock::time_point at,
                            std::chrono::minutes utcOffset);

}  // namespace vitalon::results
