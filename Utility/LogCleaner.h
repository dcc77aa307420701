#pragma once

#include "LogFilesClean.h"

#include <QPointer>
#include <QString>

#include <vector>

// Owns the cleaners behind "Clear All Logs". Every request starts one more, as two quick clicks should; two
// at once on the same folder both end without error. Destroying the owner stops every cleaner still
// running, waits for it and deletes it, so none outlives the window or leaks after the event loop ends.
//
// In the main window, one member and one connection; the member's destructor does the rest:
//     LogCleaner logCleaner;
//     connect(actionClearAllLogs, &QAction::triggered, this, [this] { logCleaner.ClearAllLogs(); });
// The window itself must be destroyed before main returns. Use it from the thread that owns the window.
class LogCleaner
{
public:
    LogCleaner() = default;
    ~LogCleaner();
    LogCleaner(const LogCleaner&) = delete;
    LogCleaner& operator=(const LogCleaner&) = delete;

    // Cleans the logger's log root (the folder "Open Logs Folder" opens) with the period "Daily", sparing
    // the current run's dump folder. Returns at once.
    void ClearAllLogs();
    // As ClearAllLogs on any folder and period; an empty keepFolder spares nothing.
    void Start(const QString& folder, const QString& period, const QString& keepFolder,
               const LogCleanClock& clock = {});
    // True when no cleaner started here is still running.
    bool IsIdle() const;
    // Stops every cleaner, waits for each and deletes it.
    void StopAll();

private:
    std::vector<QPointer<LogCleanThread>> cleaners;
};
