#pragma once

#include <cstdint>

#include "Random.h"

namespace vitalon::sim {

// Beat-to-beat variability of the simulated patient, as fractions of the mean
// interval: a Mayer wave (blood-pressure regulation, 0.1 Hz), respiratory sinus
// arrhythmia at the breathing frequency, and a small random part.
struct RhythmVariability {
    double mayer = 0.015;
    double respiratory = 0.015;
    double random = 0.008;
};

// Picks the interval of each beat from the mean heart rate at that moment.
// The waves average out, so over any window of ten seconds the mean rate stays
// within about one beat per minute of the set one.
class HeartRhythm {
public:
    HeartRhythm(RhythmVariability variability, std::uint64_t seed);

    // The interval, seconds, of a beat that starts at `time`, with the breathing
    // curve (-0.5 empty .. +0.5 full, see RespirationModel) at that moment.
    double nextInterval(double time, double beatsPerMinute, double breathing);

    static constexpr double kMayerHz = 0.1;

private:
    RhythmVariability variability_;
    Random random_;
    double mayerPhase_;
};

}  // namespace vitalon::sim
