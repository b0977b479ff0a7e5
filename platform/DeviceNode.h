#pragma once

#include <string>

namespace vitalon {

// Facts about device nodes and the links to them that the reconnect rules
// need. POSIX only; see DeviceNodePosix.cpp.

// What is at `node` (a resolved path) now. Asked in one call, so a node that
// vanishes meanwhile is missing rather than taken for a device of another kind.
enum class NodeKind {
    Missing,
    PseudoTerminal,  // the terminal side of a pseudo-terminal
    Other,
};
NodeKind nodeKind(const std::string& node);

// The chain of symbolic links that starts at `path`, as a stamp: each link's
// file system, inode and change time, so a link made again (even with the
// same target) gives another stamp. Empty when `path` is not a link.
std::string linkChainStamp(const std::string& path);

}  // namespace vitalon
