// The farm's own account of what it did, one JSON line per event, so a long run can be checked against a
// truth that the caller cannot influence. Lines are flushed as they are written, so an abrupt end of the
// process loses at most the line being written.
#pragma once

#include <QFile>
#include <QJsonObject>
#include <QString>

#include <mutex>

namespace quillonsim {

class FarmLedger
{
public:
    // Appends to path; false with an error when it cannot. Without a path every write is a no-op.
    bool Open(const QString& path, QString& error);
    bool Active() const { return active; }
    // The highest device number already in the ledger, so numbering continues across restarts.
    quint64 LastDevice() const { return lastDevice; }

    // Writes the line with a "time" field: UTC wall clock with milliseconds, the clock the caller stamps
    // with.
    void Write(QJsonObject line);

    static quint64 LastDeviceIn(const QByteArray& tail);

private:
    std::mutex mutex;
    QFile file;
    bool active = false;
    quint64 lastDevice = 0;
};

} // namespace quillonsim
