#include "Harness.h"

#include "ChildSpawn.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace vitalon::bench {

std::int64_t monotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

void sleepUntil(std::int64_t ns) {
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
    ts.tv_nsec = static_cast<long>(ns % 1'000'000'000);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

bool pinToCpu(pid_t pid, int cpu) {
    if (cpu < 0 || cpu >= static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN))) {
        return false;
    }
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(static_cast<std::size_t>(cpu), &set);
    return sched_setaffinity(pid, sizeof set, &set) == 0;
}

Child::Child(const std::string& program, const std::vector<std::string>& args,
             const std::string& logPath, int cpu,
             const std::vector<std::pair<std::string, std::string>>& env) {
    const int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (devNull < 0 || log < 0) {
        if (devNull >= 0) {
            close(devNull);
        }
        throw std::runtime_error("cannot open the log " + logPath + ": " + std::strerror(errno));
    }
    testing::SpawnOptions spawn;
    spawn.env = env;
    spawn.stdinFd = devNull;
    spawn.stdoutFd = log;
    spawn.stderrFd = log;
    spawnedNs_ = monotonicNs();
    try {
        pid_ = testing::spawnChild(program, args, spawn);
    } catch (...) {
        close(devNull);
        close(log);
        throw;
    }
    close(devNull);
    close(log);
    haveCpuClock_ = clock_getcpuclockid(pid_, &cpuClock_) == 0;
    // Set at once, while the program is still loading, so all its threads inherit it.
    pinToCpu(pid_, cpu);
}

Child::~Child() {
    if (!reaped_) {
        stop(SIGKILL, std::chrono::milliseconds(2000));
    }
}

bool Child::running() {
    if (!reaped_ && waitpid(pid_, &status_, WNOHANG) == pid_) {
        reaped_ = true;
    }
    return !reaped_;
}

double Child::cpuSeconds() const {
    timespec ts{};
    if (haveCpuClock_ && clock_gettime(cpuClock_, &ts) == 0) {
        return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
    }
    return 0.0;
}

namespace {

// A numeric field of /proc/<pid>/status, or -1.
double statusField(pid_t pid, const std::string& name) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(name + ":", 0) == 0) {
            return std::stod(line.substr(name.size() + 1));
        }
    }
    return -1.0;
}

}  // namespace

double Child::residentMB() const {
    return std::max(0.0, statusField(pid_, "VmRSS")) / 1024.0;  // the figure is in kB
}

long Child::sleeps() const {
    return static_cast<long>(statusField(pid_, "voluntary_ctxt_switches"));
}

bool Child::hasOpen(const std::string& path) const {
    std::error_code ec;
    const std::filesystem::path fds = "/proc/" + std::to_string(pid_) + "/fd";
    for (const auto& entry : std::filesystem::directory_iterator(fds, ec)) {
        std::error_code linkError;
        if (std::filesystem::read_symlink(entry.path(), linkError).string() == path) {
            return true;
        }
    }
    return false;
}

int Child::stop(int signal, std::chrono::milliseconds timeout) {
    if (running()) {
        kill(pid_, signal);
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (running() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        if (running()) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status_, 0);
            reaped_ = true;
            return -1;
        }
    }
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : 128 + WTERMSIG(status_);
}

// Both sides are close-on-exec: the programs under test inherit neither. The
// slave descriptor stays open here, non-blocking like the master.
Line::Line() {
    fcntl(pty_.slaveFd(), F_SETFL, fcntl(pty_.slaveFd(), F_GETFL) | O_NONBLOCK);
}

int Line::unread() const {
    int n = 0;
    return ioctl(pty_.slaveFd(), FIONREAD, &n) == 0 ? n : 0;
}

std::size_t Line::drainOutput() {
    std::size_t total = 0;
    std::uint8_t buf[256];
    ssize_t n = 0;
    while ((n = read(pty_.masterFd(), buf, sizeof buf)) > 0) {
        total += static_cast<std::size_t>(n);
    }
    return total;
}

