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

std::string waitingForLinkStatus(std::uint8_t port, const std::string& path,
                                 const std::string& reason) {
    const std::string head = comName(port) + " - " + path;
    return (reason.empty() ? head + ": waiting" : head + " was lost (" + reason + "). Waiting") +
           " for the link to lead to a device again; it is reopened by itself.";
}

std::string pseudoTerminalLostStatus(std::uint8_t port, const std::string& path,
                                     const std::string& reason) {
    return comName(port) + " - " + path + " was lost (" + reason +
           "). It is a pseudo-terminal, and is not reopened by itself: the system gives its "
           "number to the next terminal any program opens. Pick a port from the Port menu once "
           "the module's terminal is there again, or name it by a link (--port " +
           comName(port) + "=LINK), which is followed.";
}

ReconnectWatcher::ReconnectWatcher(DeviceIdentityProvider& devices, Reopen reopen)
    : devices_(devices), reopen_(std::move(reopen)) {}

bool ReconnectWatcher::watchable(ReconnectRule rule) {
    return rule == ReconnectRule::UsbIdentity || rule == ReconnectRule::FollowLink ||
           rule == ReconnectRule::FixedPort;
}

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
    linkStamp_ = devices_.linkStamp(path);
    rule_ = reconnectRule(identity_, !linkStamp_.empty());
}

void ReconnectWatcher::linkLost(Clock::time_point now) {
    if (!watchable(rule_)) {
        return;  // nothing was open, nothing identified it, or it is a bare pseudo-terminal
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
    rule_ = ReconnectRule::Unidentified;
    linkStamp_.clear();
}

void ReconnectWatcher::startWatch(Clock::time_point now) {
    lostPending_ = false;
    if (!watchable(rule_)) {
        return;
    }
    watching_ = true;
    // Right after a loss the device is still going away; the first look is one interval later.
    nextCheck_ = now + checkInterval;
    lastStatus_.clear();
}

std::string ReconnectWatcher::waitingStatus(const std::string& reason) const {
    return rule_ == ReconnectRule::FollowLink ? waitingForLinkStatus(port_, path_, reason)
                                              : waitingForDeviceStatus(port_, path_, reason);
}

ReconnectOutcome ReconnectWatcher::tick(Clock::time_point now) {
    if (!watching_ || now < nextCheck_) {
        return {};
    }
    nextCheck_ = now + checkInterval;
    return rule_ == ReconnectRule::FollowLink ? checkLink() : checkIdentity();
}

ReconnectOutcome ReconnectWatcher::checkIdentity() {
    const DeviceIdentity atLostPath = devices_.identityOf(path_);
    if (sameDevice(atLostPath, identity_)) {
        return tryOpen(path_);
    }
    if (rule_ == ReconnectRule::UsbIdentity) {
        for (const SerialDevice& device : devices_.presentDevices()) {
            if (device.path != path_ && sameDevice(device.identity, identity_)) {
                return tryOpen(device.path);
            }
        }
    }
    if (atLostPath.known()) {
        return report({ReconnectOutcome::Kind::OtherDevice, path_,
                       comName(port_) + " - " + path_ + ": another device is there now (" +
                           atLostPath.text() + "); it is not opened. Waiting for " +
                           identity_.text() + ", or pick a port from the Port menu."});
    }
    return stillAway();
}

ReconnectOutcome ReconnectWatcher::checkLink() {
    const DeviceIdentity behindLink = devices_.identityOf(path_);
    if (!behindLink.known()) {
        return stillAway();
    }
    // Links unchanged since the lost terminal was opened still lead to its
    // number, which the system may have handed to another program's terminal.
    if (behindLink.pseudoTerminal && devices_.linkStamp(path_) == linkStamp_) {
        return report({ReconnectOutcome::Kind::OtherDevice, path_,
                       comName(port_) + " - " + path_ + " still leads to " + behindLink.text() +
                           ", the number of the lost pseudo-terminal, which may belong to "
                           "another program's terminal now; it is not opened. Waiting for the "
                           "link to be made again, or pick a port from the Port menu."});
    }
    return tryOpen(path_);
}

ReconnectOutcome ReconnectWatcher::stillAway() {
    if (lastStatus_.empty()) {
        return {};  // the loss message still stands
    }
    return report({ReconnectOutcome::Kind::None, {}, waitingStatus({})});
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
    // What a later loss is compared with: the links as they are now, and
    // behind a followed link, the device it leads to now.
    linkStamp_ = devices_.linkStamp(path);
    if (rule_ == ReconnectRule::FollowLink) {
        const DeviceIdentity now = devices_.identityOf(path);
        if (now.known()) {
            identity_ = now;
        }
    }
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
