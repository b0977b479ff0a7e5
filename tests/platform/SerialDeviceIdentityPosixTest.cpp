// The system's identity provider on pseudo-terminals behind symbolic links,
// standing in for adapters behind /dev/serial links.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>

#include "PtyPair.h"
#include "ReconnectWatcher.h"
#include "Replug.h"
#include "SerialDeviceIdentity.h"

namespace vitalon {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::PtyPair;

class SerialDeviceIdentityTest : public ::testing::Test {
protected:
    void linkTo(const std::string& target) {
        fs::remove(link);
        fs::create_symlink(target, link);
    }

    QTemporaryDir dir;
    const std::string link = dir.filePath(QStringLiteral("ttyUSB-module")).toStdString();
    SerialDeviceIdentityProvider devices;
};

TEST_F(SerialDeviceIdentityTest, ALinkIsKnownByTheDeviceItLeadsTo) {
    PtyPair pty;
    linkTo(pty.slavePath());
    const DeviceIdentity viaLink = devices.identityOf(link);
    EXPECT_TRUE(viaLink.known());
    EXPECT_FALSE(viaLink.usb);  // a pseudo-terminal has no USB numbers
    EXPECT_EQ(viaLink.location, pty.slavePath());
    EXPECT_TRUE(sameDevice(viaLink, devices.identityOf(pty.slavePath())));
    EXPECT_FALSE(devices.identityOf(dir.filePath(QStringLiteral("nothing")).toStdString()).known());
}

// The terminal behind the link closes and another program's terminal gets its
// number while the link stays as it was: the same link now leads to another
// device, and the watch for the lost one never opens it. Once the link's
// owner points it at a terminal, even one with another number, it is followed.
TEST_F(SerialDeviceIdentityTest, AnotherDeviceBehindTheSameLinkIsNeverReopened) {
    auto lost = std::make_unique<PtyPair>();
    PtyPair other;
    const std::string number = lost->slavePath();
    linkTo(number);
    std::vector<std::string> reopened;
    ReconnectWatcher watcher(devices, [&](const std::string& path) { reopened.push_back(path); });
    watcher.linkOpened(1, link);
    EXPECT_EQ(watcher.rule(), ReconnectRule::FollowLink);

    lost->closeMaster();
    EXPECT_FALSE(devices.identityOf(link).known());
    const auto t0 = ReconnectWatcher::Clock::now();
    watcher.linkLost(t0);
    EXPECT_EQ(watcher.tick(t0 + 1s).kind, ReconnectOutcome::Kind::None);

    lost.reset();
    const auto stranger = testing::ptyAt(number, 10s);
    ASSERT_TRUE(stranger) << number << " was taken by another program";
    EXPECT_EQ(watcher.tick(t0 + 2s).kind, ReconnectOutcome::Kind::OtherDevice);
    EXPECT_TRUE(reopened.empty());
    EXPECT_TRUE(watcher.watching());

    linkTo(other.slavePath());
    EXPECT_EQ(watcher.tick(t0 + 3s).kind, ReconnectOutcome::Kind::Reconnected);
    EXPECT_EQ(reopened, std::vector<std::string>{link});
}

// The facts the rules are decided on: a terminal is told from other nodes,
// and a link made again gets a new stamp even with the same target, also when
// only a link further down its chain was made again.
TEST_F(SerialDeviceIdentityTest, TerminalsAndRemadeLinksAreToldApart) {
    PtyPair pty;
    EXPECT_TRUE(devices.identityOf(pty.slavePath()).pseudoTerminal);
    EXPECT_FALSE(devices.identityOf("/dev/null").pseudoTerminal);
    EXPECT_TRUE(devices.identityOf("/dev/null").known());
    EXPECT_EQ(devices.linkStamp(pty.slavePath()), "");
    EXPECT_EQ(devices.linkStamp(dir.filePath(QStringLiteral("nothing")).toStdString()), "");

    linkTo(pty.slavePath());
    const std::string first = devices.linkStamp(link);
    EXPECT_NE(first, "");
    EXPECT_EQ(devices.linkStamp(link), first);
    linkTo(pty.slavePath());
    const std::string second = devices.linkStamp(link);
    EXPECT_NE(second, first);

    const std::string outer = dir.filePath(QStringLiteral("ecg")).toStdString();
    fs::create_symlink("ttyUSB-module", outer);  // relative, to the link above
    const std::string chain = devices.linkStamp(outer);
    EXPECT_NE(chain.find(second), std::string::npos);
    linkTo(pty.slavePath());
    EXPECT_NE(devices.linkStamp(outer), chain);
    EXPECT_TRUE(devices.identityOf(outer).pseudoTerminal);
}

TEST_F(SerialDeviceIdentityTest, TheSameTerminalBackBehindTheLinkIsReopened) {
    PtyPair pty;
    linkTo(pty.slavePath());
    std::vector<std::string> reopened;
    ReconnectWatcher watcher(devices, [&](const std::string& path) { reopened.push_back(path); });
    watcher.linkOpened(1, link);

    fs::remove(link);  // the link goes away with the device, as udev's do
    const auto t0 = ReconnectWatcher::Clock::now();
    watcher.linkLost(t0);
    EXPECT_EQ(watcher.tick(t0 + 1s).kind, ReconnectOutcome::Kind::None);
    linkTo(pty.slavePath());
    EXPECT_EQ(watcher.tick(t0 + 2s).kind, ReconnectOutcome::Kind::Reconnected);
    EXPECT_EQ(reopened, std::vector<std::string>{link});
}

// The system's list is read again only after a watched folder changed, and
// once more while the change is too recent for its time to be trusted.
TEST(SerialDeviceList, IsReadAgainOnlyWhenDeviceNodesMayHaveChanged) {
    QTemporaryDir devDir;
    const fs::path dev = devDir.path().toStdString();
    const auto now = fs::file_time_type::clock::now();
    fs::last_write_time(dev, now - 1h);
    SerialDeviceIdentityProvider devices(devDir.path(), devDir.filePath(QStringLiteral("serial")));

    devices.presentDevices();
    devices.presentDevices();
    devices.identityOf("/dev/null");
    EXPECT_EQ(devices.listReads(), 1);

    std::ofstream(dev / "ttyUSB7").put('\n');
    fs::last_write_time(dev, now - 30min);
    devices.presentDevices();
    devices.presentDevices();
    EXPECT_EQ(devices.listReads(), 2);

    // A change just now: its time may still be shared with a change to come.
    fs::remove(dev / "ttyUSB7");
    devices.presentDevices();
    devices.presentDevices();
    EXPECT_EQ(devices.listReads(), 4);
    fs::last_write_time(dev, now - 20min);
    devices.presentDevices();
    devices.presentDevices();
    EXPECT_EQ(devices.listReads(), 5);
}

}  // namespace
}  // namespace vitalon
