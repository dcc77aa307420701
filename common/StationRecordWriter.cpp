#include "StationRecordWriter.h"

#include "Utility/BuildInfo.h"
#include "common/LockedAppend.h"
#include "common/StationDatabase.h"
#include "logging/Log.h"
#include "logging/Platform.h"

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
    if (!QDir().mkpath(folder) || !QFileInfo(folder).isDir())
        return QStringLiteral("cannot create the folder %1").arg(Native(folder));
    // Only a real file shows that the folder takes files: permissions alone miss read-only mounts and ACLs.
    QTemporaryFile probe(folder + QStringLiteral("/.station-probe-XXXXXX"));
    if (!probe.open())
        return QStringLiteral("cannot create a file in %1: %2").arg(Native(folder), probe.errorString());
    const QByteArray probeText("probe\n");
    if (probe.write(probeText) != probeText.size() || !probe.flush())
        return QStringLiteral("cannot write a file in %1: %2").arg(Native(folder), probe.errorString());
    const QString base = folder + QLatin1Char('/') + DayFileBase(QDateTime::currentDateTimeUtc().date());
    for (const QString& path : {base + kJsonExtension, base + kCsvExtension}) {
        if (!QFileInfo::exists(path))
            continue;
        QString reason;
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

bool StationRecordWriter::Write(const AttemptRecord& record, QString& error) const
{
    if (!QDir().mkpath(folder)) {
        error = QStringLiteral("cannot create the folder %1").arg(Native(folder));
        return false;
    }
    const QString base = folder + QLatin1Char('/') + DayFileBase(RecordDay(record));
    QString jsonError;
    QString csvError;
    // Both files are tried, so that one failing still leaves the record in the other.
    const bool json = LockedAppend::Append(base + kJsonExtension, QByteArray(), JsonLine(identity, record),
                                           lockTimeoutMs, jsonError);
    const bool csv = LockedAppend::Append(base + kCsvExtension, CsvHeader(), CsvLine(identity, record),
                                          lockTimeoutMs, csvError);
    error = json ? csvError : jsonError;
    return json && csv;
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
