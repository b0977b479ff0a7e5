#pragma once

// POSIX-only test support for replugged devices: a symbolic link that plays
// a /dev/serial link, and a pseudo-terminal that comes back under the device
// path a pulled one had.

#include <unistd.h>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "PtyPair.h"

namespace vitalon::testing {

// A path under the test's control that points at a device, like a
// /dev/serial/by-id link that udev moves when an adapter is replugged.
class DeviceLink {
public:
    explicit DeviceLink(const std::string& name)
        : path_((std::filesystem::temp_directory_path() / (name + "-" + std::to_string(getpid())))
                    .string()) {
        std::filesystem::remove(path_);
    }
    ~DeviceLink() { std::filesystem::remove(path_); }
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;

    void pointTo(const std::string& device) {
        std::filesystem::remove(path_);
        std::filesystem::create_symlink(device, path_);
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// A new pseudo-terminal whose slave is `slavePath` ("/dev/pts/N"), the path
// of one that was pulled: the same device node comes back, as a replugged
// adapter that gets its old name. The kernel hands out the lowest free
// number, and frees a number shortly after its last user closed it, so pairs
// with lower numbers are held until N turns up. Null when N did not come free
// within `timeout` (another program took it).
inline std::unique_ptr<PtyPair> ptyAt(const std::string& slavePath,
                                      std::chrono::milliseconds timeout) {
    const auto number = [](const std::string& path) {
        return std::stoi(path.substr(path.find_last_of('/') + 1));
    };
    const int wanted = number(slavePath);
    const auto until = std::chrono::steady_clock::now() + timeout;
    std::vector<std::unique_ptr<PtyPair>> lower;
    while (std::chrono::steady_clock::now() < until) {
        auto pty = std::make_unique<PtyPair>();
        const int got = number(pty->slavePath());
        if (got == wanted) {
            return pty;
        }
        if (got < wanted) {
            lower.push_back(std::move(pty));
        } else {
            pty.reset();  // N is not free yet
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    return nullptr;
}

}  // namespace vitalon::testing
