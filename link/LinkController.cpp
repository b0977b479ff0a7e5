#include "LinkController.h"

#include "PortMessages.h"
#include "ReconnectWatcher.h"

namespace vitalon {

LinkController::LinkController(SerialLink& link, PortManager& ports, SettingSelectors& selectors,
                               ByteSink& received, Report report)
    : link_(link),
      ports_(ports),
      selectors_(selectors),
      received_(received),
      report_(std::move(report)) {
    link_.setListener(this);
}

LinkController::~LinkController() {
    link_.setListener(nullptr);
}

void LinkController::start() {
    ports_.enableAll();
    const std::uint8_t found = ports_.findPort();
    if (found == 0) {
        report_(noPortAtStartStatus(ports_.probeFailures()));
    } else {
        try {
            ports_.open(found);
            report_(openPortStatus(found, ports_.devicePath(found), ports_.lineSettings()));
            if (events_ != nullptr) {
                events_->linkOpened(found, ports_.devicePath(found));
            }
        } catch (const PortError& e) {
            report_(openFailureStatus(found, e));
        }
    }
    selectors_.applyStartValues();
    if (link_.isOpen()) {
        selectors_.sendStartCommands();
    }
}

void LinkController::pick(std::uint8_t n) {
    try {
        ports_.pick(n);
        report_(openPortStatus(n, ports_.devicePath(n), ports_.lineSettings()));
        if (events_ != nullptr) {
            events_->portPicked(n, true);
            events_->linkOpened(n, ports_.devicePath(n));
        }
    } catch (const PortError& e) {
        // A refused pick (a disabled item) changes nothing; any other pick
        // closed the old link.
        if (events_ != nullptr && e.kind() != PortErrorKind::Unavailable) {
            events_->portPicked(n, false);
        }
        report_(e.kind() == PortErrorKind::Unavailable
                    ? unavailablePortStatus(n, e, ports_.currentPort())
                    : openFailureStatus(n, e));
    }
}

void LinkController::shutdown() {
    if (shutDown_) {
        return;
    }
    shutDown_ = true;
    link_.setListener(nullptr);
    ports_.closeAtShutdown();
}

void LinkController::reopen(std::uint8_t n, const std::string& path) {
    ports_.reopen(n, path);
}

void LinkController::restoreSettings() {
    for (const std::string& command : restoreCommands(selectors_.settings())) {
        selectors_.send(command);
    }
}

void LinkController::bytesReceived(std::span<const std::uint8_t> bytes) {
    // A failure further down the stream ends this chunk's handling only.
    try {
        received_.receive(bytes);
    } catch (const std::exception& e) {
        report_(e.what());
    }
}

void LinkController::linkLost(const std::string& reason) {
    const std::uint8_t n = ports_.lastOpenedPort();
    const std::string path = ports_.devicePath(n);
    const std::string told = events_ != nullptr ? events_->linkLost(n, path, reason) : "";
    report_(told.empty() ? portLostStatus(n, path, reason) : told);
}

}  // namespace vitalon
