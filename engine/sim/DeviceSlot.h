// One USB port of the farm with its COM port and the device currently plugged into it. Plain state: the
// farm changes it only under its lock.
#pragma once

#include "FarmClock.h"
#include "FarmConfig.h"

#include <QByteArray>
#include <QString>

namespace quillonsim {

// Names one device: the port and the how-many-th device of that port it is, so a claim or a command
// never reaches the next device that arrives on the same port.
struct DeviceRef
{
    int port = -1;
    quint64 deviceNumber = 0;
    quint64 farmNumber = 0; // the farm's own count over all ports, as its ledger names the device

    bool Valid() const { return port >= 0 && deviceNumber > 0; }
};

class DeviceSlot
{
public:
    enum class Event
    {
        None,
        Arrival,
        Reenumeration
    };

    enum class Departure
    {
        Stays,
        Rebooted,
        Swapped
    };

    DeviceSlot(int index, int com, const PortSettings& settings, const FarmClock& clock, TimePoint farmStart);

    int Index() const { return index; }
    int Com() const { return com; }
    QString PortName() const { return QStringLiteral("COM%1").arg(com); }
    const PortSettings& Settings() const { return settings; }
    const QByteArray& Description() const { return description; }

    bool Present() const { return present; }
    bool Claimed() const { return claimed; }
    bool Free() const { return present && !claimed; }
    quint64 DeviceNumber() const { return deviceNumber; }
    quint64 FarmNumber() const { return farmNumber; }
    const FaultPlan& Fault() const { return fault; }
    // Gives the device that just arrived its farm-wide number and its own fault.
    void Identify(quint64 number, const FaultPlan& plan);
    bool Holds(const DeviceRef& ref) const { return present && ref.deviceNumber == deviceNumber; }

    // The time of the next arrival or re-enumeration; false when nothing is pending.
    bool NextEvent(TimePoint& at) const;
    // Applies the pending event when it is due.
    Event Fire(TimePoint now);

    void Claim();
    // A failed session counts towards the device being taken away after swapFailedAfter of them.
    Departure Release(TimePoint now, bool failed, int swapFailedAfter);
    void Depart(TimePoint now);
    void LeaveOnRelease() { leaveOnRelease = true; }

    static QByteArray DescriptionFor(int index, int com, DeviceMode mode);

private:
    void ScheduleArrival(TimePoint at);

    int index;
    int com;
    PortSettings settings;
    const FarmClock& clock;
    QByteArray description;
    bool present = false;
    bool claimed = false;
    bool leaveOnRelease = false;
    bool arrivalPending = false;
    quint64 deviceNumber = 0;
    quint64 farmNumber = 0;
    FaultPlan fault;
    int failedSessions = 0;
    TimePoint arrivalAt;
    TimePoint reenumerateAt;
};

} // namespace quillonsim
