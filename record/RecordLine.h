#pragma once

#include "record/AttemptRecord.h"
#include "record/RecordFields.h"

#include <QByteArray>

// A day file's JSON line read back into the record it was written from: what a rebuilt station database
// takes from the files for the attempts its damaged predecessor can no longer give.
namespace RecordLine {

// False for a line that is not a record's object or names no attempt.
bool Parse(const QByteArray& line, StationIdentity& identity, AttemptRecord& record);

// The attempt's id as the line spells it, without reading the rest: empty when the line names none.
QByteArray AttemptId(const QByteArray& line);

} // namespace RecordLine
