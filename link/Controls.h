#pragma once

#include <cstdint>
#include <string>

namespace vitalon {

// A text label of the window: its text and its background colour.
// Colours use the 32-bit encoding 0x00BBGGRR; with the top bit set the low
// byte names a system colour (see display/Colors.h).
class Label {
public:
    virtual ~Label() = default;
    virtual void setText(const std::string& text) = 0;
    virtual std::string text() const = 0;
    virtual void setBackgroundColor(std::uint32_t color) = 0;
};

// A menu item with a check mark and an enabled state.
class MenuItem {
public:
    virtual ~MenuItem() = default;
    virtual void setEnabled(bool enabled) = 0;
    virtual bool isEnabled() const = 0;
    virtual void setChecked(bool checked) = 0;
    virtual bool isChecked() const = 0;
};

}  // namespace vitalon
