#pragma once

#include <cstdint>

namespace vitalon {

// The area the waveform trace draws on: pixel coordinates, (0,0) at the
// top-left of the inner area, one-pixel solid lines, clipped to the inner area.
class DrawingSurface {
public:
    virtual ~DrawingSurface() = default;
    virtual float areaWidth() const = 0;
    virtual float areaHeight() const = 0;
    virtual void setPenColor(std::uint32_t color) = 0;  // colour of the following lines
    virtual void drawLine(float x1, float y1, float x2, float y2) = 0;
};

}  // namespace vitalon
