#pragma once

#include <QString>
#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "DeviceIdentity.h"

namespace vitalon {

// Device identities from the system's serial-device list (QSerialPortInfo):
// USB vendor, product and serial number; for an adapter without a serial
// number, the /dev/serial/by-path link of its socket; for anything else the
// resolved device path, marked when it is a pseudo-terminal. A path given as
// a link (a /dev/serial/by-id name, a link of the user's own) is resolved
// first; the links themselves are told apart by their inodes and change times.
//
// Reading the list walks the system's tty devices (about 20 ms of CPU on a
// small virtual machine), so the list is read again only when a device node
// may have come or gone: when the modification time of /dev or of the
// /dev/serial link folders has changed since the last read. File times move
// in clock ticks, so two changes close together can leave the same time; a
// list read less than settleTime after a folder changed is therefore not
// trusted, and the next check reads the list again. A check while nothing
// changes costs three stat calls.
class SerialDeviceIdentityProvider : public DeviceIdentityProvider {
public:
    // The folders are parameters so tests can point them elsewhere.
    static constexpr std::chrono::seconds settleTime{1};

    explicit SerialDeviceIdentityProvider(QString deviceDir = QStringLiteral("/dev"),
                                          QString linkDir = QStringLiteral("/dev/serial"));

    DeviceIdentity identityOf(const std::string& path) override;
    std::vector<SerialDevice> presentDevices() override;
    std::string linkStamp(const std::string& path) override;

    // How often the system's list was actually read (the rest came from the cache).
    int listReads() const { return listReads_; }

private:
    const std::vector<SerialDevice>& devices();
    // The modification times of the watched folders, and whether all of them
    // lie at least settleTime in the past.
    std::vector<std::int64_t> folderTimes(bool& settled) const;

    QString deviceDir_;
    QString linkDir_;
    std::vector<std::int64_t> cachedTimes_;
    bool cacheSettled_ = false;
    std::optional<std::vector<SerialDevice>> cached_;
    int listReads_ = 0;
};

}  // namespace vitalon
