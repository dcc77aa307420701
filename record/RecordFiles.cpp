#include "RecordFiles.h"

#include "platform/Platform.h"

#include <QCoreApplication>
#include <QDir>

namespace RecordFiles {

QString LinkRefused(const QString& path)
{
    return QCoreApplication::translate("RecordFiles", "station record file %1 is a symbolic link; refused")
        .arg(QDir::toNativeSeparators(path));
}

QString RefuseLinks(const QStringList& paths)
{
    for (const QString& path : paths) {
        if (Platform::IsLink(path))
            return LinkRefused(path);
    }
    return QString();
}

bool MakeFolder(const QString& folder, QString& error)
{
    return Platform::MakeFolder(folder, Platform::kReadableFolderMode, error);
}

QString PrepareDatabase(const QString& path)
{
    // SQLite's own refusal of links is out of reach through Qt's driver, so the names are looked at just
    // before opening; a link planted in the moment between is the one case this leaves open.
    const QString refused = RefuseLinks({path, path + QStringLiteral("-wal"), path + QStringLiteral("-shm")});
    if (!refused.isEmpty())
        return refused;
    QString reason;
    if (!Platform::MakeFileIfMissing(path, Platform::kReadableFileMode, reason))
        return QStringLiteral("cannot create %1: %2").arg(QDir::toNativeSeparators(path), reason);
    return QString();
}

} // namespace RecordFiles
