#include <gtest/gtest.h>

#include <stdexcept>

#include "DeviceSettings.h"
#include "Fakes.h"
#include "Protocol.h"
#include "ReconnectWatcher.h"

namespace vitalon {
namespace {

using namespace std::chrono_literals;
using Clock = ReconnectWatcher::Clock;

const DeviceIdentity kModule = DeviceIdentity::usbAdapter(0x0403, 0x6001, "A5XK3RJT", {});
const DeviceIdentity kOtherAdapter = DeviceIdentity::usbAdapter(0x0403, 0x6001, "B7QQ01", {});

TEST(DeviceIdentity, OnlyTheSameDeviceMatches) {
    const auto usb = [](const char* serial, const char* place) {
        return DeviceIdentity::usbAdapter(0x1a86, 0x7523, serial, place);
    };
    // Same adapter under another path or socket.
    EXPECT_TRUE(sameDevice(usb("X1", "/dev/ttyUSB0"), usb("X1", "/dev/ttyUSB3")));
    EXPECT_TRUE(sameDevice(DeviceIdentity::devicePath("/dev/ttyS0"),
                           DeviceIdentity::devicePath("/dev/ttyS0")));
    // Without serial numbers only the socket tells two adapters of one make apart.
    EXPECT_TRUE(sameDevice(usb("", "pci-0:1.0-usb-0:2"), usb("", "pci-0:1.0-usb-0:2")));
    EXPECT_FALSE(sameDevice(usb("", "pci-0:1.0-usb-0:2"), usb("", "pci-0:1.0-usb-0:3")));
    EXPECT_FALSE(sameDevice(usb("", ""), usb("", "")));

    EXPECT_FALSE(sameDevice(usb("X1", "p"), usb("X2", "p")));
    EXPECT_FALSE(sameDevice(usb("X1", "p"), usb("", "p")));
    EXPECT_FALSE(sameDevice(usb("X1", "p"), DeviceIdentity::usbAdapter(0x1a86, 0x7524, "X1", "p")));
    EXPECT_FALSE(sameDevice(usb("X1", "p"), DeviceIdentity::usbAdapter(0x0403, 0x7523, "X1", "p")));
    // A path identity never stands in for an adapter at that path.
    EXPECT_FALSE(sameDevice(usb("", "/dev/ttyUSB0"), DeviceIdentity::devicePath("/dev/ttyUSB0")));
    EXPECT_FALSE(sameDevice(DeviceIdentity{}, DeviceIdentity{}));
    EXPECT_EQ(usb("X1", "").text(), "USB 1a86:7523 serial X1");
}

// The watcher with a fake device list and a reopen that records its calls
// and fails while `openFailure` is set.
class ReconnectWatcherTest : public ::testing::Test {
protected:
    ReconnectWatcherTest() {
        devices.plug("/dev/ttyUSB0", kModule);
        watcher.linkOpened(1, "/dev/ttyUSB0");
    }

    // Pulls the device and reports the loss at t0.
    void pull() {
        devices.unplug("/dev/ttyUSB0");
        watcher.linkLost(t0);
    }

