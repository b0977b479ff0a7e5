#include "RecordedSignal.h"

#include <utility>

#include "PortMessages.h"

namespace vitalon {

int recordedSampleRate(const DeviceSettings& settings) {
    switch (settings.speed) {
        case 0:
            return 300;
        case 2:
            return 50;
        default:
            return 100;
    }
}

recording::Waveform recordedWaveform(const DeviceSettings& settings) {
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

recording::RecordingSetup recordingSetup(const DeviceSettings& settings, std::string path,
                                         const RecordedPort& port,
                                         std::chrono::system_clock::time_point startTime) {
    recording::RecordingSetup setup;
    setup.path = std::move(path);
    setup.samplesPerSecond = recordedSampleRate(settings);
    setup.waveform = recordedWaveform(settings);
    setup.amplification = settings.amplification;
    setup.filterHz = mainsFrequencyHz(settings);
    if (port.number != 0) {
        setup.port = comName(port.number);
        setup.device = port.device;
    }
    setup.version = VITALON_VERSION;
    setup.startTime = startTime;
    return setup;
}

void followSettings(recording::EdfRecorder& recorder, const DeviceSettings& settings) {
    recorder.setWaveform(recordedWaveform(settings));
    recorder.setSampleRate(recordedSampleRate(settings));
}

}  // namespace vitalon
