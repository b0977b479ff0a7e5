#pragma once

#include <QElapsedTimer>
#include <QImage>
#include <QTimer>
#include <QWidget>
#include <array>
#include <cstdint>
#include <limits>
#include <vector>

#include "DrawingSurface.h"

namespace vitalon {

// The drawing area of the waveform trace: a flat one-pixel border around an
// inner drawing area (575 x 255 at the design size of 577 x 257), pixel
// coordinates with (0,0) at the inner top-left, one-pixel aliased lines
// clipped to the inner area.
//
// The drawing is retained: lines go into an off-screen image of the inner
// area and the widget paints from it, so a window that was covered, minimised
// or restored shows the trace as it was drawn. Lines write pixels straight into
// the image (a QPainter per call would cost more than the whole sample budget)
// and mark only the columns they touched; the dirty columns reach the screen at
// most once per frame, however fast samples come.
//
// A frame's changes are coalesced: the first line drawn after a paint arms a
// single-shot timer for the rest of the frame (at once when a frame has
// passed already), and its timeout asks Qt for the changed rectangles with
// update(); paintEvent then copies them from the image. So a lone sample after
// a pause is on screen at once, and however fast samples come the graph is
// painted at most about once per frame, 60 times a second.
//
// The image is in logical pixels; on a high-DPI screen it is scaled up without
// smoothing, so one sample stays one logical column wide.
class GraphWidget : public QWidget, public DrawingSurface {
    Q_OBJECT

public:
    static constexpr int kBorder = 1;
    static constexpr int kFrameMs = 16;  // about one display frame at 60 Hz

    explicit GraphWidget(QWidget* parent = nullptr);

    float areaWidth() const override;
    float areaHeight() const override;
    void setPenColor(std::uint32_t color) override;
    void drawLine(float x1, float y1, float x2, float y2) override;

    // The retained drawing of the inner area, one pixel per logical pixel.
    const QImage& image() const { return image_; }
    // The erase colour (the surface's background) and the trace colour as now resolved.
    QRgb backgroundColor() const { return background_; }
    QRgb traceColor() const { return trace_; }
    // True while drawn columns wait for the next frame to be asked for.
    bool repaintPending() const { return spanCount_ > 0; }
    // Paints the waiting columns now, synchronously, instead of at the next frame.
    void flushPendingRepaint();

protected:
    // Told of every paint, with the region painted in widget coordinates.
    virtual void presented(const QRegion& /*region*/) {}

    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // Columns x from `first` to `last`, rows `top` to `bottom`.
    struct Span {
        int first;
        int last;
        int top;
        int bottom;
    };
    // The rows of a column that may differ from the background; none when top > bottom.
    struct Extent {
        int top;
        int bottom;
    };
    static constexpr Extent kNothingDrawn{std::numeric_limits<int>::max(), -1};

    QSize innerSize() const;
    void ensureImage();
    void updateColors();
    QRgb resolve(std::uint32_t color) const;
    void verticalLine(int x, int y1, int y2);
    void markDirty(int first, int last, int top, int bottom);
    QRegion takeDirtyRegion();
    void scheduleFrame();
    void requestFrame();

    QImage image_;
    QRgb background_ = 0;
    QRgb trace_ = 0;
    std::uint32_t foreCode_ = 0;
    QRgb fore_ = 0;

    // Per column of the image, the rows drawn in since the column was last
    // wiped; every other pixel is background. A wipe writes only those rows,
    // and a frame sends only the rows that changed: the trace's segments are
    // a few rows high, the column it wipes is the whole area.
    std::vector<Extent> drawn_;

    // What changed in the image since the last frame, as spans of columns
    // with the rows they touched, merged where they meet.
    std::array<Span, 4> spans_{};
    int spanCount_ = 0;
    QElapsedTimer sinceLastPaint_;  // restarted by every paint
    QTimer frameTimer_;             // asks for the frame once the frame's time has come
    bool frameAsked_ = false;       // update() called, paintEvent not yet come
};

}  // namespace vitalon
