#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "DeviceIdentity.h"
#include "HotplugPorts.h"
#include "LinkController.h"
#include "ReconnectWatcher.h"

namespace vitalon {

// Brings a lost link back by itself, on the same device only, and keeps the
// Port menu in step with adapters plugged in and out.
//
// After a loss the device that was open is watched for; once it is back
// (under the same or another path) it is reopened with the line settings and
// the module is set to the station's selectors again. A device that is back but
// does not open (busy, forbidden) is tried again every second; the status bar
// says why. Picking a port by hand ends the watch, except a pick of the
// watched port that fails: the user still wants that device. The user's
// switch ("Reconnect Automatically" in a window's Port menu) turns the watch
// on and off; the choice is remembered between runs.
//
// With the port numbering taken from the system's device list, a device
// plugged in after start-up gets a free port item, enabled while it is
// present; each item's tip (portTipChanged) names its device.
//
// Both checks run from one timer armed for the earliest one due; with no
// watch and no device list to follow it is not armed at all.
class ReconnectControl : public QObject, public LinkEvents {
    Q_OBJECT
public:
    using Clock = std::chrono::steady_clock;
    using Report = std::function<void(const std::string&)>;

    // `portItems` are the COM1..COM8 items; `devices` where device identities
    // come from (the system's serial-device list), which must outlive this.
    ReconnectControl(std::array<MenuItem*, 8> portItems, LinkController& linkController,
                     PortManager& ports, DeviceIdentityProvider& devices, Report report,
                     QObject* parent = nullptr);
    ~ReconnectControl() override;

    // Before start(): where device identities come from instead (a fake in
    // tests). `devices` must outlive this.
    void setDeviceProvider(DeviceIdentityProvider& devices);
    // Before start(): the port numbering came from the system's device list,
    // so the port items follow devices plugged in and out. Numbers named on
    // the command line stand for nothing else and are not followed.
    void setFollowsPortList(bool follows) { followsPortList_ = follows; }
    // Reconnecting is off for this run (--no-reconnect); the remembered
    // choice stays as it is.
    void disableForThisRun();

    // Before the link's start-up: takes the identities of the start-up devices.
    void start();
    // Ends every watch; nothing is reopened or checked afterwards.
    void shutdown();

    // The user switched reconnecting on or off; the choice is saved for later runs.
    void setEnabledByUser(bool on);

    bool enabled() const { return watcher_->enabled(); }
    bool watching() const { return watcher_->watching(); }
    bool followsPortList() const { return hotplug_ != nullptr; }

    // LinkEvents
    void linkOpened(std::uint8_t n, const std::string& path) override;
    void portPicked(std::uint8_t n, bool opened) override;
    std::string linkLost(std::uint8_t n, const std::string& path,
                         const std::string& reason) override;

signals:
    // Reconnecting was switched on or off (by the user or for this run).
    void enabledChanged(bool enabled);
    // The tip of port n's item: the device it stands for, and whether it is plugged in.
    void portTipChanged(int port, const QString& tip);
    // The link on port n was lost (with the system's reason), and reopened
    // after a reconnect: for anything that logs the session, e.g. a recording.
    void connectionLost(int port, const QString& path, const QString& reason);
    void connectionReopened(int port, const QString& path);

private:
    void check();
    void arm();
    void handle(const ReconnectOutcome& outcome);
    void applyItemUpdates(const std::vector<PortItemUpdate>& updates);
    void setTip(std::uint8_t n, const std::string& tip);
    std::unique_ptr<ReconnectWatcher> makeWatcher(bool enabled);

    std::array<MenuItem*, 8> portItems_;
    LinkController& linkController_;
    PortManager& ports_;
    Report report_;

    DeviceIdentityProvider* devices_;
    std::unique_ptr<ReconnectWatcher> watcher_;
    std::unique_ptr<HotplugPorts> hotplug_;
    bool followsPortList_ = false;
    Clock::time_point hotplugDue_{};
    QTimer timer_;
    bool ended_ = false;
};

}  // namespace vitalon
