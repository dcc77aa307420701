#pragma once

#include "record/StationDatabase.h"

#include <QDate>
#include <QString>

#include <vector>

// The station record's day files, which the journal feeds: a closed attempt's JSON line and CSV row,
// each appended to its UTC day's file under the file's lock. The window and a command-line run may append
// to the same day's files at once; each file's advisory lock keeps their lines whole and the CSV header
// single. A day's CSV file made by a version with other fields is left to it, and the rest of the day goes
// to the next part (StationRecordFormat::CsvFileName). Used by the journal's thread alone.
class DayFiles
{
public:
    DayFiles(const QString& folder, int lockTimeoutMs);

    // Appends the lines the files lack, each day's in one append per file, and marks them done. A file that
    // fails is not tried again in this pass, so a full disk or a held lock costs one try per pass, not one per
    // waiting line; the other file still takes its lines. Returns the appends that failed, error the first
    // one's reason.
    int File(std::vector<StationDatabase::UnfiledLines>& lines, QString& error);
    // Marks the lines a day file holds already, by their attempt's id: a station stopped after appending
    // them and before the journal forgot them.
    void MarkFiled(std::vector<StationDatabase::UnfiledLines>& lines) const;

private:
    // Appends to the day's first CSV part whose header is this version's, or that is new.
    bool AppendCsv(const QDate& day, const QByteArray& line, QString& error);
    QString JsonPath(const QDate& day) const;

    const QString folder;
    const int lockTimeoutMs;
    QDate csvDay;
    int csvPart = 1; // the part of csvDay to try first
};
