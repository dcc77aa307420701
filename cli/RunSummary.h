#pragma once

#include "record/AttemptRecord.h"

#include <QObject>

#include <array>
#include <mutex>

// Passes every attempt of the run on to the station record and counts, per row, those the record kept: what
// the command line reports is what the record will say. Record runs on the ports' workers; the counts are
// read in the user-interface thread.
class RunSummary : public QObject, public AttemptRecorder
{
    Q_OBJECT

public:
    struct Row
    {
        QString port;
        int ok = 0;
        int failed = 0;
        int cancelled = 0;
        int unverified = 0; // OK, but fewer images compared equal to the load than were written
    };

    explicit RunSummary(AttemptRecorder* next);

    bool Started(const AttemptRecord& attempt) override { return next == nullptr || next->Started(attempt); }
    void Halt() override
    {
        if (next != nullptr)
            next->Halt();
    }
    void Resume() override
    {
        if (next != nullptr)
            next->Resume();
    }
    int64_t Unrecorded() const override { return next != nullptr ? next->Unrecorded() : 0; }
    bool Record(const AttemptRecord& record) override;
    std::array<Row, 16> Rows() const;
    int Total(const QString& result) const;
    int Unverified() const;

Q_SIGNALS:
    // Queued to the user-interface thread, after the record was passed on.
    void Recorded(AttemptRecord record);
    // Queued likewise, for an attempt the record could not keep.
    void NotRecorded(AttemptRecord record);

private:
    AttemptRecorder* next;
    mutable std::mutex lock;
    std::array<Row, 16> rows;
};
