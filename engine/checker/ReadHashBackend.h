// Hashes in this process on worker threads, each taking whole images, the largest first, and reading them
// in blocks. Used when the hashing helper is not there or cannot start, and measured against it.
#pragma once

#include "HashBackend.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace quillcheck {

class ReadHashBackend : public HashBackend
{
public:
    ReadHashBackend() = default;
    ~ReadHashBackend() override;
    ReadHashBackend(const ReadHashBackend&) = delete;
    ReadHashBackend& operator=(const ReadHashBackend&) = delete;

    bool Start(const std::vector<ImageJob>& jobs, unsigned threads, QString& error) override;
    bool Wait(std::chrono::milliseconds wait, std::vector<HashOutcome>& outcomes) override;
    uint64_t BytesDone() const override;
    int CurrentJob() const override;
    void Abandon() override;

private:
    void Work();

    const std::vector<ImageJob>* jobs = nullptr;
    std::vector<size_t> order; // largest first
    std::atomic<size_t> next{0};
    std::atomic<uint64_t> bytesDone{0};
    std::atomic<int> current{-1};
    std::atomic<bool> stop{false};

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<HashOutcome> arrived;
    size_t running = 0;
    std::vector<std::thread> workers;
};

} // namespace quillcheck
