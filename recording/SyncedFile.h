#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace vitalon::recording {

// A file descriptor kept beside a file that another writer (EDFlib's stdio
// stream) fills: it tells the precise reason an open fails, how many bytes
// reached the file, and pushes them from the page cache to the disk. Every
// method returns an empty string on success, otherwise the reason.
class SyncedFile {
public:
    SyncedFile() = default;
    SyncedFile(const SyncedFile&) = delete;
    SyncedFile& operator=(const SyncedFile&) = delete;
    ~SyncedFile();

    // Opens (creating, not truncating) for reading and writing; with `append`,
    // every write goes to the end.
    std::string open(const std::string& path, bool append = false);
    std::string sync();
    std::string append(std::string_view bytes);
    std::optional<std::uint64_t> size() const;
    // Why the file holds fewer than `expectedBytes` although they were written
    // (the other writer saw the error, this descriptor did not), in the
    // system's own words: "File too large" beyond the process's file-size
    // limit, "No space left on device" on a full file system.
    std::string shortfallReason(std::uint64_t expectedBytes) const;
    void close();
    bool isOpen() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// The calendar time of `time` in the local time zone.
std::tm localCalendarTime(std::time_t time);

// The text of an errno value, e.g. "No space left on device".
std::string errorText(int error);

// The largest file this process may write (RLIMIT_FSIZE) in bytes; nothing
// when unlimited.
std::optional<std::uint64_t> fileSizeLimit();

}  // namespace vitalon::recording
