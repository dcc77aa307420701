#include "common/DeviceInstance.h"

#include "XML/ICmdXMLGenerator.h"
#include "common/PortDescription.h"
#include "common/SessionFailure.h"
#include "common/SlaLibrary.h"
#include "logging/Log.h"

#include <QDateTime>
#include <QFile>

static constexpr char kLogSource[] = "Common\\DeviceInstance";

namespace {

constexpr unsigned int kDescriptionSize = 512;
constexpr unsigned int kScanTimeoutMs = 600000;
const QString kNoError = QStringLiteral("No Error Occurred");
const QString kFeedbackCommand = QStringLiteral("CMD:GET-DOWNLOADED-IMAGE-FEEDBACK");

// The command name of a document, as the engine reads it from its "command" element.
QString CommandName(const QString& document)
{
    static const QString open = QStringLiteral("<command>");
    const int start = document.indexOf(open);
    if (start < 0)
        return QString();
    const int end = document.indexOf(QStringLiteral("</command>"), start);
    return end < 0 ? QString() : document.mid(start + open.size(), end - start - open.size()).trimmed();
}

QString EngineLastError(QuillonSession* session)
{
    const char* text = quillon_get_last_error_msg(session);
    return text == nullptr ? QString() : QString::fromUtf8(text);
}

} // namespace

DeviceInstance::DeviceInstance() : lastError(kNoError) {}

DeviceInstance::~DeviceInstance() = default;

void DeviceInstance::SetIndex(int index) { comportIndex = index; }
int DeviceInstance::GetIndex() const { return comportIndex; }

void DeviceInstance::SetPortName(const QString& name) { portName = name; }
void DeviceInstance::SetPortType(const QString& type) { comportType = type; }
void DeviceInstance::SetFriendlyPortName(const QString& name) { friendlyPortName = name; }
void DeviceInstance::SetInstanceId(const QString& id) { instanceId = id; }
void DeviceInstance::SetScanType(int type) { scanType = type; }
QString DeviceInstance::GetPortName() const { return portName; }
QString DeviceInstance::GetPortType() const { return comportType; }
QString DeviceInstance::GetFriendlyPortName() const { return friendlyPortName; }
QString DeviceInstance::GetInstanceId() const { return instanceId; }
int DeviceInstance::GetScanType() const { return scanType; }

int32_t DeviceInstance::GetStatus() const { return status.load(); }
bool DeviceInstance::IsFailed() const { return failed.load(); }
void DeviceInstance::ClearFailed() { failed = false; }

QString DeviceInstance::GetLastError() const
{
    std::lock_guard<std::mutex> guard(stateLock);
    return lastError;
}

void DeviceInstance::ResetPollingTimes() { pollingTimes = 0; }
int32_t DeviceInstance::CountSuccess() { return ++pollingTimes; }
int32_t DeviceInstance::GetPollingTimes() const { return pollingTimes.load(); }

void DeviceInstance::SetParameter(const QByteArray& key, const QByteArray& value) { parameters.insert(key, value); }

// An unset key reads as empty and is added, so the engine gets an empty text rather than none.
QByteArray DeviceInstance::GetParameter(const QByteArray& key) { return parameters[key]; }

void DeviceInstance::AddCommand(const QString& document)
{
    CommandEntry entry;
    entry.command = document;
    commands.append(entry);
}

void DeviceInstance::AddCommandWithCallback(const CommandEntry& entry) { commands.append(entry); }

QVector<CommandEntry> DeviceInstance::GetCommands() const { return commands; }

SessionStages DeviceInstance::GetStages() const
{
    std::lock_guard<std::mutex> guard(stateLock);
    // A copy of its own, not a shared one: once the reader lets a shared copy go, the worker's next EndStage
    // writes in place after a relaxed check of the share count, which orders nothing against the reader's
    // earlier reads (and ThreadSanitizer reports them as a race).
    return SessionStages(stages.cbegin(), stages.cend());
}

