#include "CallerThread.h"

namespace simtest {

CallerThread::CallerThread() : thread([this] { Loop(); }) {}

CallerThread::~CallerThread()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        quit = true;
    }
    changed.notify_all();
    thread.join();
}

void CallerThread::Run(const std::function<void()>& work)
{
    std::unique_lock<std::mutex> lock(mutex);
    pending = work;
    changed.notify_all();
    changed.wait(lock, [this] { return !pending; });
}

void CallerThread::Loop()
{
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        changed.wait(lock, [this] { return quit || pending; });
        if (quit)
            return;
        // The work runs without the lock, since it may take as long as an engine call does.
        lock.unlock();
        pending();
        lock.lock();
        pending = nullptr;
        changed.notify_all();
    }
}

} // namespace simtest
