#pragma once

#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "HostTime.h"

namespace vitalon::analysis {

inline constexpr double kUnbounded = std::numeric_limits<double>::infinity();

// An accepted range, both ends included; an infinite end is open.
struct Range {
    double min = -kUnbounded;
    double max = kUnbounded;

    bool contains(double value) const { return value >= min && value <= max; }
    bool operator==(const Range&) const = default;
};

// Range helpers: nominal +- tolerance, and one-sided limits.
Range around(double nominal, double tolerance);
Range atLeast(double min);
Range atMost(double max);

// One measured quantity against its limit.
struct CheckResult {
    // Stable identifier of the check, e.g. "rate.s1" or "cal.a2.height": the
    // same check keeps it from run to run and release to release, so that
    // results can be compared and counted by it. Lower case, dot-separated.
    std::string id;
    std::string name;                // e.g. "sample rate at S1"
    std::optional<double> measured;  // nothing: could not be measured
    std::string unit;                // e.g. "/s", "counts", "dB"; may be empty
    Range limit;
    int decimals = 1;  // for the texts
    bool passed = false;
    // False when the module could not be judged by this check (e.g. there was
    // nothing on the line to measure it by): neither a pass nor a fault.
    bool judged = true;
    // Passed, but within the marginal fraction of the limit (isMarginal).
    bool marginal = false;
    std::string reason;  // a sentence with the value and the limit

    std::string measuredText() const;  // "100.3 /s", or "not measured"
    std::string limitText() const;     // "99.0 to 101.0 /s", "at least 20.0 dB"
};

// Judges `measured` against `limit`. The reason always names the measured
// value (or why there is none) and the limit; `detail` adds what it came from.
CheckResult judge(std::string id, std::string name, std::optional<double> measured,
                  std::string unit, Range limit, int decimals = 1, std::string_view detail = {},
                  std::string_view whyNotMeasured = "not measured");

// Whether a passed value lies within `fraction` of its limit: for a range
// with both ends, within fraction x (max - min) of either end; for a one-sided
// limit, within fraction x |limit| of it (a one-sided limit of 0 has no
// margin to measure by and is never marginal). Failed and unmeasured checks
// are not marginal.
bool isMarginal(const CheckResult& check, double fraction);

// Incomplete: the step could not judge the module (a check that could not be
// judged and none failed); neither PASS nor FAIL.
enum class Verdict { Pending, Running, Passed, Failed, Skipped, Cancelled, Incomplete };
std::string_view verdictText(Verdict verdict);  // "PASS", "FAIL", "INCOMPLETE", ...

struct StepResult {
    int number = 0;  // 1..8
    std::string title;
    Verdict verdict = Verdict::Pending;
    std::vector<CheckResult> checks;
    std::string reason;  // why it failed: the failed checks' reasons; empty otherwise
    std::optional<HostTime> started;
    std::optional<HostTime> finished;
};

}  // namespace vitalon::analysis