    FakeDeviceIdentityProvider devices;
    std::vector<std::string> reopened;
    std::optional<PortError> openFailure;
    ReconnectWatcher watcher{devices, [this](const std::string& path) {
                                 reopened.push_back(path);
                                 if (openFailure) {
                                     throw *openFailure;
                                 }
                             }};
    const Clock::time_point t0 = Clock::time_point{} + 1h;
};

TEST_F(ReconnectWatcherTest, DeviceBackUnderTheSameLinkIsReopenedThere) {
    pull();
    EXPECT_TRUE(watcher.watching());
    EXPECT_EQ(watcher.tick(t0 + 1s).kind, ReconnectOutcome::Kind::None);

    devices.plug("/dev/ttyUSB0", kModule);
    const auto outcome = watcher.tick(t0 + 2s);
    EXPECT_EQ(outcome.kind, ReconnectOutcome::Kind::Reconnected);
    EXPECT_EQ(outcome.status, "COM1 - /dev/ttyUSB0 - 9600,n,8,1 (reconnected)");
    EXPECT_EQ(reopened, std::vector<std::string>{"/dev/ttyUSB0"});
    EXPECT_FALSE(watcher.watching());
    EXPECT_EQ(watcher.tick(t0 + 3s).kind, ReconnectOutcome::Kind::None);
    EXPECT_EQ(reopened.size(), 1u);
}

TEST_F(ReconnectWatcherTest, DeviceBackUnderAnotherPathIsReopenedThere) {
    pull();
    devices.plug("/dev/ttyS0", DeviceIdentity::devicePath("/dev/ttyS0"));
    devices.plug("/dev/ttyUSB1", kModule);
    const auto outcome = watcher.tick(t0 + 1s);
    EXPECT_EQ(outcome.kind, ReconnectOutcome::Kind::Reconnected);
    EXPECT_EQ(outcome.status, "COM1 - /dev/ttyUSB1 - 9600,n,8,1 (reconnected)");
    EXPECT_EQ(reopened, std::vector<std::string>{"/dev/ttyUSB1"});
    EXPECT_EQ(watcher.path(), "/dev/ttyUSB1");
    EXPECT_EQ(watcher.port(), 1);
}

TEST_F(ReconnectWatcherTest, AnotherDeviceAtTheLostPathIsNeverOpened) {
    pull();
    devices.plug("/dev/ttyUSB0", kOtherAdapter);
    auto outcome = watcher.tick(t0 + 1s);
    EXPECT_EQ(outcome.kind, ReconnectOutcome::Kind::OtherDevice);
    EXPECT_NE(outcome.status.find("another device is there now (USB 0403:6001 serial B7QQ01)"),
              std::string::npos)
        << outcome.status;
    // Said once; the watch goes on without repeating it.
    EXPECT_EQ(watcher.tick(t0 + 2s).status, "");
    EXPECT_TRUE(reopened.empty());
    EXPECT_TRUE(watcher.watching());

    devices.plug("/dev/ttyUSB2", kModule);
    outcome = watcher.tick(t0 + 3s);
    EXPECT_EQ(outcome.kind, ReconnectOutcome::Kind::Reconnected);
    EXPECT_EQ(reopened, std::vector<std::string>{"/dev/ttyUSB2"});
}

TEST_F(ReconnectWatcherTest, BusyOrForbiddenDeviceIsReportedAndRetriedUntilItOpens) {
    const std::vector<std::pair<PortError, std::string>> failures = {
        {PortError(PortErrorKind::Busy, "/dev/ttyUSB0 is in use by another program (x)."),
         "in use by another program"},
        {PortError(PortErrorKind::PermissionDenied, "/dev/ttyUSB0: permission denied (x)."),
         "dialout group"}};
    for (const auto& [error, reason] : failures) {
        SCOPED_TRACE(reason);
        reopened.clear();
        devices.plug("/dev/ttyUSB0", kModule);
        watcher.linkOpened(1, "/dev/ttyUSB0");
        pull();
        devices.plug("/dev/ttyUSB0", kModule);
        openFailure = error;

        auto outcome = watcher.tick(t0 + 1s);
        EXPECT_EQ(outcome.kind, ReconnectOutcome::Kind::OpenFailed);
        EXPECT_NE(outcome.status.find(reason), std::string::npos) << outcome.status;
        EXPECT_NE(outcome.status.find("tried again"), std::string::npos) << outcome.status;
        EXPECT_TRUE(watcher.watching());
        EXPECT_EQ(watcher.tick(t0 + 1500ms).kind, ReconnectOutcome::Kind::None);
        EXPECT_EQ(reopened.size(), 1u);  // not retried before the next check

        outcome = watcher.tick(t0 + 2s);
        EXPECT_EQ(outcome.kind, ReconnectOutcome::Kind::OpenFailed);
        EXPECT_EQ(outcome.status, "");  // the same reason is not said again

        openFailure.reset();
        outcome = watcher.tick(t0 + 3s);
        EXPECT_EQ(outcome.kind, ReconnectOutcome::Kind::Reconnected);
        EXPECT_EQ(reopened.size(), 3u);
        EXPECT_FALSE(watcher.watching());
    }
}

TEST_F(ReconnectWatcherTest, AnyFailingOpenKeepsTheWatchAlive) {
    pull();
    devices.plug("/dev/ttyUSB0", kModule);
    ReconnectWatcher throwing(devices,
                              [](const std::string&) { throw std::runtime_error("boom"); });
    throwing.linkOpened(1, "/dev/ttyUSB0");
    throwing.linkLost(t0);
    const auto outcome = throwing.tick(t0 + 1s);
    EXPECT_EQ(outcome.kind, ReconnectOutcome::Kind::OpenFailed);
    EXPECT_NE(outcome.status.find("boom"), std::string::npos);
    EXPECT_TRUE(throwing.watching());
}

TEST_F(ReconnectWatcherTest, SwitchedOffNothingIsWatchedOrReopened) {
    pull();
    watcher.setEnabled(false, t0);  // ends the running watch
    devices.plug("/dev/ttyUSB0", kModule);
    for (auto t = t0; t < t0 + 5s; t += 500ms) {
        watcher.tick(t);
    }
    EXPECT_FALSE(watcher.watching());
    EXPECT_TRUE(reopened.empty());
    EXPECT_EQ(devices.listChecks, 0);

    // Switched on after the loss: the lost device is watched for after all.
    watcher.setEnabled(true, t0 + 5s);
    EXPECT_EQ(watcher.tick(t0 + 6s).kind, ReconnectOutcome::Kind::Reconnected);
}

TEST_F(ReconnectWatcherTest, AManualPickEndsTheWatchForGood) {
    pull();
    watcher.portPicked();
    devices.plug("/dev/ttyUSB0", kModule);
    watcher.setEnabled(false, t0 + 1s);
    watcher.setEnabled(true, t0 + 1s);
    watcher.tick(t0 + 3s);
    watcher.linkLost(t0 + 3s);  // a loss with nothing identified starts nothing
    watcher.tick(t0 + 5s);
    EXPECT_FALSE(watcher.watching());
    EXPECT_TRUE(reopened.empty());
}

TEST_F(ReconnectWatcherTest, ChecksTheDeviceListAtMostOnceASecond) {
    pull();
    const int before = devices.identityChecks;
    for (auto t = t0; t <= t0 + 10s; t += 100ms) {
        watcher.tick(t);
    }
    EXPECT_EQ(devices.listChecks, 10);
    EXPECT_EQ(devices.identityChecks - before, 10);
    EXPECT_EQ(watcher.nextCheck(), t0 + 11s);
}

TEST_F(ReconnectWatcherTest, TheWaitingTextComesBackWhenTheDeviceGoesAwayAgain) {
    pull();
    devices.plug("/dev/ttyUSB0", kModule);
    openFailure = PortError(PortErrorKind::Busy, "busy");
    watcher.tick(t0 + 1s);
    devices.unplug("/dev/ttyUSB0");
    EXPECT_EQ(watcher.tick(t0 + 2s).status, waitingForDeviceStatus(1, "/dev/ttyUSB0", {}));
}

TEST(ReconnectRuleTest, TheFirstRuleThatFitsTheOpenedDeviceApplies) {
    const DeviceIdentity pts = DeviceIdentity::pseudoTerminalAt("/dev/pts/7");
    const DeviceIdentity ttyS = DeviceIdentity::devicePath("/dev/ttyS0");
    EXPECT_EQ(reconnectRule(kModule, false), ReconnectRule::UsbIdentity);
    EXPECT_EQ(reconnectRule(kModule, true), ReconnectRule::UsbIdentity);  // even behind a link
    EXPECT_EQ(reconnectRule(pts, true), ReconnectRule::FollowLink);
    EXPECT_EQ(reconnectRule(ttyS, true), ReconnectRule::FollowLink);
    EXPECT_EQ(reconnectRule(ttyS, false), ReconnectRule::FixedPort);
    EXPECT_EQ(reconnectRule(pts, false), ReconnectRule::BarePseudoTerminal);
    EXPECT_EQ(reconnectRule(DeviceIdentity{}, true), ReconnectRule::Unidentified);
    // A terminal's number never stands for a fixed port at the same path.
    EXPECT_FALSE(sameDevice(pts, DeviceIdentity::devicePath("/dev/pts/7")));
    EXPECT_TRUE(sameDevice(pts, DeviceIdentity::pseudoTerminalAt("/dev/pts/7")));
}

// A watcher on a fake device list, for the rules that are not about USB adapters.
class ReconnectRulesTest : public ::testing::Test {
protected:
    ReconnectOutcome::Kind tickAt(std::chrono::milliseconds after) {
        return watcher.tick(t0 + after).kind;
    }

