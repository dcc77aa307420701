// The hashing helper's work: whole images, the largest first, one thread each, read through read-only
// mappings so that no byte is copied.
#pragma once

#include "HelperProtocol.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace quillcheck {

struct HelperJob
{
    const char* path = nullptr;
    uint64_t size = 0; // as the checker measured it
};

class MappedHasher
{
public:
    static constexpr unsigned kMaxThreads = kHelperMaxThreads;
    static constexpr uint64_t kChunk = 8 * 1024 * 1024;

    MappedHasher(std::vector<HelperJob> jobs, unsigned threads);

    // Installs the handler that turns a read past a shrunken file's end into a failure record.
    static bool InstallBusErrorHandler();
    // Hashes every job and reports each on standard output; returns the helper's exit code.
    int Run();

private:
    void Work(unsigned slot);
    bool HashJob(unsigned slot, uint32_t index);
    uint64_t HashMapping(unsigned slot, uint32_t index, const char* base, uint64_t size);

    std::vector<HelperJob> jobs;
    std::vector<uint32_t> order;
    unsigned threads;
    std::atomic<size_t> next{0};
};

// Writes one record whole; a closed pipe means the checker has gone, and the helper with it.
void WriteRecord(HelperRecordKind kind, uint32_t job, uint64_t value);

} // namespace quillcheck
