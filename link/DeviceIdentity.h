#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace vitalon {

// What tells one serial device from another, so that a device that comes back
// after a replug is known again, under the same or another path.
//
// A USB adapter is known by its vendor and product numbers and its serial
// number. An adapter without a serial number cannot be told from another of
// the same make, so its place is added: the socket it is plugged into where
// the system names it (the /dev/serial/by-path link), otherwise its device
// path. Any other device (a built-in port, a pseudo-terminal) is known by its
// resolved device path. An identity with neither is unknown: nothing is there.
struct DeviceIdentity {
    bool usb = false;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::string serialNumber;  // empty when the adapter has none
    std::string location;      // socket or resolved path; see above

    bool known() const { return usb || !location.empty(); }

    // Readable form for messages: "USB 0403:6001 serial A5XK3RJT", "/dev/ttyS0".
    std::string text() const;

    static DeviceIdentity usbAdapter(std::uint16_t vendor, std::uint16_t product,
                                     std::string serialNumber, std::string location);
    static DeviceIdentity devicePath(std::string resolvedPath);
};

// True only when both identities are known and name the same device. A USB
// adapter never matches a path-only identity; two adapters of the same make
// match on their serial numbers, or, when both lack one, on their place.
bool sameDevice(const DeviceIdentity& a, const DeviceIdentity& b);

// A serial device present on the machine.
struct SerialDevice {
    std::string path;  // what the link opens, e.g. "/dev/ttyUSB0"
    DeviceIdentity identity;
    std::string description;  // e.g. "FT232R USB UART"; may be empty
};

// Where device identities come from: the system's device list, or a fake in tests.
class DeviceIdentityProvider {
public:
    virtual ~DeviceIdentityProvider() = default;

    // The identity of the device at `path` (a device node or a link to one)
    // now; unknown when nothing is there.
    virtual DeviceIdentity identityOf(const std::string& path) = 0;

    // The serial devices present now. Each call is one check of the device
    // list; callers keep to about one a second.
    virtual std::vector<SerialDevice> presentDevices() = 0;
};

// A provider whose devices the test sets: `paths` says which identity each
// path has now (a missing path has nothing behind it), `listed` which paths
// the device list shows. Counts the checks, so tests can see how often the
// list was read.
class FakeDeviceIdentityProvider : public DeviceIdentityProvider {
public:
    DeviceIdentity identityOf(const std::string& path) override;
    std::vector<SerialDevice> presentDevices() override;

    // Plugs a device in: `path` has `identity`, and the list shows it.
    void plug(const std::string& path, const DeviceIdentity& identity,
              const std::string& description = {});
    // Pulls the device at `path`: nothing is there any more.
    void unplug(const std::string& path);

    std::map<std::string, DeviceIdentity> paths;
    std::map<std::string, std::string> descriptions;
    std::vector<std::string> listed;  // in list order
    int identityChecks = 0;
    int listChecks = 0;
};

}  // namespace vitalon
