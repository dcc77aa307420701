#include "record/InstanceClaim.h"

#include "record/RecordFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

InstanceClaim::InstanceClaim(const QString& folder, const QString& instance) : path(PathOf(folder, instance))
{
    QString reason;
    if (!RecordFiles::MakeFolder(QFileInfo(path).absolutePath(), reason)) {
        problem = reason;
        return;
    }
    file = Platform::OpenForAppend(path, reason);
    if (file == Platform::kNoFile || !Platform::LockFile(file, 0, reason)) {
        problem = QStringLiteral("cannot hold %1: %2").arg(QDir::toNativeSeparators(path), reason);
        if (file != Platform::kNoFile)
            Platform::CloseFile(file);
        file = Platform::kNoFile;
    }
}

InstanceClaim::~InstanceClaim()
{
    if (file == Platform::kNoFile)
        return;
    // Removed before the lock goes, so that no other station takes a claim on a file about to vanish.
    QFile::remove(path);
    Platform::UnlockFile(file);
    Platform::CloseFile(file);
}

QString InstanceClaim::PathOf(const QString& folder, const QString& instance)
{
    return QDir::cleanPath(folder) + QStringLiteral("/instances/") + instance + QStringLiteral(".lock");
}

bool InstanceClaim::Gone(const QString& folder, const QString& instance)
{
    const QString claim = PathOf(folder, instance);
    if (!QFileInfo::exists(claim) && !Platform::IsLink(claim))
        return true;
    QString reason;
    const Platform::FileHandle held = Platform::OpenForAppend(claim, reason);
    // A claim that cannot even be looked at may be held: the attempts wait rather than risk a second record.
    if (held == Platform::kNoFile)
        return false;
    const bool free = Platform::LockFile(held, 0, reason);
    if (free)
        QFile::remove(claim);
    Platform::CloseFile(held);
    return free;
}
