#pragma once

#include <QRect>
#include <QString>
#include <QWidget>
#include <vector>

#include "CheckStatistics.h"

class QPainter;

namespace vitalon {

// What the statistics view shows for one check under one set of limits.
struct StatisticsPicture {
    QString title;  // the check's identifier and name
    results::CheckGroup group;
    std::vector<results::DayYield> firstPass;  // of the filtered runs, oldest day first
    int demonstrationsLeftOut = 0;
    int otherGroups = 0;  // groups under other limits, shown on their own
};

// The four panels of the picture inside `whole`: the histogram with the
// limits, the trend of the daily means, the figures, and the first-pass yield
// per day.
struct StatisticsAreas {
    QRect histogram;
    QRect trend;
    QRect figures;
    QRect firstPass;
};
StatisticsAreas statisticsAreas(const QRect& whole);
// Where a panel's axes go: the panel less its title and axis labels.
QRect plotArea(const QRect& panel);

// The x of `value` in the histogram's plot: the bins span the plot's width.
double histogramX(const QRect& plot, const results::Histogram& histogram, double value);
// The y of the top of a bar of `count` when the tallest bar has `maxCount`.
double histogramY(const QRect& plot, int maxCount, int count);

// Draws the picture into `whole` with QPainter, as the report's pictures are.
void paintStatistics(QPainter& painter, const QRect& whole, const StatisticsPicture& picture);

// The widget that shows a StatisticsPicture.
class StatisticsChart : public QWidget {
    Q_OBJECT
public:
    explicit StatisticsChart(QWidget* parent = nullptr);

    void setPicture(StatisticsPicture picture);
    void clear(const QString& why);
    const StatisticsPicture& picture() const { return picture_; }
    bool hasPicture() const { return shown_; }

    QSize sizeHint() const override { return {900, 560}; }

    static QColor barColor() { return QColor(70, 130, 180); }
    static QColor limitColor() { return QColor(198, 40, 40); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    StatisticsPicture picture_;
    bool shown_ = false;
    QString emptyText_;
};

}  // namespace vitalon
