#include "ui/StationPanelModel.h"

#include <algorithm>

namespace {

bool IsRow(int index) { return index >= 0 && index < StationPanelModel::kRows; }

double PerHour(int count, qint64 ms) { return ms > 0 ? count * 3600000.0 / static_cast<double>(ms) : 0; }

} // namespace

void StationPanelModel::MarkStart(const QDateTime& now)
{
    // The first Start of the shift counts; a row started again later does not restart the station's clock.
    if (!startedAt.isValid())
        startedAt = now;
}

void StationPanelModel::ApplyRowState(int index, const PortRowState& state)
{
    if (!IsRow(index))
        return;
    RowData& row = rows[static_cast<size_t>(index)];
    row.figures.status = state.status;
    // A state queued before a newer one of the same row must not take its counts back.
    if (state.outcomes.version >= row.outcomes.version)
        row.outcomes = state.outcomes;
    row.stream = state.stream;
    // The port manager writes why into the row's message once the row's last status is shown; until then
    // the failed stage and reason say it.
    if (!row.outcomes.quarantined)
        row.quarantineReason.clear();
    else if (!state.message.isEmpty())
        row.quarantineReason = state.message;
    else if (row.quarantineReason.isEmpty())
        row.quarantineReason = row.outcomes.lastFailure + QStringLiteral(": ") + row.outcomes.lastReason;
}

void StationPanelModel::AttemptStarted(const AttemptRecord& attempt)
{
    const int index = attempt.row - 1;
    if (!IsRow(index))
        return;
    RowData& row = rows[static_cast<size_t>(index)];
    row.deviceStart = attempt.start;
    row.deviceEnd = QDateTime();
}

void StationPanelModel::AttemptEnded(const AttemptRecord& record)
{
    const int index = record.row - 1;
    if (!IsRow(index))
        return;
    RowData& row = rows[static_cast<size_t>(index)];
    PanelRowFigures& figures = row.figures;
    if (record.result == QLatin1String("OK")) {
        ++figures.ok;
        okEnds.push_back(record.end);
        if (record.verifiedImages < record.imagesWritten)
            ++okNotVerified;
    } else if (record.result == QLatin1String("FAIL")) {
        ++figures.failed;
    } else {
        ++figures.cancelled;
    }
    figures.yield = figures.Attempts() > 0 ? static_cast<double>(figures.ok) / figures.Attempts() : 0;
    figures.lastResult = record.result;
    figures.failedStage = record.failedStage;
    figures.lastError = record.result == QLatin1String("OK") ? QString() : record.error;
    figures.lastReason = ShortReason(figures.lastError);
    // An operator's cancel says nothing about the port or the devices on it.
    if (record.result != QLatin1String("CANL")) {
        row.recentFailures.push_back(record.result == QLatin1String("FAIL"));
        if (row.recentFailures.size() > static_cast<size_t>(kRecentAttempts))
            row.recentFailures.pop_front();
        const auto failures = std::count(row.recentFailures.begin(), row.recentFailures.end(), true);
        figures.recentFailureRate = static_cast<double>(failures) / static_cast<double>(row.recentFailures.size());
    }
    if (!row.deviceStart.isValid())
        row.deviceStart = record.start;
    row.deviceEnd = record.end;
    if (!firstAttemptStart.isValid() || record.start < firstAttemptStart)
        firstAttemptStart = record.start;
    checksumLevel = record.checksumLevel;
}

PanelRowFigures StationPanelModel::Row(int index, const QDateTime& now) const
{
    if (!IsRow(index))
        return PanelRowFigures();
    const RowData& row = rows[static_cast<size_t>(index)];
    PanelRowFigures figures = row.figures;
    // The row's own counts restart with its Start, which the attempts alone cannot tell.
    if (row.outcomes.version > 0) {
        const RowOutcomeFigures& outcomes = row.outcomes;
        figures.ok = outcomes.ok;
        figures.failed = outcomes.failed;
        figures.cancelled = outcomes.cancelled;
        figures.yield = outcomes.yield;
        figures.lastResult = outcomes.lastResult;
        figures.failedStage = outcomes.lastFailure;
        if (outcomes.Attempts() == 0)
            figures.lastError = figures.lastReason = QString();
        figures.quarantined = outcomes.quarantined;
        figures.quarantineReason = row.quarantineReason;
        figures.flagged = outcomes.flagged;
    }
    figures.megabytesPerSecond = row.stream.megabytesPerSecond;
    figures.timeLeftMs = row.stream.timeLeftMs;
    if (row.deviceStart.isValid())
        figures.deviceElapsedMs = std::max<qint64>(0, row.deviceStart.msecsTo(row.deviceEnd.isValid() ? row.deviceEnd : now));
    return figures;
}

QDateTime StationPanelModel::ShiftStart() const
{
    if (startedAt.isValid() && (!firstAttemptStart.isValid() || startedAt <= firstAttemptStart))
        return startedAt;
    return firstAttemptStart;
}

PanelStationFigures StationPanelModel::Station(const QDateTime& now) const
{
    PanelStationFigures station;
    for (const RowData& row : rows) {
        station.ok += row.figures.ok;
        station.failed += row.figures.failed;
        station.cancelled += row.figures.cancelled;
    }
    station.yield = station.Attempts() > 0 ? static_cast<double>(station.ok) / station.Attempts() : 0;
    const QDateTime shiftStart = ShiftStart();
    if (shiftStart.isValid()) {
        station.okPerHourSinceStart = PerHour(station.ok, shiftStart.msecsTo(now));
        // A shift younger than the window is measured over what it has run, not diluted by time before it.
        const QDateTime windowStart = std::max(shiftStart, now.addSecs(-60 * kRecentWindowMinutes));
        const auto recent = std::count_if(okEnds.begin(), okEnds.end(),
                                          [&windowStart](const QDateTime& end) { return end > windowStart; });
        station.okPerHourRecent = PerHour(static_cast<int>(recent), windowStart.msecsTo(now));
    }
    station.okNotVerified = okNotVerified;
    station.checksumLevel = checksumLevel;
    return station;
}

QVector<double> StationPanelModel::OkPerHourOverShift(const QDateTime& now, int buckets) const
{
    QVector<double> perHour(std::max(buckets, 0), 0.0);
    const QDateTime shiftStart = ShiftStart();
    const qint64 span = shiftStart.isValid() ? shiftStart.msecsTo(now) : 0;
    if (buckets <= 0 || span <= 0)
        return perHour;
    QVector<int> counts(buckets, 0);
    for (const QDateTime& end : okEnds) {
        const qint64 at = shiftStart.msecsTo(end);
        if (at < 0 || at > span)
            continue;
        ++counts[static_cast<int>(std::min<qint64>(buckets - 1, at * buckets / span))];
    }
    for (int i = 0; i < buckets; ++i)
        perHour[i] = PerHour(counts[i], span / buckets);
    return perHour;
}

QString StationPanelModel::ShortReason(const QString& error)
{
    const QString firstLine = error.section(QLatin1Char('\n'), 0, 0).trimmed();
    if (firstLine.size() <= kReasonLength)
        return firstLine;
    return firstLine.left(kReasonLength - 1) + QChar(0x2026);
}
