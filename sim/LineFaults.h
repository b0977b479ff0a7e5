#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "Random.h"

namespace vitalon::sim {

// A poor serial line: each byte is lost or changed with a given chance. The
// changed value is a random other byte, which may be a marker value; this is a
// line fault, so unlike the module it is allowed to break a marker's pair.
class LineFaults {
public:
    LineFaults(double lossRate, double corruptionRate, std::uint64_t seed);

    // Applies the faults to bytes[from..end) in place.
    void apply(std::vector<std::uint8_t>& bytes, std::size_t from);

    bool active() const { return lossRate_ > 0.0 || corruptionRate_ > 0.0; }
    std::uint64_t lost() const { return lost_; }
    std::uint64_t corrupted() const { return corrupted_; }

private:
    double lossRate_;
    double corruptionRate_;
    Random random_;
    std::uint64_t lost_ = 0;
    std::uint64_t corrupted_ = 0;
};

}  // namespace vitalon::sim
