// One thread that runs the work handed to it, one piece at a time, so a test decides which thread makes each
// engine call (the engine keeps some state per thread).
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace simtest {

class CallerThread
{
public:
    CallerThread();
    ~CallerThread();
    CallerThread(const CallerThread&) = delete;
    CallerThread& operator=(const CallerThread&) = delete;

    // Runs work on this thread and returns once it has finished.
    void Run(const std::function<void()>& work);

private:
    void Loop();

    std::mutex mutex;
    std::condition_variable changed;
    std::function<void()> pending;
    bool quit = false;
    std::thread thread;
};

} // namespace simtest
