#include "ArrivalClock.h"

#include <algorithm>

namespace vitalon {

int ArrivalClock::addObserver(Observer observer) {
    observers_.push_back({nextId_, std::move(observer)});
    return nextId_++;
}

void ArrivalClock::removeObserver(int id) {
    std::erase_if(observers_, [id](const Entry& entry) { return entry.id == id; });
}

void ArrivalClock::receive(std::span<const std::uint8_t> bytes) {
    if (!observers_.empty()) {
        const Clock::time_point now = Clock::now();
        // A copy, since an observer may end (and remove itself) when told.
        const std::vector<Entry> observers = observers_;
        for (const Entry& entry : observers) {
            const bool stillThere = std::ranges::any_of(
                observers_, [&entry](const Entry& e) { return e.id == entry.id; });
            if (stillThere) {
                entry.observer(now);
            }
        }
    }
    next_.receive(bytes);
}

}  // namespace vitalon
