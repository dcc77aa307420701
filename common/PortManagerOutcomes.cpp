// Each row's outcomes since its last Start beside the window's cells: counts, the current device's time,
// the streaming figures, and the quarantine of a row whose devices keep failing.
#include "common/PortManager.h"
#include "common/PortTableColumn.h"

#include "logging/Log.h"

#include <QDateTime>

static constexpr char kLogSource[] = "Common\\PortManager";

void PortManager::SetQuarantineAfter(int after) { quarantineAfter = after < 0 ? 0 : after; }

// User-interface thread, before the row's worker exists.
void PortManager::RestartOutcomes(int index)
{
    rowOutcomes.Restart(index, quarantineAfter);
    PortRowChange change(index);
    change.outcomes = rowOutcomes.Figures(index);
    change.deviceElapsed = QString();
    change.stream = StreamFigures();
    ChangeRow(change);
}

// Worker thread: the attempt counts before its record is handed on, which names whether it tripped the row.
bool PortManager::CountAttempt(unsigned index, const AttemptRecord& record)
{
    const int row = static_cast<int>(index);
    std::vector<int> flagChanged;
    const bool trips = rowOutcomes.Count(row, record, flagChanged);
    PortRowChange change(row);
    change.outcomes = rowOutcomes.Figures(row);
    change.stream = StreamFigures();
    change.deviceElapsed = PortTimer::FormatElapsed(rowOutcomes.DeviceElapsedMs(row, QDateTime::currentMSecsSinceEpoch()));
    ChangeRow(change);
    for (int other : flagChanged) {
        const RowOutcomeFigures figures = rowOutcomes.Figures(other);
        if (other != row) {
            PortRowChange standing(other);
            standing.outcomes = figures;
            ChangeRow(standing);
        }
        if (figures.flagged)
            LOGW("PortManager::ExecuteDownloadThread",
                 "Row %d fails %.1f %% of its attempts, far more than the others: check the cable or hub of row %d.",
                 other + 1, 100.0 * figures.failed / figures.Attempts(), other + 1);
    }
    if (trips)
        LOGE("PortManager::ExecuteDownloadThread", "[%s]%s", record.port.toUtf8().constData(),
             QuarantineText(change.outcomes.value()).toUtf8().constData());
    return trips;
}

QString PortManager::QuarantineText(const RowOutcomeFigures& figures)
{
    return tr("Quarantined after %1 FAIL in a row (last: %2, %3): check the port, cable or hub")
        .arg(figures.failStreak)
        .arg(figures.lastFailure, figures.lastReason);
}

// Worker thread, after the row's final status: the FAIL display leaves the message empty, this fills it.
void PortManager::ShowQuarantine(int index)
{
    const QString text = QuarantineText(rowOutcomes.Figures(index));
    Q_EMIT SigSetMWTableWidgetItemContext(QStringLiteral("tableWidget"), index, PortTableColumn::Message, text);
    PortRowChange change(index);
    change.message = text;
    ChangeRow(change);
}

void PortManager::AddStreamFigures(int index, unsigned int percent, PortRowChange& change) const
{
    if (!IsPortIndex(index))
        return;
    const DeviceInstance& device = devices[static_cast<size_t>(index)];
    const uint64_t streamed = device.GetStreamedBytes();
    change.stream = streamed == 0 ? StreamFigures()
                                  : rowOutcomes.Streaming(index, device.GetStages(), streamed, percent,
                                                          QDateTime::currentMSecsSinceEpoch());
}

void PortManager::AddDeviceElapsed(int index, PortRowChange& change) const
{
    if (IsPortIndex(index))
        change.deviceElapsed =
            PortTimer::FormatElapsed(rowOutcomes.DeviceElapsedMs(index, QDateTime::currentMSecsSinceEpoch()));
}
