#pragma once

#include "record/AttemptRecord.h"

#include <QByteArray>
#include <QDate>
#include <QString>
#include <QStringList>

// The two fields every record of one writer shares.
struct StationIdentity
{
    QString station;     // the host name
    QString toolVersion; // version text and commit id, "W2316.00.000 (3f2a9c1)"
};

// The station record's line formats: JSON Lines and RFC 4180 CSV, both UTF-8, with the same fields in the
// same order (README, "Station record").
namespace StationRecordFormat {

// The field names, in the order both formats write them; also the CSV header.
const QStringList& FieldNames();

// One compact JSON object, keys in field order, ending in "\n".
QByteArray JsonLine(const StationIdentity& identity, const AttemptRecord& record);

// The header and one record, each ending in CRLF; a field holding a quote, comma, CR or LF is quoted.
QByteArray CsvHeader();
QByteArray CsvLine(const StationIdentity& identity, const AttemptRecord& record);

// A stage's milliseconds; a stage that never ended ran until its attempt did.
qint64 StageMs(const SessionStage& stage, const AttemptRecord& record);

// UTC, ISO 8601 with milliseconds and "Z"; empty for an invalid time.
QString Timestamp(const QDateTime& time);

// The UTC day whose files take the record: that of its end, else of its start, else today.
QDate RecordDay(const AttemptRecord& record);

// "station-YYYY-MM-DD", the name of a day's files without their extension.
QString DayFileBase(const QDate& day);

} // namespace StationRecordFormat
