#pragma once

#include "common/CommandEntry.h"
#include "common/PortStatus.h"
#include "record/FailureKind.h"
#include "record/SessionStage.h"

#include "quillon.h"

#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QString>
#include <QVector>

#include <atomic>
#include <functional>
#include <cstdint>
#include <mutex>

// One port's device: what the last scan learnt about the port, the parameters and command list of the
// next download, and the outcome of the last one. Start runs a whole engine session on the calling
// (worker) thread; Stop may come at any time from the user-interface thread.
class DeviceInstance : public QObject
{
    Q_OBJECT

public:
    DeviceInstance();
    ~DeviceInstance() override;

    void SetIndex(int index);
    int GetIndex() const;

    void SetPortName(const QString& name);
    void SetPortType(const QString& type);
    void SetFriendlyPortName(const QString& name);
    void SetInstanceId(const QString& id);
    void SetScanType(int type);
    QString GetPortName() const;
    QString GetPortType() const;
    QString GetFriendlyPortName() const;
    QString GetInstanceId() const;
    int GetScanType() const;

    int32_t GetStatus() const;
    bool IsFailed() const;
    void ClearFailed();
    QString GetLastError() const;

    // Successful downloads of this port since its worker started; only the orchestration counts them.
    void ResetPollingTimes();
    int32_t CountSuccess();
    int32_t GetPollingTimes() const;

    void SetParameter(const QByteArray& key, const QByteArray& value);
    QByteArray GetParameter(const QByteArray& key);
    void AddCommand(const QString& document);
    void AddCommandWithCallback(const CommandEntry& entry);
    QVector<CommandEntry> GetCommands() const;

    // The stages of the last session with their times, read after Start has returned.
    SessionStages GetStages() const;
    // Why the last session failed, None when it did not; read after Start has returned.
    FailureKind GetFailureKind() const;
    // Called by a result callback that refuses its command's result, before it returns: why it refuses, and
    // the text that becomes the session's last error, since the engine itself succeeded. A callback that
    // does not say counts as a failed command.
    void SetCallbackFailure(FailureKind kind, const QString& reason = QString());
    // Images whose device checksum the last session compared equal to the load's; 0 when none was compared.
    int GetVerifiedImages() const { return verifiedImages.load(); }
    void SetVerifiedImages(int count) { verifiedImages = count; }
    // The port description the last session's scan found; empty when it found none.
    QString GetFoundDescription() const;
    // The device's socid in lowercase hex, as its authentication or the unit query reported it; empty when
    // the session learnt none.
    QString GetSocid() const;
    // Whether a session whose authentication learnt no socid asks the device for it after entering DA mode.
    // Set before Start, from the thread that launches the worker.
    void SetReadUnitId(bool read);
    // Called on the worker thread as soon as a session's scan has found its device, before it touches it; a
    // handler that returns false ends the session there, cancelled, with the reason it gives.
    void SetDeviceFoundHandler(std::function<bool(QString& reason)> handler);
    // Bytes the running stage has surely streamed: the count of the progress report before the latest one,
    // since an engine may report a chunk as it hands it over, before the link has carried it. Any thread.
    uint64_t GetStreamedBytes() const { return streamed.load(); }

    // After Start: the load changed while the session wrote it, so whatever the device holds is not the load
    // that was checked. The session fails, its last stage a load check, with the reason as its last error.
    void FailForChangedLoad(const QString& reason);

    void Reset();
    // Forgets an earlier stop, so the next scan of a pass is not cancelled by it.
    void ClearStopFlags();
    int Scan(QString& name);
    void Start();
    void Stop();

Q_SIGNALS:
    void SigNotifyProgress(unsigned int comportIndex, unsigned int percent, QString info);
    void SigNotifyUpdateLastError(int comportIndex, QString lastError);

private:
    static int StopScanQuery(void* user);
    static int StopOperationQuery(void* user);
    static void OnProgress(void* user, unsigned int percent, uint64_t transferred, const char* message);

    bool RunSession(const OperationCallbacks& operation, const ScanCallbacks& scan);
    bool ExecuteCommands(const OperationCallbacks& operation);
    void EndWithFailure(const QString& error);
    void SetLastError(const QString& error);
    void BeginStage(const QString& name);
    void EndStage(int result);
    void PrepareCommand(const CommandEntry& entry) const;
    // Answers the device's DA SLA challenge when it has one; never fails the session by itself.
    void DASlaFlow();
    // Asks the device for its firmware information to learn its socid; a failure is logged, never the
    // session's.
    void ReadUnitId();
    void KeepSocid(const QString& text);

    std::atomic<int32_t> status{PortStatus::UND};
    mutable std::mutex stateLock; // guards lastError and stages, which the user-interface thread reads
    QString lastError;
    std::atomic<bool> failed{false};
    std::atomic<int32_t> pollingTimes{0};
    // Of the running stage: the latest progress report's byte count and the one before it; worker writes.
    std::atomic<uint64_t> transferred{0};
    std::atomic<uint64_t> streamed{0};
    QuillonSession* session = nullptr;
    int32_t comportIndex = 0;
    QString scanResult;
    QString friendlyPortName;
    QString portName;
    QString comportType;
    QString instanceId;
    QMap<QByteArray, QByteArray> parameters;
    QVector<CommandEntry> commands;
    std::atomic<bool> stopScan{false};
    std::atomic<bool> stopOperation{false};
    int32_t scanType = 0;
    SessionStages stages;
    std::atomic<FailureKind> failureKind{FailureKind::None};
    FailureKind callbackFailure = FailureKind::None; // worker thread only
    QString callbackError;                           // worker thread only
    std::atomic<int> verifiedImages{0};
    QString foundDescription;
    QString socid;
    bool readUnitId = false;
    std::function<bool(QString& reason)> deviceFound;
    QString withdrawReason; // worker thread only: why the found handler ended the session
};
