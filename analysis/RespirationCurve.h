#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace vitalon::analysis {

// Breaths per minute on a recorded respiration curve ("D1"): the curve rises
// through its upper threshold once a breath. The thresholds lie at 35 % and
// 65 % of the range between its 2nd and 98th percentile, so that noise of a
// few counts crosses neither twice; a rise counts only after the curve was
// below the lower one. The rate runs from the first rise to the last, so it
// needs two; an ECG shown in place of the curve rises once a beat.
std::optional<double> breathsPerMinute(std::span<const std::uint8_t> samples,
                                       double samplesPerSecond);

}  // namespace vitalon::analysis
