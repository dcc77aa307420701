#pragma once

#include "common/StationPolicy.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>

class FailurePacer;

// The station's free-space floor: below it on the disk of any watched folder (the record's, the logs'), no
// port starts its next device; devices being written finish and are recorded. The first worker that finds
// the disk short tells it once, and the first that finds room again tells that; the waiting workers go on
// by themselves. A full disk is then never met in the middle of an attempt when it could be seen coming.
class DiskSpaceGuard : public QObject, public StationPolicy
{
    Q_OBJECT

public:
    // The bytes free on the disk of a folder, -1 when unknown; tests hand in their own disks.
    using FreeSpaceReader = std::function<int64_t(const QString& folder)>;

    static constexpr std::chrono::milliseconds kDefaultRecheck{2000};

    explicit DiskSpaceGuard(FreeSpaceReader reader = {});

    // 0: no floor. Any thread; a waiting worker sees a new floor at its next look.
    void SetFloorMB(int64_t megabytes);
    int64_t FloorMB() const;
    void SetFolders(const QStringList& folders);
    void SetRecheckInterval(std::chrono::milliseconds interval);
    bool IsPaused() const;

    // A worker, before it starts its next device: returns true at once while every watched disk has room,
    // else waits, looking again every recheck interval, until there is room (true) or stop is set (false;
    // whoever sets it wakes pacer).
    bool WaitForRoom(const std::atomic<bool>& stop, FailurePacer& pacer);
    bool NextDeviceMayStart(int /*row*/, const std::atomic<bool>& stop, FailurePacer& pacer) override
    {
        return WaitForRoom(stop, pacer);
    }

    // The operator's text for a disk short of room, and for room again.
    static QString LowText(const QString& folder, int64_t freeMB, int64_t floorMB);
    static QString BackText(const QString& folder, int64_t freeMB);

Q_SIGNALS:
    // Emitted from a worker thread, once per change, under the guard's lock: connect it queued. low is true
    // when the station pauses, false when it goes on; folder is the watched folder whose disk was short.
    void SigNotifyDiskSpace(bool low, QString folder, qint64 freeMB, qint64 floorMB);

private:
    // True when every watched disk has room; tells a change from the last look.
    bool Look();

    const FreeSpaceReader reader;
    mutable std::mutex lock;
    QStringList folders;
    int64_t floorMB = 0;
    std::chrono::milliseconds recheck = kDefaultRecheck;
    bool paused = false;
    QString pausedFolder;
};
