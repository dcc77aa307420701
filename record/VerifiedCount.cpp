#include "record/VerifiedCount.h"

#include "record/DatabaseColumns.h"
#include "record/RecordFields.h"
#include "record/SqliteScan.h"

#include <QSqlDatabase>

namespace VerifiedCount {

namespace {

using RecordFields::SqlColumn;

QByteArray OkClause(const StationReport::Filter& filter)
{
    return StationReport::WhereClause(filter, SqlColumn("result") + " = 'OK'");
}

} // namespace

bool Count(const QSqlDatabase& database, const DatabaseColumns& columns, const StationReport::Filter& filter,
           StationReport::Verification& counts, QString& error)
{
    counts = StationReport::Verification();
    const QByteArray written = SqlColumn("imagesWritten");
    const QByteArray verified = SqlColumn("verifiedImages");
    // A database from before the fields: every OK attempt in it is not known.
    const QByteArray statement = columns.Has({"imagesWritten", "verifiedImages"})
                                     ? "SELECT total(" + written + " IS NOT NULL AND " + verified +
                                           " IS NOT NULL AND " + verified + " < " + written + "), total(" +
                                           written + " IS NULL OR " + verified + " IS NULL) FROM attempt" +
                                           OkClause(filter)
                                     : "SELECT 0, count(*) FROM attempt" + OkClause(filter);
    SqliteScan scan(database, statement);
    StationReport::Bind(scan, filter);
    if (scan.Next()) {
        counts.unverified = scan.Int(0);
        counts.notKnown = scan.Int(1);
    }
    error = scan.Error();
    return error.isEmpty();
}

} // namespace VerifiedCount
