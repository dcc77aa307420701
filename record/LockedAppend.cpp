#include "LockedAppend.h"

#include "platform/Platform.h"

#include <QDir>
#include <QFileInfo>

namespace LockedAppend {

namespace {

QString Failure(const char* step, const QString& path, const QString& reason)
{
    return QStringLiteral("cannot %1 %2: %3")
        .arg(QLatin1String(step), QDir::toNativeSeparators(path), reason);
}

} // namespace

bool Append(const QString& path, const QByteArray& header, const QByteArray& line, int lockTimeoutMs,
            QString& error)
{
    QString reason;
    const Platform::FileHandle file = Platform::OpenForAppend(path, reason);
    if (file == Platform::kNoFile) {
        error = Failure("open", path, reason);
        return false;
    }
    if (!Platform::LockFile(file, lockTimeoutMs, reason)) {
        Platform::CloseFile(file);
        error = Failure("lock", path, reason);
        return false;
    }
    // The size is read under the lock, so of two writers that find the file empty only one writes the header.
    const int64_t size = Platform::FileSize(file);
    const bool fresh = size == 0;
    bool ok = size >= 0;
    if (!ok) {
        error = Failure("read the size of", path, QStringLiteral("the system refused"));
    } else if (!Platform::AppendToFile(file, fresh ? header + line : line, reason)) {
        ok = false;
        error = Failure("write to", path, reason);
    }
    Platform::UnlockFile(file);
    if (ok && !Platform::SyncFile(file, reason)) {
        ok = false;
        error = Failure("sync", path, reason);
    }
    Platform::CloseFile(file);
    const QString folder = QFileInfo(path).absolutePath();
    if (ok && fresh && !Platform::SyncFolder(folder, reason)) {
        ok = false;
        error = Failure("sync the folder", folder, reason);
    }
    return ok;
}

} // namespace LockedAppend
