#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace vitalon::analysis {

// R waves found in a run of ECG samples. Time is counted in samples at the
// module's nominal rate, which the sample-rate step checks separately.
struct Beats {
    std::vector<std::size_t> rWaves;  // sample index of each R wave, rising
    double samplesPerSecond = 0.0;

    // Mean rate per minute from the first R wave to the last; needs two.
    std::optional<double> heartRate() const;
    // The largest difference of one R-R interval from their mean, percent of
    // the mean; needs three R waves.
    std::optional<double> largestIntervalDeviationPercent() const;
};

// QRS detection that works on any lead and at any of the module's speeds:
//   1. subtract the mean over +-0.1 s, which keeps the narrow QRS complex and
//      takes away P and T waves and baseline drift;
//   2. threshold the size of what remains at half the median of its maxima in
//      2 s blocks, so one glitch cannot raise the threshold over every beat,
//      and at `minimumCounts` at least, so a flat line has no beats;
//   3. take the largest point of each excursion, then 0.25 s refractory time;
//   4. decide the lead's polarity by the majority and move each point to the
//      R wave proper: the extreme of that polarity within 60 ms.
Beats detectBeats(std::span<const std::uint8_t> samples, double samplesPerSecond,
                  double minimumCounts = 3.0);

// A beat averaged over many, aligned on the R wave: it keeps what repeats and
// averages noise, hum and the variation between beats away.
struct AveragedBeat {
    std::vector<double> samples;  // counts, relative to the median of the average
    std::size_t rIndex = 0;       // where the R wave is
    double samplesPerSecond = 0.0;
    std::size_t beats = 0;  // how many were averaged; 0: none, samples empty

    // The highest point within 60 ms of the R wave, counts.
    double rAmplitude() const;
    // The R wave with its sign: the value where the beats were aligned, on
    // the extreme of the lead's own polarity, counts. Negative for a lead that
    // the heart's axis points away from.
    double rWave() const;
};

// Averages the beats whose window (`beforeSeconds` before the R wave to
// `afterSeconds` after it) lies wholly inside the samples.
AveragedBeat averageBeats(std::span<const std::uint8_t> samples, const Beats& beats,
                          double beforeSeconds = 0.25, double afterSeconds = 0.45);

// Einthoven's law on averaged beats of the three limb leads: II = I + III.
// The leads are recorded one after the other and each is aligned on its own R
// wave, which in each lead peaks a few milliseconds apart; I and III are
// therefore shifted by up to 20 ms against II to fit best. The residual is the
// rms of II - (I + III) as a percentage of the rms of the largest of the three
// leads, offsets removed (lead II may be small where the heart's axis is far
// from +60 degrees): near 0 when the law holds.
struct EinthovenFit {
    double residualPercent = 0.0;
    int shiftI = 0;  // samples
    int shiftIII = 0;
};
std::optional<EinthovenFit> fitEinthoven(const AveragedBeat& leadI, const AveragedBeat& leadII,
                                         const AveragedBeat& leadIII);

}  // namespace vitalon::analysis
