#pragma once

#include "XML/RuntimeParameters.h"

#include <QString>

#include <array>

// Everything the port manager otherwise reads from the window's controls by name (a port's start, stop and
// scan, the load check, the settings' save), in one record that a front end without a window hands over.
struct RunSettings
{
    enum class Scene
    {
        None,
        FormatDownload,
        FirmwareUpgrade,
        EfuseWrite
    };

    Scene scene = Scene::None;
    QString flashXmlPath;
    QString authFilePath;
    QString certFilePath;
    bool autoPolling = false;
    bool autoReboot = false;
    // Only kept by the settings' save; the rows below are what a start or a scan takes.
    bool selectAllPorts = false;
    // One entry per port, row i for port i.
    std::array<bool, 16> selectedRows{};
    RuntimeParameters runtimeParameters;
};
