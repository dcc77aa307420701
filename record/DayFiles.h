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

    // Files that failed once in a pass of several lines, and are not tried again in it.
    struct Skip
    {
        bool json = false;
        bool csv = false;
    };

    // Appends the lines a file lacks and marks them done; true once both files have theirs. One file
    // failing still lets the other take its line; a failure sets skip and error.
    bool File(StationDatabase::UnfiledLines& lines, Skip& skip, QString& error);
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
