#include "DeviceSlot.h"

namespace quillonsim {

namespace {

// However fast the clock runs, an unclaimed device does not enumerate more often than this.
constexpr std::chrono::milliseconds kMinReenumerate{50};

} // namespace

DeviceSlot::DeviceSlot(int index, int com, const PortSettings& settings, const FarmClock& clock,
                       TimePoint farmStart)
    : index(index), com(com), settings(settings), clock(clock),
      description(DescriptionFor(index, com, settings.type))
{
    if (!settings.fault.absent)
        ScheduleArrival(farmStart + clock.Scaled(settings.arrivalMs + index * settings.arrivalStepMs));
}

QByteArray DeviceSlot::DescriptionFor(int index, int com, DeviceMode mode)
{
    // The location part leads the "#" fields so that the instance id the tool restores from a saved friendly
    // name still names this port's device, and no other; two digits keep COM3's id out of COM13's.
    const QString location = QStringLiteral("%1").arg(index, 2, 10, QLatin1Char('0'));
    const QString modeText =
        mode == DeviceMode::BootRom ? QStringLiteral("Boot ROM") : QStringLiteral("PreLoader");
    return QStringLiteral("\\\\?\\usb#7&2b1f0c3&0&%1#vid_1209&pid_5a01#{a5dcbf10-6530-11d2-901f-00c04fb951ed}"
                          "@Sim %2 Serial (COM%3)@USB\\VID_1209&PID_5A01\\7&2B1F0C3&0&%1")
        .arg(location, modeText)
        .arg(com)
        .toUtf8();
}

bool DeviceSlot::NextEvent(TimePoint& at) const
{
    if (!present && arrivalPending) {
        at = arrivalAt;
        return true;
    }
    if (Free()) {
        at = reenumerateAt;
        return true;
    }
    return false;
}

DeviceSlot::Event DeviceSlot::Fire(TimePoint now)
{
    if (!present && arrivalPending && now >= arrivalAt) {
        arrivalPending = false;
        present = true;
        claimed = false;
        leaveOnRelease = false;
        failedSessions = 0;
        ++deviceNumber;
        fault = settings.fault;
        reenumerateAt = now + clock.ScaledAtLeast(settings.reenumerateMs, kMinReenumerate);
        return Event::Arrival;
    }
    if (Free() && now >= reenumerateAt) {
        reenumerateAt = now + clock.ScaledAtLeast(settings.reenumerateMs, kMinReenumerate);
        return Event::Reenumeration;
    }
    return Event::None;
}

void DeviceSlot::Claim()
{
    claimed = true;
}

void DeviceSlot::Identify(quint64 number, const FaultPlan& plan)
{
    farmNumber = number;
    fault = plan;
}

DeviceSlot::Departure DeviceSlot::Release(TimePoint now, bool failed, int swapFailedAfter)
{
    claimed = false;
    if (leaveOnRelease) {
        Depart(now);
        return Departure::Rebooted;
    }
    if (failed && swapFailedAfter > 0 && ++failedSessions >= swapFailedAfter) {
        Depart(now);
        return Departure::Swapped;
    }
    reenumerateAt = now + clock.ScaledAtLeast(settings.reenumerateMs, kMinReenumerate);
    return Departure::Stays;
}

void DeviceSlot::Depart(TimePoint now)
{
    present = false;
    claimed = false;
    leaveOnRelease = false;
    failedSessions = 0;
    const bool more = settings.devicesPerPort == 0 || deviceNumber < quint64(settings.devicesPerPort);
    if (more && !settings.fault.absent)
        ScheduleArrival(now + clock.Scaled(settings.swapMs));
}

void DeviceSlot::ScheduleArrival(TimePoint at)
{
    arrivalPending = true;
    arrivalAt = at;
}

} // namespace quillonsim
