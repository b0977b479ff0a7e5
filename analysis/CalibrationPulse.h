#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace vitalon::analysis {

// The calibration rectangle as found in a run of samples: a steep rise from a
// baseline, a top that stays level (or droops a little, as an AC-coupled input
// does), and a steep fall.
struct CalibrationPulse {
    double baseline = 0.0;      // counts, the level just before the rise
    double heightCounts = 0.0;  // the top at its start, above the baseline
    double widthSeconds = 0.0;  // between the half-height crossings of the edges
    double droopPercent = 0.0;  // fall along the top, percent of the height
    std::size_t rise = 0;       // index of the first sample on the top
    std::size_t fall = 0;       // index of the first sample after it
};

// Finds the rectangle with the longest top. The top must last
// `minimumTopSeconds` (and three samples) and stand at least
// `minimumStepCounts` above a level baseline; three quarters of its height must
// rise within two samples before it and fall away within two samples after it.
// An R wave is too narrow to pass, and so is a T wave, which at 50 samples a
// second can otherwise look square. Nothing when no such shape is there, e.g.
// on a flat or stuck signal.
std::optional<CalibrationPulse> findCalibrationPulse(std::span<const std::uint8_t> samples,
                                                     double samplesPerSecond,
                                                     double minimumTopSeconds = 0.12,
                                                     double minimumStepCounts = 4.0);

// Samples at either end of the range (0 or 247): a clipped or stuck input.
std::size_t countRailSamples(std::span<const std::uint8_t> samples);

}  // namespace vitalon::analysis
