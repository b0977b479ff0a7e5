#include "DeviceSettings.h"

#include "Protocol.h"

namespace vitalon {
namespace {

using namespace protocol;

std::string command(char letter, char digit) {
    return {letter, digit};
}

}  // namespace

SettingStep nextSpeed(std::uint8_t now) {
    switch (now) {
        case 0:
            return {1, "100/sec", command(kSpeedCommand, '1')};
        case 1:
            return {2, "50/sec", command(kSpeedCommand, '2')};
        default:
            return {0, "300/sec", command(kSpeedCommand, '0')};
    }
}

SettingStep nextAmplification(std::uint8_t now) {
    switch (now) {
        case 0:
            return {1, "Amp 1", command(kAmplificationCommand, '1')};
        case 1:
            return {2, "Amp 2", command(kAmplificationCommand, '2')};
        default:
            return {0, "Amp 0", command(kAmplificationCommand, '0')};
    }
}

int mainsFrequencyHz(const DeviceSettings& settings) {
    return settings.filter == 6 ? 60 : 50;
}

SettingStep nextFilter(std::uint8_t now) {
    return now == 5 ? SettingStep{6, "60 Hz", std::string(1, kFilter60HzCommand)}
                    : SettingStep{5, "50 Hz", std::string(1, kFilter50HzCommand)};
}

SettingStep nextMode(std::uint8_t now) {
    return now == 0 ? SettingStep{1, "Simulate", std::string(1, kSimulationModeCommand)}
                    : SettingStep{0, "Normal", std::string(1, kNormalModeCommand)};
}

SettingStep nextLead(std::uint8_t now) {
    switch (now) {
        case 0:
            return {1, "II", command(kLeadCommand, '1')};
        case 1:
            return {2, "I", command(kLeadCommand, '2')};
        default:
            return {0, "III", command(kLeadCommand, '0')};
    }
}

SettingStep nextCurve(std::uint8_t now) {
    return now == 0 ? SettingStep{1, "Resp.", command(kCurveCommand, '1')}
                    : SettingStep{0, "EKG", command(kCurveCommand, '0')};
}

void SettingSelectors::applyStartValues() {
    settings_.speed = 1;
    settings_.amplification = 1;
    settings_.filter = 5;
    settings_.lead = 1;
    settings_.curve = 0;
    // mode keeps its initial 0: the start commands select normal mode.
}

void SettingSelectors::sendStartCommands() {
    for (std::string_view command : kStartCommands) {
        send(command);
    }
}

void SettingSelectors::cycleSpeed() {
    apply(settings_.speed, nextSpeed(settings_.speed), labels_.speed);
}
void SettingSelectors::cycleAmplification() {
    apply(settings_.amplification, nextAmplification(settings_.amplification),
          labels_.amplification);
}
void SettingSelectors::cycleFilter() {
    apply(settings_.filter, nextFilter(settings_.filter), labels_.filter);
}
void SettingSelectors::cycleMode() {
    apply(settings_.mode, nextMode(settings_.mode), labels_.mode);
}
void SettingSelectors::cycleLead() {
    apply(settings_.lead, nextLead(settings_.lead), labels_.lead);
}
void SettingSelectors::cycleCurve() {
    apply(settings_.curve, nextCurve(settings_.curve), labels_.curve);
}
void SettingSelectors::calibrate() {
    send(std::string_view(&kCalibrateCommand, 1));
}

bool SettingSelectors::select(std::string_view command) {
    if (command == std::string_view(&kCalibrateCommand, 1)) {
        calibrate();
        return true;
    }
    struct Setting {
        std::uint8_t& selector;
        SettingStep (*next)(std::uint8_t);
        Label& label;
    };
    const Setting settings[] = {
        {settings_.speed, nextSpeed, labels_.speed},
        {settings_.amplification, nextAmplification, labels_.amplification},
        {settings_.filter, nextFilter, labels_.filter},
        {settings_.mode, nextMode, labels_.mode},
        {settings_.lead, nextLead, labels_.lead},
        {settings_.curve, nextCurve, labels_.curve},
    };
    // Each cycle has at most three values: walking it three steps from the
    // current value meets every command of the setting.
    for (const Setting& setting : settings) {
        SettingStep step = setting.next(setting.selector);
        for (int i = 0; i < 3; ++i, step = setting.next(step.value)) {
            if (step.command == command) {
                apply(setting.selector, step, setting.label);
                return true;
            }
        }
    }
    return false;
}

void SettingSelectors::apply(std::uint8_t& selector, const SettingStep& step, Label& label) {
    selector = step.value;
    label.setText(step.caption);
    send(step.command);
}

void SettingSelectors::send(std::string_view command) {
    try {
        link_.write(command);
    } catch (const PortError& e) {
        throw PortError(e.kind(),
                        "Command \"" + std::string(command) + "\" was not sent: " + e.what());
    }
}

}  // namespace vitalon
