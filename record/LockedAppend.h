#pragma once

#include <QByteArray>
#include <QString>

// Appending a line to a file that several writers, in this process and in others, append to at once.
namespace LockedAppend {

enum class Outcome
{
    Written,
    Failed,      // the reason is in error
    OtherHeader, // the file begins with another header; nothing was written
};

// Appends line to the file at path in one write, preceded by header when the file is new or empty, while
// holding the file's advisory lock (waiting for it at most lockTimeoutMs), and returns once the bytes are on
// disk. A new file gets the record's mode; a link at path is refused. With a header, a file that does not
// begin with it is left as it is (OtherHeader), so that a file's lines all have its header's fields. A write
// that fails part way is cut back to the file's length before it.
Outcome Append(const QString& path, const QByteArray& header, const QByteArray& line, int lockTimeoutMs,
               QString& error);

} // namespace LockedAppend
