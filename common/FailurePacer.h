#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

// Keeps a port whose sessions fail at once from spinning: the worker waits out the rest of a pace
// interval, and a stop wakes it at once.
class FailurePacer
{
public:
    // Returns after the time, or as soon as stop is set and Wake is called.
    void Wait(std::chrono::milliseconds time, const std::atomic<bool>& stop);
    void Wake();

private:
    std::mutex lock;
    std::condition_variable wake;
};
