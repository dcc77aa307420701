#include "StationRecordWriter.h"

#include "Utility/BuildInfo.h"
#include "record/LockedAppend.h"
#include "record/RecordFiles.h"
#include "record/StationDatabase.h"
#include "logging/Log.h"
#include "platform/Platform.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSysInfo>
#include <QTemporaryFile>

static constexpr char kLogSource[] = "common\\StationRecordWriter";

using namespace StationRecordFormat;

namespace {

const QString kJsonExtension = QStringLiteral(".jsonl");
const QString kCsvExtension = QStringLiteral(".csv");
// Each part of a day is made by a version with other fields; no station sees this many in a day.
constexpr int kMostCsvParts = 100;

QString Native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

} // namespace

StationRecordWriter::StationRecordWriter(const QString& folder, int lockTimeoutMs)
    : folder(QDir::cleanPath(folder)),
      lockTimeoutMs(lockTimeoutMs), identity{QSysInfo::machineHostName(), ToolVersion()}
{
    thread = std::thread(&StationRecordWriter::Run, this);
}

StationRecordWriter::~StationRecordWriter()
{
    {
        std::lock_guard<std::mutex> guard(lock);
        stopping = true;
    }
    queued.notify_one();
    thread.join();
}

QString StationRecordWriter::DefaultFolder()
{
    Logger& logger = Logger::Instance();
    if (logger.GetLogRoot().isEmpty())
        logger.InitLogRoot();
    return QDir::fromNativeSeparators(QString::fromLocal8Bit(logger.GetLogRoot())) +
           QStringLiteral("/Station");
}

QString StationRecordWriter::CheckFolder(const QString& folder)
{
    if (folder.isEmpty())
        return QStringLiteral("no folder is given for the station record");
    QString reason;
    if (!RecordFiles::MakeFolder(folder, reason))
        return QStringLiteral("cannot create the folder %1: %2").arg(Native(folder), reason);
    // Only a real file shows that the folder takes files: permissions alone miss read-only mounts and ACLs.
    QTemporaryFile probe(folder + QStringLiteral("/.station-probe-XXXXXX"));
    if (!probe.open())
        return QStringLiteral("cannot create a file in %1: %2").arg(Native(folder), probe.errorString());
    const QByteArray probeText("probe\n");
    if (probe.write(probeText) != probeText.size() || !probe.flush())
        return QStringLiteral("cannot write a file in %1: %2").arg(Native(folder), probe.errorString());
    const QString base = folder + QLatin1Char('/') + DayFileBase(QDateTime::currentDateTimeUtc().date());
    const QString database = StationDatabase::Path(folder);
    // A dangling link "exists" for nobody but the system, so links are looked for by name.
    const QString refused =
        RecordFiles::RefuseLinks({base + kJsonExtension, base + kCsvExtension, database,
                                  database + QStringLiteral("-wal"), database + QStringLiteral("-shm")});
    if (!refused.isEmpty())
        return refused;
    for (const QString& path : {base + kJsonExtension, base + kCsvExtension}) {
        if (!QFileInfo::exists(path))
            continue;
        const Platform::FileHandle file = Platform::OpenForAppend(path, reason);
        if (file == Platform::kNoFile)
            return QStringLiteral("cannot append to %1: %2").arg(Native(path), reason);
        Platform::CloseFile(file);
    }
    return QString();
}

QString StationRecordWriter::ToolVersion()
{
    return QStringLiteral("%1 (%2)").arg(QLatin1String(BuildInfo::Version()),
                                         QLatin1String(BuildInfo::CommitId()));
}

void StationRecordWriter::Record(const AttemptRecord& record)
{
    Job job{&record};
    std::unique_lock<std::mutex> guard(lock);
    ++pending;
    jobs.push_back(&job);
    queued.notify_one();
    finished.wait(guard, [&job] { return job.done; });
}

void StationRecordWriter::Run()
{
    // Opened, used and closed on this thread alone, as a database connection requires.
    StationDatabase database(folder, identity);
    std::unique_lock<std::mutex> guard(lock);
    for (;;) {
        queued.wait(guard, [this] { return stopping || !jobs.empty(); });
        if (jobs.empty())
            return;
        Job* job = jobs.front();
        jobs.pop_front();
        guard.unlock();
        QString error;
        const bool ok = Write(*job->record, error);
        Count(ok, error, *job->record);
        // After the files, so that a database in trouble never costs the record its files.
        CountDatabase(database.Insert(*job->record, error), error, *job->record);
        guard.lock();
        --pending;
        job->done = true;
        finished.notify_all();
    }
}

bool StationRecordWriter::Write(const AttemptRecord& record, QString& error)
{
    QString reason;
    if (!RecordFiles::MakeFolder(folder, reason)) {
        error = QStringLiteral("cannot create the folder %1: %2").arg(Native(folder), reason);
        return false;
    }
    const QDate day = RecordDay(record);
    QString jsonError;
    QString csvError;
    // Both files are tried, so that one failing still leaves the record in the other. The JSON lines name
    // their fields, so old and new ones share a file.
    const bool json = LockedAppend::Append(folder + QLatin1Char('/') + DayFileBase(day) + kJsonExtension,
                                           QByteArray(), JsonLine(identity, record), lockTimeoutMs,
                                           jsonError) == LockedAppend::Outcome::Written;
    const bool csv = AppendCsv(day, CsvLine(identity, record), csvError);
    error = json ? csvError : jsonError;
    return json && csv;
}

bool StationRecordWriter::AppendCsv(const QDate& day, const QByteArray& line, QString& error)
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

void StationRecordWriter::Count(bool ok, const QString& error, const AttemptRecord& record)
{
    if (ok) {
        if (failuresInSeries > 0) {
            LOGI("StationRecordWriter::Count", "Station record written again after %lld failed records.",
                 static_cast<long long>(failuresInSeries));
        }
        failuresInSeries = 0;
        ++written;
        return;
    }
    // A full disk would fail every port's every attempt; one line tells the operator, the counter the rest.
    if (failuresInSeries++ == 0) {
        LOGE("StationRecordWriter::Count", "Station record of row %d (%s) not written: %s", record.row,
             record.port.toUtf8().constData(), error.toUtf8().constData());
    }
    ++failed;
}

void StationRecordWriter::CountDatabase(bool ok, const QString& error, const AttemptRecord& record)
{
    if (ok) {
        if (databaseFailuresInSeries > 0) {
            LOGI("StationRecordWriter::CountDatabase", "Station database written again after %lld failed records.",
                 static_cast<long long>(databaseFailuresInSeries));
        }
        databaseFailuresInSeries = 0;
        return;
    }
    if (databaseFailuresInSeries++ == 0) {
        LOGE("StationRecordWriter::CountDatabase", "Station database record of row %d (%s) not written: %s",
             record.row, record.port.toUtf8().constData(), error.toUtf8().constData());
    }
    ++databaseFailed;
}
