// The front end's side of the port manager in typed form: the settings a front end without a window hands
// over instead of answering element names, and the rows' states beside the cells the window is sent.
#include "common/PortManager.h"

#include <QThread>

void PortManager::SetRunSettings(const RunSettings& settings) { runSettings = settings; }

bool PortManager::IsSelected(int index)
{
    bool isSelected = false;
    if (runSettings)
        isSelected = runSettings->selectedRows[static_cast<size_t>(index)];
    else
        Q_EMIT SigGetMWPortIsSelected(static_cast<uint>(index), isSelected);
    selected[index] = isSelected;
    return isSelected;
}

// A start's reads, in the order the window is asked.
void PortManager::ReadRunSettings()
{
    ReadContent(QStringLiteral("leFlashXmlPath"), &RunSettings::flashXmlPath, flashXmlPath);
    ReadContent(QStringLiteral("leAuthFilePath"), &RunSettings::authFilePath, authFilePath);
    ReadContent(QStringLiteral("leCertFilePath"), &RunSettings::certFilePath, certFilePath);
    ReadCheck(QStringLiteral("cbAutoPolling"), &RunSettings::autoPolling, autoPolling);
    ReadCheck(QStringLiteral("cbAutoReboot"), &RunSettings::autoReboot, autoReboot);
    if (runSettings)
        runtimeParams = runSettings->runtimeParameters;
    else
        Q_EMIT SigGetOWDASetting(runtimeParams);
}

// The value comes in as the caller holds it: the window leaves it so for an element it does not serve.
void PortManager::ReadCheck(const QString& name, bool RunSettings::*field, bool& isChecked)
{
    if (runSettings)
        isChecked = (*runSettings).*field;
    else
        Q_EMIT SigGetMWElementIsChecked(name, isChecked);
}

void PortManager::ReadContent(const QString& name, QString RunSettings::*field, QString& content)
{
    if (runSettings)
        content = (*runSettings).*field;
    else
        Q_EMIT SigGetMWElementContent(name, content);
}

bool PortManager::ReadSceneChecked(const QString& radioName, RunSettings::Scene scene)
{
    if (runSettings)
        return runSettings->scene == scene;
    bool isChecked = false;
    Q_EMIT SigGetMWElementIsChecked(radioName, isChecked);
    return isChecked;
}

// A worker's change goes by name, like the end of a scan pass: no functor object of ours crosses the threads.
void PortManager::ChangeRow(const PortRowChange& change)
{
    if (QThread::currentThread() == thread())
        ApplyRowChange(change);
    else
        QMetaObject::invokeMethod(this, "ApplyRowChange", Qt::QueuedConnection, Q_ARG(PortRowChange, change));
}

void PortManager::ApplyRowChange(PortRowChange change)
{
    if (!IsPortIndex(change.row))
        return;
    PortRowState& state = rowStates[static_cast<size_t>(change.row)];
    change.ApplyTo(state);
    Q_EMIT SigNotifyPortRowState(change.row, state);
}

PortRowState PortManager::GetRowState(int index) const
{
    return IsPortIndex(index) ? rowStates[static_cast<size_t>(index)] : PortRowState();
}
