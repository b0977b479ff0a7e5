#include <gtest/gtest.h>

#include "Fakes.h"
#include "PortManager.h"

namespace vitalon {
namespace {

using testing::FakeLink;
using testing::FakeMenuItem;

// Port n stands for device "comN".
PortAssignment allDevices() {
    PortAssignment devices;
    for (std::size_t i = 0; i < devices.size(); ++i) {
        devices[i] = PortDevice{"com" + std::to_string(i + 1), {}};
    }
    return devices;
}

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

    FakeLink port_;
    std::array<FakeMenuItem, 8> items_;
    PortManager ports_{port_, allDevices(), raw()};
};

TEST_F(PortManagerTest, ScanWithOnlyCom3TakesItAndDisablesTheRest) {
    port_.openable = {"com3"};
    EXPECT_EQ(ports_.findPort(), 3);
    EXPECT_EQ(enabled(),
              (std::vector<bool>{false, false, true, false, false, false, false, false}));
    // The design check mark on the disabled COM1 stays; nothing checks COM3.
    EXPECT_EQ(checked(),
              (std::vector<bool>{true, false, false, false, false, false, false, false}));
    EXPECT_FALSE(port_.isOpen());
    EXPECT_TRUE(port_.writes.empty());
}

TEST_F(PortManagerTest, ScanProbesEveryPortAndTheLowestWins) {
    port_.openable = {"com5", "com2"};
    EXPECT_EQ(ports_.findPort(), 2);
    EXPECT_TRUE(items_[1].enabled);
    EXPECT_TRUE(items_[4].enabled);
    EXPECT_EQ(port_.opens["com2"], 1);
    EXPECT_EQ(port_.opens["com5"], 1);  // a later port that opens is opened and closed again
    EXPECT_FALSE(port_.isOpen());
}

TEST_F(PortManagerTest, ScanWithNoPortReturnsZeroAndDisablesAll) {
    EXPECT_EQ(ports_.findPort(), 0);
    EXPECT_EQ(enabled(), std::vector<bool>(8, false));
}

TEST_F(PortManagerTest, FailingProbeStepDisablesItsItemAndTheScanGoesOn) {
    port_.openable = {"com4", "com6"};
    port_.failing = {"com4:close"};
    EXPECT_EQ(ports_.findPort(), 4);
    EXPECT_FALSE(items_[3].enabled);  // opened, but its close failed
    EXPECT_TRUE(items_[5].enabled);
    EXPECT_EQ(port_.opens["com6"], 1);
}

TEST_F(PortManagerTest, ScanKeepsTheFirstFailureOfEachPortForTheStartMessage) {
    port_.openable = {"com4"};
    port_.failing = {"com4:close", "com6:close"};
    ports_.findPort();
    const ProbeFailures& f = ports_.probeFailures();
    ASSERT_TRUE(f[0] && f[3] && f[5]);
    EXPECT_EQ(f[0]->kind(), PortErrorKind::NotFound);
    EXPECT_STREQ(f[3]->what(), "close failed");  // opened, but its close failed
    // Port 6 failed at its open, then at its close: the first reason is kept.
    EXPECT_EQ(f[5]->kind(), PortErrorKind::NotFound);

    // A later scan starts afresh.
    port_.failing.clear();
    port_.openable = {"com1", "com2", "com3", "com4", "com5", "com6", "com7", "com8"};
    ports_.findPort();
    for (const auto& failure : ports_.probeFailures()) {
        EXPECT_FALSE(failure.has_value());
    }
}

TEST_F(PortManagerTest, ScanStepsRunInOrderPerPort) {
    port_.openable = {"com1"};
    ports_.findPort();
    const std::vector<std::string> firstFour(port_.log.begin(), port_.log.begin() + 4);
    EXPECT_EQ(firstFour, (std::vector<std::string>{"open com1", "close", "open com2", "close"}));
    EXPECT_EQ(ports_.currentPort(), 0);  // the scan leaves the link closed
}

TEST_F(PortManagerTest, OpenUsesTheModulesLineSettingsAndANumberWithoutDeviceFails) {
    port_.openable = {"com3"};
    ports_.open(3);
    EXPECT_EQ(port_.log, std::vector<std::string>{"open com3"});
    EXPECT_EQ(port_.settings, (LineSettings{9600, Parity::None, 8, 1}));
    EXPECT_EQ(describe(port_.settings), "9600,n,8,1");
    EXPECT_EQ(ports_.currentPort(), 3);

    PortAssignment sparse;
    sparse[1] = PortDevice{"com2", {}};
    FakeLink link;
    PortManager ports(link, sparse, raw());
    try {
        ports.open(5);
        FAIL() << "COM5 has no device";
    } catch (const PortError& e) {
        EXPECT_EQ(e.kind(), PortErrorKind::NoDevice);
        EXPECT_NE(std::string(e.what()).find("COM5"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(link.log.empty());
}

TEST_F(PortManagerTest, PickMovesTheCheckMarkAndSendsNothing) {
    port_.openable = {"com2", "com4"};
    ports_.open(2);
    ports_.pick(4);
    EXPECT_EQ(checked(),
              (std::vector<bool>{false, false, false, true, false, false, false, false}));
    EXPECT_TRUE(port_.isOpen());
    EXPECT_EQ(port_.opens["com4"], 1);
    EXPECT_TRUE(port_.writes.empty());

    EXPECT_EQ(ports_.currentPort(), 4);

    ports_.pick(4);  // the open port again: closed and reopened
    EXPECT_EQ(port_.opens["com4"], 2);
    EXPECT_TRUE(items_[3].checked);
}

TEST_F(PortManagerTest, FailedPickLeavesChecksAndNoPortOpen) {
    port_.openable = {"com2"};
    ports_.open(2);
    EXPECT_THROW(ports_.pick(5), PortError);
    EXPECT_EQ(checked(),
              (std::vector<bool>{true, false, false, false, false, false, false, false}));
    EXPECT_FALSE(port_.isOpen());
    EXPECT_EQ(ports_.currentPort(), 0);

    // The next pick starts by closing a port that is already closed: no harm.
    ports_.pick(2);
    EXPECT_TRUE(port_.isOpen());
    EXPECT_TRUE(items_[1].checked);
    EXPECT_FALSE(items_[0].checked);
}

TEST_F(PortManagerTest, DisabledOrUnknownPortIsRefusedAndTheOpenPortStays) {
    port_.openable = {"com2"};
    ports_.findPort();
    ports_.pick(2);
    port_.openable = {"com2", "com6"};  // COM6 appears later; its item stays disabled
    for (const std::uint8_t n : {std::uint8_t{6}, std::uint8_t{0}, std::uint8_t{9}}) {
        try {
            ports_.pick(n);
            FAIL() << "port " << int(n) << " was picked";
        } catch (const PortError& e) {
            EXPECT_EQ(e.kind(), PortErrorKind::Unavailable);
        }
    }
    EXPECT_EQ(ports_.currentPort(), 2);
    EXPECT_EQ(port_.opens["com6"], 0);
    EXPECT_FALSE(items_[5].checked);
    EXPECT_TRUE(items_[1].checked);
}

TEST_F(PortManagerTest, ShutdownTouchesOnlyAnOpenPort) {
    ports_.closeAtShutdown();
    EXPECT_TRUE(port_.log.empty());
    port_.openable = {"com1"};
    ports_.open(1);
    port_.log.clear();
    ports_.closeAtShutdown();
    EXPECT_EQ(port_.log, std::vector<std::string>{"close"});
}

}  // namespace
}  // namespace vitalon
