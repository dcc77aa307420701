#include "cli/CliDisplay.h"

#include "cli/RunSummary.h"
#include "record/StationRecordFormat.h"
#include "record/StationRecordWriter.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <climits>

namespace {

constexpr int kRedrawMs = 100;
constexpr int kBarWidth = 20;

QString Duration(qint64 ms)
{
    const qint64 seconds = ms / 1000;
    return QStringLiteral("%1:%2").arg(seconds / 60, 2, 10, QLatin1Char('0')).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

void AddOutcomes(QJsonObject& event, const RowOutcomeFigures& outcomes)
{
    event.insert(QStringLiteral("ok"), outcomes.ok);
    event.insert(QStringLiteral("fail"), outcomes.failed);
    event.insert(QStringLiteral("canl"), outcomes.cancelled);
    event.insert(QStringLiteral("yield"), outcomes.yield);
    event.insert(QStringLiteral("lastResult"), outcomes.lastResult);
    event.insert(QStringLiteral("lastFailure"), outcomes.lastFailure);
    event.insert(QStringLiteral("lastReason"), outcomes.lastReason);
    event.insert(QStringLiteral("quarantined"), outcomes.quarantined);
    event.insert(QStringLiteral("flagged"), outcomes.flagged);
}

} // namespace

CliDisplay::CliDisplay(Mode mode, const RunSummary& summary, const std::array<bool, 16>& rows, FILE* out)
    : mode(mode), summary(summary), rows(rows), out(out), station(StationRecordWriter::ThisStation())
{
    connect(&redraw, &QTimer::timeout, this, &CliDisplay::Redraw);
}

void CliDisplay::SetLimits(int target, int devicesPerPort)
{
    this->target = target;
    this->devicesPerPort = devicesPerPort;
}

QString CliDisplay::TargetLine(int ok) const
{
    if (target <= 0)
        return QString();
    if (ok >= target)
        return QStringLiteral("Target: %1 good devices, met\n").arg(target);
    return QStringLiteral("Target: %1 good devices, not met (%2 to go)\n").arg(target).arg(target - ok);
}

// Whichever ends the row first: the station's target or the row's own limit.
QString CliDisplay::RemainingColumn(int rowOk) const
{
    if (target <= 0 && devicesPerPort <= 0)
        return QString();
    int left = devicesPerPort > 0 ? devicesPerPort - rowOk : INT_MAX;
    if (target > 0)
        left = std::min(left, target - summary.Total(QStringLiteral("OK")));
    return QStringLiteral(" left ") + QString::number(std::max(left, 0)).rightJustified(4);
}

void CliDisplay::Begin()
{
    clock.start();
    if (mode == Mode::Live) {
        dirty = true;
        Redraw();
        redraw.start(kRedrawMs);
    }
}

void CliDisplay::Emit(const QByteArray& text)
{
    // A reader that went away (a closed pipe) ends the display, not the run.
    if (outputBroken)
        return;
    if (std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), out) != static_cast<size_t>(text.size()) ||
        std::fflush(out) != 0) {
        outputBroken = true;
        std::clearerr(out);
    }
}

void CliDisplay::OnRowState(int row, const PortRowState& state)
{
    if (row < 0 || row >= 16 || !rows[static_cast<size_t>(row)])
        return;
    RowState& kept = states[static_cast<size_t>(row)];
    const PortRowState previous = kept.shown;
    kept.shown = state;
    dirty = true;
    // A quarantine or a row that starts to stand out is news like a new status.
    if (state.statusText != previous.statusText || state.outcomes.quarantined != previous.outcomes.quarantined ||
        state.outcomes.flagged != previous.outcomes.flagged || (state.outcomes.quarantined && state.message != previous.message))
        ReportStatus(row);
    else if (state.percent != previous.percent || state.message != previous.message)
        ReportProgress(row);
}

int CliDisplay::QuarantinedRows() const
{
    int quarantined = 0;
    for (size_t row = 0; row < states.size(); ++row)
        quarantined += rows[row] && states[row].shown.outcomes.quarantined ? 1 : 0;
    return quarantined;
}

void CliDisplay::ReportStatus(int row)
{
    const PortRowState& state = states[static_cast<size_t>(row)].shown;
    const RowOutcomeFigures& outcomes = state.outcomes;
    if (mode == Mode::Lines) {
        const QString standing = outcomes.flagged && !outcomes.quarantined
                                     ? QStringLiteral(" (fails far more often than the other rows)")
                                     : QString();
        Emit(QStringLiteral("row %1 %2 %3 %4%5\n")
                 .arg(QString::number(row + 1).rightJustified(2), state.port, state.statusText, state.message, standing)
                 .toUtf8());
    } else if (mode == Mode::Json) {
        QJsonObject event{{QStringLiteral("event"), QStringLiteral("state")}, {QStringLiteral("row"), row + 1},
                          {QStringLiteral("port"), state.port}, {QStringLiteral("status"), state.statusText},
                          {QStringLiteral("message"), state.message}};
        AddOutcomes(event, outcomes);
        Emit(QJsonDocument(event).toJson(QJsonDocument::Compact) + '\n');
    }
}

