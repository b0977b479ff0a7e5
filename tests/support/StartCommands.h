#pragma once

#include <string>
#include <vector>

#include "Protocol.h"

namespace vitalon::testing {

// The start commands as the module receives them: one after the other, nothing between.
inline std::string startCommandBytes() {
    std::string bytes;
    for (std::string_view command : protocol::kStartCommands) {
        bytes += command;
    }
    return bytes;
}

// The start commands one by one, as a module that splits what it receives lists them.
inline std::vector<std::string> startCommandList() {
    return {protocol::kStartCommands.begin(), protocol::kStartCommands.end()};
}

}  // namespace vitalon::testing
