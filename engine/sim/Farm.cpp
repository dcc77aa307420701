#include "Farm.h"

#include "DeviceIdentity.h"
#include "SeededFault.h"

#include <algorithm>

namespace quillonsim {

Farm::Farm(const FarmConfig& farmConfig)
    : config(farmConfig), clock(farmConfig.timeScale),
      // At a time scale of 0 a transfer takes no time, so there is nothing to share.
      hub(farmConfig.timeScale > 0 ? farmConfig.hubMBps * 1.0e6 / farmConfig.timeScale : 0)
{
    if (ledger.Open(config.ledger, startError)) {
        farmDevices = ledger.LastDevice();
        ledger.Write({{QStringLiteral("event"), QStringLiteral("start")},
                      {QStringLiteral("ports"), config.ports},
                      {QStringLiteral("faultRate"), config.faultRate},
                      {QStringLiteral("faultSeed"), config.faultSeed},
                      {QStringLiteral("swapFailedAfter"), config.swapFailedAfter}});
    }
    const TimePoint start = FarmClock::Now();
    slots.reserve(size_t(config.ports));
    for (int i = 0; i < config.ports; ++i) {
        slots.emplace_back(i, config.firstCom + i, config.port[size_t(i)], clock, start);
        maxDescriptionLength = std::max(maxDescriptionLength, int(slots.back().Description().size()));
    }
}

void Farm::Shutdown()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!shutdown.exchange(true, std::memory_order_acq_rel))
            ledger.Write({{QStringLiteral("event"), QStringLiteral("stop")}});
    }
    changed.notify_all();
}

void Farm::Note(const DeviceRef& device, const QString& event, QJsonObject fields)
{
    if (!ledger.Active())
        return;
    fields.insert(QStringLiteral("event"), event);
    fields.insert(QStringLiteral("port"), PortNameOf(device));
    fields.insert(QStringLiteral("device"), double(device.farmNumber));
    ledger.Write(fields);
}

void Farm::NoteArrivalLocked(DeviceSlot& slot)
{
    FaultPlan plan = slot.Fault();
    QString kind = SeededFault::KindOf(plan, slot.DeviceNumber());
    const PortSettings& settings = slot.Settings();
    if (settings.faultRate > 0)
        SeededFault::Pick(settings.faultSeed, settings.faultRate, farmDevices + 1, plan, kind);
    slot.Identify(++farmDevices, plan);
    const DeviceRef device{slot.Index(), slot.DeviceNumber(), slot.FarmNumber()};
    Note(device, QStringLiteral("arrival"),
         {{QStringLiteral("fault"), kind.isEmpty() ? QStringLiteral("none") : kind},
          {QStringLiteral("socid"), QString::fromLatin1(DeviceIdentity::Socid(device).toHex())}});
}

void Farm::NoteDepartureLocked(const DeviceSlot& slot, const QString& reason)
{
    Note({slot.Index(), slot.DeviceNumber(), slot.FarmNumber()}, QStringLiteral("departure"),
         {{QStringLiteral("reason"), reason}});
}

QString Farm::PortNameOf(const DeviceRef& device) const
{
    return QStringLiteral("COM%1").arg(config.firstCom + device.port);
}

void Farm::AdvanceLocked(TimePoint now)
{
    // Events fire in the order they were due, so the queue reflects the order devices came up in.
    struct Due
    {
        TimePoint at;
        int port;
    };
    std::vector<Due> due;
    for (const DeviceSlot& slot : slots) {
        TimePoint at;
        if (slot.NextEvent(at) && at <= now)
            due.push_back({at, slot.Index()});
    }
    std::sort(due.begin(), due.end(),
              [](const Due& a, const Due& b) { return a.at != b.at ? a.at < b.at : a.port < b.port; });
    bool any = false;
    for (const Due& event : due) {
        DeviceSlot& slot = slots[size_t(event.port)];
        const DeviceSlot::Event fired = slot.Fire(now);
        if (fired == DeviceSlot::Event::Arrival)
            NoteArrivalLocked(slot);
        if (fired != DeviceSlot::Event::None) {
            arrivals.Push({slot.Index(), slot.DeviceNumber()});
            any = true;
        }
    }
    if (any)
        changed.notify_all();
}