QString DeviceInstance::GetFoundDescription() const
{
    std::lock_guard<std::mutex> guard(stateLock);
    return foundDescription;
}

void DeviceInstance::Reset()
{
    stopScan = false;
    stopOperation = false;
    failed = false;
    commands.clear();
    SetLastError(kNoError);
    Q_EMIT SigNotifyUpdateLastError(comportIndex, GetLastError());
}

void DeviceInstance::ClearStopFlags()
{
    stopScan = false;
    stopOperation = false;
}

int DeviceInstance::Scan(QString& name)
{
    char description[kDescriptionSize] = {};
    const ScanCallbacks callbacks{this, &DeviceInstance::StopScanQuery};
    const int result =
        quillon_scan_device("COM://", description, kDescriptionSize, kScanTimeoutMs, &callbacks);
    description[kDescriptionSize - 1] = '\0';
    const QString text = QString::fromUtf8(description);

    if (result == 0) {
        const PortIdentity identity = ParsePortDescription(text);
        scanResult = text;
        portName = identity.portName;
        instanceId = identity.instanceId;
        friendlyPortName = identity.friendlyPortName;
        comportType = identity.comportType;
    }

    LOGI("DeviceInstance::Scan", "Scan Comport: %s, Result = %d", description, result);
    LOGI("DeviceInstance::Scan", "Comport FriendlyPortName: %s", friendlyPortName.toUtf8().constData());
    LOGI("DeviceInstance::Scan", "comportType: %s", comportType.toUtf8().constData());
    LOGI("DeviceInstance::Scan", "DeviceIntanceID: %s", instanceId.toUtf8().constData());
    name = text;
    return result;
}

void DeviceInstance::Start()
{
    status = PortStatus::RUN;
    {
        std::lock_guard<std::mutex> guard(stateLock);
        // A fresh vector, not clear(): clear() writes into the block the last record's copy shared once that
        // copy is released inside Qt, where ThreadSanitizer cannot see the release, and reports a race.
        stages = SessionStages();
        foundDescription.clear();
        socid.clear();
    }
    failureKind = FailureKind::None;
    verifiedImages = 0;
    const auto slaChallenge = SlaLibrary::Resolve<SLA_Challenge_Fn>("SLA_Challenge");
    if (slaChallenge != nullptr)
        LOGE("DeviceInstance::Start", "Found SLA_Challenge!");
    const auto slaChallengeEnd = SlaLibrary::Resolve<SLA_Challenge_END_Fn>("SLA_Challenge_END");
    if (slaChallengeEnd != nullptr)
        LOGE("DeviceInstance::Start", "Found SLA_Challenge_END!");
    const OperationCallbacks operation{this,
                                       &DeviceInstance::StopOperationQuery,
                                       &DeviceInstance::OnProgress,
                                       slaChallenge,
                                       slaChallengeEnd,
                                       nullptr,
                                       nullptr};
    const ScanCallbacks scan{this, &DeviceInstance::StopScanQuery};
    stopOperation = false;

    session = quillon_create_session();
    if (session == nullptr) {
        LOGE("DeviceInstance::Start", "Failed to create session\n");
        EndWithFailure(QStringLiteral("Failed to create session"));
        return;
    }
    withdrawReason.clear();
    if (RunSession(operation, scan)) {
        status = PortStatus::OK;
    } else if (!withdrawReason.isEmpty()) {
        EndWithFailure(withdrawReason);
        status = PortStatus::CANL;
    } else {
        EndWithFailure(EngineLastError(session));
    }
    quillon_destroy_session(session);
    session = nullptr;
}

