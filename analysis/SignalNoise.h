#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "BeatAnalysis.h"

namespace vitalon::analysis {

// The broadband noise of an ECG recording between the QRS complexes, counts
// rms.
//
// The samples go through a short filter that takes a second difference (a
// baseline, its drift and the slow P and T waves hardly pass) and has zeros at
// 50 and 60 Hz (mains hum is judged by the mains filter step, and a bench on
// the other mains frequency must not read as noise); its output is scaled so
// that white noise of s counts rms reads s. Outputs that see a sample from
// 80 ms before to 120 ms after an R wave are left out. Rounding to whole
// counts alone reads about 0.3.
//
// Nothing when fewer than a tenth of a second of samples remain.
std::optional<double> noiseBetweenBeats(std::span<const std::uint8_t> samples, const Beats& beats);

}  // namespace vitalon::analysis
