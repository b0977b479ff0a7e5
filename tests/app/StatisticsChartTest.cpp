#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <cmath>
#include <vector>

#include "StatisticsChart.h"

namespace vitalon {
namespace {

using namespace std::chrono;

// Bins of width 1 from 0 to 5 holding 1, 2, 4, 2, 1 values, limits at 0.5 and 4.5.
StatisticsPicture knownPicture(std::optional<double> low, std::optional<double> high) {
    StatisticsPicture picture;
    picture.title = QStringLiteral("cal.a2.height: calibration height at amplification 2");
    results::CheckGroup& group = picture.group;
    group.limitsName = "production";
    group.limitsRevision = "3";
    group.low = low;
    group.high = high;
    group.unit = "counts";
    group.count = 10;
    group.mean = 2.5;
    group.standardDeviation = 1.1;
    group.capability.cp = 0.61;
    group.capability.cpk = 0.61;
    group.passed = 10;
    group.judged = 10;
    group.yield = 1.0;
    group.histogram.firstEdge = 0.0;
    group.histogram.binWidth = 1.0;
    group.histogram.counts = {1, 2, 4, 2, 1};
    const sys_days day = sys_days(2026y / December / 1);
    group.trend = {{day, 4, 2.0, 1.0, 3.0}, {day + days(3), 6, 3.0, 2.0, 4.0}};
    picture.firstPass = {{day, 10, 9, 0.9}, {day + days(1), 10, 5, 0.5}};
    return picture;
}

QImage render(const StatisticsPicture& picture) {
    QImage image(900, 560, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    paintStatistics(painter, image.rect(), picture);
    return image;
}

// The columns of `row` between `from` and `to` where the colour is `colour`,
// as the middles of its runs.
std::vector<int> runsOf(const QImage& image, int row, int from, int to, QColor colour) {
    std::vector<int> middles;
    int start = -1;
    for (int x = from; x <= to + 1; ++x) {
        const bool on = x <= to && image.pixelColor(x, row) == colour;
        if (on && start < 0) {
            start = x;
        } else if (!on && start >= 0) {
            middles.push_back((start + x - 1) / 2);
            start = -1;
        }
    }
    return middles;
}

// The first row from the top of the plot in `column` that has `colour`.
int firstRowOf(const QImage& image, int column, const QRect& plot, QColor colour) {
    for (int y = plot.top(); y <= plot.bottom(); ++y) {
        if (image.pixelColor(column, y) == colour) {
            return y;
        }
    }
    return -1;
}

// The rendered histogram: a limit line at each limit, bars as tall as their
// counts, nothing above them, every bar inside the plot.
TEST(StatisticsChart, HistogramBarsAndLimitLinesLandOnTheirPixels) {
    const StatisticsPicture picture = knownPicture(0.5, 4.5);
    const QImage image = render(picture);
    const QRect plot = plotArea(statisticsAreas(image.rect()).histogram);
    ASSERT_GT(plot.width(), 300);
    const results::Histogram& histogram = picture.group.histogram;

    // Halfway up the plot, only the two limit lines are red.
    const std::vector<int> red =
        runsOf(image, plot.center().y(), plot.left(), plot.right(), StatisticsChart::limitColor());
    ASSERT_EQ(red.size(), 2u);
    EXPECT_NEAR(red[0], histogramX(plot, histogram, 0.5), 1.5);
    EXPECT_NEAR(red[1], histogramX(plot, histogram, 4.5), 1.5);
    // The low limit sits a tenth of the plot in, the high one nine tenths.
    EXPECT_NEAR(red[0] - plot.left(), plot.width() / 10.0, 2.0);
    EXPECT_NEAR(red[1] - plot.left(), plot.width() * 9.0 / 10.0, 2.0);

    // Each bar's top, found in a column clear of the limits and the mean.
    const double tallest = plot.height() * 0.9;
    const double offsets[] = {0.2, 1.3, 2.2, 3.3, 4.8};
    for (std::size_t bin = 0; bin < histogram.counts.size(); ++bin) {
        SCOPED_TRACE(bin);
        const int column = static_cast<int>(std::lround(histogramX(
            plot, histogram, static_cast<double>(bin) + offsets[bin] - std::floor(offsets[bin]))));
        const int top = firstRowOf(image, column, plot, StatisticsChart::barColor());
        const double expected =
            plot.bottom() + 1 - tallest * histogram.counts[bin] / 4.0;  // 4: the tallest bar
        EXPECT_NEAR(top, expected, 1.0);
        // Solid down to the axis.
        EXPECT_EQ(image.pixelColor(column, plot.bottom()), StatisticsChart::barColor());
    }
    // The first-pass bars: 90 % and 50 % high, white above them (no fill
    // left over from another panel).
    const QRect yieldPlot = plotArea(statisticsAreas(image.rect()).firstPass);
    const int secondBar = yieldPlot.left() + yieldPlot.width() * 3 / 4;
    EXPECT_EQ(image.pixelColor(secondBar, yieldPlot.top() + yieldPlot.height() / 4),
              QColor(Qt::white));
    EXPECT_NE(image.pixelColor(secondBar, yieldPlot.bottom() - yieldPlot.height() / 4),
              QColor(Qt::white));
    EXPECT_EQ(image.pixelColor(yieldPlot.left() + yieldPlot.width() / 4, yieldPlot.top() + 4),
              QColor(Qt::white));
    // Nothing is drawn outside the picture's white ground.
    EXPECT_EQ(image.pixelColor(0, 0), QColor(Qt::white));
    EXPECT_EQ(image.pixelColor(899, 559), QColor(Qt::white));
}

// One limit gives one line; a group without values draws its frame and says so.
TEST(StatisticsChart, OneSidedLimitsAndNoValuesAreDrawnWithoutFailing) {
    StatisticsPicture oneSided = knownPicture(std::nullopt, 4.5);
    const QImage image = render(oneSided);
    const QRect plot = plotArea(statisticsAreas(image.rect()).histogram);
    const std::vector<int> red =
        runsOf(image, plot.center().y(), plot.left(), plot.right(), StatisticsChart::limitColor());
    ASSERT_EQ(red.size(), 1u);
    EXPECT_NEAR(red[0], histogramX(plot, oneSided.group.histogram, 4.5), 1.5);

    StatisticsPicture empty;
    empty.title = QStringLiteral("rate.s1");
    const QImage blank = render(empty);
    const QRect emptyPlot = plotArea(statisticsAreas(blank.rect()).histogram);
    EXPECT_TRUE(runsOf(blank, emptyPlot.center().y(), emptyPlot.left() + 2, emptyPlot.right() - 2,
                       StatisticsChart::barColor())
                    .empty());

    // The widget paints the same picture when shown.
    StatisticsChart chart;
    chart.resize(900, 560);
    chart.setPicture(knownPicture(0.5, 4.5));
    EXPECT_EQ(chart.grab().toImage().convertToFormat(QImage::Format_RGB32),
              render(chart.picture()));
}

}  // namespace
}  // namespace vitalon
