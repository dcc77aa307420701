#pragma once

#include "record/AttemptRecord.h"
#include "record/RecordFields.h"

#include <QByteArray>
#include <QDate>
#include <QString>
#include <QStringList>

// The station record's line formats: JSON Lines and RFC 4180 CSV, both UTF-8, with the same fields in the
// same order (README, "Station record"), as RecordFields describes them.
namespace StationRecordFormat {

// The field names, in the order both formats write them; also the CSV header.
const QStringList& FieldNames();

// One compact JSON object, keys in field order, ending in "\n".
QByteArray JsonLine(const StationIdentity& identity, const AttemptRecord& record);

// The header and one record, each ending in CRLF; a field holding a quote, comma, CR or LF is quoted.
QByteArray CsvHeader();
QByteArray CsvLine(const StationIdentity& identity, const AttemptRecord& record);

// The fields of the attempt's own scope, those that differ between the attempts of one run, as one compact
// JSON object without a line end, after the given members (such as "\"event\":\"record\""): what a front end
// tells of an attempt as it ends.
QByteArray AttemptJson(const QByteArray& leadingMembers, const StationIdentity& identity,
                       const AttemptRecord& record);

// A stage's milliseconds; a stage that never ended ran until its attempt did.
qint64 StageMs(const SessionStage& stage, const AttemptRecord& record);

// UTC, ISO 8601 with milliseconds and "Z"; empty for an invalid time.
QString Timestamp(const QDateTime& time);

// The UTC day whose files take the record: that of its end, else of its start, else today.
QDate RecordDay(const AttemptRecord& record);

// "station-YYYY-MM-DD", the name of a day's files without their extension.
QString DayFileBase(const QDate& day);

// The name of a day's CSV file: "station-YYYY-MM-DD.csv" for the first part, "station-YYYY-MM-DD_2.csv"
// for the second and so on. A file keeps the header it was made with; the writer appends to the first part
// whose header is its own, or that is new, so that no line sits under another version's header.
QString CsvFileName(const QDate& day, int part);

} // namespace StationRecordFormat
