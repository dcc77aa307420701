#include "common/PortManager.h"

#include "XML/ICmdXMLGenerator.h"
#include "XML/parser/FlashXMLParser.h"
#include "common/IniSetting.h"
#include "common/PortTableColumn.h"
#include "logging/Log.h"

#include "quillon.h"

#include <QFileInfo>
#include <QThread>

#include <system_error>

static constexpr char kLogSource[] = "Common\\PortManager";

namespace {

const QString kTable = QStringLiteral("tableWidget");

struct StatusDisplay
{
    const char* icon;
    const char* text;
    const char* message;
};

// Icon, text and message of every known code, in code order.
const StatusDisplay kStatusDisplays[] = {
    {":image/status_und.png", "UND", ""},
    {":image/status_und.png", "INIT", "No Message"},
    {":image/download.png", "RUN", "Running"},
    {":image/status_ok.png", "OK", "Operation Done"},
    {":image/status_fail.png", "FAIL", ""},
    {":image/status_fail.png", "CANL", "User Cancel"},
};

// The window's "get" signals, each answered before it returns.
ControlReader::WindowAsks AsksOf(PortManager* manager)
{
    ControlReader::WindowAsks asks;
    asks.content = [manager](const QString& name, QString& content) {
        Q_EMIT manager->SigGetMWElementContent(name, content);
    };
    asks.checked = [manager](const QString& name, bool& isChecked) {
        Q_EMIT manager->SigGetMWElementIsChecked(name, isChecked);
    };
    asks.selected = [manager](int row, bool& isSelected) {
        Q_EMIT manager->SigGetMWPortIsSelected(static_cast<uint>(row), isSelected);
    };
    asks.options = [manager](RuntimeParameters& parameters) { Q_EMIT manager->SigGetOWDASetting(parameters); };
    return asks;
}

} // namespace

PortManager::PortManager() : controls(AsksOf(this)), settingsFile(IniSetting::DefaultPath())
{
    policies.Add(loadCheck);
    policies.Add(staging);
    policies.Add(profile);
    policies.Add(verification);
    policies.Add(target);
    policies.Add(outcomes);
    policies.Add(diskGuard);
    qRegisterMetaType<PortRowState>("PortRowState");
    qRegisterMetaType<PortRowChange>("PortRowChange");
    quillon_startup(nullptr);
    for (int i = 0; i < kPortCount; ++i) {
        devices[i].SetIndex(i);
        connect(&devices[i], &DeviceInstance::SigNotifyProgress, this, &PortManager::OnDeviceProgress);
        connect(&devices[i], &DeviceInstance::SigNotifyUpdateLastError, this, &PortManager::OnDeviceLastError);
        timers[i].SetIndex(i);
        connect(&timers[i], &PortTimer::SigNotifyTimeout, this, &PortManager::OnPortTimeout);
    }
    connect(this, &PortManager::SigNotifyStartTimer, this, &PortManager::OnStartTimer);
    connect(this, &PortManager::SigNotifyStopTimer, this, &PortManager::OnStopTimer);
}

PortManager::~PortManager()
{
    // The source's watch tells the operator through this object.
    staging.Forget();
    StopWorkersForExit();
    quillon_cleanup();
    WriteSettingsAtExit();
}

void PortManager::RequestStopForExit()
{
    if (recorder != nullptr)
        recorder->Halt();
    for (int i = 0; i < kPortCount; ++i) {
        stopRequested[i] = true;
        devices[i].Stop();
        pacers[i].Wake();
    }
    // A stopped scan returns at once; it records nothing.
    if (scanThread && scanThread->joinable())
        scanThread->join();
    scanThread.reset();
}

// No worker may outlive the engine or the objects it uses: stop every session, wake paced waits and join.
void PortManager::StopWorkersForExit()
{
    RequestStopForExit();
    for (int i = 0; i < kPortCount; ++i)
        JoinWorker(i);
}

int PortManager::StopForExit(std::chrono::milliseconds limit)
{
    RequestStopForExit();
    int left = 0;
    {
        std::unique_lock<std::mutex> guard(workersLock);
        workerEnded.wait_for(guard, limit, [this] { return runningWorkers == 0; });
        left = runningWorkers;
    }
    for (int i = 0; i < kPortCount; ++i) {
        if (!IsWorkerRunning(i))
            JoinWorker(i);
    }
    return left;
}

void PortManager::SetWorkerRunning(int index, bool running)
{
    {
        std::lock_guard<std::mutex> guard(workersLock);
        if (workerRunning[index] == running)
            return;
        workerRunning[index] = running;
        runningWorkers += running ? 1 : -1;
    }
    workerEnded.notify_all();
}

bool PortManager::IsWorkerRunning(int index) const
{
    std::lock_guard<std::mutex> guard(workersLock);
    return workerRunning[index];
}

