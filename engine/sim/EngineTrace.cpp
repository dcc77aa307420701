#include "EngineTrace.h"

#include <QDateTime>
#include <QDir>

#include <functional>
#include <thread>

namespace quillonsim {

bool EngineTrace::Start(const QString& folder, QString& error)
{
    if (folder.isEmpty()) {
        error = QStringLiteral("No folder given for the engine trace");
        return false;
    }
    if (!QDir().mkpath(folder)) {
        error = QStringLiteral("Cannot create the trace folder %1").arg(folder);
        return false;
    }
    std::lock_guard<std::mutex> lock(mutex);
    if (file.isOpen())
        file.close();
    file.setFileName(QDir(folder).filePath(QLatin1String(kFileName)));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        error = QStringLiteral("Cannot open the trace file %1: %2").arg(file.fileName(), file.errorString());
        return false;
    }
    return true;
}

void EngineTrace::Stop()
{
    std::lock_guard<std::mutex> lock(mutex);
    if (file.isOpen())
        file.close();
}

void EngineTrace::Write(const QString& line)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!file.isOpen())
        return;
    // UTC keeps the time zone machinery, which is not safe to enter from many threads, out of the trace.
    const QByteArray text =
        QStringLiteral("%1Z [%2] %3\n")
            .arg(QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")))
            .arg(qulonglong(std::hash<std::thread::id>()(std::this_thread::get_id()) & 0xffffff), 6, 16,
                 QLatin1Char('0'))
            .arg(line)
            .toUtf8();
    file.write(text);
    file.flush();
}
} // namespace quillonsim
