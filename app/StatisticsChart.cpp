#include "StatisticsChart.h"

#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <chrono>
#include <cmath>

namespace vitalon {
namespace {

constexpr int kGap = 12;
constexpr int kTitleHeight = 18;
constexpr int kLeftAxis = 52;
constexpr int kBottomAxis = 20;

const QColor kText(40, 40, 40);
const QColor kGrid(225, 225, 225);
const QColor kMean(90, 90, 90);
const QColor kYield(76, 150, 80);

QString number(double value) {
    return QString::number(value, 'g', 4);
}

QString optionalNumber(const std::optional<double>& value, const QString& none) {
    return value ? number(*value) : none;
}

QString dayText(std::chrono::sys_days day) {
    const std::chrono::year_month_day date(day);
    return QStringLiteral("%1-%2")
        .arg(static_cast<unsigned>(date.month()), 2, 10, QChar('0'))
        .arg(static_cast<unsigned>(date.day()), 2, 10, QChar('0'));
}

void panelTitle(QPainter& painter, const QRect& panel, const QString& text) {
    painter.setBrush(Qt::NoBrush);
    painter.setPen(kText);
    painter.drawText(QRect(panel.left(), panel.top(), panel.width(), kTitleHeight),
                     Qt::AlignLeft | Qt::AlignVCenter, text);
}

// A vertical limit line, crisp: drawn on whole pixels without smoothing. Its
// label goes inside the plot, on the side of the line that faces the values.
void limitLine(QPainter& painter, const QRect& plot, double x, const QString& label,
               bool labelRight) {
    const int px = static_cast<int>(std::lround(x));
    painter.fillRect(QRect(px - 1, plot.top(), 2, plot.height()), StatisticsChart::limitColor());
    painter.setPen(StatisticsChart::limitColor());
    const QRect box = labelRight ? QRect(px + 4, plot.top() + 2, 90, kTitleHeight - 2)
                                 : QRect(px - 94, plot.top() + 2, 90, kTitleHeight - 2);
    painter.drawText(box, (labelRight ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter, label);
}

void drawHistogram(QPainter& painter, const QRect& panel, const StatisticsPicture& picture) {
    const results::CheckGroup& group = picture.group;
    const results::Histogram& histogram = group.histogram;
    panelTitle(
        painter, panel,
        QStringLiteral("Histogram (%1 values)").arg(histogram.total()) +
            (group.unit.empty() ? QString()
                                : QStringLiteral(", %1").arg(QString::fromStdString(group.unit))));
    const QRect plot = plotArea(panel);
    painter.setPen(kGrid);
    painter.drawRect(plot.adjusted(0, 0, -1, -1));
    if (histogram.counts.empty() || histogram.binWidth <= 0.0) {
        painter.setPen(kText);
        painter.drawText(plot, Qt::AlignCenter, QStringLiteral("no values"));
        return;
    }
    const int maxCount = *std::max_element(histogram.counts.begin(), histogram.counts.end());
    for (std::size_t i = 0; i < histogram.counts.size(); ++i) {
        const double left = histogram.firstEdge + histogram.binWidth * static_cast<double>(i);
        const int x0 = static_cast<int>(std::lround(histogramX(plot, histogram, left)));
        const int x1 =
            static_cast<int>(std::lround(histogramX(plot, histogram, left + histogram.binWidth)));
        const int top =
            static_cast<int>(std::lround(histogramY(plot, maxCount, histogram.counts[i])));
        if (histogram.counts[i] > 0) {
            painter.fillRect(QRect(x0 + 1, top, std::max(1, x1 - x0 - 1), plot.bottom() + 1 - top),
                             StatisticsChart::barColor());
        }
    }
    // The axes' figures: counts up the left, the range along the bottom.
    painter.setPen(kText);
    painter.drawText(QRect(panel.left(), plot.top() - 6, kLeftAxis - 4, 12),
                     Qt::AlignRight | Qt::AlignVCenter, QString::number(maxCount));
    painter.drawText(QRect(panel.left(), plot.bottom() - 6, kLeftAxis - 4, 12),
                     Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("0"));
    painter.drawText(QRect(plot.left(), plot.bottom() + 2, plot.width(), kBottomAxis - 2),
                     Qt::AlignLeft | Qt::AlignTop, number(histogram.firstEdge));
    painter.drawText(QRect(plot.left(), plot.bottom() + 2, plot.width(), kBottomAxis - 2),
                     Qt::AlignRight | Qt::AlignTop, number(histogram.lastEdge()));
    if (group.count > 0) {
        painter.setPen(QPen(kMean, 1.0, Qt::DashLine));
        const double x = histogramX(plot, histogram, group.mean);
        painter.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
    }
    if (group.low) {
        limitLine(painter, plot, histogramX(plot, histogram, *group.low),
                  QStringLiteral("low ") + number(*group.low), true);
    }
    if (group.high) {
        limitLine(painter, plot, histogramX(plot, histogram, *group.high),
                  QStringLiteral("high ") + number(*group.high), false);
    }
}

void drawTrend(QPainter& painter, const QRect& panel, const StatisticsPicture& picture) {
    const results::CheckGroup& group = picture.group;
    panelTitle(painter, panel, QStringLiteral("Trend: daily mean, lowest and highest"));
    const QRect plot = plotArea(panel);
    painter.setPen(kGrid);
    painter.drawRect(plot.adjusted(0, 0, -1, -1));
    if (group.trend.empty()) {
        return;
    }
    double lowest = group.trend.front().min;
    double highest = group.trend.front().max;
    for (const results::DayMean& day : group.trend) {
        lowest = std::min(lowest, day.min);
        highest = std::max(highest, day.max);
    }
    for (const std::optional<double>& limit : {group.low, group.high}) {
        if (limit) {
            lowest = std::min(lowest, *limit);
            highest = std::max(highest, *limit);
        }
    }
    const double pad = highest > lowest ? (highest - lowest) * 0.08 : 1.0;
    lowest -= pad;
    highest += pad;
    const auto y = [&](double v) {
        return plot.bottom() - (v - lowest) / (highest - lowest) * plot.height();
    };
    const auto first = group.trend.front().day;
    const double days =
        std::max(1.0, static_cast<double>((group.trend.back().day - first).count()));
    const auto x = [&](std::chrono::sys_days day) {
        const double margin = 10.0;
        return plot.left() + margin +
               static_cast<double>((day - first).count()) / days * (plot.width() - 2 * margin);
    };
    for (const std::optional<double>& limit : {group.low, group.high}) {
        if (limit) {
            painter.fillRect(QRectF(plot.left(), std::round(y(*limit)) - 1, plot.width(), 2),
                             StatisticsChart::limitColor());
        }
    }
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QPen(StatisticsChart::barColor(), 1.0));
    QPointF previous;
    for (std::size_t i = 0; i < group.trend.size(); ++i) {
        const results::DayMean& day = group.trend[i];
        const QPointF point(x(day.day), y(day.mean));
        painter.drawLine(QPointF(point.x(), y(day.min)), QPointF(point.x(), y(day.max)));
        if (i > 0) {
            painter.drawLine(previous, point);
        }
        painter.setBrush(StatisticsChart::barColor());
        painter.drawEllipse(point, 2.5, 2.5);
        previous = point;
    }
    painter.setBrush(Qt::NoBrush);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(kText);
    painter.drawText(QRect(panel.left(), plot.top() - 6, kLeftAxis - 4, 12),
                     Qt::AlignRight | Qt::AlignVCenter, number(highest));
    painter.drawText(QRect(panel.left(), plot.bottom() - 6, kLeftAxis - 4, 12),
                     Qt::AlignRight | Qt::AlignVCenter, number(lowest));
    painter.drawText(QRect(plot.left(), plot.bottom() + 2, plot.width(), kBottomAxis - 2),
                     Qt::AlignLeft | Qt::AlignTop, dayText(first));
    painter.drawText(QRect(plot.left(), plot.bottom() + 2, plot.width(), kBottomAxis - 2),
                     Qt::AlignRight | Qt::AlignTop, dayText(group.trend.back().day));
}

void drawFigures(QPainter& painter, const QRect& panel, const StatisticsPicture& picture) {
    const results::CheckGroup& group = picture.group;
    const results::Capability& capability = group.capability;
    const QString none =
        capability.note.empty() ? QStringLiteral("-") : QString::fromStdString(capability.note);
    QStringList lines;
    lines << QStringLiteral("Limits: %1, revision %2")
                 .arg(QString::fromStdString(group.limitsName),
                      QString::fromStdString(group.limitsRevision));
    lines << QStringLiteral("Low %1, high %2 %3")
                 .arg(optionalNumber(group.low, QStringLiteral("none")),
                      optionalNumber(group.high, QStringLiteral("none")),
                      QString::fromStdString(group.unit));
    lines << QStringLiteral("Count %1").arg(group.count);
    if (group.count > 0) {
        lines << QStringLiteral("Mean %1 (from %2 to %3)")
                     .arg(number(group.mean), number(group.min), number(group.max));
    }
    lines << QStringLiteral("Standard deviation %1")
                 .arg(optionalNumber(group.standardDeviation, QStringLiteral("-")));
    lines << QStringLiteral("Cp %1").arg(optionalNumber(capability.cp, none));
    lines << QStringLiteral("Cpk %1").arg(optionalNumber(capability.cpk, none));
    lines << (group.yield ? QStringLiteral("Yield %1 % (%2 of %3 passed)")
                                .arg(QString::number(*group.yield * 100.0, 'f', 1))
                                .arg(group.passed)
                                .arg(group.judged)
                          : QStringLiteral("Yield: nothing judged"));
    if (picture.demonstrationsLeftOut > 0) {
        lines
            << QStringLiteral("Demonstration runs left out: %1").arg(picture.demonstrationsLeftOut);
    }
    if (picture.otherGroups > 0) {
        lines
            << QStringLiteral("Under other limits: %1 more (shown apart)").arg(picture.otherGroups);
    }
    panelTitle(painter, panel, QStringLiteral("Figures"));
    painter.setPen(kText);
    painter.drawText(panel.adjusted(4, kTitleHeight + 4, 0, 0), Qt::AlignLeft | Qt::AlignTop,
                     lines.join(QChar('\n')));
}

void drawFirstPass(QPainter& painter, const QRect& panel, const StatisticsPicture& picture) {
    int firstAttempts = 0;
    int passedFirstTime = 0;
    for (const results::DayYield& day : picture.firstPass) {
        firstAttempts += day.firstAttempts;
        passedFirstTime += day.passedFirstTime;
    }
    panelTitle(painter, panel,
               firstAttempts > 0
                   ? QStringLiteral("First-pass yield per day (%1 % of %2 units)")
                         .arg(QString::number(100.0 * passedFirstTime / firstAttempts, 'f', 1))
                         .arg(firstAttempts)
                   : QStringLiteral("First-pass yield per day"));
    const QRect plot = plotArea(panel);
    painter.setPen(kGrid);
    painter.drawRect(plot.adjusted(0, 0, -1, -1));
    painter.setPen(kText);
    painter.drawText(QRect(panel.left(), plot.top() - 6, kLeftAxis - 4, 12),
                     Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("100 %"));
    painter.drawText(QRect(panel.left(), plot.bottom() - 6, kLeftAxis - 4, 12),
                     Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("0 %"));
    // The latest days that fit, at least 6 pixels a bar.
    const std::size_t fit = static_cast<std::size_t>(std::max(1, plot.width() / 6));
    const std::size_t shown = std::min(fit, picture.firstPass.size());
    if (shown == 0) {
        return;
    }
    const std::size_t from = picture.firstPass.size() - shown;
    const double width = static_cast<double>(plot.width()) / static_cast<double>(shown);
    for (std::size_t i = 0; i < shown; ++i) {
        const results::DayYield& day = picture.firstPass[from + i];
        const double height = std::clamp(day.yield, 0.0, 1.0) * plot.height();
        painter.fillRect(QRectF(plot.left() + width * static_cast<double>(i) + 1,
                                plot.bottom() + 1 - height, std::max(1.0, width - 2), height),
                         kYield);
    }
    painter.drawText(QRect(plot.left(), plot.bottom() + 2, plot.width(), kBottomAxis - 2),
                     Qt::AlignLeft | Qt::AlignTop, dayText(picture.firstPass[from].day));
    painter.drawText(QRect(plot.left(), plot.bottom() + 2, plot.width(), kBottomAxis - 2),
                     Qt::AlignRight | Qt::AlignTop, dayText(picture.firstPass.back().day));
}

}  // namespace

StatisticsAreas statisticsAreas(const QRect& whole) {
    const QRect inner = whole.adjusted(kGap, kTitleHeight + kGap, -kGap, -kGap);
    const int leftWidth = inner.width() * 62 / 100;
    const int rightWidth = inner.width() - leftWidth - kGap;
    const int topHeight = inner.height() * 58 / 100;
    const int bottomHeight = inner.height() - topHeight - kGap;
    StatisticsAreas areas;
    areas.histogram = QRect(inner.left(), inner.top(), leftWidth, topHeight);
    areas.trend = QRect(inner.left(), inner.top() + topHeight + kGap, leftWidth, bottomHeight);
    areas.figures = QRect(inner.left() + leftWidth + kGap, inner.top(), rightWidth, topHeight);
    areas.firstPass = QRect(areas.figures.left(), areas.trend.top(), rightWidth, bottomHeight);
    return areas;
}

QRect plotArea(const QRect& panel) {
    return panel.adjusted(kLeftAxis, kTitleHeight + 2, -4, -kBottomAxis);
}

double histogramX(const QRect& plot, const results::Histogram& histogram, double value) {
    const double span = histogram.lastEdge() - histogram.firstEdge;
    if (span <= 0.0) {
        return plot.left();
    }
    return plot.left() + (value - histogram.firstEdge) / span * plot.width();
}

double histogramY(const QRect& plot, int maxCount, int count) {
    if (maxCount <= 0) {
        return plot.bottom() + 1;
    }
    // The tallest bar leaves a tenth of the plot free above it.
    const double usable = plot.height() * 0.9;
    return plot.bottom() + 1 - usable * count / maxCount;
}

void paintStatistics(QPainter& painter, const QRect& whole, const StatisticsPicture& picture) {
    painter.save();
    painter.fillRect(whole, Qt::white);
    QFont font = painter.font();
    font.setPointSizeF(9.0);
    painter.setFont(font);
    painter.setPen(kText);
    QFont bold = font;
    bold.setBold(true);
    painter.setFont(bold);
    painter.drawText(
        QRect(whole.left() + kGap, whole.top() + 4, whole.width() - 2 * kGap, kTitleHeight),
        Qt::AlignLeft | Qt::AlignVCenter, picture.title);
    painter.setFont(font);
    const StatisticsAreas areas = statisticsAreas(whole);
    drawHistogram(painter, areas.histogram, picture);
    drawTrend(painter, areas.trend, picture);
    drawFigures(painter, areas.figures, picture);
    drawFirstPass(painter, areas.firstPass, picture);
    painter.restore();
}

StatisticsChart::StatisticsChart(QWidget* parent) : QWidget(parent) {
    setMinimumSize(600, 380);
    emptyText_ = QStringLiteral("Choose a check to see its statistics.");
}

void StatisticsChart::setPicture(StatisticsPicture picture) {
    picture_ = std::move(picture);
    shown_ = true;
    update();
}

void StatisticsChart::clear(const QString& why) {
    shown_ = false;
    emptyText_ = why;
    update();
}

void StatisticsChart::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    if (!shown_) {
        painter.fillRect(rect(), Qt::white);
        painter.setPen(QColor(40, 40, 40));
        painter.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap, emptyText_);
        return;
    }
    paintStatistics(painter, rect(), picture_);
}

}  // namespace vitalon
