#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace vitalon {

// The listeners of one kind of event, told in the order they were added. A
// listener may remove itself or another while being told: it is skipped from
// then on and dropped from the list once the round is done, so the loop never
// shifts under itself; one added meanwhile hears the next round.
template <typename Listener>
class ListenerList {
public:
    // Adding one that is already there changes nothing.
    void add(Listener& listener) {
        if (std::find(listeners_.begin(), listeners_.end(), &listener) == listeners_.end()) {
            listeners_.push_back(&listener);
        }
    }
    void remove(Listener& listener) {
        const auto it = std::find(listeners_.begin(), listeners_.end(), &listener);
        if (it == listeners_.end()) {
            return;
        }
        if (rounds_ > 0) {
            *it = nullptr;
            removedDuringRound_ = true;
        } else {
            listeners_.erase(it);
        }
    }
    bool empty() const { return listeners_.empty(); }

    // Calls tell(listener) on every listener; an exception from one ends the round.
    template <typename Tell>
    void forEach(Tell&& tell) {
        const Round round(*this);
        // Only those present when the round began: one added during it waits.
        const std::size_t count = listeners_.size();
        for (std::size_t i = 0; i < count; ++i) {
            if (Listener* listener = listeners_[i]) {
                tell(*listener);
            }
        }
    }

private:
    class Round {
    public:
        explicit Round(ListenerList& list) : list_(list) { ++list_.rounds_; }
        ~Round() {
            if (--list_.rounds_ == 0 && list_.removedDuringRound_) {
                std::erase(list_.listeners_, nullptr);
                list_.removedDuringRound_ = false;
            }
        }
        Round(const Round&) = delete;
        Round& operator=(const Round&) = delete;

    private:
        ListenerList& list_;
    };

    std::vector<Listener*> listeners_;
    int rounds_ = 0;
    bool removedDuringRound_ = false;
};

}  // namespace vitalon
