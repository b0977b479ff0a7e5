#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vitalon::analysis {

// A waveform byte changed on the line reads as a sample that leaps away from
// both its neighbours and back, further than the module's input filter lets
// any signal move within one sample period: more than the jump below away from
// the line between its neighbours, and more than half of it beyond each. Such isolated spikes are
// replaced by the mean of their neighbours, so that one corrupted byte cannot pose as a clipped
// sample, an R wave or a calibration edge; the number replaced is returned and counts as link
// errors.
//
// The jump that counts as impossible grows as the rate falls: at 300 samples a
// second a steep R wave moves a few counts per sample, at 50 a second one
// sample may span the whole R wave, and no spike can be told from it.
std::size_t repairSpikes(std::vector<std::uint8_t>& samples, double samplesPerSecond);

// The smallest jump to both neighbours that counts as a spike, in counts.
double spikeJumpCounts(double samplesPerSecond);

}  // namespace vitalon::analysis
