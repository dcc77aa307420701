#include "record/VerifiedCount.h"

#include "record/DatabaseColumns.h"
#include "record/SqliteScan.h"

namespace VerifiedCount {

bool Present(const DatabaseColumns& columns)
{
    return columns.Has({kFields[0], kFields[1]});
}

void Add(const SqliteScan& scan, int first, StationReport::Verification& counts)
{
    // A row from before the fields, or of a database that lacks them, holds NULL.
    if (scan.IsNull(first) || scan.IsNull(first + 1))
        ++counts.notKnown;
    else if (scan.Int(first + 1) < scan.Int(first))
        ++counts.unverified;
}

} // namespace VerifiedCount
