#pragma once

#include <string_view>

namespace vitalon {

// The git commit this program was built from, as read when the build was
// configured; "unknown" for a build outside a git checkout of the project
// (from a source archive, as a distribution builds it).
std::string_view buildCommit();

}  // namespace vitalon
