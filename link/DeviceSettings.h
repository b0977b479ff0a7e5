#pragma once

#include <cstdint>
#include <string>

#include "Controls.h"
#include "SerialPort.h"

namespace vitalon {

// What the program last told the module; never what the module reports.
struct DeviceSettings {
    std::uint8_t AmpSel = 0;      // 0, 1, 2
    std::uint8_t SpeedSel = 0;    // 0, 1, 2
    std::uint8_t FilterSel = 0;   // 5, 6
    std::uint8_t SimSel = 0;      // 0, 1
    std::uint8_t ChannelSel = 0;  // 0, 1, 2
    std::uint8_t CurveSel = 0;    // 0, 1
};

// One step of a setting's cycle: the selector's new value, its caption and command.
struct SettingStep {
    std::uint8_t value;
    const char* caption;
    const char* command;
};

SettingStep nextSpeed(std::uint8_t now);
SettingStep nextAmplification(std::uint8_t now);
SettingStep nextFilter(std::uint8_t now);
SettingStep nextSimmode(std::uint8_t now);
SettingStep nextChannel(std::uint8_t now);
SettingStep nextCurve(std::uint8_t now);

// The labels that show the six settings.
struct SettingLabels {
    Label& Labelspeed;
    Label& LabelAmp;
    Label& Labelfilter;
    Label& Labelsim;
    Label& LabelChannel;
    Label& LabelCurve;
};

// The six setting buttons and Calibrate. A click updates the selector, then the
// label, then writes the command; when the write fails the selector and label
// keep the new value and a PortError naming the command propagates.
class SettingSelectors {
public:
    SettingSelectors(SettingLabels labels, SerialPort& port) : labels_(labels), port_(port) {}

    void applyStartValues();   // the selectors that describe the start commands
    void sendStartCommands();  // "S1", "A1", "5", "N", "G1", "D0", one write each

    void Speed_Click();
    void Amplification_Click();
    void Filter_Click();
    void Simmode_Click();
    void Channel_Click();
    void Curve_Click();
    void Calibrate_Click();

    const DeviceSettings& settings() const { return settings_; }

private:
    void apply(std::uint8_t& selector, SettingStep step, Label& label);
    void send(const char* command);

    SettingLabels labels_;
    SerialPort& port_;
    DeviceSettings settings_;
};

}  // namespace vitalon
