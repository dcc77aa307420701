#include "ui/StationPanel.h"

#include "ui/StationPanelCharts.h"

#include <QAction>
#include <QHeaderView>
#include <QLabel>
#include <QMainWindow>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

constexpr int kRefreshMs = 1000;
constexpr int kChartBuckets = 24;

QString Minutes(qint64 ms)
{
    if (ms < 0)
        return QString();
    const qint64 s = ms / 1000;
    return QStringLiteral("%1:%2").arg(s / 60, 2, 10, QLatin1Char('0')).arg(s % 60, 2, 10, QLatin1Char('0'));
}

QString Percent(double fraction, int attempts)
{
    return attempts > 0 ? QStringLiteral("%1%").arg(fraction * 100.0, 0, 'f', 1) : QString();
}

QColor ResultColour(const QString& result)
{
    if (result == QLatin1String("OK"))
        return QColor(0, 140, 0);
    if (result == QLatin1String("FAIL"))
        return QColor(200, 0, 0);
    if (result == QLatin1String("CANL"))
        return QColor(170, 110, 0);
    return QColor();
}

} // namespace

StationPanelFeed::StationPanelFeed(AttemptRecorder& next) : next(next)
{
    qRegisterMetaType<AttemptRecord>("AttemptRecord");
}

bool StationPanelFeed::Started(const AttemptRecord& attempt)
{
    if (!next.Started(attempt))
        return false;
    Q_EMIT SigAttemptStarted(attempt);
    return true;
}

// The record is stored before the panel counts it, so the panel never shows what the record lacks.
bool StationPanelFeed::Record(const AttemptRecord& record)
{
    const bool stored = next.Record(record);
    Q_EMIT SigAttemptEnded(record);
    return stored;
}

