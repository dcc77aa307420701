// What the hashing helper process tells the checker on its standard output: fixed records of 16 bytes,
// which the pipe delivers whole even when two of the helper's threads write at once.
#pragma once

#include <cstdint>

namespace quillcheck {

// The helper's command line: quillcheck_hasher <threads> <method> <size> <path> [<size> <path> ...]; the job
// number in every record is the position of its pair, counted from 0.
inline constexpr const char* kHelperName = "quillcheck_hasher";

// How the helper reads each chunk, as its command line names it.
enum class HelperMethod : char
{
    Choose = 'c', // mapping or reads, as the file's timings favour
    Map = 'm',
    Read = 'r'
};
inline constexpr unsigned kHelperMaxThreads = 64;

enum class HelperRecordKind : uint32_t
{
    Started = 1,  // value unused
    Progress = 2, // value: bytes of this job hashed so far
    Hashed = 3,   // value: the job's XXH3-64
    Failed = 4    // value: HelperFailure in the high half, errno (or the new size's low half) in the low half
};

enum class HelperFailure : uint32_t
{
    OpenFailed = 1,
    NotRegular = 2,
    MapFailed = 3,
    CutShort = 4,    // the file ended before the size it was measured at
    SizeChanged = 5, // the file's size after hashing is not the size it was measured at
    ReadFailed = 6
};

struct HelperRecord
{
    uint32_t kind;
    uint32_t job;
    uint64_t value;
};
static_assert(sizeof(HelperRecord) == 16, "records are written whole");

// The helper's exit codes.
inline constexpr int kHelperDone = 0;
inline constexpr int kHelperUsage = 2;
inline constexpr int kHelperFailed = 3;

} // namespace quillcheck
