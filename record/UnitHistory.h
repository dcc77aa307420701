#pragma once

#include "record/AttemptRecord.h"
#include "record/RecordFields.h"
#include "record/StationReport.h"

#include <QString>
#include <QVector>

class DatabaseColumns;
class QSqlDatabase;

// One unit's attempts, and the units the station attempted more than once, over the station database.
// A unit is the device's own id: unlike the port it sat on, it follows the device to its next attempt, on
// this station or another whose database is read.
namespace UnitHistory {

// One attempt as the history shows it: its start, station, row, port, load, result, failed stage, error and
// id, each read back through the record's table by its field's name; the other fields keep their defaults.
struct Attempt
{
    StationIdentity identity; // the station that recorded it
    AttemptRecord record;
};

// The attempts of the unit that the filter selects, oldest first; a database older than the unit's column
// holds none. False with the reason in error.
bool Read(const QSqlDatabase& database, const StationReport::Filter& filter, const QString& unit,
          QVector<Attempt>& attempts, QString& error);

// Counts the units the selected attempts name, those attempted more than once and those that ended OK more
// than once. False with the reason in error.
bool CountRepeats(const QSqlDatabase& database, const DatabaseColumns& columns,
                  const StationReport::Filter& filter, StationReport::UnitRepeats& repeats, QString& error);

} // namespace UnitHistory