StationPanel::StationPanel(QMainWindow* window)
    : QDockWidget(tr("Station Panel"), window), portNames(StationPanelModel::kRows)
{
    setObjectName(QStringLiteral("dockStationPanel"));
    toggleViewAction()->setObjectName(QStringLiteral("actionStationPanel"));
    auto* body = new QWidget(this);
    auto* layout = new QVBoxLayout(body);
    layout->setContentsMargins(4, 4, 4, 4);
    targetControl = new StationTargetControl(body);
    totals = new QLabel(body);
    totals->setObjectName(QStringLiteral("lblStationTotals"));
    totals->setTextFormat(Qt::PlainText);
    diskSpace = new QLabel(body);
    diskSpace->setObjectName(QStringLiteral("lblDiskSpace"));
    diskSpace->setTextFormat(Qt::PlainText);
    diskSpace->setWordWrap(true);
    diskSpace->setStyleSheet(QStringLiteral("color: #c00000; font-weight: bold;"));
    diskSpace->hide();
    strip = new FailureStrip(body);
    strip->setObjectName(QStringLiteral("wdgFailureStrip"));
    strip->setToolTip(tr("Failure rate of each row's last %1 attempts").arg(StationPanelModel::kRecentAttempts));
    // Squeezed for height, the rows and the strip stay; the chart gives way.
    strip->setMinimumHeight(strip->sizeHint().height() * 3 / 4);
    rows = new QTableWidget(StationPanelModel::kRows, ColumnCount, body);
    rows->setObjectName(QStringLiteral("twStationRows"));
    rows->setHorizontalHeaderLabels({tr("Port"), tr("OK"), tr("FAIL"), tr("CANL"), tr("Yield"), tr("Last"), tr("Stage"),
                                     tr("Reason"), tr("Device"), tr("MB/s"), tr("Left"), tr("Flags")});
    rows->setEditTriggers(QAbstractItemView::NoEditTriggers);
    rows->setSelectionMode(QAbstractItemView::NoSelection);
    rows->setFocusPolicy(Qt::NoFocus);
    rows->setWordWrap(false);
    rows->verticalHeader()->setDefaultSectionSize(20);
    rows->horizontalHeader()->setStretchLastSection(true);
    for (int row = 0; row < StationPanelModel::kRows; ++row) {
        for (int column = 0; column < ColumnCount; ++column)
            rows->setItem(row, column, new QTableWidgetItem);
    }
    // The port, last result and counts first: the rest gives way to the row's tooltip on a narrow panel.
    // The port names the row; a column of row numbers would take the width the panel needs beside the window.
    rows->verticalHeader()->hide();
    columns = new StationPanelColumns(rows, {76, 30, 34, 42, 60, 90, 70, 96, 52, 46, 46, 60},
                                      {Port, Last, Fail, Ok, Yield, Canl, Reason, Left, Rate, Device, Stage, Flags}, 4);
    // All sixteen rows without scrolling: a row out of sight is a row nobody watches.
    rows->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    rows->setMinimumHeight(rows->horizontalHeader()->sizeHint().height() +
                           StationPanelModel::kRows * rows->verticalHeader()->defaultSectionSize() + 2 * rows->frameWidth());
    chart = new RateChart(body);
    chart->setObjectName(QStringLiteral("wdgRateChart"));
    chart->setToolTip(tr("OK devices per hour over the shift"));
    // Below the totals, so that the panel can be as narrow as the target's box.
    totals->setWordWrap(true);
    layout->addWidget(totals);
    layout->addWidget(targetControl, 0, Qt::AlignLeft);
    layout->addWidget(diskSpace);
    layout->addWidget(strip);
    layout->addWidget(rows, 1);
    layout->addWidget(chart);
    setWidget(body);
    // A click anywhere in the panel takes the keyboard focus away from the target, where a key would change it.
    body->setFocusPolicy(Qt::ClickFocus);

    window->addDockWidget(Qt::RightDockWidgetArea, this);
    // Docked, it would take its width from the port table; floating, nothing of the window moves.
    setFloating(true);
    place = new StationPanelPlace(this, window);
    SetPlaceWidths();
    resize(columns->FullWidth() + widget()->layout()->contentsMargins().left() * 2, sizeHint().height());
    toggleViewAction()->setShortcut(QKeySequence(Qt::Key_F9));
    // The key works from the panel's own window too.
    toggleViewAction()->setShortcutContext(Qt::ApplicationShortcut);
    connect(&refreshTimer, &QTimer::timeout, this, [this] {
        if (isVisible())
            Refresh();
    });
    refreshTimer.start(kRefreshMs);
    Refresh();
}

void StationPanel::ShowDiskSpace(bool low, const QString& text)
{
    diskSpace->setText(low ? text : QString());
    diskSpace->setToolTip(low ? text : QString());
    diskSpace->setVisible(low);
}

void StationPanel::AttemptStarted(const AttemptRecord& attempt) { model.AttemptStarted(attempt); }

void StationPanel::AttemptEnded(const AttemptRecord& record)
{
    model.AttemptEnded(record);
    targetControl->Refresh();
}

void StationPanel::ApplyRowState(int index, const PortRowState& state)
{
    model.ApplyRowState(index, state);
    if (index >= 0 && index < portNames.size())
        portNames[index] = state.port;
    if (columns->FitText(Port, state.port))
        SetPlaceWidths();
    // A worker counts its device towards the target after handing over the record: the row's next state
    // follows the count.
    targetControl->Refresh();
}

void StationPanel::MarkStart()
{
    targetControl->ApplyAtStart();
    targetControl->Refresh();
    model.MarkStart(QDateTime::currentDateTimeUtc());
}

