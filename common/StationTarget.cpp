#include "common/StationTarget.h"

bool StationTarget::CountOk()
{
    const int32_t counted = ++okCount;
    return Active() && counted == target.load();
}

int StationTarget::Remaining() const
{
    if (!Active())
        return -1;
    const int32_t left = target.load() - okCount.load();
    return left > 0 ? left : 0;
}
