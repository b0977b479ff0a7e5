#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "ChunkListener.h"
#include "StreamListener.h"

namespace vitalon {

// The module's byte stream, decoded one byte at a time into measurement
// events, which go to every listener in the order the listeners were added.
//
// Four states: nothing pending, or a pulse, respiration or status value
// pending. Every byte goes through two steps:
//
//   value step:  a pending value consumes the byte whatever it is, and the
//                state returns to nothing pending; with nothing pending a
//                byte below the first marker (248) is a waveform sample,
//                248 and 252..255 an invalid byte, 249..251 nothing.
//   marker step: on the same byte, 249 makes a respiration value pending,
//                250 signals a pulse marker and makes a pulse value pending,
//                251 makes a status value pending.
//
//                 | 249            | 250                | 251              | other b
//   none          | -> Resp        | -> Pulse (marker)  | -> Status        | b<248 sample
//   Pulse         | pulse, -> Resp | pulse, -> Pulse    | pulse, -> Status | pulse b, -> none
//   Resp          | resp,  -> Resp | resp,  -> Pulse    | resp,  -> Status | resp b,  -> none
//   Status        | status,-> Resp | status,-> Pulse    | status,-> Status | status b,-> none
//
// There is no framing and no resynchronisation: a lost byte misplaces only
// what follows it until the next marker. The state persists across chunks, so
// a marker and its value may arrive in different chunks.
//
// A received chunk (onChunk) first tells every listener its arrival time,
// then delivers its events, so whatever counts events against the clock
// dates a whole chunk with the moment it was read.
class StreamDecoder : public ChunkListener {
public:
    // A listener must stay alive until it is removed or the decoder is gone.
    void addListener(StreamListener& listener);
    void removeListener(StreamListener& listener);

    void onChunk(ArrivalTime arrival, std::span<const std::uint8_t> bytes) override;
    // Bytes without an arrival time (a file, a test): only their events.
    void receive(std::span<const std::uint8_t> bytes);
    void decodeByte(std::uint8_t b);
    // A new stream begins (the link was opened or reopened): a marker left
    // pending by the old one must not take the new stream's first byte as its
    // value. Listeners are kept.
    void reset() { pending_ = Pending::None; }

    bool expectsPulse() const { return pending_ == Pending::Pulse; }
    bool expectsRespiration() const { return pending_ == Pending::Respiration; }
    bool expectsStatus() const { return pending_ == Pending::Status; }

private:
    enum class Pending : std::uint8_t { None, Pulse, Respiration, Status };

    void step(std::uint8_t b);

    // Calls `event` on every listener. A listener removed while a chunk is
    // being delivered is skipped from then on and dropped from the list once
    // the chunk is done, so the loop never shifts under itself; one added
    // meanwhile receives the events after it.
    void deliver(void (StreamListener::*event)(std::uint8_t), std::uint8_t value) {
        for (std::size_t i = 0; i < listeners_.size(); ++i) {
            if (StreamListener* listener = listeners_[i]) {
                (listener->*event)(value);
            }
        }
    }
    void deliverPulseMarker();

    // Marks a delivery in progress for its lifetime, also when a listener throws.
    class Delivery {
    public:
        explicit Delivery(StreamDecoder& decoder) : decoder_(decoder) { ++decoder_.delivering_; }
        ~Delivery();
        Delivery(const Delivery&) = delete;
        Delivery& operator=(const Delivery&) = delete;

    private:
        StreamDecoder& decoder_;
    };

    Pending pending_ = Pending::None;
    std::vector<StreamListener*> listeners_;
    int delivering_ = 0;
    bool removedDuringDelivery_ = false;
};

}  // namespace vitalon
