#pragma once

#include "common/LoadSnapshot.h"

#include <QString>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// Watches the source of a staged load on a thread of its own: the run flashes from the copy, so a change at
// the source stops nothing, but the operator hears of it once. The ports' workers never look at the source,
// so a share that hangs holds up nobody but this thread.
class SourceWatch
{
public:
    using Changed = std::function<void(const QString& reason)>;

    SourceWatch() = default;
    SourceWatch(const SourceWatch&) = delete;
    SourceWatch& operator=(const SourceWatch&) = delete;
    ~SourceWatch() { Stop(); }

    // Looks every period until the source changes, then calls onChange once, on the watch's thread, and ends.
    // A watch already running is stopped first.
    void Start(const LoadSnapshot& source, Changed onChange,
               std::chrono::milliseconds period = std::chrono::milliseconds(1000));
    // Returns once the thread has ended; onChange is not called afterwards.
    void Stop();

private:
    void Run(LoadSnapshot source, Changed onChange, std::chrono::milliseconds period);

    std::mutex lock;
    std::condition_variable wake;
    bool stopping = false;
    std::thread thread;
};
