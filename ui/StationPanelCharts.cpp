#include "ui/StationPanelCharts.h"

#include <QPainter>

#include <algorithm>

namespace {

QColor RateColour(double rate)
{
    if (rate < 0)
        return QColor(190, 190, 190);
    // Hue from green (120) to red (0): a row's trouble shows before it reads as a number.
    const double clamped = std::min(1.0, rate);
    return QColor::fromHsvF((1.0 - clamped) * 120.0 / 360.0, 0.75, 0.9);
}

} // namespace

FailureStrip::FailureStrip(QWidget* parent) : QWidget(parent), rates(16, -1.0) {}

void FailureStrip::SetRates(const QVector<double>& newRates)
{
    if (newRates == rates)
        return;
    rates = newRates;
    update();
}

QSize FailureStrip::sizeHint() const { return QSize(16 * 22, 26); }

void FailureStrip::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const int count = std::max(1, rates.size());
    const double cellWidth = static_cast<double>(width()) / count;
    QFont small = font();
    small.setPointSizeF(std::max(6.0, small.pointSizeF() - 1));
    painter.setFont(small);
    for (int i = 0; i < rates.size(); ++i) {
        const QRectF cell(i * cellWidth + 1, 1, cellWidth - 2, height() - 2);
        painter.fillRect(cell, RateColour(rates[i]));
        painter.setPen(Qt::black);
        painter.drawText(cell, Qt::AlignCenter, QString::number(i + 1));
    }
}

RateChart::RateChart(QWidget* parent) : QWidget(parent) {}

void RateChart::SetValues(const QVector<double>& newValues)
{
    if (newValues == values)
        return;
    values = newValues;
    update();
}

QSize RateChart::sizeHint() const { return QSize(16 * 22, 70); }

void RateChart::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().base());
    painter.setPen(palette().mid().color());
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    const double highest = values.isEmpty() ? 0 : *std::max_element(values.begin(), values.end());
    if (highest <= 0)
        return;
    const double barWidth = static_cast<double>(width() - 2) / values.size();
    const int usable = height() - 16;
    for (int i = 0; i < values.size(); ++i) {
        const double barHeight = usable * values[i] / highest;
        painter.fillRect(QRectF(1 + i * barWidth + 1, height() - 1 - barHeight, barWidth - 2, barHeight),
                         QColor(70, 130, 180));
    }
    painter.setPen(palette().text().color());
    painter.drawText(rect().adjusted(4, 2, -4, -2), Qt::AlignTop | Qt::AlignLeft,
                     tr("max %1 OK/h").arg(highest, 0, 'f', 0));
}
