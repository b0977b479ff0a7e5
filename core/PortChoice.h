#pragma once

#include <optional>
#include <string>
#include <vector>

#include "PortManager.h"

namespace vitalon {

// The serial devices this computer has now (QSerialPortInfo), as COM1..COM8
// in link's order: USB adapters first, then the rest, each group by name.
PortAssignment systemPortAssignment();

// What each port number stands for in this run. `options` are the
// "COMn=DEVICE" values of --port; `com1` a device the program serves itself
// on COM1 (the simulated module or a replay). Without either, the system's
// devices are numbered. Throws std::invalid_argument with a user-facing
// reason for a malformed or repeated option.
PortAssignment choosePorts(const std::vector<std::string>& options,
                           std::optional<PortDevice> com1 = std::nullopt);

// Whether the numbering is the system's list, which then follows adapters
// plugged in later; numbers named on the command line stand for nothing else.
inline bool numbersFollowTheSystem(const std::vector<std::string>& options,
                                   const std::optional<PortDevice>& com1) {
    return options.empty() && !com1;
}

}  // namespace vitalon
