#pragma once

#include "record/AttemptRecord.h"

#include <QObject>

#include <array>
#include <mutex>

// Counts every attempt of the run per row and passes it on to the station record. Record runs on the
// ports' workers; the counts are read in the user-interface thread.
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
    void Record(const AttemptRecord& record) override;
    std::array<Row, 16> Rows() const;
    int Total(const QString& result) const;
    int Unverified() const;

Q_SIGNALS:
    // Queued to the user-interface thread, after the record was passed on.
    void Recorded(AttemptRecord record);

private:
    AttemptRecorder* next;
    mutable std::mutex lock;
    std::array<Row, 16> rows;
};
