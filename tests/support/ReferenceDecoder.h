#pragma once

// A plain reference of the receive decoder, written straight from its
// four-state table, for comparison with the real decoder on random streams.

#include <cstdint>
#include <string>
#include <vector>

namespace vitalon::testing {

struct ReferenceDecoder {
    enum State { None, Pulse, Resp, Status };
    State state = None;

    // Appends what the byte does, as "plot N", "pulse N", "resp N", "status N", "reset".
    void step(std::uint8_t b, std::vector<std::string>& calls) {
        const std::string v = std::to_string(b);
        switch (state) {
            case Pulse:
                calls.push_back("pulse " + v);
                break;
            case Resp:
                calls.push_back("resp " + v);
                break;
            case Status:
                calls.push_back("status " + v);
                break;
            case None:
                if (b < 248) {
                    calls.push_back("plot " + v);
                }
                break;
        }
        if (b == 249) {
            state = Resp;
        } else if (b == 250) {
            calls.push_back("reset");
            state = Pulse;
        } else if (b == 251) {
            state = Status;
        } else {
            state = None;
        }
    }
};

}  // namespace vitalon::testing
