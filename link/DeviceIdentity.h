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
//
// A pseudo-terminal is marked as such: its path is only a number that the
// system hands to the next terminal any program opens, so the path says
// nothing about who is behind it once the terminal has closed.
struct DeviceIdentity {
    bool usb = false;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::string serialNumber;  // empty when the adapter has none
    std::string location;      // socket or resolved path; see above
    bool pseudoTerminal = false;

    bool known() const { return usb || !location.empty(); }

    // Readable form for messages: "USB 0403:6001 serial A5XK3RJT", "/dev/ttyS0".
    std::string text() const;

    static DeviceIdentity usbAdapter(std::uint16_t vendor, std::uint16_t product,
                                     std::string serialNumber, std::string location);
    static DeviceIdentity devicePath(std::string resolvedPath);
    static DeviceIdentity pseudoTerminalAt(std::string resolvedPath);
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

// How a lost device is found again; the first rule that fits the device as it
// was opened applies.
enum class ReconnectRule {
    Unidentified,        // nothing was identified at the path: nothing to watch for
    UsbIdentity,         // a USB adapter: its identity is matched wherever it turns up
    FollowLink,          // a link the user named: reopened wherever it points now
    FixedPort,           // a hardware port named directly: reopened at its path
    BarePseudoTerminal,  // a pseudo-terminal named by its number: never reopened by itself
};

// The rule for a device with identity `opened`, opened through `path`;
// `namedLink` says that `path` itself is a symbolic link. A link's owner
// decides where it points (udev for /dev/serial links, the user or the
// program that made it otherwise), so whatever it leads to later is the
// wanted device; a USB adapter is still known by its own identity, even
// behind a link. A pseudo-terminal named by its number has no such owner:
// once it closed, the number goes to whichever terminal is opened next.
ReconnectRule reconnectRule(const DeviceIdentity& opened, bool namedLink);

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

    // The symbolic link at `path` now, as a stamp that differs for every link
    // made there (even one made again with the same target); empty when
    // `path` is not a link.
    virtual std::string linkStamp(const std::string& path) = 0;
};

// A provider whose devices the test sets: `paths` says which identity each
// path has now (a missing path has nothing behind it), `listed` which paths
// the device list shows, `links` which paths are links (with their stamps).
// Counts the checks, so tests can see how often the list was read.
class FakeDeviceIdentityProvider : public DeviceIdentityProvider {
public:
    DeviceIdentity identityOf(const std::string& path) override;
    std::vector<SerialDevice> presentDevices() override;
    std::string linkStamp(const std::string& path) override;

    // Plugs a device in: `path` has `identity`, and the list shows it.
    void plug(const std::string& path, const DeviceIdentity& identity,
              const std::string& description = {});
    // Pulls the device at `path`: nothing is there any more.
    void unplug(const std::string& path);
    // Makes a new link at `path` that leads to a device with `identity`
    // (unknown: a dangling link), as ln -sf does.
    void makeLink(const std::string& path, const DeviceIdentity& identity);
    // Removes the link at `path`, and with it the device behind it.
    void removeLink(const std::string& path);

    std::map<std::string, DeviceIdentity> paths;
    std::map<std::string, std::string> descriptions;
    std::vector<std::string> listed;  // in list order
    std::map<std::string, std::string> links;
    int linksMade = 0;
    int identityChecks = 0;
    int listChecks = 0;
};

}  // namespace vitalon