TimePoint Farm::NextEventLocked(TimePoint fallback) const
{
    TimePoint next = fallback;
    for (const DeviceSlot& slot : slots) {
        TimePoint at;
        if (slot.NextEvent(at))
            next = std::min(next, at);
    }
    return next;
}

Farm::WaitEnd Farm::Wait(TimePoint deadline, const StopQuery& stop, const std::function<bool()>& ready,
                         const std::function<void()>& tick)
{
    for (;;) {
        if (stop.Requested())
            return WaitEnd::Stopped;
        {
            std::unique_lock<std::mutex> lock(mutex);
            if (IsShutDown())
                return WaitEnd::ShutDown;
            const TimePoint now = FarmClock::Now();
            AdvanceLocked(now);
            if (ready && ready())
                return WaitEnd::Ready;
            if (now >= deadline)
                return WaitEnd::TimedOut;
            TimePoint wake = std::min(now + FarmClock::kPollInterval, deadline);
            if (ready)
                wake = NextEventLocked(wake);
            changed.wait_until(lock, std::max(wake, now));
            if (IsShutDown())
                return WaitEnd::ShutDown;
        }
        if (tick)
            tick();
    }
}

Farm::WaitEnd Farm::Delay(Duration duration, const StopQuery& stop, const std::function<void()>& tick)
{
    const WaitEnd end = Wait(FarmClock::Now() + duration, stop, {}, tick);
    return end == WaitEnd::TimedOut ? WaitEnd::Ready : end;
}

bool Farm::FindCandidateLocked(const ScanTarget& target, int& port)
{
    switch (target.kind) {
    case ScanTarget::Kind::AnyPort: {
        // Stale arrivals (the device left or someone claimed it) are dropped; the scan keeps waiting.
        DeviceRef arrival;
        while (arrivals.Pop(arrival)) {
            const DeviceSlot& slot = slots[size_t(arrival.port)];
            if (slot.Free() && slot.DeviceNumber() == arrival.deviceNumber) {
                port = arrival.port;
                return true;
            }
        }
        return false;
    }
    case ScanTarget::Kind::Port: {
        const int index = target.com - config.firstCom;
        if (index >= 0 && index < int(slots.size()) && slots[size_t(index)].Free()) {
            port = index;
            return true;
        }
        return false;
    }
    case ScanTarget::Kind::Text:
        for (const DeviceSlot& slot : slots) {
            if (slot.Free() &&
                QString::fromUtf8(slot.Description()).contains(target.text, Qt::CaseInsensitive)) {
                port = slot.Index();
                return true;
            }
        }
        return false;
    }
    return false;
}

