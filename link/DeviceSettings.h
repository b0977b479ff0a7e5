#pragma once

#include <cstdint>
#include <string>

#include "Controls.h"
#include "SerialLink.h"

namespace vitalon {

// What the program last told the module; never what the module reports.
struct DeviceSettings {
    std::uint8_t amplification = 0;  // 0, 1, 2
    std::uint8_t speed = 0;          // 0, 1, 2
    std::uint8_t filter = 0;         // 5, 6 (mains frequency / 10)
    std::uint8_t mode = 0;           // 0 normal, 1 simulation
    std::uint8_t lead = 0;           // 0, 1, 2
    std::uint8_t curve = 0;          // 0 ECG, 1 respiration
};

// The mains frequency the module's notch filter is set for, in hertz: 60 after
// the 60 Hz command, 50 otherwise (also before any filter command).
int mainsFrequencyHz(const DeviceSettings& settings);

// One step of a setting's cycle: the selector's new value, its caption and command.
struct SettingStep {
    std::uint8_t value;
    const char* caption;
    std::string command;
};

SettingStep nextSpeed(std::uint8_t now);
SettingStep nextAmplification(std::uint8_t now);
SettingStep nextFilter(std::uint8_t now);
SettingStep nextMode(std::uint8_t now);
SettingStep nextLead(std::uint8_t now);
SettingStep nextCurve(std::uint8_t now);

// The labels that show the six settings.
struct SettingLabels {
    Label& speed;
    Label& amplification;
    Label& filter;
    Label& mode;
    Label& lead;
    Label& curve;
};

// The six setting buttons and Calibrate. A click updates the selector, then the
// label, then writes the command; when the write fails the selector and label
// keep the new value and a PortError naming the command propagates.
class SettingSelectors {
public:
    SettingSelectors(SettingLabels labels, SerialLink& link) : labels_(labels), link_(link) {}

    void applyStartValues();   // the selectors that describe the start commands
    void sendStartCommands();  // the start commands, one write each

    void cycleSpeed();
    void cycleAmplification();
    void cycleFilter();
    void cycleMode();
    void cycleLead();
    void cycleCurve();
    void calibrate();

    // Sets the selector that `command` stands for ("S2": speed 50/sec) and its
    // label as the matching button would, then writes exactly `command`; "C"
    // is only written. False, with nothing changed or written, for text that is
    // not one of the module's commands. A failed write throws PortError as a
    // click does.
    bool select(std::string_view command);

    const DeviceSettings& settings() const { return settings_; }

    // Writes one command as the buttons do; a failing write throws PortError naming it.
    void send(std::string_view command);

private:
    void apply(std::uint8_t& selector, const SettingStep& step, Label& label);

    SettingLabels labels_;
    SerialLink& link_;
    DeviceSettings settings_;
};

}  // namespace vitalon
