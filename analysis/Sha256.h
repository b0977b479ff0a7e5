#pragma once

#include <string>
#include <string_view>

namespace vitalon::analysis {

// The SHA-256 digest of `bytes` as 64 lower-case hexadecimal digits, to name
// exactly which limits file a result was judged by.
std::string sha256Hex(std::string_view bytes);

}  // namespace vitalon::analysis
