#pragma once

#include <QByteArray>
#include <QString>

// Appending a line to a file that several writers, in this process and in others, append to at once.
namespace LockedAppend {

// Appends line to the file at path in one write, preceded by header when the file is new or empty, while
// holding the file's advisory lock (waiting for it at most lockTimeoutMs), and returns once the bytes are on
// disk. False on any failure, with the reason in error.
bool Append(const QString& path, const QByteArray& header, const QByteArray& line, int lockTimeoutMs,
            QString& error);

} // namespace LockedAppend
