#include "HelperHasher.h"

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
BusRange busRanges[HelperHasher::kMaxThreads];

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

bool HelperHasher::InstallBusErrorHandler()
{
    struct sigaction action = {};
    action.sa_sigaction = &OnBusError;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    return sigaction(SIGBUS, &action, nullptr) == 0;
}

HelperHasher::HelperHasher(std::vector<HelperJob> toHash, unsigned threadCount, HelperMethod method)
    : jobs(std::move(toHash)), order(jobs.size()),
      threads(std::max(1u, std::min<unsigned>({threadCount, kMaxThreads, unsigned(jobs.size())}))),
      method(method)
{
    std::iota(order.begin(), order.end(), 0u);
    std::stable_sort(order.begin(), order.end(),
                     [this](uint32_t a, uint32_t b) { return jobs[a].size > jobs[b].size; });
}

int HelperHasher::Run()
{
    std::vector<std::thread> workers;
    for (unsigned slot = 1; slot < threads; ++slot)
        workers.emplace_back(&HelperHasher::Work, this, slot);
    Work(0);
    for (std::thread& worker : workers)
        worker.join();
    return kHelperDone;
}

void HelperHasher::Work(unsigned slot)
{
    std::vector<char> block(kReadBlock);
    for (;;) {
        const size_t taken = next.fetch_add(1, std::memory_order_relaxed);
        if (taken >= order.size())
            break;
        const uint32_t index = order[taken];
        WriteRecord(HelperRecordKind::Started, index, 0);
        // The checker decides on the first failure, so the helper need not go on.
        if (!HashJob(slot, index, block))
            _exit(kHelperFailed);
    }
}

bool HelperHasher::HashJob(unsigned slot, uint32_t index, std::vector<char>& block)
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
    // Both ways of reading share the descriptor's read-ahead, which this widens for a cold file.
    posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    uint64_t hash = 0;
    if (!HashChunks(slot, index, fd, block, hash)) {
        ::close(fd);
        return false;
    }
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

bool HelperHasher::HashChunks(unsigned slot, uint32_t index, int fd, std::vector<char>& block, uint64_t& hash)
{
    const uint64_t size = jobs[index].size;
    loadformat::Xxh3Stream stream;
    MethodChooser chooser = method == HelperMethod::Choose ? MethodChooser()
                            : method == HelperMethod::Map  ? MethodChooser(MethodChooser::Method::Map)
                                                           : MethodChooser(MethodChooser::Method::Read);
    auto reported = std::chrono::steady_clock::now();
    for (uint64_t offset = 0; offset < size; offset += kChunk) {
        const uint64_t length = std::min(kChunk, size - offset);
        const MethodChooser::Method method = chooser.Next();
        const auto started = std::chrono::steady_clock::now();
        const bool hashed = method == MethodChooser::Method::Map
                                ? ByMapping(slot, index, fd, offset, length, stream)
                                : ByReading(index, fd, offset, length, block, stream);
        if (!hashed)
            return false;
        const auto now = std::chrono::steady_clock::now();
        if (length == kChunk)
            chooser.Record(method, now - started);
        // Every record wakes the checker's thread, which then competes with the hashing for a core.
        if (now - reported >= kProgressInterval) {
            WriteRecord(HelperRecordKind::Progress, index, offset + length);
            reported = now;
        }
    }
    hash = stream.Digest();
    return true;
}

// The measured size is mapped even when the file is shorter now: the bus error handler reports that.
bool HelperHasher::ByMapping(unsigned slot, uint32_t index, int fd, uint64_t offset, uint64_t length,
                             loadformat::Xxh3Stream& stream)
{
    void* mapped = ::mmap(nullptr, length, PROT_READ, MAP_SHARED, fd, off_t(offset));
    if (mapped == MAP_FAILED) {
        Fail(index, HelperFailure::MapFailed, uint32_t(errno));
        return false;
    }
    BusRange& range = busRanges[slot];
    range.job.store(index, std::memory_order_relaxed);
    range.end.store(reinterpret_cast<uintptr_t>(mapped) + length, std::memory_order_relaxed);
    range.begin.store(reinterpret_cast<uintptr_t>(mapped), std::memory_order_release);
    stream.Update(mapped, size_t(length));
    range.begin.store(0, std::memory_order_release);
    ::munmap(mapped, length);
    return true;
}

bool HelperHasher::ByReading(uint32_t index, int fd, uint64_t offset, uint64_t length,
                             std::vector<char>& block, loadformat::Xxh3Stream& stream)
{
    const uint64_t end = offset + length;
    while (offset < end) {
        const ssize_t got =
            ::pread(fd, block.data(), size_t(std::min<uint64_t>(block.size(), end - offset)), off_t(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            Fail(index, HelperFailure::ReadFailed, uint32_t(errno));
            return false;
        }
        if (got == 0) {
            Fail(index, HelperFailure::CutShort, 0);
            return false;
        }
        stream.Update(block.data(), size_t(got));
        offset += uint64_t(got);
    }
    return true;
}

} // namespace quillcheck
