// One verification on the calling thread: plan the load, let a backend hash it, compare each image as its
// hash arrives, report progress and ask the caller's stop query while waiting.
#pragma once

#include "CheckStatus.h"
#include "HashBackend.h"
#include "ProgressThinner.h"
#include "quillon.h"

#include <memory>
#include <vector>

namespace quillcheck {

class ImageCheck
{
public:
    // How often the stop query is asked while the images are hashed.
    static constexpr std::chrono::milliseconds kPollInterval{20};

    // The first backend that starts does the hashing; a later one stands in for one that cannot start.
    ImageCheck(const CheckerCallbacks& callbacks, std::vector<std::unique_ptr<HashBackend>> backends,
               unsigned threads);

    CheckStatus Run(const char* scatterPath);

private:
    CheckStatus HashAll(const std::vector<ImageJob>& jobs);
    HashBackend* StartBackend(const std::vector<ImageJob>& jobs, QString& error);
    CheckStatus Judge(const std::vector<ImageJob>& jobs, const HashOutcome& outcome) const;
    bool StopRequested() const;

    CheckerCallbacks callbacks;
    std::vector<std::unique_ptr<HashBackend>> backends;
    unsigned threads;
    ProgressThinner progress;
};

} // namespace quillcheck
