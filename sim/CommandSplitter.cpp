#include "CommandSplitter.h"

namespace vitalon::sim {

namespace {

bool isDigit(std::uint8_t byte) {
    return byte >= '0' && byte <= '9';
}

bool takesDigit(std::uint8_t byte) {
    return byte == 'S' || byte == 'A' || byte == 'G' || byte == 'D';
}

CommandKind letterKind(std::uint8_t letter) {
    switch (letter) {
        case 'S':
            return CommandKind::Speed;
        case 'A':
            return CommandKind::Amplification;
        case 'G':
            return CommandKind::Lead;
        default:
            return CommandKind::Curve;
    }
}

// The letter followed by the digit. Built by appending: GCC 12 at -O3 reports a
// false -Wrestrict inside operator+(const char*, std::string&&).
std::string lettered(char letter, int digit) {
    std::string text(1, letter);
    text += std::to_string(digit);
    return text;
}

}  // namespace

std::string Command::text() const {
    switch (kind) {
        case CommandKind::Speed:
            return lettered('S', digit);
        case CommandKind::Amplification:
            return lettered('A', digit);
        case CommandKind::Lead:
            return lettered('G', digit);
        case CommandKind::Curve:
            return lettered('D', digit);
        case CommandKind::Filter50:
            return "5";
        case CommandKind::Filter60:
            return "6";
        case CommandKind::Normal:
            return "N";
        case CommandKind::Simulate:
            return "M";
        case CommandKind::Calibrate:
            return "C";
    }
    return "?";
}

void CommandSplitter::feed(std::span<const std::uint8_t> bytes, std::vector<Command>& out) {
    for (const std::uint8_t byte : bytes) {
        if (pendingLetter_ != 0) {
            const std::uint8_t letter = pendingLetter_;
            pendingLetter_ = 0;
            if (isDigit(byte)) {
                out.push_back({letterKind(letter), byte - '0'});
                continue;
            }
            ++abandonedLetters_;
        }
        startCommand(byte, out);
    }
}

std::vector<Command> CommandSplitter::feed(std::span<const std::uint8_t> bytes) {
    std::vector<Command> out;
    feed(bytes, out);
    return out;
}

void CommandSplitter::startCommand(std::uint8_t byte, std::vector<Command>& out) {
    if (takesDigit(byte)) {
        pendingLetter_ = byte;
        return;
    }
    switch (byte) {
        case '5':
            out.push_back({CommandKind::Filter50});
            break;
        case '6':
            out.push_back({CommandKind::Filter60});
            break;
        case 'N':
            out.push_back({CommandKind::Normal});
            break;
        case 'M':
            out.push_back({CommandKind::Simulate});
            break;
        case 'C':
            out.push_back({CommandKind::Calibrate});
            break;
        default:
            ++unknownBytes_;
            break;
    }
}

}  // namespace vitalon::sim
