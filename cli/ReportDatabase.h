#pragma once

#include <QString>

class QSqlDatabase;

// Opens the station database for a report: read only, beside a running station, and without leaving
// anything beside the file. A read-only SQLite connection to a database in WAL mode makes the "-wal" and
// "-shm" files when they are missing and cannot take them away again, so a file that is no SQLite database
// is refused before SQLite sees it, and a database nobody has open is read as it lies on disk.
namespace ReportDatabase {

// Opens the database at path on the connection; false with the reason in error.
bool Open(QSqlDatabase& database, const QString& path, QString& error);

} // namespace ReportDatabase
