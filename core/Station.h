#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "CommandTap.h"
#include "DeviceIdentity.h"
#include "DeviceSettings.h"
#include "DisplayListener.h"
#include "LinkController.h"
#include "ModuleTestSession.h"
#include "NullViews.h"
#include "PortManager.h"
#include "ReconnectControl.h"
#include "RecordingSession.h"
#include "ResultsStore.h"
#include "StreamDecoder.h"
#include "VitalSignPanel.h"
#include "WaveformTrace.h"

namespace vitalon {

// Where a station shows what it does. A view left out is kept inside the
// station (a label keeps its text, a menu item its state), so the same
// station runs with a window and without one.
struct StationViews {
    Label* pulse = nullptr;
    Label* respiration = nullptr;
    Label* status = nullptr;
    Label* speed = nullptr;
    Label* amplification = nullptr;
    Label* filter = nullptr;
    Label* mode = nullptr;
    Label* lead = nullptr;
    Label* curve = nullptr;
    std::array<MenuItem*, 8> portItems{};  // COM1 .. COM8
    MenuItem* pulseTone = nullptr;
    DrawingSurface* trace = nullptr;
    ToneGenerator* tone = nullptr;
};

// The program without its window: the serial link and the eight numbered
// ports with their scan, the setting selectors and the commands they send,
// the stream decoder and its listeners (trace, panel with the no-data
// watchdog and the pulse tone), reconnection of a lost device, the recording
// and the module test.
//
// The data path, in one direction: the serial link dates each received chunk
// and pushes it to the link controller, which hands it to the stream decoder;
// the decoder tells its listeners the chunk's arrival time and then its
// decoded events: the display, and while they run the recording and the
// module test.
//
// What the user should know goes out as statusReported (and on standard
// error, for a bench started from a terminal or a script). Every entry point
// runs to completion on the event loop; a failing step ends its handler and
// becomes a status message. After shutDown() nothing is handled.
class Station : public QObject, private LinkEvents {
    Q_OBJECT
public:
    static constexpr int kWatchdogIntervalMs = 2000;

    // `link` is the serial line; `devices` where device identities come from
    // (the system's serial-device list); `ports` what each port number stands for.
    Station(std::unique_ptr<SerialLink> link, std::unique_ptr<DeviceIdentityProvider> devices,
            PortAssignment ports, StationViews views = {}, QObject* parent = nullptr);
    ~Station() override;
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    // Start-up: pulse tone off, then the link's start-up (scan, open, start
    // commands). The watchdog runs from the station's creation on.
    void start();
    // Finishes a recording, ends the reconnect watch and closes the link; the
    // station handles nothing afterwards. Safe to call more than once.
    void shutDown();
    bool ended() const { return ended_; }

    // The user's actions; a failure becomes a status message.
    void pickPort(std::uint8_t n);
    void togglePulseTone();
    void clickSetting(void (SettingSelectors::*click)());
    // One tick of the no-data watchdog (the timer's handler; tests call it directly).
    void watchdogTick();

    // A recording begun right after start(), so the file starts at the rate
    // the start commands set. Those commands went out just before the file
    // opened; it names them first, so the file says which state the module
    // was put in (not for a replay, which commands do not change). False,
    // with the reason reported, when the file cannot be written.
    bool recordFromStartUp(const std::string& path);

    // Reports `text` to the user: statusReported, and standard error. A text
    // the same as the last one is not repeated.
    void report(const std::string& text);
    // Runs `handler`, turning an exception into a status message; nothing after shutdown.
    void guarded(const std::function<void()>& handler);

    // The device of the simulated module or replay this program serves on a
    // port (from --simulate or --replay); a module test on it judges no module.
    void setSimulatedDevice(std::string device) { simulatedDevice_ = std::move(device); }
    bool servesSimulatedModule() const { return !simulatedDevice_.empty(); }
    // The link is open on that device.
    bool onSimulatedModule() const;

    // The clock a module test reads besides the chunks' arrival times; the
    // host's steady clock unless a test sets a virtual one.
    void setClock(std::function<ArrivalTime()> clock) { clock_ = std::move(clock); }
    // A module test on the station's link, as it is open now (a front end
    // checks first that a port is open).
    std::unique_ptr<ModuleTestSession> makeModuleTest(ModuleTestSetup setup);
    // The results store every finished module test is filed in before its
    // verdict is shown, asked for when a run finishes (so it may be opened
    // late); it answers nullptr when it cannot be opened. Unset: runs are not
    // filed.
    void setResultsStore(std::function<results::ResultsStore*()> store) {
        resultsStore_ = std::move(store);
    }

    SerialLink& link() { return *link_; }
    LinkController& linkController() { return linkController_; }
    const PortManager& ports() const { return ports_; }
    SettingSelectors& selectors() { return selectors_; }
    const DeviceSettings& settings() const { return selectors_.settings(); }
    // The decoded stream; further listeners attach here.
    StreamDecoder& decoder() { return decoder_; }
    const StreamDecoder& decoder() const { return decoder_; }
    WaveformTrace& trace() { return trace_; }
    const WaveformTrace& trace() const { return trace_; }
    const VitalSigns& vitals() const { return panel_.state(); }
    ReconnectControl& reconnect() { return reconnect_; }
    const ReconnectControl& reconnect() const { return reconnect_; }
    RecordingSession& recording() { return recording_; }
    QTimer& watchdogTimer() { return watchdogTimer_; }
    // The port the link is open on, or 0, and its device.
    std::uint8_t currentPort() const { return ports_.currentPort(); }
    RecordedPort openPort() const;
    // The open port and the adapter behind it as the system names it, for a
    // test report; empty when no port is open.
    report::PortFacts openPortFacts();

signals:
    void statusReported(const QString& text);
    void watchdogTicked();

private:
    // LinkEvents: a new stream begins on every open, and a lost one is over,
    // so no marker of the old stream takes a byte of the new one as its value.
    void linkOpened(std::uint8_t n, const std::string& path) override;
    std::string linkLost(std::uint8_t n, const std::string& path,
                         const std::string& reason) override;

    std::unique_ptr<SerialLink> link_;
    std::unique_ptr<DeviceIdentityProvider> devices_;
    CommandTap commandTap_{*link_};  // the selectors' commands, seen by the recording

    // Stand-ins for the views left out.
    std::array<KeptLabel, 9> keptLabels_;
    std::array<KeptMenuItem, 9> keptItems_;
    NoSurface noSurface_;
    NoTone noTone_;
    MenuItem& pulseTone_;

    PortManager ports_;
    SettingSelectors selectors_;
    StreamDecoder decoder_;
    WaveformTrace trace_;
    VitalSignPanel panel_;
    DisplayListener display_;
    LinkController linkController_;
    ReconnectControl reconnect_;
    RecordingSession recording_;
    QTimer watchdogTimer_;
    std::function<ArrivalTime()> clock_ = ArrivalClock::now;
    std::string simulatedDevice_;
    std::function<results::ResultsStore*()> resultsStore_;
    std::string lastStatus_;
    bool ended_ = false;
};

}  // namespace vitalon
