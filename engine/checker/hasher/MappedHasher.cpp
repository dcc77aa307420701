#include "MappedHasher.h"

#include "Xxh3Stream.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <numeric>
#include <thread>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillcheck {

namespace {

constexpr std::chrono::milliseconds kProgressInterval{10};

// The mapping each thread is reading, for the bus error handler, which may read only lock-free atomics.
struct BusRange
{
    std::atomic<uintptr_t> begin{0};
    std::atomic<uintptr_t> end{0};
    std::atomic<uint32_t> job{0};
};
BusRange busRanges[MappedHasher::kMaxThreads];

extern "C" void OnBusError(int, siginfo_t* info, void*)
{
    const uintptr_t address = reinterpret_cast<uintptr_t>(info->si_addr);
    for (const BusRange& range : busRanges) {
        const uintptr_t begin = range.begin.load(std::memory_order_acquire);
        if (begin != 0 && address >= begin && address < range.end.load(std::memory_order_relaxed)) {
            WriteRecord(HelperRecordKind::Failed, range.job.load(std::memory_order_relaxed),
                        uint64_t(HelperFailure::CutShort) << 32);
            _exit(kHelperFailed);
        }
    }
    // Not a mapping of ours: the fault repeats with the default action and ends the helper as it would have.
    signal(SIGBUS, SIG_DFL);
}

void Fail(uint32_t job, HelperFailure failure, uint32_t detail)
{
    WriteRecord(HelperRecordKind::Failed, job, uint64_t(failure) << 32 | detail);
}

} // namespace

void WriteRecord(HelperRecordKind kind, uint32_t job, uint64_t value)
{
    const HelperRecord record{uint32_t(kind), job, value};
    for (;;) {
        const ssize_t written = ::write(STDOUT_FILENO, &record, sizeof record);
        if (written == ssize_t(sizeof record))
            return;
        if (written < 0 && errno == EINTR)
            continue;
        _exit(kHelperFailed);
    }
}

bool MappedHasher::InstallBusErrorHandler()
{
    struct sigaction action = {};
    action.sa_sigaction = &OnBusError;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    return sigaction(SIGBUS, &action, nullptr) == 0;
}

MappedHasher::MappedHasher(std::vector<HelperJob> toHash, unsigned threadCount)
    : jobs(std::move(toHash)), order(jobs.size()),
      threads(std::max(1u, std::min<unsigned>({threadCount, kMaxThreads, unsigned(jobs.size())})))
{
    std::iota(order.begin(), order.end(), 0u);
    std::stable_sort(order.begin(), order.end(),
                     [this](uint32_t a, uint32_t b) { return jobs[a].size > jobs[b].size; });
}

int MappedHasher::Run()
{
    std::vector<std::thread> workers;
    for (unsigned slot = 1; slot < threads; ++slot)
        workers.emplace_back(&MappedHasher::Work, this, slot);
    Work(0);
    for (std::thread& worker : workers)
        worker.join();
    return kHelperDone;
}

void MappedHasher::Work(unsigned slot)
{
    for (;;) {
        const size_t taken = next.fetch_add(1, std::memory_order_relaxed);
        if (taken >= order.size())
            break;
        const uint32_t index = order[taken];
        WriteRecord(HelperRecordKind::Started, index, 0);
        // The checker decides on the first failure, so the helper need not go on.
        if (!HashJob(slot, index))
            _exit(kHelperFailed);
    }
}

bool MappedHasher::HashJob(unsigned slot, uint32_t index)
{
    const HelperJob& job = jobs[index];
    // Non-blocking, because a file replaced by a named pipe since it was measured would wait for a writer.
    const int fd = ::open(job.path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        Fail(index, HelperFailure::OpenFailed, uint32_t(errno));
        return false;
    }
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        Fail(index, HelperFailure::NotRegular, 0);
        return false;
    }
    // The measured size is mapped even when the file is shorter now: the bus error handler reports that.
    const char* base = nullptr;
    if (job.size > 0) {
        void* mapped = ::mmap(nullptr, job.size, PROT_READ, MAP_SHARED, fd, 0);
        if (mapped == MAP_FAILED) {
            const int error = errno;
            ::close(fd);
            Fail(index, HelperFailure::MapFailed, uint32_t(error));
            return false;
        }
        base = static_cast<const char*>(mapped);
    }
    const uint64_t hash = HashMapping(slot, index, base, job.size);
    if (base != nullptr)
        ::munmap(const_cast<char*>(base), job.size);
    // A file that shrank within its last page reads as zeros there rather than raising a bus error.
    const bool sameSize = ::fstat(fd, &info) == 0 && uint64_t(info.st_size) == job.size;
    ::close(fd);
    if (!sameSize) {
        Fail(index, HelperFailure::SizeChanged, 0);
        return false;
    }
    WriteRecord(HelperRecordKind::Hashed, index, hash);
    return true;
}

uint64_t MappedHasher::HashMapping(unsigned slot, uint32_t index, const char* base, uint64_t size)
{
    BusRange& range = busRanges[slot];
    range.job.store(index, std::memory_order_relaxed);
    range.end.store(reinterpret_cast<uintptr_t>(base) + size, std::memory_order_relaxed);
    range.begin.store(reinterpret_cast<uintptr_t>(base), std::memory_order_release);

    loadformat::Xxh3Stream stream;
    auto reported = std::chrono::steady_clock::now();
    for (uint64_t offset = 0; offset < size; offset += kChunk) {
        const uint64_t length = std::min(kChunk, size - offset);
        stream.Update(base + offset, size_t(length));
        // Every record wakes the checker's thread, which then competes with the hashing for a core.
        const auto now = std::chrono::steady_clock::now();
        if (now - reported >= kProgressInterval) {
            WriteRecord(HelperRecordKind::Progress, index, offset + length);
            reported = now;
        }
    }
    range.begin.store(0, std::memory_order_release);
    return stream.Digest();
}

} // namespace quillcheck
