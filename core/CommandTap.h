#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "SerialLink.h"

namespace vitalon {

// The serial link as the setting selectors see it: everything goes to the
// real link, and each command that went out whole is told to `onCommandSent`
// (a write that throws is not). Only the selectors write through it, so what
// it sees are the module commands and nothing of the port scan.
class CommandTap : public SerialLink {
public:
    explicit CommandTap(SerialLink& link) : link_(link) {}

    void open(const std::string& device, const LineSettings& settings) override {
        link_.open(device, settings);
    }
    void close() override { link_.close(); }
    bool isOpen() const override { return link_.isOpen(); }
    void write(std::string_view bytes) override {
        link_.write(bytes);
        if (onCommandSent) {
            onCommandSent(bytes);
        }
    }
    void setListener(LinkListener* listener) override { link_.setListener(listener); }

    std::function<void(std::string_view command)> onCommandSent;

private:
    SerialLink& link_;
};

}  // namespace vitalon
