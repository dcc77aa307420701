#pragma once

#include "ParserTestSupport.h"
#include "SimTestSupport.h"

#include <QString>

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

} // namespace PortTestSupport
