#include "factory/StationRecorders.h"

#include "factory/FactorySettings.h"
#include "record/StationDatabase.h"
#include "logging/Log.h"

static constexpr char kLogSource[] = "factory\\StationRecorders";

StationRecorders::StationRecorders(StationRecordWriter& records, const QString& settingsFile,
                                   const QString& brokerOverride)
    : records(records)
{
    const FactorySettings::Result factory = FactorySettings::Read(settingsFile, brokerOverride);
    factoryProblem = factory.problem;
    if (factory.enabled) {
        publisher.reset(new FactoryPublisher(factory.endpoint, StationDatabase::Path(records.Folder())));
        records.SetMessages(publisher.get());
    } else if (!factoryProblem.isEmpty()) {
        LOGE("StationRecorders", "No factory messages this run: %s", factoryProblem.toUtf8().constData());
    }
    records.CatchUp();
}

StationRecorders::~StationRecorders()
{
    records.SetMessages(nullptr);
}
