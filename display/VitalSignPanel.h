#pragma once

#include <cstdint>

#include "Controls.h"
#include "ToneGenerator.h"

namespace vitalon {

// The last values received and the watchdog counter, all zero at creation.
struct VitalSigns {
    std::uint8_t pulseRate = 0;
    std::uint8_t respirationRate = 0;
    std::uint8_t statusCode = 0;
    std::uint8_t noDataTicks = 0;  // 0..250, ticks since the last pulse marker

    // Up to this many watchdog ticks without a pulse marker the data is live;
    // after them the panel shows "No Data!".
    static constexpr std::uint8_t kLiveTicks = 3;
    bool stale() const { return noDataTicks > kLiveTicks; }
};

// Rounds a tone frequency for the tone generator: NaN and values below 37
// become 37, values above 32767 become 32767, halves round to even.
std::uint32_t toneFrequency(double frequency);

// Clamps and rounds the frequency and sounds the tone; the duration is passed on unchanged.
void soundTone(ToneGenerator& tone, double frequency, std::int32_t durationMs);

// Pulse, respiration and status labels, the no-data watchdog and the pulse tone.
class VitalSignPanel {
public:
    VitalSignPanel(Label& pulse, Label& resp, Label& status, MenuItem& toneSwitch,
                   ToneGenerator& tone)
        : pulse_(pulse), resp_(resp), status_(status), toneSwitch_(toneSwitch), tone_(tone) {}

    void showPulse(std::uint8_t rate);
    void showRespiration(std::uint8_t rate);
    void showStatus(std::uint8_t code);
    void watchdogTick();                                // one tick of the 2-second watchdog timer
    void restartWatchdog() { state_.noDataTicks = 0; }  // a pulse marker arrived
    void togglePulseTone();  // flips the pulse-tone switch; the tone's output follows it

    const VitalSigns& state() const { return state_; }

private:
    Label& pulse_;
    Label& resp_;
    Label& status_;
    MenuItem& toneSwitch_;
    ToneGenerator& tone_;
    VitalSigns state_;
};

}  // namespace vitalon
