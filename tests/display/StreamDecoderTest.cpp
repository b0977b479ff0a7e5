#include <gtest/gtest.h>

#include <random>

#include "RecordingListener.h"
#include "ReferenceDecoder.h"
#include "StreamDecoder.h"

namespace vitalon {
namespace {

using testing::RecordingListener;

// A decoder with one recording listener.
struct Recorded {
    Recorded() { decoder.addListener(listener); }
    StreamDecoder decoder;
    RecordingListener listener;
};

const std::vector<std::uint8_t> kWorkedExample = {120, 250, 72,  131, 249, 18, 251,
                                                  17,  248, 255, 250, 250, 0,  247};
const std::vector<std::string> kWorkedCalls = {"plot 120", "reset",     "pulse 72", "plot 131",
                                               "resp 18",  "status 17", "reset",    "pulse 250",
                                               "reset",    "pulse 0",   "plot 247"};

TEST(StreamDecoder, WorkedExampleGivesTheExactCallSequence) {
    Recorded r;
    r.decoder.receive(kWorkedExample);
    EXPECT_EQ(r.listener.calls, kWorkedCalls);
    EXPECT_FALSE(r.decoder.expectsPulse() || r.decoder.expectsRespiration() ||
                 r.decoder.expectsStatus());
}

TEST(StreamDecoder, ResetDropsAPendingMarkerSoTheNextStreamStartsClean) {
    for (const int marker : {249, 250, 251}) {
        Recorded r;
        r.decoder.receive(std::vector<std::uint8_t>{100, std::uint8_t(marker)});
        r.decoder.reset();
        EXPECT_FALSE(r.decoder.expectsPulse() || r.decoder.expectsRespiration() ||
                     r.decoder.expectsStatus());
        r.decoder.receive(std::vector<std::uint8_t>{72, 250, 80});
        std::vector<std::string> expected = {"plot 100"};
        if (marker == 250) {
            expected.push_back("reset");
        }
        // 72 is a sample of the new stream, not the old marker's value.
        expected.insert(expected.end(), {"plot 72", "reset", "pulse 80"});
        EXPECT_EQ(r.listener.calls, expected) << marker;
    }
}

// Bytes the module never sends, where a sample or marker was due, are told as
// invalid; as a report's value they are that value.
TEST(StreamDecoder, InvalidBytesAreToldWhereASampleWasDue) {
    struct Invalid : StreamListener {
        void onInvalidByte(std::uint8_t byte) override { bytes.push_back(byte); }
        std::vector<std::uint8_t> bytes;
    } invalid;
    Recorded r;
    r.decoder.addListener(invalid);
    r.decoder.receive(
        std::vector<std::uint8_t>{100, 248, 252, 253, 254, 255, 250, 255, 251, 248, 247, 249});
    EXPECT_EQ(invalid.bytes, (std::vector<std::uint8_t>{248, 252, 253, 254, 255}));
    EXPECT_EQ(r.listener.calls, (std::vector<std::string>{"plot 100", "reset", "pulse 255",
                                                          "status 248", "plot 247"}));
}

TEST(StreamDecoder, EveryChunkBoundaryGivesTheSameCalls) {
    // All 2^13 ways to cut the 14 bytes into successive chunks.
    const std::size_t cuts = kWorkedExample.size() - 1;
    const std::span<const std::uint8_t> all(kWorkedExample);
    for (std::uint32_t mask = 0; mask < (1u << cuts); ++mask) {
        Recorded r;
        std::size_t start = 0;
        for (std::size_t i = 0; i < cuts; ++i) {
            if (mask & (1u << i)) {
                r.decoder.receive(all.subspan(start, i + 1 - start));
                start = i + 1;
            }
        }
        r.decoder.receive(all.subspan(start));
        ASSERT_EQ(r.listener.calls, kWorkedCalls) << "cut mask " << mask;
    }
}

TEST(StreamDecoder, TransitionTable) {
    struct Row {
        std::vector<std::uint8_t> bytes;
        std::vector<std::string> calls;
        bool pulse, resp, status;  // pending afterwards
    };
    const std::vector<Row> rows = {
        {{249}, {}, false, true, false},
        {{250}, {"reset"}, true, false, false},
        {{251}, {}, false, false, true},
        {{0}, {"plot 0"}, false, false, false},
        {{247}, {"plot 247"}, false, false, false},
        {{248}, {}, false, false, false},
        {{252, 253, 254, 255}, {}, false, false, false},
        {{250, 249}, {"reset", "pulse 249"}, false, true, false},
        {{250, 250}, {"reset", "pulse 250", "reset"}, true, false, false},
        {{250, 251}, {"reset", "pulse 251"}, false, false, true},
        {{250, 7}, {"reset", "pulse 7"}, false, false, false},
        {{249, 249}, {"resp 249"}, false, true, false},
        {{249, 250}, {"resp 250", "reset"}, true, false, false},
        {{249, 251}, {"resp 251"}, false, false, true},
        {{249, 255}, {"resp 255"}, false, false, false},
        {{251, 249}, {"status 249"}, false, true, false},
        {{251, 250}, {"status 250", "reset"}, true, false, false},
        {{251, 251}, {"status 251"}, false, false, true},
        {{251, 0}, {"status 0"}, false, false, false},
        {{250, 250, 250, 60},
         {"reset", "pulse 250", "reset", "pulse 250", "reset", "pulse 60"},
         false,
         false,
         false},
        {{249, 251, 5}, {"resp 251", "status 5"}, false, false, false},
    };
    for (const Row& row : rows) {
        Recorded r;
        r.decoder.receive(row.bytes);
        EXPECT_EQ(r.listener.calls, row.calls);
        EXPECT_EQ(r.decoder.expectsPulse(), row.pulse);
        EXPECT_EQ(r.decoder.expectsRespiration(), row.resp);
        EXPECT_EQ(r.decoder.expectsStatus(), row.status);
    }
}

TEST(StreamDecoder, AtMostOneFlagIsEverSet) {
    std::mt19937 rng(42);
    std::uniform_int_distribution<int> byte(240, 255);  // dense in markers
    Recorded r;
    for (int i = 0; i < 100000; ++i) {
        r.decoder.decodeByte(static_cast<std::uint8_t>(byte(rng)));
        ASSERT_LE(int(r.decoder.expectsPulse()) + int(r.decoder.expectsRespiration()) +
                      int(r.decoder.expectsStatus()),
                  1);
    }
}

TEST(StreamDecoder, AgreesWithTheStateTableOnSeededRandomStreams) {
    // Streams of every flavour: uniform bytes, marker-heavy runs, and the
    // realistic mix of samples with occasional reports.
    for (std::uint32_t seed = 1; seed <= 20; ++seed) {
        std::mt19937 rng(seed);
        std::uniform_int_distribution<int> any(0, 255);
        std::uniform_int_distribution<int> high(244, 255);
        std::vector<std::uint8_t> bytes(20000);
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            bytes[i] = static_cast<std::uint8_t>(seed % 3 == 0 ? high(rng) : any(rng));
        }
        Recorded r;
        testing::ReferenceDecoder ref;
        std::vector<std::string> expected;
        for (std::uint8_t b : bytes) {
            r.decoder.decodeByte(b);
            ref.step(b, expected);
        }
        ASSERT_EQ(r.listener.calls, expected) << "seed " << seed;
    }
}

// Records into a log shared by several listeners, so the order across them shows.
class TaggedListener : public StreamListener {
public:
    TaggedListener(std::string tag, std::vector<std::string>& log)
        : tag_(std::move(tag)), log_(log) {}
    void onSample(std::uint8_t s) override { log_.push_back(tag_ + " plot " + std::to_string(s)); }
    void onPulse(std::uint8_t r) override { log_.push_back(tag_ + " pulse " + std::to_string(r)); }
    void onPulseMarker() override { log_.push_back(tag_ + " reset"); }

private:
    std::string tag_;
    std::vector<std::string>& log_;
};

TEST(StreamListeners, EveryListenerGetsEachEventInTurnAndRemovedOnesNothing) {
    std::vector<std::string> log;
    TaggedListener a("a", log), b("b", log);
    StreamDecoder decoder;
    decoder.addListener(a);
    decoder.addListener(b);
    decoder.receive(std::vector<std::uint8_t>{120, 250});
    decoder.removeListener(a);
    decoder.receive(std::vector<std::uint8_t>{72, 121});  // the pulse value crosses the chunk
    EXPECT_EQ(log, (std::vector<std::string>{"a plot 120", "b plot 120", "a reset", "b reset",
                                             "b pulse 72", "b plot 121"}));

    // With no listener the state still advances: the next byte is a value, not a sample.
    decoder.removeListener(b);
    decoder.receive(std::vector<std::uint8_t>{251});
    decoder.addListener(b);
    log.clear();
    decoder.receive(std::vector<std::uint8_t>{17, 5});
    EXPECT_EQ(log, std::vector<std::string>{"b plot 5"});
}

TEST(StreamListeners, AListenerRemovingItselfDuringAnEventLeavesTheOthersWhole) {
    struct Leaver : StreamListener {
        StreamDecoder* decoder = nullptr;
        int samples = 0;
        void onSample(std::uint8_t) override {
            ++samples;
            decoder->removeListener(*this);
        }
    };
    StreamDecoder decoder;
    Leaver leaver;
    leaver.decoder = &decoder;
    RecordingListener after;
    decoder.addListener(leaver);
    decoder.addListener(after);
    decoder.receive(std::vector<std::uint8_t>{1, 2, 3});
    EXPECT_EQ(leaver.samples, 1);
    EXPECT_EQ(after.calls, (std::vector<std::string>{"plot 1", "plot 2", "plot 3"}));
}

}  // namespace
}  // namespace vitalon
