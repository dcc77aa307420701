#include "RecordingStation.h"

#include "PortTestSupport.h"

namespace PortTestSupport {

bool CollectingRecorder::Started(const AttemptRecord& attempt)
{
    std::lock_guard<std::mutex> guard(lock);
    startedIds << attempt.attempt;
    return true;
}

bool CollectingRecorder::Record(const AttemptRecord& record)
{
    std::lock_guard<std::mutex> guard(lock);
    records.push_back(record);
    return true;
}

std::vector<AttemptRecord> CollectingRecorder::Records() const
{
    std::lock_guard<std::mutex> guard(lock);
    return records;
}

QStringList CollectingRecorder::StartedIds() const
{
    std::lock_guard<std::mutex> guard(lock);
    return startedIds;
}

RecordingStation::RecordingStation() : manager(std::make_unique<PortManager>()), frontEnd(*manager)
{
    BindPorts(*manager);
    manager->SetScanType(0);
    manager->SetAttemptRecorder(&recorder);
    manager->SetStationInfo(QStringLiteral("Ana"), QStringLiteral("WO-7"));
    frontEnd.checks[QStringLiteral("rbFormatDownload")] = true;
    frontEnd.runtimeParameters.checksumLevel = 2;
}

RecordingStation::~RecordingStation() { manager.reset(); }

bool RecordingStation::Idle() const
{
    for (int i = 0; i < PortManager::kPortCount; ++i) {
        if (manager->IsPortBusy(i))
            return false;
    }
    return true;
}

} // namespace PortTestSupport
