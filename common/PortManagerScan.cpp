// Binding devices to rows: the scan pass, the table's select-all and action cells.
#include "common/PortManager.h"
#include "common/PortTableColumn.h"

#include "logging/CriticalSectionSentry.h"
#include "logging/Log.h"

#include <QSet>

#include <system_error>

static constexpr char kLogSource[] = "Common\\PortManager";

namespace {

const QString kTable = QStringLiteral("tableWidget");

} // namespace

bool PortManager::AnyPortBusy() const
{
    for (bool busy : portBusy) {
        if (busy)
            return true;
    }
    return false;
}

bool PortManager::IsScanBusy() const { return scanBusy; }

void PortManager::Scan() { ScanPass(false); }

void PortManager::ScanAndStart() { ScanPass(true); }

void PortManager::ScanPass(bool startEach)
{
    // Scanning resets sessions, which must never happen under a running download or a running pass.
    if (scanBusy) {
        LOGI("PortManager::Scan", "A scan pass is running; Scan ignored.");
        return;
    }
    if (AnyPortBusy()) {
        LOGI("PortManager::Scan", "Ports are downloading; Scan ignored.");
        return;
    }
    std::vector<int> rows;
    for (int row = 0; row < kPortCount; ++row) {
        if (IsSelected(row))
            rows.push_back(row);
    }
    if (rows.empty()) {
        Tell(OperatorPrompt::Kind::Warning, tr("Warning"), tr("No comport selected. Do nothing."));
        return;
    }
    if (!Ask(tr("Scan Comports"), tr("The selected ports will be reset, continue?")))
        return;
    if (startEach && !BeginStartAll())
        return;
    for (int row : rows)
        SetPortStatus(row, PortStatus::INIT);
    if (scanThread && scanThread->joinable())
        scanThread->join();
    scanThread.reset();

    scanRows = 0;
    for (int row : rows) {
        scanRows |= 1u << row;
        // A stop from an earlier run must not cancel this pass, nor keep its rows from starting.
        devices[row].ClearStopFlags();
        if (startEach)
            stopRequested[row] = false;
    }
    scanBusy = true;
    scanStartsRows = startEach;
    try {
        scanThread = std::make_shared<std::thread>(&PortManager::ScanThread, this, rows, startEach);
    } catch (const std::system_error& error) {
        LOGE("PortManager::Scan", "Failed to start the scan thread: %s", error.what());
        for (int row : rows)
            SetPortStatus(row, PortStatus::FAIL);
        EndScanPass();
    }
}

void PortManager::ScanThread(PortManager* manager, std::vector<int> rows, bool startEach)
{
    {
        CriticalSectionSentry sentry(manager->lock);
        manager->SetScanState(true);
        QSet<QString> claimed;
        for (int row : rows) {
            DeviceInstance& device = manager->devices[row];
            QString name;
            int result = device.Scan(name);
            // Only a device that was found claims its port; a scan that fails is shown, not repeated.
            while (result == 0 && claimed.contains(name))
                result = device.Scan(name);
            device.Reset();
            manager->SetPortStatus(row, PortStatus::INIT);
            if (result == QUILLON_E_STOPPED) {
                manager->SetPortStatus(row, PortStatus::CANL);
            } else if (result != 0) {
                manager->SetPortStatus(row, PortStatus::FAIL);
            } else {
                manager->ShowPort(row, device.GetPortName() + QLatin1Char('+') + device.GetPortType());
                manager->SetPortStatus(row, PortStatus::OK);
                claimed.insert(name);
            }
            // After the row's displays, as a Start All after the pass would start it; a cancelled scan was
            // the operator's stop.
            if (startEach && result != QUILLON_E_STOPPED)
                QMetaObject::invokeMethod(manager, "StartScannedRow", Qt::QueuedConnection, Q_ARG(int, row));
        }
    }
    // Queued after every display of the pass, so the pass stays busy until they have all been applied.
    // By name rather than with a lambda: the lambda's slot object, made here and read in the user-interface
    // thread, is handed over inside Qt where ThreadSanitizer cannot see it and reports a race.
    QMetaObject::invokeMethod(manager, "EndScanPass", Qt::QueuedConnection);
}

void PortManager::StartScannedRow(int row)
{
    scanRows &= ~(1u << row);
    // A Stop since the pass began, of this row or of all, was meant for the start too.
    if (scanStartsRows && !stopRequested[row])
        StartPort(row, false);
}

void PortManager::EndScanPass()
{
    // The worker's last act was to queue this call, so the join is immediate; it also orders everything the
    // pass wrote into the sessions before what a later download reads.
    if (scanThread && scanThread->joinable())
        scanThread->join();
    scanThread.reset();
    // Controls and cells of a running download stay as its own displays left them.
    if (!AnyPortBusy()) {
        Q_EMIT SigSetMWElementEnabled(QStringLiteral("btnScan"), true);
        Q_EMIT SigSetMWElementEnabled(QStringLiteral("btnStartAll"), true);
    }
    for (int row = 0; row < kPortCount; ++row) {
        if (portBusy[row])
            continue;
        for (int column = 0; column < PortTableColumn::Count; ++column) {
            if (column != PortTableColumn::Status)
                Q_EMIT SigSetMWTableWidgetItemState(kTable, row, column, true);
        }
    }
    scanRows = 0;
    scanBusy = false;
    if (scanStartsRows)
        EndStartAll();
    scanStartsRows = false;
    Q_EMIT SigNotifyScanPassEnded();
}

void PortManager::SetScanState(bool scanning)
{
    Q_EMIT SigSetMWElementEnabled(QStringLiteral("btnScan"), !scanning);
    Q_EMIT SigSetMWElementEnabled(QStringLiteral("btnStartAll"), !scanning);
    for (int row = 0; row < kPortCount; ++row) {
        if (scanning)
            ShowPort(row, QStringLiteral("N/A"));
        for (int column = 0; column < PortTableColumn::Count; ++column) {
            if (column != PortTableColumn::Status)
                Q_EMIT SigSetMWTableWidgetItemState(kTable, row, column, !scanning);
        }
    }
}

void PortManager::SelectAllPorts(int state)
{
    for (int row = 0; row < kPortCount; ++row)
        Q_EMIT SigSetMWPortSelectState(static_cast<uint>(row), state);
}

void PortManager::OnTableCellClicked(int row, int column)
{
    if (!IsPortIndex(row))
        return;
    switch (column) {
    case PortTableColumn::Start:
        Start(row);
        break;
    case PortTableColumn::Stop:
        Stop(row);
        break;
    case PortTableColumn::LastError:
        Tell(OperatorPrompt::Kind::Information, tr("Last Error Message"), devices[row].GetLastError());
        break;
    default:
        break;
    }
}
