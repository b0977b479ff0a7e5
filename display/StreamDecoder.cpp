#include "StreamDecoder.h"

#include <algorithm>

#include "Protocol.h"

namespace vitalon {

using namespace protocol;

void StreamDecoder::addListener(StreamListener& listener) {
    listeners_.push_back(&listener);
}

void StreamDecoder::removeListener(StreamListener& listener) {
    const auto it = std::find(listeners_.begin(), listeners_.end(), &listener);
    if (it == listeners_.end()) {
        return;
    }
    if (delivering_ > 0) {
        *it = nullptr;  // erasing now would shift the listeners still to be called
        removedDuringDelivery_ = true;
    } else {
        listeners_.erase(it);
    }
}

void StreamDecoder::dropRemoved() {
    std::erase(listeners_, nullptr);
    removedDuringDelivery_ = false;
}

// The per-byte work, inlined into both entry points: in receive(), the loop of
// every received chunk, a call per byte would cost as much as the decoding.
[[gnu::always_inline]] inline void StreamDecoder::step(std::uint8_t b) {
    switch (pending_) {
        case Pending::Status:
            notify([b](StreamListener& l) { l.onStatus(b); });
            break;
        case Pending::Pulse:
            notify([b](StreamListener& l) { l.onPulse(b); });
            break;
        case Pending::Respiration:
            notify([b](StreamListener& l) { l.onRespiration(b); });
            break;
        case Pending::None:
            if (b < kFirstMarker) {
                notify([b](StreamListener& l) { l.onSample(b); });
            }
            break;
    }

    // Marker step: the byte alone decides what is pending next.
    switch (b) {
        case kRespirationMarker:
            pending_ = Pending::Respiration;
            break;
        case kPulseMarker:
            notify([](StreamListener& l) { l.onPulseMarker(); });
            pending_ = Pending::Pulse;
            break;
        case kStatusMarker:
            pending_ = Pending::Status;
            break;
        default:
            pending_ = Pending::None;
            break;
    }
}

void StreamDecoder::decodeByte(std::uint8_t b) {
    step(b);
}

void StreamDecoder::receive(std::span<const std::uint8_t> bytes) {
    for (std::uint8_t b : bytes) {
        step(b);
    }
}

}  // namespace vitalon
