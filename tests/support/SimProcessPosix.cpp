#include "SimProcess.h"

#include "ChildSpawn.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <stdexcept>
#include <thread>

namespace vitalon::testing {

SimProcess::SimProcess(const std::vector<std::string>& args) {
    int out[2];
    int err[2];
    if (pipe(out) != 0 || pipe(err) != 0) {
        throw std::runtime_error("pipe failed");
    }
    SpawnOptions spawn;
    spawn.stdoutFd = out[1];
    spawn.stderrFd = err[1];
    pid_ = spawnChild(VITALON_SIM_EXE, args, spawn);
    close(out[1]);
    close(err[1]);
    out_ = out[0];
    err_ = err[0];
    fcntl(err_, F_SETFL, fcntl(err_, F_GETFL) | O_NONBLOCK);

    // The first line on standard output is the device path.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (path_.empty() || path_.back() != '\n') {
        pollfd p{out_, POLLIN, 0};
        if (std::chrono::steady_clock::now() > deadline || poll(&p, 1, 100) < 0) {
            throw std::runtime_error("vitalon-sim printed no device path");
        }
        char c;
        if ((p.revents & (POLLIN | POLLHUP)) && read(out_, &c, 1) == 1) {
            path_ += c;
        } else if (p.revents & POLLHUP) {
            throw std::runtime_error("vitalon-sim ended before printing its device path");
        }
    }
    path_.pop_back();
}

SimProcess::~SimProcess() {
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    close(out_);
    close(err_);
}

void SimProcess::drain() {
    char buf[1024];
    ssize_t n;
    while ((n = read(err_, buf, sizeof buf)) > 0) {
        errors_.append(buf, static_cast<std::size_t>(n));
    }
}

const std::string& SimProcess::errorOutput() {
    drain();
    return errors_;
}

bool SimProcess::waitForError(const std::string& text, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (errorOutput().find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        pollfd p{err_, POLLIN, 0};
        poll(&p, 1, 20);
    }
    return true;
}

}  // namespace vitalon::testing
