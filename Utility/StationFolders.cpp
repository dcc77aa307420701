#include "Utility/StationFolders.h"

#include "Utility/FileUtils.h"
#include "platform/Platform.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

// PXL_INSTALLED_LIBRARY_FOLDER and PXL_INSTALLER_SETTINGS_FILE are the build's install layout, defined by
// cmake/Install.cmake where the layout itself is.

namespace {

// The per-user folder is named after the package, so the window and praxilo-cli share one file.
constexpr char kUserFolder[] = "praxilo";

} // namespace

StationFolders StationFolders::Decide(const QByteArray& appDirectory, const QString& userConfigFolder,
                                      const QString& installerSettingsFile)
{
    StationFolders folders;
    const QString app = QString::fromUtf8(appDirectory);
    const QString privateLibraries = QDir::cleanPath(QDir(app).filePath(InstalledLibraryFolder()));
    folders.installed = !app.isEmpty() && QFileInfo(privateLibraries).isDir();
    if (!folders.installed) {
        folders.settingsFile =
            QString::fromLocal8Bit(appDirectory + Platform::PathSeparator() + QByteArray(kSettingsFileName));
        folders.libraryFolder = app;
        return folders;
    }
    folders.settingsFile = QDir(userConfigFolder).filePath(QStringLiteral("%1/%2").arg(
        QLatin1String(kUserFolder), QLatin1String(kSettingsFileName)));
    folders.installerSettingsFile = installerSettingsFile;
    folders.libraryFolder = privateLibraries;
    return folders;
}

StationFolders StationFolders::Current()
{
    return Decide(FileUtils::GetAppDirectory(),
                  QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation),
                  InstallerSettingsFile());
}

QString StationFolders::InstalledLibraryFolder()
{
    return QStringLiteral(PXL_INSTALLED_LIBRARY_FOLDER);
}

QString StationFolders::InstallerSettingsFile()
{
    return QStringLiteral(PXL_INSTALLER_SETTINGS_FILE);
}
