#include "record/UnitHistory.h"

#include "record/DatabaseColumns.h"
#include "record/SqliteScan.h"

#include <QByteArrayList>
#include <QSqlDatabase>

namespace UnitHistory {

namespace {

const char* const kShown[] = {"start",  "station",     "row",   "port",   "loadDigest",
                              "result", "failedStage", "error", "attempt"};

using RecordFields::SqlColumn;

// The selection's attempts that name their unit: the database indexes only those.
QByteArray NamedUnitClause(const StationReport::Filter& filter)
{
    return StationReport::WhereClause(filter, SqlColumn("unit") + " <> ''");
}

} // namespace

bool Read(const QSqlDatabase& database, const StationReport::Filter& filter, const QString& unit,
          QVector<Attempt>& attempts, QString& error)
{
    attempts.clear();
    // A database the station wrote before attempts named their unit has no such column, and no unit in it.
    if (!DatabaseColumns(database).Has({"unit"}))
        return true;
    std::vector<const RecordFields::Field*> fields;
    QByteArrayList columns;
    for (const char* name : kShown) {
        fields.push_back(RecordFields::Find(QLatin1String(name)));
        columns << fields.back()->column.toUtf8();
    }
    SqliteScan scan(database, "SELECT " + columns.join(", ") + " FROM attempt" + NamedUnitClause(filter) +
                                  " AND " + SqlColumn("unit") + " = :unit ORDER BY " + SqlColumn("start") +
                                  ", id");
    StationReport::Bind(scan, filter);
    scan.Bind(":unit", unit.toUtf8());
    while (scan.Next()) {
        Attempt attempt;
        const RecordFields::Target target{attempt.identity, attempt.record};
        for (size_t column = 0; column < fields.size(); ++column)
            fields[column]->take(target, scan.Value(int(column)));
        attempts.append(attempt);
    }
    error = scan.Error();
    return error.isEmpty();
}

bool CountRepeats(const QSqlDatabase& database, const DatabaseColumns& columns,
                  const StationReport::Filter& filter, StationReport::UnitRepeats& repeats, QString& error)
{
    repeats = StationReport::UnitRepeats();
    if (!columns.Has({"unit"}))
        return true;
    SqliteScan scan(database, "SELECT count(*), total(attempts > 1), total(ok > 1) FROM (SELECT count(*) AS"
                              " attempts, total(" +
                                  SqlColumn("result") + " = 'OK') AS ok FROM attempt" +
                                  NamedUnitClause(filter) + " GROUP BY " + SqlColumn("unit") + ")");
    StationReport::Bind(scan, filter);
    if (scan.Next()) {
        repeats.named = scan.Int(0);
        repeats.repeated = scan.Int(1);
        repeats.okRepeated = scan.Int(2);
    }
    error = scan.Error();
    return error.isEmpty();
}

} // namespace UnitHistory
