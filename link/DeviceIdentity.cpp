#include "DeviceIdentity.h"

#include <algorithm>
#include <cstdio>

namespace vitalon {

std::string DeviceIdentity::text() const {
    if (!usb) {
        return location.empty() ? std::string("no device") : location;
    }
    char ids[16];
    std::snprintf(ids, sizeof ids, "%04x:%04x", static_cast<unsigned>(vendorId),
                  static_cast<unsigned>(productId));
    std::string result = std::string("USB ") + ids;
    if (!serialNumber.empty()) {
        return result + " serial " + serialNumber;
    }
    return location.empty() ? result : result + " at " + location;
}

DeviceIdentity DeviceIdentity::usbAdapter(std::uint16_t vendor, std::uint16_t product,
                                          std::string serialNumber, std::string location) {
    DeviceIdentity id;
    id.usb = true;
    id.vendorId = vendor;
    id.productId = product;
    id.serialNumber = std::move(serialNumber);
    id.location = std::move(location);
    return id;
}

DeviceIdentity DeviceIdentity::devicePath(std::string resolvedPath) {
    DeviceIdentity id;
    id.location = std::move(resolvedPath);
    return id;
}

DeviceIdentity DeviceIdentity::pseudoTerminalAt(std::string resolvedPath) {
    DeviceIdentity id = devicePath(std::move(resolvedPath));
    id.pseudoTerminal = true;
    return id;
}

ReconnectRule reconnectRule(const DeviceIdentity& opened, bool namedLink) {
    if (!opened.known()) {
        return ReconnectRule::Unidentified;
    }
    if (opened.usb) {
        return ReconnectRule::UsbIdentity;
    }
    if (namedLink) {
        return ReconnectRule::FollowLink;
    }
    return opened.pseudoTerminal ? ReconnectRule::BarePseudoTerminal : ReconnectRule::FixedPort;
}

bool sameDevice(const DeviceIdentity& a, const DeviceIdentity& b) {
    if (!a.known() || !b.known() || a.usb != b.usb || a.pseudoTerminal != b.pseudoTerminal) {
        return false;
    }
    if (!a.usb) {
        return a.location == b.location;
    }
    if (a.vendorId != b.vendorId || a.productId != b.productId ||
        a.serialNumber != b.serialNumber) {
        return false;
    }
    // Without a serial number only the place is left to tell two adapters
    // apart; an adapter whose place is unknown matches nothing.
    return !a.serialNumber.empty() || (!a.location.empty() && a.location == b.location);
}

DeviceIdentity FakeDeviceIdentityProvider::identityOf(const std::string& path) {
    ++identityChecks;
    const auto it = paths.find(path);
    return it == paths.end() ? DeviceIdentity{} : it->second;
}

std::vector<SerialDevice> FakeDeviceIdentityProvider::presentDevices() {
    ++listChecks;
    std::vector<SerialDevice> devices;
    for (const std::string& path : listed) {
        const auto it = paths.find(path);
        if (it != paths.end()) {
            devices.push_back({path, it->second, descriptions[path]});
        }
    }
    return devices;
}

std::string FakeDeviceIdentityProvider::linkStamp(const std::string& path) {
    const auto it = links.find(path);
    return it == links.end() ? std::string() : it->second;
}

void FakeDeviceIdentityProvider::makeLink(const std::string& path, const DeviceIdentity& identity) {
    links[path] = "link " + std::to_string(++linksMade);
    if (identity.known()) {
        paths[path] = identity;
    } else {
        paths.erase(path);
    }
}

void FakeDeviceIdentityProvider::removeLink(const std::string& path) {
    links.erase(path);
    paths.erase(path);
}

void FakeDeviceIdentityProvider::plug(const std::string& path, const DeviceIdentity& identity,
                                      const std::string& description) {
    paths[path] = identity;
    descriptions[path] = description;
    if (std::find(listed.begin(), listed.end(), path) == listed.end()) {
        listed.push_back(path);
    }
}

void FakeDeviceIdentityProvider::unplug(const std::string& path) {
    paths.erase(path);
    listed.erase(std::remove(listed.begin(), listed.end(), path), listed.end());
}

}  // namespace vitalon
