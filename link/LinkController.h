#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "DeviceSettings.h"
#include "PortManager.h"
#include "SerialLink.h"

namespace vitalon {

// Where the received bytes go, in arrival order (the stream decoder).
class ByteSink {
public:
    virtual ~ByteSink() = default;
    virtual void receive(std::span<const std::uint8_t> bytes) = 0;
};

// Told of what happens to the link, for the watch that reopens a lost device.
class LinkEvents {
public:
    virtual ~LinkEvents() = default;
    // The link is open on port n at `path` (start-up or a pick; not a reopen).
    virtual void linkOpened(std::uint8_t n, const std::string& path) = 0;
    // The user picked port n by hand; `opened` says whether it opened.
    virtual void portPicked(std::uint8_t n, bool opened) = 0;
    // The link on port n at `path` was lost. Returns what the user is told:
    // that its device is watched for and will be reopened by itself, or why
    // it is not; empty when the loss is simply final (the port is picked
    // again by hand).
    virtual std::string linkLost(std::uint8_t n, const std::string& path,
                                 const std::string& reason) = 0;
};

// The program's side of the link to the module: the start-up sequence, the
// picks from the Port menu, the reaction to a lost link, and the hand-over of
// received bytes. Every outcome the user should know of goes to `report` as a
// status text; failures of start-up steps and picks never propagate, except a
// start command that cannot be written (the caller reports that as well).
class LinkController : public LinkListener {
public:
    using Report = std::function<void(const std::string&)>;

    LinkController(SerialLink& link, PortManager& ports, SettingSelectors& selectors,
                   ByteSink& received, Report report);
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

    // Where link events go; nullptr for nowhere.
    void setEvents(LinkEvents* events) { events_ = events; }

    // The port the link is open on, or 0.
    std::uint8_t currentPort() const { return ports_.currentPort(); }

    void bytesReceived(std::span<const std::uint8_t> bytes) override;
    void linkLost(const std::string& reason) override;

private:
    SerialLink& link_;
    PortManager& ports_;
    SettingSelectors& selectors_;
    ByteSink& received_;
    Report report_;
    LinkEvents* events_ = nullptr;
    bool shutDown_ = false;
};

}  // namespace vitalon
