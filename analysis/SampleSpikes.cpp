#include "SampleSpikes.h"

#include <algorithm>
#include <cmath>

namespace vitalon::analysis {

namespace {

// At 300 samples a second: a tenth of the byte's range, well above the steepest
// R wave at the highest amplification (about 15 counts per sample).
constexpr double kJumpAt300 = 30.0;

}  // namespace

double spikeJumpCounts(double samplesPerSecond) {
    if (!(samplesPerSecond > 0.0)) {
        return 256.0;
    }
    return std::max(kJumpAt300, kJumpAt300 * 300.0 / samplesPerSecond);
}

std::size_t repairSpikes(std::vector<std::uint8_t>& samples, double samplesPerSecond) {
    const double jump = spikeJumpCounts(samplesPerSecond);
    std::size_t repaired = 0;
    for (std::size_t i = 1; i + 1 < samples.size(); ++i) {
        const double before = samples[i - 1];
        const double value = samples[i];
        const double after = samples[i + 1];
        // Away from the line between its neighbours by more than the jump, and
        // beyond both of them by half of it: a peak, where an edge (one
        // neighbour level with it) or a slope (between them) is none.
        const double off = std::abs(value - (before + after) / 2.0);
        const double up = std::min(value - before, value - after);
        const double down = std::min(before - value, after - value);
        if (off > jump && (up > jump / 2.0 || down > jump / 2.0)) {
            samples[i] = static_cast<std::uint8_t>(std::lround((before + after) / 2.0));
            ++repaired;
        }
    }
    return repaired;
}

}  // namespace vitalon::analysis
