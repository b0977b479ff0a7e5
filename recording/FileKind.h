#pragma once

#include <string>
#include <vector>

namespace vitalon::recording {

// Recordings, their journals and replays are read and written as regular
// files only. A device would swallow the data (/dev/null) or hand back
// endless bytes, a FIFO blocks an open until another program takes the other
// end, and a directory cannot hold samples; each is refused before anything
// opens it.
//
// Empty when `path` is a regular file (a link is followed), or does not exist
// and `mayBeMissing`; otherwise why it cannot be used, naming the path, e.g.
// "/dev/null is a character device, not a regular file".
std::string notRegularFileProblem(const std::string& path, bool mayBeMissing);

// True when `path` and `other` name the same file (the same device and inode,
// through any link or spelling of the path). False when either is missing.
bool sameFile(const std::string& path, const std::string& other);

}  // namespace vitalon::recording