bool PortManager::IsPortIndex(int index) { return index >= 0 && index < kPortCount; }

void PortManager::StartAll()
{
    if (!BeginStartAll())
        return;
    for (int index = 0; index < kPortCount; ++index)
        StartPort(index, false);
    EndStartAll();
}

bool PortManager::BeginStartAll()
{
    if (!FlashXmlExists())
        return false;
    {
        std::lock_guard<std::mutex> guard(displayLock);
        totalPollingTimes = 0;
        Show([this] {
            Q_EMIT SigSetMWElementContent(QStringLiteral("lblPollingTimes"), QStringLiteral("Polling Times: %1").arg(0));
        });
    }
    policies.StartAllBegins();
    return true;
}

// A Start All tells each refusal once; a single row's Start tells its own.
void PortManager::EndStartAll() { policies.StartAllEnded(); }

void PortManager::Start(int index) { StartPort(index, true); }

// Without a load every session would connect its device only to fail it: the operator is told instead.
bool PortManager::FlashXmlExists()
{
    const QString path = controls.FlashXml();
    // A staged load is flashed from its copy, whatever became of the source.
    if (QFileInfo(path).isFile() || staging.IsStagedFor(path))
        return true;
    LOGE("PortManager::Start", "Flash XML \"%s\" not found; start refused.", path.toUtf8().constData());
    const QString text = path.isEmpty() ? tr("No flash XML is chosen.") : tr("The flash XML does not exist:\n%1").arg(path);
    Tell(OperatorPrompt::Kind::Critical, tr("Start"), text + tr("\nChoose the load with Open, then start again."));
    return false;
}

void PortManager::StartPort(int index, bool checkFlashXml)
{
    // A running worker iterates the session's command list; nothing may change under it.
    if (!IsPortIndex(index) || portBusy[index])
        return;
    if (recorder != nullptr)
        recorder->Resume();
    if (scanBusy && (scanRows & (1u << index)) != 0) {
        LOGI("PortManager::Start", "Port %d is being scanned; start refused.", index);
        return;
    }
    ICmdXMLGenerator generator;
    if (!IsSelected(index) || (checkFlashXml && !FlashXmlExists()) || policies.RefusesStart(index, controls))
        return;
    JoinWorker(index);
    portBusy[index] = true;
    stopRequested[index] = false;
    DeviceInstance& device = devices[index];
    device.Reset();
    policies.RowStarts(index);

    OnDeviceProgress(static_cast<unsigned int>(index), 0, QStringLiteral("INIT"));
    SetPortStatus(index, PortStatus::RUN);

    ReadRunSettings();
    policies.RowPrepared(RunOf(index));
    ResolveScatterFile();
    engineFlashXmlPath = staging.EngineFlashXml(index, flashXmlPath, scatterFilePath);
    device.SetParameter("FLASH-XML-PATH", engineFlashXmlPath.toUtf8());
    device.SetParameter("AUTH-FILE-PATH", authFilePath.toUtf8());
    device.SetParameter("CERT-FILE-PATH", certFilePath.toUtf8());
    generator.SetRuntimeParameters(runtimeParams);
    device.SetParameter("DA-MODE-SETTING", generator.GetRuntimeParameterCmdString().toUtf8());
    device.SetReadUnitId(readUnitId);
    PrepareRecord(index, AddCommands(index, generator));
    LaunchWorker(index);
    policies.RowLaunched(RunOf(index));
}

RowRun PortManager::RunOf(int index) const
{
    RowRun run;
    run.row = index;
    run.autoPolling = autoPolling;
    run.checksumLevel = runtimeParams.checksumLevel;
    for (int other = 0; other < kPortCount; ++other)
        run.othersBusy = run.othersBusy || (other != index && portBusy[other]);
    return run;
}

// A flash XML that cannot be read leaves no scatter path, so a port never writes a load the operator
// no longer has selected; the session then fails with the engine's own error.
void PortManager::ResolveScatterFile()
{
    FlashXMLParser parser;
    if (QFileInfo(flashXmlPath).isFile() && parser.ParseXMLFile(flashXmlPath)) {
        scatterFilePath = parser.GetScatterFilePath();
        return;
    }
    LOGE("PortManager::Start", "ScatterFile not found!");
    scatterFilePath.clear();
}

void PortManager::LaunchWorker(int index)
{
    SetWorkerRunning(index, true);
    try {
        downloadThreads[index] = std::make_shared<std::thread>(&PortManager::ExecuteDownloadThread, this,
                                                               static_cast<unsigned>(index), autoPolling);
    } catch (const std::system_error& error) {
        LOGE("PortManager::Start", "Failed to start the download thread: %s", error.what());
        SetWorkerRunning(index, false);
        portBusy[index] = false;
        SetPortStatus(index, PortStatus::FAIL);
    }
}

