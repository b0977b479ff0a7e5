#include "LineFaults.h"

namespace vitalon::sim {

LineFaults::LineFaults(double lossRate, double corruptionRate, std::uint64_t seed)
    : lossRate_(lossRate), corruptionRate_(corruptionRate), random_(seed) {}

void LineFaults::apply(std::vector<std::uint8_t>& bytes, std::size_t from) {
    if (!active()) {
        return;
    }
    std::size_t kept = from;
    for (std::size_t i = from; i < bytes.size(); ++i) {
        std::uint8_t byte = bytes[i];
        if (random_.uniform() < lossRate_) {
            ++lost_;
            continue;
        }
        if (random_.uniform() < corruptionRate_) {
            // XOR with 1..255: never the original value.
            byte ^= static_cast<std::uint8_t>(1 + random_.next() % 255);
            ++corrupted_;
        }
        bytes[kept++] = byte;
    }
    bytes.resize(kept);
}

}  // namespace vitalon::sim
