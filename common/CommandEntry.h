#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

class DeviceInstance;
struct CommandEntry;

// Runs after its command succeeded; 0 means the result is good.
using CommandCallback = int (*)(const CommandEntry& entry, DeviceInstance& device);

// One element of a session's command list.
struct CommandEntry
{
    QString command;
    CommandCallback callback = nullptr;
    int32_t index = 0;
    QString argument;
    // The load's checksum list as its check read it, for a comparison that must not read a rewritten file;
    // null when the load was not checked.
    QByteArray checksumList;
};
