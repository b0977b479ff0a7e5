#pragma once

// Byte streams for the benchmarks, all deterministic.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vitalon::bench {

// What the module model sends at its fastest setting (300 samples a second,
// ECG, the default patient) for `seconds` of simulated time, cut so that it
// ends on a waveform sample: the stream can be repeated without a marker
// swallowing the first byte of the next round.
std::vector<std::uint8_t> moduleStream(double seconds);

// `count` bytes: `pattern` repeated.
std::vector<std::uint8_t> repeated(const std::vector<std::uint8_t>& pattern, std::size_t count);

// The same stream without its pulse reports (each 250 with the value after it).
std::vector<std::uint8_t> withoutPulseReports(const std::vector<std::uint8_t>& stream);

// `count` marker bytes 249, 250 and 251 in a random order: every byte is a
// value and a marker at once, and the branches cannot be predicted.
std::vector<std::uint8_t> allMarkers(std::size_t count);

// The waveform samples of a stream (bytes below 248 that are not announced values).
std::vector<std::int16_t> samplesOf(const std::vector<std::uint8_t>& stream);

}  // namespace vitalon::bench
