#include <gtest/gtest.h>

#include "HotplugPorts.h"

namespace vitalon {
namespace {

using namespace std::chrono_literals;
using Clock = HotplugPorts::Clock;

DeviceIdentity adapter(const char* serial) {
    return DeviceIdentity::usbAdapter(0x0403, 0x6001, serial, {});
}

// One update as text, so a whole tick compares in one line.
std::vector<std::string> describe(const std::vector<PortItemUpdate>& updates) {
    std::vector<std::string> out;
    for (const auto& u : updates) {
        std::string enabled = !u.enabled ? "" : *u.enabled ? " enabled" : " disabled";
        out.push_back("COM" + std::to_string(u.port) + enabled + ": " + u.statusTip);
    }
    return out;
}

class HotplugPortsTest : public ::testing::Test {
protected:
    // Start-up found two devices: COM1 an adapter, COM2 a built-in port.
    HotplugPortsTest() {
        devices.plug("/dev/ttyUSB0", adapter("A1"), "FT232R USB UART");
        devices.plug("/dev/ttyS0", DeviceIdentity::devicePath("/dev/ttyS0"));
        start[0] = PortDevice{"/dev/ttyUSB0", "FT232R USB UART"};
        start[1] = PortDevice{"/dev/ttyS0", ""};
    }

    FakeDeviceIdentityProvider devices;
    PortAssignment start;
    const Clock::time_point t0 = Clock::time_point{} + 1h;
};

TEST_F(HotplugPortsTest, ADevicePluggedLaterGetsAFreeItemThatFollowsIt) {
    HotplugPorts ports(devices, start);
    EXPECT_TRUE(ports.tick(t0).empty());

    devices.plug("/dev/ttyUSB1", adapter("B2"), "CP2102");
    EXPECT_EQ(describe(ports.tick(t0 + 1s)),
              std::vector<std::string>{"COM3 enabled: /dev/ttyUSB1 - CP2102"});
    EXPECT_EQ(ports.assignment()[2]->path, "/dev/ttyUSB1");

    devices.unplug("/dev/ttyUSB1");
    EXPECT_EQ(describe(ports.tick(t0 + 2s)),
              std::vector<std::string>{"COM3 disabled: /dev/ttyUSB1 - CP2102 (unplugged)"});
    EXPECT_FALSE(ports.present(3));

    // Back under another name: the same number, not the next free one.
    devices.plug("/dev/ttyUSB2", adapter("B2"), "CP2102");
    EXPECT_EQ(describe(ports.tick(t0 + 3s)),
              std::vector<std::string>{"COM3 enabled: /dev/ttyUSB2 - CP2102"});
    EXPECT_TRUE(ports.tick(t0 + 4s).empty());
}

TEST_F(HotplugPortsTest, StartUpItemsKeepTheirStateButFollowTheirDevice) {
    HotplugPorts ports(devices, start);
    ports.tick(t0);

    devices.unplug("/dev/ttyUSB0");
    EXPECT_EQ(describe(ports.tick(t0 + 1s)),
              std::vector<std::string>{"COM1: /dev/ttyUSB0 - FT232R USB UART (unplugged)"});

    // Another adapter takes the old name; the start-up adapter comes back under a new one.
    devices.plug("/dev/ttyUSB0", adapter("C3"), "CH340");
    devices.plug("/dev/ttyUSB1", adapter("A1"), "FT232R USB UART");
    EXPECT_EQ(describe(ports.tick(t0 + 2s)),
              (std::vector<std::string>{"COM1: /dev/ttyUSB1 - FT232R USB UART",
                                        "COM3 enabled: /dev/ttyUSB0 - CH340"}));
    EXPECT_EQ(ports.portOf(adapter("A1")), 1);
    EXPECT_EQ(ports.portOf(adapter("C3")), 3);
}

TEST_F(HotplugPortsTest, ChecksAtMostOnceASecond) {
    HotplugPorts ports(devices, start);
    for (auto t = t0; t < t0 + 10s; t += 100ms) {
        ports.tick(t);
    }
    EXPECT_EQ(devices.listChecks, 10);
}

TEST_F(HotplugPortsTest, WithAllEightNumbersBoundAFurtherDeviceGetsNoItem) {
    for (std::size_t i = 2; i < start.size(); ++i) {
        const std::string path = "/dev/ttyS" + std::to_string(i);
        devices.plug(path, DeviceIdentity::devicePath(path));
        start[i] = PortDevice{path, ""};
    }
    HotplugPorts ports(devices, start);
    devices.plug("/dev/ttyUSB5", adapter("Z9"));
    EXPECT_TRUE(ports.tick(t0).empty());
    EXPECT_EQ(ports.portOf(adapter("Z9")), 0);
}

}  // namespace
}  // namespace vitalon
