#pragma once

#include "record/AttemptRecord.h"

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <functional>
#include <vector>

// The two fields every record of one writer shares.
struct StationIdentity
{
    QString station;     // the host name
    QString toolVersion; // version text and commit id, "W2316.00.000 (3f2a9c1)"
};

// The station record's fields, described once: the day files' names, order and values, the database's
// attempt columns with their schema and upgrade, the journal's open attempts, the command line's record event
// and the readers of the database all come from this table, so that a new field is one entry (in MakeAll,
// RecordFields.cpp). New fields go at the end: a day's CSV file and an older database are read by the order
// and the columns they already have.
namespace RecordFields {

// What a field's value is shared by: every record of one writer (the station's identity), the attempts of one
// start of a port (the run's load, scene and operator), or the attempt alone.
enum class Scope
{
    Station,
    Run,
    Attempt,
};

// What a field's value is taken from. stageMs is the stages' compact form, which only the database knows
// how to number; null elsewhere.
struct Source
{
    const StationIdentity& identity;
    const AttemptRecord& record;
    const QByteArray* stageMs = nullptr;
};

// Where a value read back goes.
struct Target
{
    StationIdentity& identity;
    AttemptRecord& record;
};

struct Field
{
    QString name;       // the JSON key and the CSV header
    QString column;     // the column of table attempt
    QString columnType; // its SQL type; a column that an older database gains needs a default
    Scope scope;
    std::function<QByteArray(const Source&)> json; // the JSON value as text
    std::function<QString(const Source&)> csv;     // the CSV field before quoting
    std::function<QVariant(const Source&)> sql;    // the value bound to the column
    // Puts a value of the column's kind (as sql gives it, or as the database returns it) back into the
    // record; a null value leaves the record's own. Null for a field whose column cannot be read back alone
    // (the stages, numbered by the database).
    std::function<void(const Target&, const QVariant&)> take;
};

// Every field, in the order of the files.
const std::vector<Field>& All();

// The field with that name; null for a name the table lacks.
const Field* Find(const QString& name);
// The column of the field with that name; empty for a name the table lacks.
QString Column(const QString& name);
// The same, as the SQL text a statement is built from.
QByteArray SqlColumn(const char* name);

// Text as a JSON string, escaped.
QByteArray JsonString(const QString& text);

} // namespace RecordFields
