#include "common/FailurePacer.h"

void FailurePacer::Wait(std::chrono::milliseconds time, const std::atomic<bool>& stop)
{
    if (time.count() <= 0)
        return;
    std::unique_lock<std::mutex> guard(lock);
    wake.wait_for(guard, time, [&stop] { return stop.load(); });
}

void FailurePacer::Wake()
{
    // Taking the lock orders this wake after a waiter's check of the stop flag, so it cannot be missed.
    { std::lock_guard<std::mutex> guard(lock); }
    wake.notify_all();
}
