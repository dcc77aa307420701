#pragma once

#include "record/StationReport.h"

class DatabaseColumns;
class SqliteScan;

// How many of the selection's OK attempts were written without every image checked against the load, and
// how many come from before the station kept that at all: those are not known, never counted as unverified.
// Counted in the report's own pass over the attempts, from two columns of its scan.
namespace VerifiedCount {

// The record fields the count reads, in the order Add expects them in a scan.
constexpr const char* kFields[] = {"imagesWritten", "verifiedImages"};

// Whether table attempt has the fields; a scan of an older one selects NULL in their place.
bool Present(const DatabaseColumns& columns);

// Counts one OK attempt, whose fields are the scan's columns from first on.
void Add(const SqliteScan& scan, int first, StationReport::Verification& counts);

} // namespace VerifiedCount
