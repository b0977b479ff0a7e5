#pragma once

#include <chrono>

namespace vitalon::analysis {

// Readings of the host's monotonic clock. Everything in this folder takes them
// as data and reads no clock itself, so tests can step virtual time.
using HostClock = std::chrono::steady_clock;
using HostTime = HostClock::time_point;

inline double secondsBetween(HostTime from, HostTime to) {
    return std::chrono::duration<double>(to - from).count();
}

inline HostClock::duration fromSeconds(double seconds) {
    return std::chrono::duration_cast<HostClock::duration>(std::chrono::duration<double>(seconds));
}

}  // namespace vitalon::analysis
