// The one USB 2.0 hub every port of the farm sits behind. Devices that stream at the same time share its rate
// fairly: equal parts, and a device whose own link is slower than its part leaves the rest to the others. A
// device's allowance grows with the shares as they stood at each moment, so a device that starts or stops
// changes the others' pace from then on, never in hindsight.
#pragma once

#include "FarmClock.h"

#include <QtGlobal>

#include <mutex>
#include <vector>

namespace quillonsim {

class UsbHub
{
public:
    // Real bytes a second, the time scale already applied; 0: no shared limit.
    explicit UsbHub(double bytesPerSecond) : rate(bytesPerSecond) {}
    UsbHub(const UsbHub&) = delete;
    UsbHub& operator=(const UsbHub&) = delete;

    bool Limits() const { return rate > 0; }

    // One device streaming through the hub, from its construction to its destruction.
    class Stream
    {
    public:
        // A link of 0 bytes a second sets no limit of its own.
        Stream(UsbHub& hub, double linkBytesPerSecond);
        ~Stream();
        Stream(const Stream&) = delete;
        Stream& operator=(const Stream&) = delete;

        // When the device will have been allowed this many bytes since it started, at the shares as they
        // stand; a time already past when it has been.
        TimePoint DueFor(quint64 bytes) const;

    private:
        friend class UsbHub;
        UsbHub& hub;
        double link;
        double share = 0;   // bytes a second until the next device starts or stops
        double allowed = 0; // bytes allowed up to that last change
    };

private:
    void Join(Stream& stream);
    void Leave(Stream& stream);
    // Credits every stream with what its share allowed since the last change.
    void SettleLocked(TimePoint now);
    void ShareLocked();

    const double rate;
    mutable std::mutex mutex;
    std::vector<Stream*> streams;
    TimePoint lastChange;
};

} // namespace quillonsim
