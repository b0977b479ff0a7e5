#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "Controls.h"
#include "SerialPort.h"

namespace vitalon {

inline constexpr const char* LineSettingsText = "9600,n,8,1";

// Why each port's probe failed in the last scan, item n-1 for port n: the error
// of the first failing step, or nothing when the probe went through.
using ProbeFailures = std::array<std::optional<PortError>, 8>;

// The scan for a usable port, the fixed line configuration, and the reopening
// of the link from the "&Port" menu. Ports are numbered 1..8; item n-1 of
// `items` is the menu item of port n.
class PortManager {
public:
    PortManager(SerialPort& port, std::array<MenuItem*, 8> items) : port_(port), items_(items) {}

    // Probes ports 1..8 in order (open, test, close), disables the item of every
    // port whose probe had a failing step, and returns the lowest port that
    // opened, or 0. Always returns; every probe leaves the port closed.
    std::uint8_t FindComPort();

    // The reasons of the last scan's failures; start-up tells the user from them
    // why no port opened, since a failed port's item stays disabled for the run.
    const ProbeFailures& probeFailures() const { return failures_; }

    // The line configuration: port number, "9600,n,8,1", binary input,
    // thresholds 1, open. Throws when a step fails; later steps are not run.
    void configure(std::uint8_t n);

    // Closes the port, then configures and opens port n.
    void OpenComPort(std::uint8_t n);

    void ClearPortChecks();

    // Click on the item of port n: reopen the link there and move the check
    // mark. When the open fails the check marks stay as they were and the
    // PortError propagates; nothing is ever sent.
    void setCOM_Click(std::uint8_t n);

    // Closes the port if it is open; otherwise does nothing.
    void closeAtShutdown();

private:
    MenuItem& item(std::uint8_t n) { return *items_[static_cast<std::size_t>(n - 1)]; }

    SerialPort& port_;
    std::array<MenuItem*, 8> items_;
    ProbeFailures failures_;
};

}  // namespace vitalon
