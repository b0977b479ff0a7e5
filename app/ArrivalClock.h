#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "LinkController.h"

namespace vitalon {

// Stands between the link and the stream decoder: tells its observers the
// host's monotonic time right before each received chunk goes on, so that
// whatever counts the decoded events against the clock (the module test)
// stamps a whole chunk with the time it arrived.
class ArrivalClock : public ByteSink {
public:
    using Clock = std::chrono::steady_clock;
    using Observer = std::function<void(Clock::time_point)>;

    explicit ArrivalClock(ByteSink& next) : next_(next) {}

    // Returns an id for removeObserver. An observer may remove itself, or
    // others, while it is being told.
    int addObserver(Observer observer);
    void removeObserver(int id);

    void receive(std::span<const std::uint8_t> bytes) override;

private:
    struct Entry {
        int id;
        Observer observer;
    };
    ByteSink& next_;
    std::vector<Entry> observers_;
    int nextId_ = 1;
};

}  // namespace vitalon
