// Picks one device's fault from the seed and the device's number alone, so a run can be replayed exactly
// and a bad device fails the same way each time it is tried.
#pragma once

#include "FarmConfig.h"

#include <QString>

namespace quillonsim {

class SeededFault
{
public:
    // The kinds, as the ledger names them.
    static const QStringList& Kinds();

    // The fault of the farm's deviceNumber-th device; kind is empty and plan untouched for a good device.
    static void Pick(int seed, double rate, quint64 deviceNumber, FaultPlan& plan, QString& kind);
    // The plan's own kind, for faults configured per port.
    static QString KindOf(const FaultPlan& plan, quint64 portDeviceNumber);

private:
    static quint64 Mix(quint64 value);
};

} // namespace quillonsim
