// The hashing helper's work: whole images, the largest first, one thread each, each image in chunks read
// through a mapping or through reads, whichever the file's own timings favour.
#pragma once

#include "HelperProtocol.h"
#include "MethodChooser.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace loadformat {
class Xxh3Stream;
}

namespace quillcheck {

struct HelperJob
{
    const char* path = nullptr;
    uint64_t size = 0; // as the checker measured it
};

class HelperHasher
{
public:
    static constexpr unsigned kMaxThreads = kHelperMaxThreads;
    static constexpr uint64_t kChunk = 8 * 1024 * 1024;
    static constexpr size_t kReadBlock = 256 * 1024;

    HelperHasher(std::vector<HelperJob> jobs, unsigned threads, HelperMethod method);

    // Installs the handler that turns a read past a shrunken file's end into a failure record.
    static bool InstallBusErrorHandler();
    // Hashes every job and reports each on standard output; returns the helper's exit code.
    int Run();

private:
    void Work(unsigned slot);
    bool HashJob(unsigned slot, uint32_t index, std::vector<char>& block);
    bool HashChunks(unsigned slot, uint32_t index, int fd, std::vector<char>& block, uint64_t& hash);
    bool ByMapping(unsigned slot, uint32_t index, int fd, uint64_t offset, uint64_t length,
                   loadformat::Xxh3Stream& stream);
    bool ByReading(uint32_t index, int fd, uint64_t offset, uint64_t length, std::vector<char>& block,
                   loadformat::Xxh3Stream& stream);

    std::vector<HelperJob> jobs;
    std::vector<uint32_t> order;
    unsigned threads;
    HelperMethod method;
    std::atomic<size_t> next{0};
};

// Writes one record whole; a closed pipe means the checker has gone, and the helper with it.
void WriteRecord(HelperRecordKind kind, uint32_t job, uint64_t value);

} // namespace quillcheck
