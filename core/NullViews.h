#pragma once

#include <cstdint>
#include <string>

#include "Controls.h"
#include "DrawingSurface.h"
#include "ToneGenerator.h"

namespace vitalon {

// Stand-ins for the views a station runs without (the command line shows no
// window): a label and a menu item keep their state, so whatever reads them
// back (a port pick checks its item) works as with the real controls; a
// surface has no area and a tone makes no sound.
class KeptLabel : public Label {
public:
    void setText(const std::string& text) override { text_ = text; }
    std::string text() const override { return text_; }
    void setBackgroundColor(std::uint32_t) override {}

private:
    std::string text_;
};

class KeptMenuItem : public MenuItem {
public:
    void setEnabled(bool enabled) override { enabled_ = enabled; }
    bool isEnabled() const override { return enabled_; }
    void setChecked(bool checked) override { checked_ = checked; }
    bool isChecked() const override { return checked_; }

private:
    bool enabled_ = true;
    bool checked_ = false;
};

class NoSurface : public DrawingSurface {
public:
    float areaWidth() const override { return 0.0f; }
    float areaHeight() const override { return 0.0f; }
    void setPenColor(std::uint32_t) override {}
    void drawLine(float, float, float, float) override {}
};

class NoTone : public ToneGenerator {
public:
    void beep(std::uint32_t, std::uint32_t) override {}
};

}  // namespace vitalon
