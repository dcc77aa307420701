// Hashes a load's images away from the calling thread, which only waits, reports progress and asks the
// caller whether to stop.
#pragma once

#include "ImageJob.h"

#include <QString>

#include <chrono>
#include <cstdint>
#include <vector>

namespace quillcheck {

// What one image's hashing came to.
struct HashOutcome
{
    size_t job = 0;
    bool ok = false;
    uint64_t hash = 0;
    int code = 0; // a result code of quillon.h when !ok
    QString reason;
};

class HashBackend
{
public:
    virtual ~HashBackend() = default;

    // Starts hashing every job; false with the reason when nothing could start. The jobs outlive the work.
    virtual bool Start(const std::vector<ImageJob>& jobs, unsigned threads, QString& error) = 0;
    // Waits at most `wait` and appends the outcomes that arrived; false once no more will come.
    virtual bool Wait(std::chrono::milliseconds wait, std::vector<HashOutcome>& outcomes) = 0;
    // Bytes hashed so far over all jobs, and the job most recently started (-1 before the first).
    virtual uint64_t BytesDone() const = 0;
    virtual int CurrentJob() const = 0;
    // Ends the work early and waits until nothing of it runs any more.
    virtual void Abandon() = 0;
};

} // namespace quillcheck
