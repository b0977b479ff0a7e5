#include "VitalSignPanel.h"

#include <cmath>
#include <string>

#include "Colors.h"

namespace vitalon {

namespace {

constexpr double kMinToneHz = 37.0;
constexpr double kMaxToneHz = 32767.0;
constexpr std::uint8_t kLeadOff = 17;
constexpr std::uint8_t kMaxNoDataTicks = 250;
constexpr std::uint8_t kLiveTicks = 3;  // up to this many ticks without a pulse marker: live

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

void SoundTone(ToneGenerator& tone, double frequency, std::int32_t durationMs) {
    // A negative duration would wrap to some 49 days as an unsigned count;
    // it sounds nothing instead.
    const std::uint32_t duration = durationMs < 0 ? 0u : static_cast<std::uint32_t>(durationMs);
    tone.Beep(toneFrequency(frequency), duration);
}

void VitalSignPanel::ShowPulse(std::uint8_t rate) {
    state_.PulseRate = rate;
    pulse_.Caption(decimal(state_.PulseRate));
    if (state_.PulseRate != 0) {
        status_.Caption("OK!");
    }
    if (toneSwitch_.Checked() && state_.PulseRate != 0) {
        SoundTone(tone_, 1000.0, 60);
    }
}

void VitalSignPanel::ShowResp(std::uint8_t rate) {
    state_.RespRate = rate;
    resp_.Caption(decimal(state_.RespRate));
}

void VitalSignPanel::ShowStatus(std::uint8_t code) {
    state_.StatusCode = code;
    if (state_.StatusCode != 0) {
        pulse_.Caption("---");
    }
    status_.Caption(state_.StatusCode == kLeadOff ? "Lead Off!" : "OK!");
}

void VitalSignPanel::WatchdogTick() {
    if (state_.NoDataTicks < kMaxNoDataTicks) {
        ++state_.NoDataTicks;
    }
    if (state_.NoDataTicks <= kLiveTicks) {
        pulse_.BackColor(colors::WindowBackground);
        resp_.BackColor(colors::WindowBackground);
        return;
    }
    // Stale: written again on every tick until a pulse marker comes back.
    pulse_.Caption("");
    resp_.Caption("");
    pulse_.BackColor(colors::AlarmBackground);
    resp_.BackColor(colors::AlarmBackground);
    status_.Caption("No Data!");
}

void VitalSignPanel::setBeep_Click() {
    toneSwitch_.Checked(!toneSwitch_.Checked());
}

}  // namespace vitalon
