#pragma once

#include <QMainWindow>
#include <QTimer>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "DeviceSettings.h"
#include "Form1Ui.h"
#include "MeasurementDisplay.h"
#include "PortManager.h"
#include "PortMessages.h"
#include "QtControls.h"
#include "QtSerialPort.h"
#include "StreamDecoder.h"
#include "TonePlayer.h"
#include "VitalSignPanel.h"
#include "WaveformTrace.h"

namespace vitalon {

// The main window: owns every part of the program and the controls, wires the
// events to the parts, and turns every failure into a status-bar message.
// Each handler runs to completion on the event loop; after shutdown none runs.
class Form1 : public QMainWindow {
    Q_OBJECT
public:
    explicit Form1(PortAssignment devices, QWidget* parent = nullptr);
    ~Form1() override;

    // Start-up, before the window is first shown: enable the port items, scan,
    // open the port found, tone off, start selectors, start commands.
    void Form_Load();

    // Event entry points (also driven directly by tests).
    void menEnde();
    void setCOM_Click(std::uint8_t n);
    void Speed_Click();
    void Amplification_Click();
    void Filter_Click();
    void Simmode_Click();
    void Channel_Click();
    void Curve_Click();
    void Calibrate_Click();
    void MSComm1_OnComm();
    void Timer3_Timer();
    void setBeep_Click();

    std::uint8_t PortNo() const { return PortNo_; }
    bool ended() const { return ended_; }
    const Form1Ui& ui() const { return ui_; }
    QtSerialPort& port() { return MSComm1; }
    const DeviceSettings& settings() const { return selectors_.settings(); }
    const VitalSigns& vitals() const { return panel_.state(); }
    const StreamDecoder& decoder() const { return decoder_; }
    const WaveformTrace& trace() const { return trace_; }
    // Received bytes that went through the decoder since the window was created.
    std::uint64_t bytesDecoded() const { return bytesDecoded_; }
    QString statusText() const;
    QTimer& watchdogTimer() { return Timer3; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Form_Unload();
    void connectControls();
    void status(const std::string& text);
    void guarded(const std::function<void()>& handler);

    Form1Ui ui_;
    QtSerialPort MSComm1;
    QTimer Timer3;
    TonePlayer tone_;

    QtLabel Label1_, Label3_, Label4_;
    QtLabel Labelspeed_, LabelAmp_, Labelfilter_, Labelsim_, LabelChannel_, LabelCurve_;
    std::array<std::unique_ptr<QtMenuItem>, 8> setCOM_;
    QtMenuItem setBeep_;

    std::uint8_t PortNo_ = 0;
    PortManager ports_;
    SettingSelectors selectors_;
    StreamDecoder decoder_;
    WaveformTrace trace_;
    VitalSignPanel panel_;
    MeasurementDisplay display_;
    bool ended_ = false;
    std::uint64_t bytesDecoded_ = 0;
};

}  // namespace vitalon
