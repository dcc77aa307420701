#pragma once

#include "common/StationPolicy.h"
#include "common/StationTarget.h"

// A target of good devices: once that many have ended OK with auto polling since Start All, the station
// starts no more devices. A single row's start with auto polling off leaves it alone, which is logged once.
class TargetPolicy : public StationPolicy
{
public:
    // 0 or less: none. Between runs, from the settings file or a front end.
    void SetTarget(int devices) { target.SetTarget(devices); }
    int Target() const { return target.Target(); }
    // Good devices still to make before the target is met; -1 without a target.
    int Remaining() const { return target.Remaining(); }
    bool IsMet() const { return target.Met(); }

    void StartAllBegins() override;
    void StartAllEnded() override { ignoredTold = false; }
    void RowPrepared(const RowRun& run) override;
    void AttemptCounted(const AttemptEnd& end) override;
    bool RowGoesOn(int row) const override;
    bool RowGoesOnAfterPause(int row) const override;

private:
    StationTarget target;
    bool ignoredTold = false; // user-interface thread
};
