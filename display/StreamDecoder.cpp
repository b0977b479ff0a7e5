#include "StreamDecoder.h"

#include "SerialPort.h"

namespace vitalon {

void StreamDecoder::DecodeByte(std::uint8_t b, StreamSink& sink) {
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

    switch (b) {
        case 250:
            sink.PulseMarker();
            ExpectPulse = true;
            break;
        case 249:
            ExpectResp = true;
            break;
        case 251:
            ExpectStatus = true;
            break;
        default:
            break;
    }
}

void StreamDecoder::decode(std::span<const std::uint8_t> bytes, StreamSink& sink) {
    for (std::uint8_t b : bytes) {
        DecodeByte(b, sink);
    }
}

void receiveFromPort(SerialPort& port, StreamDecoder& decoder, StreamSink& sink) {
    if (port.CommEvent() != comm_event::Receive) {
        return;
    }
    while (port.InBufferCount() > 0) {
        const std::vector<std::uint8_t> bytes = port.Input();
        if (bytes.empty()) {
            break;  // a count without bytes must not turn into a busy loop
        }
        decoder.decode(bytes, sink);
    }
}

}  // namespace vitalon
