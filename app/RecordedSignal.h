#pragma once

#include "DeviceSettings.h"
#include "EdfRecorder.h"

namespace vitalon {

// What a recording's waveform signal is at the module's current settings: its
// rate in samples a second (S0 300, S1 100, S2 50) and what it shows (the
// respiration curve, or the selected ECG lead). The window's recording and the
// module test's recording both describe their signal by these.
inline int recordedSampleRate(const DeviceSettings& settings) {
    switch (settings.speed) {
        case 0:
            return 300;
        case 2:
            return 50;
        default:
            return 100;
    }
}

inline recording::Waveform recordedWaveform(const DeviceSettings& settings) {
    if (settings.curve == 1) {
        return recording::Waveform::Respiration;
    }
    switch (settings.lead) {
        case 0:
            return recording::Waveform::EcgIII;
        case 2:
            return recording::Waveform::EcgI;
        default:
            return recording::Waveform::EcgII;
    }
}

}  // namespace vitalon
