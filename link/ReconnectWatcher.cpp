#include "ReconnectWatcher.h"

#include "PortMessages.h"
#include "Protocol.h"
#include "SerialLink.h"

namespace vitalon {
namespace {

std::string withDigit(char letter, std::uint8_t value) {
    return {letter, static_cast<char>('0' + value)};
}

}  // namespace

std::vector<std::string> restoreCommands(const DeviceSettings& s) {
    using namespace protocol;
    std::vector<std::string> commands;
    if (s.speed <= 2) {
        commands.push_back(withDigit(kSpeedCommand, s.speed));
    }
    if (s.amplification <= 2) {
        commands.push_back(withDigit(kAmplificationCommand, s.amplification));
    }
    if (s.filter == 5) {
        commands.emplace_back(1, kFilter50HzCommand);
    } else if (s.filter == 6) {
        commands.emplace_back(1, kFilter60HzCommand);
    }
    if (s.mode <= 1) {
        commands.emplace_back(1, s.mode == 0 ? kNormalModeCommand : kSimulationModeCommand);
    }
    if (s.lead <= 2) {
        commands.push_back(withDigit(kLeadCommand, s.lead));
    }
    if (s.curve <= 1) {
        commands.push_back(withDigit(kCurveCommand, s.curve));
    }
    return commands;
}

std::string waitingForDeviceStatus(std::uint8_t port, const std::string& path,
                                   const std::string& reason) {
    const std::string head = comName(port) + " - " + path;
    return (reason.empty() ? head + ": waiting" : head + " was lost (" + reason + "). Waiting") +
           " for the same device to come back; it is reopened by itself.";
}

ReconnectWatcher::ReconnectWatcher(DeviceIdentityProvider& devices, Reopen reopen)
    : devices_(devices), reopen_(std::move(reopen)) {}

void ReconnectWatcher::setEnabled(bool enabled, Clock::time_point now) {
    enabled_ = enabled;
    if (!enabled) {
        lostPending_ = lostPending_ || watching_;
        watching_ = false;
    } else if (lostPending_) {
        startWatch(now);
    }
}

void ReconnectWatcher::linkOpened(std::uint8_t port, const std::string& path) {
    watching_ = false;
    lostPending_ = false;
    port_ = port;
    path_ = path;
    identity_ = devices_.identityOf(path);
}

void ReconnectWatcher::linkLost(Clock::time_point now) {
    if (!identity_.known()) {
        return;  // nothing was open, or nothing identified it
    }
    if (enabled_) {
        startWatch(now);
    } else {
        lostPending_ = true;
    }
}

void ReconnectWatcher::portPicked() {
    watching_ = false;
    lostPending_ = false;
    identity_ = {};
}

void ReconnectWatcher::startWatch(Clock::time_point now) {
    lostPending_ = false;
    if (!identity_.known()) {
        return;
    }
    watching_ = true;
    // Right after a loss the device is still going away; the first look is one interval later.
    nextCheck_ = now + checkInterval;
    lastStatus_.clear();
}

ReconnectOutcome ReconnectWatcher::tick(Clock::time_point now) {
    if (!watching_ || now < nextCheck_) {
        return {};
    }
    nextCheck_ = now + checkInterval;

    const DeviceIdentity atLostPath = devices_.identityOf(path_);
    if (sameDevice(atLostPath, identity_)) {
        return tryOpen(path_);
    }
    for (const SerialDevice& device : devices_.presentDevices()) {
        if (device.path != path_ && sameDevice(device.identity, identity_)) {
            return tryOpen(device.path);
        }
    }
    if (atLostPath.known()) {
        return report({ReconnectOutcome::Kind::OtherDevice, path_,
                       comName(port_) + " - " + path_ + ": another device is there now (" +
                           atLostPath.text() + "); it is not opened. Waiting for " +
                           identity_.text() + ", or pick a port from the Port menu."});
    }
    if (lastStatus_.empty()) {
        return {};  // the loss message still stands
    }
    return report({ReconnectOutcome::Kind::None, {}, waitingForDeviceStatus(port_, path_, {})});
}

ReconnectOutcome ReconnectWatcher::tryOpen(const std::string& path) {
    std::optional<PortError> failure;
    try {
        reopen_(path);
    } catch (const PortError& e) {
        failure = e;
    } catch (const std::exception& e) {
        failure = PortError(PortErrorKind::Other, e.what());
    }
    if (failure) {
        return report({ReconnectOutcome::Kind::OpenFailed, path,
                       openFailureStatus(port_, *failure) +
                           " The device is back; it is tried again every second."});
    }
    watching_ = false;
    path_ = path;
    lastStatus_.clear();
    return {ReconnectOutcome::Kind::Reconnected, path,
            openPortStatus(port_, path) + " (reconnected)"};
}

ReconnectOutcome ReconnectWatcher::report(ReconnectOutcome outcome) {
    if (outcome.status == lastStatus_) {
        outcome.status.clear();  // said already; a repeat would hide newer messages
    } else {
        lastStatus_ = outcome.status;
    }
    return outcome;
}

}  // namespace vitalon
