// One engine session: the device it claimed, how far it got, what it downloaded and its own last error.
// Only the one call that holds the session (TryBegin) touches its state; the last error has its own lock
// because any thread may ask for it.
#pragma once

#include "DeviceSlot.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace quillonsim {

class Farm;

struct DownloadedImage
{
    QString file;
    QString checksum;
    QString partition;
};

class Session
{
public:
    enum class State
    {
        Created,
        Connected,
        DaMode,
        Lost
    };

    Session(quint64 id, std::weak_ptr<Farm> farm);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    quint64 Id() const { return id; }

    // A session serves one call at a time; a second concurrent call on it is refused.
    bool TryBegin();
    void End();
    // Set when the session is destroyed while a call on it is still running, which then stops.
    const std::atomic<bool>& Abandoned() const { return abandoned; }
    void Abandon() { abandoned.store(true, std::memory_order_release); }

    void SetError(const QByteArray& text, quint64 sequence);
    // The calling thread becomes the one that made the latest call on the session.
    void NoteCaller();
    // The latest failure, and whether the calling thread made the latest call on the session.
    void Error(QByteArray& text, quint64& sequence, bool& calledHere) const;

    State state = State::Created;
    DeviceRef device;
    FaultPlan fault;     // the claimed device's own fault
    bool failed = false; // a call failed for a reason of the device's, not a stop
    std::vector<DownloadedImage> downloaded;
    QByteArray efuse;
    QByteArray challenge;
    bool policyAccepted = false;
    QString bootMode;

    // Records an image as downloaded, replacing an earlier download of the same file.
    void AddDownloaded(const DownloadedImage& image);

private:
    quint64 id;
    std::weak_ptr<Farm> farm;
    std::atomic<bool> busy{false};
    std::atomic<bool> abandoned{false};
    mutable std::mutex errorMutex;
    QByteArray errorText;
    quint64 errorSequence = 0;
    std::thread::id lastCaller = std::this_thread::get_id(); // creating the session counts as a call
};

} // namespace quillonsim
