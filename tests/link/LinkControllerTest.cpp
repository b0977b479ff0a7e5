#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <stdexcept>

#include "Fakes.h"
#include "LinkController.h"
#include "ReconnectWatcher.h"
#include "StartCommands.h"

namespace vitalon {
namespace {

using testing::FakeLabel;
using testing::FakeLink;
using testing::FakeMenuItem;

// Keeps every chunk it is handed with its arrival time; can be told to fail.
class ChunkSink : public ChunkListener {
public:
    void onChunk(ArrivalTime arrival, std::span<const std::uint8_t> bytes) override {
        if (failWith) {
            throw std::runtime_error(failWith);
        }
        chunks.emplace_back(bytes.begin(), bytes.end());
        arrivals.push_back(arrival);
        if (onTold) {
            onTold();
        }
    }
    std::vector<std::vector<std::uint8_t>> chunks;
    std::vector<ArrivalTime> arrivals;
    const char* failWith = nullptr;
    std::function<void()> onTold;
};

class LinkControllerTest : public ::testing::Test {
protected:
    static PortAssignment devices() {
        PortAssignment d;
        d[2] = PortDevice{"/dev/ttyUSB0", {}};
        d[4] = PortDevice{"/dev/ttyS0", {}};
        return d;
    }
    std::array<MenuItem*, 8> items() {
        std::array<MenuItem*, 8> r{};
        for (std::size_t i = 0; i < 8; ++i) {
            r[i] = &items_[i];
        }
        return r;
    }

