#include "StreamDecoder.h"

#include "SerialPort.h"

namespace vitalon {

// The per-byte work, inlined into both entry points: in decode(), the loop of
// every receive event, a call per byte would cost as much as the decoding.
[[gnu::always_inline]] inline void StreamDecoder::step(std::uint8_t b, StreamSink& sink) {
    if (ExpectStatus) {
        sink.ShowStatus(b);
        ExpectStatus = false;
    } else if (ExpectPulse) {
        sink.ShowPulse(b);
        ExpectPulse = false;
    } else if (ExpectResp) {
        sink.ShowResp(b);
        ExpectResp = false;
    } else if (b < 248) {
        sink.PlotSample(static_cast<std::int16_t>(b));
    }

    // Marker step. The value step has cleared the one flag that was set, so
    // the byte alone decides what is pending next; assigning all three flags
    // from it costs no branch a marker-heavy stream could mispredict.
    ExpectResp = b == 249;
    ExpectStatus = b == 251;
    if (b == 250) {
        sink.PulseMarker();
        ExpectPulse = true;
    } else {
        ExpectPulse = false;
    }
}

void StreamDecoder::DecodeByte(std::uint8_t b, StreamSink& sink) {
    step(b, sink);
}

void StreamDecoder::decode(std::span<const std::uint8_t> bytes, StreamSink& sink) {
    for (std::uint8_t b : bytes) {
        step(b, sink);
    }
}

std::size_t receiveFromPort(SerialPort& port, StreamDecoder& decoder, StreamSink& sink) {
    if (port.CommEvent() != comm_event::Receive) {
        return 0;
    }
    std::size_t decoded = 0;
    while (port.InBufferCount() > 0) {
        const std::vector<std::uint8_t> bytes = port.Input();
        if (bytes.empty()) {
            break;  // a count without bytes must not turn into a busy loop
        }
        decoder.decode(bytes, sink);
        decoded += bytes.size();
    }
    return decoded;
}

}  // namespace vitalon
