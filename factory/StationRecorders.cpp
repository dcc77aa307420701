#include "factory/StationRecorders.h"

#include "factory/FactorySettings.h"
#include "record/StationDatabase.h"
#include "logging/Log.h"

static constexpr char kLogSource[] = "common\\StationRecorders";

StationRecorders::StationRecorders(StationRecordWriter& records, const QString& settingsFile,
                                   const QString& brokerOverride)
    : records(records)
{
    const FactorySettings::Result factory = FactorySettings::Read(settingsFile, brokerOverride);
    factoryProblem = factory.problem;
    if (factory.enabled) {
        publisher.reset(new FactoryPublisher(factory.endpoint, StationDatabase::Path(records.Folder())));
    } else if (!factoryProblem.isEmpty()) {
        LOGE("StationRecorders", "No factory messages this run: %s", factoryProblem.toUtf8().constData());
    }
}

void StationRecorders::Started(const AttemptRecord& attempt)
{
    if (publisher)
        publisher->Started(attempt);
}

// The record first: a result the factory hears of is always one the station has kept.
void StationRecorders::Record(const AttemptRecord& record)
{
    records.Record(record);
    if (publisher)
        publisher->Record(record);
}
