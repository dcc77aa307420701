#pragma once

#include "common/StationPolicy.h"

#include <vector>

// The policies the port manager holds, called in the order they were added: the first refusal or
// withdrawal wins and the later policies are not asked. The list is fixed before any row starts.
class StationPolicies
{
public:
    void Add(StationPolicy& policy) { policies.push_back(&policy); }

    void StartAllBegins();
    void StartAllEnded();
    bool RefusesStart(int row, ControlReader& reads);
    void RowStarts(int row);
    void RowPrepared(const RowRun& run);
    void RowLaunched(const RowRun& run);
    bool NextDeviceMayStart(int row, const std::atomic<bool>& stop, FailurePacer& pacer);
    void AttemptBegins(int row, int64_t startMs);
    bool DeviceFound(int row, QString& withdrawn);
    void AttemptEnded(const AttemptEnd& end, AttemptRecord& record);
    void AttemptCounted(const AttemptEnd& end);
    bool RowGoesOn(int row) const;
    bool RowGoesOnAfterPause(int row) const;
    void RowEnded(int row);

private:
    std::vector<StationPolicy*> policies;
};
