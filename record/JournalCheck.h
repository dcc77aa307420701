#pragma once

#include <QString>

class QSqlDatabase;

// Whether the station database is sound enough to go on writing to: SQLite's own structural check. A
// database that fails it is rebuilt (JournalRebuild), never reopened as it is.
namespace JournalCheck {

enum class Depth
{
    // The structural check of every table, without comparing indexes with their tables: what a start pays.
    Quick,
    // The full check, which also compares every index with its table; for the operator's "journal check".
    Full,
};

enum class Verdict
{
    Sound,
    Damaged,
    Unknown, // the check could not run (a lock, an I/O error): nothing is said about the file
};

// findings: SQLite's first findings when damaged, the error that stopped the check when unknown.
Verdict Run(QSqlDatabase& database, Depth depth, QString& findings);

// Whether an SQLite error (its native code) says the file is damaged or not a database at all.
bool IsDamage(const QString& nativeErrorCode);

} // namespace JournalCheck
