// The front end's side of the port manager in typed form: the settings a front end without a window hands
// over instead of answering element names, the rows' states beside the cells the window is sent, and the
// operator's boxes, its own and its policies'.
#include "common/PortManager.h"
#include "common/PortTableColumn.h"

#include "logging/Log.h"

#include <QThread>

static constexpr char kLogSource[] = "Common\\PortManager";

void PortManager::SetRunSettings(const RunSettings& settings) { controls.SetRunSettings(settings); }

bool PortManager::IsSelected(int index)
{
    const bool isSelected = controls.ReadSelected(index);
    selected[index] = isSelected;
    return isSelected;
}

// A start's reads, in the order the window is asked.
void PortManager::ReadRunSettings()
{
    controls.ReadContent(QStringLiteral("leFlashXmlPath"), &RunSettings::flashXmlPath, flashXmlPath);
    controls.ReadContent(QStringLiteral("leAuthFilePath"), &RunSettings::authFilePath, authFilePath);
    controls.ReadContent(QStringLiteral("leCertFilePath"), &RunSettings::certFilePath, certFilePath);
    controls.ReadCheck(QStringLiteral("cbAutoPolling"), &RunSettings::autoPolling, autoPolling);
    controls.ReadCheck(QStringLiteral("cbAutoReboot"), &RunSettings::autoReboot, autoReboot);
    controls.ReadOptions(runtimeParams);
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

void PortManager::ShowRowMessage(int row, const QString& text)
{
    Q_EMIT SigSetMWTableWidgetItemContext(QStringLiteral("tableWidget"), row, PortTableColumn::Message, text);
    PortRowChange change(row);
    change.message = text;
    ChangeRow(change);
}

void PortManager::AddStreamFigures(int index, unsigned int percent, PortRowChange& change) const
{
    if (!IsPortIndex(index))
        return;
    const DeviceInstance& device = devices[static_cast<size_t>(index)];
    const uint64_t streamed = device.GetStreamedBytes();
    change.stream = streamed == 0 ? StreamFigures() : outcomes.Streaming(index, device.GetStages(), streamed, percent);
}

void PortManager::AddDeviceElapsed(int index, PortRowChange& change) const
{
    if (IsPortIndex(index))
        change.deviceElapsed = outcomes.DeviceElapsed(index);
}

void PortManager::Tell(OperatorPrompt::Kind kind, const QString& title, const QString& text, const QString& detail)
{
    if (prompt != nullptr) {
        if (detail.isEmpty())
            prompt->Tell(kind, title, text);
        else
            prompt->TellWithDetail(kind, title, text, detail);
        return;
    }
    LOGE("PortManager::Tell", "%s: %s%s%s", title.toUtf8().constData(), text.toUtf8().constData(),
         detail.isEmpty() ? "" : " ", detail.toUtf8().constData());
}

void PortManager::TellOperator(OperatorPrompt::Kind kind, const QString& title, const QString& text)
{
    Tell(kind, title, text);
}

void PortManager::TellOperatorLater(OperatorPrompt::Kind kind, const QString& title, const QString& text)
{
    QMetaObject::invokeMethod(this, "TellQueued", Qt::QueuedConnection, Q_ARG(int, static_cast<int>(kind)),
                              Q_ARG(QString, title), Q_ARG(QString, text));
}

void PortManager::TellQueued(int kind, QString title, QString text)
{
    Tell(static_cast<OperatorPrompt::Kind>(kind), title, text);
}

void PortManager::NotifyUnverifiedRun(const QString& text) { Q_EMIT SigNotifyUnverifiedRun(text); }

bool PortManager::Ask(const QString& title, const QString& text)
{
    if (prompt != nullptr)
        return prompt->Ask(title, text);
    LOGE("PortManager::Ask", "%s: %s (answered No)", title.toUtf8().constData(), text.toUtf8().constData());
    return false;
}
