#pragma once

#include "TestFrontEnd.h"

#include "common/PortManager.h"
#include "record/AttemptRecord.h"

#include <QStringList>

#include <memory>
#include <mutex>
#include <vector>

namespace PortTestSupport {

// Keeps every attempt a station hands over, and the ids of those it opened.
class CollectingRecorder : public AttemptRecorder
{
public:
    bool Started(const AttemptRecord& attempt) override;
    bool Record(const AttemptRecord& record) override;
    std::vector<AttemptRecord> Records() const;
    QStringList StartedIds() const;

private:
    mutable std::mutex lock;
    std::vector<AttemptRecord> records;
    QStringList startedIds;
};

// A port manager on the farm's ports, named by port, Format And Download at checksum level 2, recording
// every attempt.
struct RecordingStation
{
    RecordingStation();
    ~RecordingStation();
    bool Idle() const;

    CollectingRecorder recorder;
    std::unique_ptr<PortManager> manager;
    TestFrontEnd frontEnd;
};

} // namespace PortTestSupport
