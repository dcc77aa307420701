// Chooses, chunk by chunk, whether the helper hashes a file through a mapping or through reads. A mapping
// costs a fault and a teardown per page-cache folio, reads a copy per byte; which is cheaper depends on how
// the file came into the cache (a file just written sits in large folios, one read back from the disk often
// in small ones), so both are timed on the file itself and timed again now and then.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>

namespace quillcheck {

class MethodChooser
{
public:
    enum class Method
    {
        Map = 0,
        Read = 1
    };

    // The first chunks alternate, so that each method is timed twice before either is chosen.
    static constexpr uint64_t kTrialChunks = 4;
    // Every this many chunks the method that lost is timed once more, as the cache may differ further on.
    static constexpr uint64_t kRetryEvery = 16;

    // Without a choice, every chunk goes the given way.
    MethodChooser() = default;
    explicit MethodChooser(Method only) : fixed(true), only(only) {}

    Method Next() const;
    // For whole chunks only: a short last chunk's cost is mostly the cost of starting it.
    void Record(Method method, std::chrono::nanoseconds took);

private:
    // Other work on the machine only ever makes a chunk slower, so the fastest recent time is the method's
    // cost.
    struct Timings
    {
        std::array<int64_t, 3> recent{};
        size_t count = 0;
        int64_t Cost() const;
    };

    bool fixed = false;
    Method only = Method::Map;
    uint64_t chunk = 0;
    std::array<Timings, 2> timings;
};

} // namespace quillcheck
