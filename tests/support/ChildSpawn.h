#pragma once

// POSIX only (see ChildSpawnPosix.cpp): the one way the tests and the
// benchmarks start a program in a child process.

#include <sys/types.h>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vitalon::testing {

struct SpawnOptions {
    // Set in the child's environment over the parent's, in order; the first
    // entry is always QT_QPA_PLATFORM=offscreen, so a later one may override it.
    std::vector<std::pair<std::string, std::string>> env;
    // Descriptors that become the child's standard input, output and error;
    // -1 keeps the parent's.
    int stdinFd = -1;
    int stdoutFd = -1;
    int stderrFd = -1;
    // The user (and group of the same number) the child runs as; needs root.
    std::optional<uid_t> runAs;
};

// Starts `program` with `args`. The child inherits no other descriptor of the
// parent. Everything the child needs is prepared before the fork: between
// fork and exec only async-signal-safe calls are made, since the parent may
// have threads. A child that cannot exec writes "cannot start PROGRAM" to its
// standard error and exits with 127 (126 when it cannot change its user).
// Throws std::runtime_error when the fork fails.
pid_t spawnChild(const std::string& program, const std::vector<std::string>& args,
                 const SpawnOptions& options = {});

// What a program that ran to its end printed, and how it ended.
struct FinishedRun {
    int exitCode = -1;  // -1: killed by a signal, or it could not be started
    std::string out;
    std::string err;
};

// Runs `program` with `args` and `env` (as in SpawnOptions) and standard input
// from /dev/null, waits for it to end and returns what it wrote to standard
// output and standard error.
FinishedRun runToEnd(const std::string& program, const std::vector<std::string>& args,
                     const std::vector<std::pair<std::string, std::string>>& env = {});

}  // namespace vitalon::testing
