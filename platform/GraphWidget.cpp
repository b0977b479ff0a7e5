#include "GraphWidget.h"

#include <QEvent>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "Colors.h"
#include "SystemColors.h"

namespace vitalon {

namespace {

constexpr int kDesignWidth = 577;
constexpr int kDesignHeight = 257;

// Lines are clipped in floating point to the inner area grown by this margin
// before rasterising; inside it every pixel is tested instead. Lines that
// reach just past the edge (the trace's column W, level 256) therefore keep
// exactly the pixels of their unclipped rasterisation, while absurd
// coordinates still cost no more than a few thousand steps.
constexpr double kClipMargin = 1024.0;

// Liang-Barsky: shortens the segment to the rectangle; false if nothing is left.
bool clipSegment(double& x1, double& y1, double& x2, double& y2, double left, double top,
                 double right, double bottom) {
    const double dx = x2 - x1;
    const double dy = y2 - y1;
    double t0 = 0.0;
    double t1 = 1.0;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {x1 - left, right - x1, y1 - top, bottom - y1};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0.0) {
            if (q[i] < 0.0) {
                return false;
            }
            continue;
        }
        const double t = q[i] / p[i];
        if (p[i] < 0.0) {
            t0 = std::max(t0, t);
        } else {
            t1 = std::min(t1, t);
        }
        if (t0 > t1) {
            return false;
        }
    }
    const double ox = x1;
    const double oy = y1;
    x1 = ox + t0 * dx;
    y1 = oy + t0 * dy;
    x2 = ox + t1 * dx;
    y2 = oy + t1 * dy;
    return true;
}

// Rounds half away from zero like std::lround, without the library call; the
// argument is finite and within the clip box, far from the int limits.
int roundToInt(double v) {
    return v >= 0.0 ? static_cast<int>(v + 0.5) : -static_cast<int>(-v + 0.5);
}

QRgb opaque(QColor c) {
    return qRgb(c.red(), c.green(), c.blue());
}

}  // namespace

GraphWidget::GraphWidget(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);  // paintEvent covers every pixel
    setBackgroundRole(QPalette::Base);
    setFocusPolicy(Qt::StrongFocus);
    resize(kDesignWidth, kDesignHeight);
    updateColors();
    fore_ = trace_;
    foreCode_ = colors::Highlight;
    ensureImage();

    sinceLastPaint_.start();
    frameTimer_.setSingleShot(true);
    // Never early: a frame asked for before its time would paint twice in it.
    frameTimer_.setTimerType(Qt::PreciseTimer);
    connect(&frameTimer_, &QTimer::timeout, this, &GraphWidget::requestFrame);
}

QSize GraphWidget::innerSize() const {
    return {std::max(0, width() - 2 * kBorder), std::max(0, height() - 2 * kBorder)};
}

float GraphWidget::areaWidth() const {
    return static_cast<float>(innerSize().width());
}

float GraphWidget::areaHeight() const {
    return static_cast<float>(innerSize().height());
}

void GraphWidget::setPenColor(std::uint32_t color) {
    foreCode_ = color;
    fore_ = resolve(color);
}

QRgb GraphWidget::resolve(std::uint32_t color) const {
    // The two colours of the trace are cached: they are set twice per sample.
    if (color == colors::WindowBackground) {
        return background_;
    }
    if (color == colors::Highlight) {
        return trace_;
    }
    return opaque(resolveColor(color, palette()));
}

void GraphWidget::updateColors() {
    background_ = opaque(resolveColor(colors::WindowBackground, palette()));
    trace_ = opaque(resolveColor(colors::Highlight, palette()));
    if (trace_ == background_) {
        // A trace in the erase colour would be invisible: fall back to the
        // text colour, or to the inverse of the background.
        const QRgb text = opaque(palette().color(QPalette::Text));
        trace_ = text != background_ ? text
                                     : qRgb(255 - qRed(background_), 255 - qGreen(background_),
                                            255 - qBlue(background_));
    }
}

void GraphWidget::ensureImage() {
    const QSize size = innerSize();
    if (image_.size() == size) {
        return;
    }
    QImage resized(size, QImage::Format_RGB32);
    resized.fill(background_);
    // Keep what was drawn where the old and the new area overlap.
    const int rows = std::min(image_.height(), size.height());
    const int bytes = std::min(image_.width(), size.width()) * 4;
    for (int y = 0; y < rows; ++y) {
        std::memcpy(resized.scanLine(y), image_.constScanLine(y), static_cast<std::size_t>(bytes));
    }
    image_ = std::move(resized);
    drawn_.assign(static_cast<std::size_t>(size.width()), kNothingDrawn);
    for (std::size_t x = 0; x < static_cast<std::size_t>(bytes / 4); ++x) {
        drawn_[x] = {0, rows - 1};  // kept as it was: whatever is there counts as drawn
    }
    spanCount_ = 0;
    update();
}

