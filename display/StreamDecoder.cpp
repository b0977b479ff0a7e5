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

StreamDecoder::Delivery::~Delivery() {
    if (--decoder_.delivering_ == 0 && decoder_.removedDuringDelivery_) {
        std::erase(decoder_.listeners_, nullptr);
        decoder_.removedDuringDelivery_ = false;
    }
}

void StreamDecoder::deliverPulseMarker() {
    for (std::size_t i = 0; i < listeners_.size(); ++i) {
        if (StreamListener* listener = listeners_[i]) {
            listener->onPulseMarker();
        }
    }
}

// The per-byte work, inlined into both entry points: in receive(), the loop of
// every received chunk, a call per byte would cost as much as the decoding.
[[gnu::always_inline]] inline void StreamDecoder::step(std::uint8_t b) {
    switch (pending_) {
        case Pending::Status:
            deliver(&StreamListener::onStatus, b);
            break;
        case Pending::Pulse:
            deliver(&StreamListener::onPulse, b);
            break;
        case Pending::Respiration:
            deliver(&StreamListener::onRespiration, b);
            break;
        case Pending::None:
            if (b < kFirstMarker) {
                deliver(&StreamListener::onSample, b);
            } else if (b == kFirstMarker || b > kStatusMarker) {
                deliver(&StreamListener::onInvalidByte, b);
            }
            break;
    }

    // Marker step: the byte alone decides what is pending next.
    switch (b) {
        case kRespirationMarker:
            pending_ = Pending::Respiration;
            break;
        case kPulseMarker:
            deliverPulseMarker();
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
    const Delivery delivery(*this);
    step(b);
}

void StreamDecoder::onChunk(ArrivalTime arrival, std::span<const std::uint8_t> bytes) {
    const Delivery delivery(*this);
    for (std::size_t i = 0; i < listeners_.size(); ++i) {
        if (StreamListener* listener = listeners_[i]) {
            listener->onArrival(arrival);
        }
    }
    for (std::uint8_t b : bytes) {
        step(b);
    }
}

void StreamDecoder::receive(std::span<const std::uint8_t> bytes) {
    const Delivery delivery(*this);
    for (std::uint8_t b : bytes) {
        step(b);
    }
}

}  // namespace vitalon
