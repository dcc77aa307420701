#pragma once

#include <cstdint>
#include <vector>

// The one rule by which a row's failures stand out from the station's other rows, shared by the report over
// the database and by the live rows of a run.
namespace FailureOutliers {

// A row stands out from at least this many attempts on...
constexpr int64_t kMinAttempts = 20;
// ...with a failure rate above this many times the median row's...
constexpr double kFactor = 3.0;
// ...and above the median row's plus this much.
constexpr double kMargin = 0.10;

struct RowFailures
{
    int64_t attempts = 0;
    double failureRate = 0; // FAIL per attempt, 0 to 1
};

// For each row, whether it stands out; rows without attempts stand out never and leave the median alone.
std::vector<bool> Flag(const std::vector<RowFailures>& rows);

} // namespace FailureOutliers