Status Farm::Scan(const ScanTarget& target, unsigned int timeoutMs, const StopQuery& stop,
                  QByteArray& description)
{
    if (target.kind == ScanTarget::Kind::Port &&
        (target.com < config.firstCom || target.com >= config.firstCom + config.ports)) {
        return Status::Fail(QUILLON_E_INVALID_ARGUMENT,
                            QStringLiteral("No port COM%1 in the farm (it has COM%2 to COM%3)")
                                .arg(target.com)
                                .arg(config.firstCom)
                                .arg(config.firstCom + config.ports - 1));
    }
    const TimePoint deadline = FarmClock::Now() + FarmClock::Milliseconds(timeoutMs);
    int port = -1;
    DeviceRef device;
    FaultPlan fault;
    const WaitEnd end = Wait(deadline, stop, [&] {
        if (!FindCandidateLocked(target, port))
            return false;
        const DeviceSlot& slot = slots[size_t(port)];
        device = {port, slot.DeviceNumber()};
        description = slot.Description();
        fault = slot.Fault();
        return true;
    });
    switch (end) {
    case WaitEnd::Stopped:
        return Status::Fail(QUILLON_E_STOPPED, QStringLiteral("Scan stopped by the caller"));
    case WaitEnd::ShutDown:
        return Status::Fail(QUILLON_E_NOT_STARTED, QStringLiteral("Engine shut down during the scan"));
    case WaitEnd::TimedOut:
        return Status::Fail(
            QUILLON_E_TIMEOUT,
            QStringLiteral("No device arrived%1 within %2 ms").arg(target.Describe()).arg(timeoutMs));
    case WaitEnd::Ready:
        break;
    }
    const QString portName = PortNameOf(device);
    if (fault.Hangs(Stage::Scan)) {
        const WaitEnd hang = Wait(deadline, stop, {});
        if (hang == WaitEnd::Stopped)
            return Status::Fail(QUILLON_E_STOPPED, QStringLiteral("Scan stopped by the caller"));
        if (hang == WaitEnd::ShutDown)
            return Status::Fail(QUILLON_E_NOT_STARTED, QStringLiteral("Engine shut down during the scan"));
        return Status::Fail(
            QUILLON_E_TIMEOUT,
            QStringLiteral("Device on %1 did not answer the scan within %2 ms").arg(portName).arg(timeoutMs));
    }
    if (fault.Fails(Stage::Scan, device.deviceNumber))
        return Status::Fail(QUILLON_E_DEVICE,
                            QStringLiteral("Device on %1 failed to enumerate").arg(portName));
    return Status::Success();
}

Status Farm::Claim(const QByteArray& description, DeviceRef& device, FaultPlan& fault)
{
    std::lock_guard<std::mutex> lock(mutex);
    AdvanceLocked(FarmClock::Now());
    for (DeviceSlot& slot : slots) {
        if (slot.Description() != description)
            continue;
        if (!slot.Present())
            return Status::Fail(QUILLON_E_DEVICE, QStringLiteral("No device on %1").arg(slot.PortName()));
        if (slot.Claimed())
            return Status::Fail(QUILLON_E_DEVICE_BUSY,
                                QStringLiteral("Cannot connect on %1: device in use").arg(slot.PortName()));
        slot.Claim();
        device = {slot.Index(), slot.DeviceNumber(), slot.FarmNumber()};
        fault = slot.Fault();
        return Status::Success();
    }
    return Status::Fail(
        QUILLON_E_INVALID_ARGUMENT,
        QStringLiteral("No port of the farm has the description \"%1\"").arg(QString::fromUtf8(description)));
}

DeviceSlot* Farm::SlotFor(const DeviceRef& device)
{
    if (device.port < 0 || device.port >= int(slots.size()))
        return nullptr;
    DeviceSlot& slot = slots[size_t(device.port)];
    return slot.Holds(device) ? &slot : nullptr;
}

void Farm::Release(const DeviceRef& device, bool failed)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        DeviceSlot* slot = SlotFor(device);
        if (slot == nullptr || !slot->Claimed())
            return;
        Note(device, QStringLiteral("release"), {{QStringLiteral("failed"), failed}});
        switch (slot->Release(FarmClock::Now(), failed, config.swapFailedAfter)) {
        case DeviceSlot::Departure::Rebooted:
            NoteDepartureLocked(*slot, QStringLiteral("rebooted"));
            break;
        case DeviceSlot::Departure::Swapped:
            NoteDepartureLocked(*slot, QStringLiteral("swapped"));
            break;
        case DeviceSlot::Departure::Stays:
            break;
        }
    }
    changed.notify_all();
}

void Farm::DropOff(const DeviceRef& device)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (DeviceSlot* slot = SlotFor(device)) {
            NoteDepartureLocked(*slot, QStringLiteral("dropped"));
            slot->Depart(FarmClock::Now());
        }
    }
    changed.notify_all();
}

void Farm::LeaveOnRelease(const DeviceRef& device)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (DeviceSlot* slot = SlotFor(device))
        slot->LeaveOnRelease();
}

bool Farm::StillPresent(const DeviceRef& device)
{
    std::lock_guard<std::mutex> lock(mutex);
    return SlotFor(device) != nullptr;
}

} // namespace quillonsim
