#include <gtest/gtest.h>

#include <random>

#include "Fakes.h"
#include "RecordingSink.h"
#include "ReferenceDecoder.h"
#include "StreamDecoder.h"

namespace vitalon {
namespace {

using testing::RecordingSink;

const std::vector<std::uint8_t> kWorkedExample = {120, 250, 72,  131, 249, 18, 251,
                                                  17,  248, 255, 250, 250, 0,  247};
const std::vector<std::string> kWorkedCalls = {"plot 120", "reset",     "pulse 72", "plot 131",
                                               "resp 18",  "status 17", "reset",    "pulse 250",
                                               "reset",    "pulse 0",   "plot 247"};

TEST(StreamDecoder, WorkedExampleGivesTheExactCallSequence) {
    StreamDecoder d;
    RecordingSink sink;
    d.decode(kWorkedExample, sink);
    EXPECT_EQ(sink.calls, kWorkedCalls);
    EXPECT_FALSE(d.ExpectPulse || d.ExpectResp || d.ExpectStatus);
}

TEST(StreamDecoder, EveryReadBoundaryGivesTheSameCalls) {
    // All 2^13 ways to cut the 14 bytes into successive reads through the port.
    const std::size_t cuts = kWorkedExample.size() - 1;
    for (std::uint32_t mask = 0; mask < (1u << cuts); ++mask) {
        testing::FakeSerialPort port;
        port.inBuffer.assign(kWorkedExample.begin(), kWorkedExample.end());
        std::size_t run = 1;
        for (std::size_t i = 0; i < cuts; ++i) {
            if (mask & (1u << i)) {
                port.chunks.push_back(run);
                run = 1;
            } else {
                ++run;
            }
        }
        port.chunks.push_back(run);
        StreamDecoder d;
        RecordingSink sink;
        receiveFromPort(port, d, sink);
        ASSERT_EQ(sink.calls, kWorkedCalls) << "cut mask " << mask;
        ASSERT_EQ(port.inBuffer.size(), 0u);
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
    for (const Row& r : rows) {
        StreamDecoder d;
        RecordingSink sink;
        d.decode(r.bytes, sink);
        EXPECT_EQ(sink.calls, r.calls);
        EXPECT_EQ(d.ExpectPulse, r.pulse);
        EXPECT_EQ(d.ExpectResp, r.resp);
        EXPECT_EQ(d.ExpectStatus, r.status);
    }
}

TEST(StreamDecoder, AtMostOneFlagIsEverSet) {
    std::mt19937 rng(42);
    std::uniform_int_distribution<int> byte(240, 255);  // dense in markers
    StreamDecoder d;
    RecordingSink sink;
    for (int i = 0; i < 100000; ++i) {
        d.DecodeByte(static_cast<std::uint8_t>(byte(rng)), sink);
        ASSERT_LE(int(d.ExpectPulse) + int(d.ExpectResp) + int(d.ExpectStatus), 1);
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
        StreamDecoder d;
        RecordingSink sink;
        testing::ReferenceDecoder ref;
        std::vector<std::string> expected;
        for (std::uint8_t b : bytes) {
            d.DecodeByte(b, sink);
            ref.step(b, expected);
        }
        ASSERT_EQ(sink.calls, expected) << "seed " << seed;
    }
}

TEST(ReceiveHandler, IgnoresEveryEventButReceivedData) {
    for (std::int16_t event :
         {comm_event::Send, comm_event::Lost, comm_event::Error, std::int16_t{0}}) {
        testing::FakeSerialPort port;
        port.event = event;
        port.inBuffer = {120, 121};
        StreamDecoder d;
        RecordingSink sink;
        EXPECT_EQ(receiveFromPort(port, d, sink), 0u);
        EXPECT_TRUE(sink.calls.empty());
        EXPECT_EQ(port.inputCalls, 0);
        EXPECT_EQ(port.inBuffer.size(), 2u);  // left for the next receive event

        port.event = comm_event::Receive;
        receiveFromPort(port, d, sink);
        EXPECT_EQ(sink.calls, (std::vector<std::string>{"plot 120", "plot 121"}));
    }
}

TEST(ReceiveHandler, DrainsUntilTheBufferIsEmpty) {
    testing::FakeSerialPort port;
    port.inBuffer.assign(1000, 100);
    port.chunks = {1, 10, 100};  // then the rest in one read
    StreamDecoder d;
    RecordingSink sink;
    EXPECT_EQ(receiveFromPort(port, d, sink), 1000u);  // the count covers every read
    EXPECT_EQ(sink.calls.size(), 1000u);
    EXPECT_EQ(port.inputCalls, 4);
}

TEST(ReceiveHandler, StateCarriesOverBetweenReceiveEvents) {
    testing::FakeSerialPort port;
    StreamDecoder d;
    RecordingSink sink;
    port.inBuffer = {10, 250};
    receiveFromPort(port, d, sink);
    port.inBuffer = {80, 11};
    receiveFromPort(port, d, sink);
    EXPECT_EQ(sink.calls, (std::vector<std::string>{"plot 10", "reset", "pulse 80", "plot 11"}));
}

}  // namespace
}  // namespace vitalon
