#include "PtyPair.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace vitalon::testing {

PtyPair::PtyPair() {
    int slave = -1;
    char name[256] = {};
    if (openpty(&master_, &slave, name, nullptr, nullptr) != 0) {
        throw std::runtime_error("openpty failed");
    }
    termios tio{};
    tcgetattr(slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(slave, TCSANOW, &tio);
    close(slave);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    // A child process must not inherit the module's side: closing it here
    // would then not hang up the line.
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    slavePath_ = name;
}

PtyPair::~PtyPair() {
    closeMaster();
    if (heldSlave_ >= 0) {
        close(heldSlave_);
    }
}

void PtyPair::holdSlave() {
    if (heldSlave_ < 0) {
        heldSlave_ = open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    }
}

std::vector<std::uint8_t> PtyPair::read(std::size_t count, std::chrono::milliseconds timeout) {
    std::vector<std::uint8_t> out;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (out.size() < count) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(std::max<long>(left.count(), 0))) <= 0) {
            if (left.count() <= 0) {
                break;
            }
            continue;
        }
        std::uint8_t buf[4096];
        const ssize_t n = ::read(master_, buf, std::min(sizeof buf, count - out.size()));
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
        const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EAGAIN) {
            pollfd p{master_, POLLOUT, 0};
            poll(&p, 1, 100);
        } else {
            throw std::runtime_error("write to the pseudo-terminal failed");
        }
    }
}

void PtyPair::closeMaster() {
    if (master_ >= 0) {
        close(master_);
        master_ = -1;
    }
}

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const ChildOptions& options) {
    // Everything the child needs is prepared here: between fork and exec only
    // async-signal-safe calls are allowed, and the test may have threads.
    std::map<std::string, std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry(*e);
        const auto eq = entry.find('=');
        if (eq != std::string::npos) {
            env[entry.substr(0, eq)] = entry.substr(eq + 1);
        }
    }
    env["QT_QPA_PLATFORM"] = "offscreen";
    for (const auto& [name, value] : options.env) {
        env[name] = value;
    }
    if (options.measuresMemory) {
        std::string& asan = env["ASAN_OPTIONS"];
        asan += (asan.empty() ? "" : ":") + std::string("quarantine_size_mb=1");
    }
    std::vector<std::string> envStrings;
    for (const auto& [name, value] : env) {
        envStrings.push_back(name + "=" + value);
    }
    std::vector<char*> envp;
    for (auto& e : envStrings) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    std::vector<std::string> argStrings{program};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argStrings) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    int errFd = -1;
    if (options.captureStderr) {
        std::string path = "/tmp/vitalon-child-stderr-XXXXXX";
        errFd = mkstemp(path.data());
        if (errFd < 0) {
            throw std::runtime_error("cannot create a file for the child's standard error");
        }
        stderrPath_ = path;
    }
    const bool dropUser = options.runAs.has_value();
    const std::string cannotStart = "cannot start " + program + "\n";
    const uid_t uid = options.runAs.value_or(0);

    pid_ = fork();
    if (pid_ < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid_ == 0) {
        if (errFd >= 0) {
            dup2(errFd, STDERR_FILENO);
            close(errFd);
        }
        if (dropUser && (setgroups(0, nullptr) != 0 || setgid(static_cast<gid_t>(uid)) != 0 ||
                         setuid(uid) != 0)) {
            _exit(126);
        }
        execve(program.c_str(), argv.data(), envp.data());
        // Said where the test reads it: a user without access to the build
        // directory is the usual cause.
        const ssize_t ignored = write(STDERR_FILENO, cannotStart.data(), cannotStart.size());
        (void)ignored;
        _exit(127);
    }
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
