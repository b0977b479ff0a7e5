#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace vitalon {

class SerialPort;

// Where the decoder hands what it recognises. Each call is made synchronously,
// at most once per byte, in the order the bytes arrived.
class StreamSink {
public:
    virtual ~StreamSink() = default;
    virtual void PlotSample(std::int16_t sample) = 0;  // 0..247
    virtual void ShowPulse(std::uint8_t rate) = 0;
    virtual void ShowResp(std::uint8_t rate) = 0;
    virtual void ShowStatus(std::uint8_t code) = 0;
    virtual void PulseMarker() = 0;  // a byte 250 was read: the no-data watchdog restarts
};

// The module's byte stream, decoded one byte at a time.
//
// Four states: nothing pending, or one of ExpectStatus / ExpectPulse /
// ExpectResp set (never two). Every byte goes through two steps:
//
//   value step:  a pending flag (tested Status, Pulse, Resp) consumes the byte
//                as that value whatever it is, and is cleared; with nothing
//                pending a byte < 248 is a waveform sample, 248..255 nothing.
//   marker step: on the same byte, 249 sets ExpectResp, 250 restarts the
//                watchdog and sets ExpectPulse, 251 sets ExpectStatus.
//
//                 | 249            | 250                | 251              | other b
//   none          | -> Resp        | -> Pulse (wd reset)| -> Status        | b<248 drawn
//   Pulse         | pulse, -> Resp | pulse, -> Pulse    | pulse, -> Status | pulse b, -> none
//   Resp          | resp,  -> Resp | resp,  -> Pulse    | resp,  -> Status | resp b,  -> none
//   Status        | status,-> Resp | status,-> Pulse    | status,-> Status | status b,-> none
//
// There is no framing and no resynchronisation: a lost byte misplaces only
// what follows it until the next marker. The state persists across reads, so a
// marker and its value may arrive in different reads.
class StreamDecoder {
public:
    void DecodeByte(std::uint8_t b, StreamSink& sink);
    void decode(std::span<const std::uint8_t> bytes, StreamSink& sink);

    bool ExpectPulse = false;
    bool ExpectResp = false;
    bool ExpectStatus = false;

private:
    void step(std::uint8_t b, StreamSink& sink);
};

// The port's receive handler: ignores every event but received data, then
// drains the receive buffer with the InBufferCount / Input loop and decodes
// every byte in order. Returns how many bytes it decoded. Port failures
// propagate to the caller.
std::size_t receiveFromPort(SerialPort& port, StreamDecoder& decoder, StreamSink& sink);

}  // namespace vitalon
