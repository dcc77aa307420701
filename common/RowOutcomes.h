#pragma once

#include "record/AttemptRecord.h"
#include "record/SessionStage.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

// What a row's attempts since its last Start add up to, as a front end shows it beside the row.
struct RowOutcomeFigures
{
    uint64_t version = 0; // grows with every change of any row; a copy never replaces a newer one
    int ok = 0;
    int failed = 0;
    int cancelled = 0;
    double yield = 0;    // OK per attempt, 0 to 1
    QString lastResult;  // "OK", "FAIL", "CANL"; empty before the first attempt
    QString lastFailure; // the failed stage of the last attempt that did not end OK
    QString lastReason;  // the first line of its error, cut short
    int failStreak = 0;  // FAIL records in a row at the end; a CANL neither counts nor breaks it
    bool quarantined = false; // out of auto polling until the operator starts the row again
    bool flagged = false;     // fails much more often than the station's other rows (FailureOutliers)

    int Attempts() const { return ok + failed + cancelled; }
};

// The figures of a download that is streaming its images; negative while there are none.
struct StreamFigures
{
    double megabytesPerSecond = -1; // 10^6 bytes per second over the streaming stage so far
    int64_t timeLeftMs = -1;        // from the medians of the row's earlier good sessions, stage by stage
};

// Counts every attempt of each row since the row's last Start, decides when a row's failures take it out of
// auto polling, and keeps the stage times of its good sessions to estimate a running one. The ports' workers
// count their attempts and the user-interface thread reads; one std::mutex guards all rows, since a row
// stands out only against the others and that is judged at every attempt.
class RowOutcomes
{
public:
    static constexpr int kRows = 16;
    // Good sessions a row needs before its time left is estimated, and how many it keeps for that.
    static constexpr int kSessionsForEstimate = 3;
    static constexpr int kSessionsKept = 15;

    // The row starts anew; quarantineAfter FAIL records in a row take it out of auto polling, 0 never.
    void Restart(int row, int quarantineAfter);
    // A new device session of the row begins now (milliseconds since the epoch).
    void BeginSession(int row, int64_t startMs);
    // Counts an ended attempt of the row. True when it took the row out of auto polling. flagChanged gets
    // every row, this one included, whose standing against the rest changed with it.
    bool Count(int row, const AttemptRecord& record, std::vector<int>& flagChanged);

    RowOutcomeFigures Figures(int row) const;
    // The row's current device's own time: running until its session ends, then that session's.
    int64_t DeviceElapsedMs(int row, int64_t nowMs) const;
    // The row's figures while its current stage has streamed bytes and is at percent of the stage.
    StreamFigures Streaming(int row, const SessionStages& current, uint64_t streamed, unsigned percent,
                            int64_t nowMs) const;

    // The first line of an error, at most a few words, for a narrow column.
    static QString ShortReason(const QString& error);

private:
    struct Row
    {
        RowOutcomeFigures figures;
        int quarantineAfter = 0;
        int64_t sessionStartMs = 0;
        int64_t sessionEndMs = 0; // 0 while a session runs
        std::deque<SessionStages> goodSessions;
        QStringList stageOrder;           // as the last good session ran them
        QHash<QString, int64_t> medianMs; // per stage over goodSessions
    };

    static void LearnStages(Row& row, const AttemptRecord& record);
    void JudgeRows(std::vector<int>& flagChanged);

    mutable std::mutex lock;
    std::array<Row, kRows> rows;
    uint64_t version = 0;
};
