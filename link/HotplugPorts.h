#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "DeviceIdentity.h"
#include "PortMessages.h"

namespace vitalon {

// A change to one port menu item.
struct PortItemUpdate {
    std::uint8_t port = 0;        // 1..8
    std::optional<bool> enabled;  // set when the item is to be enabled or disabled
    std::string statusTip;        // names the item's device
};

// The status tip of a port item: "/dev/ttyUSB0 - FT232R USB UART", with
// " (unplugged)" while the device is away, or "no serial device".
std::string portItemTip(const std::optional<PortDevice>& device, bool present);

// Keeps the port numbers bound to their devices while adapters come and go.
//
// Each number stands for one device for the whole run: the start-up
// numbering binds the devices found then, and a device that turns up later
// is bound to the lowest number that has none. A number follows its device
// by identity, so a device back under another path keeps its number (its
// path in assignment() changes). The item of a number bound after start-up is
// enabled while its device is present and disabled while it is away; the
// items of the start-up devices keep the state the scan gave them. When all
// eight numbers are bound, a further device gets no item.
//
// Meant for the numbering taken from the system's device list; numbers named
// on the command line stand for nothing else, so they are not watched.
class HotplugPorts {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds checkInterval{1000};

    // Takes the identities of the start-up devices now, while they are present.
    HotplugPorts(DeviceIdentityProvider& devices, const PortAssignment& startAssignment);

    // Checks the device list when a check is due (at most once per
    // checkInterval; the first tick checks at once) and returns the items
    // that change.
    std::vector<PortItemUpdate> tick(Clock::time_point now);

    // The device of each number now (its latest path).
    const PortAssignment& assignment() const { return assignment_; }
    bool present(std::uint8_t port) const;
    // The number bound to `identity`, or 0.
    std::uint8_t portOf(const DeviceIdentity& identity) const;

private:
    struct Binding {
        DeviceIdentity identity;
        bool fromStart = false;
        bool present = false;
    };

    DeviceIdentityProvider& devices_;
    PortAssignment assignment_;
    std::array<Binding, 8> bindings_;
    std::optional<Clock::time_point> nextCheck_;
};

}  // namespace vitalon
