#include "FileUtils.h"

#include "logging/Log.h"
#include "platform/Platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

static constexpr char kLogSource[] = "Utility\\FileUtils";

namespace {

QByteArray appDirectory;

// Qt 5.15 reports an NTFS junction as a folder, not as a link, and following one would empty its target.
bool IsLinkOrJunction(const QFileInfo& info)
{
    return info.isSymLink() || info.isJunction();
}

bool RemoveLink(const QString& path)
{
    // A link to a folder on Windows goes with rmdir, everything else with a plain delete.
    return QFile::remove(path) || QDir().rmdir(path);
}

// A second cleaner on the same folder may take an entry first; what is no longer there counts as removed.
bool Gone(const QString& path)
{
    const QFileInfo info(path);
    return !info.exists() && !info.isSymLink();
}

bool RemoveTree(const QString& path, const FileUtils::StopQuery& stopRequested)
{
    const QFileInfo info(path);
    if (IsLinkOrJunction(info)) {
        return RemoveLink(path) || Gone(path);
    }
    if (!info.exists()) {
        return true;
    }
    const QFileInfoList entries = QDir(path).entryInfoList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::DirsFirst);
    for (const QFileInfo& entry : entries) {
        if (stopRequested && stopRequested()) {
            return false;
        }
        const QString entryPath = entry.absoluteFilePath();
        bool removed = false;
        if (IsLinkOrJunction(entry)) {
            removed = RemoveLink(entryPath) || Gone(entryPath);
        } else if (entry.isDir()) {
            removed = RemoveTree(entryPath, stopRequested);
        } else {
            removed = QFile::remove(entryPath) || Gone(entryPath);
        }
        if (!removed) {
            return false;
        }
    }
    return QDir().rmdir(path) || Gone(path);
}

} // namespace

namespace FileUtils {

void SetAppDirectory(const QByteArray& dir)
{
    appDirectory = dir;
}

QByteArray GetAppDirectory()
{
    return appDirectory;
}

QByteArray GetAppFilePath(const char* fileName)
{
    return appDirectory + Platform::PathSeparator() + fileName;
}

int CheckDirectory(const QByteArray& path, bool create)
{
    static constexpr char kFunction[] = "FileUtils::CheckDirectory";
    const QString absolute = QFileInfo(QString::fromLocal8Bit(path)).absoluteFilePath();
    const QByteArray shown = QDir::toNativeSeparators(absolute).toLocal8Bit();

    if (QFileInfo(absolute).isDir()) {
        LOGD(kFunction, "%s(): the dir(%s) already exists.", kFunction, shown.constData());
        return DirectoryExists;
    }
    if (!create) {
        LOGD(kFunction, "%s(): the dir(%s) does not exist.", kFunction, shown.constData());
        return DirectoryMissing;
    }
    // Owner-only from the start, not after a moment in which the umask decided; parents it makes on the way
    // are ordinary folders.
    QString reason;
    const QString parent = QFileInfo(absolute).absolutePath();
    if (Platform::MakeFolder(parent, Platform::kReadableFolderMode, reason) &&
        Platform::MakeFolder(absolute, Platform::kOwnerFolderMode, reason)) {
        Platform::MakeOwnerAccessible(QFile::encodeName(absolute));
        LOGD(kFunction, "%s(): create the dir(%s) succeed.", kFunction, shown.constData());
        return DirectoryCreated;
    }
    LOGD(kFunction, "%s(): create the dir(%s) failed.", kFunction, shown.constData());
    return DirectoryCreationFailed;
}

bool RemoveDirectory(const QByteArray& path, const StopQuery& stopRequested)
{
    // The recursion stays in QString, so names outside ASCII survive every level unchanged.
    return RemoveTree(QString::fromUtf8(path), stopRequested);
}

int64_t TreeBytes(const QString& folder)
{
    int64_t bytes = 0;
    QDirIterator files(folder, QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks,
                       QDirIterator::Subdirectories);
    while (files.hasNext()) {
        files.next();
        bytes += files.fileInfo().size();
    }
    return bytes;
}

bool CheckFile(const QString& fileName, QString& errorMsg)
{
    if (fileName.isEmpty()) {
        errorMsg = QCoreApplication::translate("FileUtils", "filename is empty.");
        return false;
    }
    const QFileInfo info(fileName);
    if (!info.exists()) {
        errorMsg = QCoreApplication::translate("FileUtils", "%1 is not exist.").arg(fileName);
        return false;
    }
    if (!info.isFile()) {
        errorMsg = QCoreApplication::translate("FileUtils", "%1 is not a regular file.").arg(fileName);
        return false;
    }
    if (!info.isReadable()) {
        errorMsg = QCoreApplication::translate("FileUtils", "%1 is not a readable file.").arg(fileName);
        return false;
    }
    return true;
}

} // namespace FileUtils
