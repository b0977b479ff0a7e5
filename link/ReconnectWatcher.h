#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "DeviceIdentity.h"
#include "DeviceSettings.h"

namespace vitalon {

// The commands that put the module into the state `settings` describes: each
// selector's explicit command, in the start-up order (speed, amplification,
// filter, mode, lead, curve), e.g. "S2", "A0", "6", "M", "G2", "D1". A
// selector holding a value that no command stands for is left out.
std::vector<std::string> restoreCommands(const DeviceSettings& settings);

// Status-bar text of a lost link while the watch for its device runs.
std::string waitingForDeviceStatus(std::uint8_t port, const std::string& path,
                                   const std::string& reason);
// The same while the watch follows a link the user named.
std::string waitingForLinkStatus(std::uint8_t port, const std::string& path,
                                 const std::string& reason);
// Status-bar text of a lost pseudo-terminal that was named by its number:
// why it is not reopened, and what the user can do.
std::string pseudoTerminalLostStatus(std::uint8_t port, const std::string& path,
                                     const std::string& reason);

// What one tick of the watcher did.
struct ReconnectOutcome {
    enum class Kind {
        None,         // no check was due, or nothing changed
        Reconnected,  // the device was reopened; the watch has ended
        OpenFailed,   // the device is back but did not open; the watch goes on
        OtherDevice,  // another device is at the lost path; it is not opened
    };
    Kind kind = Kind::None;
    std::string path;    // where the device was found (Reconnected, OpenFailed, OtherDevice)
    std::string status;  // status-bar text; empty when the last one still holds
};

// Reopens a lost link on the same device once it comes back.
//
//   Idle ──linkLost (enabled, device known)──▶ Watching
//   Watching ──tick: device found, opens─────▶ Idle      (Reconnected)
//   Watching ──tick: found, open fails───────▶ Watching  (OpenFailed, retried next check)
//   Watching ──portPicked / off / linkOpened─▶ Idle
//
// What is watched for is decided by linkOpened (see ReconnectRule):
//  - a USB adapter: a check looks at the lost path first (the adapter back
//    under the same node or link), then at the device list (back under
//    another path); only the adapter whose identity matches is opened;
//  - a link the user named: whatever the link leads to now is opened through
//    the link, except a pseudo-terminal reached through the very links that
//    led to the lost one (none of them made again): that number may belong
//    to another program's terminal by now;
//  - a hardware port named directly: opened at its path once it is there;
//  - a pseudo-terminal named by its number: no watch starts at all, since
//    whatever terminal gets that number next belongs to someone else.
// Checks run at most once per checkInterval, the first one interval after
// the loss; tick() may be called more often and then does nothing. Time is a
// parameter so tests step it.
//
// A loss while reconnecting is off is remembered: switching it on starts the
// watch, unless a port was picked by hand meanwhile.
class ReconnectWatcher {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds checkInterval{1000};

    // Opens the link on `path` as it was opened before; throws PortError (or
    // another std::exception) when the device cannot be opened.
    using Reopen = std::function<void(const std::string& path)>;

    ReconnectWatcher(DeviceIdentityProvider& devices, Reopen reopen);

    // "Reconnect Automatically". Switching it off ends the watch.
    void setEnabled(bool enabled, Clock::time_point now);
    bool enabled() const { return enabled_; }

    // The link is open on port `port` at `path`: remembers what identifies the
    // device there, ends any watch.
    void linkOpened(std::uint8_t port, const std::string& path);
    // The link was lost: starts watching for the remembered device when
    // enabled and its rule allows a watch.
    void linkLost(Clock::time_point now);
    // A port was picked by hand (whether or not it opened): the old device is
    // no longer wanted, so the watch ends and the device is forgotten.
    void portPicked();

    // Checks for the device when a check is due. A Reconnected outcome means
    // the link is open again; the host then sends restoreCommands().
    ReconnectOutcome tick(Clock::time_point now);

    bool watching() const { return watching_; }
    // When the next check is due; a host timer armed for it never comes too early.
    Clock::time_point nextCheck() const { return nextCheck_; }
    std::uint8_t port() const { return port_; }
    const std::string& path() const { return path_; }  // where the device was last opened
    const DeviceIdentity& identity() const { return identity_; }
    ReconnectRule rule() const { return rule_; }

    // Status-bar text while watching, for the rule in force; `reason` is the
    // system's reason of the loss, empty when it was given before.
    std::string waitingStatus(const std::string& reason) const;

private:
    static bool watchable(ReconnectRule rule);
    void startWatch(Clock::time_point now);
    ReconnectOutcome report(ReconnectOutcome outcome);
    ReconnectOutcome tryOpen(const std::string& path);
    ReconnectOutcome checkIdentity();
    ReconnectOutcome checkLink();
    ReconnectOutcome stillAway();

    DeviceIdentityProvider& devices_;
    Reopen reopen_;
    bool enabled_ = true;
    bool watching_ = false;
    bool lostPending_ = false;  // lost while off; the watch starts when switched on
    std::uint8_t port_ = 0;
    std::string path_;
    DeviceIdentity identity_;
    ReconnectRule rule_ = ReconnectRule::Unidentified;
    std::string linkStamp_;  // the links at path_ when the device there was opened
    Clock::time_point nextCheck_{};
    std::string lastStatus_;
};

}  // namespace vitalon
