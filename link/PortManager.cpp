#include "PortManager.h"

#include "PortMessages.h"

namespace vitalon {

std::uint8_t PortManager::findPort() {
    std::uint8_t result = 0;
    failures_ = {};
    for (std::uint8_t n = 1; n <= 8; ++n) {
        // A failing step disables the item and the probe goes on with the next step.
        auto& failure = failures_[static_cast<std::size_t>(n - 1)];
        const auto step = [&](auto&& action) {
            try {
                action();
            } catch (const PortError& e) {
                item(n).setEnabled(false);
                if (!failure) {
                    failure = e;
                }
            } catch (const std::exception& e) {
                item(n).setEnabled(false);
                if (!failure) {
                    failure = PortError(PortErrorKind::Other, e.what());
                }
            }
        };
        step([&] { open(n); });
        step([&] {
            if (result == 0 && link_.isOpen()) {
                result = n;
            }
        });
        step([&] { link_.close(); });
    }
    return result;
}

std::string PortManager::devicePath(std::uint8_t n) const {
    if (n < 1 || n > 8) {
        return {};
    }
    const auto& device = devices_[static_cast<std::size_t>(n - 1)];
    return device ? device->path : std::string();
}

void PortManager::open(std::uint8_t n) {
    if (link_.isOpen()) {
        link_.close();
    }
    const std::string device = devicePath(n);
    if (device.empty()) {
        throw PortError(PortErrorKind::NoDevice,
                        comName(n) + " has no serial device on this computer.");
    }
    link_.open(device, settings_);
    openedPort_ = n;
}

void PortManager::enableAll() {
    for (MenuItem* i : items_) {
        i->setEnabled(true);
    }
}

void PortManager::clearChecks() {
    for (MenuItem* i : items_) {
        i->setChecked(false);
    }
}

void PortManager::pick(std::uint8_t n) {
    if (n < 1 || n > 8) {
        throw PortError(PortErrorKind::Unavailable, "there is no such port.");
    }
    if (!item(n).isEnabled()) {
        throw PortError(PortErrorKind::Unavailable, "it did not open at start-up.");
    }
    open(n);
    clearChecks();
    item(n).setChecked(true);
}

void PortManager::reopen(std::uint8_t n, const std::string& path) {
    if (n < 1 || n > 8) {
        throw PortError(PortErrorKind::Unavailable, "there is no such port.");
    }
    if (link_.isOpen()) {
        link_.close();
    }
    link_.open(path, settings_);
    auto& device = devices_[static_cast<std::size_t>(n - 1)];
    if (device) {
        device->path = path;  // the same device: its description still holds
    } else {
        device = PortDevice{path, {}};
    }
    openedPort_ = n;
}

void PortManager::setDevice(std::uint8_t n, std::optional<PortDevice> device) {
    if (n >= 1 && n <= 8) {
        devices_[static_cast<std::size_t>(n - 1)] = std::move(device);
    }
}

void PortManager::closeAtShutdown() {
    if (link_.isOpen()) {
        link_.close();
    }
}

}  // namespace vitalon
