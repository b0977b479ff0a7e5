#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ArrivalClock.h"

namespace vitalon {
namespace {

// Logs what arrives, so the order against the observers can be checked.
struct LoggingSink : ByteSink {
    explicit LoggingSink(std::vector<std::string>& log) : log_(log) {}
    void receive(std::span<const std::uint8_t> bytes) override {
        log_.push_back("bytes " + std::to_string(bytes.size()));
    }
    std::vector<std::string>& log_;
};

TEST(ArrivalClock, ObserversHearTheTimeBeforeEachChunkAndMayLeaveWhileTold) {
    std::vector<std::string> log;
    LoggingSink sink(log);
    ArrivalClock clock(sink);
    const std::uint8_t chunk[] = {1, 2, 3};

    clock.receive(chunk);  // nobody listening: the bytes go on all the same
    ArrivalClock::Clock::time_point first{}, last{};
    int second = 0;
    const int leaving = clock.addObserver([&](ArrivalClock::Clock::time_point now) {
        log.push_back("first");
        first = now;
        clock.removeObserver(second);  // an observer may end another ...
    });
    second = clock.addObserver([&](ArrivalClock::Clock::time_point) { log.push_back("second"); });
    int third = 0;
    third = clock.addObserver([&](ArrivalClock::Clock::time_point now) {
        log.push_back("third");
        last = now;
        clock.removeObserver(third);  // ... or itself
    });
    const auto before = ArrivalClock::Clock::now();
    clock.receive(chunk);
    clock.receive(std::span<const std::uint8_t>(chunk, 1));
    clock.removeObserver(leaving);
    clock.receive(chunk);

    EXPECT_EQ(log, (std::vector<std::string>{"bytes 3", "first", "third", "bytes 3", "first",
                                             "bytes 1", "bytes 3"}));
    EXPECT_GE(first, before);
    EXPECT_GE(last, before);
}

}  // namespace
}  // namespace vitalon
