#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "ModuleDefect.h"

namespace vitalon::sim {

inline constexpr double kNever = std::numeric_limits<double>::infinity();

// A stretch of simulated time, seconds: [from, until). The default never starts.
struct TimeSpan {
    double from = kNever;
    double until = kNever;

    bool contains(double t) const { return t >= from && t < until; }
};

// From `at` seconds on, the patient's heart rate is `beatsPerMinute`.
struct RateStep {
    double at = 0.0;
    double beatsPerMinute = 72.0;
};

// What the simulated patient and line do, in simulated seconds from power-on,
// and what is wrong with the module itself. The defaults are a calm adult on a
// clean line and a healthy module.
struct Scenario {
    double heartRate = 72.0;        // per minute, until the first rate step
    double respirationRate = 15.0;  // breaths per minute
    std::vector<RateStep> rateSteps;

    TimeSpan leadOff;  // an electrode is off: status 17, flat line
    TimeSpan silence;  // the module sends nothing at all

    double byteLossRate = 0.0;        // chance that a sent byte is lost
    double byteCorruptionRate = 0.0;  // chance that a sent byte arrives changed

    int mainsHz = 50;                // the mains frequency around the patient: 50 or 60
    double humMillivolts = 0.1;      // mains hum amplitude in lead I (lead II gets 1.5 times)
    double noiseMillivolts = 0.012;  // white noise, rms, per electrode pair
    double baselineWanderMillivolts = 0.1;  // respiratory drift of the baseline
    bool variability = true;                // beat-to-beat variation of the heart rate
    // The direction of the R wave in the frontal plane, degrees (0 towards the
    // left arm, +90 towards the feet): leads I, II and III see its projection.
    // None: the model's own, about +49, where I, II and III show about 70, 100
    // and 35 % (EcgModel::kRWaveAxisDegrees).
    std::optional<double> heartAxisDegrees;

    ModuleDefects defects;

    std::uint64_t seed = 1;

    // The set heart rate at time t: the latest rate step at or before t.
    double heartRateAt(double t) const;
};

// Empty when the scenario can be simulated; otherwise what is wrong with it.
// The model accepts any scenario, but clamps values out of these ranges.
std::string scenarioProblem(const Scenario& scenario);

inline constexpr double kMinHeartRate = 20.0;
inline constexpr double kMaxHeartRate = 250.0;
inline constexpr double kMinRespirationRate = 3.0;
inline constexpr double kMaxRespirationRate = 60.0;

}  // namespace vitalon::sim
