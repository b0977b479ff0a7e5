// POSIX only: see PtyServer.h.
#include "PtyServer.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <limits>
#include <vector>

#include "ModuleModel.h"

namespace vitalon::sim {

namespace {

std::string errnoText(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

// Data the host wrote to the slave side but never read stays queued after the
// host closes it, and the next host to open the device would read it as if it
// were new. Opening the slave briefly and flushing its input queue clears it.
void discardUnreadOutput(const std::string& slavePath) {
    const int fd = ::open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        ::tcflush(fd, TCIFLUSH);
        ::close(fd);
    }
}

// The writing side of the server: what the model sends goes out whole, and a
// stalled host loses whole steps of output rather than parts of them, so a
// marker is never cut off from its value by the server.
class Outbox {
public:
    Outbox(int fd, PtyServeStats& stats) : fd_(fd), stats_(stats) {}

    // False when the host has gone (EIO).
    bool send(const std::vector<std::uint8_t>& chunk) {
        if (!flush()) {
            return false;
        }
        if (!pending_.empty()) {
            stats_.bytesDropped += chunk.size();
            return true;
        }
        pending_.assign(chunk.begin(), chunk.end());
        return flush();
    }

    void discard(const std::vector<std::uint8_t>& chunk) {
        stats_.bytesDropped += pending_.size() + chunk.size();
        pending_.clear();
    }

private:
    bool flush() {
        std::size_t done = 0;
        while (done < pending_.size()) {
            const ssize_t n = ::write(fd_, pending_.data() + done, pending_.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0 && errno == EIO) {
                // The host has gone: what it did not get is lost.
                stats_.bytesWritten += done;
                stats_.bytesDropped += pending_.size() - done;
                pending_.clear();
                return false;
            }
            break;  // EAGAIN: the host is not reading; try again next time
        }
        stats_.bytesWritten += done;
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(done));
        return true;
    }

    int fd_;
    PtyServeStats& stats_;
    std::vector<std::uint8_t> pending_;
};

}  // namespace

PtyServer::~PtyServer() {
    if (master_ >= 0) {
        ::close(master_);
    }
}

bool PtyServer::open(std::string& error) {
    if (master_ >= 0) {
        return true;
    }
    int master = -1;
    int slave = -1;
    std::array<char, 256> name{};
    if (::openpty(&master, &slave, name.data(), nullptr, nullptr) != 0) {
        error = errnoText("openpty");
        return false;
    }
    // Binary data both ways: no echo, no line editing, no CR/LF translation.
    termios raw{};
    if (::tcgetattr(slave, &raw) != 0) {
        error = errnoText("tcgetattr");
        ::close(slave);
        ::close(master);
        return false;
    }
    ::cfmakeraw(&raw);
    ::cfsetspeed(&raw, B9600);
    if (::tcsetattr(slave, TCSANOW, &raw) != 0) {
        error = errnoText("tcsetattr");
        ::close(slave);
        ::close(master);
        return false;
    }
    // The terminal settings stay with the pair after the slave is closed.
    ::close(slave);
    const int flags = ::fcntl(master, F_GETFL);
    if (flags < 0 || ::fcntl(master, F_SETFL, flags | O_NONBLOCK) != 0 ||
        ::fcntl(master, F_SETFD, FD_CLOEXEC) != 0) {
        error = errnoText("fcntl");
        ::close(master);
        return false;
    }
    master_ = master;
    slavePath_ = name.data();
    return true;
}

PtyServeStats PtyServer::serve(ModuleModel& model, const volatile std::sig_atomic_t& stop,
                               const PtyServeOptions& options) {
    using Clock = std::chrono::steady_clock;
    PtyServeStats stats;
    if (master_ < 0) {
        return stats;
    }
    const auto period = std::max(options.period, std::chrono::milliseconds(1));
    const auto endAt = options.duration.count() > 0
                           ? model.elapsed() + options.duration
                           : std::chrono::nanoseconds(std::numeric_limits<std::int64_t>::max());
    Outbox outbox(master_, stats);
    std::vector<std::uint8_t> chunk;

    // Reads what the host sent; tells whether anybody has the slave open.
    auto readCommands = [&] {
        std::array<std::uint8_t, 256> buffer{};
        for (;;) {
            const ssize_t n = ::read(master_, buffer.data(), buffer.size());
            if (n > 0) {
                listening_ = true;
                stats.commandBytes += static_cast<std::uint64_t>(n);
                model.receive(std::span(buffer.data(), static_cast<std::size_t>(n)));
                continue;
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0 && errno == EAGAIN) {
                listening_ = true;
                return;
            }
            // EIO: the last host closed the slave (or none has opened it yet).
            if (listening_) {
                discardUnreadOutput(slavePath_);
            }
            listening_ = false;
            return;
        }
    };

    auto last = Clock::now();
    auto nextStep = last + period;
    readCommands();
    while (stop == 0 && model.elapsed() < endAt) {
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(nextStep - Clock::now());
        // With nobody on the slave the master reports a hang-up at once, so it
        // is left out of the poll (fd -1 is ignored) and only the timeout wakes.
        pollfd fd{listening_ ? master_ : -1, POLLIN, 0};
        ::poll(&fd, 1, static_cast<int>(std::max<std::int64_t>(wait.count(), 0)));
        ++stats.wakeups;
        if (stop != 0) {
            break;
        }
        if (fd.revents != 0) {
            readCommands();
        }
        const auto now = Clock::now();
        if (now < nextStep) {
            continue;
        }
        if (!listening_) {
            readCommands();  // has somebody opened the slave since?
        }
        auto step = std::min<std::chrono::nanoseconds>(now - last, options.maxStep);
        step = std::min(step, endAt - model.elapsed());
        last = now;
        nextStep += period;
        if (nextStep <= now) {
            nextStep = now + period;  // held up: carry on from now, no catch-up burst
        }
        chunk.clear();
        model.advance(step, chunk);
        if (!listening_) {
            outbox.discard(chunk);
        } else if (!outbox.send(chunk)) {
            discardUnreadOutput(slavePath_);
            listening_ = false;
        }
    }
    return stats;
}

bool DeviceLink::create(const std::string& linkPath, const std::string& target,
                        std::string& error) {
    remove();
    struct stat existing {};
    if (::lstat(linkPath.c_str(), &existing) == 0) {
        if (!S_ISLNK(existing.st_mode)) {
            error = linkPath + " exists and is not a symbolic link; leaving it alone";
            return false;
        }
        ::unlink(linkPath.c_str());
    }
    if (::symlink(target.c_str(), linkPath.c_str()) != 0) {
        error = errnoText(("symlink " + linkPath).c_str());
        return false;
    }
    linkPath_ = linkPath;
    target_ = target;
    return true;
}

void DeviceLink::remove() {
    if (linkPath_.empty()) {
        return;
    }
    std::array<char, 4096> buffer{};
    const ssize_t n = ::readlink(linkPath_.c_str(), buffer.data(), buffer.size() - 1);
    if (n >= 0 && std::string(buffer.data(), static_cast<std::size_t>(n)) == target_) {
        ::unlink(linkPath_.c_str());
    }
    linkPath_.clear();
    target_.clear();
}

}  // namespace vitalon::sim
