#pragma once

#include "record/AttemptRecord.h"
#include "factory/FactoryPublisher.h"
#include "record/StationRecordWriter.h"

#include <QString>

#include <memory>

// Where a station's attempts go: always into the station record, and to the factory's broker as well when
// the settings (or the command line) name one, their messages committed with the attempts. A broker named but
// unusable leaves the station flashing without it, and says why once. Made as the station starts: it closes
// what a stopped station left open and catches the day files up.
class StationRecorders : public AttemptRecorder
{
public:
    StationRecorders(StationRecordWriter& records, const QString& settingsFile, const QString& brokerOverride = QString());

    ~StationRecorders() override;

    bool Started(const AttemptRecord& attempt) override { return records.Started(attempt); }
    bool Record(const AttemptRecord& record) override { return records.Record(record); }
    void Halt() override { records.Halt(); }
    void Resume() override { records.Resume(); }
    int64_t Unrecorded() const override { return records.Unrecorded(); }

    // Why a named broker is not used; empty when it is, or when none is named.
    QString FactoryProblem() const { return factoryProblem; }

private:
    StationRecordWriter& records;
    QString factoryProblem;
    std::unique_ptr<FactoryPublisher> publisher;
};
