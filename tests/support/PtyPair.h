#pragma once

// POSIX-only test support: a pseudo-terminal standing in for the module's
// serial line, and a child process running the real executable.

#include <sys/types.h>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "PseudoTerminal.h"

namespace vitalon::testing {

// A pseudo-terminal pair in raw mode. The test holds the master side, the
// program under test opens the slave path like any serial device.
class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& slavePath() const { return pty_.slavePath(); }
    int masterFd() const { return pty_.masterFd(); }

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
    PseudoTerminal pty_;
    int heldSlave_ = -1;
};

// How a child process is started.
struct ChildOptions {
    // Standard error goes to a file that stderrText() reads, instead of the test's own.
    bool captureStderr = false;
    // The user (and group of the same number) the child runs as; needs root.
    std::optional<uid_t> runAs;
    // Set in the child's environment, after QT_QPA_PLATFORM=offscreen (so may override it).
    std::vector<std::pair<std::string, std::string>> env;
    // The test measures the child's resident memory. Under AddressSanitizer
    // freed memory waits in a quarantine of 256 MB before it is reused, which
    // shows as growth that is not the program's; the child gets a quarantine
    // of 1 MB, which still catches a use right after a free.
    bool measuresMemory = false;
};

// The real executable in a child process, offscreen.
class ChildProcess {
public:
    ChildProcess(const std::string& program, const std::vector<std::string>& args,
                 const ChildOptions& options = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    bool running();
    // User plus system CPU time consumed so far, from /proc.
    double cpuSeconds() const;
    // Resident memory in kB (VmRSS), from /proc; -1 once the process is gone.
    long residentKb() const;
    // Everything written to standard error so far (captureStderr only).
    std::string stderrText() const;
    // Polls standard error until `text` appears after byte `from`; false on timeout
    // or when the process ends first.
    bool waitForStderr(const std::string& text, std::chrono::milliseconds timeout,
                       std::size_t from = 0);
    // Sends `signal` and waits up to `timeout` for the exit; returns the exit
    // code, or -1 when the process had to be killed.
    int stop(int signal, std::chrono::milliseconds timeout);
    // Waits up to `timeout` for the process to end by itself.
    int waitExit(std::chrono::milliseconds timeout);

private:
    pid_t pid_ = -1;
    int status_ = 0;
    bool reaped_ = false;
    std::string stderrPath_;
};

}  // namespace vitalon::testing
