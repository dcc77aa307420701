#pragma once

#include <atomic>
#include <cstdint>

// How many good devices the station makes before auto polling starts no more: a count shared by every
// port's worker since the last Start All. Both are atomic: every worker adds to the count and reads the
// target, which a front end may set between runs.
class StationTarget
{
public:
    void SetTarget(int devices) { target = devices > 0 ? devices : 0; }
    int Target() const { return target.load(); }
    bool Active() const { return target.load() > 0; }

    // Start All begins a new count.
    void Reset() { okCount = 0; }
    // One more device ended OK; true when this one met the target.
    bool CountOk();
    bool Met() const { return Active() && okCount.load() >= target.load(); }
    // Good devices still to make; 0 once met, -1 without a target.
    int Remaining() const;

private:
    std::atomic<int> target{0};
    std::atomic<int32_t> okCount{0};
};
