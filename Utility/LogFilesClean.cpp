#include "LogFilesClean.h"

#include "FileUtils.h"
#include "logging/Log.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <utility>

static constexpr char kLogSource[] = "Utility\\LogFilesClean";

namespace {

constexpr int kStampIndex = 11;
const QString kStampFormat = QStringLiteral("MM-dd-yyyy-HH-mm-ss");

QString ComparablePath(const QString& path)
{
    if (path.isEmpty()) {
        return QString();
    }
    return QDir::cleanPath(QFileInfo(QDir::fromNativeSeparators(path)).absoluteFilePath());
}

QString Translated(const char* period)
{
    return QCoreApplication::translate("LogFilesClean", period);
}

} // namespace

qint64 CleanPeriodToHours(const QString& period, const QDateTime& now)
{
    QDateTime cutOff;
    if (period == Translated("Weekly")) {
        cutOff = now.addDays(-7);
    } else if (period == Translated("Monthly")) {
        cutOff = now.addMonths(-1);
    } else if (period == Translated("Three Month")) {
        cutOff = now.addMonths(-3);
    } else {
        cutOff = now.addDays(-1);
    }
    // The same reading on both sides: two readings either side of midnight would count one day too many.
    return now.daysTo(cutOff) * 24;
}

LogCleanThread::LogCleanThread(const QString& folder, qint64 offsetHours, const QString& keepFolder,
                               LogCleanClock clock)
    : folder(folder), offsetHours(offsetHours), keepPath(ComparablePath(keepFolder)), clock(std::move(clock))
{
}

LogCleanThread::~LogCleanThread()
{
    RequestStop();
    wait();
    const std::lock_guard<std::mutex> passEnded(passLock);
}

void LogCleanThread::RequestStop()
{
    stopRequested.store(true);
}

bool LogCleanThread::StopRequested() const
{
    return stopRequested.load();
}

bool LogCleanThread::IsKept(const QString& entryPath) const
{
    return !keepPath.isEmpty() && ComparablePath(entryPath) == keepPath;
}

void LogCleanThread::run()
{
    static constexpr char kFunction[] = "LogCleanThread::run";
    const std::lock_guard<std::mutex> pass(passLock);
    // An empty folder name would make QDir list the working folder.
    if (folder.isEmpty()) {
        return;
    }
    const QDateTime now = clock ? clock() : QDateTime::currentDateTime();
    const QDateTime cutOff = now.addSecs(offsetHours * 3600);
    // Case-sensitive, or "pxl_dump_x", which the tool never made, would match as well.
    const QFileInfoList entries = QDir(folder).entryInfoList({QStringLiteral("PXL_Dump_*")},
                                                             QDir::AllEntries | QDir::Hidden | QDir::System |
                                                                 QDir::NoDotAndDotDot | QDir::CaseSensitive,
                                                             QDir::Name | QDir::Reversed);
    const FileUtils::StopQuery stopQuery = [this] { return StopRequested(); };

    for (const QFileInfo& entry : entries) {
        if (StopRequested()) {
            return;
        }
        const QString name = entry.fileName();
        const QDateTime stamp = QDateTime::fromString(name.mid(kStampIndex), kStampFormat);
        if ((stamp.isValid() && cutOff < stamp) || IsKept(entry.absoluteFilePath())) {
            continue;
        }
        const QString path = QDir::toNativeSeparators(folder + QLatin1Char('/') + name);
        LOGD(kFunction, "Deleting %s", path.toLocal8Bit().constData());
        if (!FileUtils::RemoveDirectory(path.toUtf8(), stopQuery) && !StopRequested()) {
            LOGD(kFunction, "Failed to remove folder \"%s\".", name.toLocal8Bit().constData());
        }
    }
}

LogCleanThread* StartLogClean(const QString& folder, const QString& period, const QString& keepFolder,
                              const LogCleanClock& clock)
{
    const QDateTime now = clock ? clock() : QDateTime::currentDateTime();
    auto* thread = new LogCleanThread(folder, CleanPeriodToHours(period, now), keepFolder, clock);
    // Direct, so the finishing thread only posts the deletion: a queued connection would make Qt read this
    // object's meta-object after run() has returned, past any point ThreadSanitizer can see wait() join.
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater, Qt::DirectConnection);
    // Linux ignores this priority (only IdlePriority counts there); Windows honours it.
    thread->start(QThread::LowPriority);
    return thread;
}
