#include "ArrivalQueue.h"

#include <algorithm>

namespace quillonsim {

void ArrivalQueue::Push(const DeviceRef& arrival)
{
    const bool queued = std::any_of(queue.begin(), queue.end(), [&](const DeviceRef& waiting) {
        return waiting.port == arrival.port && waiting.deviceNumber == arrival.deviceNumber;
    });
    if (!queued)
        queue.push_back(arrival);
}

bool ArrivalQueue::Pop(DeviceRef& arrival)
{
    if (queue.empty())
        return false;
    arrival = queue.front();
    queue.pop_front();
    return true;
}

} // namespace quillonsim
