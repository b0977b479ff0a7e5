#pragma once

#include <chrono>
#include <cstdint>
#include <span>

namespace vitalon {

// The host's monotonic clock, read once for each chunk the serial link
// receives: whatever counts the decoded events against time dates a whole
// chunk with the moment it came off the line.
using ArrivalClock = std::chrono::steady_clock;
using ArrivalTime = ArrivalClock::time_point;

// Takes the received bytes one chunk at a time, in arrival order, on the
// event-loop thread. The span is valid only during the call.
class ChunkListener {
public:
    virtual ~ChunkListener() = default;
    virtual void onChunk(ArrivalTime arrival, std::span<const std::uint8_t> bytes) = 0;
};

}  // namespace vitalon