void CliDisplay::ReportProgress(int row)
{
    RowState& kept = states[static_cast<size_t>(row)];
    const qint64 now = clock.elapsed();
    if (mode == Mode::Json && now - kept.lastProgressEventMs >= 1000) {
        kept.lastProgressEventMs = now;
        QJsonObject event{{QStringLiteral("event"), QStringLiteral("progress")}, {QStringLiteral("row"), row + 1},
                          {QStringLiteral("percent"), int(kept.shown.percent)},
                          {QStringLiteral("stage"), kept.shown.message},
                          {QStringLiteral("deviceElapsed"), kept.shown.deviceElapsed}};
        const StreamFigures& stream = kept.shown.stream;
        if (stream.megabytesPerSecond >= 0)
            event.insert(QStringLiteral("mbps"), stream.megabytesPerSecond);
        if (stream.timeLeftMs >= 0)
            event.insert(QStringLiteral("timeLeftMs"), double(stream.timeLeftMs));
        AddOutcomes(event, kept.shown.outcomes);
        Emit(QJsonDocument(event).toJson(QJsonDocument::Compact) + '\n');
    }
}

void CliDisplay::OnRecord(const AttemptRecord& record)
{
    dirty = true;
    if (mode == Mode::Json)
        Emit(StationRecordFormat::AttemptJson("\"event\":\"record\"", station, record) + '\n');
    else if (mode == Mode::Lines || (mode == Mode::Quiet && record.result == QLatin1String("FAIL")))
        Emit(QStringLiteral("row %1 %2 %3%4\n")
                 .arg(QString::number(record.row).rightJustified(2), record.port, record.result,
                      record.error.isEmpty() ? QString() : QStringLiteral(" ") + record.error)
                 .toUtf8());
}

void CliDisplay::OnDiskSpace(bool low, const QString& folder, qint64 freeMB, qint64 floorMB)
{
    if (mode != Mode::Json)
        return;
    const QJsonObject event{{QStringLiteral("event"), QStringLiteral("disk")},
                            {QStringLiteral("state"), low ? QStringLiteral("low") : QStringLiteral("room")},
                            {QStringLiteral("folder"), folder},
                            {QStringLiteral("freeMB"), double(freeMB)},
                            {QStringLiteral("floorMB"), double(floorMB)}};
    Emit(QJsonDocument(event).toJson(QJsonDocument::Compact) + '\n');
}

void CliDisplay::OnUnrecorded(const AttemptRecord& record)
{
    std::fprintf(stderr, "praxilo-cli: not in the station record: row %d, port %s, attempt %s\n", record.row,
                 record.port.toLocal8Bit().constData(), record.attempt.toLocal8Bit().constData());
    if (mode != Mode::Json)
        return;
    const QJsonObject event{{QStringLiteral("event"), QStringLiteral("unrecorded")},
                            {QStringLiteral("row"), record.row},
                            {QStringLiteral("port"), record.port},
                            {QStringLiteral("attempt"), record.attempt}};
    Emit(QJsonDocument(event).toJson(QJsonDocument::Compact) + '\n');
}

QString CliDisplay::LiveRow(int row) const
{
    const PortRowState& state = states[static_cast<size_t>(row)].shown;
    const int percent = static_cast<int>(state.percent);
    const RowOutcomeFigures& outcomes = state.outcomes;
    const int filled = percent * kBarWidth / 100;
    const QString bar = QString(filled, QLatin1Char('#')) + QString(kBarWidth - filled, QLatin1Char('.'));
    const QString speed = state.stream.megabytesPerSecond >= 0
                              ? QStringLiteral("%1").arg(state.stream.megabytesPerSecond, 6, 'f', 1)
                              : QStringLiteral("     -");
    const QString eta = state.stream.timeLeftMs >= 0 ? Duration(state.stream.timeLeftMs).rightJustified(5)
                                                     : QStringLiteral("    -");
    const QString yield = outcomes.Attempts() > 0 ? QStringLiteral("%1%").arg(outcomes.yield * 100.0, 0, 'f', 0)
                                                  : QStringLiteral("-");
    // A quarantined row is out until the operator starts it again; a flagged one is on its way there.
    const QChar mark = outcomes.quarantined ? QLatin1Char('Q') : outcomes.flagged ? QLatin1Char('!') : QLatin1Char(' ');
    // Pieces are padded one by one and joined without arg(): a stage text may itself contain "%1".
    return QString::number(row + 1).rightJustified(2) + QLatin1Char(' ') + state.port.left(14).leftJustified(14) +
           QLatin1Char(' ') + state.statusText.left(4).leftJustified(4) + mark + QLatin1Char(' ') +
           state.message.left(26).leftJustified(26) + QStringLiteral(" [") + bar + QStringLiteral("] ") +
           QString::number(percent).rightJustified(3) + QStringLiteral("% ") +
           state.elapsed.left(8).rightJustified(8) + QLatin1Char(' ') +
           QString::number(outcomes.ok).rightJustified(3) + QLatin1Char('/') + QString::number(outcomes.failed).leftJustified(3) +
           QLatin1Char(' ') + yield.rightJustified(4) + QLatin1Char(' ') + speed + QStringLiteral(" MB/s ETA ") + eta + RemainingColumn(outcomes.ok);
}

