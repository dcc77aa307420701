// The command list of a port's start, and the worker that runs it, once or with auto polling.
#include "common/DownloadFeedbackCallback.h"
#include "common/LoadContents.h"
#include "record/LoadDigest.h"
#include "common/PortDescription.h"
#include "common/PortManager.h"
#include "common/PortTableColumn.h"

#include "XML/ICmdXMLGenerator.h"
#include "logging/Log.h"

#include <QDateTime>
#include <QElapsedTimer>

static constexpr char kLogSource[] = "Common\\PortManager";

QString PortManager::AddCommands(int index, ICmdXMLGenerator& generator)
{
    const QString scene = AddSceneCommands(index, generator);
    if (autoReboot && !autoPolling)
        AddBootModeCommand(index, generator);
    devices[index].AddCommand(generator.GetRebootCmdString(autoPolling || autoReboot));
    return scene;
}

QString PortManager::AddSceneCommands(int index, ICmdXMLGenerator& generator)
{
    using Scene = RunSettings::Scene;
    const bool format = controls.ReadSceneChecked(QStringLiteral("rbFormatDownload"), Scene::FormatDownload);
    const bool upgrade = controls.ReadSceneChecked(QStringLiteral("rbFirmwareUpgrade"), Scene::FirmwareUpgrade);
    const bool efuseWrite = controls.ReadSceneChecked(QStringLiteral("rbEFUSEWrite"), Scene::EfuseWrite);

    DeviceInstance& device = devices[index];
    if (format) {
        device.AddCommand(generator.GetEraseFlashCmdString());
        device.AddCommand(generator.GetFlashAllCmdString(scatterFilePath));
        AddFeedbackCommand(index, generator);
        if (blowAfterDownload && efuseEnable)
            AddEfuseCommands(index, generator);
        else
            AddReadbackCommand(index, generator);
        return QStringLiteral("format-download");
    }
    if (upgrade) {
        device.AddCommand(generator.GetFWCmdString(scatterFilePath));
        AddFeedbackCommand(index, generator);
        AddReadbackCommand(index, generator);
        return QStringLiteral("firmware-upgrade");
    }
    if (efuseWrite && efuseEnable) {
        AddEfuseCommands(index, generator);
        return QStringLiteral("efuse-write");
    }
    return QStringLiteral("none");
}

void PortManager::AddFeedbackCommand(int index, ICmdXMLGenerator& generator)
{
    if (runtimeParams.checksumLevel == 1)
        return;
    LOGE("PortManager::Start", "checksumLevel:%d", runtimeParams.checksumLevel);
    CommandEntry entry;
    entry.command = generator.GetDownloadImageFeedback(index);
    entry.callback = &DownloadFeedbackCallback;
    entry.index = index;
    entry.argument = scatterFilePath;
    entry.checksumList = loadCheck.CheckedList(engineFlashXmlPath);
    devices[index].AddCommandWithCallback(entry);
}

void PortManager::AddEfuseCommands(int index, ICmdXMLGenerator& generator)
{
    devices[index].AddCommand(generator.GetWriteEfuseCmdString(efuseImagePath));
    AddReadbackCommand(index, generator);
}

void PortManager::AddReadbackCommand(int index, ICmdXMLGenerator& generator)
{
    if (readEfuseEnable)
        devices[index].AddCommand(generator.GetReadEfuseCmdString(readbackPath));
}

void PortManager::AddBootModeCommand(int index, ICmdXMLGenerator& generator)
{
    QString mode;
    if (rebootScene == QLatin1String("META Mode")) {
        generator.SetMetaSetting(connectType, mobileLog, adb);
        mode = QStringLiteral("META");
    } else if (rebootScene == QLatin1String("FASTBOOT")) {
        mode = QStringLiteral("FASTBOOT");
    } else if (rebootScene == QLatin1String("Android Test Mode")) {
        mode = QStringLiteral("ANDROID-TEST-MODE");
    } else {
        return;
    }
    devices[index].AddCommand(generator.GetSetBootModeCmdString(mode));
}

