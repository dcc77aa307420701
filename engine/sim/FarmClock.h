// Real time for the farm, and the conversion of simulated delays into it through the time scale.
#pragma once

#include <chrono>

namespace quillonsim {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;
using Duration = Clock::duration;

class FarmClock
{
public:
    explicit FarmClock(double timeScale = 1.0);

    // A farm delay in simulated milliseconds as the real time it takes.
    Duration Scaled(double simulatedMs) const;
    // Like Scaled, but never shorter than the floor, so a fast clock cannot spin the farm.
    Duration ScaledAtLeast(double simulatedMs, Duration floor) const;
    double Scale() const { return scale; }

    static TimePoint Now() { return Clock::now(); }
    static Duration Milliseconds(double realMs);
    // Stop queries are polled at least this often, whatever the scale.
    static constexpr std::chrono::milliseconds kPollInterval{20};

private:
    double scale;
};

} // namespace quillonsim
