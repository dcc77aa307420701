#pragma once

#include "record/AttemptRecord.h"
#include "factory/FactoryPublisher.h"
#include "record/StationRecordWriter.h"

#include <QString>

#include <memory>

// Where a station's attempts go: always into the station record, and to the factory's broker as well when
// the settings (or the command line) name one. A broker named but unusable leaves the station flashing
// without it, and says why once.
class StationRecorders : public AttemptRecorder
{
public:
    StationRecorders(StationRecordWriter& records, const QString& settingsFile, const QString& brokerOverride = QString());

    void Started(const AttemptRecord& attempt) override;
    void Record(const AttemptRecord& record) override;

    // Why a named broker is not used; empty when it is, or when none is named.
    QString FactoryProblem() const { return factoryProblem; }

private:
    StationRecordWriter& records;
    QString factoryProblem;
    std::unique_ptr<FactoryPublisher> publisher;
};
