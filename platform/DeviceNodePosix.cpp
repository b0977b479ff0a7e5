#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>

#include "DeviceNode.h"

namespace vitalon {
namespace {

// Linux device numbers of pseudo-terminal slaves: the BSD-style ones
// (/dev/ttyp*) and the Unix 98 ones (/dev/pts/*), which span eight numbers.
constexpr unsigned kBsdPtySlaveMajor = 3;
constexpr unsigned kUnix98PtySlaveMajor = 136;
constexpr unsigned kUnix98PtySlaveMajors = 8;

// As many links as the kernel follows in one path before it gives up (ELOOP).
constexpr int kMaxLinks = 40;

}  // namespace

NodeKind nodeKind(const std::string& node) {
    struct stat info {};
    if (stat(node.c_str(), &info) != 0) {
        return NodeKind::Missing;
    }
    if (!S_ISCHR(info.st_mode)) {
        return NodeKind::Other;
    }
    const unsigned major = ::major(info.st_rdev);
    const bool pty =
        major == kBsdPtySlaveMajor ||
        (major >= kUnix98PtySlaveMajor && major < kUnix98PtySlaveMajor + kUnix98PtySlaveMajors);
    return pty ? NodeKind::PseudoTerminal : NodeKind::Other;
}

std::string linkChainStamp(const std::string& path) {
    std::string stamp;
    std::filesystem::path current = path;
    for (int i = 0; i < kMaxLinks; ++i) {
        struct stat info {};
        if (lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
            break;
        }
        stamp += std::to_string(info.st_dev) + ':' + std::to_string(info.st_ino) + ':' +
                 std::to_string(info.st_ctim.tv_sec) + '.' + std::to_string(info.st_ctim.tv_nsec) +
                 ';';
        std::error_code error;
        const std::filesystem::path target = std::filesystem::read_symlink(current, error);
        if (error) {
            break;
        }
        current = target.is_absolute() ? target : current.parent_path() / target;
    }
    return stamp;
}

}  // namespace vitalon
