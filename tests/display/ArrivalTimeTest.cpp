#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "StreamDecoder.h"

namespace vitalon {
namespace {

// Logs the arrival times and the samples it hears, so the order of the two can be checked.
struct ArrivalLog : StreamListener {
    ArrivalLog(std::vector<std::string>& log, std::string name)
        : log_(log), name_(std::move(name)) {}
    void onArrival(ArrivalTime arrival) override {
        log_.push_back(name_);
        last = arrival;
        if (onTold) {
            onTold();
        }
    }
    std::vector<std::string>& log_;
    std::string name_;
    ArrivalTime last{};
    std::function<void()> onTold;
};

// Logs the chunks' samples as "bytes n", one entry per chunk.
struct SampleCount : StreamListener {
    explicit SampleCount(std::vector<std::string>& log) : log_(log) {}
    void onArrival(ArrivalTime) override { log_.push_back("bytes 0"); }
    void onSample(std::uint8_t) override {
        log_.back() = "bytes " + std::to_string(std::stoi(log_.back().substr(6)) + 1);
    }
    std::vector<std::string>& log_;
};

TEST(ArrivalTime, ListenersHearTheTimeBeforeEachChunksEventsAndMayLeaveWhileTold) {
    std::vector<std::string> log;
    StreamDecoder decoder;
    SampleCount sink(log);
    decoder.addListener(sink);
    const std::uint8_t chunk[] = {1, 2, 3};
    const ArrivalTime before = ArrivalClock::now();

    decoder.onChunk(before, chunk);  // nobody else listening: the bytes go on all the same
    ArrivalLog first(log, "first"), second(log, "second"), third(log, "third");
    first.onTold = [&] { decoder.removeListener(second); };  // a listener may end another ...
    third.onTold = [&] { decoder.removeListener(third); };   // ... or itself
    // The sample counter last, so that the log shows every arrival before the chunk's bytes.
    decoder.removeListener(sink);
    for (StreamListener* listener : std::vector<StreamListener*>{&first, &second, &third, &sink}) {
        decoder.addListener(*listener);
    }
    decoder.onChunk(before + std::chrono::milliseconds(1), chunk);
    decoder.onChunk(before + std::chrono::milliseconds(2), std::span<const std::uint8_t>(chunk, 1));
    decoder.removeListener(first);
    decoder.onChunk(before + std::chrono::milliseconds(3), chunk);

    EXPECT_EQ(log, (std::vector<std::string>{"bytes 3", "first", "third", "bytes 3", "first",
                                             "bytes 1", "bytes 3"}));
    decoder.receive(chunk);  // bytes without an arrival time: no arrival, the samples all the same
    EXPECT_EQ(log.back(), "bytes 6");
    EXPECT_EQ(first.last, before + std::chrono::milliseconds(2));
    EXPECT_EQ(third.last, before + std::chrono::milliseconds(1));
    EXPECT_EQ(second.last, ArrivalTime{});
}

}  // namespace
}  // namespace vitalon
