#pragma once

#include <cstdint>

#include "ChunkListener.h"

namespace vitalon {

// Receives what the stream decoder recognises, one call per decoded event, in
// the order the bytes arrived, on the event-loop thread. Any number of
// listeners can follow one decoder; each overrides only what it needs.
class StreamListener {
public:
    virtual ~StreamListener() = default;
    // A chunk read from the link at `arrival`; its events follow.
    virtual void onArrival(ArrivalTime arrival) { (void)arrival; }
    virtual void onSample(std::uint8_t sample) { (void)sample; }   // 0..247
    virtual void onPulse(std::uint8_t rate) { (void)rate; }        // beats per minute
    virtual void onRespiration(std::uint8_t rate) { (void)rate; }  // breaths per minute
    virtual void onStatus(std::uint8_t code) { (void)code; }       // 17: a lead is off
    virtual void onPulseMarker() {}  // a pulse marker arrived: the no-data watchdog restarts
    // A byte the module never sends (248, 252..255) where a sample or a marker
    // was due: changed on the line. It carries nothing and is otherwise ignored.
    virtual void onInvalidByte(std::uint8_t byte) { (void)byte; }
};

}  // namespace vitalon