    FakeLink link_;
    std::array<FakeMenuItem, 8> items_;
    FakeLabel speed_, amp_, filter_, mode_, lead_, curve_;
    SettingSelectors selectors_{{speed_, amp_, filter_, mode_, lead_, curve_}, link_};
    ChunkSink sink_;
    std::vector<std::string> status_;
    PortManager ports_{link_, devices(), items()};
    LinkController controller_{link_, ports_, selectors_,
                               [this](const std::string& text) { status_.push_back(text); }};
    void SetUp() override { controller_.addChunkListener(sink_); }
};

TEST_F(LinkControllerTest, StartOpensTheFoundPortSaysSoAndSendsTheStartCommands) {
    link_.openable = {"/dev/ttyUSB0", "/dev/ttyS0"};
    for (auto& item : items_) {
        item.enabled = false;  // start-up enables every item before the scan
    }
    controller_.start();
    EXPECT_EQ(controller_.currentPort(), 3);
    EXPECT_TRUE(items_[2].enabled && items_[4].enabled);
    EXPECT_FALSE(items_[0].enabled);
    EXPECT_EQ(status_, std::vector<std::string>{"COM3 - /dev/ttyUSB0 - 9600,n,8,1"});
    EXPECT_EQ(link_.writes, testing::startCommandList());
    EXPECT_EQ(selectors_.settings().speed, 1);
    EXPECT_EQ(link_.listener, &controller_);
}

TEST_F(LinkControllerTest, StartWithoutAPortSaysWhyAndSendsNothing) {
    controller_.start();
    EXPECT_EQ(controller_.currentPort(), 0);
    ASSERT_EQ(status_.size(), 1u);
    EXPECT_NE(status_[0].find("No serial port could be opened"), std::string::npos) << status_[0];
    EXPECT_TRUE(link_.writes.empty());
    EXPECT_EQ(selectors_.settings().speed, 1);  // the selectors still show the start values
}

TEST_F(LinkControllerTest, PicksKeepTheCurrentPortRightAndNeverClaimAFailedOneOpened) {
    link_.openable = {"/dev/ttyUSB0", "/dev/ttyS0"};
    controller_.start();
    status_.clear();

    controller_.pick(5);
    EXPECT_EQ(controller_.currentPort(), 5);
    EXPECT_EQ(status_.back(), "COM5 - /dev/ttyS0 - 9600,n,8,1");

    controller_.pick(1);  // disabled by the scan: refused, COM5 stays open
    EXPECT_EQ(controller_.currentPort(), 5);
    EXPECT_EQ(status_.back(),
              "COM1 cannot be chosen: it did not open at start-up. COM5 stays open.");

    controller_.pick(9);
    EXPECT_EQ(status_.back().find("COM9 cannot be chosen"), 0u) << status_.back();

    link_.openable = {"/dev/ttyUSB0"};  // COM5's device has gone
    controller_.pick(5);
    EXPECT_EQ(controller_.currentPort(), 0);
    EXPECT_NE(status_.back().find("COM5 could not be opened"), std::string::npos) << status_.back();

    controller_.pick(3);
    EXPECT_EQ(controller_.currentPort(), 3);
    EXPECT_EQ(link_.writes, testing::startCommandList());  // picks send nothing
}

TEST_F(LinkControllerTest, ChunksGoToTheSinkInOrderAndAFailureBecomesAStatusMessage) {
    link_.openable = {"/dev/ttyUSB0"};
    controller_.start();
    link_.receive({1, 2});
    link_.receive({250});
    EXPECT_EQ(sink_.chunks, (std::vector<std::vector<std::uint8_t>>{{1, 2}, {250}}));

    sink_.failWith = "the drawing failed";
    link_.receive({3});
    EXPECT_EQ(status_.back(), "the drawing failed");
}

TEST_F(LinkControllerTest, EveryChunkListenerGetsEachChunkWithTheLinksArrivalTime) {
    link_.openable = {"/dev/ttyUSB0"};
    controller_.start();
    ChunkSink second, third;
    controller_.addChunkListener(second);
    controller_.addChunkListener(third);
    controller_.addChunkListener(second);  // once is enough

    const ArrivalTime t1 = ArrivalTime{} + std::chrono::milliseconds(5);
    const ArrivalTime t2 = t1 + std::chrono::milliseconds(16);
    sink_.failWith = "the drawing failed";  // the first one fails: the others still get it
    link_.receive({1, 2}, t1);
    EXPECT_EQ(status_.back(), "the drawing failed");
    sink_.failWith = nullptr;
    link_.receive({3}, t2);
    const std::vector<std::vector<std::uint8_t>> both{{1, 2}, {3}};
    EXPECT_EQ(second.chunks, both);
    EXPECT_EQ(third.chunks, both);
    EXPECT_EQ(second.arrivals, (std::vector<ArrivalTime>{t1, t2}));
    EXPECT_EQ(sink_.arrivals, (std::vector<ArrivalTime>{t2}));

    // A listener may remove itself and another while being told; the rest
    // of that round goes on, and the removed hear nothing more.
    second.onTold = [&] {
        controller_.removeChunkListener(second);
        controller_.removeChunkListener(third);
    };
    link_.receive({4}, t2);
    link_.receive({5}, t2);
    EXPECT_EQ(second.chunks.back(), std::vector<std::uint8_t>{4});
    EXPECT_EQ(third.chunks.size(), 2u);  // removed before its turn in that round
    EXPECT_EQ(sink_.chunks.back(), std::vector<std::uint8_t>{5});
    EXPECT_EQ(sink_.chunks.size(), 3u);  // {1, 2} failed in it
}

TEST_F(LinkControllerTest, LostLinkNamesPortDeviceAndReasonAndShutdownDetaches) {
    link_.openable = {"/dev/ttyUSB0"};
    controller_.start();
    link_.lose("Input/output error");
    EXPECT_EQ(controller_.currentPort(), 0);
    EXPECT_EQ(status_.back(),
              "COM3 - /dev/ttyUSB0 was lost (Input/output error). Pick the port again from the "
              "Port menu once it is back.");

    controller_.pick(3);
    EXPECT_TRUE(link_.isOpen());
    controller_.shutdown();
    EXPECT_FALSE(link_.isOpen());
    EXPECT_EQ(link_.listener, nullptr);
    controller_.shutdown();  // a second shutdown does nothing
    EXPECT_EQ(link_.log.back(), "close");
}

// Notes the link events as text; says the lost device is watched for while `watches`.
class EventLog : public LinkEvents {
public:
    void linkOpened(std::uint8_t n, const std::string& path) override {
        log.push_back("opened COM" + std::to_string(n) + " " + path);
    }
    void portPicked(std::uint8_t n, bool opened) override {
        log.push_back("picked COM" + std::to_string(n) + (opened ? "" : " (failed)"));
    }
    std::string linkLost(std::uint8_t n, const std::string& path,
                         const std::string& reason) override {
        log.push_back("lost COM" + std::to_string(n) + " " + path);
        return watches ? waitingForDeviceStatus(n, path, reason) : "";
    }
    std::vector<std::string> log;
    bool watches = true;
};

TEST_F(LinkControllerTest, EventsTellTheWatchOfOpensPicksAndLossesButNotOfRefusedPicks) {
    EventLog events;
    controller_.addEventListener(events);
    link_.openable = {"/dev/ttyUSB0", "/dev/ttyS0"};
    controller_.start();  // the scan's probes are no opens of the link
    controller_.pick(1);  // disabled: refused, nothing changes
    controller_.pick(5);
    link_.openable = {"/dev/ttyUSB0"};
    controller_.pick(5);  // fails: the old link is closed all the same
    controller_.pick(3);
    link_.lose("Input/output error");
    EXPECT_EQ(events.log, (std::vector<std::string>{
                              "opened COM3 /dev/ttyUSB0", "picked COM5", "opened COM5 /dev/ttyS0",
                              "picked COM5 (failed)", "picked COM3", "opened COM3 /dev/ttyUSB0",
                              "lost COM3 /dev/ttyUSB0"}));
    EXPECT_EQ(status_.back(),
              "COM3 - /dev/ttyUSB0 was lost (Input/output error). Waiting for the same device to "
              "come back; it is reopened by itself.");

    // A loss the watch has nothing to say about is final: the usual advice.
    events.watches = false;
    link_.openable = {"/dev/ttyUSB0"};
    controller_.pick(3);
    link_.lose("gone");
    EXPECT_EQ(status_.back(),
              "COM3 - /dev/ttyUSB0 was lost (gone). Pick the port again from the Port menu once "
              "it is back.");
}

// A listener of losses alone, as the recording is: it watches for nothing.
class LossLog : public LinkEvents {
public:
    std::string linkLost(std::uint8_t n, const std::string&, const std::string& reason) override {
        log.push_back("lost COM" + std::to_string(n) + ": " + reason);
        return {};
    }
    void linkResumed() override { log.push_back("resumed"); }
    std::vector<std::string> log;
};

TEST_F(LinkControllerTest, EveryEventListenerHearsOfALossAndOfTheFirstBytesAfterIt) {
    EventLog watch;
    LossLog recording;
    controller_.addEventListener(recording);  // first, with nothing to say: the watch is heard
    controller_.addEventListener(watch);
    link_.openable = {"/dev/ttyUSB0"};
    controller_.start();
    link_.receive({1});
    link_.lose("Input/output error");
    EXPECT_NE(status_.back().find("it is reopened by itself"), std::string::npos);

    controller_.reopen(3, "/dev/ttyUSB0");
    link_.receive({2});
    link_.receive({3});  // told once per loss
    controller_.removeEventListener(watch);
    link_.lose("gone");
    EXPECT_NE(status_.back().find("Pick the port again"), std::string::npos);  // nobody watches
    EXPECT_EQ(recording.log, (std::vector<std::string>{"lost COM3: Input/output error", "resumed",
                                                       "lost COM3: gone"}));
    EXPECT_EQ(watch.log,
              (std::vector<std::string>{"opened COM3 /dev/ttyUSB0", "lost COM3 /dev/ttyUSB0"}));
    EXPECT_EQ(sink_.chunks.size(), 3u);
}

TEST_F(LinkControllerTest, ReopenMovesThePortToTheNewPathAndRestoreSendsOneWriteEach) {
    link_.openable = {"/dev/ttyUSB0", "/dev/ttyUSB1"};
    controller_.start();
    selectors_.cycleSpeed();
    selectors_.cycleMode();
    link_.lose("gone");
    link_.writes.clear();

    controller_.reopen(3, "/dev/ttyUSB1");
    EXPECT_EQ(controller_.currentPort(), 3);
    EXPECT_EQ(ports_.devicePath(3), "/dev/ttyUSB1");
    EXPECT_EQ(link_.settings.baud, 9600);
    EXPECT_TRUE(link_.writes.empty());  // the reopen itself sends nothing
    controller_.restoreSettings();
    EXPECT_EQ(link_.writes, (std::vector<std::string>{"S2", "A1", "5", "M", "G1", "D0"}));

    link_.lose("gone");
    EXPECT_THROW(controller_.reopen(3, "/dev/ttyUSB7"), PortError);
    EXPECT_EQ(ports_.devicePath(3), "/dev/ttyUSB1");  // a failed reopen moves nothing
    EXPECT_THROW(controller_.restoreSettings(), PortError);
}

}  // namespace
}  // namespace vitalon
