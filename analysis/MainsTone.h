#pragma once

#include <cstdint>
#include <span>

namespace vitalon::analysis {

// Amplitude, in counts, of the sine at `hz` in the samples: one Goertzel bin
// at any frequency, over a Hann window (so that the large, slow ECG waves do
// not leak into it), the mean removed first.
double toneAmplitude(std::span<const std::uint8_t> samples, double samplesPerSecond, double hz);

// The strongest tone within `hz` +- `bandHz`, in steps of a tenth of a hertz.
// The band allows for mains that is a little off and for a module whose rate
// is: both move the hum away from the nominal frequency on the sample scale.
double strongestToneNear(std::span<const std::uint8_t> samples, double samplesPerSecond, double hz,
                         double bandHz = 2.0);

}  // namespace vitalon::analysis
