#include "ui/MainWindow.h"

#include "Utility/XmlSafeText.h"
#include "common/IniSetting.h"
#include "common/PortTableColumn.h"
#include "logging/Log.h"
#include "logging/Logger.h"
#include "platform/Platform.h"
#include "ui/AboutDialog.h"
#include "ui/UiResources.h"
#include "ui_MainWindow.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QStatusBar>
#include <QTableWidget>

static constexpr char kLogSource[] = "UI\\MainWindow";

namespace {

constexpr int kColumnCount = PortTableColumn::Count;
const int kColumnWidths[kColumnCount] = {180, 80, 80, 100, 70, 100, 100, 150, 50};

QString OpenFileDialog(QWidget* parent, const QString& caption, const QString& filter)
{
    return QFileDialog::getOpenFileName(parent, caption, QString(), filter);
}

} // namespace

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent), form(new Ui::MainWindow), recorders(records, IniSetting::DefaultPath()),
      optionDialog(new OptionDialog(this, this, IniSetting::DefaultPath())), fileDialog(&OpenFileDialog)
{
    InitUiResources();
    form->setupUi(this);
    BuildPortTable();
    BuildStationPanel();
    form->actionEnableLogging->setChecked(true);
    form->prbChecksum->hide();
    form->lblPollingTimes->hide();
    ConnectPortManager();
    ConnectControls();
    portManager.SetOperatorPrompt(prompt);
    portManager.SetAttemptRecorder(&panelFeed);
    portManager.LoadCommonSetting();
    portManager.LoadEfuseSetting();
    stationPanel->RestorePlace(portManager.GetSettingsFile());
    // The log alone is not read on the floor: the operator's next changes would be lost without a word.
    if (IniSetting::HasFormatError(portManager.GetSettingsFile()))
        statusBar()->showMessage(
            tr("Settings are not saved at exit: %1 has a format error.").arg(QDir::toNativeSeparators(portManager.GetSettingsFile())));
    stationPanel->TargetControl().Bind(portManager);
    ShowLockedProfile();

    form->actionEnableLogging->setChecked(true);
    form->actionDisableLogging->setChecked(false);
    StartLoggingAndWarn();
    KeepLogsAndDisksBounded();
    WatchRecord();
    CheckRecordFolder();
    SetElementEnabled(QStringLiteral("btnCertFilePath"), false);
    startupTimer.start(500);
}

MainWindow::~MainWindow()
{
    // Kept under the same rule as the port manager's settings, which it writes after this; EndRun has done it
    // already for every end that went through the event loop.
    if (!runEnded && portManager.WillSaveSettingsAtExit())
        stationPanel->SavePlace(portManager.GetSettingsFile());
    delete aboutDialog;
    delete optionDialog;
    delete form;
    // The rows' progress bars are members: the table must let go of them before they are destroyed, or it
    // lays out editors that are half gone. Removing the rows releases them without deleting them.
    if (auto* table = findChild<QTableWidget*>(QStringLiteral("tableWidget")))
        table->setRowCount(0);
}

void MainWindow::BuildPortTable()
{
    QTableWidget* table = form->tableWidget;
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    // One of each for every row: an icon made from its file decodes the image there and then, which made up
    // half of building the table.
    const QIcon undetermined(QStringLiteral(":/image/status_und.png"));
    const QIcon start(QStringLiteral(":/image/start.png"));
    const QIcon stop(QStringLiteral(":/image/stop.png"));
    const QIcon port(QStringLiteral(":/image/com.png"));
    QFont percentFont(QStringLiteral("Arial Black"), 9);
    percentFont.setBold(true);
    for (int row = 0; row < PortManager::kPortCount; ++row) {
        const QString texts[kColumnCount] = {QStringLiteral("COM"),     QStringLiteral("UND"),    QStringLiteral("0%"),
                                             QString(),                 QStringLiteral("0 sec"),  QStringLiteral("[START]"),
                                             QStringLiteral("[STOP]"),  QStringLiteral("Stage Msg"),
                                             QStringLiteral("No Error")};
        for (int column = 0; column < kColumnCount; ++column) {
            auto* item = new QTableWidgetItem(texts[column]);
            item->setToolTip(texts[column]);
            if (column != PortTableColumn::Progress)
                item->setTextAlignment(Qt::AlignCenter);
            table->setItem(row, column, item);
        }
        QTableWidgetItem* portItem = table->item(row, PortTableColumn::Port);
        portItem->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled);
        // A cell shows no check box until its check state has been set once.
        portItem->setCheckState(Qt::Unchecked);
        table->item(row, PortTableColumn::Status)->setIcon(undetermined);
        table->item(row, PortTableColumn::Percent)->setFont(percentFont);
        table->item(row, PortTableColumn::Start)->setIcon(start);
        table->item(row, PortTableColumn::Stop)->setIcon(stop);
        table->item(row, PortTableColumn::LastError)->setIcon(port);
        progressBars[row].setTextVisible(false);
        table->setCellWidget(row, PortTableColumn::Progress, &progressBars[row]);
    }
    // No sizes from the contents: laying out every cell's text for them cost a third of building the table, and
    // the widths below and the rows' stretch replace them all.
    for (int column = 0; column < kColumnCount; ++column)
        table->setColumnWidth(column, kColumnWidths[column]);
}

