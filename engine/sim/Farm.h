// The simulated rack: ports, the devices that come and go on them, the queue of arrivals and the sessions.
// One lock guards the rack's state and is held only for short changes, never while waiting or calling out.
#pragma once

#include "ArrivalQueue.h"
#include "DeviceSlot.h"
#include "FarmClock.h"
#include "FarmConfig.h"
#include "FarmLedger.h"
#include "ScanTarget.h"
#include "SessionRegistry.h"
#include "Status.h"
#include "StopQuery.h"
#include "UsbHub.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace quillonsim {

class Farm : public std::enable_shared_from_this<Farm>
{
public:
    enum class WaitEnd
    {
        Ready,
        Stopped,
        TimedOut,
        ShutDown
    };

    explicit Farm(const FarmConfig& config);
    Farm(const Farm&) = delete;
    Farm& operator=(const Farm&) = delete;

    const FarmConfig& Config() const { return config; }
    const FarmClock& Clock() const { return clock; }
    UsbHub& Hub() { return hub; }
    SessionRegistry& Sessions() { return sessions; }

    // Wakes every waiting call, which then fails; the farm takes no new work.
    void Shutdown();
    bool IsShutDown() const { return shutdown.load(std::memory_order_acquire); }

    // Waits for a device as the target says; on success description holds the port description.
    Status Scan(const ScanTarget& target, unsigned int timeoutMs, const StopQuery& stop,
                QByteArray& description);
    // Claims the free device that the description names, with the fault that device has.
    Status Claim(const QByteArray& description, DeviceRef& device, FaultPlan& fault);
    // A failed session counts towards the device being taken away (SwapFailedAfter).
    void Release(const DeviceRef& device, bool failed);
    // The device leaves its port at once, as when it drops off the bus during a download.
    void DropOff(const DeviceRef& device);
    // The device leaves its port when its session releases it.
    void LeaveOnRelease(const DeviceRef& device);
    bool StillPresent(const DeviceRef& device);
    const PortSettings& SettingsOf(const DeviceRef& device) const { return config.port[size_t(device.port)]; }
    QString PortNameOf(const DeviceRef& device) const;
    // The longest description any port gives, without its terminating zero.
    int MaxDescriptionLength() const { return maxDescriptionLength; }
    // Empty unless the ledger the configuration names cannot be written.
    const QString& StartError() const { return startError; }
    // Adds a line about the device to the ledger, if there is one.
    void Note(const DeviceRef& device, const QString& event, QJsonObject fields);

    // Waits until ready (checked under the lock) returns true, the deadline passes, the stop query answers
    // or the farm shuts down. The stop query and tick run without the lock, at least every 20 ms.
    WaitEnd Wait(TimePoint deadline, const StopQuery& stop, const std::function<bool()>& ready,
                 const std::function<void()>& tick = {});
    // Waits out a real duration; Ready means it passed with no stop and no shutdown.
    WaitEnd Delay(Duration duration, const StopQuery& stop, const std::function<void()>& tick = {});

private:
    void AdvanceLocked(TimePoint now);
    TimePoint NextEventLocked(TimePoint fallback) const;
    bool FindCandidateLocked(const ScanTarget& target, int& port);
    DeviceSlot* SlotFor(const DeviceRef& device);
    void NoteArrivalLocked(DeviceSlot& slot);
    void NoteDepartureLocked(const DeviceSlot& slot, const QString& reason);

    FarmConfig config;
    FarmClock clock;
    UsbHub hub;
    SessionRegistry sessions;
    std::atomic<bool> shutdown{false};
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<DeviceSlot> slots;
    ArrivalQueue arrivals;
    int maxDescriptionLength = 0;
    FarmLedger ledger;
    QString startError;
    quint64 farmDevices = 0; // guarded by mutex
};

} // namespace quillonsim
