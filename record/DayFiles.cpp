#include "record/DayFiles.h"

#include "record/LockedAppend.h"
#include "record/RecordFiles.h"
#include "record/StationRecordFormat.h"

#include <QDir>
#include <QFile>
#include <QHash>

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

bool DayFiles::File(StationDatabase::UnfiledLines& lines, Skip& skip, QString& error)
{
    QString reason;
    if (!RecordFiles::MakeFolder(folder, reason)) {
        error = QStringLiteral("cannot create the folder %1: %2").arg(QDir::toNativeSeparators(folder), reason);
        skip = Skip{true, true};
        return false;
    }
    // The JSON lines name their fields, so old and new ones share a file.
    if (!lines.jsonDone && !skip.json) {
        lines.jsonDone = LockedAppend::Append(JsonPath(lines.day), QByteArray(), lines.json, lockTimeoutMs,
                                              reason) == LockedAppend::Outcome::Written;
        skip.json = !lines.jsonDone;
        if (skip.json)
            error = reason;
    }
    if (!lines.csvDone && !skip.csv) {
        lines.csvDone = AppendCsv(lines.day, lines.csv, reason);
        skip.csv = !lines.csvDone;
        if (skip.csv && error.isEmpty())
            error = reason;
    }
    return lines.jsonDone && lines.csvDone;
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
