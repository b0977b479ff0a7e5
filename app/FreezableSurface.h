#pragma once

#include "DrawingSurface.h"

namespace vitalon {

// The trace's drawing surface with a hold: while frozen, lines are dropped and
// the picture stays as it was, but the trace goes on counting its pen across
// the area. Unfrozen, the sweep resumes at the column the live stream has
// reached, as if it had been drawn all along, so the part drawn after the
// freeze lines up in time with what the module sends now.
class FreezableSurface : public DrawingSurface {
public:
    explicit FreezableSurface(DrawingSurface& target) : target_(target) {}

    void setFrozen(bool frozen) { frozen_ = frozen; }
    bool frozen() const { return frozen_; }

    float areaWidth() const override { return target_.areaWidth(); }
    float areaHeight() const override { return target_.areaHeight(); }
    void setPenColor(std::uint32_t color) override { target_.setPenColor(color); }
    void drawLine(float x1, float y1, float x2, float y2) override {
        if (!frozen_) {
            target_.drawLine(x1, y1, x2, y2);
        }
    }

private:
    DrawingSurface& target_;
    bool frozen_ = false;
};

}  // namespace vitalon
