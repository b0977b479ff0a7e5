#pragma once

#include <cstdint>

namespace vitalon {

// Sounds a tone of the given frequency (37..32767 Hz) for the given time.
// Implementations must not block the event loop for the length of the tone.
class ToneGenerator {
public:
    virtual ~ToneGenerator() = default;
    virtual void beep(std::uint32_t frequencyHz, std::uint32_t durationMs) = 0;
    // While on, the audio output stays open between beeps; off releases it.
    virtual void holdOutput(bool /*on*/) {}
};

}  // namespace vitalon
