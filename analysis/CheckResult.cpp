#include "CheckResult.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace vitalon::analysis {

namespace {

// Fixed decimals; a value too large for them (only a broken measurement or
// limit gets there) in exponent form rather than hundreds of digits.
std::string number(double value, int decimals) {
    char text[64];
    if (std::abs(value) < 1e12) {
        std::snprintf(text, sizeof text, "%.*f", decimals, value);
    } else {
        std::snprintf(text, sizeof text, "%.6g", value);
    }
    return text;
}

constexpr int kMaxDecimals = 9;

// The value as number() shows it, read back.
double shownValue(double value, int decimals) {
    return std::strtod(number(value, decimals).c_str(), nullptr);
}

Range shownRange(Range range, int decimals) {
    return {std::isfinite(range.min) ? shownValue(range.min, decimals) : range.min,
            std::isfinite(range.max) ? shownValue(range.max, decimals) : range.max};
}

bool shownExactly(double value, int decimals) {
    return !std::isfinite(value) ||
           std::abs(shownValue(value, decimals) - value) <= 1e-9 * std::max(1.0, std::abs(value));
}

bool shownExactly(Range range, int decimals) {
    return shownExactly(range.min, decimals) && shownExactly(range.max, decimals);
}

std::string withUnit(std::string text, const std::string& unit) {
    if (!unit.empty()) {
        text += ' ';
        text += unit;
    }
    return text;
}

}  // namespace

Range around(double nominal, double tolerance) {
    return {nominal - tolerance, nominal + tolerance};
}

Range atLeast(double min) {
    return {min, kUnbounded};
}

Range atMost(double max) {
    return {-kUnbounded, max};
}

std::string CheckResult::measuredText() const {
    return measured ? withUnit(number(*measured, decimals), unit) : "not measured";
}

std::string CheckResult::limitText() const {
    const bool hasMin = std::isfinite(limit.min);
    const bool hasMax = std::isfinite(limit.max);
    if (hasMin && hasMax) {
        if (limit.min == limit.max) {
            return withUnit(number(limit.min, decimals), unit);
        }
        return withUnit(number(limit.min, decimals) + " to " + number(limit.max, decimals), unit);
    }
    if (hasMin) {
        return withUnit("at least " + number(limit.min, decimals), unit);
    }
    if (hasMax) {
        return withUnit("at most " + number(limit.max, decimals), unit);
    }
    return "any";
}

CheckResult judge(std::string id, std::string name, std::optional<double> measured,
                  std::string unit, Range limit, int decimals, std::string_view detail,
                  std::string_view whyNotMeasured) {
    CheckResult check;
    check.id = std::move(id);
    check.name = std::move(name);
    check.measured = measured;
    check.unit = std::move(unit);
    check.limit = limit;
    check.decimals = decimals;
    check.passed = measured && !std::isnan(*measured) && limit.contains(*measured);
    // The texts round both the value and the limit: 2.04 s against at most
    // 2.0 s would read "2.0 s, limit at most 2.0 s" and look like a wrong
    // verdict. More digits until the texts alone give the verdict.
    if (measured && std::isfinite(*measured)) {
        // A limit of 1.95 is not shown as "1.9" (up to two more digits).
        for (int extra = 0;
             extra < 2 && check.decimals < kMaxDecimals && !shownExactly(limit, check.decimals);
             ++extra) {
            ++check.decimals;
        }
        while (check.decimals < kMaxDecimals &&
               shownRange(limit, check.decimals).contains(shownValue(*measured, check.decimals)) !=
                   check.passed) {
            ++check.decimals;
        }
    }
    check.reason = check.name + ": ";
    check.reason += measured ? check.measuredText() : std::string(whyNotMeasured);
    if (!detail.empty()) {
        check.reason += " (";
        check.reason += detail;
        check.reason += ')';
    }
    check.reason += ", limit " + check.limitText();
    return check;
}

bool isMarginal(const CheckResult& check, double fraction) {
    if (!check.passed || !check.measured || !std::isfinite(*check.measured) || fraction <= 0.0) {
        return false;
    }
    const double value = *check.measured;
    const Range& limit = check.limit;
    const bool hasMin = std::isfinite(limit.min);
    const bool hasMax = std::isfinite(limit.max);
    double margin = 0.0;
    if (hasMin && hasMax) {
        margin = fraction * (limit.max - limit.min);
    } else if (hasMin) {
        margin = fraction * std::abs(limit.min);
    } else if (hasMax) {
        margin = fraction * std::abs(limit.max);
    }
    if (margin <= 0.0) {
        return false;
    }
    return (hasMin && value - limit.min < margin) || (hasMax && limit.max - value < margin);
}

std::string_view verdictText(Verdict verdict) {
    switch (verdict) {
        case Verdict::Pending:
            return "waiting";
        case Verdict::Running:
            return "running";
        case Verdict::Passed:
            return "PASS";
        case Verdict::Failed:
            return "FAIL";
        case Verdict::Skipped:
            return "skipped";
        case Verdict::Cancelled:
            return "cancelled";
        case Verdict::Incomplete:
            return "INCOMPLETE";
    }
    return "";
}

}  // namespace vitalon::analysis
