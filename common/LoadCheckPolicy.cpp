#include "common/LoadCheckPolicy.h"

#include "common/DeviceInstance.h"
#include "common/LoadContents.h"
#include "common/StationPolicyHost.h"
#include "logging/Log.h"

#include <QFileInfo>

static constexpr char kLogSource[] = "Common\\LoadCheckPolicy";

QString LoadCheckPolicy::LoadChecked(bool checkerPassed, const LoadSnapshot& checked)
{
    // The checker only compares what the list names; a load that writes nothing, or an image the list
    // leaves out, would pass it and flash every device as OK without writing or checking it.
    problem = checkerPassed ? LoadContents::Problem(checked.Scatter()) : QString();
    // Confirmed unchanged, the snapshot's checksum list is the one the checker compared the images with.
    const QString changed = checkerPassed && problem.isEmpty() ? checked.Changed() : QString();
    if (!changed.isEmpty())
        problem = QStringLiteral("the load changed during its check: %1").arg(changed);
    if (checkerPassed && problem.isEmpty())
        watch.Arm(checked);
    else
        watch.Disarm();
    return problem;
}

void LoadCheckPolicy::Refuse(const QString& reason)
{
    problem = reason;
    watch.Disarm();
}

QByteArray LoadCheckPolicy::CheckedList(const QString& engineFlashXml) const
{
    const std::shared_ptr<const LoadSnapshot> checked = watch.Watched();
    if (!checked || QFileInfo(checked->FlashXml()) != QFileInfo(engineFlashXml))
        return QByteArray();
    return checked->ChecksumList();
}

// The device may hold bytes of either load, or of both; it fails as a changed load, not as the device's
// fault, whatever the session said. A session that never came to write the load keeps its own outcome.
void LoadCheckPolicy::HoldToCheckedLoad(DeviceInstance& device)
{
    if (device.GetStatus() == PortStatus::CANL)
        return;
    bool wrote = false;
    for (const SessionStage& stage : device.GetStages())
        wrote = wrote || stage.name == QLatin1String("CMD:FLASH-ALL") || stage.name == QLatin1String("CMD:FLASH-UPDATE");
    QString reason;
    bool firstTime = false;
    if (!wrote || watch.Check(reason, firstTime))
        return;
    if (firstTime) {
        LOGE("PortManager::ExecuteDownloadThread", "The load changed during the run: %s; no more devices are started.",
             reason.toUtf8().constData());
        host.TellOperatorLater(OperatorPrompt::Kind::Warning, QStringLiteral("Load Changed"), ChangedText(reason));
    }
    device.FailForChangedLoad(QStringLiteral("The load changed while the device was written: %1").arg(reason));
}

QString LoadCheckPolicy::ChangedText(const QString& reason)
{
    return QStringLiteral("A file of the load changed or went away during the run:\n%1\n\nNo more devices are started; "
                          "devices already being written finish. Choose the load again to go on.")
        .arg(reason);
}

// A Start after the load changed would blame every next device for it; the operator was told when it
// changed, so the refusal itself is only logged.
bool LoadCheckPolicy::RefusesStart(int /*row*/, ControlReader& /*reads*/)
{
    QString reason;
    bool firstTime = false;
    if (watch.Check(reason, firstTime))
        return false;
    LOGE("PortManager::Start", "Start refused, the load changed: %s", reason.toUtf8().constData());
    if (firstTime)
        host.TellOperator(OperatorPrompt::Kind::Warning, QStringLiteral("Load Changed"), ChangedText(watch.Reason()));
    return true;
}

bool LoadCheckPolicy::DeviceFound(int /*row*/, QString& withdrawn)
{
    bool firstTime = false;
    if (watch.Check(withdrawn, firstTime))
        return true;
    if (firstTime) {
        LOGE("PortManager::ExecuteDownloadThread", "The load changed during the run: %s; no more devices are started.",
             withdrawn.toUtf8().constData());
        host.TellOperatorLater(OperatorPrompt::Kind::Warning, QStringLiteral("Load Changed"), ChangedText(withdrawn));
    }
    withdrawn = QStringLiteral("The load changed during the run: %1").arg(withdrawn);
    return false;
}

bool LoadCheckPolicy::RowGoesOn(int /*row*/) const { return !watch.IsGone(); }
