// What a device tells about itself: its system properties and the firmware identity that its SLA challenge
// is made of.
#pragma once

#include "DeviceSlot.h"

#include <QByteArray>

namespace quillonsim {

class DeviceIdentity
{
public:
    static QByteArray SysPropertyAnswer(const QString& key, bool slaEnabled);
    // A fresh random challenge each time, with the device's fixed hardware and SoC ids.
    static QByteArray FirmwareInfoAnswer(const DeviceRef& device, QByteArray& challenge);
    static QByteArray Hrid(const DeviceRef& device);
    static QByteArray Socid(const DeviceRef& device);
};

} // namespace quillonsim
