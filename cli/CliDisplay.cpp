#include "cli/CliDisplay.h"

#include "cli/RunSummary.h"
#include "record/StationRecordFormat.h"

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

} // namespace

CliDisplay::CliDisplay(Mode mode, const RunSummary& summary, const std::array<bool, 16>& rows, qint64 loadBytes,
                       FILE* out)
    : mode(mode), summary(summary), rows(rows), loadBytes(loadBytes), out(out)
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
    if (state.statusText != previous.statusText)
        ReportStatus(row);
    else if (state.percent != previous.percent || state.message != previous.message)
        ReportProgress(row, previous.percent);
}

void CliDisplay::ReportStatus(int row)
{
    const PortRowState& state = states[static_cast<size_t>(row)].shown;
    if (mode == Mode::Lines) {
        Emit(QStringLiteral("row %1 %2 %3 %4\n")
                 .arg(QString::number(row + 1).rightJustified(2), state.port, state.statusText, state.message)
                 .toUtf8());
    } else if (mode == Mode::Json) {
        const QJsonObject event{{QStringLiteral("event"), QStringLiteral("state")}, {QStringLiteral("row"), row + 1},
                                {QStringLiteral("port"), state.port}, {QStringLiteral("status"), state.statusText},
                                {QStringLiteral("message"), state.message}};
        Emit(QJsonDocument(event).toJson(QJsonDocument::Compact) + '\n');
    }
}

void CliDisplay::ReportProgress(int row, unsigned int previousPercent)
{
    RowState& kept = states[static_cast<size_t>(row)];
    const qint64 now = clock.elapsed();
    if (kept.shown.percent < previousPercent || kept.sessionStartMs == 0)
        kept.sessionStartMs = now;
    if (mode == Mode::Json && now - kept.lastProgressEventMs >= 1000) {
        kept.lastProgressEventMs = now;
        const QJsonObject event{{QStringLiteral("event"), QStringLiteral("progress")}, {QStringLiteral("row"), row + 1},
                                {QStringLiteral("percent"), int(kept.shown.percent)},
                                {QStringLiteral("stage"), kept.shown.message}};
        Emit(QJsonDocument(event).toJson(QJsonDocument::Compact) + '\n');
    }
}

void CliDisplay::OnRecord(const AttemptRecord& record)
{
    dirty = true;
    if (mode == Mode::Json)
        Emit(StationRecordFormat::AttemptJson("\"event\":\"record\"", record) + '\n');
    else if (mode == Mode::Lines)
        Emit(QStringLiteral("row %1 %2 %3%4\n")
                 .arg(QString::number(record.row).rightJustified(2), record.port, record.result,
                      record.error.isEmpty() ? QString() : QStringLiteral(" ") + record.error)
                 .toUtf8());
}

QString CliDisplay::LiveRow(int row) const
{
    const RowState& kept = states[static_cast<size_t>(row)];
    const PortRowState& state = kept.shown;
    const int percent = static_cast<int>(state.percent);
    const RunSummary::Row counts = summary.Rows()[static_cast<size_t>(row)];
    const int filled = percent * kBarWidth / 100;
    const QString bar = QString(filled, QLatin1Char('#')) + QString(kBarWidth - filled, QLatin1Char('.'));
    QString speed = QStringLiteral("     -");
    QString eta = QStringLiteral("    -");
    const qint64 running = clock.elapsed() - kept.sessionStartMs;
    if (loadBytes > 0 && percent > 0 && percent < 100 && running > 0) {
        const double done = loadBytes * percent / 100.0;
        const double bytesPerMs = done / running;
        speed = QStringLiteral("%1").arg(bytesPerMs * 1000.0 / 1e6, 6, 'f', 1);
        eta = Duration(static_cast<qint64>((loadBytes - done) / bytesPerMs)).rightJustified(5);
    }
    // Pieces are padded one by one and joined without arg(): a stage text may itself contain "%1".
    return QString::number(row + 1).rightJustified(2) + QLatin1Char(' ') + state.port.left(14).leftJustified(14) +
           QLatin1Char(' ') + state.statusText.left(4).leftJustified(4) + QLatin1Char(' ') +
           state.message.left(26).leftJustified(26) + QStringLiteral(" [") + bar + QStringLiteral("] ") +
           QString::number(percent).rightJustified(3) + QStringLiteral("% ") +
           state.elapsed.left(8).rightJustified(8) + QLatin1Char(' ') +
           QString::number(counts.ok).rightJustified(3) + QLatin1Char('/') + QString::number(counts.failed).leftJustified(3) +
           QLatin1Char(' ') + speed + QStringLiteral(" MB/s ETA ") + eta + RemainingColumn(counts.ok);
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
                                      {QStringLiteral("unverified"), counted.unverified}});
        }
        QJsonObject event{{QStringLiteral("event"), QStringLiteral("summary")}, {QStringLiteral("rows"), perRow},
                                {QStringLiteral("ok"), ok}, {QStringLiteral("fail"), failed},
                                {QStringLiteral("canl"), cancelled}, {QStringLiteral("unverified"), summary.Unverified()},
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
                QString::number(counted.cancelled).rightJustified(6) + QLatin1Char('\n');
    }
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
    text += TargetLine(ok);
    Emit(text.toUtf8());
}
