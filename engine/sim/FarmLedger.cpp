#include "FarmLedger.h"

#include <QDateTime>
#include <QJsonDocument>

#include <algorithm>

namespace quillonsim {

namespace {

// Enough of the end of the ledger to hold its latest arrivals, however long the ledger grew.
constexpr qint64 kTailBytes = 256 * 1024;

} // namespace

quint64 FarmLedger::LastDeviceIn(const QByteArray& tail)
{
    quint64 last = 0;
    for (const QByteArray& line : tail.split('\n')) {
        // A line cut short by an abrupt end does not parse and is skipped.
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        const qint64 device = object.value(QStringLiteral("device")).toVariant().toLongLong();
        if (device > 0 && quint64(device) > last)
            last = quint64(device);
    }
    return last;
}

bool FarmLedger::Open(const QString& path, QString& error)
{
    std::lock_guard<std::mutex> lock(mutex);
    active = false;
    if (path.isEmpty())
        return true;
    file.setFileName(path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Append)) {
        error = QStringLiteral("Cannot open the ledger %1: %2").arg(path, file.errorString());
        return false;
    }
    const qint64 size = file.size();
    QByteArray tail;
    if (size > 0 && file.seek(std::max<qint64>(0, size - kTailBytes)))
        tail = file.read(kTailBytes);
    lastDevice = LastDeviceIn(tail);
    // A line cut short by an abrupt end is closed, so it does not swallow the next one.
    if (!tail.isEmpty() && !tail.endsWith('\n'))
        file.write("\n");
    active = true;
    return true;
}

void FarmLedger::Write(QJsonObject line)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!active)
        return;
    // Stamped under the lock, so the ledger's lines are in the order of their times.
    line.insert(QStringLiteral("time"), QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs));
    file.write(QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n');
    file.flush();
}

} // namespace quillonsim
