#include "CheckResult.h"

#include <cmath>
#include <cstdio>

namespace vitalon::analysis {

namespace {

std::string number(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
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

CheckResult judge(std::string name, std::optional<double> measured, std::string unit, Range limit,
                  int decimals, std::string_view detail, std::string_view whyNotMeasured) {
    CheckResult check{std::move(name), measured, std::move(unit), limit, decimals, false, {}};
    check.passed = measured && !std::isnan(*measured) && limit.contains(*measured);
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
    }
    return "";
}

}  // namespace vitalon::analysis
