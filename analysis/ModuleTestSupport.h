// Helpers shared by the module test's engine and its step plans.
#pragma once

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "CheckResult.h"
#include "ModuleTestRunner.h"

namespace vitalon::analysis::runner {

inline constexpr const char* kTitles[ModuleTestRunner::kStepCount] = {
    "Link and start state", "Sample rate",     "Calibration pulse", "Leads",
    "Mains filter",         "Simulation mode", "Reports",           "Restore"};

// The first part of the identifiers of checks that every step makes.
inline constexpr const char* kStepKeys[ModuleTestRunner::kStepCount] = {
    "link", "rate", "cal", "leads", "mains", "sim", "reports", "restore"};

inline constexpr std::size_t kRestoreIndex = ModuleTestRunner::kStepCount - 1;

// Calibration pulses recorded at each amplification and in the restore, in
// the time of one recording: their height is the median of their clean edges.
inline constexpr int kCalibrationPulses = 3;

// Typical time the module takes to answer, for the progress estimate only.
inline constexpr double kPlannedFirstSample = 0.1;
inline constexpr double kPlannedStatus = 2.0;
inline constexpr double kPlannedPrompt = 10.0;
inline constexpr double kPlannedReturn = 1.0;  // a pulse report after "N"

// The sample rate is counted between deliveries that brought everything made
// by then, chosen within this much of either end of the recording: a module
// that pauses for up to 0.8 s and catches up at 9600 baud is back on time
// within it.
inline constexpr double kRateEdgeSeconds = 1.25;

inline std::string format(const char* pattern, double a, double b = 0.0) {
    char text[128];
    std::snprintf(text, sizeof text, pattern, a, b);
    return text;
}

// The middle value; the mean of the middle two for an even count.
inline double middleOf(std::vector<double> values) {
    std::ranges::sort(values);
    const std::size_t m = values.size() / 2;
    return values.size() % 2 == 1 ? values[m] : 0.5 * (values[m - 1] + values[m]);
}

inline double samplesPerSecondOf(std::string_view speedCommand) {
    if (speedCommand == "S0") {
        return 300.0;
    }
    return speedCommand == "S2" ? 50.0 : 100.0;
}

inline std::string lowered(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

inline std::string quoted(std::string_view command) {
    return "\"" + std::string(command) + "\"";
}

// A write that failed is no measurement: the check names the command only.
inline CheckResult unwritten(std::string_view command) {
    CheckResult check;
    check.id = "link.write";
    check.name = "command " + quoted(command);
    check.reason = check.name + " could not be written";
    return check;
}

}  // namespace vitalon::analysis::runner
