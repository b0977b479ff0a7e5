#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "PortManager.h"

namespace vitalon {

// Orders the machine's serial devices for COM1..COM8: USB adapters (ttyUSB*,
// ttyACM*) first, then the rest, each group by name. Extra devices are dropped.
PortAssignment assignSystemPorts(std::vector<PortDevice> devices);

// Parses one "COMn=DEVICE" option into `into`; throws std::invalid_argument
// with a user-facing reason on a malformed value.
void assignPortOption(const std::string& option, PortAssignment& into);

std::string comName(std::uint8_t n);  // "COM3"

// Status-bar texts for the link.
std::string openPortStatus(std::uint8_t n, const std::string& device,
                           const LineSettings& settings = {});
// Start-up opened no port: why each port with a device failed, and what to do.
// The items of failed ports stay disabled for the run, so the way out is a restart.
std::string noPortAtStartStatus(const ProbeFailures& failures);
std::string openFailureStatus(std::uint8_t n, const PortError& error);
// A pick of a disabled or unknown port; `current` is the port still open, or 0.
std::string unavailablePortStatus(std::uint8_t n, const PortError& error, std::uint8_t current);
std::string portLostStatus(std::uint8_t n, const std::string& device, const std::string& reason);

}  // namespace vitalon