void GraphWidget::drawLine(float x1, float y1, float x2, float y2) {
    ensureImage();
    const int w = image_.width();
    const int h = image_.height();
    if (w == 0 || h == 0) {
        return;
    }
    double ax = x1, ay = y1, bx = x2, by = y2;
    if (!std::isfinite(ax) || !std::isfinite(ay) || !std::isfinite(bx) || !std::isfinite(by)) {
        return;
    }
    const double left = -kClipMargin;
    const double top = -kClipMargin;
    const double right = w - 1 + kClipMargin;
    const double bottom = h - 1 + kClipMargin;
    const auto inBox = [&](double x, double y) {
        return x >= left && x <= right && y >= top && y <= bottom;
    };
    // The trace's lines always lie in the box; only others need clipping.
    if (!(inBox(ax, ay) && inBox(bx, by)) &&
        !clipSegment(ax, ay, bx, by, left, top, right, bottom)) {
        return;
    }
    const int sx0 = roundToInt(ax);
    int px = sx0;
    int py = roundToInt(ay);
    const int ex = roundToInt(bx);
    const int ey = roundToInt(by);

    if (px == ex) {
        verticalLine(px, py, ey);  // the erase band: two of these per sample
        return;
    }

    // Bresenham, both end points included, each pixel tested against the area.
    QRgb* const bits = reinterpret_cast<QRgb*>(image_.bits());
    const std::ptrdiff_t stride = image_.bytesPerLine() / 4;
    const int dx = std::abs(ex - px);
    const int dy = -std::abs(ey - py);
    const int sx = px < ex ? 1 : -1;
    const int sy = py < ey ? 1 : -1;
    int err = dx + dy;
    const bool erase = fore_ == background_;
    int rowTop = std::numeric_limits<int>::max();
    int rowBottom = -1;
    for (;;) {
        if (px >= 0 && px < w && py >= 0 && py < h) {
            bits[py * stride + px] = fore_;
            rowTop = std::min(rowTop, py);
            rowBottom = std::max(rowBottom, py);
            if (!erase) {
                Extent& drawn = drawn_[static_cast<std::size_t>(px)];
                drawn.top = std::min(drawn.top, py);
                drawn.bottom = std::max(drawn.bottom, py);
            }
        }
        if (px == ex && py == ey) {
            break;
        }
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            px += sx;
        }
        if (e2 <= dx) {
            err += dx;
            py += sy;
        }
    }
    markDirty(std::min(sx0, ex), std::max(sx0, ex), rowTop, rowBottom);
}

void GraphWidget::verticalLine(int x, int y1, int y2) {
    if (x < 0 || x >= image_.width()) {
        return;
    }
    const int top = std::max(0, std::min(y1, y2));
    const int bottom = std::min(image_.height() - 1, std::max(y1, y2));
    if (top > bottom) {
        return;
    }
    Extent& drawn = drawn_[static_cast<std::size_t>(x)];
    QRgb* const column = reinterpret_cast<QRgb*>(image_.bits()) + x;
    const std::ptrdiff_t stride = image_.bytesPerLine() / 4;
    if (fore_ != background_) {
        for (int y = top; y <= bottom; ++y) {
            column[y * stride] = fore_;
        }
        drawn.top = std::min(drawn.top, top);
        drawn.bottom = std::max(drawn.bottom, bottom);
        markDirty(x, x, top, bottom);
        return;
    }
    // A wipe: only the drawn rows can differ from the background.
    const int from = std::max(top, drawn.top);
    const int to = std::min(bottom, drawn.bottom);
    for (int y = from; y <= to; ++y) {
        column[y * stride] = fore_;
    }
    if (top <= drawn.top && bottom >= drawn.bottom) {
        drawn = kNothingDrawn;
    } else if (top <= drawn.top && bottom >= drawn.top) {
        drawn.top = bottom + 1;
    } else if (bottom >= drawn.bottom && top <= drawn.bottom) {
        drawn.bottom = top - 1;
    }
    if (from <= to) {
        markDirty(x, x, from, to);
    }
}