void PortManager::CountSuccess(DeviceInstance& device, int32_t& portTotal, int32_t& total)
{
    std::lock_guard<std::mutex> guard(displayLock);
    total = ++totalPollingTimes;
    portTotal = device.CountSuccess();
    const int32_t shown = total;
    Show([this, shown] {
        Q_EMIT SigSetMWElementContent(QStringLiteral("lblPollingTimes"), QStringLiteral("Polling Times: %1").arg(shown));
    });
}

void PortManager::PrepareRecord(int index, const QString& scene)
{
    AttemptRecord& record = recordTemplates[index];
    record = AttemptRecord();
    record.row = index + 1;
    record.scene = scene;
    record.checksumLevel = runtimeParams.checksumLevel;
    record.flashXml = flashXmlPath;
    record.stagedFlashXml = engineFlashXmlPath == flashXmlPath ? QString() : engineFlashXmlPath;
    const QByteArray checkedList = loadCheck.CheckedList(engineFlashXmlPath);
    record.loadDigest = checkedList.isNull() ? LoadDigest(scatterFilePath) : LoadDigestOf(checkedList);
    const bool downloads = scene == QLatin1String("format-download") || scene == QLatin1String("firmware-upgrade");
    record.imagesWritten = downloads ? LoadContents::Read(scatterFilePath).images.size() : 0;
    record.operatorName = operatorName;
    record.workOrder = workOrder;
}

namespace {

// The first stage that failed; a failed result callback is named after its command.
QString FailedStage(const SessionStages& stages)
{
    for (const SessionStage& stage : stages) {
        if (stage.result != 0)
            return stage.name;
    }
    return stages.isEmpty() ? QStringLiteral("create-session") : stages.last().name + QStringLiteral(":callback");
}

} // namespace

AttemptRecord PortManager::FoundAttempt(unsigned index, const QDateTime& start, int poll) const
{
    const DeviceInstance& device = devices[index];
    AttemptRecord record = recordTemplates[index];
    record.start = start;
    const QString found = device.GetFoundDescription();
    const PortIdentity identity = ParsePortDescription(found);
    record.port = found.isEmpty() || identity.portName.isEmpty() ? device.GetPortName() : identity.portName;
    record.device = identity.instanceId;
    record.poll = poll;
    return record;
}

// Decided once per attempt, for its record and its row alike: a session that failed once the operator had
// stopped its port was ended by that stop, whatever the engine call then returned.
int32_t PortManager::AttemptOutcome(unsigned index) const
{
    if (!devices[index].IsFailed())
        return PortStatus::OK;
    // A session withdrawn before it touched its device is cancelled too.
    return stopRequested[index] || devices[index].GetStatus() == PortStatus::CANL ? PortStatus::CANL
                                                                                 : PortStatus::FAIL;
}

void PortManager::RecordAttempt(unsigned index, const QDateTime& start, int poll, const AttemptEnd& end)
{
    const int32_t outcome = end.outcome;
    const DeviceInstance& device = devices[index];
    AttemptRecord record = FoundAttempt(index, start, poll);
    record.end = QDateTime::currentDateTimeUtc();
    record.stages = device.GetStages();
    record.socid = device.GetSocid();
    record.verifiedImages = device.GetVerifiedImages();
    if (outcome == PortStatus::OK) {
        record.result = QStringLiteral("OK");
    } else {
        record.result = outcome == PortStatus::CANL ? QStringLiteral("CANL") : QStringLiteral("FAIL");
        record.failureKind = stopRequested[index] ? FailureKind::Cancelled : device.GetFailureKind();
        record.failedStage = FailedStage(record.stages);
        record.error = device.GetLastError();
    }
    policies.AttemptEnded(end, record);
    if (recorder != nullptr)
        recorder->Record(record);
}

