#include "CommandMeaning.h"

#include <array>
#include <utility>

namespace vitalon {

std::string commandMeaning(std::string_view command) {
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 16> kMeanings = {{
        {"S0", "300/sec"},
        {"S1", "100/sec"},
        {"S2", "50/sec"},
        {"A0", "Amp 0"},
        {"A1", "Amp 1"},
        {"A2", "Amp 2"},
        {"5", "50 Hz filter"},
        {"6", "60 Hz filter"},
        {"N", "Normal mode"},
        {"M", "Simulation mode"},
        {"G0", "Lead III"},
        {"G1", "Lead II"},
        {"G2", "Lead I"},
        {"D0", "ECG curve"},
        {"D1", "Respiration curve"},
        {"C", "Calibration pulse"},
    }};
    for (const auto& [bytes, meaning] : kMeanings) {
        if (bytes == command) {
            std::string text(command);
            text += ": ";
            text += meaning;
            return text;
        }
    }
    std::string shown;
    for (char c : command.substr(0, 8)) {
        shown += (c >= 0x20 && c < 0x7f) ? c : '?';
    }
    shown += ": unknown command";
    return shown;
}

}  // namespace vitalon
