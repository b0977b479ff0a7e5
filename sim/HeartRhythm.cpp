#include "HeartRhythm.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vitalon::sim {

HeartRhythm::HeartRhythm(RhythmVariability variability, std::uint64_t seed)
    : variability_(variability), random_(seed) {
    mayerPhase_ = 2.0 * std::numbers::pi * random_.uniform();
}

double HeartRhythm::nextInterval(double time, double beatsPerMinute, double breathing) {
    constexpr double kTwoPi = 2.0 * std::numbers::pi;
    const double mayer = variability_.mayer * std::sin(kTwoPi * kMayerHz * time + mayerPhase_);
    // The heart beats faster while the chest fills: a full chest shortens the interval.
    const double respiratory = -2.0 * variability_.respiratory * breathing;
    // Clamped so a freak draw cannot make a beat absurdly short or long.
    const double randomPart = variability_.random * std::clamp(random_.gaussian(), -3.0, 3.0);
    return 60.0 / beatsPerMinute * (1.0 + mayer + respiratory + randomPart);
}

}  // namespace vitalon::sim
