#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <vector>

// What /proc says about processes, for making sure a test left nothing running.
namespace ProcessScan {

// A process that exists and has not yet exited (a zombie waiting to be reaped counts as gone).
bool IsAlive(qint64 pid);

// Every live process whose environment holds exactly this NAME=value entry.
std::vector<qint64> WithEnvironmentEntry(const QByteArray& entry);

} // namespace ProcessScan
