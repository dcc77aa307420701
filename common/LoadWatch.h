#pragma once

#include "common/LoadSnapshot.h"

#include <QString>

#include <atomic>
#include <memory>
#include <mutex>

// The checked load, watched from every port's worker. Once one of its files is missing or changed, no port
// starts another device until a load has been checked again, so no device is blamed for a load that went
// away. Thread-safe.
class LoadWatch
{
public:
    // After a load passed its check; forgets an earlier change.
    void Arm(const LoadSnapshot& snapshot);
    // After a check failed: nothing is watched.
    void Disarm();

    // True while the load is as checked, or nothing is watched; otherwise false with the reason. firstTime
    // is true for exactly one caller after each change, who tells the operator.
    bool Check(QString& reason, bool& firstTime);
    bool IsGone() const { return gone.load(); }
    QString Reason() const;
    // The load as its check saw it, its checksum list included; null while nothing is watched.
    std::shared_ptr<const LoadSnapshot> Watched() const;

private:
    mutable std::mutex lock;
    // Shared, never copied, so a worker's look reads the same strings the check wrote.
    std::shared_ptr<const LoadSnapshot> snapshot;
    QString reason;
    quint64 generation = 0; // counts Arm calls, so a look at an older load never marks a newer one
    std::atomic<bool> gone{false};
};
