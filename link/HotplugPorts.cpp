#include "HotplugPorts.h"

namespace vitalon {

std::string portItemTip(const std::optional<PortDevice>& device, bool present) {
    if (!device) {
        return "no serial device";
    }
    std::string tip = device->path;
    if (!device->description.empty()) {
        tip += " - " + device->description;
    }
    return present ? tip : tip + " (unplugged)";
}

HotplugPorts::HotplugPorts(DeviceIdentityProvider& devices, const PortAssignment& startAssignment)
    : devices_(devices), assignment_(startAssignment) {
    for (std::size_t i = 0; i < assignment_.size(); ++i) {
        if (assignment_[i]) {
            bindings_[i].identity = devices_.identityOf(assignment_[i]->path);
            bindings_[i].fromStart = true;
            bindings_[i].present = bindings_[i].identity.known();
        }
    }
}

bool HotplugPorts::present(std::uint8_t port) const {
    return port >= 1 && port <= 8 && bindings_[static_cast<std::size_t>(port - 1)].present;
}

std::uint8_t HotplugPorts::portOf(const DeviceIdentity& identity) const {
    for (std::size_t i = 0; i < bindings_.size(); ++i) {
        if (assignment_[i] && sameDevice(bindings_[i].identity, identity)) {
            return static_cast<std::uint8_t>(i + 1);
        }
    }
    return 0;
}

std::vector<PortItemUpdate> HotplugPorts::tick(Clock::time_point now) {
    if (nextCheck_ && now < *nextCheck_) {
        return {};
    }
    nextCheck_ = now + checkInterval;

    const PortAssignment before = assignment_;
    std::array<bool, 8> wasPresent{};
    std::array<bool, 8> isPresent{};
    for (std::size_t i = 0; i < bindings_.size(); ++i) {
        wasPresent[i] = bindings_[i].present;
    }

    for (const SerialDevice& device : devices_.presentDevices()) {
        std::uint8_t port = portOf(device.identity);
        if (port == 0) {
            if (!device.identity.known()) {
                continue;
            }
            for (std::size_t i = 0; i < assignment_.size() && port == 0; ++i) {
                if (!assignment_[i]) {
                    port = static_cast<std::uint8_t>(i + 1);
                    bindings_[i] = Binding{device.identity, false, false};
                }
            }
            if (port == 0) {
                continue;  // all eight numbers are bound
            }
        }
        const auto i = static_cast<std::size_t>(port - 1);
        isPresent[i] = true;
        std::string description = device.description;
        if (description.empty() && assignment_[i] && assignment_[i]->path == device.path) {
            description = assignment_[i]->description;  // keep what start-up knew
        }
        assignment_[i] = PortDevice{device.path, description};
    }

    std::vector<PortItemUpdate> updates;
    for (std::size_t i = 0; i < bindings_.size(); ++i) {
        Binding& binding = bindings_[i];
        if (!assignment_[i]) {
            continue;
        }
        // A start-up device that the list does not show (a port named by a
        // link, a device the list leaves out) still counts as present while
        // its path leads to it.
        if (!isPresent[i] && binding.fromStart) {
            isPresent[i] = sameDevice(devices_.identityOf(assignment_[i]->path), binding.identity);
        }
        binding.present = isPresent[i];
        const bool presenceChanged = isPresent[i] != wasPresent[i];
        const bool deviceChanged = !before[i] || before[i]->path != assignment_[i]->path ||
                                   before[i]->description != assignment_[i]->description;
        if (!presenceChanged && !deviceChanged) {
            continue;
        }
        PortItemUpdate update;
        update.port = static_cast<std::uint8_t>(i + 1);
        if (!binding.fromStart && presenceChanged) {
            update.enabled = isPresent[i];
        }
        update.statusTip = portItemTip(assignment_[i], isPresent[i]);
        updates.push_back(std::move(update));
    }
    return updates;
}

}  // namespace vitalon
