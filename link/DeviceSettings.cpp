#include "DeviceSettings.h"

namespace vitalon {

SettingStep nextSpeed(std::uint8_t now) {
    switch (now) {
        case 0:
            return {1, "100/sec", "S1"};
        case 1:
            return {2, "50/sec", "S2"};
        default:
            return {0, "300/sec", "S0"};
    }
}

SettingStep nextAmplification(std::uint8_t now) {
    switch (now) {
        case 0:
            return {1, "Amp 1", "A1"};
        case 1:
            return {2, "Amp 2", "A2"};
        default:
            return {0, "Amp 0", "A0"};
    }
}

SettingStep nextFilter(std::uint8_t now) {
    return now == 5 ? SettingStep{6, "60 Hz", "6"} : SettingStep{5, "50 Hz", "5"};
}

SettingStep nextSimmode(std::uint8_t now) {
    return now == 0 ? SettingStep{1, "Simulate", "M"} : SettingStep{0, "Normal", "N"};
}

SettingStep nextChannel(std::uint8_t now) {
    switch (now) {
        case 0:
            return {1, "II", "G1"};
        case 1:
            return {2, "I", "G2"};
        default:
            return {0, "III", "G0"};
    }
}

SettingStep nextCurve(std::uint8_t now) {
    return now == 0 ? SettingStep{1, "Resp.", "D1"} : SettingStep{0, "EKG", "D0"};
}

void SettingSelectors::applyStartValues() {
    settings_.SpeedSel = 1;
    settings_.AmpSel = 1;
    settings_.FilterSel = 5;
    settings_.ChannelSel = 1;
    settings_.CurveSel = 0;
    // SimSel keeps its initial 0: the start commands select normal mode.
}

void SettingSelectors::sendStartCommands() {
    for (const char* command : {"S1", "A1", "5", "N", "G1", "D0"}) {
        send(command);
    }
}

void SettingSelectors::Speed_Click() {
    apply(settings_.SpeedSel, nextSpeed(settings_.SpeedSel), labels_.Labelspeed);
}
void SettingSelectors::Amplification_Click() {
    apply(settings_.AmpSel, nextAmplification(settings_.AmpSel), labels_.LabelAmp);
}
void SettingSelectors::Filter_Click() {
    apply(settings_.FilterSel, nextFilter(settings_.FilterSel), labels_.Labelfilter);
}
void SettingSelectors::Simmode_Click() {
    apply(settings_.SimSel, nextSimmode(settings_.SimSel), labels_.Labelsim);
}
void SettingSelectors::Channel_Click() {
    apply(settings_.ChannelSel, nextChannel(settings_.ChannelSel), labels_.LabelChannel);
}
void SettingSelectors::Curve_Click() {
    apply(settings_.CurveSel, nextCurve(settings_.CurveSel), labels_.LabelCurve);
}
void SettingSelectors::Calibrate_Click() {
    send("C");
}

void SettingSelectors::apply(std::uint8_t& selector, SettingStep step, Label& label) {
    selector = step.value;
    label.Caption(step.caption);
    send(step.command);
}

void SettingSelectors::send(const char* command) {
    try {
        port_.Output(command);
    } catch (const PortError& e) {
        throw PortError(e.kind(),
                        std::string("Command \"") + command + "\" was not sent: " + e.what());
    }
}

}  // namespace vitalon