void MainWindow::BuildStationPanel()
{
    stationPanel = new StationPanel(this);
    connect(&panelFeed, &StationPanelFeed::SigAttemptStarted, stationPanel, &StationPanel::AttemptStarted);
    connect(&panelFeed, &StationPanelFeed::SigAttemptEnded, stationPanel, &StationPanel::AttemptEnded);
    connect(&portManager, &PortManager::SigNotifyPortRowState, stationPanel, &StationPanel::ApplyRowState);
    connect(form->btnStartAll, &QPushButton::clicked, stationPanel, &StationPanel::MarkStart);
    form->menuOption->addAction(stationPanel->toggleViewAction());
}

void MainWindow::ConnectPortManager()
{
    PortManager* ports = &portManager;
    connect(ports, &PortManager::SigSetMWElementContent, this, &MainWindow::SetElementContent);
    connect(ports, &PortManager::SigGetMWElementContent, this, &MainWindow::GetElementContent);
    connect(ports, &PortManager::SigSetMWElementEnabled, this, &MainWindow::SetElementEnabled);
    connect(ports, &PortManager::SigSetMWElementCheck, this, &MainWindow::SetElementCheck);
    connect(ports, &PortManager::SigGetMWElementIsChecked, this, &MainWindow::GetElementIsChecked);
    connect(ports, &PortManager::SigGetMWComboBoxIndex, this, &MainWindow::GetComboBoxIndex);
    connect(ports, &PortManager::SigSetMWTableWidgetItemContext, this, &MainWindow::SetTableWidgetItemContext);
    connect(ports, &PortManager::SigSetMWTableWidgetItemState, this, &MainWindow::SetTableWidgetItemState);
    connect(ports, &PortManager::SigSetMWTableWidgetItemIcon, this, &MainWindow::SetTableWidgetItemIcon);
    connect(ports, &PortManager::SigGetMWPortIsSelected, this, &MainWindow::GetPortIsSelected);
    connect(ports, &PortManager::SigSetMWPortSelectState, this, &MainWindow::SetPortSelectState);
    connect(ports, &PortManager::SigGetOWDASetting, this, &MainWindow::GetOWDASetting);
    connect(ports, &PortManager::SigSetMWProgressBarState, this, &MainWindow::SetProgressBarState);
    connect(ports, &PortManager::SigSetMWProgressBarVisible, this, &MainWindow::SetProgressBarVisible);
    connect(ports, &PortManager::SigSetMWPortProgressStatus, this,
            [this](uint comportIndex, uint percent) { SetPortProgressStatus(comportIndex, percent); });
    // The one text the status bar carries: an operator must see that OK does not mean verified.
    connect(ports, &PortManager::SigNotifyUnverifiedRun, this,
            [this](const QString& text) { form->statusbar->showMessage(text); });
}

void MainWindow::ConnectControls()
{
    PortManager* ports = &portManager;
    connect(form->btnScan, &QPushButton::clicked, ports, &PortManager::Scan);
    connect(form->btnStartAll, &QPushButton::clicked, ports, &PortManager::StartAll);
    connect(form->btnStopAll, &QPushButton::clicked, ports, &PortManager::StopAll);
    connect(form->tableWidget, &QTableWidget::cellClicked, ports, &PortManager::OnTableCellClicked);
    connect(form->cbSelectAllPorts, &QCheckBox::stateChanged, ports, &PortManager::SelectAllPorts);
    connect(form->cbAutoPolling, &QCheckBox::stateChanged, this,
            [this](int state) { form->lblPollingTimes->setVisible(state != 0); });
    connect(form->actionOpenLogsFolder, &QAction::triggered, this, &MainWindow::OpenLogsFolder);
    connect(form->actionAbout, &QAction::triggered, this, &MainWindow::ShowAbout);
    connect(form->actionOptions, &QAction::triggered, this, &MainWindow::ShowOptions);
    connect(form->actionEnableLogging, &QAction::triggered, this, &MainWindow::EnableLogging);
    connect(form->actionDisableLogging, &QAction::triggered, this, &MainWindow::DisableLogging);
    connect(form->actionClearAllLogs, &QAction::triggered, this, &MainWindow::ClearAllLogs);
    connect(form->btnFlashXmlPath, &QPushButton::clicked, this, &MainWindow::SelectFlashXmlFile);
    connect(form->btnAuthFilePath, &QPushButton::clicked, this, &MainWindow::SelectAuthFile);
    connect(form->btnCertFilePath, &QPushButton::clicked, this, &MainWindow::SelectCertFile);
    connect(&startupTimer, &QTimer::timeout, this, &MainWindow::CheckRestoredFlashXml);
    connect(ports, &PortManager::SigHideEFUSEButton, this, &MainWindow::HideEFUSEButton);
}

