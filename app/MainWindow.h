#pragma once

#include <QMainWindow>
#include <QTimer>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>

#include "CommandTap.h"
#include "DeviceSettings.h"
#include "DisplayListener.h"
#include "LinkController.h"
#include "MainWindowLayout.h"
#include "PortManager.h"
#include "QtControls.h"
#include "QtSerialLink.h"
#include "ReconnectControl.h"
#include "StreamDecoder.h"
#include "TonePlayer.h"
#include "VitalSignPanel.h"
#include "WaveformTrace.h"

namespace vitalon {

class ModuleTestControl;
class RecordingControl;
class ReviewControl;

// The main window: owns the parts of the program and the controls, wires the
// controls to the parts, and turns every failure into a status-bar message.
//
// The data path, in one direction: the serial link dates each received chunk
// and pushes it to the link controller, which hands it to its chunk listeners,
// the stream decoder first; the decoder tells its listeners the chunk's
// arrival time and then its decoded events. Its listeners are the display
// (trace, panel, watchdog, tone) and, while they run, the recording and the
// module test. Each handler runs to completion on the event loop; after
// shutdown none runs.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(PortAssignment devices, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Start-up, before the window is first shown: pulse tone off, then the
    // link's start-up (scan, open, start commands).
    void start();

    // Ends the program: the same shutdown as closing the window.
    void quit();

    // One tick of the no-data watchdog (the timer's handler; tests drive it directly).
    void watchdogTick();

    bool ended() const { return ended_; }
    const MainWindowLayout& layout() const { return ui_; }
    QtSerialLink& link() { return link_; }
    LinkController& linkController() { return linkController_; }
    // The reconnect watch, "Reconnect Automatically" and the port items that follow adapters.
    ReconnectControl& reconnect() { return reconnect_; }
    // The decoded stream; further listeners attach here.
    StreamDecoder& decoder() { return decoder_; }
    SettingSelectors& selectors() { return selectors_; }
    ModuleTestControl& moduleTest() { return *moduleTest_; }
    std::uint8_t currentPort() const { return linkController_.currentPort(); }
    const DeviceSettings& settings() const { return selectors_.settings(); }
    const VitalSigns& vitals() const { return panel_.state(); }
    const WaveformTrace& trace() const { return trace_; }
    QString statusText() const;  // the whole message, however it is shown
    QTimer& watchdogTimer() { return watchdogTimer_; }
    const PortManager& ports() const { return ports_; }
    RecordingControl& recording() { return *recording_; }
    ReviewControl& review() { return *review_; }

    // Shows `text` in the status bar (and on standard error).
    void showStatus(const std::string& text);

signals:
    void watchdogTicked();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void shutDown();
    void connectControls();
    void guarded(const std::function<void()>& handler);

    MainWindowLayout ui_;
    QtSerialLink link_;
    CommandTap commandTap_{link_};  // the selectors' commands, seen by the recording
    QTimer watchdogTimer_;
    TonePlayer tone_;

    QtLabel pulseLabel_, respirationLabel_, statusLabel_;
    QtLabel speedLabel_, amplificationLabel_, filterLabel_, modeLabel_, leadLabel_, curveLabel_;
    std::array<std::unique_ptr<QtMenuItem>, 8> portItems_;
    QtMenuItem pulseToneItem_;

    PortManager ports_;
    SettingSelectors selectors_;
    StreamDecoder decoder_;
    WaveformTrace trace_;
    VitalSignPanel panel_;
    DisplayListener display_;
    LinkController linkController_;
    ReconnectControl reconnect_;
    std::unique_ptr<RecordingControl> recording_;
    std::unique_ptr<ReviewControl> review_;
    bool ended_ = false;
    // Last, so that a running test ends before the parts it works with.
    std::unique_ptr<ModuleTestControl> moduleTest_;
};

}  // namespace vitalon
