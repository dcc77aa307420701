#pragma once

#include "XML/RuntimeParameters.h"
#include "record/AttemptRecord.h"
#include "common/ControlReader.h"
#include "common/DeviceInstance.h"
#include "common/DiskSpaceGuard.h"
#include "common/FailurePacer.h"
#include "common/LoadCheckPolicy.h"
#include "common/LoadStagingPolicy.h"
#include "common/LockedProfilePolicy.h"
#include "common/OperatorPrompt.h"
#include "common/PortRowState.h"
#include "common/PortTimer.h"
#include "common/RowOutcomePolicy.h"
#include "common/RunSettings.h"
#include "common/StationPolicies.h"
#include "common/StationPolicyHost.h"
#include "common/StationSettings.h"
#include "common/TargetPolicy.h"
#include "common/VerificationPolicy.h"
#include "logging/CriticalSection.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class ICmdXMLGenerator;

// The only object that knows about ports: it prepares, starts and stops the download of each of the 16
// channels, runs their worker threads, and reports every change to the front end through its signals.
// It never touches a widget. Every operation but the workers' runs in the user-interface thread.
// The station's own rules beside that work are policies it holds and calls at named points (StationPolicy).
class PortManager : public QObject, private StationPolicyHost
{
    Q_OBJECT

public:
    static constexpr int kPortCount = 16;

    PortManager();
    ~PortManager() override;

    void StartAll();
    void Start(int index);
    void Stop(int index);
    void StopAll();
    int VerifyChecksum();
    static void ChecksumProgress(void* user, unsigned int percent, uint64_t transferred, const char* info);

    static void ExecuteDownloadThread(PortManager* manager, unsigned index, bool autoPolling);

    // Binding devices to the selected rows, one scan pass at a time.
    void Scan();
    // Scan for a front end that starts the rows itself: each row of the pass starts, as Start All starts it,
    // as soon as its own scan has ended rather than when the pass ends, so that no port waits for the later
    // devices of the pass. The window's Scan only binds; the operator starts.
    void ScanAndStart();
    static void ScanThread(PortManager* manager, std::vector<int> rows, bool startEach);
    void SetScanState(bool scanning);
    void SelectAllPorts(int state);
    void OnTableCellClicked(int row, int column);
    // True from a pass's start until its last display has been applied.
    bool IsScanBusy() const;

    // The settings file: read when the front end is built, written at exit.
    void LoadCommonSetting();
    void LoadEfuseSetting();
    void SaveCommonSetting();
    void SetSettingsFile(const QString& path);
    QString GetSettingsFile() const;
    // A front end that must never change the station's file switches this off.
    void SetSaveSettingsAtExit(bool save);
    // Writes the settings file once, when it was read and may be rewritten; the destructor calls it too.
    void WriteSettingsAtExit();

    // Stops every port and waits at most limit for their workers, which end once their attempts are
    // recorded; returns how many had not ended by then. Those are left running: the program must then
    // end without destroying what they use.
    int StopForExit(std::chrono::milliseconds limit);
    // Whether the settings file is written at exit: only a file that was read whole is written back.
    bool WillSaveSettingsAtExit() const;
    bool IsFlashXmlRestored() const;
    bool IsEfuseEnabled() const;
    // No port starts its next device while a watched disk is below the floor; the front end names the folders.
    DiskSpaceGuard& DiskGuard() { return diskGuard; }
    // The file's "[Station]" group as LoadCommonSetting read it.
    const StationSettings& GetStationSettings() const { return stationSettings; }

    void SetPortStatus(int index, unsigned code);
    void SetRunState(bool running);

    void OnDeviceProgress(unsigned int comportIndex, unsigned int percent, QString info);
    void OnDeviceLastError(int comportIndex, QString lastError);
    void OnPortTimeout(int index, QString timeString);
    void OnStartTimer(int comportIndex, int interval);
    void OnStopTimer(int comportIndex);

    // Values the settings file gives; read at every start.
    void SetReadEfuseEnable(bool enable);
    void SetEfuseEnable(bool enable);
    void SetBlowAfterDownload(bool enable);
    void SetScanType(int type);
    void SetEfuseImagePath(const QString& path);
    void SetReadbackPath(const QString& path);
    void SetRebootScene(const QString& scene);
    void SetMetaSetting(const QString& connectType, const QString& mobileLog, const QString& adb);

