#pragma once

#include <QString>
#include <QtGlobal>

#include <algorithm>
#include <limits>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

// The report's stage figures: which stage is which, in the order the history first shows them, and the
// exact lower median of many series of milliseconds without copying them together.
namespace StationReport {

// The milliseconds of one stage in one combination, with their bounds, which spare a pass when the
// median is looked for.
struct StageSeries
{
    void Add(qint32 value)
    {
        values.push_back(value);
        least = qMin(least, value);
        most = qMax(most, value);
    }

    std::vector<qint32> values;
    qint32 least = std::numeric_limits<qint32>::max();
    qint32 most = std::numeric_limits<qint32>::min();
};

// The stages by name, each in the place the history first shows it: the first attempt (by id) that has
// it, then its place among that attempt's stages. That is the order of table stage, whichever of the two
// forms an attempt's stages were read from.
class StageIndex
{
public:
    // Names the numbers of table stage_name.
    void Number(qint64 number, std::string_view name)
    {
        if (number >= 0 && number < kDirectNumbers) {
            if (size_t(number) >= ofNumber.size())
                ofNumber.resize(size_t(number) + 1, kUnnamed);
            ofNumber[size_t(number)] = Of(name);
        } else {
            ofLargeNumber[number] = Of(name);
        }
    }

    // -1 for a number table stage_name does not name.
    int OfNumber(qint64 number) const
    {
        if (number >= 0 && number < qint64(ofNumber.size()))
            return ofNumber[size_t(number)];
        const auto found = ofLargeNumber.find(number);
        return found == ofLargeNumber.end() ? kUnnamed : found->second;
    }

    int Of(std::string_view name)
    {
        for (size_t stage = 0; stage < names.size(); ++stage) {
            if (names[stage] == name)
                return int(stage);
        }
        names.emplace_back(name);
        firstSeen.emplace_back(std::numeric_limits<qint64>::max(), 0);
        return int(names.size() - 1);
    }

    void Seen(int stage, qint64 attempt, qint64 place)
    {
        std::pair<qint64, qint64>& first = firstSeen[size_t(stage)];
        if (attempt < first.first || (attempt == first.first && place < first.second))
            first = {attempt, place};
    }

    // The stages seen at all, in the order they were first seen.
    std::vector<int> Order() const
    {
        std::vector<int> order;
        for (size_t stage = 0; stage < names.size(); ++stage) {
            if (firstSeen[stage].first != std::numeric_limits<qint64>::max())
                order.push_back(int(stage));
        }
        std::sort(order.begin(), order.end(),
                  [this](int a, int b) { return firstSeen[size_t(a)] < firstSeen[size_t(b)]; });
        return order;
    }

    QString Name(int stage) const { return FromUtf8(names[size_t(stage)]); }

    static QString FromUtf8(std::string_view text) { return QString::fromUtf8(text.data(), int(text.size())); }

private:
    static constexpr int kUnnamed = -1;
    static constexpr qint64 kDirectNumbers = 1 << 16;

    std::vector<std::string> names;
    std::vector<std::pair<qint64, qint64>> firstSeen; // attempt and place
    std::vector<int> ofNumber;
    std::unordered_map<qint64, int> ofLargeNumber;
};

// The lower median and the largest of the values of every series together, as sorting them all would give,
// without copying them: the values are counted by their top sixteen bits to find the block that holds the
// median, then by their bottom sixteen bits within that block.
std::pair<qint32, qint32> LowerMedianAndMost(const std::vector<const StageSeries*>& series);

} // namespace StationReport