void StationPanel::Refresh()
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QVector<double> rates(StationPanelModel::kRows, -1.0);
    for (int index = 0; index < StationPanelModel::kRows; ++index) {
        const PanelRowFigures row = model.Row(index, now);
        RefreshRow(index, row);
        if (row.ok + row.failed > 0)
            rates[index] = row.recentFailureRate;
    }
    strip->SetRates(rates);
    targetControl->Refresh();
    chart->SetValues(model.OkPerHourOverShift(now, kChartBuckets));

    const PanelStationFigures station = model.Station(now);
    const QString level = station.checksumLevel < 0 ? tr("none yet") : QString::number(station.checksumLevel);
    const QString text =
        tr("OK %1   FAIL %2   CANL %3   Yield %4\nOK/h last %5 min: %6   since Start: %7\n"
           "OK not verified: %8 (checksum level %9)")
            .arg(station.ok)
            .arg(station.failed)
            .arg(station.cancelled)
            .arg(Percent(station.yield, station.Attempts()).isEmpty() ? QStringLiteral("-")
                                                                      : Percent(station.yield, station.Attempts()))
            .arg(StationPanelModel::kRecentWindowMinutes)
            .arg(station.okPerHourRecent, 0, 'f', 0)
            .arg(station.okPerHourSinceStart, 0, 'f', 0)
            .arg(station.okNotVerified)
            .arg(level);
    if (totals->text() != text) {
        totals->setText(text);
        totals->setToolTip(text);
    }
}

void StationPanel::RefreshRow(int index, const PanelRowFigures& row)
{
    const QString port = portNames[index].isEmpty() ? QString::number(index + 1) : portNames[index];
    SetCell(index, Port, port, port);
    SetCell(index, Ok, QString::number(row.ok));
    SetCell(index, Fail, QString::number(row.failed));
    SetCell(index, Canl, QString::number(row.cancelled));
    SetCell(index, Yield, Percent(row.yield, row.Attempts()));
    // A quarantined row ended on FAIL; what the operator must see is that it no longer polls, and why.
    if (row.quarantined)
        SetCell(index, Last, tr("QUARANTINED"), row.quarantineReason);
    else
        SetCell(index, Last, row.lastResult);
    QTableWidgetItem* last = rows->item(index, Last);
    const QColor colour = row.quarantined ? ResultColour(QStringLiteral("FAIL")) : ResultColour(row.lastResult);
    if (last->foreground().color() != colour)
        last->setForeground(colour.isValid() ? QBrush(colour) : QBrush());
    const QBrush background = row.quarantined ? QBrush(QColor(255, 215, 215)) : QBrush();
    if (last->background() != background)
        last->setBackground(background);
    SetCell(index, Stage, row.failedStage, row.failedStage);
    SetCell(index, Reason, row.lastReason, row.lastError);
    SetCell(index, Device, Minutes(row.deviceElapsedMs));
    SetCell(index, Rate, row.megabytesPerSecond < 0 ? QString() : QString::number(row.megabytesPerSecond, 'f', 1));
    SetCell(index, Left, Minutes(row.timeLeftMs));
    QStringList flags;
    if (row.flagged)
        flags << tr("outlier");
    SetCell(index, Flags, flags.join(QStringLiteral(", ")), flags.join(QStringLiteral(", ")));
}

// Only a changed cell is written: a repaint of 192 cells a second would cost the thread the rows need.
void StationPanel::SetCell(int row, int column, const QString& text, const QString& toolTip)
{
    QTableWidgetItem* item = rows->item(row, column);
    if (item->text() != text)
        item->setText(text);
    if (item->toolTip() != toolTip)
        item->setToolTip(toolTip);
}

void StationPanel::SetPlaceWidths()
{
    const int margins = widget()->layout()->contentsMargins().left() + widget()->layout()->contentsMargins().right();
    place->SetWidths(std::max(columns->NarrowestWidth(), targetControl->sizeHint().width()) + margins,
                     columns->FullWidth() + margins);
}

void StationPanel::RestorePlace(const QString& settingsFile) { place->Restore(settingsFile); }
void StationPanel::KeepPlace() { place->Keep(); }
void StationPanel::SavePlace(const QString& settingsFile) const { place->Save(settingsFile); }
