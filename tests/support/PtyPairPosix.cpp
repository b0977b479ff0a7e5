#include "PtyPair.h"

#include "ChildSpawn.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace vitalon::testing {

// The master is close-on-exec: a child process that inherited the module's
// side would keep the line up when the test closes it.
PtyPair::PtyPair() {
    pty_.closeSlave();  // the program under test opens it by path
}

PtyPair::~PtyPair() {
    if (heldSlave_ >= 0) {
        close(heldSlave_);
    }
}

void PtyPair::holdSlave() {
    if (heldSlave_ < 0) {
        heldSlave_ = open(slavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    }
}

std::vector<std::uint8_t> PtyPair::read(std::size_t count, std::chrono::milliseconds timeout) {
    std::vector<std::uint8_t> out;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (out.size() < count) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{pty_.masterFd(), POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(std::max<long>(left.count(), 0))) <= 0) {
            if (left.count() <= 0) {
                break;
            }
            continue;
        }
        std::uint8_t buf[4096];
        const ssize_t n = ::read(pty_.masterFd(), buf, std::min(sizeof buf, count - out.size()));
        if (n > 0) {
            out.insert(out.end(), buf, buf + n);
        } else if (n < 0 && errno != EAGAIN) {
            // EIO: nobody has the slave open right now; wait for the next open.
            if (std::chrono::steady_clock::now() >= deadline) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    return out;
}

void PtyPair::write(const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(pty_.masterFd(), bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EAGAIN) {
            pollfd p{pty_.masterFd(), POLLOUT, 0};
            poll(&p, 1, 100);
        } else {
            throw std::runtime_error("write to the pseudo-terminal failed");
        }
    }
}

void PtyPair::closeMaster() {
    pty_.closeMaster();
}

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const ChildOptions& options) {
    SpawnOptions spawn;
    spawn.env = options.env;
    spawn.runAs = options.runAs;
    if (options.measuresMemory) {
        const char* inherited = std::getenv("ASAN_OPTIONS");
        const std::string asan = inherited != nullptr ? inherited : "";
        spawn.env.emplace_back("ASAN_OPTIONS",
                               asan + (asan.empty() ? "" : ":") + "quarantine_size_mb=1");
    }
    int errFd = -1;
    if (options.captureStderr) {
        std::string path = "/tmp/vitalon-child-stderr-XXXXXX";
        errFd = mkstemp(path.data());
        if (errFd < 0) {
            throw std::runtime_error("cannot create a file for the child's standard error");
        }
        stderrPath_ = path;
        spawn.stderrFd = errFd;
    }
    pid_ = spawnChild(program, args, spawn);
    if (errFd >= 0) {
        close(errFd);
    }
}

ChildProcess::~ChildProcess() {
    if (!reaped_) {
        stop(SIGKILL, std::chrono::milliseconds(2000));
    }
    if (!stderrPath_.empty()) {
        unlink(stderrPath_.c_str());
    }
}

long ChildProcess::residentKb() const {
    std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

std::string ChildProcess::stderrText() const {
    if (stderrPath_.empty()) {
        return {};
    }
    std::ifstream in(stderrPath_, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool ChildProcess::waitForStderr(const std::string& text, std::chrono::milliseconds timeout,
                                 std::size_t from) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        const bool alive = running();
        const std::string all = stderrText();
        if (all.size() > from && all.find(text, from) != std::string::npos) {
            return true;
        }
        if (!alive || std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

bool ChildProcess::running() {
    if (reaped_) {
        return false;
    }
    if (waitpid(pid_, &status_, WNOHANG) == pid_) {
        reaped_ = true;
    }
    return !reaped_;
}

double ChildProcess::cpuSeconds() const {
    std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
    std::string line;
    std::getline(stat, line);
    // Fields after the command name (which may contain spaces) start after ')'.
    std::istringstream rest(line.substr(line.rfind(')') + 2));
    std::string field;
    long utime = 0;
    long stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14) {
            utime = std::stol(field);
        } else if (i == 15) {
            stime = std::stol(field);
        }
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

int ChildProcess::waitExit(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (running()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : 128 + WTERMSIG(status_);
}

int ChildProcess::stop(int signal, std::chrono::milliseconds timeout) {
    if (!running()) {
        return WIFEXITED(status_) ? WEXITSTATUS(status_) : 128 + WTERMSIG(status_);
    }
    kill(pid_, signal);
    const int code = waitExit(timeout);
    if (code == -1) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status_, 0);
        reaped_ = true;
    }
    return code;
}

}  // namespace vitalon::testing
