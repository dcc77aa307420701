#include "record/StageTimes.h"

namespace StageTimes {

namespace {

void Append(QByteArray& out, uint64_t value)
{
    while (value >= 0x80) {
        out.append(char((value & 0x7f) | 0x80));
        value >>= 7;
    }
    out.append(char(value));
}

} // namespace

QByteArray Encode(const std::vector<std::pair<qint64, qint64>>& stages)
{
    QByteArray out;
    out.reserve(1 + int(stages.size()) * 4);
    out.append(char(kLayout));
    for (const auto& [number, ms] : stages) {
        Append(out, uint64_t(number));
        Append(out, (uint64_t(ms) << 1) ^ uint64_t(ms >> 63));
    }
    return out;
}

} // namespace StageTimes
