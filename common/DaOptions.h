#pragma once

#include "XML/RuntimeParameters.h"

#include <QString>
#include <QStringList>

// The download agent's options the operator chooses (battery, DA log, checksums), as the settings file
// keeps them in its group "DAOptions". The options dialog shows them; a front end without one reads them
// from the file the same way.
struct DaOptions
{
    enum Battery
    {
        WithBattery,
        WithoutBattery,
        AutoDetect
    };

    static const QStringList& LevelNames();
    static const QStringList& ChannelNames();

    // Values the file does not hold, or holds in another spelling, fall back to auto detect, INFO, UART.
    static DaOptions Load(const QString& settingsPath);
    void Save(const QString& settingsPath) const;
    RuntimeParameters ToRuntimeParameters() const;

    Battery battery = AutoDetect;
    int levelIndex = 1;
    int channelIndex = 0;
    bool usbChecksum = false;
    bool storageChecksum = false;
};
