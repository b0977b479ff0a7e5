#pragma once

// POSIX only (see PseudoTerminalPosix.cpp): the one place that sets up a
// pseudo-terminal, for the module server, the tests and the benchmarks.

#include <string>

namespace vitalon {

// A pseudo-terminal pair in raw mode (no echo, no line editing, no CR/LF
// translation) at 9600 baud. Both descriptors are close-on-exec, so a child
// process inherits neither; the master is non-blocking. Closes what it holds.
class PseudoTerminal {
public:
    // Opens the pair; throws std::runtime_error with the failing call and reason.
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(PseudoTerminal&& other) noexcept;
    PseudoTerminal& operator=(PseudoTerminal&&) = delete;
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    int masterFd() const { return master_; }
    int slaveFd() const { return slave_; }  // -1 once closed
    const std::string& slavePath() const { return slavePath_; }

    // Closes the slave descriptor: the program under test opens it by path, and
    // while nobody has it open the master reads EIO and reports a hang-up.
    void closeSlave();
    // Closes the master: whoever has the slave open sees the line hang up.
    void closeMaster();

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};

}  // namespace vitalon
