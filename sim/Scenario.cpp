#include "Scenario.h"

#include <cmath>

namespace vitalon::sim {

double Scenario::heartRateAt(double t) const {
    double rate = heartRate;
    double latest = -kNever;
    for (const RateStep& step : rateSteps) {
        if (step.at <= t && step.at >= latest) {
            latest = step.at;
            rate = step.beatsPerMinute;
        }
    }
    return rate;
}

namespace {

bool within(double value, double low, double high) {
    return std::isfinite(value) && value >= low && value <= high;
}

bool validSpan(const TimeSpan& span) {
    return !std::isnan(span.from) && !std::isnan(span.until) && span.from >= 0.0 &&
           span.until >= span.from;
}

}  // namespace

std::string scenarioProblem(const Scenario& scenario) {
    const auto rateRange = std::to_string(static_cast<int>(kMinHeartRate)) + " to " +
                           std::to_string(static_cast<int>(kMaxHeartRate)) + " per minute";
    if (!within(scenario.heartRate, kMinHeartRate, kMaxHeartRate)) {
        return "heart rate must be " + rateRange;
    }
    for (const RateStep& step : scenario.rateSteps) {
        if (!std::isfinite(step.at) || step.at < 0.0) {
            return "a rate step needs a time of 0 seconds or later";
        }
        if (!within(step.beatsPerMinute, kMinHeartRate, kMaxHeartRate)) {
            return "a rate step's heart rate must be " + rateRange;
        }
    }
    if (!within(scenario.respirationRate, kMinRespirationRate, kMaxRespirationRate)) {
        return "respiration rate must be " + std::to_string(static_cast<int>(kMinRespirationRate)) +
               " to " + std::to_string(static_cast<int>(kMaxRespirationRate)) + " per minute";
    }
    if (!validSpan(scenario.leadOff)) {
        return "lead-off time must be 0 seconds or later, and its end not before its start";
    }
    if (!validSpan(scenario.silence)) {
        return "silence time must be 0 seconds or later, and its end not before its start";
    }
    if (!within(scenario.byteLossRate, 0.0, 1.0)) {
        return "byte loss rate must be 0 to 1";
    }
    if (!within(scenario.byteCorruptionRate, 0.0, 1.0)) {
        return "byte corruption rate must be 0 to 1";
    }
    if (scenario.mainsHz != 50 && scenario.mainsHz != 60) {
        return "mains frequency must be 50 or 60";
    }
    if (!within(scenario.humMillivolts, 0.0, 5.0) || !within(scenario.noiseMillivolts, 0.0, 5.0) ||
        !within(scenario.baselineWanderMillivolts, 0.0, 5.0)) {
        return "hum, noise and baseline wander must be 0 to 5 mV";
    }
    if (scenario.heartAxisDegrees && !within(*scenario.heartAxisDegrees, -180.0, 180.0)) {
        return "heart axis must be -180 to 180 degrees";
    }
    return {};
}

}  // namespace vitalon::sim
