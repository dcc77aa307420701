#pragma once

#include <QDateTime>
#include <QString>
#include <QThread>

#include <atomic>
#include <functional>
#include <mutex>

// Where a cleaner reads "now"; tests pass a fixed time.
using LogCleanClock = std::function<QDateTime()>;

// The cut-off of a named period as an offset from now in hours (zero or negative): "Weekly", "Monthly",
// "Three Month", and one day for "Daily" and any other text. The period names are compared translated.
qint64 CleanPeriodToHours(const QString& period, const QDateTime& now = QDateTime::currentDateTime());

// One pass over a folder, deleting every "PXL_Dump_*" entry whose time stamp is not newer than the cut-off,
// except keepFolder (the current run's dump folder, which holds the open log file).
class LogCleanThread : public QThread
{
    Q_OBJECT

public:
    LogCleanThread(const QString& folder, qint64 offsetHours, const QString& keepFolder = {},
                   LogCleanClock clock = {});
    // Stops a running pass and waits for it; a thread killed inside the logger's lock would deadlock the next
    // line, so it is never terminated.
    ~LogCleanThread() override;

    // The pass ends at the next entry it looks at, also inside a dump folder being removed.
    void RequestStop();
    bool StopRequested() const;

protected:
    void run() override;

private:
    bool IsKept(const QString& entryPath) const;

    const QString folder;
    const qint64 offsetHours;
    const QString keepPath;
    const LogCleanClock clock;
    std::atomic<bool> stopRequested{false};
    // Held by run() for the whole pass; the destructor takes it after wait(), whose synchronisation happens
    // inside Qt where ThreadSanitizer cannot see it.
    std::mutex passLock;
};

// Starts a cleaner at low priority and returns at once. The thread deletes itself through the starting
// thread's event loop once it has finished; that loop may be gone by then, so whoever starts it keeps a
// QPointer and deletes what is left (LogCleaner does both).
LogCleanThread* StartLogClean(const QString& folder, const QString& period, const QString& keepFolder = {},
                              const LogCleanClock& clock = {});
