#pragma once

// POSIX-only test support: a pseudo-terminal standing in for the module's
// serial line, and a child process running the real executable.

#include <sys/types.h>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace vitalon::testing {

// A pseudo-terminal pair in raw mode. The test holds the master side, the
// program under test opens the slave path like any serial device.
class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& slavePath() const { return slavePath_; }
    int masterFd() const { return master_; }

    // Reads until `count` bytes have come or `timeout` has passed.
    std::vector<std::uint8_t> read(std::size_t count, std::chrono::milliseconds timeout);
    // Writes all bytes to the master side (the module's transmit line).
    void write(const std::vector<std::uint8_t>& bytes);
    // Hangs up: the program sees its device vanish.
    void closeMaster();
    // Keeps a slave descriptor open, so master reads do not fail while the
    // program has the slave closed.
    void holdSlave();

private:
    int master_ = -1;
    int heldSlave_ = -1;
    std::string slavePath_;
};

// The real executable in a child process, offscreen.
class ChildProcess {
public:
    ChildProcess(const std::string& program, const std::vector<std::string>& args);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    bool running();
    // User plus system CPU time consumed so far, from /proc.
    double cpuSeconds() const;
    // Sends `signal` and waits up to `timeout` for the exit; returns the exit
    // code, or -1 when the process had to be killed.
    int stop(int signal, std::chrono::milliseconds timeout);
    // Waits up to `timeout` for the process to end by itself.
    int waitExit(std::chrono::milliseconds timeout);

private:
    pid_t pid_ = -1;
    int status_ = 0;
    bool reaped_ = false;
};

}  // namespace vitalon::testing
