// Starts logging, keeps a detached thread logging while the process exits, and returns from main: the
// log file must end with the logger's exit line and the process must end cleanly.
#include "logging/Log.h"

#include <quillon.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

static constexpr char kLogSource[] = "Probe\\LogExitProbe";

namespace {
std::mutex mutex;
std::condition_variable linesWritten;
std::atomic<int> lineCount{0};
} // namespace

int main()
{
    // Started first, as the tool starts it, so that the engine's log comes on with the logger's.
    quillon_startup(nullptr);
    if (!Logger::Instance().StartLogging().Ok()) {
        return 2;
    }
    LOGI("Probe::main", "probe started %d\n", 1);
    std::thread([] {
        for (;;) {
            LOGD("Probe::Worker", "worker line %d", lineCount.load());
            if (lineCount.fetch_add(1) == 100) {
                std::lock_guard<std::mutex> guard(mutex);
                linesWritten.notify_all();
            }
        }
    }).detach();
    std::unique_lock<std::mutex> guard(mutex);
    linesWritten.wait_for(guard, std::chrono::seconds(60), [] { return lineCount.load() > 100; });
    return 0;
}
