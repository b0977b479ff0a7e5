#include "Station.h"

#include <cstdio>
#include <exception>

#include "CommandMeaning.h"
#include "PortMessages.h"
#include "Protocol.h"
#include "RunKeeper.h"

namespace vitalon {
namespace {

template <typename View, typename Kept>
View& either(View* view, Kept& kept) {
    return view != nullptr ? *view : kept;
}

std::array<MenuItem*, 8> portItems(const StationViews& views, std::array<KeptMenuItem, 9>& kept) {
    std::array<MenuItem*, 8> items{};
    for (std::size_t i = 0; i < items.size(); ++i) {
        items[i] = views.portItems[i] != nullptr ? views.portItems[i] : &kept[i];
    }
    return items;
}

}  // namespace

Station::Station(std::unique_ptr<SerialLink> link, std::unique_ptr<DeviceIdentityProvider> devices,
                 PortAssignment ports, StationViews views, QObject* parent)
    : QObject(parent),
      link_(std::move(link)),
      devices_(std::move(devices)),
      pulseTone_(either(views.pulseTone, keptItems_[8])),
      ports_(*link_, std::move(ports), portItems(views, keptItems_)),
      selectors_({either(views.speed, keptLabels_[3]), either(views.amplification, keptLabels_[4]),
                  either(views.filter, keptLabels_[5]), either(views.mode, keptLabels_[6]),
                  either(views.lead, keptLabels_[7]), either(views.curve, keptLabels_[8])},
                 commandTap_),
      trace_(either(views.trace, noSurface_)),
      panel_(either(views.pulse, keptLabels_[0]), either(views.respiration, keptLabels_[1]),
             either(views.status, keptLabels_[2]), pulseTone_, either(views.tone, noTone_)),
      display_(trace_, panel_),
      linkController_(*link_, ports_, selectors_,
                      [this](const std::string& text) { report(text); }),
      reconnect_(portItems(views, keptItems_), linkController_, ports_, *devices_,
                 [this](const std::string& text) { report(text); }),
      recording_(decoder_, linkController_, selectors_, ports_, panel_,
                 [this](const std::string& text) { report(text); }) {
    decoder_.addListener(display_);
    linkController_.addChunkListener(decoder_);
    linkController_.addEventListener(*this);
    commandTap_.onCommandSent = [this](std::string_view command) {
        recording_.commandSent(command);
    };

    // The watchdog ticks from the station's creation on; nothing stops it but shutdown.
    watchdogTimer_.setInterval(kWatchdogIntervalMs);
    connect(&watchdogTimer_, &QTimer::timeout, this, &Station::watchdogTick);
    watchdogTimer_.start();
}

Station::~Station() {
    shutDown();
    linkController_.removeEventListener(*this);
    linkController_.removeChunkListener(decoder_);
}

void Station::start() {
    guarded([this] {
        pulseTone_.setChecked(false);
        reconnect_.start();
        linkController_.start();
    });
}

void Station::shutDown() {
    if (ended_) {
        return;
    }
    ended_ = true;
    watchdogTimer_.stop();
    recording_.stop();  // the files are complete before the link closes
    reconnect_.shutdown();
    try {
        linkController_.shutdown();
    } catch (const std::exception&) {
        // The program ends either way; a failing close must not keep it alive.
    }
}

void Station::pickPort(std::uint8_t n) {
    guarded([this, n] { linkController_.pick(n); });
}

void Station::togglePulseTone() {
    guarded([this] { panel_.togglePulseTone(); });
}

void Station::clickSetting(void (SettingSelectors::*click)()) {
    guarded([this, click] { (selectors_.*click)(); });
}

void Station::watchdogTick() {
    guarded([this] {
        panel_.watchdogTick();
        recording_.watchdogTicked();
        emit watchdogTicked();
    });
}

bool Station::recordFromStartUp(const std::string& path) {
    if (!recording_.start(path)) {
        return false;
    }
    if (link_->isOpen() && !recording_.replaying()) {
        for (const std::string_view command : protocol::kStartCommands) {
            recording_.annotate(commandMeaning(command));
        }
    }
    return true;
}

void Station::report(const std::string& text) {
    if (text == lastStatus_) {
        return;
    }
    lastStatus_ = text;
    // Echoed on standard error too, for a bench started from a terminal or a script.
    std::fprintf(stderr, "vitalon: %s\n", text.c_str());
    emit statusReported(QString::fromStdString(text));
}

void Station::guarded(const std::function<void()>& handler) {
    if (ended_) {
        return;
    }
    try {
        handler();
    } catch (const std::exception& e) {
        report(e.what());
    }
}

RecordedPort Station::openPort() const {
    const std::uint8_t port = ports_.currentPort();
    return {port, ports_.devicePath(port)};
}

report::PortFacts Station::openPortFacts() {
    report::PortFacts facts;
    const RecordedPort port = openPort();
    if (port.number == 0) {
        return facts;
    }
    facts.name = comName(port.number);
    facts.device = port.device;
    // A failing look-up leaves the adapter unknown; the test runs all the same.
    try {
        const DeviceIdentity identity = devices_->identityOf(port.device);
        facts.usb = identity.usb;
        facts.usbVendorId = identity.vendorId;
        facts.usbProductId = identity.productId;
        facts.adapterSerialNumber = identity.serialNumber;
        for (const SerialDevice& device : devices_->presentDevices()) {
            if (identity.known() && sameDevice(device.identity, identity)) {
                facts.description = device.description;
                break;
            }
        }
    } catch (const std::exception& e) {
        report(std::string("The port's adapter could not be identified: ") + e.what());
    }
    return facts;
}

bool Station::onSimulatedModule() const {
    const std::uint8_t port = ports_.currentPort();
    return port != 0 && !simulatedDevice_.empty() && ports_.devicePath(port) == simulatedDevice_;
}

std::unique_ptr<ModuleTestSession> Station::makeModuleTest(ModuleTestSetup setup) {
    ModuleTestWiring wiring{selectors_, decoder_, openPort(),
                            [this](const std::string& text) { report(text); }, clock_};
    wiring.portFacts = openPortFacts();
    if (resultsStore_) {
        // The store numbers the attempts; when it cannot answer, the count
        // the wiring had (if any) stands.
        wiring.attempt = [store = resultsStore_, fallback = std::move(wiring.attempt)](
                             const QString& folder, const std::string& serial) {
            if (results::ResultsStore* opened = store()) {
                if (const std::optional<int> attempt = storedAttempt(*opened, serial)) {
                    return *attempt;
                }
            }
            return fallback ? fallback(folder, serial) : 1;
        };
        wiring.keep = [store = resultsStore_, reason = setup.retestReason](
                          const report::TestReport& report,
                          const report::ReportWriteResult& files) -> std::string {
            results::ResultsStore* opened = store();
            if (opened == nullptr) {
                return "the results store could not be opened";
            }
            return keepRun(*opened, report, files, reason);
        };
    }
    return std::make_unique<ModuleTestSession>(std::move(wiring), std::move(setup));
}

void Station::linkOpened(std::uint8_t, const std::string&) {
    decoder_.reset();
}

std::string Station::linkLost(std::uint8_t, const std::string&, const std::string&) {
    decoder_.reset();
    return {};  // the reconnect control says what happens next
}

}  // namespace vitalon
