#include "FarmClock.h"

#include <algorithm>

namespace quillonsim {

FarmClock::FarmClock(double timeScale) : scale(timeScale) {}

Duration FarmClock::Milliseconds(double realMs)
{
    // Caps the value far beyond any useful delay so the conversion to integer ticks cannot overflow.
    const double capped = std::clamp(realMs, 0.0, 1.0e12);
    return std::chrono::duration_cast<Duration>(std::chrono::duration<double, std::milli>(capped));
}

Duration FarmClock::Scaled(double simulatedMs) const
{
    return Milliseconds(simulatedMs * scale);
}

Duration FarmClock::ScaledAtLeast(double simulatedMs, Duration floor) const
{
    return std::max(Scaled(simulatedMs), floor);
}

} // namespace quillonsim
