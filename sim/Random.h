#pragma once

#include <cstdint>
#include <random>

namespace vitalon::sim {

// Seeded pseudo-random source. The engine is fully defined by the standard, but
// the standard distributions are not, so uniform and Gaussian values are drawn
// here by hand: one seed gives the same sequence with any standard library.
class Random {
public:
    explicit Random(std::uint64_t seed) : engine_(seed) {}

    // Uniform in [0, 1), 53 bits of resolution.
    double uniform() { return static_cast<double>(engine_() >> 11) * 0x1.0p-53; }

    // Standard normal (mean 0, deviation 1), polar Box-Muller.
    double gaussian();

    std::uint64_t next() { return engine_(); }

private:
    std::mt19937_64 engine_;
    double spare_ = 0.0;
    bool hasSpare_ = false;
};

}  // namespace vitalon::sim
