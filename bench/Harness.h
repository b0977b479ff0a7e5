#pragma once

// POSIX helpers of the end-to-end benchmark: a child process measured from
// outside, a paced writer on a pseudo-terminal, the program's report.

#include <sys/types.h>
#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "PseudoTerminal.h"

namespace vitalon::bench {

// CLOCK_MONOTONIC in nanoseconds: the clock the program's report uses.
std::int64_t monotonicNs();
void sleepUntil(std::int64_t ns);

// Pins the calling process to one CPU, or a child with Child's `cpu`. The
// benchmark writes from one CPU and runs the programs on another, so every run
// sees the same placement: how much a wake-up costs depends on whether it
// crosses CPUs, and with free placement that alone moved the figures twofold.
// Returns false when the machine has a single CPU or the call fails.
bool pinToCpu(pid_t pid, int cpu);

// A program in a child process, offscreen unless `env` says otherwise, its
// output appended to a log file; pinned to `cpu` unless it is negative.
class Child {
public:
    Child(const std::string& program, const std::vector<std::string>& args,
          const std::string& logPath, int cpu = -1,
          const std::vector<std::pair<std::string, std::string>>& env = {});
    ~Child();  // kills the process if it still runs
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }
    std::int64_t spawnedNs() const { return spawnedNs_; }  // just before the spawn
    bool running();
    // User plus system CPU time of all its threads so far, to the nanosecond.
    double cpuSeconds() const;
    // Resident memory now, MB (VmRSS).
    double residentMB() const;
    // How often its main thread has gone to sleep waiting for something: for
    // an event loop, the number of wake-ups (voluntary_ctxt_switches).
    long sleeps() const;
    // True when one of its file descriptors is open on `path`.
    bool hasOpen(const std::string& path) const;
    // Sends `signal` and waits for the exit; kills it after `timeout`. The exit code, or -1.
    int stop(int signal, std::chrono::milliseconds timeout);

private:
    pid_t pid_ = -1;
    std::int64_t spawnedNs_ = 0;
    clockid_t cpuClock_{};
    bool haveCpuClock_ = false;
    bool reaped_ = false;
    int status_ = 0;
};

// A pseudo-terminal in raw mode: the benchmark writes the module's side, the
// program opens the slave path. A slave descriptor held here lets the
// benchmark see how many bytes the program has not read yet.
class Line {
public:
    Line();
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;

    const std::string& path() const { return pty_.slavePath(); }
    int masterFd() const { return pty_.masterFd(); }
    // Bytes written but not yet read by the program.
    int unread() const;
    // Reads and discards what the program wrote (its start commands); returns the count.
    std::size_t drainOutput();

private:
    PseudoTerminal pty_;
};

enum class Arrival {
    ByteWrites,  // one byte per write, each at its own time (at most 1000 wake-ups a second)
    Chunks10ms,  // what is due, in one write every 10 ms
    Chunks1ms,   // what is due, in one write every millisecond
};

const char* arrivalName(Arrival arrival);

struct FeedResult {
    std::int64_t startNs = 0;
    std::int64_t endNs = 0;
    std::size_t written = 0;
    std::size_t stalls = 0;                  // writes that waited for room on the line
    std::vector<std::int64_t> markedWrites;  // when each marked byte was written
};

// Writes `bytes` to each of `fds` at `rate` bytes a second in the given
// pattern, every write to all of them in turn. `marks` (ascending byte
// indexes) get their write times recorded.
FeedResult feed(const std::vector<int>& fds, const std::vector<std::uint8_t>& bytes, double rate,
                Arrival arrival, const std::vector<std::size_t>& marks);

// What the program reported with --bench-report.
struct Report {
    bool found = false;
    std::int64_t shownNs = -1;
    std::vector<std::pair<std::int64_t, std::string>> label1;
    std::vector<std::pair<std::int64_t, int>> lagUs;
    std::uint64_t decoded = 0;
};
Report readReport(const std::string& path);

// The p-th percentile (0..100) of `values`, nearest rank; 0 for none.
double percentile(std::vector<double> values, double p);

}  // namespace vitalon::bench