bool DeviceInstance::RunSession(const OperationCallbacks& operation, const ScanCallbacks& scan)
{
    QString target;
    if (scanType == 0) {
        LOGI("DeviceInstance::Start", "scan the device with ComportNum\n");
        target = portName;
    } else {
        LOGI("DeviceInstance::Start", "scan the device with IntanceID\n");
        target = instanceId;
    }
    char description[kDescriptionSize] = {};
    BeginStage(QStringLiteral("scan"));
    int result = quillon_scan_device((QStringLiteral("COM://") + target).toUtf8().constData(), description,
                                     kDescriptionSize, kScanTimeoutMs, &scan);
    EndStage(result);
    description[kDescriptionSize - 1] = '\0';
    const QByteArray port = (QStringLiteral("COM://") + portName + QLatin1Char('@') + instanceId).toUtf8();
    if (result != 0) {
        LOGE("DeviceInstance::Start", "Failed to scan the device with port %s\n", port.constData());
        return false;
    }
    LOGE("DeviceInstance::Start", "Scan the device with port %s done\n", port.constData());
    {
        std::lock_guard<std::mutex> guard(stateLock);
        foundDescription = QString::fromUtf8(description);
        // With auto polling this may be the next device on the port: an earlier device's error is not its own.
        lastError = kNoError;
    }
    QString withdrawn;
    if (deviceFound && !deviceFound(withdrawn)) {
        // A stage of its own names why the session ended before it touched the device.
        BeginStage(QStringLiteral("load-check"));
        EndStage(-1);
        LOGE("DeviceInstance::Start", "Device on %s left untouched: %s\n", port.constData(),
             withdrawn.toUtf8().constData());
        withdrawReason = withdrawn;
        return false;
    }

    const QByteArray authFile = GetParameter("AUTH-FILE-PATH");
    const QByteArray certFile = GetParameter("CERT-FILE-PATH");
    LOGI("DeviceInstance::Start", "Symbolic Link: %s", description);
    LOGI("DeviceInstance::Start", "Auth File: %s", authFile.constData());
    LOGI("DeviceInstance::Start", "Cert File: %s", certFile.constData());
    BeginStage(QStringLiteral("connect"));
    result = quillon_connect_device(session, description, "115200@", authFile.constData(), certFile.constData(),
                                    &operation);
    EndStage(result);
    if (result != 0) {
        LOGE("DeviceInstance::Start", "Failed to connect the device\n");
        return false;
    }

    const QByteArray flashXml = GetParameter("FLASH-XML-PATH");
    const QByteArray daSetting = GetParameter("DA-MODE-SETTING");
    LOGI("DeviceInstance::Start", "Flash XML: %s", flashXml.constData());
    LOGI("DeviceInstance::Start", "DA Setting: %s", daSetting.constData());
    BeginStage(QStringLiteral("enter-mode"));
    result = quillon_enter_mode(session, "FLASH-MODE-DA", flashXml.constData(), daSetting.constData(), &operation);
    EndStage(result);
    if (result != 0) {
        LOGE("DeviceInstance::Start", "Failed to enter DA mode\n");
        return false;
    }
    BeginStage(QStringLiteral("authentication"));
    DASlaFlow();
    if (readUnitId && GetSocid().isEmpty())
        ReadUnitId();
    EndStage(0);
    return ExecuteCommands(operation);
}

bool DeviceInstance::ExecuteCommands(const OperationCallbacks& operation)
{
    for (const CommandEntry& entry : qAsConst(commands)) {
        const QByteArray document = entry.command.toUtf8();
        LOGI("DeviceInstance::Start", "Executing CMD: \n%s\n", document.constData());
        PrepareCommand(entry);
        BeginStage(CommandName(entry.command));
        const int result = quillon_execute_command(session, document.constData(), &operation);
        EndStage(result);
        if (result != 0) {
            LOGE("DeviceInstance::Start", "Failed to execute the command\n");
            return false;
        }
        if (entry.callback != nullptr) {
            LOGI("DeviceInstance::Start", "call back");
            callbackFailure = FailureKind::Command;
            callbackError.clear();
            if (entry.callback(entry, *this) != 0) {
                LOGE("DeviceInstance::Start", "Failed to execute the command callback\n");
                return false;
            }
        }
    }
    return true;
}

