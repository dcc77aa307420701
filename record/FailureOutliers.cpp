#include "record/FailureOutliers.h"

#include <algorithm>

namespace FailureOutliers {

std::vector<bool> Flag(const std::vector<RowFailures>& rows)
{
    std::vector<bool> flagged(rows.size(), false);
    std::vector<double> rates;
    for (const RowFailures& row : rows) {
        if (row.attempts > 0)
            rates.push_back(row.failureRate);
    }
    if (rates.empty())
        return flagged;
    std::sort(rates.begin(), rates.end());
    const size_t half = rates.size() / 2;
    const double median = rates.size() % 2 ? rates[half] : (rates[half - 1] + rates[half]) / 2;
    for (size_t i = 0; i < rows.size(); ++i) {
        flagged[i] = rows[i].attempts >= kMinAttempts && rows[i].failureRate > kFactor * median &&
                     rows[i].failureRate > median + kMargin;
    }
    return flagged;
}

} // namespace FailureOutliers
