#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "CommandChannel.h"
#include "DeviceSettings.h"

namespace vitalon {

// The module test's commands through the window's setting selectors: each
// command sets its selector and label as the matching button would, and the
// module receives exactly the command's text. A command that cannot be written
// is reported like a click's and answered with false.
class SelectorChannel : public analysis::CommandChannel {
public:
    using Report = std::function<void(const std::string&)>;

    SelectorChannel(SettingSelectors& selectors, Report report)
        : selectors_(selectors), report_(std::move(report)) {}

    bool send(std::string_view command) override;

    // Told of every command that was written.
    std::function<void(std::string_view)> onSent;

private:
    SettingSelectors& selectors_;
    Report report_;
};

}  // namespace vitalon
