#pragma once

#include <QString>
#include <QStringList>

// The settings file's "[Station]" group: station policy that an installer or engineer sets, which the window
// and the headless front end read and never write. Keys a later release adds are read here and nowhere else,
// so both front ends obey the same rules; a command-line option wins over a key unless the group is locked.
struct StationSettings
{
    static constexpr int kDefaultQuarantineAfter = 3;

    bool requireVerification = false;
    int quarantineAfter = kDefaultQuarantineAfter; // 0: never
    bool locked = false;
    QString loadDigest; // 16 lowercase hex digits, empty when none is pinned
    int target = 0;     // 0: no target
    bool readUnitId = false;

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
