#include <gtest/gtest.h>

#include "Fakes.h"
#include "PortManager.h"

namespace vitalon {
namespace {

using testing::FakeMenuItem;
using testing::FakeSerialPort;

class PortManagerTest : public ::testing::Test {
protected:
    PortManagerTest() {
        items_[0].checked = true;  // the window's design checks COM1
    }
    std::array<MenuItem*, 8> raw() {
        std::array<MenuItem*, 8> r{};
        for (std::size_t i = 0; i < 8; ++i) {
            r[i] = &items_[i];
        }
        return r;
    }
    std::vector<bool> enabled() const {
        std::vector<bool> e;
        for (const auto& i : items_) {
            e.push_back(i.enabled);
        }
        return e;
    }
    std::vector<bool> checked() const {
        std::vector<bool> c;
        for (const auto& i : items_) {
            c.push_back(i.checked);
        }
        return c;
    }

    FakeSerialPort port_;
    std::array<FakeMenuItem, 8> items_;
    PortManager ports_{port_, raw()};
};

TEST_F(PortManagerTest, ScanWithOnlyCom3TakesItAndDisablesTheRest) {
    port_.openable = {3};
    EXPECT_EQ(ports_.FindComPort(), 3);
    EXPECT_EQ(enabled(),
              (std::vector<bool>{false, false, true, false, false, false, false, false}));
    // The design check mark on the disabled COM1 stays; nothing checks COM3.
    EXPECT_EQ(checked(),
              (std::vector<bool>{true, false, false, false, false, false, false, false}));
    EXPECT_FALSE(port_.PortOpen());
    EXPECT_TRUE(port_.writes.empty());
}

TEST_F(PortManagerTest, ScanProbesEveryPortAndTheLowestWins) {
    port_.openable = {5, 2};
    EXPECT_EQ(ports_.FindComPort(), 2);
    EXPECT_TRUE(items_[1].enabled);
    EXPECT_TRUE(items_[4].enabled);
    EXPECT_EQ(port_.opens[2], 1);
    EXPECT_EQ(port_.opens[5], 1);  // a later port that opens is opened and closed again
    EXPECT_FALSE(port_.PortOpen());
}

TEST_F(PortManagerTest, ScanWithNoPortReturnsZeroAndDisablesAll) {
    EXPECT_EQ(ports_.FindComPort(), 0);
    EXPECT_EQ(enabled(), std::vector<bool>(8, false));
}

TEST_F(PortManagerTest, FailingProbeStepDisablesItsItemAndTheScanGoesOn) {
    port_.openable = {4, 6};
    port_.failing = {"4:close"};
    EXPECT_EQ(ports_.FindComPort(), 4);
    EXPECT_FALSE(items_[3].enabled);  // opened, but its close failed
    EXPECT_TRUE(items_[5].enabled);
    EXPECT_EQ(port_.opens[6], 1);
}

TEST_F(PortManagerTest, ScanKeepsTheFirstFailureOfEachPortForTheStartMessage) {
    port_.openable = {4};
    port_.failing = {"4:close", "6:close"};
    ports_.FindComPort();
    const ProbeFailures& f = ports_.probeFailures();
    ASSERT_TRUE(f[0] && f[3] && f[5]);
    EXPECT_EQ(f[0]->kind(), PortErrorKind::NotFound);
    EXPECT_STREQ(f[3]->what(), "close failed");  // opened, but its close failed
    // Port 6 failed at its open, then at its close: the first reason is kept.
    EXPECT_EQ(f[5]->kind(), PortErrorKind::NotFound);

    // A later scan starts afresh.
    port_.failing.clear();
    port_.openable = {1, 2, 3, 4, 5, 6, 7, 8};
    ports_.FindComPort();
    for (const auto& failure : ports_.probeFailures()) {
        EXPECT_FALSE(failure.has_value());
    }
}

TEST_F(PortManagerTest, ScanStepsRunInOrderPerPort) {
    port_.openable = {1};
    ports_.FindComPort();
    const std::vector<std::string> firstTwo(port_.log.begin(), port_.log.begin() + 5);
    EXPECT_EQ(firstTwo,
              (std::vector<std::string>{"CommPort 1", "open 1", "close", "CommPort 2", "open 2"}));
}

TEST_F(PortManagerTest, ConfigureAppliesTheLineSettingsInOrder) {
    port_.openable = {3};
    ports_.configure(3);
    EXPECT_EQ(port_.log,
              (std::vector<std::string>{"CommPort 3", "Settings 9600,n,8,1", "InputMode 1",
                                        "RThreshold 1", "SThreshold 1", "open 3"}));
    EXPECT_TRUE(port_.PortOpen());
}

TEST_F(PortManagerTest, PickMovesTheCheckMarkAndSendsNothing) {
    port_.openable = {2, 4};
    ports_.configure(2);
    ports_.setCOM_Click(4);
    EXPECT_EQ(checked(),
              (std::vector<bool>{false, false, false, true, false, false, false, false}));
    EXPECT_TRUE(port_.PortOpen());
    EXPECT_EQ(port_.opens[4], 1);
    EXPECT_TRUE(port_.writes.empty());

    ports_.setCOM_Click(4);  // the open port again: closed and reopened
    EXPECT_EQ(port_.opens[4], 2);
    EXPECT_TRUE(items_[3].checked);
}

TEST_F(PortManagerTest, FailedPickLeavesChecksAndNoPortOpen) {
    port_.openable = {2};
    ports_.configure(2);
    EXPECT_THROW(ports_.setCOM_Click(5), PortError);
    EXPECT_EQ(checked(),
              (std::vector<bool>{true, false, false, false, false, false, false, false}));
    EXPECT_FALSE(port_.PortOpen());

    // The next pick starts by closing a port that is already closed: no harm.
    ports_.setCOM_Click(2);
    EXPECT_TRUE(port_.PortOpen());
    EXPECT_TRUE(items_[1].checked);
    EXPECT_FALSE(items_[0].checked);
}

TEST_F(PortManagerTest, DisabledItemCannotBePicked) {
    port_.openable = {2};
    ports_.FindComPort();
    port_.openable = {2, 6};  // COM6 appears later; its item stays disabled
    ports_.setCOM_Click(6);
    EXPECT_FALSE(port_.PortOpen());
    EXPECT_FALSE(items_[5].checked);
}

TEST_F(PortManagerTest, ShutdownTouchesOnlyAnOpenPort) {
    ports_.closeAtShutdown();
    EXPECT_TRUE(port_.log.empty());
    port_.openable = {1};
    ports_.configure(1);
    port_.log.clear();
    ports_.closeAtShutdown();
    EXPECT_EQ(port_.log, std::vector<std::string>{"close"});
}

}  // namespace
}  // namespace vitalon
