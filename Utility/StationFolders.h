#pragma once

#include <QByteArray>
#include <QString>

// Where a station keeps its settings file and looks for the authentication library first.
//
// A station run from a folder keeps both beside its executable. An installed station is one whose
// executable's folder has the package's private library folder at InstalledLibraryFolder(): the executable's
// folder belongs to the system and is not the operator's to write, so its settings file is the user's own,
// in the user's configuration folder, and every key that file lacks is read from the installer's file.
struct StationFolders
{
    static constexpr char kSettingsFileName[] = "pxl_setting.ini";

    bool installed = false;
    // Read at start and written at exit.
    QString settingsFile;
    // Answers for the keys settingsFile lacks; never written. Empty for a station run from a folder.
    QString installerSettingsFile;
    // Where the authentication library is looked for before the platform's own search.
    QString libraryFolder;

    // appDirectory as FileUtils keeps it; userConfigFolder is the user's configuration folder; an empty
    // appDirectory is a station that does not know where it runs from, never an installed one.
    static StationFolders Decide(const QByteArray& appDirectory, const QString& userConfigFolder,
                                 const QString& installerSettingsFile);
    // This process's, from the executable's folder that main recorded.
    static StationFolders Current();

    // The package's private library folder, relative to the folder of its executables.
    static QString InstalledLibraryFolder();
    // The file an installer provides for every user of an installed station.
    static QString InstallerSettingsFile();
};
