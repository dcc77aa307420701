#pragma once

#include <QString>

#include <cstdint>

// The DA runtime options that travel from the options dialog to the command document of a port's start.
struct RuntimeParameters
{
    // Bit set: 1 no verification, 2 over USB, 4 in storage.
    int32_t checksumLevel = 0;
    // 1 with battery, 2 without; 0 lets the DA detect it, which is also what an unfilled record asks for.
    uint8_t batteryExist = 0;
    QString hwResetKey;
    QString daLogLevel;
    QString logChannel;
    QString systemOs;
};
