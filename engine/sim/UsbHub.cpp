#include "UsbHub.h"

#include <algorithm>
#include <limits>

namespace quillonsim {

UsbHub::Stream::Stream(UsbHub& hub, double linkBytesPerSecond) : hub(hub), link(linkBytesPerSecond)
{
    hub.Join(*this);
}

UsbHub::Stream::~Stream()
{
    hub.Leave(*this);
}

TimePoint UsbHub::Stream::DueFor(quint64 bytes) const
{
    std::lock_guard<std::mutex> lock(hub.mutex);
    // The share is constant since the last change, so the moment follows from that change alone.
    const double missing = double(bytes) - allowed;
    return hub.lastChange + FarmClock::Milliseconds(missing * 1000.0 / share);
}

void UsbHub::Join(Stream& stream)
{
    std::lock_guard<std::mutex> lock(mutex);
    SettleLocked(FarmClock::Now());
    streams.push_back(&stream);
    ShareLocked();
}

void UsbHub::Leave(Stream& stream)
{
    std::lock_guard<std::mutex> lock(mutex);
    SettleLocked(FarmClock::Now());
    streams.erase(std::remove(streams.begin(), streams.end(), &stream), streams.end());
    ShareLocked();
}

void UsbHub::SettleLocked(TimePoint now)
{
    const double seconds = std::chrono::duration<double>(now - lastChange).count();
    for (Stream* stream : streams)
        stream->allowed += stream->share * seconds;
    lastChange = now;
}

void UsbHub::ShareLocked()
{
    // Slowest links first: each takes the smaller of its link and an equal part of what is left, so what a
    // slow link cannot use goes to the faster ones.
    const auto limit = [](const Stream* stream) {
        return stream->link > 0 ? stream->link : std::numeric_limits<double>::infinity();
    };
    std::vector<Stream*> order = streams;
    std::sort(order.begin(), order.end(),
              [&](const Stream* a, const Stream* b) { return limit(a) < limit(b); });
    double left = rate;
    size_t waiting = order.size();
    for (Stream* stream : order) {
        stream->share = std::min(limit(stream), left / double(waiting--));
        left -= stream->share;
    }
}

} // namespace quillonsim
