#include "PortMessages.h"

#include <algorithm>
#include <stdexcept>

#include "PortManager.h"

namespace vitalon {
namespace {

std::string baseName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool isUsbAdapter(const std::string& path) {
    const std::string name = baseName(path);
    return name.rfind("ttyUSB", 0) == 0 || name.rfind("ttyACM", 0) == 0;
}

}  // namespace

PortAssignment assignSystemPorts(std::vector<PortDevice> devices) {
    std::stable_sort(devices.begin(), devices.end(), [](const PortDevice& a, const PortDevice& b) {
        const bool ua = isUsbAdapter(a.path);
        const bool ub = isUsbAdapter(b.path);
        if (ua != ub) {
            return ua;
        }
        return a.path < b.path;
    });
    PortAssignment ports;
    for (std::size_t i = 0; i < ports.size() && i < devices.size(); ++i) {
        ports[i] = devices[i];
    }
    return ports;
}

void assignPortOption(const std::string& option, PortAssignment& into) {
    const auto eq = option.find('=');
    const std::string name = option.substr(0, eq);
    const bool named = name.size() == 4 && (name.rfind("COM", 0) == 0 || name.rfind("com", 0) == 0);
    if (eq == std::string::npos || !named || name[3] < '1' || name[3] > '8') {
        throw std::invalid_argument("invalid --port value \"" + option +
                                    "\": expected COMn=DEVICE with n from 1 to 8, "
                                    "e.g. COM3=/dev/ttyUSB0");
    }
    const std::string device = option.substr(eq + 1);
    if (device.empty()) {
        throw std::invalid_argument("invalid --port value \"" + option +
                                    "\": the device path is empty");
    }
    auto& slot = into[static_cast<std::size_t>(name[3] - '1')];
    if (slot) {
        throw std::invalid_argument("invalid --port value \"" + option + "\": " + name +
                                    " already has a device");
    }
    slot = PortDevice{device, {}};
}

std::string comName(std::uint8_t n) {
    return "COM" + std::to_string(n);
}

std::string openPortStatus(std::uint8_t n, const std::string& device,
                           const LineSettings& settings) {
    return comName(n) + " - " + device + " - " + describe(settings);
}

namespace {

const char* const kDialoutHint =
    " Your user must be in the dialout group (sudo usermod -aG dialout $USER, "
    "then log in again).";

}  // namespace

std::string noPortAtStartStatus(const ProbeFailures& failures) {
    std::string reasons;
    bool denied = false;
    for (std::size_t i = 0; i < failures.size(); ++i) {
        const auto& failure = failures[i];
        if (!failure || failure->kind() == PortErrorKind::NoDevice) {
            continue;  // eight lines of "no device" would hide the one that matters
        }
        // Appended piece by piece: GCC 12 at -O3 reports a false -Wrestrict inside
        // operator+(const char*, std::string&&).
        reasons += ' ';
        reasons += comName(static_cast<std::uint8_t>(i + 1));
        reasons += ": ";
        reasons += failure->what();
        denied = denied || failure->kind() == PortErrorKind::PermissionDenied;
    }
    if (reasons.empty()) {
        return "No serial port could be opened: this computer has no serial device. "
               "Connect the module, then start Vitalon again.";
    }
    return "No serial port could be opened." + reasons + (denied ? kDialoutHint : "") +
           " Start Vitalon again once a port is free.";
}

std::string openFailureStatus(std::uint8_t n, const PortError& error) {
    std::string text = comName(n) + " could not be opened: " + error.what();
    if (error.kind() == PortErrorKind::PermissionDenied) {
        text += kDialoutHint;
    }
    return text + " No port is open.";
}

std::string unavailablePortStatus(std::uint8_t n, const PortError& error, std::uint8_t current) {
    std::string text = comName(n) + " cannot be chosen: " + error.what();
    // Appended, not " " + ...: the false -Wrestrict of GCC 12 at -O3 again.
    if (current != 0) {
        text += ' ';
        text += comName(current);
        text += " stays open.";
    } else {
        text += " No port is open.";
    }
    return text;
}

std::string portLostStatus(std::uint8_t n, const std::string& device, const std::string& reason) {
    return comName(n) + " - " + device + " was lost (" + reason +
           "). Pick the port again from the Port menu once it is back.";
}

}  // namespace vitalon
