#pragma once

#include "record/StationReport.h"

class DatabaseColumns;

// How many of the selection's OK attempts were written without every image checked against the load, and
// how many come from before the station kept that at all: those are not known, never counted as unverified.
namespace VerifiedCount {

bool Count(const QSqlDatabase& database, const DatabaseColumns& columns, const StationReport::Filter& filter,
           StationReport::Verification& counts, QString& error);

} // namespace VerifiedCount
