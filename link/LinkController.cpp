#include "LinkController.h"

#include "PortMessages.h"
#include "ReconnectWatcher.h"

namespace vitalon {

LinkController::LinkController(SerialLink& link, PortManager& ports, SettingSelectors& selectors,
                               Report report)
    : link_(link), ports_(ports), selectors_(selectors), report_(std::move(report)) {
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
            const std::string path = ports_.devicePath(found);
            eventListeners_.forEach([&](LinkEvents& events) { events.linkOpened(found, path); });
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
        const std::string path = ports_.devicePath(n);
        eventListeners_.forEach([&](LinkEvents& events) {
            events.portPicked(n, true);
            events.linkOpened(n, path);
        });
    } catch (const PortError& e) {
        // A refused pick (a disabled item) changes nothing; any other pick
        // closed the old link.
        if (e.kind() != PortErrorKind::Unavailable) {
            eventListeners_.forEach([&](LinkEvents& events) { events.portPicked(n, false); });
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

void LinkController::onChunk(ArrivalTime arrival, std::span<const std::uint8_t> bytes) {
    if (lost_) {
        lost_ = false;
        eventListeners_.forEach([](LinkEvents& events) { events.linkResumed(); });
    }
    // A failure further down the stream ends that listener's handling of this chunk only.
    chunkListeners_.forEach([&](ChunkListener& listener) {
        try {
            listener.onChunk(arrival, bytes);
        } catch (const std::exception& e) {
            report_(e.what());
        }
    });
}

void LinkController::linkLost(const std::string& reason) {
    lost_ = true;
    const std::uint8_t n = ports_.lastOpenedPort();
    const std::string path = ports_.devicePath(n);
    std::string told;
    eventListeners_.forEach([&](LinkEvents& events) {
        // Every listener hears of the loss; the first that has something to say is heard.
        std::string text = events.linkLost(n, path, reason);
        if (told.empty()) {
            told = std::move(text);
        }
    });
    report_(told.empty() ? portLostStatus(n, path, reason) : told);
}

}  // namespace vitalon
