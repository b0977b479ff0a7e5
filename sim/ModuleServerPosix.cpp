// POSIX only: see ModuleServer.h.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <limits>

#include "ModuleModel.h"
#include "ModuleServer.h"

namespace vitalon::sim {
namespace {

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

}  // namespace

ModuleServer::ModuleServer() {
    pty_.closeSlave();  // the host opens it by path, like any serial device
}

void ModelStream::receive(std::span<const std::uint8_t> bytes) {
    model_.receive(bytes);
}

void ModelStream::advance(std::chrono::nanoseconds step, std::vector<std::uint8_t>& out) {
    model_.advance(step, out);
}

std::chrono::nanoseconds ModelStream::elapsed() const {
    return model_.elapsed();
}

void ModuleServer::readCommands(ModuleModel& model) {
    ModelStream stream(model);
    readCommands(stream);
}

void ModuleServer::advance(ModuleModel& model, std::chrono::nanoseconds step) {
    ModelStream stream(model);
    advance(stream, step);
}

const ServeStats& ModuleServer::serve(ModuleModel& model, const volatile std::sig_atomic_t& stop,
                                      const ServeOptions& options) {
    ModelStream stream(model);
    return serve(stream, stop, options);
}

void ModuleServer::readCommands(ServedStream& stream) {
    std::array<std::uint8_t, 256> buffer{};
    for (;;) {
        const ssize_t n = ::read(pty_.masterFd(), buffer.data(), buffer.size());
        if (n > 0) {
            listening_ = true;
            stats_.commandBytes += static_cast<std::uint64_t>(n);
            stream.receive(std::span(buffer.data(), static_cast<std::size_t>(n)));
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
            hostLeft();
        }
        return;
    }
}

void ModuleServer::advance(ServedStream& stream, std::chrono::nanoseconds step) {
    if (stream.waitsForHost() && !listening_) {
        return;
    }
    chunk_.clear();
    stream.advance(step, chunk_);
    send(chunk_);
}

void ModuleServer::send(std::span<const std::uint8_t> chunk) {
    if (!listening_) {
        drop(chunk.size());
        return;
    }
    if (!flushPending()) {
        hostLeft();
        drop(chunk.size());
        return;
    }
    if (!pending_.empty()) {
        drop(chunk.size());  // the line is still full: this chunk goes whole
        return;
    }
    pending_.assign(chunk.begin(), chunk.end());
    if (!flushPending()) {
        hostLeft();
    }
}

bool ModuleServer::flushPending() {
    std::size_t done = 0;
    bool hostGone = false;
    while (done < pending_.size()) {
        const ssize_t n = ::write(pty_.masterFd(), pending_.data() + done, pending_.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        hostGone = n < 0 && errno == EIO;
        break;  // EAGAIN: the host is not reading; the rest waits for the next chunk
    }
    stats_.bytesWritten += done;
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(done));
    return !hostGone;
}

void ModuleServer::drop(std::size_t bytes) {
    if (bytes > 0) {
        stats_.bytesDropped += bytes;
        ++stats_.chunksDropped;
    }
}

void ModuleServer::hostLeft() {
    // What the host did not get is lost; so is what it left unread.
    stats_.bytesDropped += pending_.size();
    pending_.clear();
    discardUnreadOutput(pty_.slavePath());
    listening_ = false;
}

const ServeStats& ModuleServer::serve(ServedStream& stream, const volatile std::sig_atomic_t& stop,
                                      const ServeOptions& options) {
    using Clock = std::chrono::steady_clock;
    const auto period = std::max(options.period, std::chrono::milliseconds(1));
    const auto endAt = options.duration.count() > 0
                           ? stream.elapsed() + options.duration
                           : std::chrono::nanoseconds(std::numeric_limits<std::int64_t>::max());
    auto last = Clock::now();
    auto nextStep = last + period;
    readCommands(stream);
    while (stop == 0 && stream.elapsed() < endAt) {
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(nextStep - Clock::now());
        // With nobody on the slave the master reports a hang-up at once, so it
        // is left out of the poll (fd -1 is ignored) and only the timeout wakes.
        pollfd fd{listening_ ? pty_.masterFd() : -1, POLLIN, 0};
        ::poll(&fd, 1, static_cast<int>(std::max<std::int64_t>(wait.count(), 0)));
        ++stats_.wakeups;
        if (stop != 0) {
            break;
        }
        if (fd.revents != 0) {
            readCommands(stream);
        }
        const auto now = Clock::now();
        if (now < nextStep) {
            continue;
        }
        if (!listening_) {
            readCommands(stream);  // has somebody opened the slave since?
        }
        auto step = std::min<std::chrono::nanoseconds>(now - last, options.maxStep);
        step = std::min(step, endAt - stream.elapsed());
        last = now;
        nextStep += period;
        if (nextStep <= now) {
            nextStep = now + period;  // held up: carry on from now, no catch-up burst
        }
        advance(stream, step);
    }
    return stats_;
}

bool DeviceSymlink::create(const std::string& linkPath, const std::string& target,
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
        error = "symlink " + linkPath + ": " + std::strerror(errno);
        return false;
    }
    linkPath_ = linkPath;
    target_ = target;
    return true;
}

void DeviceSymlink::remove() {
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
