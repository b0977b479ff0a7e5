#include "LineSettings.h"

namespace vitalon {

std::string describe(const LineSettings& settings) {
    const char parity = settings.parity == Parity::Even  ? 'e'
                        : settings.parity == Parity::Odd ? 'o'
                                                         : 'n';
    return std::to_string(settings.baud) + ',' + parity + ',' + std::to_string(settings.dataBits) +
           ',' + std::to_string(settings.stopBits);
}

}  // namespace vitalon
