#pragma once

#include "common/PortRowState.h"
#include "record/AttemptRecord.h"

#include <QDateTime>
#include <QString>
#include <QVector>

#include <array>
#include <deque>

// One row's shift as the station panel shows it.
struct PanelRowFigures
{
    int ok = 0;
    int failed = 0;
    int cancelled = 0;
    double yield = 0;     // OK per ended attempt, 0 to 1
    QString lastResult;   // "OK", "FAIL", "CANL"; empty before the row's first attempt
    QString failedStage;  // of the last attempt, empty when it ended OK
    QString lastError;    // of the last attempt, whole
    QString lastReason;   // its first line, short enough for a narrow column
    qint64 deviceElapsedMs = -1;  // the current (or last) device's own time; -1 before the first device
    double megabytesPerSecond = -1; // while an image streams; -1 when not known
    qint64 timeLeftMs = -1;         // while an image streams; -1 when not known
    bool quarantined = false;
    QString quarantineReason; // why the row left auto polling, as the port manager tells it; empty when it did not
    bool flagged = false;
    double recentFailureRate = 0; // FAIL among the row's last kRecentAttempts that did not end CANL
    int status = 0;               // the row's status code as the port manager last showed it

    int Attempts() const { return ok + failed + cancelled; }
};

// The whole station's shift.
struct PanelStationFigures
{
    int ok = 0;
    int failed = 0;
    int cancelled = 0;
    double yield = 0;
    double okPerHourRecent = 0;     // OK devices per hour over the last kRecentWindowMinutes
    double okPerHourSinceStart = 0; // since Start All, or since the first attempt when Start was not seen
    int okNotVerified = 0;          // OK attempts with fewer images compared equal to the load than written
    int checksumLevel = -1;         // of the last ended attempt; -1 before the first

    int Attempts() const { return ok + failed + cancelled; }
};

// What the station panel shows, from the rows' states and the ended attempts the window hands it; no widget
// inside, so its figures can be checked against the records. Every question takes the time it is asked at.
class StationPanelModel
{
public:
    static constexpr int kRows = 16;
    static constexpr int kRecentAttempts = 10;
    static constexpr int kRecentWindowMinutes = 10;

    void MarkStart(const QDateTime& now);
    void ApplyRowState(int index, const PortRowState& state);
    // row is the record's own, 1 to 16.
    void AttemptStarted(const AttemptRecord& attempt);
    void AttemptEnded(const AttemptRecord& record);

    PanelRowFigures Row(int index, const QDateTime& now) const;
    PanelStationFigures Station(const QDateTime& now) const;
    // OK devices per hour in each of `buckets` equal slices from the shift's start to now, oldest first.
    QVector<double> OkPerHourOverShift(const QDateTime& now, int buckets) const;

    // The first line of an error, at most kReasonLength characters, with an ellipsis when cut.
    static QString ShortReason(const QString& error);
    static constexpr int kReasonLength = 32;

private:
    struct RowData
    {
        PanelRowFigures figures; // counted from the attempts the station stored
        // The port manager's own count since the row's last Start; version 0 until it first told one.
        RowOutcomeFigures outcomes;
        StreamFigures stream;
        QString quarantineReason;
        std::deque<bool> recentFailures; // true for FAIL, newest last
        QDateTime deviceStart;
        QDateTime deviceEnd; // null while the device's session runs
    };

    QDateTime ShiftStart() const;

    std::array<RowData, kRows> rows;
    std::deque<QDateTime> okEnds; // every OK attempt's end, oldest first
    QDateTime startedAt;
    QDateTime firstAttemptStart;
    int okNotVerified = 0;
    int checksumLevel = -1;
};
