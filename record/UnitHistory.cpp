#include "record/UnitHistory.h"

#include "record/RecordFields.h"
#include "record/SqliteScan.h"

#include <QByteArrayList>
#include <QSqlDatabase>

namespace UnitHistory {

namespace {

using RecordFields::SqlColumn;

// The selection's attempts that name their unit: the database indexes only those.
QByteArray NamedUnitClause(const StationReport::Filter& filter)
{
    return StationReport::WhereClause(filter, SqlColumn("unit") + " <> ''");
}

// A database the station wrote before attempts named their unit has no such column, and no unit in it.
bool HasUnitColumn(const QSqlDatabase& database)
{
    const SqliteScan probe(database, "SELECT " + SqlColumn("unit") + " FROM attempt LIMIT 0");
    return probe.Error().isEmpty();
}

QString Text(std::string_view text)
{
    return QString::fromUtf8(text.data(), int(text.size()));
}

} // namespace

bool Read(const QSqlDatabase& database, const StationReport::Filter& filter, const QString& unit,
          QVector<Attempt>& attempts, QString& error)
{
    attempts.clear();
    if (!HasUnitColumn(database))
        return true;
    const QByteArrayList columns{SqlColumn("start"),       SqlColumn("station"),    SqlColumn("row"),
                                 SqlColumn("port"),        SqlColumn("loadDigest"), SqlColumn("result"),
                                 SqlColumn("failedStage"), SqlColumn("error"),      SqlColumn("attempt")};
    SqliteScan scan(database, "SELECT " + columns.join(", ") + " FROM attempt" + NamedUnitClause(filter) +
                                  " AND " + SqlColumn("unit") + " = :unit ORDER BY " + SqlColumn("start") +
                                  ", id");
    StationReport::Bind(scan, filter);
    scan.Bind(":unit", unit.toUtf8());
    while (scan.Next()) {
        attempts.append({scan.Int(0), Text(scan.Text(1)), scan.Int(2), Text(scan.Text(3)), Text(scan.Text(4)),
                         Text(scan.Text(5)), Text(scan.Text(6)), Text(scan.Text(7)), Text(scan.Text(8))});
    }
    error = scan.Error();
    return error.isEmpty();
}

bool CountRepeats(const QSqlDatabase& database, const StationReport::Filter& filter,
                  StationReport::UnitRepeats& repeats, QString& error)
{
    repeats = StationReport::UnitRepeats();
    if (!HasUnitColumn(database))
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
