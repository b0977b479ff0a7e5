#include "LineSettings.h"

#include <charconv>
#include <vector>

#include "SerialPort.h"

namespace vitalon {
namespace {

std::vector<std::string> splitCommas(const std::string& text) {
    std::vector<std::string> parts;
    std::string::size_type start = 0;
    while (true) {
        const auto comma = text.find(',', start);
        parts.push_back(text.substr(start, comma - start));
        if (comma == std::string::npos) {
            return parts;
        }
        start = comma + 1;
    }
}

[[noreturn]] void reject(const std::string& text, const std::string& why) {
    throw PortError(PortErrorKind::BadSettings,
                    "invalid line settings \"" + text + "\": " + why +
                        " (expected baud,parity,data bits,stop bits, e.g. \"9600,n,8,1\")");
}

std::int32_t parseInt(const std::string& field, const std::string& text, const char* name) {
    std::int32_t value = 0;
    const auto* end = field.data() + field.size();
    const auto [ptr, ec] = std::from_chars(field.data(), end, value);
    if (field.empty() || ec != std::errc() || ptr != end) {
        reject(text, std::string(name) + " \"" + field + "\" is not a whole number");
    }
    return value;
}

}  // namespace

LineSettings parseLineSettings(const std::string& text) {
    const auto parts = splitCommas(text);
    if (parts.size() != 4) {
        reject(text, "four comma-separated fields are needed");
    }
    LineSettings s;
    s.baud = parseInt(parts[0], text, "baud rate");
    if (s.baud < 50 || s.baud > 4000000) {
        reject(text, "baud rate " + parts[0] + " is out of range");
    }

    if (parts[1].size() != 1) {
        reject(text, "parity \"" + parts[1] + "\" must be one of n, e, o, m, s");
    }
    switch (parts[1][0]) {
        case 'n':
        case 'N':
            s.parity = Parity::None;
            break;
        case 'e':
        case 'E':
            s.parity = Parity::Even;
            break;
        case 'o':
        case 'O':
            s.parity = Parity::Odd;
            break;
        case 'm':
        case 'M':
            s.parity = Parity::Mark;
            break;
        case 's':
        case 'S':
            s.parity = Parity::Space;
            break;
        default:
            reject(text, "parity \"" + parts[1] + "\" must be one of n, e, o, m, s");
    }

    s.dataBits = parseInt(parts[2], text, "data bits");
    if (s.dataBits < 5 || s.dataBits > 8) {
        reject(text, "data bits must be 5 to 8");
    }

    if (parts[3] == "1") {
        s.stopBits = 1.0;
    } else if (parts[3] == "1.5") {
        s.stopBits = 1.5;
    } else if (parts[3] == "2") {
        s.stopBits = 2.0;
    } else {
        reject(text, "stop bits must be 1, 1.5 or 2");
    }
    return s;
}

}  // namespace vitalon
