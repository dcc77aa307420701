#include "common/ControlReader.h"

void ControlReader::ReadCheck(const QString& name, bool RunSettings::*field, bool& isChecked)
{
    if (runSettings)
        isChecked = (*runSettings).*field;
    else
        asks.checked(name, isChecked);
}

void ControlReader::ReadContent(const QString& name, QString RunSettings::*field, QString& content)
{
    if (runSettings)
        content = (*runSettings).*field;
    else
        asks.content(name, content);
}

bool ControlReader::ReadSceneChecked(const QString& radioName, RunSettings::Scene scene)
{
    if (runSettings)
        return runSettings->scene == scene;
    bool isChecked = false;
    asks.checked(radioName, isChecked);
    return isChecked;
}

bool ControlReader::ReadSelected(int row)
{
    bool isSelected = false;
    if (runSettings)
        isSelected = runSettings->selectedRows[static_cast<size_t>(row)];
    else
        asks.selected(row, isSelected);
    return isSelected;
}

void ControlReader::ReadOptions(RuntimeParameters& parameters)
{
    if (runSettings)
        parameters = runSettings->runtimeParameters;
    else
        asks.options(parameters);
}

QString ControlReader::FlashXml()
{
    QString path;
    ReadContent(QStringLiteral("leFlashXmlPath"), &RunSettings::flashXmlPath, path);
    return path;
}
