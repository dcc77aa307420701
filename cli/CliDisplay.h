#pragma once

#include "common/PortRowState.h"
#include "record/AttemptRecord.h"
#include "record/RecordFields.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <array>
#include <cstdio>

class RunSummary;

// What the command line shows on standard output: a live table on a terminal, one line per status change
// otherwise, or one JSON event per line. Everything runs in the user-interface thread.
class CliDisplay : public QObject
{
    Q_OBJECT

public:
    enum class Mode
    {
        Live,
        Lines,
        Json,
        Quiet
    };

    CliDisplay(Mode mode, const RunSummary& summary, const std::array<bool, 16>& rows, FILE* out);

    // With a station target or a per-port limit, each row shows how many good devices it may still make.
    void SetLimits(int target, int devicesPerPort);
    void Begin();
    // Each state of a row as the port manager announces it: a new status is reported, a new percent or
    // stage message is progress.
    void OnRowState(int row, const PortRowState& state);
    void OnRecord(const AttemptRecord& record);
    // A disk below the station's floor, or back above it: an event of its own in JSON; the other modes leave
    // it to the line on standard error.
    void OnDiskSpace(bool low, const QString& folder, qint64 freeMB, qint64 floorMB);
    // An attempt the record could not keep: named on standard error, and as an event in the JSON stream.
    void OnUnrecorded(const AttemptRecord& record);
    void End(qint64 wallMs, bool interrupted);
    // Rows of the run whose failures took them out of auto polling.
    int QuarantinedRows() const;

private:
    struct RowState
    {
        PortRowState shown;
        qint64 lastProgressEventMs = -1000;
    };

    void ReportStatus(int row);
    void ReportProgress(int row);
    void Redraw();
    QString LiveRow(int row) const;
    QString RemainingColumn(int rowOk) const;
    QString TargetLine(int ok) const;
    void Emit(const QByteArray& text);

    Mode mode;
    const RunSummary& summary;
    std::array<bool, 16> rows;
    FILE* out;
    // The record event's fields are taken by scope from the record's table, whatever they read.
    const StationIdentity station;
    bool outputBroken = false;
    std::array<RowState, 16> states;
    QElapsedTimer clock;
    QTimer redraw;
    bool dirty = false;
    int drawnLines = 0;
    int target = 0;
    int devicesPerPort = 0;
};
