#pragma once

#include <QString>
#include <QStringList>

// What the station record's files may be, wherever they are opened: a symbolic link in place of one is
// refused rather than written through, and what the station creates gets modes that let the factory's tools
// read it whatever umask the station was started with (files 0644, folders 0755).
namespace RecordFiles {

// The operator's message for a link found in place of a record file.
QString LinkRefused(const QString& path);
// The refusal of the first of paths that is a link, dangling or not; empty when none is.
QString RefuseLinks(const QStringList& paths);
// Creates the folder and its missing parents; false with the reason in error.
bool MakeFolder(const QString& folder, QString& error);
// Readies the SQLite database at path for opening: refused when it, its "-wal" or its "-shm" is a link;
// otherwise created empty when missing, so that the journal files, which SQLite gives the database's mode,
// get the record's mode too. Empty when it may be opened, else the reason.
QString PrepareDatabase(const QString& path);

} // namespace RecordFiles
