#include "PortChoice.h"

#include <QSerialPortInfo>

#include "PortMessages.h"

namespace vitalon {

PortAssignment systemPortAssignment() {
    std::vector<PortDevice> devices;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        devices.push_back({info.systemLocation().toStdString(), info.description().toStdString()});
    }
    return assignSystemPorts(std::move(devices));
}

PortAssignment choosePorts(const std::vector<std::string>& options,
                           std::optional<PortDevice> com1) {
    PortAssignment ports;
    if (numbersFollowTheSystem(options, com1)) {
        ports = systemPortAssignment();
    }
    if (com1) {
        ports[0] = std::move(com1);
    }
    for (const std::string& option : options) {
        assignPortOption(option, ports);
    }
    return ports;
}

}  // namespace vitalon
