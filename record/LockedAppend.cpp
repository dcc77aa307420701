#include "LockedAppend.h"

#include "platform/Platform.h"
#include "record/RecordFiles.h"

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

Outcome Append(const QString& path, const QByteArray& header, const QByteArray& line, int lockTimeoutMs,
               QString& error)
{
    QString reason;
    const Platform::FileHandle file = Platform::OpenForAppend(path, reason);
    if (file == Platform::kNoFile) {
        error = Platform::IsLink(path) ? RecordFiles::LinkRefused(path) : Failure("open", path, reason);
        return Outcome::Failed;
    }
    if (!Platform::LockFile(file, lockTimeoutMs, reason)) {
        Platform::CloseFile(file);
        error = Failure("lock", path, reason);
        return Outcome::Failed;
    }
    // The size and the header are read under the lock, so of two writers that find the file empty only one
    // writes the header, and neither writes under a header another version has just written.
    const int64_t size = Platform::FileSize(file);
    const bool fresh = size == 0;
    Outcome outcome = size >= 0 ? Outcome::Written : Outcome::Failed;
    QByteArray start;
    if (outcome == Outcome::Failed) {
        error = Failure("read the size of", path, QStringLiteral("the system refused"));
    } else if (!fresh && !header.isEmpty() && !Platform::ReadFileStart(file, header.size(), start, reason)) {
        outcome = Outcome::Failed;
        error = Failure("read the header of", path, reason);
    } else if (!fresh && !header.isEmpty() && start != header) {
        outcome = Outcome::OtherHeader;
    } else if (!Platform::AppendToFile(file, fresh ? header + line : line, reason)) {
        outcome = Outcome::Failed;
        error = Failure("write to", path, reason);
        // A full disk takes part of a line; the next writer's line would be glued to it. Still under the
        // lock, so no other writer has appended since.
        QString cutReason;
        if (!Platform::TruncateFile(file, size, cutReason))
            error += QStringLiteral("; the part written could not be cut back: %1").arg(cutReason);
    }
    Platform::UnlockFile(file);
    if (outcome == Outcome::Written && !Platform::SyncFile(file, reason)) {
        outcome = Outcome::Failed;
        error = Failure("sync", path, reason);
    }
    Platform::CloseFile(file);
    const QString folder = QFileInfo(path).absolutePath();
    if (outcome == Outcome::Written && fresh && !Platform::SyncFolder(folder, reason)) {
        outcome = Outcome::Failed;
        error = Failure("sync the folder", folder, reason);
    }
    return outcome;
}

} // namespace LockedAppend
