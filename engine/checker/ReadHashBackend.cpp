#include "ReadHashBackend.h"

#include "ImageReader.h"
#include "quillon.h"

#include <algorithm>
#include <numeric>
#include <system_error>

namespace quillcheck {

ReadHashBackend::~ReadHashBackend()
{
    Abandon();
}

bool ReadHashBackend::Start(const std::vector<ImageJob>& toHash, unsigned threads, QString& error)
{
    jobs = &toHash;
    order.resize(toHash.size());
    std::iota(order.begin(), order.end(), size_t(0));
    std::stable_sort(order.begin(), order.end(),
                     [&toHash](size_t a, size_t b) { return toHash[a].size > toHash[b].size; });
    const size_t count = std::max<size_t>(1, std::min<size_t>(threads, toHash.size()));
    workers.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        try {
            std::lock_guard<std::mutex> lock(mutex);
            workers.emplace_back(&ReadHashBackend::Work, this);
            ++running;
        } catch (const std::system_error& failure) {
            // Fewer threads only make the check slower; none at all makes it impossible.
            if (workers.empty()) {
                error = QStringLiteral("Cannot start a hashing thread: %1")
                            .arg(QString::fromLocal8Bit(failure.what()));
                return false;
            }
            break;
        }
    }
    return true;
}

void ReadHashBackend::Work()
{
    ImageReader reader;
    for (;;) {
        const size_t slot = next.fetch_add(1, std::memory_order_relaxed);
        if (slot >= order.size() || stop.load(std::memory_order_relaxed))
            break;
        const size_t index = order[slot];
        current.store(int(index), std::memory_order_relaxed);
        HashOutcome outcome = reader.Hash((*jobs)[index], index, stop, bytesDone);
        // An image given up because the check is ending has nothing to say.
        if (outcome.code == QUILLON_E_CANCELLED)
            break;
        const bool failed = !outcome.ok;
        {
            std::lock_guard<std::mutex> lock(mutex);
            arrived.push_back(std::move(outcome));
            changed.notify_all();
        }
        // The first failure decides the check, and is queued before any other worker can see the stop.
        if (failed)
            stop.store(true, std::memory_order_relaxed);
    }
    std::lock_guard<std::mutex> lock(mutex);
    --running;
    changed.notify_all();
}

bool ReadHashBackend::Wait(std::chrono::milliseconds wait, std::vector<HashOutcome>& outcomes)
{
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait_for(lock, wait, [this] { return !arrived.empty() || running == 0; });
    for (HashOutcome& outcome : arrived)
        outcomes.push_back(std::move(outcome));
    arrived.clear();
    return running > 0;
}

uint64_t ReadHashBackend::BytesDone() const
{
    return bytesDone.load(std::memory_order_relaxed);
}

int ReadHashBackend::CurrentJob() const
{
    return current.load(std::memory_order_relaxed);
}

void ReadHashBackend::Abandon()
{
    stop.store(true, std::memory_order_relaxed);
    for (std::thread& worker : workers) {
        if (worker.joinable())
            worker.join();
    }
    workers.clear();
}

} // namespace quillcheck
