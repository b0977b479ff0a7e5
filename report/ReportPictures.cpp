#include "ReportPictures.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <optional>
#include <span>
#include <vector>

namespace vitalon::report {

namespace {

constexpr qreal kScale = 2.0;

struct Plot {
    QString caption;
    std::vector<double> values;  // counts
    double samplesPerSecond = 0.0;
    std::optional<std::pair<std::size_t, std::size_t>> shaded;  // [first, end)
    std::optional<std::size_t> marker;
};

QImage draw(const Plot& plot) {
    QImage image(QSize(kPictureWidth, kPictureHeight) * kScale, QImage::Format_RGB32);
    image.setDevicePixelRatio(kScale);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);

    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(11);
    painter.setFont(font);
    const QFontMetricsF metrics(font);
    const qreal line = metrics.height();

    painter.setPen(Qt::black);
    painter.drawText(QRectF(0, 0, kPictureWidth, line + 2), Qt::AlignLeft | Qt::AlignVCenter,
                     plot.caption);

    const QRectF area(38, line + 6, kPictureWidth - 46, kPictureHeight - 2 * line - 12);
    const std::size_t count = plot.values.size();
    if (count < 2 || plot.samplesPerSecond <= 0.0) {
        painter.setPen(Qt::darkGray);
        painter.drawRect(area);
        painter.drawText(area, Qt::AlignCenter, QStringLiteral("no samples recorded"));
        return image;
    }

    // Whole tens of counts around the values, at least 20 counts high.
    const auto [low, high] = std::ranges::minmax(plot.values);
    double bottom = std::floor(low / 10.0) * 10.0;
    double top = std::ceil(high / 10.0) * 10.0;
    if (top - bottom < 20.0) {
        const double middle = std::round((top + bottom) / 20.0) * 10.0;
        bottom = middle - 10.0;
        top = middle + 10.0;
    }
    const double seconds = static_cast<double>(count - 1) / plot.samplesPerSecond;
    const auto x = [&](double index) {
        return area.left() + area.width() * index / static_cast<double>(count - 1);
    };
    const auto y = [&](double counts) {
        return area.bottom() - area.height() * (counts - bottom) / (top - bottom);
    };

    if (plot.shaded) {
        painter.fillRect(
            QRectF(QPointF(x(static_cast<double>(plot.shaded->first)), area.top()),
                   QPointF(x(static_cast<double>(plot.shaded->second - 1)), area.bottom())),
            QColor(255, 236, 179));
    }

    // Grid and axis labels: every 10 counts (every 20 or 50 on tall plots) and every 0.1 s.
    const double countStep = top - bottom > 200 ? 50.0 : top - bottom > 80 ? 20.0 : 10.0;
    painter.setPen(QPen(QColor(225, 225, 225), 0.8));
    for (double c = bottom; c <= top + 1e-9; c += countStep) {
        painter.drawLine(QPointF(area.left(), y(c)), QPointF(area.right(), y(c)));
    }
    const double timeStep = seconds > 2.5 ? 0.5 : 0.1;
    for (double t = 0.0; t <= seconds + 1e-9; t += timeStep) {
        const double px = area.left() + area.width() * t / seconds;
        painter.drawLine(QPointF(px, area.top()), QPointF(px, area.bottom()));
    }
    painter.setPen(Qt::darkGray);
    painter.drawText(QRectF(0, y(top) - line / 2, area.left() - 4, line),
                     Qt::AlignRight | Qt::AlignVCenter, QString::number(top, 'f', 0));
    painter.drawText(QRectF(0, y(bottom) - line / 2, area.left() - 4, line),
                     Qt::AlignRight | Qt::AlignVCenter, QString::number(bottom, 'f', 0));
    painter.drawText(QRectF(area.left(), area.bottom() + 2, area.width(), line),
                     Qt::AlignLeft | Qt::AlignTop, QStringLiteral("0 s"));
    painter.drawText(QRectF(area.left(), area.bottom() + 2, area.width(), line),
                     Qt::AlignRight | Qt::AlignTop,
                     QStringLiteral("%1 s, grid %2 s and %3 counts")
                         .arg(QString::number(seconds, 'f', 2), QString::number(timeStep, 'f', 1),
                              QString::number(countStep, 'f', 0)));
    painter.drawRect(area);

    if (plot.marker && *plot.marker < count) {
        painter.setPen(QPen(QColor(198, 40, 40), 1.0, Qt::DashLine));
        const double px = x(static_cast<double>(*plot.marker));
        painter.drawLine(QPointF(px, area.top()), QPointF(px, area.bottom()));
    }

    QPainterPath path;
    path.moveTo(x(0), y(plot.values[0]));
    for (std::size_t i = 1; i < count; ++i) {
        path.lineTo(x(static_cast<double>(i)), y(plot.values[i]));
    }
    painter.setPen(QPen(QColor(21, 101, 192), 1.4));
    painter.drawPath(path);
    return image;
}

}  // namespace

QImage calibrationPicture(const analysis::CalibrationTrace& trace) {
    Plot plot;
    plot.values.assign(trace.samples.begin(), trace.samples.end());
    plot.samplesPerSecond = trace.samplesPerSecond;
    plot.caption = QStringLiteral("A%1: ").arg(trace.amplification);
    if (trace.pulse && trace.pulse->fall > trace.pulse->rise) {
        plot.shaded = std::pair(trace.pulse->rise, trace.pulse->fall);
        plot.caption += QStringLiteral("height %1 counts, width %2 s, droop %3 %")
                            .arg(QString::number(trace.pulse->heightCounts, 'f', 1),
                                 QString::number(trace.pulse->widthSeconds, 'f', 3),
                                 QString::number(trace.pulse->droopPercent, 'f', 1));
    } else {
        plot.caption += QStringLiteral("no rectangle found");
    }
    return draw(plot);
}

QImage beatPicture(const analysis::LeadBeat& lead) {
    Plot plot;
    plot.values = lead.average.samples;
    plot.samplesPerSecond = lead.average.samplesPerSecond;
    plot.caption = QStringLiteral("Lead %1: ").arg(QString::fromStdString(lead.lead));
    if (lead.average.beats > 0) {
        plot.marker = lead.average.rIndex;
        plot.caption += QStringLiteral("%1 beats averaged, R wave %2 counts")
                            .arg(lead.average.beats)
                            .arg(QString::number(lead.average.rAmplitude(), 'f', 1));
    } else {
        plot.caption += QStringLiteral("no beats found");
    }
    return draw(plot);
}

}  // namespace vitalon::report
