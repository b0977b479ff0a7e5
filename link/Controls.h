#pragma once

#include <cstdint>
#include <string>

namespace vitalon {

// A text label of the window: its caption and its background colour.
// Colours use the 32-bit encoding 0x00BBGGRR; with the top bit set the low
// byte names a system colour (see display/Colors.h).
class Label {
public:
    virtual ~Label() = default;
    virtual void Caption(const std::string& text) = 0;
    virtual std::string Caption() const = 0;
    virtual void BackColor(std::uint32_t color) = 0;
};

// A menu item with a check mark and an enabled state.
class MenuItem {
public:
    virtual ~MenuItem() = default;
    virtual void Enabled(bool enabled) = 0;
    virtual bool Enabled() const = 0;
    virtual void Checked(bool checked) = 0;
    virtual bool Checked() const = 0;
};

}  // namespace vitalon
