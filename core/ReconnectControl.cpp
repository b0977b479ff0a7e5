#include "ReconnectControl.h"

#include <QSettings>
#include <algorithm>

#include "PortMessages.h"

namespace vitalon {
namespace {

const QString kReconnectKey = QStringLiteral("port/reconnectAutomatically");

// The user's settings file: ~/.config/vitalon/vitalon.conf on Linux.
std::unique_ptr<QSettings> userSettings() {
    return std::make_unique<QSettings>(QStringLiteral("vitalon"), QStringLiteral("vitalon"));
}

}  // namespace

ReconnectControl::ReconnectControl(std::array<MenuItem*, 8> portItems,
                                   LinkController& linkController, PortManager& ports,
                                   DeviceIdentityProvider& devices, Report report, QObject* parent)
    : QObject(parent),
      portItems_(portItems),
      linkController_(linkController),
      ports_(ports),
      report_(std::move(report)),
      devices_(&devices),
      watcher_(makeWatcher(userSettings()->value(kReconnectKey, true).toBool())) {
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);  // a check is skipped when its timer comes early
    connect(&timer_, &QTimer::timeout, this, &ReconnectControl::check);
    linkController_.addEventListener(*this);
}

ReconnectControl::~ReconnectControl() {
    linkController_.removeEventListener(*this);
}

std::unique_ptr<ReconnectWatcher> ReconnectControl::makeWatcher(bool enabled) {
    auto watcher = std::make_unique<ReconnectWatcher>(*devices_, [this](const std::string& path) {
        linkController_.reopen(watcher_->port(), path);
    });
    watcher->setEnabled(enabled, Clock::now());
    return watcher;
}

void ReconnectControl::setDeviceProvider(DeviceIdentityProvider& devices) {
    devices_ = &devices;
    watcher_ = makeWatcher(watcher_->enabled());
}

void ReconnectControl::disableForThisRun() {
    watcher_->setEnabled(false, Clock::now());
    arm();
    emit enabledChanged(false);
}

void ReconnectControl::start() {
    if (followsPortList_ && !hotplug_) {
        hotplug_ = std::make_unique<HotplugPorts>(*devices_, ports_.devices());
        hotplugDue_ = Clock::now();
        arm();
    }
}

void ReconnectControl::shutdown() {
    ended_ = true;
    timer_.stop();
}

void ReconnectControl::setEnabledByUser(bool on) {
    if (ended_) {
        emit enabledChanged(watcher_->enabled());
        return;
    }
    const bool wasWatching = watcher_->watching();
    watcher_->setEnabled(on, Clock::now());
    arm();
    emit enabledChanged(on);
    if (watcher_->watching() && !wasWatching) {
        report_(watcher_->waitingStatus({}));
    } else if (wasWatching && !watcher_->watching()) {
        report_(comName(watcher_->port()) + " - " + watcher_->path() +
                ": Reconnect Automatically is off. Pick the port again from the Port menu once "
                "it is back.");
    }

    const auto settings = userSettings();
    settings->setValue(kReconnectKey, on);
    settings->sync();
    if (settings->status() != QSettings::NoError) {
        report_("\"Reconnect Automatically\" is " + std::string(on ? "on" : "off") +
                " for this run, but the choice could not be saved in " +
                settings->fileName().toStdString() + ".");
    }
}

void ReconnectControl::linkOpened(std::uint8_t n, const std::string& path) {
    watcher_->linkOpened(n, path);
    arm();
}

void ReconnectControl::portPicked(std::uint8_t n, bool opened) {
    // Picking the lost port too early (before the device is back) must not
    // give up on the device the user is trying to get back.
    if (!opened && watcher_->watching() && n == watcher_->port()) {
        return;
    }
    watcher_->portPicked();
    arm();
}

std::string ReconnectControl::linkLost(std::uint8_t n, const std::string& path,
                                       const std::string& reason) {
    emit connectionLost(n, QString::fromStdString(path), QString::fromStdString(reason));
    if (ended_) {
        return {};
    }
    watcher_->linkLost(Clock::now());
    arm();
    if (watcher_->watching()) {
        return watcher_->waitingStatus(reason);
    }
    if (watcher_->rule() == ReconnectRule::BarePseudoTerminal) {
        return pseudoTerminalLostStatus(n, path, reason);
    }
    return {};
}

void ReconnectControl::check() {
    if (ended_) {
        return;
    }
    const Clock::time_point now = Clock::now();
    try {
        if (hotplug_ && now >= hotplugDue_) {
            hotplugDue_ = now + HotplugPorts::checkInterval;
            applyItemUpdates(hotplug_->tick(now));
        }
        handle(watcher_->tick(now));
    } catch (const std::exception& e) {
        report_(e.what());  // this check ends; the next one comes as usual
    }
    arm();
}

void ReconnectControl::arm() {
    std::optional<Clock::time_point> due;
    if (watcher_->watching()) {
        due = watcher_->nextCheck();
    }
    if (hotplug_) {
        due = due ? std::min(*due, hotplugDue_) : hotplugDue_;
    }
    if (ended_ || !due) {
        timer_.stop();
        return;
    }
    // Rounded up: a timer that fires before the check is due would find nothing to do.
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*due - Clock::now()).count();
    timer_.start(static_cast<int>(std::clamp<long long>(wait, 0, 60000)));
}

void ReconnectControl::handle(const ReconnectOutcome& outcome) {
    if (!outcome.status.empty()) {
        report_(outcome.status);
    }
    if (outcome.kind != ReconnectOutcome::Kind::Reconnected) {
        return;
    }
    const std::uint8_t n = watcher_->port();
    setTip(n, portItemTip(ports_.devices()[static_cast<std::size_t>(n - 1)], true));
    emit connectionReopened(n, QString::fromStdString(outcome.path));
    // The module came back at its power-on settings; the window still shows
    // the ones it was given, so they are sent again.
    try {
        linkController_.restoreSettings();
    } catch (const PortError& e) {
        report_(e.what());
    }
}

void ReconnectControl::applyItemUpdates(const std::vector<PortItemUpdate>& updates) {
    for (const PortItemUpdate& update : updates) {
        if (update.port < 1 || update.port > 8) {
            continue;
        }
        const auto i = static_cast<std::size_t>(update.port - 1);
        if (update.enabled) {
            if (MenuItem* item = portItems_[i]) {
                item->setEnabled(*update.enabled);
            }
        }
        setTip(update.port, update.statusTip);
        ports_.setDevice(update.port, hotplug_->assignment()[i]);
    }
}

void ReconnectControl::setTip(std::uint8_t n, const std::string& tip) {
    emit portTipChanged(n, QString::fromStdString(tip));
}

}  // namespace vitalon
