#pragma once

#include "common/RunSettings.h"

#include <QString>

#include <functional>
#include <optional>

// Reads the front end's settings the port manager works with: from the window, which answers its controls'
// object names through the port manager's "get" signals, or from the RunSettings a front end without a
// window handed over instead. User-interface thread only.
class ControlReader
{
public:
    // The window's answers by name; each leaves the value as the caller holds it for a name it does not serve.
    struct WindowAsks
    {
        std::function<void(const QString& name, QString& content)> content;
        std::function<void(const QString& name, bool& isChecked)> checked;
        std::function<void(int row, bool& isSelected)> selected;
        std::function<void(RuntimeParameters& parameters)> options;
    };

    explicit ControlReader(WindowAsks asks) : asks(std::move(asks)) {}

    // From then on nothing is asked of the window.
    void SetRunSettings(const RunSettings& settings) { runSettings = settings; }

    void ReadCheck(const QString& name, bool RunSettings::*field, bool& isChecked);
    void ReadContent(const QString& name, QString RunSettings::*field, QString& content);
    bool ReadSceneChecked(const QString& radioName, RunSettings::Scene scene);
    bool ReadSelected(int row);
    void ReadOptions(RuntimeParameters& parameters);
    // The chosen flash XML, "leFlashXmlPath" in the window.
    QString FlashXml();

private:
    WindowAsks asks;
    std::optional<RunSettings> runSettings;
};
