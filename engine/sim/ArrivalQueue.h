// Devices that were plugged in or enumerated again, in order; each goes to exactly one scan for any port.
#pragma once

#include "DeviceSlot.h"

#include <deque>

namespace quillonsim {

class ArrivalQueue
{
public:
    // A device that is still waiting in the queue is not queued twice, so a rack nobody scans stays bounded.
    void Push(const DeviceRef& arrival);
    bool Pop(DeviceRef& arrival);

private:
    std::deque<DeviceRef> queue;
};

} // namespace quillonsim