// A row that goes on to its next device no longer shows what happened to the one before.
bool PortManager::DeviceFound(unsigned index, const QDateTime& start, int poll, QString& withdrawn)
{
    ShowNewDevice(static_cast<int>(index));
    // No device is touched without its attempt open in the journal; the recorder waits while the journal
    // cannot commit and gives up only when the operator stops.
    if (recorder != nullptr && !recorder->Started(FoundAttempt(index, start, poll))) {
        withdrawn = QStringLiteral("The station record could not open the attempt; the device was not touched.");
        return false;
    }
    return policies.DeviceFound(static_cast<int>(index), withdrawn);
}

void PortManager::ExecuteDownloadThread(PortManager* manager, unsigned index, bool autoPolling)
{
    const int port = static_cast<int>(index);
    DeviceInstance& device = manager->devices[index];
    device.ResetPollingTimes();
    Q_EMIT manager->SigNotifyStartTimer(port, 1000);
    manager->SetRunState(true);
    Q_EMIT manager->SigSetMWTableWidgetItemState(QStringLiteral("tableWidget"), port, PortTableColumn::Port,
                                                 false);
    LOGI("PortManager::ExecuteDownloadThread", "[%s]Download Start.", device.GetPortName().toUtf8().constData());

    int32_t outcome = PortStatus::UND;
    for (int poll = 1;; ++poll) {
        // A policy may hold the row here, between devices, never in the middle of one.
        if (!manager->policies.NextDeviceMayStart(port, manager->stopRequested[index], manager->pacers[index])) {
            outcome = poll == 1 ? PortStatus::CANL : outcome;
            break;
        }
        device.ClearFailed();
        QElapsedTimer sessionClock;
        sessionClock.start();
        const QDateTime start = QDateTime::currentDateTimeUtc();
        // One id for the attempt's start and its record alike; the row's next attempt takes a new one.
        manager->recordTemplates[index].attempt = AttemptRecord::NewId();
        manager->policies.AttemptBegins(port, start.toMSecsSinceEpoch());
        device.SetDeviceFoundHandler([manager, index, start, poll](QString& withdrawn) {
            return manager->DeviceFound(index, start, poll, withdrawn);
        });
        device.Start();
        if (!manager->stopRequested[index])
            manager->loadCheck.HoldToCheckedLoad(device);
        const AttemptEnd end{port, manager->AttemptOutcome(index), autoPolling};
        outcome = end.outcome;
        manager->RecordAttempt(index, start, poll, end);
        int32_t portTotal = 0;
        int32_t total = 0;
        if (!device.IsFailed())
            manager->CountSuccess(device, portTotal, total);
        manager->policies.AttemptCounted(end);
        const QByteArray portName = device.GetPortName().toUtf8();
        if (device.IsFailed()) {
            LOGI("PortManager::ExecuteDownloadThread", "[%s]Download Fail,Last Error:%s.", portName.constData(),
                 device.GetLastError().toUtf8().constData());
        } else {
            LOGI("PortManager::ExecuteDownloadThread",
                 "[%s]Download Success,DevicePollingTimes:%d,Total PollingTimes:%d.", portName.constData(),
                 portTotal, total);
            const int limit = manager->devicesPerPort.load();
            if (limit > 0 && portTotal >= limit)
                break;
        }
        if (manager->stopRequested[index] || !autoPolling || !manager->policies.RowGoesOn(port))
            break;
        // A session that fails at once would otherwise spin, flooding the log and the front end.
        if (device.IsFailed()) {
            const int64_t rest = manager->failurePaceMs.load() - sessionClock.elapsed();
            manager->pacers[index].Wait(std::chrono::milliseconds(rest), manager->stopRequested[index]);
            if (manager->stopRequested[index] || !manager->policies.RowGoesOnAfterPause(port))
                break;
        }
    }

    manager->SetPortStatus(port, static_cast<unsigned>(outcome));
    manager->policies.RowEnded(port);
    Q_EMIT manager->SigSetMWTableWidgetItemState(QStringLiteral("tableWidget"), port, PortTableColumn::Port,
                                                 true);
    Q_EMIT manager->SigNotifyStopTimer(port);
    manager->SetWorkerRunning(port, false);
}