    // Where every finished attempt goes; null keeps no records.
    void SetAttemptRecorder(AttemptRecorder* recorder);
    // Who and what the records name.
    void SetStationInfo(const QString& operatorName, const QString& workOrder);
    // With auto polling, a port ends after this many successful devices; 0 never ends it that way.
    void SetDevicesPerPort(int devices);

    // A station that requires verified devices refuses a run whose checksum level compares none; the
    // settings file's [Station] group sets it, a front end's own option may switch it on as well.
    void SetRequireVerification(bool require) { verification.SetRequired(require); }
    bool RequiresVerification() const { return verification.IsRequired(); }
    // Whether each session asks its device for its own id when authentication did not learn it; the
    // settings file's [Station] ReadUnitId sets it, a front end's own option may switch it on as well.
    void SetReadUnitId(bool read) { readUnitId = read; }
    bool ReadsUnitId() const { return readUnitId; }
    // Why a run at this checksum level must not start; empty when it may.
    QString VerificationRefusal(int checksumLevel) const { return verification.Refusal(checksumLevel); }
    static QString UnverifiedRunText() { return VerificationPolicy::UnverifiedRunText(); }

    // A locked profile pins the load by its digest: why this flash XML may not be used, empty when it may.
    QString PinnedLoadRefusal(const QString& flashXml) const { return profile.PinnedLoadRefusal(flashXml); }
    // The window's controls that a locked profile keeps as the settings file set them.
    static const QStringList& ProfileControls() { return LockedProfilePolicy::Controls(); }
    bool IsKeptByProfile(const QString& control) const { return profile.IsKept(control); }

    // With auto polling, the station starts no more devices once this many have ended OK since Start All;
    // 0 none. The settings file's [Station] Target sets it, a front end may set it after loading.
    void SetTarget(int devices) { target.SetTarget(devices); }
    int GetTarget() const { return target.Target(); }
    // Good devices still to make before the target is met; -1 without a target.
    int GetTargetRemaining() const { return target.Remaining(); }
    bool IsTargetMet() const { return target.IsMet(); }

    // Why the last load check refused a load the image checker passed; empty otherwise.
    QString GetLoadProblem() const { return loadCheck.Problem(); }
    // Why the run's load stopped the station (a file of it missing or changed); empty while it has not.
    QString GetLoadChangedReason() const { return loadCheck.ChangedReason(); }

    // Load staging: a load that passes its check is copied into the station's own folder, the copy is checked
    // too, and the ports flash the copy. The settings file's [Station] StageLoad sets it, a front end's own
    // option may switch it on as well; it takes effect at the next load check.
    void SetStageLoad(bool stage) { staging.SetStageLoad(stage); }
    bool StagesLoad() const { return staging.StagesLoad(); }
    // Where staged loads are kept; by default StagedLoads under the log root.
    void SetStagingFolder(const QString& folder) { staging.SetFolder(folder); }
    QString GetStagingFolder() const { return staging.Folder(); }
    // The copy the ports flash, when the last check staged the load.
    const std::optional<StagedLoad>& GetStagedLoad() const { return staging.Staged(); }

    // The front end that answers the port manager's boxes; without one they are logged and answered No.
    void SetOperatorPrompt(OperatorPrompt* prompt);

    // A front end without a window hands over its settings here; from then on every start, stop, scan, load
    // check and save reads them instead of asking the window by element name. User-interface thread only.
    void SetRunSettings(const RunSettings& settings);
    // What LoadCommonSetting restored, as the window shows it afterwards; the runtime parameters are left
    // at their defaults, since the options dialog's group is not the port manager's.
    const RunSettings& GetRestoredSettings() const { return restoredSettings; }
    // What row index shows once every display so far has been applied. User-interface thread only.
    PortRowState GetRowState(int index) const;

    // FAIL records in a row after which a row leaves auto polling until its next Start; 0 never. Read from
    // the settings file's [Station] group; a front end's own option set after loading it wins.
    void SetQuarantineAfter(int after) { outcomes.SetQuarantineAfter(after); }
    int GetQuarantineAfter() const { return outcomes.QuarantineAfter(); }

    // How long a failed session is stretched to before auto polling tries the next device.
    void SetFailurePace(std::chrono::milliseconds pace);