// The port manager keeps these controls disabled after every run; the window says why.
void MainWindow::ShowLockedProfile()
{
    if (!portManager.GetStationSettings().locked)
        return;
    const QString why = tr("Locked: the station's settings file sets this.");
    for (const QString& name : PortManager::ProfileControls()) {
        if (auto* control = findChild<QWidget*>(name)) {
            control->setEnabled(false);
            control->setToolTip(why);
        }
    }
    optionDialog->LockControls(why);
    // The target stays the operator's, as praxilo-cli's --target stays free under a locked profile.
}

PortManager& MainWindow::Ports() { return portManager; }
OptionDialog& MainWindow::Options() { return *optionDialog; }

void MainWindow::SetOperatorPrompt(OperatorPrompt* prompt)
{
    this->prompt = prompt != nullptr ? prompt : &messageBoxes;
    portManager.SetOperatorPrompt(this->prompt);
}

void MainWindow::SetFileDialog(FileDialog dialog) { fileDialog = std::move(dialog); }

void MainWindow::StartLoggingAndWarn()
{
    const LogStartResult result = Logger::Instance().StartLogging();
    // A shift without logs must not go unnoticed, but one box is enough.
    if (result.Ok() || loggingFailureShown)
        return;
    loggingFailureShown = true;
    prompt->Tell(OperatorPrompt::Kind::Warning, tr("Logging"),
                 tr("This run is not logged.\nFolder: %1\nReason: %2")
                     .arg(QString::fromLocal8Bit(result.folder), result.reason));
}

// The logs stay within the settings file's bounds, and no device starts on a disk about to be full.
void MainWindow::KeepLogsAndDisksBounded()
{
    logHousekeeping.Start(portManager.GetStationSettings());
    DiskSpaceGuard& guard = portManager.DiskGuard();
    guard.SetFolders({records.Folder(), QString::fromLocal8Bit(Logger::Instance().GetLogRoot())});
    connect(&guard, &DiskSpaceGuard::SigNotifyDiskSpace, this,
            [this](bool low, const QString& folder, qint64 freeMB, qint64 floorMB) {
                const QString text =
                    low ? DiskSpaceGuard::LowText(folder, freeMB, floorMB) : DiskSpaceGuard::BackText(folder, freeMB);
                statusBar()->showMessage(text);
                stationPanel->ShowDiskSpace(low, text);
            });
}

// No device is flashed without its record: the operator hears of a folder that takes none before Start.
void MainWindow::CheckRecordFolder()
{
    const QString problem = StationRecordWriter::CheckFolder(records.Folder());
    if (problem.isEmpty())
        return;
    prompt->Tell(OperatorPrompt::Kind::Warning, tr("Station record"),
                 tr("Results cannot be recorded.\nFolder: %1\nReason: %2\n\nNo device is flashed until they can be.")
                     .arg(records.Folder(), problem));
}

// Told on the record's own thread; the box waits for the user-interface thread, the ports for the record.
void MainWindow::WatchRecord()
{
    records.SetTroubleHandler(
        [this](const QString& reason) {
            QMetaObject::invokeMethod(
                this,
                [this, reason] {
                    prompt->Tell(OperatorPrompt::Kind::Critical, tr("Station record"),
                                 tr("%1.\n\nNo port starts its next device until the record can be written. The "
                                    "station tries again every %2 s and goes on by itself; Stop gives up on the "
                                    "attempts not yet recorded.")
                                     .arg(reason)
                                     .arg(StationRecordWriter::kDefaultRetry.count() / 1000));
                },
                Qt::QueuedConnection);
        },
        [this] {
            QMetaObject::invokeMethod(
                this, [this] { statusBar()->showMessage(tr("Station record written again; the ports go on.")); },
                Qt::QueuedConnection);
        });
    const auto tellRebuild = [this](const QString& report) {
        QMetaObject::invokeMethod(
            this, [this, report] { prompt->Tell(OperatorPrompt::Kind::Warning, tr("Station record"), report); },
            Qt::QueuedConnection);
    };
    records.SetRebuildHandler(tellRebuild);
    // The start's catch-up ran before the window listened.
    if (!records.LastRebuild().isEmpty())
        tellRebuild(records.LastRebuild());
}

void MainWindow::ShowOptions() { optionDialog->show(); }

