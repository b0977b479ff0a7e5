#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vitalon::sim {

// One command from the host. The letters S, A, G and D carry one digit; the
// other commands are a single character.
enum class CommandKind : std::uint8_t {
    Speed,          // "S" digit
    Amplification,  // "A" digit
    Lead,           // "G" digit
    Curve,          // "D" digit
    Filter50,       // "5"
    Filter60,       // "6"
    Normal,         // "N"
    Simulate,       // "M"
    Calibrate,      // "C"
};

struct Command {
    CommandKind kind = CommandKind::Calibrate;
    int digit = -1;  // 0..9 for the lettered commands, -1 for the others

    // The command as it appears on the line, e.g. "S1" or "5".
    std::string text() const;

    bool operator==(const Command&) const = default;
};

// Splits the host's command bytes, which come without separators and in any
// chunking, back into commands. A letter that takes a digit is held until the
// next byte arrives, possibly in a later call.
//
// Resynchronisation: when such a letter is followed by anything but a digit,
// the letter is abandoned (counted) and the byte that followed is read afresh as
// the start of a new command. So "SN" yields N, and "SS1" yields S1: a
// truncated command never swallows the command after it.
//
// Bytes that can start no command (lower case, line ends, a digit with no
// letter before it other than 5 and 6, ...) are ignored and counted.
class CommandSplitter {
public:
    // Appends the commands completed by these bytes to `out`, in order.
    void feed(std::span<const std::uint8_t> bytes, std::vector<Command>& out);
    std::vector<Command> feed(std::span<const std::uint8_t> bytes);

    std::uint64_t unknownBytes() const { return unknownBytes_; }
    std::uint64_t abandonedLetters() const { return abandonedLetters_; }
    bool awaitingDigit() const { return pendingLetter_ != 0; }

private:
    void startCommand(std::uint8_t byte, std::vector<Command>& out);

    std::uint8_t pendingLetter_ = 0;  // 0: none
    std::uint64_t unknownBytes_ = 0;
    std::uint64_t abandonedLetters_ = 0;
};

}  // namespace vitalon::sim
