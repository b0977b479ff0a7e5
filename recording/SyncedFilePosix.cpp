#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "SyncedFile.h"

namespace vitalon::recording {

std::string errorText(int error) {
    return std::strerror(error);
}

std::tm localCalendarTime(std::time_t time) {
    std::tm calendar{};
    localtime_r(&time, &calendar);
    return calendar;
}

SyncedFile::~SyncedFile() {
    close();
}

std::string SyncedFile::open(const std::string& path, bool append) {
    close();
    int flags = O_RDWR | O_CREAT | O_CLOEXEC | (append ? O_APPEND : 0);
    fd_ = ::open(path.c_str(), flags, 0644);
    return fd_ < 0 ? errorText(errno) : std::string();
}

std::string SyncedFile::sync() {
    if (fd_ < 0) {
        return "the file is not open";
    }
    return ::fdatasync(fd_) == 0 ? std::string() : errorText(errno);
}

std::string SyncedFile::append(std::string_view bytes) {
    if (fd_ < 0) {
        return "the file is not open";
    }
    while (!bytes.empty()) {
        ssize_t written = ::write(fd_, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errorText(errno);
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return {};
}

std::optional<std::uint64_t> SyncedFile::size() const {
    struct stat info {};
    if (fd_ < 0 || ::fstat(fd_, &info) != 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(info.st_size);
}

void SyncedFile::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

std::string SyncedFile::shortfallReason(std::uint64_t expectedBytes) const {
    rlimit limit{};
    if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        expectedBytes > limit.rlim_cur) {
        return errorText(EFBIG) + " (the file-size limit is " + std::to_string(limit.rlim_cur) +
               " bytes)";
    }
    struct statvfs space {};
    if (fd_ >= 0 && ::fstatvfs(fd_, &space) == 0 && space.f_bavail == 0) {
        return errorText(ENOSPC);
    }
    return "the disk took fewer bytes than were written";
}

std::optional<std::uint64_t> fileSizeLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(limit.rlim_cur);
}

}  // namespace vitalon::recording
