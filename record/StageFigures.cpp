#include "record/StageFigures.h"

#include <cstdint>

namespace StationReport {

std::pair<qint32, qint32> LowerMedianAndMost(const std::vector<const StageSeries*>& series)
{
    size_t count = 0;
    qint32 least = std::numeric_limits<qint32>::max();
    qint32 most = std::numeric_limits<qint32>::min();
    for (const StageSeries* one : series) {
        count += one->values.size();
        least = qMin(least, one->least);
        most = qMax(most, one->most);
    }
    // Flipping the sign bit orders the keys as the values.
    const auto key = [](qint32 value) { return uint32_t(value) ^ 0x80000000u; };
    size_t rank = (count - 1) / 2;
    const uint32_t low = key(least);
    const uint32_t high = key(most);
    uint32_t block = low >> 16;
    if (high >> 16 != block) {
        std::vector<size_t> counts(size_t((high >> 16) - block + 1));
        for (const StageSeries* one : series) {
            for (const qint32 value : one->values)
                ++counts[(key(value) >> 16) - block];
        }
        size_t at = 0;
        while (rank >= counts[at])
            rank -= counts[at++];
        block += uint32_t(at);
    }
    const uint32_t from = block == low >> 16 ? (low & 0xffff) : 0;
    const uint32_t to = block == high >> 16 ? (high & 0xffff) : 0xffff;
    std::vector<size_t> counts(size_t(to - from + 1));
    for (const StageSeries* one : series) {
        for (const qint32 value : one->values) {
            const uint32_t k = key(value);
            if (k >> 16 == block)
                ++counts[(k & 0xffff) - from];
        }
    }
    size_t at = 0;
    while (rank >= counts[at])
        rank -= counts[at++];
    const qint32 median = qint32(((block << 16) | (from + uint32_t(at))) ^ 0x80000000u);
    return {median, most};
}

} // namespace StationReport
