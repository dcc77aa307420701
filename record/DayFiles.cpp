#include "record/DayFiles.h"

#include "record/LockedAppend.h"
#include "record/RecordFiles.h"
#include "record/StationRecordFormat.h"

#include <QDir>
#include <QFile>
#include <QHash>

#include <algorithm>

using namespace StationRecordFormat;

namespace {

// Each part of a day is made by a version with other fields; no station sees this many in a day.
constexpr int kMostCsvParts = 100;

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

DayFiles::DayFiles(const QString& folder, int lockTimeoutMs) : folder(folder), lockTimeoutMs(lockTimeoutMs) {}

QString DayFiles::JsonPath(const QDate& day) const
{
    return folder + QLatin1Char('/') + DayFileBase(day) + QStringLiteral(".jsonl");
}

int DayFiles::File(std::vector<StationDatabase::UnfiledLines>& lines, QString& error)
{
    if (lines.empty())
        return 0;
    QString reason;
    if (!RecordFiles::MakeFolder(folder, reason)) {
        error = QStringLiteral("cannot create the folder %1: %2").arg(QDir::toNativeSeparators(folder), reason);
        return 1;
    }
    // One append, one lock and one sync per file and day for all the lines a pass has: they came in the
    // journal's order and keep it within each file.
    int failures = 0;
    bool skipJson = false;
    bool skipCsv = false;
    std::vector<QDate> days;
    for (const StationDatabase::UnfiledLines& line : lines) {
        if (std::find(days.begin(), days.end(), line.day) == days.end())
            days.push_back(line.day);
    }
    const auto fail = [&](const QString& why) {
        ++failures;
        if (error.isEmpty())
            error = why;
    };
    for (const QDate& day : days) {
        QByteArray json;
        QByteArray csv;
        for (const StationDatabase::UnfiledLines& line : lines) {
            if (line.day != day)
                continue;
            if (!line.jsonDone)
                json += line.json;
            if (!line.csvDone)
                csv += line.csv;
        }
        bool jsonDone = json.isEmpty();
        bool csvDone = csv.isEmpty();
        // The JSON lines name their fields, so old and new ones share a file.
        if (!jsonDone && !skipJson) {
            jsonDone = LockedAppend::Append(JsonPath(day), QByteArray(), json, lockTimeoutMs, reason) ==
                       LockedAppend::Outcome::Written;
            skipJson = !jsonDone;
            if (skipJson)
                fail(reason);
        }
        if (!csvDone && !skipCsv) {
            csvDone = AppendCsv(day, csv, reason);
            skipCsv = !csvDone;
            if (skipCsv)
                fail(reason);
        }
        for (StationDatabase::UnfiledLines& line : lines) {
            if (line.day != day)
                continue;
            line.jsonDone = line.jsonDone || jsonDone;
            line.csvDone = line.csvDone || csvDone;
        }
    }
    return failures;
}

void DayFiles::MarkFiled(std::vector<StationDatabase::UnfiledLines>& lines) const
{
    // Read once per day and file, and only at a start that finds lines unfiled: a kill's handful.
    QHash<QString, QByteArray> contents;
    const auto contentOf = [&contents](const QString& path) -> const QByteArray& {
        auto found = contents.find(path);
        if (found == contents.end())
            found = contents.insert(path, ReadAll(path));
        return *found;
    };
    for (StationDatabase::UnfiledLines& line : lines) {
        if (line.attempt.isEmpty())
            continue;
        const QByteArray id = line.attempt.toUtf8();
        line.jsonDone = line.jsonDone || contentOf(JsonPath(line.day)).contains(id);
        for (int part = 1; !line.csvDone && part <= kMostCsvParts; ++part) {
            const QString path = folder + QLatin1Char('/') + CsvFileName(line.day, part);
            if (!QFile::exists(path))
                break;
            line.csvDone = contentOf(path).contains(id);
        }
    }
}

bool DayFiles::AppendCsv(const QDate& day, const QByteArray& line, QString& error)
{
    // A file's header never changes, so a part found to have another one is not looked at again that day.
    if (day != csvDay) {
        csvDay = day;
        csvPart = 1;
    }
    for (; csvPart <= kMostCsvParts; ++csvPart) {
        const QString path = folder + QLatin1Char('/') + CsvFileName(day, csvPart);
        switch (LockedAppend::Append(path, CsvHeader(), line, lockTimeoutMs, error)) {
        case LockedAppend::Outcome::Written:
            return true;
        case LockedAppend::Outcome::Failed:
            return false;
        case LockedAppend::Outcome::OtherHeader:
            break;
        }
    }
    error = QStringLiteral("the first %1 CSV files of %2 all have another version's header")
                .arg(kMostCsvParts)
                .arg(day.toString(Qt::ISODate));
    return false;
}
