#include "common/DiskSpaceGuard.h"

#include "common/FailurePacer.h"
#include "logging/Log.h"
#include "platform/Platform.h"

static constexpr char kLogSource[] = "Common\\DiskSpaceGuard";

namespace {

constexpr int64_t kMB = 1024 * 1024;

} // namespace

DiskSpaceGuard::DiskSpaceGuard(FreeSpaceReader reader)
    : reader(reader ? std::move(reader) : FreeSpaceReader(&Platform::FreeDiskBytes))
{
}

void DiskSpaceGuard::SetFloorMB(int64_t megabytes)
{
    std::lock_guard<std::mutex> guard(lock);
    floorMB = megabytes > 0 ? megabytes : 0;
}

int64_t DiskSpaceGuard::FloorMB() const
{
    std::lock_guard<std::mutex> guard(lock);
    return floorMB;
}

void DiskSpaceGuard::SetFolders(const QStringList& watched)
{
    std::lock_guard<std::mutex> guard(lock);
    folders.clear();
    for (const QString& folder : watched) {
        if (!folder.isEmpty() && !folders.contains(folder))
            folders << folder;
    }
}

void DiskSpaceGuard::SetRecheckInterval(std::chrono::milliseconds interval)
{
    std::lock_guard<std::mutex> guard(lock);
    recheck = interval;
}

bool DiskSpaceGuard::IsPaused() const
{
    std::lock_guard<std::mutex> guard(lock);
    return paused;
}

// One look at a time: a reading taken before another worker found room must not pause the station again.
// The change is told under the same lock, so the front end hears pause and room in the order they happened.
bool DiskSpaceGuard::Look()
{
    std::lock_guard<std::mutex> guard(lock);
    const int64_t floor = floorMB * kMB;
    QString shortFolder;
    int64_t freeBytes = 0;
    for (const QString& folder : folders) {
        if (floor == 0)
            break;
        const int64_t available = reader(folder);
        // A disk whose room cannot be read is not taken for a full one: the journal still tells a real failure.
        if (available >= 0 && available < floor) {
            shortFolder = folder;
            freeBytes = available;
            break;
        }
    }
    const bool room = shortFolder.isEmpty();
    if (room != paused)
        return room;
    paused = !room;
    if (room) {
        shortFolder = pausedFolder;
        freeBytes = reader(pausedFolder);
        LOGI("DiskSpaceGuard::WaitForRoom", "%s", BackText(shortFolder, freeBytes / kMB).toUtf8().constData());
    } else {
        pausedFolder = shortFolder;
        LOGE("DiskSpaceGuard::WaitForRoom", "%s", LowText(shortFolder, freeBytes / kMB, floorMB).toUtf8().constData());
    }
    Q_EMIT SigNotifyDiskSpace(!room, shortFolder, freeBytes / kMB, floorMB);
    return room;
}

bool DiskSpaceGuard::WaitForRoom(const std::atomic<bool>& stop, FailurePacer& pacer)
{
    for (;;) {
        if (stop.load())
            return false;
        if (Look())
            return true;
        std::chrono::milliseconds interval{};
        {
            std::lock_guard<std::mutex> guard(lock);
            interval = recheck;
        }
        pacer.Wait(interval, stop);
    }
}

QString DiskSpaceGuard::LowText(const QString& folder, int64_t freeMB, int64_t floorMB)
{
    return QStringLiteral("The disk of %1 has %2 MB free, below the station's floor of %3 MB: no port starts its "
                          "next device until there is room; devices being written finish.")
        .arg(folder)
        .arg(freeMB)
        .arg(floorMB);
}

QString DiskSpaceGuard::BackText(const QString& folder, int64_t freeMB)
{
    return QStringLiteral("The disk of %1 has room again (%2 MB free); the ports go on.").arg(folder).arg(freeMB);
}
