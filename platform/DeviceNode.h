#pragma once

#include <string>

namespace vitalon {

// Facts about device nodes and the links to them that the reconnect rules
// need. POSIX only; see DeviceNodePosix.cpp.

// True when `node` (a resolved path) is the terminal side of a pseudo-terminal.
bool isPseudoTerminal(const std::string& node);

// The chain of symbolic links that starts at `path`, as a stamp: each link's
// file system, inode and change time, so a link made again (even with the
// same target) gives another stamp. Empty when `path` is not a link.
std::string linkChainStamp(const std::string& path);

}  // namespace vitalon
