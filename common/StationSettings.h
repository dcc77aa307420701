#pragma once

#include <QString>
#include <QStringList>

// The settings file's "[Station]" group: station policy that an installer or engineer sets, which the window
// and the headless front end read and never write. Keys a later release adds are read here and nowhere else,
// so both front ends obey the same rules; a command-line option wins over a key unless the group is locked.
struct StationSettings
{
    static constexpr int kDefaultQuarantineAfter = 3;
    // A week of a busy line (a device every 40 s on 16 ports logs about 450 MB a day) within 4 GB, the
    // current run's logs in at most 16 files of 64 MB each, tool and engine alike.
    static constexpr int kDefaultLogBudgetMB = 4096;
    static constexpr int kDefaultLogKeepDays = 14;
    static constexpr int kDefaultLogFileMB = 64;
    static constexpr int kDefaultLogFilesKept = 15;
    static constexpr int kDefaultMinFreeMB = 512;

    bool requireVerification = false;
    int quarantineAfter = kDefaultQuarantineAfter; // 0: never
    bool locked = false;
    QString loadDigest; // 16 lowercase hex digits, empty when none is pinned
    int target = 0;     // 0: no target
    bool readUnitId = false;
    // 0 in any of these: no limit.
    int logBudgetMB = kDefaultLogBudgetMB;   // all dump folders together
    int logKeepDays = kDefaultLogKeepDays;   // a dump folder older than this goes
    int logFileMB = kDefaultLogFileMB;       // a log file is cut over at this size
    int logFilesKept = kDefaultLogFilesKept; // cut files of each log kept per run
    int minFreeMB = kDefaultMinFreeMB;       // below this on the record's or the logs' disk, no device starts
    bool stageLoad = false; // flash a checked copy of the load kept under the log root

    // What reading found worth telling: unknown keys (level I) and bad values, which keep their default
    // (level E). Each key is named once.
    QStringList notices;
    QStringList errors;

    // A missing file or group gives the defaults without a word. An installed station reads the group from
    // the installer's file, never from the user's own.
    static StationSettings Read(const QString& settingsFile);
    // The group that binds a run from settingsFile: a lock in the station's own default file holds whatever
    // file a front end is told to read, so naming another file cannot unlock the station.
    static StationSettings InForce(const QString& settingsFile, const QString& defaultFile);
    // Writes notices and errors to the log; the caller decides when logging has started.
    void Log() const;
};