    const DeviceInstance& Device(int index) const;
    DeviceInstance& Device(int index);
    uint32_t GetRunningPortMask() const;
    int32_t GetTotalPollingTimes() const;
    // True from a port's start until its worker's last display has been applied.
    bool IsPortBusy(int index) const;

Q_SIGNALS:
    void SigSetMWElementContent(QString name, QString content);
    void SigGetMWElementContent(QString name, QString& content);
    void SigSetMWElementEnabled(QString name, bool isEnabled);
    void SigSetMWElementCheck(QString name, bool isChecked);
    void SigGetMWElementIsChecked(QString name, bool& isChecked);
    void SigSetMWTableWidgetItemContext(QString twName, int row, int column, QString context);
    void SigSetMWTableWidgetItemState(QString twName, int row, int column, bool isEnabled);
    void SigSetMWTableWidgetItemIcon(QString twName, int row, int column, QString iconPath);
    void SigGetMWPortIsSelected(uint portIndex, bool& isSelected);
    void SigSetMWPortSelectState(uint portIndex, int state);
    void SigGetMWComboBoxIndex(QString cmbName, int& index);
    // Emitted only in the user-interface thread: info is not copied.
    void SigSetMWProgressBarState(QString prbName, uint percent, quint64 xferd, const char* info);
    void SigSetMWProgressBarVisible(QString prbName, bool isVisibled);
    void SigSetMWPortProgressStatus(uint comportIndex, uint percent);
    void SigHideEFUSEButton();
    void SigGetOWDASetting(RuntimeParameters& runtimeParams);
    void SigNotifyStartTimer(int comportIndex, int interval);
    void SigNotifyStopTimer(int comportIndex);
    // A run started at a checksum level that compares no device checksum; told once per run.
    void SigNotifyUnverifiedRun(QString text);
    // A row's state after each of its displays, emitted in the user-interface thread in the order in which
    // the window applies the same displays to its cells.
    void SigNotifyPortRowState(int index, PortRowState state);
    // A scan pass has ended and its rows are bound; emitted in the user-interface thread.
    void SigNotifyScanPassEnded();

private:
    static bool IsPortIndex(int index);
    void StartPort(int index, bool checkFlashXml);
    bool FlashXmlExists();
    void ResolveScatterFile();
    // Both return the scene the commands were built for, as a record names it.
    QString AddCommands(int index, ICmdXMLGenerator& generator);
    QString AddSceneCommands(int index, ICmdXMLGenerator& generator);
    void AddFeedbackCommand(int index, ICmdXMLGenerator& generator);
    void AddEfuseCommands(int index, ICmdXMLGenerator& generator);
    void AddReadbackCommand(int index, ICmdXMLGenerator& generator);
    void AddBootModeCommand(int index, ICmdXMLGenerator& generator);
    void LaunchWorker(int index);
    void JoinWorker(int index);
    void SetWorkerRunning(int index, bool running);
    bool IsWorkerRunning(int index) const;
    bool IsSelected(int index);
    void ReadRunSettings();
    void ShowRow(int index, unsigned code, const QString& icon, const QString& text, const QString& message);
    void ShowPort(int index, const QString& port);
    void ShowLastError(int index, const QString& lastError);
    // Row states change in the user-interface thread only, in the order of the window's displays: a worker's
    // change is queued behind the cells it has just queued for the window.
    void ChangeRow(const PortRowChange& change) override;
    Q_INVOKABLE void ApplyRowChange(PortRowChange change);
    void EmitRunState(bool running);
    void Show(std::function<void()> display);
    void SetPortStatusLocked(int index, unsigned code);
    void CountSuccess(DeviceInstance& device, int32_t& portTotal, int32_t& total);
    void PrepareRecord(int index, const QString& scene);
    int32_t AttemptOutcome(unsigned index) const;
    // Both return true when the attempt took its row out of auto polling.
    void RecordAttempt(unsigned index, const QDateTime& start, int poll, const AttemptEnd& end);
    bool DeviceFound(unsigned index, const QDateTime& start, int poll, QString& withdrawn);
    void ShowNewDevice(int index);
    void AddStreamFigures(int index, unsigned int percent, PortRowChange& change) const;
    void AddDeviceElapsed(int index, PortRowChange& change) const;
    RowRun RunOf(int index) const;
    int RunImageChecker(const QString& scatter);
    // What the policies may do to the station (StationPolicyHost).
    void ShowRowMessage(int row, const QString& text) override;
    void TellOperator(OperatorPrompt::Kind kind, const QString& title, const QString& text) override;
    void TellOperatorLater(OperatorPrompt::Kind kind, const QString& title, const QString& text) override;
    void NotifyUnverifiedRun(const QString& text) override;
    // Invoked by name from a worker, so the queued call carries no functor object of ours across threads.
    Q_INVOKABLE void TellQueued(int kind, QString title, QString text);
    AttemptRecord FoundAttempt(unsigned index, const QDateTime& start, int poll) const;
    void RequestStopForExit();
    void StopWorkersForExit();
    void RestoreChannelTable();
    QString RestoredPath(const QString& group, const QString& key, const QString& field) const;
    // Invoked by name from the scan thread, so the queued call carries no functor object of ours across threads.
    Q_INVOKABLE void EndScanPass();
    void ScanPass(bool startEach);
    Q_INVOKABLE void StartScannedRow(int row);
    bool BeginStartAll();
    void EndStartAll();
    bool AnyPortBusy() const;
    void Tell(OperatorPrompt::Kind kind, const QString& title, const QString& text, const QString& detail = QString());
    bool Ask(const QString& title, const QString& text);

