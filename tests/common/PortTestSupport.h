#pragma once

#include "ParserTestSupport.h"
#include "SimTestSupport.h"

#include "common/AttemptRecord.h"

#include <QString>

#include <mutex>
#include <vector>

class PortManager;

namespace PortTestSupport {

// A load the tool accepts: random images, scatter file, checksum list, and a flash XML with its schema.
simtest::SampleLoad WriteStationLoad(const QString& folder, int imageSize = 4096);

// Writes the farm file and makes the engine use it from its next start-up on.
bool ConfigureFarm(const QString& name, const QString& text);

// Port i of the farm's default rack.
QString PortName(int index);

// Binds every row to its port by name, as a restored channel table does.
void BindPorts(PortManager& manager);

// Keeps every record the ports hand over, in the order they came.
class CollectingRecorder : public AttemptRecorder
{
public:
    void Record(const AttemptRecord& record) override;
    std::vector<AttemptRecord> Records() const;
    // The result of the row's (1 to 16) last record; empty when it has none.
    QString LastResult(int row) const;

private:
    mutable std::mutex lock;
    std::vector<AttemptRecord> records;
};

} // namespace PortTestSupport
