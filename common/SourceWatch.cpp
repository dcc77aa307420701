#include "common/SourceWatch.h"

void SourceWatch::Start(const LoadSnapshot& source, Changed onChange, std::chrono::milliseconds period)
{
    Stop();
    {
        std::lock_guard<std::mutex> guard(lock);
        stopping = false;
    }
    thread = std::thread(&SourceWatch::Run, this, source, std::move(onChange), period);
}

void SourceWatch::Stop()
{
    {
        std::lock_guard<std::mutex> guard(lock);
        stopping = true;
    }
    wake.notify_all();
    if (thread.joinable())
        thread.join();
}

void SourceWatch::Run(LoadSnapshot source, Changed onChange, std::chrono::milliseconds period)
{
    for (;;) {
        {
            std::unique_lock<std::mutex> guard(lock);
            if (wake.wait_for(guard, period, [this] { return stopping; }))
                return;
        }
        const QString changed = source.Changed();
        if (changed.isEmpty())
            continue;
        // Told under the lock, so a Stop that returned has seen the last call.
        std::lock_guard<std::mutex> guard(lock);
        if (!stopping)
            onChange(changed);
        return;
    }
}