    FakeDeviceIdentityProvider devices;
    std::vector<std::string> reopened;
    ReconnectWatcher watcher{devices,
                             [this](const std::string& path) { reopened.push_back(path); }};
    const Clock::time_point t0 = Clock::time_point{} + 1h;
};

// The system hands a closed terminal's number to the next terminal any
// program opens: whatever turns up there is never written to.
TEST_F(ReconnectRulesTest, ABarePseudoTerminalIsNeverWatchedForNorReopened) {
    const DeviceIdentity pts7 = DeviceIdentity::pseudoTerminalAt("/dev/pts/7");
    devices.plug("/dev/pts/7", pts7);
    watcher.linkOpened(1, "/dev/pts/7");
    EXPECT_EQ(watcher.rule(), ReconnectRule::BarePseudoTerminal);
    devices.unplug("/dev/pts/7");
    watcher.linkLost(t0);
    EXPECT_FALSE(watcher.watching());

    devices.plug("/dev/pts/7", pts7);  // another program's terminal
    watcher.setEnabled(false, t0 + 1s);
    watcher.setEnabled(true, t0 + 1s);  // no loss is kept for later either
    for (auto t = 0ms; t <= 10s; t += 250ms) {
        EXPECT_EQ(tickAt(t), ReconnectOutcome::Kind::None);
    }
    EXPECT_FALSE(watcher.watching());
    EXPECT_TRUE(reopened.empty());
    EXPECT_EQ(devices.listChecks, 0);

    const std::string told = pseudoTerminalLostStatus(1, "/dev/pts/7", "Input/output error");
    EXPECT_EQ(told.rfind("COM1 - /dev/pts/7 was lost (Input/output error). ", 0), 0u) << told;
    EXPECT_NE(told.find("not reopened by itself"), std::string::npos) << told;
    EXPECT_NE(told.find("Pick a port from the Port menu"), std::string::npos) << told;
}

// A link the user named is followed wherever its owner points it, also to a
// terminal with another number; a terminal reached through the very link
// that led to the lost one is not taken, since its number may be reused.
TEST_F(ReconnectRulesTest, ALinkIsFollowedWhereverItIsPointedButNotLeftStale) {
    const std::string link = "/tmp/ecg-module";
    devices.makeLink(link, DeviceIdentity::pseudoTerminalAt("/dev/pts/3"));
    watcher.linkOpened(1, link);
    EXPECT_EQ(watcher.rule(), ReconnectRule::FollowLink);

    devices.removeLink(link);  // the owner removes it with its terminal
    watcher.linkLost(t0);
    EXPECT_TRUE(watcher.watching());
    EXPECT_EQ(watcher.waitingStatus("gone"),
              "COM1 - /tmp/ecg-module was lost (gone). Waiting for the link to lead to a device "
              "again; it is reopened by itself.");
    EXPECT_EQ(tickAt(1s), ReconnectOutcome::Kind::None);
    devices.makeLink(link, {});  // dangling: nothing to open yet
    EXPECT_EQ(tickAt(2s), ReconnectOutcome::Kind::None);

    devices.makeLink(link, DeviceIdentity::pseudoTerminalAt("/dev/pts/9"));
    auto outcome = watcher.tick(t0 + 3s);
    EXPECT_EQ(outcome.kind, ReconnectOutcome::Kind::Reconnected);
    EXPECT_EQ(outcome.status, "COM1 - /tmp/ecg-module - 9600,n,8,1 (reconnected)");
    EXPECT_EQ(reopened, std::vector<std::string>{link});
    EXPECT_EQ(watcher.path(), link);  // the port still stands for the link
    EXPECT_EQ(watcher.identity().location, "/dev/pts/9");

    // Lost again; the link is left as it was and /dev/pts/9 is someone else's now.
    watcher.linkLost(t0 + 4s);
    outcome = watcher.tick(t0 + 5s);
    EXPECT_EQ(outcome.kind, ReconnectOutcome::Kind::OtherDevice);
    EXPECT_NE(outcome.status.find("still leads to /dev/pts/9"), std::string::npos)
        << outcome.status;
    EXPECT_NE(outcome.status.find("it is not opened"), std::string::npos) << outcome.status;
    EXPECT_EQ(watcher.tick(t0 + 6s).status, "");  // said once
    EXPECT_EQ(reopened.size(), 1u);

    // Made again by its owner, even to the same number: followed.
    devices.makeLink(link, DeviceIdentity::pseudoTerminalAt("/dev/pts/9"));
    EXPECT_EQ(tickAt(7s), ReconnectOutcome::Kind::Reconnected);
    EXPECT_EQ(reopened.size(), 2u);
    EXPECT_EQ(devices.listChecks, 0);  // a followed link needs no device list
}

// A link left as it was to a port that is no terminal leads to the same port.
TEST_F(ReconnectRulesTest, ALinkToAHardwarePortIsFollowedAsItStands) {
    const std::string link = "/home/user/ecg";
    devices.makeLink(link, DeviceIdentity::devicePath("/dev/ttyS1"));
    watcher.linkOpened(2, link);
    devices.paths.erase(link);  // the port's driver went away; the link stays
    watcher.linkLost(t0);
    EXPECT_EQ(tickAt(1s), ReconnectOutcome::Kind::None);
    devices.paths[link] = DeviceIdentity::devicePath("/dev/ttyS1");
    EXPECT_EQ(tickAt(2s), ReconnectOutcome::Kind::Reconnected);
    EXPECT_EQ(reopened, std::vector<std::string>{link});
}

// Behind a link too, a USB adapter is known by its own identity: the link
// leading to another adapter (or to a terminal) is not the module.
TEST_F(ReconnectRulesTest, AUsbAdapterBehindALinkIsStillKnownByItsIdentity) {
    const std::string link = "/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0";
    devices.makeLink(link, kModule);
    watcher.linkOpened(1, link);
    devices.removeLink(link);
    watcher.linkLost(t0);
    devices.makeLink(link, kOtherAdapter);
    EXPECT_EQ(tickAt(1s), ReconnectOutcome::Kind::OtherDevice);
    devices.makeLink(link, DeviceIdentity::pseudoTerminalAt("/dev/pts/1"));
    EXPECT_EQ(tickAt(2s), ReconnectOutcome::Kind::OtherDevice);
    EXPECT_TRUE(reopened.empty());
    devices.plug("/dev/ttyUSB4", kModule);
    EXPECT_EQ(tickAt(3s), ReconnectOutcome::Kind::Reconnected);
    EXPECT_EQ(reopened, std::vector<std::string>{"/dev/ttyUSB4"});
}

// A built-in port named directly comes back at its path, and only there.
TEST_F(ReconnectRulesTest, AFixedPortIsReopenedAtItsPath) {
    devices.plug("/dev/ttyS0", DeviceIdentity::devicePath("/dev/ttyS0"));
    watcher.linkOpened(1, "/dev/ttyS0");
    EXPECT_EQ(watcher.rule(), ReconnectRule::FixedPort);
    devices.unplug("/dev/ttyS0");
    watcher.linkLost(t0);
    EXPECT_EQ(tickAt(1s), ReconnectOutcome::Kind::None);
    devices.plug("/dev/ttyS0", DeviceIdentity::pseudoTerminalAt("/dev/ttyS0"));
    EXPECT_EQ(tickAt(2s), ReconnectOutcome::Kind::OtherDevice);
    devices.plug("/dev/ttyS0", DeviceIdentity::devicePath("/dev/ttyS0"));
    EXPECT_EQ(tickAt(3s), ReconnectOutcome::Kind::Reconnected);
    EXPECT_EQ(reopened, std::vector<std::string>{"/dev/ttyS0"});
    EXPECT_EQ(devices.listChecks, 0);
}

TEST(RestoreCommands, EachSelectorsExplicitCommandInStartUpOrder) {
    using Commands = std::vector<std::string>;
    DeviceSettings start;
    start.speed = 1;
    start.amplification = 1;
    start.filter = 5;
    start.lead = 1;
    const auto startCommands = restoreCommands(start);
    EXPECT_EQ(startCommands,
              Commands(protocol::kStartCommands.begin(), protocol::kStartCommands.end()));

    EXPECT_EQ(restoreCommands(
                  {.amplification = 0, .speed = 2, .filter = 6, .mode = 1, .lead = 2, .curve = 1}),
              (Commands{"S2", "A0", "6", "M", "G2", "D1"}));
    EXPECT_EQ(restoreCommands(
                  {.amplification = 2, .speed = 0, .filter = 5, .mode = 0, .lead = 0, .curve = 0}),
              (Commands{"S0", "A2", "5", "N", "G0", "D0"}));
    // A filter selector never set (0) has no command; the others still go.
    EXPECT_EQ(restoreCommands({}), (Commands{"S0", "A0", "N", "G0", "D0"}));
}

// Whatever the buttons did, the restore commands are exactly the last command
// each button sent: the module ends up where the clicks put it.
TEST(RestoreCommands, MatchTheLastCommandOfEveryButton) {
    testing::FakeLabel labels[6];
    testing::FakeLink port;
    port.openable = {"com1"};
    port.open("com1", {});
    SettingSelectors selectors({labels[0], labels[1], labels[2], labels[3], labels[4], labels[5]},
                               port);
    selectors.applyStartValues();
    std::array<std::string, 6> last = {"S1", "A1", "5", "N", "G1", "D0"};
    const std::array<void (SettingSelectors::*)(), 6> clicks = {
        &SettingSelectors::cycleSpeed,  &SettingSelectors::cycleAmplification,
        &SettingSelectors::cycleFilter, &SettingSelectors::cycleMode,
        &SettingSelectors::cycleLead,   &SettingSelectors::cycleCurve};
    // Every selector goes through its whole cycle, in interleaved orders.
    for (int round = 0; round < 12; ++round) {
        for (std::size_t b = 0; b < clicks.size(); ++b) {
            if ((round + static_cast<int>(b)) % 3 == 0) {
                continue;
            }
            (selectors.*clicks[b])();
            last[b] = port.writes.back();
            EXPECT_EQ(restoreCommands(selectors.settings()),
                      std::vector<std::string>(last.begin(), last.end()));
        }
    }
}

}  // namespace
}  // namespace vitalon
