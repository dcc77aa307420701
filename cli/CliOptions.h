#pragma once

#include "cli/CommandLine.h"

#include <QString>
#include <QStringList>

#include <array>

// What the command line asked for, checked before any engine session opens.
struct CliOptions
{
    QString flashXml;
    QString settingsFile;
    QString scene; // "format-download", "firmware-upgrade", "efuse-write" or empty for the settings' scene
    bool autoPolling = false;
    int devices = 0;        // 0: no per-port limit
    int checksumLevel = -1; // -1: as the settings file's options give it
    QString operatorName;
    QString workOrder;
    QString recordFolder;
    QString broker; // empty: the settings' [Factory] Broker, if any
    bool json = false;
    bool quiet = false;
    bool requireVerified = false; // refuse a run whose checksum level compares no device checksum
    bool readUnitId = false;      // ask each device for its id when authentication did not learn it
    bool stageLoad = false;       // flash a checked copy of the load kept under the log root
    int target = -1;              // -1: as the settings' [Station] Target; 0: none
    // Options given that change what a locked profile's file sets; such a station refuses them.
    QStringList profileOptions;
    int quarantineAfter = -1;     // -1: as the settings file's [Station] group gives it
    std::array<bool, 16> rows{};

    using Outcome = CommandLineOutcome;

    // On Error, message holds one line naming the problem; on Help, the help text.
    static Outcome Parse(const QStringList& arguments, CliOptions& options, QString& message);
};
