#include "cli/CliStation.h"

#include "XML/parser/FlashXMLParser.h"
#include "common/DaOptions.h"
#include "common/IniSetting.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <cstdio>
#include <unistd.h>

namespace {

constexpr int kPollMs = 50;
constexpr qint64 kSecondStopMs = 2000;

} // namespace

CliStation::CliStation(const CliOptions& options, AttemptRecorder* records) : options(options), summary(records)
{
    connect(&poller, &QTimer::timeout, this, &CliStation::Poll);
}

CliStation::~CliStation()
{
    // The port manager joins its workers and cleans the engine up while the front end still answers.
    manager.reset();
}

void CliStation::Problem(const QString& text)
{
    std::fprintf(stderr, "praxilo-cli: %s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

bool CliStation::Prepare()
{
    manager = std::make_unique<PortManager>();
    frontEnd = std::make_unique<HeadlessFrontEnd>(*manager);
    frontEnd->askAnswer = true;
    frontEnd->onPrompt = [this](OperatorPrompt::Kind kind, const QString& title, const QString& text) {
        Problem(QStringLiteral("%1: %2").arg(title, text));
        // A load that failed its check cannot be used.
        if (kind == OperatorPrompt::Kind::Critical)
            exitCode = Unusable;
    };
    manager->SetSaveSettingsAtExit(false);
    settingsFile = options.settingsFile.isEmpty() ? IniSetting::DefaultPath() : options.settingsFile;
    manager->SetSettingsFile(settingsFile);
    manager->SetAttemptRecorder(&summary);
    manager->SetStationInfo(options.operatorName, options.workOrder);
    manager->SetDevicesPerPort(options.devices);
    manager->LoadCommonSetting();
    manager->LoadEfuseSetting();
    if (options.target >= 0)
        manager->SetTarget(options.target);
    const RunSettings settings = SettingsForRun();
    if (!CheckProfile(settings))
        return false;
    manager->SetRunSettings(settings);
    // The option can only add the requirement: a station whose file requires verification keeps it.
    if (options.requireVerified)
        manager->SetRequireVerification(true);
    if (options.quarantineAfter >= 0)
        manager->SetQuarantineAfter(options.quarantineAfter);
    // Likewise the option only adds the unit's query to a station whose file does not ask for it.
    if (options.readUnitId)
        manager->SetReadUnitId(true);
    if (options.stageLoad)
        manager->SetStageLoad(true);
    const QString refusal = manager->VerificationRefusal(settings.runtimeParameters.checksumLevel);
    if (!refusal.isEmpty()) {
        Problem(refusal + QStringLiteral(" (--checksum-level 2, 4 or 6)"));
        return false;
    }
    if (!CheckLoad(settings.flashXmlPath))
        return false;
    if (options.scene == QLatin1String("efuse-write") && !manager->IsEfuseEnabled()) {
        Problem(QStringLiteral("--scene efuse-write: eFuse writing is not enabled in %1").arg(settingsFile));
        return false;
    }

    CliDisplay::Mode mode = CliDisplay::Mode::Lines;
    if (options.json)
        mode = CliDisplay::Mode::Json;
    else if (options.quiet)
        mode = CliDisplay::Mode::Quiet;
    else if (isatty(fileno(stdout)))
        mode = CliDisplay::Mode::Live;
    display = std::make_unique<CliDisplay>(mode, summary, options.rows, stdout);
    // Without auto polling the port manager ignores the target, and so does the display.
    display->SetLimits(settings.autoPolling ? manager->GetTarget() : 0, options.devices);
    // The rows as the settings file bound them, before the display was there to hear it.
    for (int row = 0; row < PortManager::kPortCount; ++row)
        display->OnRowState(row, manager->GetRowState(row));
    connect(manager.get(), &PortManager::SigNotifyPortRowState, display.get(), &CliDisplay::OnRowState);
    connect(&summary, &RunSummary::Recorded, display.get(), &CliDisplay::OnRecord);
    connect(&summary, &RunSummary::NotRecorded, display.get(), &CliDisplay::OnUnrecorded);
    connect(manager.get(), &PortManager::SigNotifyUnverifiedRun, this, [](const QString& text) { Problem(text); });
    connect(&manager->DiskGuard(), &DiskSpaceGuard::SigNotifyDiskSpace, this,
            [this](bool low, const QString& folder, qint64 freeMB, qint64 floorMB) {
                Problem(low ? DiskSpaceGuard::LowText(folder, freeMB, floorMB) : DiskSpaceGuard::BackText(folder, freeMB));
                display->OnDiskSpace(low, folder, freeMB, floorMB);
            });
    // The end of the scan pass and of each port's worker are looked at when they happen: the poll alone
    // started the ports and ended the run up to its interval late.
    connect(manager.get(), &PortManager::SigNotifyScanPassEnded, this, &CliStation::Poll);
    connect(manager.get(), &PortManager::SigNotifyStopTimer, this, &CliStation::Poll);
    return true;
}

// What the settings file gives, as the window would show it, changed where the command line asks.
RunSettings CliStation::SettingsForRun() const
{
    RunSettings settings = manager->GetRestoredSettings();
    if (!options.flashXml.isEmpty())
        settings.flashXmlPath = QFileInfo(options.flashXml).absoluteFilePath();
    if (options.scene == QLatin1String("format-download"))
        settings.scene = RunSettings::Scene::FormatDownload;
    else if (options.scene == QLatin1String("firmware-upgrade"))
        settings.scene = RunSettings::Scene::FirmwareUpgrade;
    else if (options.scene == QLatin1String("efuse-write"))
        settings.scene = RunSettings::Scene::EfuseWrite;
    if (options.autoPolling)
        settings.autoPolling = true;
    settings.selectedRows = options.rows;
    settings.runtimeParameters = DaOptions::Load(settingsFile).ToRuntimeParameters();
    if (options.checksumLevel > 0)
        settings.runtimeParameters.checksumLevel = options.checksumLevel;
    return settings;
}

// The locked group wins over the command line: the options it fixes are refused, and so is any load but
// the pinned one, before the image checker spends time on it.
bool CliStation::CheckProfile(const RunSettings& settings) const
{
    if (!manager->GetStationSettings().locked)
        return true;
    if (!options.profileOptions.isEmpty()) {
        Problem(QStringLiteral("%1: refused, the station's profile is locked and its settings file sets this")
                    .arg(options.profileOptions.first()));
        return false;
    }
    const QString refusal = manager->PinnedLoadRefusal(settings.flashXmlPath);
    if (refusal.isEmpty())
        return true;
    Problem(options.flashXml.isEmpty() ? refusal : QStringLiteral("--flash-xml: %1").arg(refusal));
    return false;
}

bool CliStation::CheckLoad(const QString& flashXml)
{
    if (flashXml.isEmpty()) {
        Problem(QStringLiteral("no flash XML: give --flash-xml or a settings file that names one"));
        return false;
    }
    FlashXMLParser parser;
    if (!QFileInfo(flashXml).isFile() || !parser.ParseXMLFile(flashXml)) {
        Problem(QStringLiteral("the flash XML %1 cannot be used: %2").arg(flashXml, parser.GetErrorMsg()));
        return false;
    }
    // The same check the window makes: a load whose images do not match its list is not used.
    if (manager->VerifyChecksum() != 0) {
        Problem(QStringLiteral("the load %1 failed its image check").arg(flashXml));
        return false;
    }
    return true;
}

void CliStation::Run()
{
    display->Begin();
    wall.start();
    // Rows the settings file did not bind get the devices that arrive first, as a scan pass binds them; each
    // starts as soon as it has its device, as rows with a channel table start as theirs arrive. Started
    // together at the pass's end they would stream in step and leave a shared hub idle during every swap.
    bool unbound = false;
    for (size_t row = 0; row < options.rows.size(); ++row)
        unbound = unbound || (options.rows[row] && manager->Device(int(row)).GetPortName().isEmpty());
    if (unbound) {
        scanning = true;
        manager->ScanAndStart();
    } else {
        manager->StartAll();
    }
    poller.start(kPollMs);
}

void CliStation::WatchDisks(const QStringList& folders)
{
    manager->DiskGuard().SetFolders(folders);
}

bool CliStation::AnyPortBusy() const
{
    for (int row = 0; row < PortManager::kPortCount; ++row) {
        if (manager->IsPortBusy(row))
            return true;
    }
    return false;
}

void CliStation::Poll()
{
    if (finished || (scanning && manager->IsScanBusy()))
        return;
    scanning = false;
    if (!AnyPortBusy())
        Finish();
}

void CliStation::RequestStop()
{
    if (stopping) {
        // A second request soon after the first: leave once the engine is cleaned up.
        if (sinceStop.elapsed() < kSecondStopMs) {
            manager.reset();
            std::fflush(stdout);
            std::_Exit(Stopped);
        }
        return;
    }
    stopping = true;
    sinceStop.start();
    manager->StopAll();
}

void CliStation::Finish()
{
    finished = true;
    poller.stop();
    display->End(wall.elapsed(), stopping);
    if (stopping)
        exitCode = Stopped;
    else if (!manager->GetLoadChangedReason().isEmpty())
        exitCode = Unusable; // the prompt has said which file went away or changed
    else if (exitCode == AllOk && (summary.Total(QStringLiteral("FAIL")) > 0 || display->QuarantinedRows() > 0))
        exitCode = SomeFailed;
    if (summary.Unrecorded() > 0)
        exitCode = Unrecorded;
    QCoreApplication::exit(exitCode);
}
