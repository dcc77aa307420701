// Hashes one image with reads in large blocks: slower than a mapping by the copy of every block, but a file
// cut short or grown meanwhile is an error to report, never a signal that ends the process.
#pragma once

#include "HashBackend.h"

#include <atomic>
#include <cstdint>
#include <vector>

namespace quillcheck {

class ImageReader
{
public:
    // Large enough to make the system calls negligible, small enough that the block is still in the
    // core's cache when it is hashed.
    static constexpr size_t kBlock = 256 * 1024;

    ImageReader();

    // Adds each block's length to bytesDone as it is hashed; gives up without an outcome code when stop is
    // set.
    HashOutcome Hash(const ImageJob& job, size_t index, const std::atomic<bool>& stop,
                     std::atomic<uint64_t>& bytesDone);

private:
    std::vector<char> block;
};

} // namespace quillcheck
