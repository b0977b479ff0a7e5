#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QLabel>
#include <QPaintEvent>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <cmath>
#include <limits>

#include "Colors.h"
#include "EventLoopWait.h"
#include "GraphWidget.h"
#include "WaveformTrace.h"

namespace vitalon {
namespace {

// Counts the frames painted, and keeps the last one's region and when it came.
class CountingGraph : public GraphWidget {
public:
    using GraphWidget::GraphWidget;
    CountingGraph() { sinceLastPaint.start(); }

    int paints = 0;
    QRegion painted;
    QElapsedTimer sinceLastPaint;
    qint64 lastGapMs = -1;  // between the starts of the last two paints
    qint64 shortestGapMs = std::numeric_limits<qint64>::max();

protected:
    // Timed where the graph times its frames, at the start of a paint: how
    // long drawing took on a busy machine does not shorten the next gap.
    void paintEvent(QPaintEvent* event) override {
        lastGapMs = sinceLastPaint.restart();
        shortestGapMs = std::min(shortestGapMs, lastGapMs);
        GraphWidget::paintEvent(event);
    }
    void presented(const QRegion& region) override {
        ++paints;
        painted = region;
    }
};

// What the window shows where the graph's inner area is.
QImage shownInWindow(const GraphWidget& graph) {
    QWidget* top = graph.window();
    const QImage store = top->screen()->grabWindow(top->winId()).toImage();
    const QPoint at = graph.mapTo(top, QPoint(GraphWidget::kBorder, GraphWidget::kBorder));
    return store.copy(QRect(at, graph.image().size())).convertToFormat(QImage::Format_RGB32);
}

bool waitForPaint(const CountingGraph& graph, int paintsBefore) {
    const QDeadlineTimer deadline(3000);
    while (graph.paints == paintsBefore && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    return graph.paints > paintsBefore;
}

std::int16_t wave(int i) {
    return static_cast<std::int16_t>(124 + std::lround(100.0 * std::sin(i * 0.05)));
}

void plot(WaveformTrace& trace, int count) {
    for (int i = 0; i < count; ++i) {
        trace.plotSample(wave(i));
    }
}

// Column x from row 1 down is all `color`.
bool columnIs(const QImage& image, int x, QRgb color) {
    for (int y = 1; y < image.height(); ++y) {
        if (image.pixel(x, y) != color) {
            return false;
        }
    }
    return true;
}

TEST(GraphWidget, TraceLeavesABlankColumnAheadOfThePenAndIsRetainedOnRepaint) {
    GraphWidget graph;
    EXPECT_EQ(graph.areaWidth(), 575.0f);
    EXPECT_EQ(graph.areaHeight(), 255.0f);
    EXPECT_EQ(graph.backgroundColor(), graph.palette().color(QPalette::Base).rgb());
    WaveformTrace trace(graph);
    plot(trace, 300);

    const QImage& image = graph.image();
    EXPECT_TRUE(columnIs(image, 301, graph.backgroundColor()));
    EXPECT_EQ(image.pixel(300, trace.pen().lastY), graph.traceColor());
    EXPECT_EQ(image.pixel(0, 0), graph.traceColor());  // the first segment starts at (0,0)

    // Repainting the whole widget, as after being uncovered, shows the same pixels.
    graph.update();
    const QImage shown = graph.grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(shown.copy(1, 1, 575, 255), image);
    EXPECT_NE(shown.pixel(0, 100), graph.backgroundColor());  // the border
}

TEST(GraphWidget, WrapClearsColumnsZeroAndOneAndDrawsNothingElse) {
    GraphWidget graph;
    WaveformTrace trace(graph);
    plot(trace, 576 + 575);  // a full sweep, and the second up to column W
    const QImage before = graph.image().copy();
    ASSERT_FALSE(columnIs(before, 0, graph.backgroundColor()));

    trace.plotSample(200);
    QImage expected = before;
    for (int y = 1; y < expected.height(); ++y) {
        expected.setPixel(0, y, graph.backgroundColor());
        expected.setPixel(1, y, graph.backgroundColor());
    }
    EXPECT_EQ(graph.image(), expected);
}

TEST(GraphWidget, RepaintsOnlyTheTouchedColumnsAtMostOncePerFrame) {
    CountingGraph graph;
    graph.show();
    ASSERT_TRUE(waitForPaint(graph, 0));
    QCoreApplication::processEvents();
    const int paints = graph.paints;

    WaveformTrace trace(graph);
    plot(trace, 50);
    EXPECT_EQ(graph.paints, paints);  // nothing is painted per sample
    ASSERT_TRUE(waitForPaint(graph, paints));
    EXPECT_EQ(graph.paints, paints + 1);
    // Inner columns 0..50 (the band ahead, column 51, was blank already), and
    // of them only the rows drawn: a fresh area needs no wiping.
    const QRect painted = graph.painted.boundingRect();
    EXPECT_EQ(painted.left(), 1);
    EXPECT_EQ(painted.width(), 51);
    EXPECT_TRUE(QRect(1, 1, 575, 255).contains(painted));
    EXPECT_LT(painted.height(), 255);

    trace.plotSample(10);
    graph.flushPendingRepaint();
    EXPECT_EQ(graph.paints, paints + 2);
    EXPECT_FALSE(graph.repaintPending());
}

TEST(GraphWidget, ASampleAfterAQuietFrameIsAskedForAtOnceAndTheNextWaitsForItsFrame) {
    CountingGraph graph;
    graph.show();
    ASSERT_TRUE(waitForPaint(graph, 0));
    WaveformTrace trace(graph);

    // A frame after the last paint, the sample's frame is asked for at once:
    // the next pass of the event loop paints it.
    while (graph.sinceLastPaint.elapsed() <= GraphWidget::kFrameMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    const int paints = graph.paints;
    trace.plotSample(100);
    EXPECT_TRUE(graph.repaintPending());
    ASSERT_TRUE(waitForPaint(graph, paints));
    EXPECT_FALSE(graph.repaintPending());

    // Within the same frame the samples wait, then reach the screen by the
    // frame's timer, no earlier than a frame after the last paint.
    trace.plotSample(110);
    EXPECT_TRUE(graph.repaintPending());
    ASSERT_TRUE(waitForPaint(graph, paints + 1));
    EXPECT_GE(graph.lastGapMs, GraphWidget::kFrameMs - 1);
    EXPECT_FALSE(graph.repaintPending());
}

TEST(GraphWidget, SamplesComingFasterThanFramesArePaintedAtMostOnceAFrameWithNothingLost) {
    QWidget window;
    window.resize(600, 300);
    auto* graph = new CountingGraph;
    graph->setParent(&window);
    graph->move(8, 8);
    window.show();
    ASSERT_TRUE(waitForPaint(*graph, 0));
    WaveformTrace trace(*graph);

    // Ten samples a millisecond, each batch from its own pass of the event
    // loop, as reads from the line come: 1,500 samples, past a wrap.
    const int paints = graph->paints;
    graph->shortestGapMs = std::numeric_limits<qint64>::max();
    QElapsedTimer feeding;
    feeding.start();
    int batches = 0;
    QTimer feed;
    feed.setTimerType(Qt::PreciseTimer);
    QObject::connect(&feed, &QTimer::timeout, [&] {
        for (int i = 0; i < 10; ++i) {
            trace.plotSample(wave(batches * 10 + i));
        }
        if (++batches == 150) {
            feed.stop();
        }
    });
    feed.start(1);
    ASSERT_TRUE(testing::waitFor([&] { return batches == 150 && !graph->repaintPending(); }));
    QCoreApplication::processEvents();  // the paint of the last frame asked for

    EXPECT_GT(graph->paints - paints, 1);
    // Coalesced: many batches a frame, never two frames within one.
    EXPECT_LT(graph->paints - paints, batches);
    // Frames start at least a frame's time apart, so however slowly the
    // machine ran the feed, there are no more paints than frames in the time
    // it took (plus the first and the last one asked for).
    EXPECT_LE(graph->paints - paints, feeding.elapsed() / GraphWidget::kFrameMs + 2);
    EXPECT_GE(graph->shortestGapMs, GraphWidget::kFrameMs - 1);
    // What the window shows is the retained image, pixel for pixel.
    EXPECT_EQ(shownInWindow(*graph), graph->image());
}

TEST(GraphWidget, FramesShowThePixelsOfTheRetainedImageAndLeaveWidgetsAboveAlone) {
    QWidget window;
    window.resize(600, 300);
    auto* graph = new CountingGraph;
    graph->setParent(&window);
    graph->move(8, 8);
    window.show();
    ASSERT_TRUE(waitForPaint(*graph, 0));
    WaveformTrace trace(*graph);

    for (int i = 0; i < 700; ++i) {  // past a wrap, frame after frame
        trace.plotSample(wave(i));
        if (i % 7 == 0) {
            graph->flushPendingRepaint();
        }
    }
    graph->flushPendingRepaint();
    EXPECT_EQ(shownInWindow(*graph), graph->image());

    // With another widget over part of where the next samples go (the pen is
    // at column 124), a frame leaves the widget above alone.
    auto* cover = new QLabel(QStringLiteral("cover"), &window);
    cover->setAutoFillBackground(true);
    cover->setGeometry(8 + 100, 8, 60, 120);  // over rows 0..119 of columns 99..158
    cover->show();
    QCoreApplication::processEvents();
    const QImage coverShown = cover->grab().toImage();
    const int paints = graph->paints;
    plot(trace, 5);
    graph->flushPendingRepaint();
    EXPECT_GT(graph->paints, paints);
    const QImage windowShown = window.screen()->grabWindow(window.winId()).toImage();
    EXPECT_EQ(windowShown.copy(cover->geometry()).convertToFormat(QImage::Format_RGB32),
              coverShown.convertToFormat(QImage::Format_RGB32));
    delete cover;
    QCoreApplication::processEvents();
    EXPECT_EQ(shownInWindow(*graph), graph->image());
}

TEST(GraphWidget, AWipeSendsOnlyTheRowsThatWereDrawn) {
    CountingGraph graph;
    graph.show();
    ASSERT_TRUE(waitForPaint(graph, 0));
    WaveformTrace trace(graph);
    for (int i = 0; i < 579; ++i) {  // a sweep at level 200 and back to column 3
        trace.plotSample(56);
    }
    graph.flushPendingRepaint();
    trace.plotSample(56);  // pen to column 4: wipes 4 and 5, segment 3..4 at row 200
    graph.flushPendingRepaint();
    EXPECT_EQ(graph.painted.boundingRect(), QRect(1 + 3, 1 + 200, 3, 1));
    EXPECT_TRUE(columnIs(graph.image(), 5, graph.backgroundColor()));
}

TEST(GraphWidget, AColumnDrawnIntoAfterItsWipeIsWipedAgain) {
    GraphWidget graph;
    WaveformTrace trace(graph);
    const auto onlySegmentIn = [&graph](int x) {
        for (int y = 1; y < graph.image().height(); ++y) {
            if ((graph.image().pixel(x, y) == graph.traceColor()) != (y == 200)) {
                return false;
            }
        }
        return true;
    };
    for (int i = 0; i < 10; ++i) {
        trace.plotSample(56);  // level 200
    }
    ASSERT_TRUE(columnIs(graph.image(), 11, graph.backgroundColor()));  // wiped ahead of the pen

    // A vertical line into the wiped column ahead of the pen...
    graph.setPenColor(colors::Highlight);
    graph.drawLine(11, 50, 11, 60);
    trace.plotSample(56);  // pen to 11: wipes 11 and 12, segment ends at (11, 200)
    EXPECT_TRUE(onlySegmentIn(11));

    // ...and a sloped one across it.
    graph.setPenColor(colors::Highlight);
    graph.drawLine(12, 5, 14, 120);
    trace.plotSample(56);  // pen to 12
    EXPECT_TRUE(onlySegmentIn(12));
    EXPECT_TRUE(columnIs(graph.image(), 13, graph.backgroundColor()));
    EXPECT_EQ(graph.image().pixel(14, 120), graph.traceColor());  // beyond the band, left alone
}

TEST(GraphWidget, HighDpiKeepsOneLogicalPixelPerSample) {
    GraphWidget graph;
    WaveformTrace trace(graph);
    plot(trace, 120);
    QImage target(577 * 2, 257 * 2, QImage::Format_RGB32);
    target.setDevicePixelRatio(2.0);
    graph.render(&target);

    // Each logical pixel of the drawing is a 2 x 2 block, unsmoothed.
    int mismatches = 0;
    for (int y = 0; y < 255; ++y) {
        for (int x = 0; x < 575; ++x) {
            for (int d = 0; d < 4; ++d) {
                mismatches +=
                    target.pixel(2 * x + 2 + d % 2, 2 * y + 2 + d / 2) != graph.image().pixel(x, y);
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(GraphWidget, ColoursFollowThePaletteAndStayDistinct) {
    GraphWidget graph;
    WaveformTrace trace(graph);
    plot(trace, 20);
    QPalette palette = graph.palette();
    palette.setColor(QPalette::Base, QColor(10, 20, 30));
    palette.setColor(QPalette::Highlight, QColor(250, 200, 0));
    graph.setPalette(palette);
    EXPECT_TRUE(columnIs(graph.image(), 100, qRgb(10, 20, 30)));  // recoloured, not striped
    EXPECT_EQ(graph.image().pixel(20, trace.pen().lastY), qRgb(250, 200, 0));

    palette.setColor(QPalette::Highlight, QColor(10, 20, 30));
    graph.setPalette(palette);
    EXPECT_NE(graph.traceColor(), graph.backgroundColor());
}

TEST(GraphWidget, LinesAreClippedWhateverTheCoordinates) {
    GraphWidget graph;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    graph.drawLine(nan, 0, 10, 10);
    graph.drawLine(0, 0, std::numeric_limits<float>::infinity(), 10);
    EXPECT_TRUE(columnIs(graph.image(), 0, graph.backgroundColor()));
    graph.drawLine(-1e9f, -1e9f, 1e9f, 1e9f);  // keeps its slope through the area
    EXPECT_EQ(graph.image().pixel(200, 200), graph.traceColor());
    EXPECT_EQ(graph.image().pixel(200, 201), graph.backgroundColor());
}

}  // namespace
}  // namespace vitalon
