#pragma once

#include <cstdint>
#include <string>

namespace vitalon {

enum class Parity : std::uint8_t { None, Even, Odd };

// The serial line's parameters. The module talks 9600 baud, no parity, 8 data
// bits, 1 stop bit, which is what a default-constructed value holds.
struct LineSettings {
    std::int32_t baud = 9600;
    Parity parity = Parity::None;
    std::uint8_t dataBits = 8;
    std::uint8_t stopBits = 1;

    bool operator==(const LineSettings&) const = default;
};

// The settings as the status bar shows them: "9600,n,8,1".
std::string describe(const LineSettings& settings);

}  // namespace vitalon
