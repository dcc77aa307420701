#include "MethodChooser.h"

#include <algorithm>

namespace quillcheck {

int64_t MethodChooser::Timings::Cost() const
{
    const size_t known = std::min(count, recent.size());
    return *std::min_element(recent.begin(), recent.begin() + std::max<size_t>(known, 1));
}

MethodChooser::Method MethodChooser::Next() const
{
    if (fixed)
        return only;
    if (chunk < kTrialChunks)
        return chunk % 2 == 0 ? Method::Map : Method::Read;
    const Method cheaper = timings[0].Cost() <= timings[1].Cost() ? Method::Map : Method::Read;
    const Method dearer = cheaper == Method::Map ? Method::Read : Method::Map;
    return chunk % kRetryEvery == 0 ? dearer : cheaper;
}

void MethodChooser::Record(Method method, std::chrono::nanoseconds took)
{
    Timings& timing = timings[size_t(method)];
    timing.recent[timing.count % timing.recent.size()] = took.count();
    ++timing.count;
    ++chunk;
}

} // namespace quillcheck
