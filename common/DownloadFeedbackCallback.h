#pragma once

#include "common/CommandEntry.h"

// The result callback of the downloaded-image feedback command: compares what the device reports with
// the load's checksum list (the entry's argument is the scatter file path).
int DownloadFeedbackCallback(const CommandEntry& entry, DeviceInstance& device);
