#include "FileKind.h"

#include <filesystem>

namespace vitalon::recording {

namespace {

const char* kindName(std::filesystem::file_type type) {
    using std::filesystem::file_type;
    switch (type) {
        case file_type::directory:
            return "a directory";
        case file_type::character:
            return "a character device";
        case file_type::block:
            return "a block device";
        case file_type::fifo:
            return "a FIFO (named pipe)";
        case file_type::socket:
            return "a socket";
        default:
            return "not a regular file";
    }
}

}  // namespace

std::string notRegularFileProblem(const std::string& path, bool mayBeMissing) {
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (status.type() == std::filesystem::file_type::regular) {
        return {};
    }
    if (status.type() == std::filesystem::file_type::not_found) {
        return mayBeMissing ? std::string() : path + " does not exist";
    }
    if (ec) {
        return path + " cannot be examined (" + ec.message() + ")";
    }
    const std::string kind = kindName(status.type());
    return path + " is " + kind + (kind.starts_with("not ") ? "" : ", not a regular file");
}

bool sameFile(const std::string& path, const std::string& other) {
    std::error_code ec;
    return std::filesystem::equivalent(path, other, ec) && !ec;
}

}  // namespace vitalon::recording
