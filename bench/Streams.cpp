#include "Streams.h"

#include <random>

#include "ModuleModel.h"

namespace vitalon::bench {

std::vector<std::uint8_t> moduleStream(double seconds) {
    sim::ModuleModel module;
    module.receive(std::string_view("S0"));  // 300 samples a second
    std::vector<std::uint8_t> out = module.advance(seconds);
    // Drop a trailing marker and its missing value: end on a sample.
    while (!out.empty()) {
        const std::uint8_t last = out.back();
        const bool announced =
            out.size() >= 2 && out[out.size() - 2] >= 249 && out[out.size() - 2] <= 251;
        if (last < 248 && !announced) {
            break;
        }
        out.pop_back();
    }
    return out;
}

std::vector<std::uint8_t> repeated(const std::vector<std::uint8_t>& pattern, std::size_t count) {
    std::vector<std::uint8_t> out;
    out.reserve(count);
    while (!pattern.empty() && out.size() < count) {
        const std::size_t take = std::min(pattern.size(), count - out.size());
        out.insert(out.end(), pattern.begin(), pattern.begin() + static_cast<std::ptrdiff_t>(take));
    }
    return out;
}

std::vector<std::uint8_t> withoutPulseReports(const std::vector<std::uint8_t>& stream) {
    std::vector<std::uint8_t> out;
    out.reserve(stream.size());
    for (std::size_t i = 0; i < stream.size(); ++i) {
        if (stream[i] == 250) {
            ++i;  // the marker and its value
            continue;
        }
        out.push_back(stream[i]);
    }
    return out;
}

std::vector<std::uint8_t> allMarkers(std::size_t count) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> marker(249, 251);
    std::vector<std::uint8_t> out(count);
    for (auto& b : out) {
        b = static_cast<std::uint8_t>(marker(random));
    }
    return out;
}

std::vector<std::int16_t> samplesOf(const std::vector<std::uint8_t>& stream) {
    std::vector<std::int16_t> out;
    bool pending = false;
    for (std::uint8_t b : stream) {
        if (!pending && b < 248) {
            out.push_back(b);
        }
        pending = b >= 249 && b <= 251;
    }
    return out;
}

}  // namespace vitalon::bench
