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
// attempt columns with their schema and upgrade, and the command line's record event all come from this
// table, so that a new field is one entry. New fields go at the end: a day's CSV file and an older
// database are read by the order and the columns they already have.
namespace RecordFields {

// What a field's value is taken from. stageMs is the stages' compact form, which only the database knows
// how to number; null elsewhere.
struct Source
{
    const StationIdentity& identity;
    const AttemptRecord& record;
    const QByteArray* stageMs = nullptr;
};

struct Field
{
    QString name;       // the JSON key and the CSV header
    QString column;     // the column of table attempt
    QString columnType; // its SQL type; a column that an older database gains needs a default
    bool perAttempt;    // differs between the attempts of one run, as the record event shows them
    std::function<QByteArray(const Source&)> json; // the JSON value as text
    std::function<QString(const Source&)> csv;     // the CSV field before quoting
    std::function<QVariant(const Source&)> sql;    // the value bound to the column
};

// Every field, in the order of the files.
const std::vector<Field>& All();

// The column of the field with that name; empty for a name the table lacks.
QString Column(const QString& name);
// The same, as the SQL text a statement is built from.
QByteArray SqlColumn(const char* name);

// Text as a JSON string, escaped.
QByteArray JsonString(const QString& text);

} // namespace RecordFields