void CliDisplay::Redraw()
{
    if (!dirty || mode != Mode::Live)
        return;
    dirty = false;
    QByteArray text;
    if (drawnLines > 0)
        text += "\x1b[" + QByteArray::number(drawnLines) + "F";
    drawnLines = 0;
    for (int row = 0; row < 16; ++row) {
        if (!rows[static_cast<size_t>(row)])
            continue;
        text += "\x1b[2K" + LiveRow(row).toUtf8() + '\n';
        ++drawnLines;
    }
    Emit(text);
}

void CliDisplay::End(qint64 wallMs, bool interrupted)
{
    redraw.stop();
    Redraw();
    const auto counts = summary.Rows();
    const int ok = summary.Total(QStringLiteral("OK"));
    const int failed = summary.Total(QStringLiteral("FAIL"));
    const int cancelled = summary.Total(QStringLiteral("CANL"));
    const double perHour = wallMs > 0 ? ok * 3600000.0 / wallMs : 0;
    if (mode == Mode::Json) {
        QJsonArray perRow;
        for (int row = 0; row < 16; ++row) {
            if (!rows[static_cast<size_t>(row)])
                continue;
            const RunSummary::Row& counted = counts[static_cast<size_t>(row)];
            perRow.append(QJsonObject{{QStringLiteral("row"), row + 1}, {QStringLiteral("port"), counted.port},
                                      {QStringLiteral("ok"), counted.ok}, {QStringLiteral("fail"), counted.failed},
                                      {QStringLiteral("canl"), counted.cancelled},
                                      {QStringLiteral("unverified"), counted.unverified},
                                      {QStringLiteral("quarantined"), states[static_cast<size_t>(row)].shown.outcomes.quarantined}});
        }
        QJsonObject event{{QStringLiteral("event"), QStringLiteral("summary")}, {QStringLiteral("rows"), perRow},
                                {QStringLiteral("ok"), ok}, {QStringLiteral("fail"), failed},
                                {QStringLiteral("canl"), cancelled}, {QStringLiteral("unverified"), summary.Unverified()},
                                {QStringLiteral("unrecorded"), static_cast<qint64>(summary.Unrecorded())},
                                {QStringLiteral("quarantined"), QuarantinedRows()},
                                {QStringLiteral("seconds"), wallMs / 1000.0},
                                {QStringLiteral("devicesPerHour"), perHour}, {QStringLiteral("interrupted"), interrupted}};
        if (target > 0) {
            event.insert(QStringLiteral("target"), target);
            event.insert(QStringLiteral("targetMet"), ok >= target);
        }
        Emit(QJsonDocument(event).toJson(QJsonDocument::Compact) + '\n');
        return;
    }
    QString text = QStringLiteral("\nRow  Port             OK  FAIL  CANL\n");
    for (int row = 0; row < 16; ++row) {
        if (!rows[static_cast<size_t>(row)])
            continue;
        const RunSummary::Row& counted = counts[static_cast<size_t>(row)];
        text += QString::number(row + 1).rightJustified(3) + QStringLiteral("  ") + counted.port.leftJustified(14) +
                QString::number(counted.ok).rightJustified(5) + QString::number(counted.failed).rightJustified(6) +
                QString::number(counted.cancelled).rightJustified(6) +
                (states[static_cast<size_t>(row)].shown.outcomes.quarantined ? QStringLiteral("  quarantined") : QString()) +
                QLatin1Char('\n');
    }
    if (QuarantinedRows() > 0)
        text += QStringLiteral("Quarantined: %1 row(s), their port, cable or hub needs a look\n").arg(QuarantinedRows());
    text += QStringLiteral("Total: %1 OK, %2 FAIL, %3 CANL in %4 s, %5 devices per hour%6\n")
                .arg(ok)
                .arg(failed)
                .arg(cancelled)
                .arg(wallMs / 1000.0, 0, 'f', 1)
                .arg(perHour, 0, 'f', 0)
                .arg(interrupted ? QStringLiteral(" (stopped by a signal)") : QString());
    if (summary.Unverified() > 0)
        text += QStringLiteral("Unverified: %1 of the OK devices had no checksum compared with the load's\n")
                    .arg(summary.Unverified());
    if (summary.Unrecorded() > 0)
        text += QStringLiteral("Unrecorded: %1 attempt(s) could not be written to the station record\n")
                    .arg(summary.Unrecorded());
    text += TargetLine(ok);
    Emit(text.toUtf8());
}