    bool flashXmlRestored = false;
    CriticalSection lock;
    std::shared_ptr<std::thread> scanThread;
    std::array<std::shared_ptr<std::thread>, kPortCount> downloadThreads;
    std::array<DeviceInstance, kPortCount> devices;
    std::array<bool, kPortCount> selected{};
    bool autoPolling = false;
    bool autoReboot = false;
    bool selectAllPorts = false;
    bool readEfuseEnable = false;
    std::atomic<bool> checksumStop{false};
    bool readUnitId = false;
    std::array<std::atomic<bool>, kPortCount> stopRequested{};
    bool efuseEnable = false;
    bool blowAfterDownload = false;
    std::array<PortTimer, kPortCount> timers;
    int32_t totalPollingTimes = 0;
    int32_t scanType = 0;
    QString flashXmlPath;
    QString engineFlashXmlPath; // the flash XML the engine is handed: the staged copy's, or flashXmlPath
    QString scatterFilePath;
    QString authFilePath;
    QString certFilePath;
    QString efuseImagePath;
    QString readbackPath;
    QString rebootScene;
    RuntimeParameters runtimeParams;
    QString connectType;
    QString mobileLog;
    QString adb;

    // Bit i is set while port i initialises or runs. It and totalPollingTimes change under displayLock
    // together with the displays they cause, so the front end sees the changes in the order they happened.
    uint32_t runningPortMask = 0;
    mutable std::mutex displayLock;

    std::array<bool, kPortCount> portBusy{};
    // Which ports' workers have not ended yet, for an exit that cannot wait for ever.
    mutable std::mutex workersLock;
    std::condition_variable workerEnded;
    std::array<bool, kPortCount> workerRunning{};
    int runningWorkers = 0;
    std::array<FailurePacer, kPortCount> pacers;
    std::atomic<int64_t> failurePaceMs{1000};
    OperatorPrompt* prompt = nullptr;

    // What every record of a port's run shares, written by its start before the worker exists.
    std::array<AttemptRecord, kPortCount> recordTemplates;
    AttemptRecorder* recorder = nullptr;
    QString operatorName;
    QString workOrder;
    std::atomic<int> devicesPerPort{0};

    // The window by element name, or the settings a front end without a window handed over.
    ControlReader controls;
    RunSettings restoredSettings;
    std::array<PortRowState, kPortCount> rowStates;

    // The station's policies, called at their points in this order: a changed load refuses a start before
    // an unstaged one, that before a locked profile's pin, and that before a run that verifies nothing.
    LoadCheckPolicy loadCheck{*this};
    LoadStagingPolicy staging{*this};
    LockedProfilePolicy profile{*this};
    VerificationPolicy verification{*this};
    TargetPolicy target;
    RowOutcomePolicy outcomes{*this};
    DiskSpaceGuard diskGuard;
    StationPolicies policies;

    QString settingsFile;
    StationSettings stationSettings;
    bool saveSettingsAtExit = true;
    bool settingsLoaded = false;
    bool settingsFormatError = false;
    bool settingsWritten = false;

    // The rows of the running scan pass, until its last display has been applied.
    uint32_t scanRows = 0;
    bool scanBusy = false;
    bool scanStartsRows = false; // the running pass starts each row it has scanned
};
