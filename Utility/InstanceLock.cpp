#include "InstanceLock.h"

#include "logging/Logger.h"
#include "platform/Platform.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

namespace {

// A holder writes its lock file within microseconds of making it; one still unreadable after this long was
// left half-written by a crash or a power cut.
constexpr qint64 kUnreadableStaleMs = 5000;

} // namespace

QString InstanceLock::DefaultPath()
{
    return Logger::Instance().LogRootPath() + QStringLiteral("/PXL_Instance.lock");
}

InstanceLock::InstanceLock(const QString& path) : path(path), file(path)
{
    // A live holder is never stale, however old its lock; only a dead one's lock is taken over.
    file.setStaleLockTime(0);
}

bool InstanceLock::TryLock(QString& holder)
{
    if (file.isLocked())
        return true;
    // Before taking the lock as well as after failing to: a link would otherwise be read as a dead holder's
    // file, and replaced or reported as unreadable.
    if (Platform::IsLink(path)) {
        holder = LinkRefused();
        return false;
    }
    QString reason;
    Platform::MakeFolder(QFileInfo(path).absolutePath(), Platform::kOwnerFolderMode, reason);
    if (file.tryLock(0) || (file.error() == QLockFile::LockFailedError && !Platform::IsLink(path) &&
                            IsUnreadableLeftover() && file.removeStaleLockFile() && file.tryLock(0))) {
        // QLockFile creates the file through the umask; this copy made it, so it is a file, not a link.
        Platform::SetFileMode(path, Platform::kReadableFileMode, reason);
        return true;
    }
    if (Platform::IsLink(path)) {
        holder = LinkRefused();
        return false;
    }
    switch (file.error()) {
    case QLockFile::LockFailedError:
        holder = Holder();
        break;
    case QLockFile::PermissionError:
        holder = QStringLiteral("nobody: the lock file %1 cannot be created (permission denied)")
                     .arg(QDir::toNativeSeparators(path));
        break;
    default:
        holder =
            QStringLiteral("nobody: the lock file %1 cannot be created").arg(QDir::toNativeSeparators(path));
        break;
    }
    return false;
}

void InstanceLock::Unlock()
{
    file.unlock();
}

bool InstanceLock::IsLocked() const
{
    return file.isLocked();
}

bool InstanceLock::IsUnreadableLeftover() const
{
    qint64 pid = 0;
    if (file.getLockInfo(&pid, nullptr, nullptr))
        return false;
    const QFileInfo info(path);
    return info.exists() &&
           info.lastModified().toUTC().msecsTo(QDateTime::currentDateTimeUtc()) > kUnreadableStaleMs;
}

QString InstanceLock::LinkRefused() const
{
    return QStringLiteral("nobody: the lock file %1 is a symbolic link; refused")
        .arg(QDir::toNativeSeparators(path));
}

QString InstanceLock::Holder() const
{
    qint64 pid = 0;
    QString host;
    QString application;
    if (!file.getLockInfo(&pid, &host, &application)) {
        return QStringLiteral("another copy of the tool (its lock file %1 cannot be read)")
            .arg(QDir::toNativeSeparators(path));
    }
    if (application.isEmpty())
        application = QStringLiteral("unnamed");
    return QStringLiteral("process %1 (%2) on host %3").arg(QString::number(pid), application, host);
}
