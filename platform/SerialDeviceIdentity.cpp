#include "SerialDeviceIdentity.h"

#include <QSerialPortInfo>
#include <filesystem>
#include <system_error>

#include "DeviceNode.h"

namespace vitalon {
namespace {

namespace fs = std::filesystem;

std::string resolved(const std::string& path) {
    std::error_code error;
    const fs::path target = fs::canonical(path, error);
    return error ? std::string() : target.string();
}

// The by-path link that leads to `device`: it names the socket the adapter is in.
std::string socketLink(const fs::path& byPathDir, const std::string& device) {
    std::error_code error;
    for (fs::directory_iterator it(byPathDir, error), end; !error && it != end;
         it.increment(error)) {
        if (resolved(it->path().string()) == device) {
            return it->path().string();
        }
    }
    return {};
}

}  // namespace

SerialDeviceIdentityProvider::SerialDeviceIdentityProvider(QString deviceDir, QString linkDir)
    : deviceDir_(std::move(deviceDir)), linkDir_(std::move(linkDir)) {}

DeviceIdentity SerialDeviceIdentityProvider::identityOf(const std::string& path) {
    const std::string device = resolved(path);
    if (device.empty()) {
        return {};  // nothing is there
    }
    // A terminal going away can leave its path resolvable a moment longer;
    // only what is still there when asked counts.
    switch (nodeKind(device)) {
        case NodeKind::Missing:
            return {};
        case NodeKind::PseudoTerminal:
            return DeviceIdentity::pseudoTerminalAt(device);  // never in the device list
        case NodeKind::Other:
            break;
    }
    for (const SerialDevice& listed : devices()) {
        if (listed.path == device) {
            return listed.identity;
        }
    }
    return DeviceIdentity::devicePath(device);
}

std::string SerialDeviceIdentityProvider::linkStamp(const std::string& path) {
    return linkChainStamp(path);
}

std::vector<SerialDevice> SerialDeviceIdentityProvider::presentDevices() {
    return devices();
}

std::vector<std::int64_t> SerialDeviceIdentityProvider::folderTimes(bool& settled) const {
    std::vector<std::int64_t> times;
    settled = true;
    const auto settledBefore = fs::file_time_type::clock::now() - settleTime;
    const fs::path links = linkDir_.toStdString();
    for (const fs::path& dir :
         {fs::path(deviceDir_.toStdString()), links / "by-id", links / "by-path"}) {
        std::error_code error;
        const auto time = fs::last_write_time(dir, error);
        times.push_back(error ? -1 : static_cast<std::int64_t>(time.time_since_epoch().count()));
        settled = settled && (error || time < settledBefore);
    }
    return times;
}

const std::vector<SerialDevice>& SerialDeviceIdentityProvider::devices() {
    bool settled = false;
    std::vector<std::int64_t> times = folderTimes(settled);
    if (cached_ && cacheSettled_ && times == cachedTimes_) {
        return *cached_;
    }
    ++listReads_;
    std::vector<SerialDevice> list;
    const fs::path byPath = fs::path(linkDir_.toStdString()) / "by-path";
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        SerialDevice device;
        const std::string location = info.systemLocation().toStdString();
        device.path = resolved(location);
        if (device.path.empty()) {
            device.path = location;
        }
        device.description = info.description().toStdString();
        if (info.hasVendorIdentifier() && info.hasProductIdentifier()) {
            const std::string serial = info.serialNumber().toStdString();
            // Only an adapter without a serial number needs its socket to be told apart.
            std::string place;
            if (serial.empty()) {
                place = socketLink(byPath, device.path);
                if (place.empty()) {
                    place = device.path;
                }
            }
            device.identity = DeviceIdentity::usbAdapter(info.vendorIdentifier(),
                                                         info.productIdentifier(), serial, place);
        } else {
            device.identity = DeviceIdentity::devicePath(device.path);
        }
        list.push_back(std::move(device));
    }
    cached_ = std::move(list);
    cachedTimes_ = std::move(times);
    cacheSettled_ = settled;
    return *cached_;
}

}  // namespace vitalon