// The feedback file of the previous device on this port must not survive into this device's comparison,
// even when the command that should rewrite it fails.
void DeviceInstance::PrepareCommand(const CommandEntry& entry) const
{
    if (CommandName(entry.command) == kFeedbackCommand)
        QFile::remove(ICmdXMLGenerator::FeedbackFilePath(comportIndex));
}

void DeviceInstance::EndWithFailure(const QString& engineError)
{
    QString error = engineError;
    {
        std::lock_guard<std::mutex> guard(stateLock);
        // The stage that failed is the last one; when it succeeded, its result callback refused, and the
        // engine's last error says nothing of why.
        if (stages.isEmpty()) {
            failureKind = FailureKind::Connect; // no engine session to reach a device with
        } else if (stages.last().result != 0) {
            failureKind = SessionFailureKind(stages.last().name, stages.last().result);
        } else {
            failureKind = callbackFailure;
            if (!callbackError.isEmpty())
                error = callbackError;
        }
    }
    failed = true;
    SetLastError(error);
    status = PortStatus::FAIL;
    Q_EMIT SigNotifyUpdateLastError(comportIndex, error);
}

void DeviceInstance::Stop()
{
    stopScan = true;
    stopOperation = true;
    // A session that already ended keeps its outcome: an OK device has been counted.
    int32_t running = PortStatus::RUN;
    status.compare_exchange_strong(running, PortStatus::CANL);
}

void DeviceInstance::SetLastError(const QString& error)
{
    std::lock_guard<std::mutex> guard(stateLock);
    lastError = error;
}

QString DeviceInstance::GetSocid() const
{
    std::lock_guard<std::mutex> guard(stateLock);
    return socid;
}

void DeviceInstance::SetReadUnitId(bool read) { readUnitId = read; }

FailureKind DeviceInstance::GetFailureKind() const
{
    return failureKind.load();
}

void DeviceInstance::SetCallbackFailure(FailureKind kind, const QString& reason)
{
    callbackFailure = kind;
    callbackError = reason;
}

void DeviceInstance::FailForChangedLoad(const QString& reason)
{
    BeginStage(QStringLiteral("load-check"));
    EndStage(-1);
    failureKind = FailureKind::LoadChanged;
    failed = true;
    SetLastError(reason);
    status = PortStatus::FAIL;
    Q_EMIT SigNotifyUpdateLastError(comportIndex, reason);
}

void DeviceInstance::SetDeviceFoundHandler(std::function<bool(QString&)> handler) { deviceFound = std::move(handler); }

void DeviceInstance::BeginStage(const QString& name)
{
    transferred = 0;
    streamed = 0;
    SessionStage stage;
    stage.name = name;
    stage.startMs = QDateTime::currentMSecsSinceEpoch();
    std::lock_guard<std::mutex> guard(stateLock);
    stages.append(stage);
}

void DeviceInstance::EndStage(int result)
{
    std::lock_guard<std::mutex> guard(stateLock);
    stages.last().endMs = QDateTime::currentMSecsSinceEpoch();
    stages.last().result = result;
}

int DeviceInstance::StopScanQuery(void* user) { return static_cast<DeviceInstance*>(user)->stopScan.load() ? 1 : 0; }

int DeviceInstance::StopOperationQuery(void* user)
{
    return static_cast<DeviceInstance*>(user)->stopOperation.load() ? 1 : 0;
}

void DeviceInstance::OnProgress(void* user, unsigned int percent, uint64_t transferred, const char* message)
{
    auto* device = static_cast<DeviceInstance*>(user);
    if (transferred != device->transferred.load()) {
        device->streamed = device->transferred.load();
        device->transferred = transferred;
    }
    Q_EMIT device->SigNotifyProgress(static_cast<unsigned int>(device->comportIndex), percent,
                                     message == nullptr ? QString() : QString::fromUtf8(message));
}