void PortManager::JoinWorker(int index)
{
    std::shared_ptr<std::thread>& worker = downloadThreads[index];
    if (worker && worker->joinable())
        worker->join();
    worker.reset();
}

void PortManager::Stop(int index)
{
    if (!IsPortIndex(index))
        return;
    if (!IsSelected(index)) {
        stopRequested[index] = true;
        pacers[index].Wake();
        // A row unticked during a scan pass still has its scan waiting; it must not wait out the time-out.
        if (scanBusy && (scanRows & (1u << index)) != 0)
            devices[index].Stop();
        return;
    }
    {
        // The request and its display are one step: a worker that sees the request shows its own final
        // status after this one, as the cancelled session's status replaces the cancel display.
        std::lock_guard<std::mutex> guard(displayLock);
        stopRequested[index] = true;
        SetPortStatusLocked(index, PortStatus::CANL);
    }
    pacers[index].Wake();
    devices[index].Stop();
}

void PortManager::StopAll()
{
    // Before the ports, so a port waiting for the station record to come back gives up and sees its stop.
    if (recorder != nullptr)
        recorder->Halt();
    for (int index = 0; index < kPortCount; ++index)
        Stop(index);
    SetRunState(false);
}

void PortManager::ShowRow(int index, unsigned code, const QString& icon, const QString& text,
                          const QString& message)
{
    Q_EMIT SigSetMWTableWidgetItemIcon(kTable, index, PortTableColumn::Status, icon);
    Q_EMIT SigSetMWTableWidgetItemContext(kTable, index, PortTableColumn::Status, text);
    Q_EMIT SigSetMWTableWidgetItemContext(kTable, index, PortTableColumn::Message, message);
    PortRowChange change(index);
    change.status = static_cast<int32_t>(code);
    change.statusText = text;
    change.message = message;
    ChangeRow(change);
}

void PortManager::ShowPort(int index, const QString& port)
{
    Q_EMIT SigSetMWTableWidgetItemContext(kTable, index, PortTableColumn::Port, port);
    PortRowChange change(index);
    change.port = port;
    ChangeRow(change);
}

void PortManager::ShowLastError(int index, const QString& lastError)
{
    Q_EMIT SigSetMWTableWidgetItemContext(kTable, index, PortTableColumn::LastError, lastError);
    PortRowChange change(index);
    change.lastError = lastError;
    ChangeRow(change);
}

// Displays that follow a change of the mask or the total are queued in the order of the changes, also
// when the change is made in the user-interface thread: a direct display there would overtake a worker's
// earlier one still in the queue (the controls enabled by a port that ended before the next row started).
// Called with displayLock held.
void PortManager::Show(std::function<void()> display)
{
    if (QThread::currentThread() == thread())
        QMetaObject::invokeMethod(this, std::move(display), Qt::QueuedConnection);
    else
        display();
}

void PortManager::SetPortStatus(int index, unsigned code)
{
    if (!IsPortIndex(index))
        return;
    std::lock_guard<std::mutex> guard(displayLock);
    SetPortStatusLocked(index, code);
}

void PortManager::SetPortStatusLocked(int index, unsigned code)
{
    if (code <= PortStatus::CANL) {
        const uint32_t bit = 1u << index;
        const bool active = code == PortStatus::INIT || code == PortStatus::RUN;
        runningPortMask = active ? (runningPortMask | bit) : (runningPortMask & ~bit);
    }
    const bool controlsFree = runningPortMask == 0;
    Show([this, index, code, controlsFree] {
        if (code > PortStatus::CANL) {
            ShowRow(index, code, QString(), QString(), QString());
        } else {
            if (code == PortStatus::RUN) {
                ShowLastError(index, QStringLiteral("No Error"));
                Q_EMIT SigSetMWTableWidgetItemState(kTable, index, PortTableColumn::Start, false);
            } else if (code >= PortStatus::OK) {
                Q_EMIT SigSetMWTableWidgetItemState(kTable, index, PortTableColumn::Start, true);
            }
            const StatusDisplay& display = kStatusDisplays[code];
            ShowRow(index, code, QString::fromLatin1(display.icon), QString::fromLatin1(display.text),
                    QString::fromLatin1(display.message));
        }
        if (controlsFree)
            EmitRunState(false);
    });
}

void PortManager::SetRunState(bool running)
{
    std::lock_guard<std::mutex> guard(displayLock);
    Show([this, running] { EmitRunState(running); });
}

