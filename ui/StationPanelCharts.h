#pragma once

#include <QVector>
#include <QWidget>

// Sixteen cells, one per row, from green (no recent failure) to red (every recent attempt failed); a row
// without an attempt yet is grey. Seen across the floor, it names the port to look at.
class FailureStrip : public QWidget
{
public:
    explicit FailureStrip(QWidget* parent = nullptr);
    // One rate per row, 0 to 1, or negative for a row with no attempt yet.
    void SetRates(const QVector<double>& rates);
    QVector<double> Rates() const { return rates; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QVector<double> rates;
};

// Bars of OK devices per hour over the shift, oldest left, scaled to the highest.
class RateChart : public QWidget
{
public:
    explicit RateChart(QWidget* parent = nullptr);
    void SetValues(const QVector<double>& values);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QVector<double> values;
};
