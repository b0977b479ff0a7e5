#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "ChunkListener.h"
#include "DeviceSettings.h"
#include "ListenerList.h"
#include "PortManager.h"
#include "SerialLink.h"

namespace vitalon {

// Told of what happens to the link: the watch that reopens a lost device, the
// recording that marks losses. Each overrides what it needs.
class LinkEvents {
public:
    virtual ~LinkEvents() = default;
    // The link is open on port n at `path` (start-up or a pick; not a reopen).
    virtual void linkOpened(std::uint8_t n, const std::string& path) {
        (void)n;
        (void)path;
    }
    // The user picked port n by hand; `opened` says whether it opened.
    virtual void portPicked(std::uint8_t n, bool opened) {
        (void)n;
        (void)opened;
    }
    // The link on port n at `path` was lost. Returns what the user is told:
    // that its device is watched for and will be reopened by itself, or why
    // it is not; empty when this listener has nothing to say (with nothing
    // said by any, the loss is simply final: the port is picked again by hand).
    virtual std::string linkLost(std::uint8_t n, const std::string& path,
                                 const std::string& reason) {
        (void)n;
        (void)path;
        (void)reason;
        return {};
    }
    // Bytes arrive again after a loss: the link is open again, whoever reopened it.
    virtual void linkResumed() {}
};

// The program's side of the link to the module: the start-up sequence, the
// picks from the Port menu, the reaction to a lost link, and the hand-over of
// received chunks to its listeners. Every outcome the user should know of goes to `report` as a
// status text; failures of start-up steps and picks never propagate, except a
// start command that cannot be written (the caller reports that as well).
class LinkController : public LinkListener {
public:
    using Report = std::function<void(const std::string&)>;

    LinkController(SerialLink& link, PortManager& ports, SettingSelectors& selectors,
                   Report report);
    ~LinkController() override;
    LinkController(const LinkController&) = delete;
    LinkController& operator=(const LinkController&) = delete;

    // Enables every port item, scans, opens the port found and says so (or
    // why none opened), sets the selectors to the start values and, with a
    // port open, sends the start commands. A failing start command throws
    // PortError naming it.
    void start();

    // The user picked port n from the Port menu.
    void pick(std::uint8_t n);

    // Stops receiving and closes the link; the controller does nothing afterwards.
    void shutdown();

    // Reopens port n on `path`, where its lost device is back; throws
    // PortError when it does not open. Nothing is sent.
    void reopen(std::uint8_t n, const std::string& path);
    // Sends each selector's explicit command, one write each in the start-up
    // order, so the module is set as the window shows (after a reopen: the
    // module came back at its power-on settings). A failing write throws
    // PortError naming the command; the rest are not sent.
    void restoreSettings();

    // Every received chunk goes to each chunk listener, in the order they
    // were added, with the time the link read it. A listener that throws ends
    // its own handling of the chunk (the status bar says why); the others
    // still get it. Listeners may be added and removed at any time, also
    // while being told; a listener must stay alive until it is removed.
    void addChunkListener(ChunkListener& listener) { chunkListeners_.add(listener); }
    void removeChunkListener(ChunkListener& listener) { chunkListeners_.remove(listener); }
    // Every link event goes to each of these, in the order they were added.
    void addEventListener(LinkEvents& events) { eventListeners_.add(events); }
    void removeEventListener(LinkEvents& events) { eventListeners_.remove(events); }

    // The port the link is open on, or 0.
    std::uint8_t currentPort() const { return ports_.currentPort(); }

    void onChunk(ArrivalTime arrival, std::span<const std::uint8_t> bytes) override;
    void linkLost(const std::string& reason) override;

private:
    SerialLink& link_;
    PortManager& ports_;
    SettingSelectors& selectors_;
    Report report_;
    ListenerList<ChunkListener> chunkListeners_;
    ListenerList<LinkEvents> eventListeners_;
    bool lost_ = false;  // lost, and no bytes since
    bool shutDown_ = false;
};

}  // namespace vitalon
