#pragma once

#include <cstdint>
#include <string>

namespace vitalon {

enum class Parity : std::uint8_t { None, Even, Odd, Mark, Space };

// Line parameters as the settings string gives them: "9600,n,8,1".
struct LineSettings {
    std::int32_t baud = 9600;
    Parity parity = Parity::None;
    std::int32_t dataBits = 8;
    double stopBits = 1.0;  // 1, 1.5 or 2

    bool operator==(const LineSettings&) const = default;
};

// Parses "baud,parity,data,stop"; throws PortError(BadSettings) naming what is wrong.
LineSettings parseLineSettings(const std::string& text);

}  // namespace vitalon
