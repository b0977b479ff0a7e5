#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "DeviceSettings.h"
#include "EdfRecorder.h"

namespace vitalon {

// What a recording's waveform signal is at the module's current settings: its
// rate in samples a second (S0 300, S1 100, S2 50) and what it shows (the
// respiration curve, or the selected ECG lead). The window's recording and the
// module test's recording both describe their signal by these.
int recordedSampleRate(const DeviceSettings& settings);
recording::Waveform recordedWaveform(const DeviceSettings& settings);

// Where a recording's stream comes from: the port number (0: none open) and its device.
struct RecordedPort {
    std::uint8_t number = 0;
    std::string device;
};

// The set-up of a recording to `path` at the module's current settings, from
// `port`, begun at `startTime`: rate, waveform, amplification, mains filter,
// port name and device, and this program's version.
recording::RecordingSetup recordingSetup(const DeviceSettings& settings, std::string path,
                                         const RecordedPort& port,
                                         std::chrono::system_clock::time_point startTime);

// After a command went out (the selectors already hold its setting): later
// samples are at the new rate, and later files carry the new waveform's label.
void followSettings(recording::EdfRecorder& recorder, const DeviceSettings& settings);

}  // namespace vitalon