const char* arrivalName(Arrival arrival) {
    switch (arrival) {
        case Arrival::ByteWrites:
            return "1 B/write";
        case Arrival::Chunks1ms:
            return "1 ms chunks";
        case Arrival::Chunks10ms:
            break;
    }
    return "10 ms chunks";
}

namespace {

// Writes all of [data, data + n), waiting for room on the line when it is full.
void writeAll(int fd, const std::uint8_t* data, std::size_t n, std::size_t& stalls) {
    while (n > 0) {
        const ssize_t done = write(fd, data, n);
        if (done > 0) {
            data += done;
            n -= static_cast<std::size_t>(done);
            continue;
        }
        if (done < 0 && errno != EAGAIN && errno != EINTR) {
            throw std::runtime_error(std::string("write to the line failed: ") +
                                     std::strerror(errno));
        }
        ++stalls;
        pollfd p{fd, POLLOUT, 0};
        poll(&p, 1, 100);
    }
}

}  // namespace

FeedResult feed(const std::vector<int>& fds, const std::vector<std::uint8_t>& bytes, double rate,
                Arrival arrival, const std::vector<std::size_t>& marks) {
    constexpr std::int64_t kMs = 1'000'000;
    FeedResult result;
    result.startNs = monotonicNs();
    std::size_t nextMark = 0;
    std::size_t sent = 0;
    const auto dueBy = [&](std::int64_t ns) {
        const double due = static_cast<double>(ns - result.startNs) * rate / 1e9;
        return std::min(bytes.size(), static_cast<std::size_t>(due) + 1);
    };
    while (sent < bytes.size()) {
        const std::size_t due = dueBy(monotonicNs());
        if (arrival == Arrival::ByteWrites) {
            for (; sent < due; ++sent) {
                for (int fd : fds) {
                    writeAll(fd, &bytes[sent], 1, result.stalls);
                }
                if (nextMark < marks.size() && marks[nextMark] == sent) {
                    result.markedWrites.push_back(monotonicNs());
                    ++nextMark;
                }
            }
        } else if (due > sent) {
            for (int fd : fds) {
                writeAll(fd, &bytes[sent], due - sent, result.stalls);
            }
            const std::int64_t now = monotonicNs();
            for (; nextMark < marks.size() && marks[nextMark] < due; ++nextMark) {
                result.markedWrites.push_back(now);
            }
            sent = due;
        }
        const std::int64_t now = monotonicNs();
        // The next wake-up: the next byte's time, but not sooner than 1 ms
        // from the last; or the next chunk's step.
        std::int64_t wake = 0;
        if (arrival == Arrival::ByteWrites) {
            const auto nextByte =
                result.startNs +
                static_cast<std::int64_t>(std::ceil(static_cast<double>(sent) * 1e9 / rate));
            wake = std::max(nextByte, now + kMs);
        } else {
            const std::int64_t step = arrival == Arrival::Chunks1ms ? kMs : 10 * kMs;
            wake = now + step - (now - result.startNs) % step;
        }
        if (sent < bytes.size()) {
            sleepUntil(wake);
        }
    }
    result.endNs = monotonicNs();
    result.written = sent;
    return result;
}

Report readReport(const std::string& path) {
    Report report;
    std::ifstream in(path);
    if (!in) {
        return report;
    }
    report.found = true;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string kind;
        fields >> kind;
        if (kind == "shown") {
            fields >> report.shownNs;
        } else if (kind == "label1") {
            std::int64_t ns = 0;
            fields >> ns;
            std::string text;
            std::getline(fields >> std::ws, text);
            report.label1.emplace_back(ns, text);
        } else if (kind == "lag") {
            std::int64_t ns = 0;
            int us = 0;
            fields >> ns >> us;
            report.lagUs.emplace_back(ns, us);
        } else if (kind == "decoded") {
            fields >> report.decoded;
        }
    }
    return report;
}

double percentile(std::vector<double> values, double p) {
    if (values.empty()) {
        return 0.0;
    }
    std::sort(values.begin(), values.end());
    const auto rank =
        static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(values.size())));
    return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}

}  // namespace vitalon::bench
