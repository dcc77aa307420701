#include "common/RowOutcomePolicy.h"

#include "common/PortTimer.h"
#include "common/StationPolicyHost.h"
#include "logging/Log.h"

#include <QCoreApplication>
#include <QDateTime>

static constexpr char kLogSource[] = "Common\\RowOutcomePolicy";

// User-interface thread, before the row's worker exists.
void RowOutcomePolicy::RowStarts(int row)
{
    if (!IsRow(row))
        return;
    tripped[static_cast<size_t>(row)] = false;
    outcomes.Restart(row, quarantineAfter);
    PortRowChange change(row);
    change.outcomes = outcomes.Figures(row);
    change.deviceElapsed = QString();
    change.stream = StreamFigures();
    host.ChangeRow(change);
}

void RowOutcomePolicy::AttemptBegins(int row, int64_t startMs) { outcomes.BeginSession(row, startMs); }

// The attempt counts before its record is handed on, which names whether it tripped the row.
void RowOutcomePolicy::AttemptEnded(const AttemptEnd& end, AttemptRecord& record)
{
    const int row = end.row;
    if (!IsRow(row))
        return;
    std::vector<int> flagChanged;
    const bool trips = outcomes.Count(row, record, flagChanged);
    PortRowChange change(row);
    change.outcomes = outcomes.Figures(row);
    change.stream = StreamFigures();
    change.deviceElapsed = DeviceElapsed(row);
    host.ChangeRow(change);
    for (int other : flagChanged) {
        const RowOutcomeFigures figures = outcomes.Figures(other);
        if (other != row) {
            PortRowChange standing(other);
            standing.outcomes = figures;
            host.ChangeRow(standing);
        }
        if (figures.flagged)
            LOGW("PortManager::ExecuteDownloadThread",
                 "Row %d fails %.1f %% of its attempts, far more than the others: check the cable or hub of row %d.",
                 other + 1, 100.0 * figures.failed / figures.Attempts(), other + 1);
    }
    if (trips)
        LOGE("PortManager::ExecuteDownloadThread", "[%s]%s", record.port.toUtf8().constData(),
             QuarantineText(change.outcomes.value()).toUtf8().constData());
    tripped[static_cast<size_t>(row)] = trips;
    record.quarantined = trips;
}

bool RowOutcomePolicy::RowGoesOn(int row) const { return !IsRow(row) || !tripped[static_cast<size_t>(row)]; }

// After the row's final status: the FAIL display leaves the message empty, this fills it.
void RowOutcomePolicy::RowEnded(int row)
{
    if (IsRow(row) && tripped[static_cast<size_t>(row)])
        host.ShowRowMessage(row, QuarantineText(outcomes.Figures(row)));
}

QString RowOutcomePolicy::QuarantineText(const RowOutcomeFigures& figures)
{
    return QCoreApplication::translate("RowOutcomePolicy", "Quarantined after %1 FAIL in a row (last: %2, %3): check the port, cable or hub")
        .arg(figures.failStreak)
        .arg(figures.lastFailure, figures.lastReason);
}

StreamFigures RowOutcomePolicy::Streaming(int row, const SessionStages& current, uint64_t streamed,
                                          unsigned percent) const
{
    return outcomes.Streaming(row, current, streamed, percent, QDateTime::currentMSecsSinceEpoch());
}

QString RowOutcomePolicy::DeviceElapsed(int row) const
{
    return PortTimer::FormatElapsed(outcomes.DeviceElapsedMs(row, QDateTime::currentMSecsSinceEpoch()));
}
