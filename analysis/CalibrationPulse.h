#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace vitalon::analysis {

// The calibration rectangle as found in a run of samples: a steep rise, a top
// that stays up (level, drooping a little as an AC-coupled input does, or
// carrying the live ECG where the module adds the rectangle to it), and a steep
// fall of about the same size.
//
// Each edge is measured where it is: a short straight line is fitted to the
// samples on either side of it (20 ms, two samples at least) and the step is
// the distance between the two lines at the edge. A P or T wave or a drifting
// baseline moves both lines alike and hardly changes the step, where a level
// taken over a long baseline would follow them. An edge whose lines do not fit
// (a QRS complex falls on it) is not clean and is left out of the height when
// a clean one is there.
struct CalibrationPulse {
    double baseline = 0.0;      // counts, the level just before the rise
    double heightCounts = 0.0;  // the step of the rise: the top at its start, above the baseline
    double fallCounts = 0.0;    // the step of the fall
    double widthSeconds = 0.0;  // between the half-height crossings of the edges
    // Fall along the top, percent of the height, where the input around the
    // rectangle is flat (switched to the reference); the rise less the fall
    // where it rides on the live ECG, whose waves the top carries.
    double droopPercent = 0.0;
    bool onLiveEcg = false;  // the input around it is not flat: it rides on the ECG
    bool riseClean = false;  // the lines beside the rise fit its samples
    bool fallClean = false;
    std::size_t rise = 0;  // index of the first sample on the top
    std::size_t fall = 0;  // index of the first sample after it
};

// Every rectangle in the samples, in order. The top must last
// `minimumTopSeconds` (and three samples), at most a second, and stay above
// half the rise; both edges must be at least `minimumStepCounts`, steep (three
// quarters of the change around the edge within two samples) and of about the
// same size. An R wave is too narrow to pass, and a T wave, which at 50 samples
// a second can otherwise look square, is not steep.
std::vector<CalibrationPulse> findCalibrationPulses(std::span<const std::uint8_t> samples,
                                                    double samplesPerSecond,
                                                    double minimumTopSeconds = 0.12,
                                                    double minimumStepCounts = 4.0);

// The rectangle with the longest top, as above. Nothing when no such shape is
// there, e.g. on a flat or stuck signal.
std::optional<CalibrationPulse> findCalibrationPulse(std::span<const std::uint8_t> samples,
                                                     double samplesPerSecond,
                                                     double minimumTopSeconds = 0.12,
                                                     double minimumStepCounts = 4.0);

// The height of the rectangles, counts: the median of the clean edge steps of
// all of them (rises and falls both step by the height), or of every edge step
// when none is clean. Several pulses let one whose edge a QRS complex hit be
// outvoted. Nothing without pulses.
std::optional<double> calibrationHeight(std::span<const CalibrationPulse> pulses);

// The level the samples stand on away from the rectangles, counts: their
// median with every pulse and 50 ms either side of it left out. On the live
// ECG this is its isoelectric line.
std::optional<double> levelBesidePulses(std::span<const std::uint8_t> samples,
                                        std::span<const CalibrationPulse> pulses,
                                        double samplesPerSecond);

// Samples at either end of the range (0 or 247): a clipped or stuck input.
std::size_t countRailSamples(std::span<const std::uint8_t> samples);

}  // namespace vitalon::analysis
