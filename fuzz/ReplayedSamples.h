#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "Protocol.h"
#include "ReplaySource.h"

namespace vitalon::fuzz {

// Plays `source` for `steps` thirds of a second (or until it finishes) and
// returns the samples it served. Every advance must return whatever the file,
// and aborts the fuzz run when the replay sends what the module never would:
// a marker other than 249..251, or one without its value.
inline std::size_t replayedSamples(recording::ReplaySource& source, int steps) {
    std::vector<std::uint8_t> out;
    std::size_t samples = 0;
    for (int step = 1; step <= steps && !source.finished(); ++step) {
        out.clear();
        source.advance(std::chrono::milliseconds(step * 1000 / 3), out);
        for (std::size_t i = 0; i < out.size(); ++i) {
            if (out[i] >= protocol::kFirstMarker) {
                if (out[i] < protocol::kRespirationMarker || out[i] > protocol::kStatusMarker ||
                    i + 1 >= out.size()) {
                    std::abort();
                }
                ++i;  // its value, any byte
            } else {
                ++samples;
            }
        }
    }
    return samples;
}

}  // namespace vitalon::fuzz
