#pragma once

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

// An attempt's stages in the attempt's own row: each stage's number in table stage_name and its
// milliseconds, in the order they ran. A report then reads one row per attempt instead of one per stage.
// The first byte says how the rest is laid out, so that another layout can come without misreading this one.
namespace StageTimes {

constexpr unsigned char kLayout = 1;

// Pairs of stage number and milliseconds.
QByteArray Encode(const std::vector<std::pair<qint64, qint64>>& stages);

// Calls take(number, ms) for each stage in order; false for a layout it does not know or a cut-off value,
// in which case the caller must not trust what it was given.
template <typename Take>
bool Decode(const unsigned char* data, size_t size, Take take)
{
    if (size == 0 || data[0] != kLayout)
        return false;
    size_t at = 1;
    // Seven bits a byte, the lowest first; the top bit says another byte follows.
    const auto next = [&](uint64_t& value) {
        value = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            if (at >= size)
                return false;
            const unsigned char byte = data[at++];
            value |= uint64_t(byte & 0x7f) << shift;
            if (!(byte & 0x80))
                return true;
        }
        return false;
    };
    while (at < size) {
        uint64_t number = 0;
        uint64_t zigzag = 0;
        if (!next(number) || !next(zigzag))
            return false;
        // Milliseconds are never negative from the writer, but the codec keeps whatever it is given.
        take(qint64(number), qint64(zigzag >> 1) ^ -qint64(zigzag & 1));
    }
    return true;
}

} // namespace StageTimes
