#include <gtest/gtest.h>

#include "LineSettings.h"
#include "PortMessages.h"

namespace vitalon {
namespace {

TEST(LineSettings, DescribedAsBaudParityDataStop) {
    EXPECT_EQ(describe(LineSettings{}), "9600,n,8,1");
    EXPECT_EQ(describe(LineSettings{19200, Parity::Even, 7, 2}), "19200,e,7,2");
}

TEST(PortAssignmentTest, UsbAdaptersComeFirstThenByName) {
    const auto ports = assignSystemPorts({{"/dev/ttyS1", ""},
                                          {"/dev/ttyACM0", "modem"},
                                          {"/dev/ttyS0", ""},
                                          {"/dev/ttyUSB1", ""},
                                          {"/dev/ttyUSB0", "FT232R"}});
    std::vector<std::string> order;
    for (const auto& p : ports) {
        order.push_back(p ? p->path : "-");
    }
    EXPECT_EQ(order, (std::vector<std::string>{"/dev/ttyACM0", "/dev/ttyUSB0", "/dev/ttyUSB1",
                                               "/dev/ttyS0", "/dev/ttyS1", "-", "-", "-"}));
}

TEST(PortAssignmentTest, MoreThanEightDevicesKeepTheFirstEight) {
    std::vector<PortDevice> many;
    for (int i = 0; i < 12; ++i) {
        many.push_back({"/dev/ttyS" + std::to_string(10 + i), ""});
    }
    const auto ports = assignSystemPorts(many);
    EXPECT_EQ(ports[7]->path, "/dev/ttyS17");
}

TEST(PortAssignmentTest, PortOptionsMapNumbersToDevices) {
    PortAssignment ports;
    assignPortOption("COM3=/dev/pts/4", ports);
    assignPortOption("com8=/dev/serial/by-id/usb-FTDI=1", ports);  // '=' may appear in the path
    EXPECT_EQ(ports[2]->path, "/dev/pts/4");
    EXPECT_EQ(ports[7]->path, "/dev/serial/by-id/usb-FTDI=1");
    EXPECT_FALSE(ports[0].has_value());
}

TEST(PortAssignmentTest, BadPortOptionsAreRejected) {
    for (const char* bad : {"COM3", "COM0=/dev/x", "COM9=/dev/x", "COM10=/dev/x", "PORT3=/dev/x",
                            "COM3=", "=/dev/x"}) {
        SCOPED_TRACE(bad);
        PortAssignment ports;
        EXPECT_THROW(assignPortOption(bad, ports), std::invalid_argument);
    }
    PortAssignment twice;
    assignPortOption("COM2=/dev/a", twice);
    EXPECT_THROW(assignPortOption("COM2=/dev/b", twice), std::invalid_argument);
}

TEST(PortStatusText, NamesPortDeviceAndReason) {
    EXPECT_EQ(openPortStatus(3, "/dev/ttyUSB0"), "COM3 - /dev/ttyUSB0 - 9600,n,8,1");
    const std::string denied = openFailureStatus(
        2, PortError(PortErrorKind::PermissionDenied, "/dev/ttyS1: permission denied."));
    EXPECT_NE(denied.find("COM2"), std::string::npos);
    EXPECT_NE(denied.find("/dev/ttyS1"), std::string::npos);
    EXPECT_NE(denied.find("dialout"), std::string::npos);
    const std::string busy =
        openFailureStatus(2, PortError(PortErrorKind::Busy, "/dev/ttyS1 is in use."));
    EXPECT_EQ(busy.find("dialout"), std::string::npos);
}

TEST(PortStatusText, UnavailablePickSaysSoAndWhichPortStaysOpen) {
    const PortError disabled(PortErrorKind::Unavailable, "it did not open at start-up.");
    const std::string kept = unavailablePortStatus(5, disabled, 2);
    EXPECT_EQ(kept, "COM5 cannot be chosen: it did not open at start-up. COM2 stays open.");
    EXPECT_NE(unavailablePortStatus(5, disabled, 0).find("No port is open."), std::string::npos);
}

TEST(PortStatusText, NoPortAtStartSaysWhyAndThatOnlyARestartHelps) {
    ProbeFailures none;
    none.fill(PortError(PortErrorKind::NoDevice, "no serial device on this computer."));
    const std::string empty = noPortAtStartStatus(none);
    EXPECT_NE(empty.find("no serial device"), std::string::npos) << empty;
    EXPECT_NE(empty.find("start Vitalon again"), std::string::npos) << empty;

    ProbeFailures some = none;
    some[1] = PortError(PortErrorKind::Busy, "/dev/ttyUSB0 is in use by another program.");
    some[4] = PortError(PortErrorKind::PermissionDenied, "/dev/ttyS0: permission denied.");
    const std::string text = noPortAtStartStatus(some);
    EXPECT_NE(text.find("COM2: /dev/ttyUSB0 is in use by another program."), std::string::npos)
        << text;
    EXPECT_NE(text.find("COM5: /dev/ttyS0: permission denied."), std::string::npos) << text;
    EXPECT_NE(text.find("dialout"), std::string::npos) << text;
    EXPECT_EQ(text.find("COM1"), std::string::npos) << text;  // numbers without a device: silent
    // Failed items stay disabled for the run: the Port menu is no way out.
    EXPECT_EQ(text.find("Port menu"), std::string::npos) << text;
}

}  // namespace
}  // namespace vitalon
