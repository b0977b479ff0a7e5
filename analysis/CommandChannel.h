#pragma once

#include <string_view>

namespace vitalon::analysis {

// Where the test sends its commands: the program's normal command path, so
// that the window's selectors and labels follow what the test does.
class CommandChannel {
public:
    virtual ~CommandChannel() = default;
    // Writes one command of the module's set, e.g. "S1" or "C"; false when it
    // could not be written.
    virtual bool send(std::string_view command) = 0;
};

}  // namespace vitalon::analysis
