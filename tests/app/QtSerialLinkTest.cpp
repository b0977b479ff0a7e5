#include <gtest/gtest.h>

#include <QSerialPort>
#include <algorithm>
#include <thread>

#include "EventLoopWait.h"
#include "PtyPair.h"
#include "QtSerialLink.h"

namespace vitalon {
namespace {

using testing::waitFor;

class Recorder : public LinkListener {
public:
    void onChunk(ArrivalTime arrival, std::span<const std::uint8_t> bytes) override {
        received.insert(received.end(), bytes.begin(), bytes.end());
        arrivals.push_back(arrival);
        ++chunks;
    }
    void linkLost(const std::string& reason) override { lost.push_back(reason); }

    std::vector<std::uint8_t> received;
    std::vector<ArrivalTime> arrivals;  // one per delivery
    int chunks = 0;
    std::vector<std::string> lost;
};

// Writes `count` bytes one at a time, about a millisecond apart, as a USB
// serial adapter hands over a slow line's bytes.
std::thread trickle(testing::PtyPair& pty, int count, std::vector<std::uint8_t>& sent) {
    for (int i = 0; i < count; ++i) {
        sent.push_back(static_cast<std::uint8_t>(i * 13));
    }
    return std::thread([&pty, &sent] {
        for (std::uint8_t byte : sent) {
            pty.write({byte});
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
}

TEST(QtSerialLink, PushesReceivedBytesInOrderAndWritesThemAsTheyAre) {
    testing::PtyPair pty;
    QtSerialLink link;
    Recorder recorder;
    link.setListener(&recorder);
    link.open(pty.slavePath(), LineSettings{});
    ASSERT_TRUE(link.isOpen());

    std::vector<std::uint8_t> sent;
    for (int i = 0; i < 3000; ++i) {
        sent.push_back(static_cast<std::uint8_t>(i * 7));
    }
    const ArrivalTime before = ArrivalClock::now();
    pty.write(sent);
    ASSERT_TRUE(waitFor([&] { return recorder.received.size() >= sent.size(); }));
    EXPECT_EQ(recorder.received, sent);
    // Each chunk is dated when it was read: after the write, in order, not in the future.
    ASSERT_FALSE(recorder.arrivals.empty());
    EXPECT_GE(recorder.arrivals.front(), before);
    EXPECT_TRUE(std::is_sorted(recorder.arrivals.begin(), recorder.arrivals.end()));
    EXPECT_LE(recorder.arrivals.back(), ArrivalClock::now());

    link.write("S1");
    const auto written = pty.read(2, std::chrono::milliseconds(2000));
    EXPECT_EQ(std::string(written.begin(), written.end()), "S1");
    EXPECT_TRUE(recorder.lost.empty());
}

TEST(QtSerialLink, OnlyReadAndResourceErrorsCloseTheLinkAndReportItLost) {
    testing::PtyPair pty;
    QtSerialLink link;
    Recorder recorder;
    link.setListener(&recorder);
    link.open(pty.slavePath(), LineSettings{});
    auto* serial = link.findChild<QSerialPort*>();
    ASSERT_NE(serial, nullptr);

    // A failed write may be one command the device refused: the line stays up.
    emit serial->errorOccurred(QSerialPort::WriteError);
    EXPECT_TRUE(link.isOpen());
    EXPECT_TRUE(recorder.lost.empty());

    pty.closeMaster();  // the cable is pulled
    ASSERT_TRUE(waitFor([&] { return !recorder.lost.empty(); }));
    EXPECT_FALSE(link.isOpen());
    EXPECT_EQ(recorder.lost.size(), 1u);
    EXPECT_THROW(link.write("S1"), PortError);
}

TEST(QtSerialLink, ATrickleOfBytesIsDeliveredAsItComesWithNothingLost) {
    testing::PtyPair pty;
    QtSerialLink link;
    Recorder recorder;
    link.setListener(&recorder);
    link.open(pty.slavePath(), LineSettings{});

    std::vector<std::uint8_t> sent;
    std::thread writer = trickle(pty, 100, sent);
    const bool all = waitFor([&] { return recorder.received.size() >= 100; });
    writer.join();
    ASSERT_TRUE(all);
    EXPECT_EQ(recorder.received, sent);
    EXPECT_GT(recorder.chunks, 20);  // bytes a millisecond apart arrive in many reads

    // The cable pulled after a trickle is noticed.
    pty.closeMaster();
    ASSERT_TRUE(waitFor([&] { return !recorder.lost.empty(); }));
    EXPECT_FALSE(link.isOpen());
}

TEST(QtSerialLink, OpenFailuresSayWhatIsWrong) {
    QtSerialLink link;
    try {
        link.open("/dev/vitalon-no-such-device", LineSettings{});
        FAIL() << "a missing device opened";
    } catch (const PortError& e) {
        EXPECT_EQ(e.kind(), PortErrorKind::NotFound);
        EXPECT_NE(std::string(e.what()).find("/dev/vitalon-no-such-device"), std::string::npos);
    }
    EXPECT_FALSE(link.isOpen());
}

}  // namespace
}  // namespace vitalon
