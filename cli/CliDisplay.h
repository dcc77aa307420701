#pragma once

#include "record/AttemptRecord.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <array>
#include <cstdio>

class HeadlessFrontEnd;
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

    CliDisplay(Mode mode, const HeadlessFrontEnd& frontEnd, const RunSummary& summary,
               const std::array<bool, 16>& rows, qint64 loadBytes, FILE* out);

    void Begin();
    void OnRowChanged(int row);
    void OnProgress(uint row, uint percent);
    void OnRecord(const AttemptRecord& record);
    void End(qint64 wallMs, bool interrupted);

private:
    struct RowState
    {
        QString status;
        QString message;
        int percent = 0;
        qint64 sessionStartMs = 0;
        qint64 lastProgressEventMs = -1000;
    };

    void ReportRow(int row);
    void Redraw();
    QString LiveRow(int row) const;
    void Emit(const QByteArray& text);

    Mode mode;
    const HeadlessFrontEnd& frontEnd;
    const RunSummary& summary;
    std::array<bool, 16> rows;
    qint64 loadBytes;
    FILE* out;
    bool outputBroken = false;
    std::array<RowState, 16> states;
    QElapsedTimer clock;
    QTimer redraw;
    bool dirty = false;
    int drawnLines = 0;
};
