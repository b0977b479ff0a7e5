#include "VitalSignPanel.h"

#include <cmath>
#include <string>

#include "Colors.h"
#include "Protocol.h"

namespace vitalon {

namespace {

constexpr double kMinToneHz = 37.0;
constexpr double kMaxToneHz = 32767.0;
constexpr std::uint8_t kMaxNoDataTicks = 250;

std::string decimal(std::uint8_t value) {
    return std::to_string(static_cast<unsigned>(value));
}

}  // namespace

std::uint32_t toneFrequency(double frequency) {
    // The comparison is false for NaN, so NaN falls to the lower bound too.
    if (!(frequency >= kMinToneHz)) {
        frequency = kMinToneHz;
    } else if (frequency > kMaxToneHz) {
        frequency = kMaxToneHz;
    }
    // Round half to even, independent of the floating-point rounding mode.
    const double below = std::floor(frequency);
    const double fraction = frequency - below;
    double rounded = below;
    if (fraction > 0.5) {
        rounded = below + 1.0;
    } else if (fraction == 0.5) {
        rounded = std::fmod(below, 2.0) == 0.0 ? below : below + 1.0;
    }
    return static_cast<std::uint32_t>(rounded);
}

void soundTone(ToneGenerator& tone, double frequency, std::int32_t durationMs) {
    // A negative duration would wrap to some 49 days as an unsigned count;
    // it sounds nothing instead.
    const std::uint32_t duration = durationMs < 0 ? 0u : static_cast<std::uint32_t>(durationMs);
    tone.beep(toneFrequency(frequency), duration);
}

void VitalSignPanel::showPulse(std::uint8_t rate) {
    state_.pulseRate = rate;
    pulse_.setText(decimal(state_.pulseRate));
    if (state_.pulseRate != 0) {
        status_.setText("OK!");
    }
    if (toneSwitch_.isChecked() && state_.pulseRate != 0) {
        soundTone(tone_, 1000.0, 60);
    }
}

void VitalSignPanel::showRespiration(std::uint8_t rate) {
    state_.respirationRate = rate;
    resp_.setText(decimal(state_.respirationRate));
}

void VitalSignPanel::showStatus(std::uint8_t code) {
    state_.statusCode = code;
    if (state_.statusCode != protocol::kStatusOk) {
        pulse_.setText("---");
    }
    status_.setText(state_.statusCode == protocol::kStatusLeadOff ? "Lead Off!" : "OK!");
}

void VitalSignPanel::watchdogTick() {
    if (state_.noDataTicks < kMaxNoDataTicks) {
        ++state_.noDataTicks;
    }
    if (!state_.stale()) {
        pulse_.setBackgroundColor(colors::WindowBackground);
        resp_.setBackgroundColor(colors::WindowBackground);
        return;
    }
    // Stale: written again on every tick until a pulse marker comes back.
    pulse_.setText("");
    resp_.setText("");
    pulse_.setBackgroundColor(colors::AlarmBackground);
    resp_.setBackgroundColor(colors::AlarmBackground);
    status_.setText("No Data!");
}

void VitalSignPanel::togglePulseTone() {
    toneSwitch_.setChecked(!toneSwitch_.isChecked());
    tone_.holdOutput(toneSwitch_.isChecked());
}

}  // namespace vitalon
