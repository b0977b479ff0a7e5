#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "Controls.h"
#include "SerialLink.h"

namespace vitalon {

// A serial device that a port number stands for.
struct PortDevice {
    std::string path;         // e.g. "/dev/ttyUSB0"
    std::string description;  // e.g. "FT232R USB UART"; may be empty
};

// Port numbers 1..8 and their devices; a number without a device cannot open.
using PortAssignment = std::array<std::optional<PortDevice>, 8>;

// Why each port's probe failed in the last scan, item n-1 for port n: the error
// of the first failing step, or nothing when the probe went through.
using ProbeFailures = std::array<std::optional<PortError>, 8>;

// The eight numbered ports of the "&Port" menu: the scan for a usable one, the
// opening of port n with the module's line settings, and the menu's check
// marks. Item n-1 of `items` is the menu item of port n.
class PortManager {
public:
    PortManager(SerialLink& link, PortAssignment devices, std::array<MenuItem*, 8> items)
        : link_(link), devices_(std::move(devices)), items_(items) {}

    // Probes ports 1..8 in order (open, check, close), disables the item of
    // every port whose probe had a failing step, and returns the lowest port
    // that opened, or 0. Always returns; every probe leaves the link closed.
    std::uint8_t findPort();

    // The reasons of the last scan's failures; start-up tells the user from them
    // why no port opened, since a failed port's item stays disabled for the run.
    const ProbeFailures& probeFailures() const { return failures_; }

    // Closes the link, then opens port n with the line settings. Throws
    // PortError when port n has no device or will not open.
    void open(std::uint8_t n);

    // A click on the item of port n: reopens the link there and moves the check
    // mark. A disabled item or a number outside 1..8 throws PortError
    // (Unavailable) and changes nothing. When the open fails the check marks
    // stay as they were, no port is open and the PortError propagates.
    // Nothing is ever sent.
    void pick(std::uint8_t n);

    void enableAll();
    void clearChecks();

    // Closes the link if it is open; otherwise does nothing.
    void closeAtShutdown();

    // Opens port n's device where it is now, `path` (after a loss the same
    // device may come back under another path), with the line settings; from
    // then on port n stands for `path`. Check marks and items stay as they
    // are. Throws PortError when the device does not open.
    void reopen(std::uint8_t n, const std::string& path);
    // Binds port n to `device` (a device plugged in after start-up), or to none.
    void setDevice(std::uint8_t n, std::optional<PortDevice> device);

    // The port the link is open on, or 0 when it is closed.
    std::uint8_t currentPort() const { return link_.isOpen() ? openedPort_ : 0; }
    // The port most recently opened, even after the link closed; 0 before any open.
    std::uint8_t lastOpenedPort() const { return openedPort_; }

    const PortAssignment& devices() const { return devices_; }
    std::string devicePath(std::uint8_t n) const;  // empty when n has no device
    const LineSettings& lineSettings() const { return settings_; }

private:
    MenuItem& item(std::uint8_t n) { return *items_[static_cast<std::size_t>(n - 1)]; }

    SerialLink& link_;
    PortAssignment devices_;
    std::array<MenuItem*, 8> items_;
    LineSettings settings_;
    ProbeFailures failures_;
    std::uint8_t openedPort_ = 0;
};

}  // namespace vitalon