void GraphWidget::markDirty(int first, int last, int top, int bottom) {
    first = std::max(first, 0);
    last = std::min(last, image_.width() - 1);
    top = std::max(top, 0);
    bottom = std::min(bottom, image_.height() - 1);
    if (first > last || top > bottom) {
        return;
    }
    if (spanCount_ == 0 && !frameAsked_) {  // the frame's first change
        scheduleFrame();
    }
    for (int i = 0; i < spanCount_; ++i) {
        Span& s = spans_[static_cast<std::size_t>(i)];
        if (first <= s.last + 1 && last >= s.first - 1) {
            s.first = std::min(s.first, first);
            s.last = std::max(s.last, last);
            s.top = std::min(s.top, top);
            s.bottom = std::max(s.bottom, bottom);
            return;
        }
    }
    if (spanCount_ < static_cast<int>(spans_.size())) {
        spans_[static_cast<std::size_t>(spanCount_++)] = {first, last, top, bottom};
        return;
    }
    // More separate spans than kept within one frame: one covering span.
    Span& all = spans_[0];
    for (int i = 1; i < spanCount_; ++i) {
        const Span& s = spans_[static_cast<std::size_t>(i)];
        all = {std::min(all.first, s.first), std::max(all.last, s.last), std::min(all.top, s.top),
               std::max(all.bottom, s.bottom)};
    }
    all = {std::min(all.first, first), std::max(all.last, last), std::min(all.top, top),
           std::max(all.bottom, bottom)};
    spanCount_ = 1;
}

QRegion GraphWidget::takeDirtyRegion() {
    QRegion region;
    for (int i = 0; i < spanCount_; ++i) {
        const Span& s = spans_[static_cast<std::size_t>(i)];
        region +=
            QRect(kBorder + s.first, kBorder + s.top, s.last - s.first + 1, s.bottom - s.top + 1);
    }
    spanCount_ = 0;
    return region;
}

void GraphWidget::scheduleFrame() {
    if (!frameTimer_.isActive()) {
        const auto waited = static_cast<int>(sinceLastPaint_.elapsed());
        frameTimer_.start(std::max(0, kFrameMs - waited));
    }
}

void GraphWidget::requestFrame() {
    const QRegion region = takeDirtyRegion();
    if (region.isEmpty() || !isVisible() || !updatesEnabled()) {
        return;  // a hidden graph is painted whole when it is shown
    }
    // Until the frame is painted, further changes join it or wait for the
    // next: a frame asked for again before its paint would paint twice.
    frameAsked_ = true;
    update(region);
}

void GraphWidget::flushPendingRepaint() {
    frameTimer_.stop();
    const QRegion region = takeDirtyRegion();
    if (!region.isEmpty()) {
        repaint(region);
    }
}

void GraphWidget::paintEvent(QPaintEvent* event) {
    sinceLastPaint_.restart();
    if (std::exchange(frameAsked_, false) && spanCount_ > 0) {
        scheduleFrame();  // what changed since the frame was asked for: the next frame
    }
    ensureImage();
    QPainter painter(this);
    const QRect inner(QPoint(kBorder, kBorder), image_.size());
    // Flat border in the window-frame colour; filled rectangles scale cleanly on
    // high DPI. The repaints of new samples lie inside it and skip it.
    if (!inner.contains(event->region().boundingRect())) {
        const QColor frame = resolveColor(colors::SystemFlag | 6u, palette());
        const int w = width();
        const int h = height();
        painter.fillRect(0, 0, w, kBorder, frame);
        painter.fillRect(0, h - kBorder, w, kBorder, frame);
        painter.fillRect(0, 0, kBorder, h, frame);
        painter.fillRect(w - kBorder, 0, kBorder, h, frame);
    }

    for (const QRect& exposed : event->region()) {
        const QRect part = exposed.intersected(inner);
        if (!part.isEmpty()) {
            painter.drawImage(part, image_, part.translated(-kBorder, -kBorder));
        }
    }
    presented(event->region());
}

void GraphWidget::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    ensureImage();
}

void GraphWidget::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() != QEvent::PaletteChange) {
        return;
    }
    const QRgb oldBackground = background_;
    const QRgb oldTrace = trace_;
    updateColors();
    fore_ = resolve(foreCode_);
    if (oldBackground == background_ && oldTrace == trace_) {
        return;
    }
    // Recolour what is drawn, so the background stays one colour with the erase band.
    for (int y = 0; y < image_.height(); ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(image_.scanLine(y));
        for (int x = 0; x < image_.width(); ++x) {
            if (line[x] == oldBackground) {
                line[x] = background_;
            } else if (line[x] == oldTrace) {
                line[x] = trace_;
            }
        }
    }
    update();
}

}  // namespace vitalon