void MainWindow::EnableLogging()
{
    form->actionEnableLogging->setChecked(true);
    form->actionDisableLogging->setChecked(false);
    StartLoggingAndWarn();
}

void MainWindow::DisableLogging()
{
    form->actionEnableLogging->setChecked(false);
    form->actionDisableLogging->setChecked(true);
    Logger::Instance().StopLogging();
}

void MainWindow::ClearAllLogs() { logCleaner.ClearAllLogs(); }

void MainWindow::OpenLogsFolder()
{
    Logger& logger = Logger::Instance();
    logger.InitLogRoot();
    const QString folder = QString::fromLocal8Bit(logger.GetLogRoot());
    // Without a browser the operator still needs to know where the logs are.
    Platform::OpenFolderInFileBrowser(folder, this, [this, folder] {
        LOGE("MainWindow::OpenLogsFolder", "No file browser could be started for %s", folder.toUtf8().constData());
        prompt->Tell(OperatorPrompt::Kind::Information, tr("Logs Folder"),
                     tr("No file browser could be started. The logs are in:\n%1").arg(QDir::toNativeSeparators(folder)));
    });
}

void MainWindow::ShowAbout()
{
    if (aboutDialog == nullptr)
        aboutDialog = new AboutDialog(this);
    aboutDialog->show();
}

void MainWindow::SelectFile(const QString& caption, const QString& filter, const QString& field,
                            const QString& fieldName)
{
    const QString path = fileDialog(this, caption, filter);
    if (path.isEmpty())
        return;
    // A path the engine's documents cannot carry unchanged would name a file the operator never chose.
    const QString problem = XmlSafeText::Check(fieldName, path);
    if (!problem.isEmpty()) {
        prompt->Tell(OperatorPrompt::Kind::Warning, tr("Warning"), problem);
        return;
    }
    SetElementContent(field, path);
}

void MainWindow::SelectFlashXmlFile()
{
    SelectFile(QStringLiteral("flash.xml"), QStringLiteral("Flash Xml File (*.xml)"), QStringLiteral("leFlashXmlPath"),
               tr("Flash XML"));
    // Also after a cancel: the load shown must be one whose images were checked.
    if (portManager.VerifyChecksum() != 0)
        SetElementContent(QStringLiteral("leFlashXmlPath"), QString());
}

void MainWindow::SelectAuthFile()
{
    SelectFile(QStringLiteral("auth.auth"), QStringLiteral("Authentication File (*.auth);;All Files(*.*)"),
               QStringLiteral("leAuthFilePath"), tr("Auth File"));
}

void MainWindow::SelectCertFile()
{
    SelectFile(QStringLiteral("cert.cert"), QStringLiteral("Certification File (*.cert);;All Files(*.*)"),
               QStringLiteral("leCertFilePath"), tr("Cert File"));
}

void MainWindow::CheckRestoredFlashXml()
{
    disconnect(&startupTimer, &QTimer::timeout, this, &MainWindow::CheckRestoredFlashXml);
    startupTimer.stop();
    if (portManager.IsFlashXmlRestored() && portManager.VerifyChecksum() != 0)
        SetElementContent(QStringLiteral("leFlashXmlPath"), QString());
    // Told once the window is up, like the restored load's check, not from inside its construction.
    if (!recorders.FactoryProblem().isEmpty())
        prompt->Tell(OperatorPrompt::Kind::Warning, tr("Factory messages"),
                     tr("Results are recorded here but not sent to the factory.\nReason: %1").arg(recorders.FactoryProblem()));
}

void MainWindow::CloseWithoutQuestion()
{
    LOGI("MainWindow::CloseWithoutQuestion", "The system asked the tool to end; every port is stopped.");
    questionWaived = true;
    close();
    // A box open at this moment runs an event loop of its own: every loop must end for the program to end.
    QCoreApplication::exit(0);
}

bool MainWindow::EndRun()
{
    if (runEnded)
        return true;
    runEnded = true;
    const int running = portManager.StopForExit(kRecordWaitAtExit);
    if (running > 0) {
        LOGE("MainWindow::EndRun",
             "The exit waited %lld s for the station record: %lld attempts went unrecorded, %d ports had not ended.",
             static_cast<long long>(kRecordWaitAtExit.count()), static_cast<long long>(records.Pending()), running);
    }
    optionDialog->SaveOptions();
    if (portManager.WillSaveSettingsAtExit())
        stationPanel->SavePlace(portManager.GetSettingsFile());
    portManager.WriteSettingsAtExit();
    return running == 0;
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (questionWaived || prompt->Ask(tr("Quit"), tr("Are you sure to exit?"))) {
        // Before the close hides the panel with the window.
        stationPanel->KeepPlace();
        event->accept();
    } else
        event->ignore();
}