void PortManager::EmitRunState(bool running)
{
    static const char* const kControls[] = {"btnScan",           "btnStartAll",     "cbSelectAllPorts",
                                            "cbAutoPolling",     "cbAutoReboot",    "rbFormatDownload",
                                            "rbFirmwareUpgrade", "rbEFUSEWrite",    "btnFlashXmlPath",
                                            "btnAuthFilePath",   "btnCertFilePath"};
    for (const char* name : kControls) {
        const QString control = QString::fromLatin1(name);
        Q_EMIT SigSetMWElementEnabled(control, !running && !IsKeptByProfile(control));
    }
}

void PortManager::OnDeviceProgress(unsigned int comportIndex, unsigned int percent, QString info)
{
    const int row = static_cast<int>(comportIndex);
    Q_EMIT SigSetMWTableWidgetItemContext(kTable, row, PortTableColumn::Percent,
                                          QString::number(percent) + QLatin1Char('%'));
    Q_EMIT SigSetMWPortProgressStatus(comportIndex, percent);
    Q_EMIT SigSetMWTableWidgetItemContext(kTable, row, PortTableColumn::Message, info);
    PortRowChange change(row);
    change.percent = percent;
    change.message = info;
    AddStreamFigures(row, percent, change);
    ChangeRow(change);
}

// Called on the port's worker, so the displays queue behind what the previous device left.
void PortManager::ShowNewDevice(int index)
{
    Q_EMIT SigSetMWTableWidgetItemContext(kTable, index, PortTableColumn::Percent, QStringLiteral("0%"));
    Q_EMIT SigSetMWPortProgressStatus(static_cast<uint>(index), 0);
    ShowLastError(index, QStringLiteral("No Error"));
    PortRowChange change(index);
    change.percent = 0;
    ChangeRow(change);
}

void PortManager::OnDeviceLastError(int comportIndex, QString lastError)
{
    ShowLastError(comportIndex, lastError);
}

void PortManager::OnPortTimeout(int index, QString timeString)
{
    Q_EMIT SigSetMWTableWidgetItemContext(kTable, index, PortTableColumn::Elapsed, timeString);
    PortRowChange change(index);
    change.elapsed = timeString;
    AddDeviceElapsed(index, change);
    ChangeRow(change);
}

void PortManager::OnStartTimer(int comportIndex, int interval)
{
    if (IsPortIndex(comportIndex))
        timers[comportIndex].Start(interval);
}

// The worker's last signal: every display it queued before has been applied, so the port may start again.
void PortManager::OnStopTimer(int comportIndex)
{
    if (!IsPortIndex(comportIndex))
        return;
    timers[comportIndex].Stop();
    // The worker returns right after queuing this, so the join is immediate and orders all it wrote
    // before the port's next start.
    JoinWorker(comportIndex);
    portBusy[comportIndex] = false;
}

void PortManager::SetReadEfuseEnable(bool enable) { readEfuseEnable = enable; }
void PortManager::SetEfuseEnable(bool enable) { efuseEnable = enable; }
void PortManager::SetBlowAfterDownload(bool enable) { blowAfterDownload = enable; }
void PortManager::SetEfuseImagePath(const QString& path) { efuseImagePath = path; }
void PortManager::SetReadbackPath(const QString& path) { readbackPath = path; }
void PortManager::SetRebootScene(const QString& scene) { rebootScene = scene; }

void PortManager::SetScanType(int type)
{
    scanType = type;
    for (DeviceInstance& device : devices)
        device.SetScanType(type);
}

void PortManager::SetMetaSetting(const QString& connectType, const QString& mobileLog, const QString& adb)
{
    this->connectType = connectType;
    this->mobileLog = mobileLog;
    this->adb = adb;
}

void PortManager::SetOperatorPrompt(OperatorPrompt* prompt) { this->prompt = prompt; }

void PortManager::SetAttemptRecorder(AttemptRecorder* recorder) { this->recorder = recorder; }

void PortManager::SetStationInfo(const QString& operatorName, const QString& workOrder)
{
    this->operatorName = operatorName;
    this->workOrder = workOrder;
}

void PortManager::SetDevicesPerPort(int devices) { devicesPerPort = devices; }

void PortManager::SetFailurePace(std::chrono::milliseconds pace) { failurePaceMs = pace.count(); }

const DeviceInstance& PortManager::Device(int index) const { return devices.at(static_cast<size_t>(index)); }
DeviceInstance& PortManager::Device(int index) { return devices.at(static_cast<size_t>(index)); }

uint32_t PortManager::GetRunningPortMask() const
{
    std::lock_guard<std::mutex> guard(displayLock);
    return runningPortMask;
}

int32_t PortManager::GetTotalPollingTimes() const
{
    std::lock_guard<std::mutex> guard(displayLock);
    return totalPollingTimes;
}

bool PortManager::IsPortBusy(int index) const { return IsPortIndex(index) && portBusy[index]; }
