#include "LogCleaner.h"

#include "logging/Logger.h"

#include <algorithm>

LogCleaner::~LogCleaner()
{
    StopAll();
}

void LogCleaner::ClearAllLogs()
{
    Logger& logger = Logger::Instance();
    logger.InitLogRoot();
    Start(QString::fromLocal8Bit(logger.GetLogRoot()), QStringLiteral("Daily"),
          QString::fromLocal8Bit(logger.GetDumpFolder()));
}

void LogCleaner::Start(const QString& folder, const QString& period, const QString& keepFolder,
                       const LogCleanClock& clock)
{
    cleaners.erase(std::remove_if(cleaners.begin(), cleaners.end(),
                                  [](const QPointer<LogCleanThread>& cleaner) { return cleaner.isNull(); }),
                   cleaners.end());
    cleaners.emplace_back(StartLogClean(folder, period, keepFolder, clock));
}

bool LogCleaner::IsIdle() const
{
    return std::none_of(cleaners.begin(), cleaners.end(), [](const QPointer<LogCleanThread>& cleaner) {
        return cleaner && cleaner->isRunning();
    });
}

void LogCleaner::StopAll()
{
    // Every cleaner hears the request before the first wait, so they wind down together.
    for (const QPointer<LogCleanThread>& cleaner : cleaners) {
        if (cleaner) {
            cleaner->RequestStop();
        }
    }
    for (const QPointer<LogCleanThread>& cleaner : cleaners) {
        delete cleaner.data();
    }
    cleaners.clear();
}
