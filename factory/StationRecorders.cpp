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

// The outbox first: a result the station keeps is always one the factory hears of, even when the station is
// killed between the two. Until both are written in one transaction, such a kill can cost the record instead.
void StationRecorders::Record(const AttemptRecord& record)
{
    if (publisher)
        publisher->Record(record);
    records.Record(record);
}
