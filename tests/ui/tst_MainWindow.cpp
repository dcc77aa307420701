// The window the operator watches all shift: every name the port manager uses reaches its widget, the
// table starts as designed, the slots ignore what they do not serve, and a real run shows in the table.
#include "ChildProcess.h"
#include "PortTestSupport.h"
#include "TestFiles.h"

#include "Utility/FileUtils.h"
#include "common/IniSetting.h"
#include "common/PortTableColumn.h"
#include "logging/Logger.h"
#include "record/LoadDigest.h"
#include "record/StationDatabase.h"
#include "record/StationReport.h"
#include "ui/MainWindow.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStandardPaths>
#include <QScopeGuard>
#include <QScreen>
#include <QTableWidget>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStatusBar>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <unistd.h>
#include <vector>

using namespace PortTestSupport;

namespace {

class RecordingPrompt : public OperatorPrompt
{
public:
    void Tell(Kind, const QString& title, const QString& text) override { told << title + QLatin1Char('|') + text; }
    bool Ask(const QString& title, const QString&) override
    {
        asked << title;
        return answer;
    }

    QStringList told;
    QStringList asked;
    bool answer = false;
};

QTableWidget* Table(MainWindow& window) { return window.findChild<QTableWidget*>(QStringLiteral("tableWidget")); }

// Where the port manager's typed state of a row differs from what the window's cells show.
QString RowStateMismatch(MainWindow& window, int row)
{
    const PortRowState state = window.Ports().GetRowState(row);
    QTableWidget* table = Table(window);
    const auto text = [table, row](int column) { return table->item(row, column)->text(); };
    const auto* bar = qobject_cast<QProgressBar*>(table->cellWidget(row, PortTableColumn::Progress));
    const QList<QPair<QString, QString>> fields = {
        {text(PortTableColumn::Status), state.statusText},
        {text(PortTableColumn::Message), state.message},
        {text(PortTableColumn::Percent), QString::number(state.percent) + QLatin1Char('%')},
        {QString::number(bar->value()), QString::number(state.percent)},
        {text(PortTableColumn::Port), state.port},
        // A port whose timer never ticked keeps the table's first text.
        {text(PortTableColumn::Elapsed), state.elapsed.isEmpty() ? QStringLiteral("0 sec") : state.elapsed},
        {text(PortTableColumn::LastError), state.lastError}};
    for (const auto& field : fields) {
        if (field.first != field.second)
            return QStringLiteral("row %1: the table shows \"%2\", the state \"%3\"").arg(row).arg(field.first, field.second);
    }
    return QString();
}

bool AnyPortBusy(MainWindow& window)
{
    for (int row = 0; row < PortManager::kPortCount; ++row) {
        if (window.Ports().IsPortBusy(row))
            return true;
    }
    return false;
}

// The log of a window executable run with its data folder (XDG_DATA_HOME) at dataHome.
QString ChildLog(const QString& dataHome)
{
    const QDir root(dataHome + QStringLiteral("/QN_PXL_V6_Logs"));
    const QStringList dumps = root.entryList({QStringLiteral("PXL_Dump_*")}, QDir::Dirs);
    return dumps.isEmpty() ? QString()
                           : QString::fromUtf8(TestFiles::ReadFile(root.filePath(dumps.first()) + QStringLiteral("/Praxilo_TOOL.log")));
}

QStringList RecordLines(const QString& folder)
{
    QStringList lines;
    const QDir dir(folder);
    for (const QString& name : dir.entryList({QStringLiteral("station-*.jsonl")}, QDir::Files))
        lines += QString::fromUtf8(TestFiles::ReadFile(dir.filePath(name))).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return lines;
}

// The window executable's environment with the operator plugin loaded, offscreen.
QProcessEnvironment OperatedEnvironment(const QString& farm, const QString& dataHome)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("QUILLON_FARM"), farm);
    environment.insert(QStringLiteral("XDG_DATA_HOME"), dataHome);
    environment.insert(QStringLiteral("QT_PLUGIN_PATH"), QStringLiteral(PXL_TEST_PLUGIN_DIR));
    environment.insert(QStringLiteral("QT_QPA_GENERIC_PLUGINS"), QStringLiteral("pxloperator"));
    return environment;
}

} // namespace

class MainWindowTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<MainWindow> NewWindow();

    RecordingPrompt prompt;
    simtest::SampleLoad load;

private Q_SLOTS:
    void initTestCase();
    void widgetTreeByNameAndClass();
    void portTableStartsAsDesigned();
    void elementSlotsServeOnlyTheirClasses_data();
    void elementSlotsServeOnlyTheirClasses();
    void tableAndBarSlots();
    void progressTextIsShownLiterally();
    void bothResourcePathFormsNameOneImage();
    void autoPollingShowsThePollingLabel();
    void pickerRefusesAPathDocumentsCannotCarry();
    void aLoadThatFailsItsImageCheckIsNotKept();
    void garbageInTheFactoryGroupIsToldOnceAndTheWindowWorks();
    void aboutShowsOneDialogAndClearingLogsSparesThisRun();
    void logsFolderIsNamedInABoxWhenNoBrowserStarts_data();
    void logsFolderIsNamedInABoxWhenNoBrowserStarts();
    void answeringNoKeepsTheWindowAndItsPorts();
    void runOnSixteenPortsShowsInTheTable();
    void aLockedProfileKeepsItsControlsAndRefusesAnotherLoad();
    void aStopFromTheSystemEndsTheRunAsQuitDoes_data();
    void aStopFromTheSystemEndsTheRunAsQuitDoes();
    void destroyingAVisibleWindowMidRunIsSafe();
    void stationPanelMovesNothingOfTheWindow();
    void stationPanelPlaceIsKeptAcrossRestarts();
    void stationPanelStaysOffTheButtons_data();
    void stationPanelStaysOffTheButtons();
    void stationPanelNarrowFocusAndKey();
    void stationPanelCountsWhatTheRecordsHold();
    void stationPanelTargetEndsAutoPolling_data();
    void stationPanelTargetEndsAutoPolling();
};

// Each window starts from no settings file, as on a fresh station, with its rows bound by port name.
std::unique_ptr<MainWindow> MainWindowTest::NewWindow()
{
    QFile::remove(QStringLiteral("pxl_setting.ini"));
    auto window = std::make_unique<MainWindow>();
    window->SetOperatorPrompt(&prompt);
    BindPorts(window->Ports());
    window->Ports().SetScanType(0);
    return window;
}

void MainWindowTest::initTestCase()
{
    FileUtils::SetAppDirectory(QDir::currentPath().toUtf8());
    ParserTestSupport::StartLogging();
    load = WriteStationLoad(QDir::current().absoluteFilePath(QStringLiteral("load")));
    QVERIFY(ConfigureFarm(QStringLiteral("farm.ini"),
                          QStringLiteral("[Farm]\nTimeScale=0\nLinkMBps=0\n")));
}

// One window for the whole tree: each window writes the settings file at exit, which is slow.
void MainWindowTest::widgetTreeByNameAndClass()
{
    auto window = NewWindow();
    const QList<QStringList> rows = {
        {"centralwidget", "QWidget", ""},
        {"verticalLayout_2", "QVBoxLayout", ""},
        {"vlConfigFiles", "QVBoxLayout", ""},
        {"hlFlashXml", "QHBoxLayout", ""},
        {"lblFlashXmlPath", "QLabel", "Flash XML"},
        {"leFlashXmlPath", "QLineEdit", ""},
        {"btnFlashXmlPath", "QPushButton", "Open"},
        {"hlAuthFile", "QHBoxLayout", ""},
        {"lblAuthFilePath", "QLabel", "Auth File"},
        {"leAuthFilePath", "QLineEdit", ""},
        {"btnAuthFilePath", "QPushButton", "Open"},
        {"hlCertFile", "QHBoxLayout", ""},
        {"lblCertFile", "QLabel", "Cert File"},
        {"leCertFilePath", "QLineEdit", ""},
        {"btnCertFilePath", "QPushButton", "Open"},
        {"hlPortsContainer", "QHBoxLayout", ""},
        {"vlPortsContainer", "QVBoxLayout", ""},
        {"tableWidget", "QTableWidget", ""},
        {"vlConfigContainer", "QVBoxLayout", ""},
        {"gbDownloadScene", "QGroupBox", "Download Scene"},
        {"rbFormatDownload", "QRadioButton", "Format And Download"},
        {"rbFirmwareUpgrade", "QRadioButton", "Firmware Upgrade"},
        {"rbEFUSEWrite", "QRadioButton", "EFUSE Write"},
        {"gbDownloadSetting", "QGroupBox", "Download Setting"},
        {"cbSelectAllPorts", "QCheckBox", "Select All Comports"},
        {"cbAutoPolling", "QCheckBox", "Auto Polling Download"},
        {"cbAutoReboot", "QCheckBox", "Auto Reboot After Download"},
        {"btnStartAll", "QPushButton", "Start All"},
        {"btnStopAll", "QPushButton", "Stop All"},
        {"btnScan", "QPushButton", "Scan"},
        {"prbChecksum", "QProgressBar", ""},
        {"lblPollingTimes", "QLabel", "Polling Times: 0"},
        {"menubar", "QMenuBar", ""},
        {"menuOption", "QMenu", "Option"},
        {"menuLogging", "QMenu", "Logging"},
        {"menuHelp", "QMenu", "Help"},
        {"statusbar", "QStatusBar", ""},
        {"actionOptions", "QAction", "Options"},
        {"actionEnableLogging", "QAction", "Enable Logging"},
        {"actionDisableLogging", "QAction", "Disable Logging"},
        {"actionClearAllLogs", "QAction", "Clear All Logs"},
        {"actionOpenLogsFolder", "QAction", "Open Logs Folder"},
        {"actionAbout", "QAction", "About"},
    };
    for (const QStringList& row : rows) {
        QObject* found = window->findChild<QObject*>(row[0]);
        QVERIFY2(found != nullptr, qPrintable(row[0]));
        QCOMPARE(QString::fromLatin1(found->metaObject()->className()), row[1]);
        if (row[2].isEmpty())
            continue;
        const QByteArray property = qobject_cast<QGroupBox*>(found) || qobject_cast<QMenu*>(found) ? "title" : "text";
        QCOMPARE(found->property(property).toString(), row[2]);
    }
}

void MainWindowTest::portTableStartsAsDesigned()
{
    auto window = NewWindow();
    QCOMPARE(window->windowTitle(), QStringLiteral("Kestrane Praxilo V6"));
    QVERIFY(!window->findChild<QProgressBar*>(QStringLiteral("prbChecksum"))->isVisibleTo(window.get()));
    QVERIFY(!window->findChild<QLabel*>(QStringLiteral("lblPollingTimes"))->isVisibleTo(window.get()));
    QVERIFY(!window->findChild<QPushButton*>(QStringLiteral("btnCertFilePath"))->isEnabled());
    QVERIFY(window->findChild<QAction*>(QStringLiteral("actionEnableLogging"))->isChecked());
    QVERIFY(!window->findChild<QAction*>(QStringLiteral("actionDisableLogging"))->isChecked());
    QTableWidget* table = Table(*window);
    QCOMPARE(table->rowCount(), 16);
    QCOMPARE(table->columnCount(), 9);
    QCOMPARE(table->editTriggers(), QAbstractItemView::NoEditTriggers);
    const int widths[] = {180, 80, 80, 100, 70, 100, 100, 150, 50};
    // Without a settings file the restore leaves every row without a port.
    const QStringList texts = {"N/A", "UND", "0%", "", "0 sec", "[START]", "[STOP]", "Stage Msg", "No Error"};
    // The last section stretches over what the others leave.
    for (int column = 0; column < 8; ++column)
        QCOMPARE(table->columnWidth(column), widths[column]);
    QVERIFY(table->columnWidth(8) >= widths[8]);
    for (int row = 0; row < 16; ++row) {
        for (int column = 0; column < 9; ++column) {
            QTableWidgetItem* item = table->item(row, column);
            QVERIFY(item != nullptr);
            QCOMPARE(item->text(), texts[column]);
            QCOMPARE(item->textAlignment() == Qt::AlignCenter, column != 3);
        }
        QCOMPARE(table->item(row, 0)->flags(), Qt::ItemIsUserCheckable | Qt::ItemIsEnabled);
        QCOMPARE(table->item(row, 0)->checkState(), Qt::Unchecked);
        QVERIFY(!table->item(row, 1)->icon().isNull());
        QCOMPARE(table->item(row, 2)->font().family(), QStringLiteral("Arial Black"));
        QVERIFY(table->item(row, 2)->font().bold());
        auto* bar = qobject_cast<QProgressBar*>(table->cellWidget(row, 3));
        QVERIFY(bar != nullptr);
        QVERIFY(!bar->isTextVisible());
    }
}

void MainWindowTest::elementSlotsServeOnlyTheirClasses_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("contentRead");
    QTest::addColumn<bool>("contentSet");
    QTest::addColumn<bool>("enableServed");
    QTest::addColumn<bool>("checkServed");
    QTest::newRow("line edit") << "leAuthFilePath" << true << true << true << false;
    QTest::newRow("push button") << "btnScan" << true << true << true << false;
    QTest::newRow("check box") << "cbAutoReboot" << true << true << true << true;
    QTest::newRow("radio button") << "rbFirmwareUpgrade" << true << true << true << true;
    QTest::newRow("label: written, never read") << "lblPollingTimes" << false << true << false << false;
    QTest::newRow("group box") << "gbDownloadSetting" << false << false << false << false;
    QTest::newRow("layout") << "hlFlashXml" << false << false << false << false;
    QTest::newRow("no such name") << "leNothing" << false << false << false << false;
}

void MainWindowTest::elementSlotsServeOnlyTheirClasses()
{
    QFETCH(QString, name);
    QFETCH(bool, contentRead);
    QFETCH(bool, contentSet);
    QFETCH(bool, enableServed);
    QFETCH(bool, checkServed);
    auto window = NewWindow();

    window->SetElementContent(name, QStringLiteral("new text"));
    QString content = QStringLiteral("caller's");
    window->GetElementContent(name, content);
    QCOMPARE(content, contentRead ? QStringLiteral("new text") : QStringLiteral("caller's"));
    if (auto* label = window->findChild<QLabel*>(name))
        QCOMPARE(label->text() == QLatin1String("new text"), contentSet);

    QWidget* widget = window->findChild<QWidget*>(name);
    window->SetElementEnabled(name, false);
    if (widget != nullptr)
        QCOMPARE(widget->isEnabled(), !enableServed);

    // A radio button of a group cannot be unchecked directly, so only checking is asked of every class.
    for (bool callerValue : {false, true}) {
        window->SetElementCheck(name, true);
        bool isChecked = callerValue;
        window->GetElementIsChecked(name, isChecked);
        QCOMPARE(isChecked, checkServed ? true : callerValue);
    }
    if (auto* box = window->findChild<QCheckBox*>(name)) {
        window->SetElementCheck(name, false);
        QCOMPARE(box->checkState(), Qt::Unchecked);
    }
    int index = 7;
    window->GetComboBoxIndex(name, index);
    QCOMPARE(index, 7);
}

void MainWindowTest::tableAndBarSlots()
{
    auto window = NewWindow();
    QTableWidget* table = Table(*window);
    const Qt::ItemFlags before = table->item(4, 5)->flags();
    window->SetTableWidgetItemState(QStringLiteral("tableWidget"), 4, 5, false);
    QCOMPARE(table->item(4, 5)->flags(), before & ~Qt::ItemIsEnabled);
    QCOMPARE(table->item(4, 5)->text(), QStringLiteral("[START]"));
    QVERIFY(!table->item(4, 5)->icon().isNull());
    window->SetTableWidgetItemState(QStringLiteral("tableWidget"), 4, 5, true);
    QCOMPARE(table->item(4, 5)->flags(), before);
    window->SetTableWidgetItemState(QStringLiteral("tableWidget"), 4, 0, false);
    QCOMPARE(table->item(4, 0)->flags(), Qt::ItemIsUserCheckable);

    window->SetTableWidgetItemContext(QStringLiteral("tableWidget"), 2, 7, QStringLiteral("Connecting"));
    window->SetTableWidgetItemContext(QStringLiteral("notATable"), 2, 7, QStringLiteral("lost"));
    window->SetTableWidgetItemContext(QStringLiteral("tableWidget"), 20, 7, QStringLiteral("lost"));
    QCOMPARE(table->item(2, 7)->text(), QStringLiteral("Connecting"));
    const QString cut = QStringLiteral("Device on COM3 did not answer the connect request in time");
    window->SetTableWidgetItemContext(QStringLiteral("tableWidget"), 2, 8, cut);
    QCOMPARE(table->item(2, 8)->text(), cut);
    QCOMPARE(table->item(2, 8)->toolTip(), cut);

    window->SetPortSelectState(3, 2);
    bool selected = false;
    window->GetPortIsSelected(3, selected);
    QVERIFY(selected);
    window->SetPortSelectState(3, 0);
    window->GetPortIsSelected(3, selected);
    QVERIFY(!selected);

    auto* bar = qobject_cast<QProgressBar*>(table->cellWidget(9, 3));
    window->SetPortProgressStatus(9, 40);
    QCOMPARE(bar->value(), 40);
    QList<int> values;
    for (int row = 0; row < 16; ++row)
        values << qobject_cast<QProgressBar*>(table->cellWidget(row, 3))->value();
    window->SetPortProgressStatus(16, 50);
    for (int row = 0; row < 16; ++row)
        QCOMPARE(qobject_cast<QProgressBar*>(table->cellWidget(row, 3))->value(), values[row]);

    window->HideEFUSEButton();
    QVERIFY(window->findChild<QRadioButton*>(QStringLiteral("rbEFUSEWrite"))->isHidden());
}

void MainWindowTest::progressTextIsShownLiterally()
{
    auto window = NewWindow();
    auto* bar = window->findChild<QProgressBar*>(QStringLiteral("prbChecksum"));
    window->SetProgressBarVisible(QStringLiteral("prbChecksum"), true);
    QVERIFY(bar->isVisibleTo(window.get()));
    window->SetProgressBarState(QStringLiteral("prbChecksum"), 30, 12345, "boot_100%p.img Checksum Progress");
    QCOMPARE(bar->value(), 30);
    QCOMPARE(bar->text().remove(QChar(0x2060)), QStringLiteral("boot_100%p.img Checksum Progress"));
    window->SetProgressBarState(QStringLiteral("prbChecksum"), 31, 0, nullptr);
    QCOMPARE(bar->format(), QString());
    window->SetProgressBarVisible(QStringLiteral("prbChecksum"), false);
    QVERIFY(!bar->isVisibleTo(window.get()));
}

void MainWindowTest::bothResourcePathFormsNameOneImage()
{
    auto window = NewWindow();
    for (const char* name : {"status_und", "status_ok", "status_fail", "download", "start", "stop", "com"}) {
        const QImage withSlash = QIcon(QStringLiteral(":/image/%1.png").arg(QLatin1String(name))).pixmap(32).toImage();
        const QImage withoutSlash = QIcon(QStringLiteral(":image/%1.png").arg(QLatin1String(name))).pixmap(32).toImage();
        QVERIFY2(!withSlash.isNull(), name);
        QCOMPARE(withoutSlash, withSlash);
    }
    window->SetTableWidgetItemIcon(QStringLiteral("tableWidget"), 0, 1, QStringLiteral(":image/status_ok.png"));
    QCOMPARE(Table(*window)->item(0, 1)->icon().pixmap(32).toImage(),
             QIcon(QStringLiteral(":/image/status_ok.png")).pixmap(32).toImage());
}

void MainWindowTest::autoPollingShowsThePollingLabel()
{
    auto window = NewWindow();
    auto* label = window->findChild<QLabel*>(QStringLiteral("lblPollingTimes"));
    window->SetElementCheck(QStringLiteral("cbAutoPolling"), true);
    QVERIFY(label->isVisibleTo(window.get()));
    window->SetElementCheck(QStringLiteral("cbAutoPolling"), false);
    QVERIFY(!label->isVisibleTo(window.get()));
}

void MainWindowTest::pickerRefusesAPathDocumentsCannotCarry()
{
    auto window = NewWindow();
    QString offered = QStringLiteral("/loads/a\rb/auth.auth");
    window->SetFileDialog([&offered](QWidget*, const QString&, const QString&) { return offered; });
    prompt.told.clear();
    window->SelectAuthFile();
    QString content;
    window->GetElementContent(QStringLiteral("leAuthFilePath"), content);
    QCOMPARE(content, QString());
    QCOMPARE(prompt.told.size(), 1);
    QVERIFY(prompt.told.first().contains(QStringLiteral("U+000D")));

    offered = QStringLiteral("/loads/ünï code/auth.auth");
    window->SelectAuthFile();
    window->GetElementContent(QStringLiteral("leAuthFilePath"), content);
    QCOMPARE(content, offered);
    offered.clear();
    window->SelectAuthFile();
    window->GetElementContent(QStringLiteral("leAuthFilePath"), content);
    QCOMPARE(content, QStringLiteral("/loads/ünï code/auth.auth"));
}

void MainWindowTest::garbageInTheFactoryGroupIsToldOnceAndTheWindowWorks()
{
    QFile::remove(QStringLiteral("pxl_setting.ini"));
    QVERIFY(TestFiles::WriteFile(QStringLiteral("pxl_setting.ini"), "[Factory]\nBroker=http://mes:5672\n"));
    prompt.told.clear();
    auto window = std::make_unique<MainWindow>();
    window->SetOperatorPrompt(&prompt);
    QTRY_COMPARE_WITH_TIMEOUT(prompt.told.size(), 1, 10000);
    QVERIFY2(prompt.told.first().startsWith(QLatin1String("Factory messages|")), qPrintable(prompt.told.first()));
    QVERIFY(prompt.told.first().contains(QLatin1String("amqp://")));
    // The station flashes without the broker all the same.
    BindPorts(window->Ports());
    window->Ports().SetScanType(0);
    window->show();
    window->SetElementContent(QStringLiteral("leFlashXmlPath"), load.flashXmlPath);
    window->SetElementCheck(QStringLiteral("rbFormatDownload"), true);
    window->SetPortSelectState(0, 2);
    QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("btnStartAll")), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(window->findChild<QLabel*>(QStringLiteral("lblPollingTimes"))->text(),
                              QStringLiteral("Polling Times: 1"), 30000);
    QTRY_VERIFY_WITH_TIMEOUT(window->findChild<QPushButton*>(QStringLiteral("btnStartAll"))->isEnabled(), 30000);
    QCOMPARE(Table(*window)->item(0, 1)->text(), QStringLiteral("OK"));
    prompt.answer = true;
    QVERIFY(window->close());
    QCOMPARE(prompt.told.size(), 1);
}

void MainWindowTest::aboutShowsOneDialogAndClearingLogsSparesThisRun()
{
    auto window = NewWindow();
    window->ShowAbout();
    QDialog* about = window->findChild<QDialog*>(QStringLiteral("AboutDialog"));
    QVERIFY(about != nullptr && about->isVisible());
    about->close();
    window->ShowAbout();
    QCOMPARE(window->findChildren<QDialog*>(QStringLiteral("AboutDialog")).size(), 1);
    QVERIFY(about->isVisible());

    // Every earlier run's dump folder goes; this run's, with the open log file, stays.
    const QString root = QString::fromLocal8Bit(Logger::Instance().GetLogRoot());
    const QString current = QString::fromLocal8Bit(Logger::Instance().GetDumpFolder());
    QVERIFY(QDir().mkpath(root + QStringLiteral("/PXL_Dump_01-01-2020-00-00-00")));
    window->ClearAllLogs();
    QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(root + QStringLiteral("/PXL_Dump_01-01-2020-00-00-00")), 20000);
    QVERIFY(QFileInfo(current + QStringLiteral("/Praxilo_TOOL.log")).isFile());
}

void MainWindowTest::logsFolderIsNamedInABoxWhenNoBrowserStarts_data()
{
    // What the desktop's folder opener does, as a script; none: the system has no opener at all.
    QTest::addColumn<QByteArray>("opener");
    QTest::addColumn<bool>("told");
    QTest::newRow("no opener") << QByteArray() << true;
    QTest::newRow("opener finds no browser") << QByteArray("#!/bin/sh\nexit 3\n") << true;
    QTest::newRow("browser opens the folder") << QByteArray("#!/bin/sh\nexit 0\n") << false;
}

void MainWindowTest::logsFolderIsNamedInABoxWhenNoBrowserStarts()
{
    QFETCH(QByteArray, opener);
    QFETCH(bool, told);
    const QString bin = QDir::current().absoluteFilePath(QStringLiteral("opener-bin"));
    QDir(bin).removeRecursively();
    QVERIFY(QDir().mkpath(bin));
    if (!opener.isNull()) {
        QVERIFY(TestFiles::WriteFile(bin + QStringLiteral("/xdg-open"), opener));
        QVERIFY(QFile::setPermissions(bin + QStringLiteral("/xdg-open"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }
    const QByteArray path = qgetenv("PATH");
    const auto restorePath = qScopeGuard([path] { qputenv("PATH", path); });
    qputenv("PATH", QFile::encodeName(bin));
    auto window = NewWindow();
    prompt.told.clear();
    window->OpenLogsFolder();
    QTRY_VERIFY_WITH_TIMEOUT(window->findChildren<QProcess*>().isEmpty(), 20000);
    const QString root = QDir::toNativeSeparators(QString::fromLocal8Bit(Logger::Instance().GetLogRoot()));
    const QStringList expected{QStringLiteral("Logs Folder|No file browser could be started. The logs are in:\n") + root};
    QCOMPARE(prompt.told, told ? expected : QStringList());
}

void MainWindowTest::aLoadThatFailsItsImageCheckIsNotKept()
{
    const simtest::SampleLoad unlisted = WriteStationLoad(QDir::current().absoluteFilePath(QStringLiteral("unlisted")));
    QVERIFY(QFile::remove(unlisted.folder + QStringLiteral("/scatter_checksum.xml")));
    const QString critical =
        QStringLiteral("Critical|Failed to Verify Checksum!\nPlease Regenerate scatter_checksum.xml File");

    // Cancelling the picker still checks the load shown.
    auto window = NewWindow();
    window->SetFileDialog([](QWidget*, const QString&, const QString&) { return QString(); });
    prompt.told.clear();
    window->SetElementContent(QStringLiteral("leFlashXmlPath"), load.flashXmlPath);
    window->SelectFlashXmlFile();
    QString content;
    window->GetElementContent(QStringLiteral("leFlashXmlPath"), content);
    QCOMPARE(content, load.flashXmlPath);
    QVERIFY(prompt.told.isEmpty());
    window->SetElementContent(QStringLiteral("leFlashXmlPath"), unlisted.flashXmlPath);
    window->SelectFlashXmlFile();
    window->GetElementContent(QStringLiteral("leFlashXmlPath"), content);
    QCOMPARE(content, QString());
    QCOMPARE(prompt.told, QStringList{critical});
    window.reset();

    // A load restored from the settings file is checked once, shortly after start.
    QFile::remove(QStringLiteral("pxl_setting.ini"));
    IniSetting(QStringLiteral("pxl_setting.ini"), QStringLiteral("Files"), QStringLiteral("FlashXMLFile"))
        .WriteString(unlisted.flashXmlPath);
    prompt.told.clear();
    auto restored = std::make_unique<MainWindow>();
    restored->SetOperatorPrompt(&prompt);
    restored->GetElementContent(QStringLiteral("leFlashXmlPath"), content);
    QCOMPARE(content, unlisted.flashXmlPath);
    QTRY_VERIFY_WITH_TIMEOUT(prompt.told.contains(critical), 10000);
    restored->GetElementContent(QStringLiteral("leFlashXmlPath"), content);
    QCOMPARE(content, QString());
}

void MainWindowTest::answeringNoKeepsTheWindowAndItsPorts()
{
    auto window = NewWindow();
    window->show();
    window->SetElementContent(QStringLiteral("leFlashXmlPath"), load.flashXmlPath);
    window->SetElementCheck(QStringLiteral("rbFormatDownload"), true);
    window->SetElementCheck(QStringLiteral("cbAutoPolling"), true);
    window->SetPortSelectState(0, 2);
    window->Ports().StartAll();
    QTRY_VERIFY_WITH_TIMEOUT(window->Ports().GetTotalPollingTimes() >= 1, 20000);

    prompt.asked.clear();
    prompt.answer = false;
    QVERIFY(!window->close());
    QCOMPARE(prompt.asked, QStringList{"Quit"});
    QVERIFY(window->isVisible());
    const int total = window->Ports().GetTotalPollingTimes();
    QTRY_VERIFY_WITH_TIMEOUT(window->Ports().GetTotalPollingTimes() > total, 20000);

    prompt.answer = true;
    QVERIFY(window->close());
}

void MainWindowTest::runOnSixteenPortsShowsInTheTable()
{
    auto window = NewWindow();
    window->show();
    QTableWidget* table = Table(*window);
    window->SetElementContent(QStringLiteral("leFlashXmlPath"), load.flashXmlPath);
    window->SetElementCheck(QStringLiteral("rbFormatDownload"), true);
    for (uint row = 0; row < 16; ++row)
        window->SetPortSelectState(row, 2);

    QStatusBar* status = window->findChild<QStatusBar*>(QStringLiteral("statusbar"));
    QCOMPARE(status->currentMessage(), QString());
    QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("btnStartAll")), Qt::LeftButton);
    // No checksum box is ticked: the operator is told that OK will not mean verified.
    QCOMPARE(status->currentMessage(), PortManager::UnverifiedRunText());
    QTRY_COMPARE_WITH_TIMEOUT(window->findChild<QLabel*>(QStringLiteral("lblPollingTimes"))->text(),
                              QStringLiteral("Polling Times: 16"), 30000);
    QTRY_VERIFY_WITH_TIMEOUT(window->findChild<QPushButton*>(QStringLiteral("btnStartAll"))->isEnabled(), 30000);
    for (int row = 0; row < 16; ++row) {
        QCOMPARE(table->item(row, 1)->text(), QStringLiteral("OK"));
        QCOMPARE(table->item(row, 2)->text(), QStringLiteral("100%"));
        QCOMPARE(qobject_cast<QProgressBar*>(table->cellWidget(row, 3))->value(), 100);
        QCOMPARE(table->item(row, 7)->text(), QStringLiteral("Operation Done"));
        QCOMPARE(RowStateMismatch(*window, row), QString());
    }

    window->SetElementCheck(QStringLiteral("cbAutoPolling"), true);
    QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("btnStartAll")), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(window->Ports().GetTotalPollingTimes() >= 48, 30000);
    QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("btnStopAll")), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!AnyPortBusy(*window), 20000);
    const QString label = window->findChild<QLabel*>(QStringLiteral("lblPollingTimes"))->text();
    QCOMPARE(label, QStringLiteral("Polling Times: %1").arg(window->Ports().GetTotalPollingTimes()));
    for (int row = 0; row < 16; ++row)
        QCOMPARE(RowStateMismatch(*window, row), QString());
    QVERIFY(window->findChild<QPushButton*>(QStringLiteral("btnScan"))->isEnabled());
    prompt.answer = true;
    QVERIFY(window->close());
}

void MainWindowTest::aLockedProfileKeepsItsControlsAndRefusesAnotherLoad()
{
    const simtest::SampleLoad other = WriteStationLoad(QDir::current().absoluteFilePath(QStringLiteral("other")), 8192);
    const QString pinned = LoadDigest(load.scatterPath);
    QVERIFY(pinned != LoadDigest(other.scatterPath));
    QFile::remove(QStringLiteral("pxl_setting.ini"));
    QVERIFY(TestFiles::WriteFile(QStringLiteral("pxl_setting.ini"),
                                 QStringLiteral("[Station]\nLocked=true\nLoadDigest=%1\nTarget=7\n").arg(pinned).toUtf8()));
    MainWindow window;
    window.SetOperatorPrompt(&prompt);
    BindPorts(window.Ports());
    window.Ports().SetScanType(0);
    const QStringList locked{"btnFlashXmlPath", "rbFormatDownload", "rbFirmwareUpgrade", "rbEFUSEWrite"};
    QList<QWidget*> controls;
    for (const QString& name : locked)
        controls << window.findChild<QWidget*>(name);
    for (const char* name : {"rbWithBattery", "cmbDALogLevel", "cmbDALogChannel", "cbUSBChecksum", "cbStorageChecksum"})
        controls << window.Options().findChild<QWidget*>(QLatin1String(name));
    // The target is the operator's under a lock too, starting from the file's.
    auto* target = window.findChild<QSpinBox*>(QStringLiteral("sbStationTarget"));
    QCOMPARE(target->value(), 7);
    QVERIFY(target->isEnabled());
    for (QWidget* control : controls) {
        QVERIFY(!control->isEnabled());
        QVERIFY(control->toolTip().contains(QStringLiteral("settings file")));
    }

    // Another load is refused before any row changes; after a run of the pinned load the controls stay locked.
    prompt.told.clear();
    window.SetElementContent(QStringLiteral("leFlashXmlPath"), other.flashXmlPath);
    window.SetPortSelectState(0, 2);
    window.Ports().StartAll();
    QCOMPARE(prompt.told.size(), 1);
    for (const QString& shown : {pinned, LoadDigest(other.scatterPath), other.flashXmlPath})
        QVERIFY2(prompt.told[0].contains(shown), qPrintable(prompt.told[0]));
    QVERIFY(!window.Ports().IsPortBusy(0));
    QCOMPARE(Table(window)->item(0, PortTableColumn::Status)->text(), QStringLiteral("UND"));
    window.SetElementContent(QStringLiteral("leFlashXmlPath"), load.flashXmlPath);
    window.Ports().StartAll();
    QTRY_VERIFY_WITH_TIMEOUT(window.Ports().GetTotalPollingTimes() == 1 && !window.Ports().IsPortBusy(0), 20000);
    QVERIFY(window.findChild<QPushButton*>(QStringLiteral("btnStartAll"))->isEnabled());
    for (QWidget* control : controls)
        QVERIFY(!control->isEnabled());
}

void MainWindowTest::aStopFromTheSystemEndsTheRunAsQuitDoes_data()
{
    QTest::addColumn<bool>("recordHeld");
    QTest::newRow("records written") << false;
    QTest::newRow("record held by another writer") << true;
}

// The real window executable, with a settings file beside it that starts every row with auto polling; an
// operator plugin clicks Start All, and the test ends the run with SIGTERM, as a logout does.
void MainWindowTest::aStopFromTheSystemEndsTheRunAsQuitDoes()
{
    QFETCH(bool, recordHeld);
    const QString work = QDir::current().absoluteFilePath(recordHeld ? QStringLiteral("ended-held") : QStringLiteral("ended"));
    QDir(work).removeRecursively();
    QVERIFY(QDir().mkpath(work));
    QVERIFY(QFile::copy(QCoreApplication::applicationDirPath() + QStringLiteral("/Praxilo"), work + QStringLiteral("/Praxilo")));
    const simtest::SampleLoad slow = WriteStationLoad(work + QStringLiteral("/load"), 1 << 20);
    QByteArray settings = "[DownloadScene]\nScene=FormatAllAndDownload\n[DownloadSetting]\nAutoPollingEnabled=true\n"
                          "SelectAllComports=true\n[ChanneltNumber]\nScanType=0\n[Files]\nFlashXMLFile=" +
                          slow.flashXmlPath.toUtf8() + "\n[ChannelInfo]\n";
    for (int row = 0; row < PortManager::kPortCount; ++row)
        settings += QStringLiteral("Channel-%1=Sim Boot ROM Serial (%2)\n").arg(row, 2, 10, QLatin1Char('0')).arg(PortName(row)).toUtf8();
    QVERIFY(TestFiles::WriteFile(work + QStringLiteral("/pxl_setting.ini"), settings));
    // A device takes a quarter of a second on its link, so every port is always in the middle of one.
    QVERIFY(TestFiles::WriteFile(work + QStringLiteral("/farm.ini"),
                                 "[Farm]\nTimeScale=1\nArrivalMs=0\nArrivalStepMs=0\nSwapMs=0\nConnectMs=0\n"
                                 "DaLoadMs=0\nEraseMs=0\nLinkMBps=8\n"));

    const QString dataHome = work + QStringLiteral("/data");
    const QString recordFolder = dataHome + QStringLiteral("/QN_PXL_V6_Logs/Station");
    std::vector<int> held;
    const auto release = qScopeGuard([&held] {
        for (int file : held)
            ::close(file);
    });
    if (recordHeld) {
        // Another writer holds the day's record, so every record waits out the lock's time-out.
        QVERIFY(QDir().mkpath(recordFolder));
        const QDate today = QDateTime::currentDateTimeUtc().date();
        for (const QDate& day : {today, today.addDays(1)}) {
            const QString path = recordFolder + day.toString(QStringLiteral("'/station-'yyyy-MM-dd'.jsonl'"));
            held.push_back(::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
            QVERIFY(held.back() >= 0 && ::flock(held.back(), LOCK_EX | LOCK_NB) == 0);
        }
    }

    ChildProcess window;
    window.setProcessEnvironment(OperatedEnvironment(work + QStringLiteral("/farm.ini"), dataHome));
    window.setStandardOutputFile(work + QStringLiteral("/window.out"));
    window.setStandardErrorFile(work + QStringLiteral("/window.err"));
    window.start(work + QStringLiteral("/Praxilo"), QStringList());
    QVERIFY(window.waitForStarted());
    QTRY_COMPARE_WITH_TIMEOUT(ChildLog(dataHome).count(QStringLiteral("]Download Start.")), 16, 60000);
    if (!recordHeld)
        QTRY_VERIFY_WITH_TIMEOUT(RecordLines(recordFolder).size() >= 32, 60000);

    ::kill(static_cast<pid_t>(window.processId()), SIGTERM);
    QVERIFY(window.waitForFinished(60000));
    QCOMPARE(window.exitStatus(), QProcess::NormalExit);
    QCOMPARE(window.exitCode(), 0);
    // The settings were written at the end: the options' group was not in the file before.
    const QString written = QString::fromUtf8(TestFiles::ReadFile(work + QStringLiteral("/pxl_setting.ini")));
    QVERIFY2(written.contains(QStringLiteral("[DAOptions]")), qPrintable(written));
    QVERIFY(written.contains(QStringLiteral("Channel-15=Sim Boot ROM Serial (COM18)")));
    const QString log = ChildLog(dataHome);
    if (recordHeld) {
        const QRegularExpression unrecorded(
            QStringLiteral("The exit waited 10 s for the station record: [1-9][0-9]* attempts went unrecorded"));
        QVERIFY2(unrecorded.match(log).hasMatch(), qPrintable(log.right(2000)));
        return;
    }
    // Every attempt was waited for, the ones the stop ended included.
    const QStringList lines = RecordLines(recordFolder);
    QCOMPARE(lines.size(), log.count(QStringLiteral("]Download Success,")) + log.count(QStringLiteral("]Download Fail,")));
    QVERIFY(!lines.filter(QStringLiteral("\"result\":\"CANL\"")).isEmpty());
}

void MainWindowTest::destroyingAVisibleWindowMidRunIsSafe()
{
    auto window = NewWindow();
    window->show();
    window->SetElementContent(QStringLiteral("leFlashXmlPath"), load.flashXmlPath);
    window->SetElementCheck(QStringLiteral("rbFormatDownload"), true);
    window->SetElementCheck(QStringLiteral("cbAutoPolling"), true);
    for (uint row = 0; row < 16; ++row)
        window->SetPortSelectState(row, 2);
    window->Ports().StartAll();
    QTRY_VERIFY_WITH_TIMEOUT(window->Ports().GetTotalPollingTimes() >= 16, 20000);
    window.reset();
    QVERIFY(quillon_create_session() == nullptr);
}

QTEST_MAIN(MainWindowTest)
#include "tst_MainWindow.moc"

void MainWindowTest::stationPanelMovesNothingOfTheWindow()
{
    auto window = NewWindow();
    window->show();
    auto* panel = window->findChild<StationPanel*>(QStringLiteral("dockStationPanel"));
    QTRY_VERIFY_WITH_TIMEOUT(panel->isVisible(), 10000);
    QCOMPARE(window->size(), QSize(1309, 711));
    const auto geometries = [&window] {
        QStringList shown;
        for (QWidget* widget : window->centralWidget()->findChildren<QWidget*>())
            shown << widget->objectName() + QLatin1Char(' ') + QVariant(widget->geometry()).toString();
        return shown;
    };
    const QStringList withPanel = geometries();
    panel->hide();
    QCoreApplication::processEvents();
    QCOMPARE(geometries(), withPanel);
    QCOMPARE(window->centralWidget()->width(), window->width());
    // The toggle is one action after the menu's own.
    const QList<QAction*> options = window->findChild<QMenu*>(QStringLiteral("menuOption"))->actions();
    QCOMPARE(options.size(), 2);
    QCOMPARE(options.last()->text(), QStringLiteral("Station Panel"));
    QVERIFY(!options.last()->isChecked());
    options.last()->trigger();
    QVERIFY(panel->isVisible());
    prompt.answer = true;
    QVERIFY(window->close());
}

void MainWindowTest::stationPanelPlaceIsKeptAcrossRestarts()
{
    auto window = NewWindow();
    window->findChild<StationPanel*>(QStringLiteral("dockStationPanel"))->hide();
    window.reset();
    QCOMPARE(IniSetting(QStringLiteral("pxl_setting.ini"), QStringLiteral("StationPanel"), QStringLiteral("Visible"))
                 .ReadString(),
             QStringLiteral("false"));
    window = std::make_unique<MainWindow>();
    window->show();
    QVERIFY(window->findChild<StationPanel*>(QStringLiteral("dockStationPanel"))->isHidden());
    // A file that cannot be read whole is not written: the panel's group is no exception.
    window->findChild<StationPanel*>(QStringLiteral("dockStationPanel"))->show();
    window->Ports().SetSaveSettingsAtExit(false);
    window.reset();
    window = std::make_unique<MainWindow>();
    QVERIFY(window->findChild<StationPanel*>(QStringLiteral("dockStationPanel"))->isHidden());
    window->findChild<StationPanel*>(QStringLiteral("dockStationPanel"))->show();
    window.reset();

    // Left shown far off the screen and quit: it comes back shown, on the screen.
    window = NewWindow();
    window->show();
    auto* panel = window->findChild<StationPanel*>(QStringLiteral("dockStationPanel"));
    QTRY_VERIFY_WITH_TIMEOUT(panel->isVisible(), 10000);
    panel->move(9000, 9000);
    prompt.answer = true;
    QVERIFY(window->close());
    window.reset();
    window = std::make_unique<MainWindow>();
    window->show();
    panel = window->findChild<StationPanel*>(QStringLiteral("dockStationPanel"));
    QTRY_VERIFY_WITH_TIMEOUT(panel->isVisible(), 10000);
    QVERIFY(window->screen()->availableGeometry().intersects(panel->frameGeometry()));
    window.reset();

    // A file that will not be saved says so where the operator looks, and stays as it was.
    const QByteArray broken("[Files\nFlashXMLFile=/loads/flash.xml\n");
    QVERIFY(TestFiles::WriteFile(QStringLiteral("pxl_setting.ini"), broken));
    window = std::make_unique<MainWindow>();
    QVERIFY2(window->statusBar()->currentMessage().contains(QStringLiteral("format error")),
             qPrintable(window->statusBar()->currentMessage()));
    window.reset();
    QCOMPARE(TestFiles::ReadFile(QStringLiteral("pxl_setting.ini")), broken);
}

void MainWindowTest::stationPanelStaysOffTheButtons_data()
{
    QTest::addColumn<QSize>("screen");
    QTest::addColumn<bool>("beside");
    QTest::addColumn<bool>("quit");
    QTest::newRow("1600x1000, Quit") << QSize(1600, 1000) << true << true;
    QTest::newRow("1600x1000, SIGTERM") << QSize(1600, 1000) << true << false;
    QTest::newRow("1366x768, Quit") << QSize(1366, 768) << false << true;
    QTest::newRow("1366x768, SIGTERM") << QSize(1366, 768) << false << false;
}

// The real window on a screen of a factory's size (an X server in memory), started twice from a fresh
// station with no load chosen: the panel's first place hides none of the window's buttons, and the second
// start finds the panel and the window where the first one ended, by a Quit or by SIGTERM.
void MainWindowTest::stationPanelStaysOffTheButtons()
{
#if defined(__SANITIZE_THREAD__)
    // The program runs under Xvfb on Qt's xcb platform, which is not built with ThreadSanitizer: the reports
    // are of xcb's own locking, not of ours.
    QSKIP("the window under Xvfb is not judged by ThreadSanitizer");
#endif
    QFETCH(QSize, screen);
    QFETCH(bool, beside);
    QFETCH(bool, quit);
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("xvfb-run"));
    QVERIFY2(!xvfb.isEmpty(), "xvfb-run is missing: scripts/setup-deps installs it");
    const QString work = QDir::current().absoluteFilePath(
        QStringLiteral("screen-%1-%2").arg(screen.width()).arg(quit ? QStringLiteral("quit") : QStringLiteral("term")));
    QDir(work).removeRecursively();
    QVERIFY(QDir().mkpath(work));
    QVERIFY(QFile::copy(QCoreApplication::applicationDirPath() + QStringLiteral("/Praxilo"), work + QStringLiteral("/Praxilo")));
    const auto run = [&](bool quitting) {
        QFile::remove(work + QStringLiteral("/report"));
        ChildProcess window;
        QProcessEnvironment environment =
            OperatedEnvironment(QDir::current().absoluteFilePath(QStringLiteral("farm.ini")), work + QStringLiteral("/data"));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        environment.insert(QStringLiteral("PXL_OPERATOR_REPORT"), work + QStringLiteral("/report"));
        environment.insert(QStringLiteral("PXL_OPERATOR_QUIT"), quitting ? QStringLiteral("1") : QStringLiteral("0"));
        window.setProcessEnvironment(environment);
        window.setStandardErrorFile(work + QStringLiteral("/window.err"), QIODevice::Append);
        // A display of this process's own: other test runs start servers at the same time.
        window.start(xvfb, {QStringLiteral("-a"), QStringLiteral("-n"), QString::number(1000 + QCoreApplication::applicationPid() % 20000), QStringLiteral("-s"),
                            QStringLiteral("-screen 0 %1x%2x24").arg(screen.width()).arg(screen.height()),
                            work + QStringLiteral("/Praxilo")});
        QMap<QString, QRect> places;
        if (!window.waitForStarted() || !QTest::qWaitFor([&work] { return QFile::exists(work + QStringLiteral("/report")); }, 60000))
            return places;
        for (const QString& line : QString::fromUtf8(TestFiles::ReadFile(work + QStringLiteral("/report"))).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            const QStringList f = line.split(QLatin1Char(' '));
            places[f[0]] = f.size() == 5 ? QRect(f[1].toInt(), f[2].toInt(), f[3].toInt(), f[4].toInt()) : QRect(f[1].toInt(), 0, 1, 1);
        }
        if (!quitting)
            ::kill(static_cast<pid_t>(places.value(QStringLiteral("pid")).x()), SIGTERM);
        if (!window.waitForFinished(60000) || window.exitCode() != 0)
            places.clear();
        return places;
    };
    const QMap<QString, QRect> first = run(quit);
    QVERIFY2(first.contains(QStringLiteral("panel")), qPrintable(QString::fromUtf8(TestFiles::ReadFile(work + QStringLiteral("/window.err")))));
    const QRect panel = first.value(QStringLiteral("panel"));
    QCOMPARE(first.value(QStringLiteral("window")).size(), QSize(1309, 711));
    QVERIFY(first.value(QStringLiteral("screen")).contains(panel));
    QCOMPARE(panel.intersects(first.value(QStringLiteral("window"))), !beside);
    const QStringList buttons = first.keys().filter(QStringLiteral("button:"));
    QVERIFY(buttons.size() >= 6);
    for (const QString& button : buttons)
        QVERIFY2(!first.value(button).intersects(panel), qPrintable(button));
    const QMap<QString, QRect> second = run(true);
    QCOMPARE(second.value(QStringLiteral("panel")), panel);
    QCOMPARE(second.value(QStringLiteral("window")), first.value(QStringLiteral("window")));
}

// Narrow, the panel shows each row's essentials and the rest in its tooltip; neither a click in it nor the
// window's activation gives the keyboard to the target; one key shows and hides it.
void MainWindowTest::stationPanelNarrowFocusAndKey()
{
    auto window = NewWindow();
    window->show();
    auto* panel = window->findChild<StationPanel*>(QStringLiteral("dockStationPanel"));
    QTRY_VERIFY_WITH_TIMEOUT(panel->isVisible(), 10000);
    auto* rows = panel->findChild<QTableWidget*>(QStringLiteral("twStationRows"));
    rows->item(2, StationPanel::Reason)->setText(QStringLiteral("no device"));
    panel->resize(300, panel->height());
    QTRY_VERIFY_WITH_TIMEOUT(rows->isColumnHidden(StationPanel::Reason), 10000);
    QVERIFY(!rows->isColumnHidden(StationPanel::Port) && !rows->isColumnHidden(StationPanel::Last));
    QVERIFY(panel->Columns().RowToolTip(2, StationPanel::Port).contains(QStringLiteral("Reason: no device")));
    QVERIFY(rows->viewport()->height() >= 16 * rows->rowHeight(0));
    panel->resize(1200, panel->height());
    QTRY_VERIFY_WITH_TIMEOUT(!rows->isColumnHidden(StationPanel::Flags), 10000);

    auto* target = panel->findChild<QSpinBox*>(QStringLiteral("sbStationTarget"));
    QApplication::setActiveWindow(panel);
    QVERIFY(QApplication::focusWidget() != target);
    QTest::mouseClick(target, Qt::LeftButton);
    QCOMPARE(QApplication::focusWidget(), target);
    QTest::mouseClick(rows->viewport(), Qt::LeftButton);
    QCOMPARE(QApplication::focusWidget(), panel->widget());
    QTest::keyClick(panel->widget(), Qt::Key_Up);
    QCOMPARE(target->value(), 0);

    QTest::keyClick(panel->widget(), Qt::Key_F9);
    QVERIFY(panel->isHidden());
    QApplication::setActiveWindow(window.get());
    QTest::keyClick(window.get(), Qt::Key_F9);
    QVERIFY(panel->isVisible());
    // Docked, it widens the window; undocked, the window gets its own width back.
    panel->setFloating(false);
    QTRY_VERIFY_WITH_TIMEOUT(window->width() > 1309, 10000);
    panel->setFloating(true);
    QTRY_COMPARE_WITH_TIMEOUT(window->width(), 1309, 10000);
    prompt.answer = true;
    QVERIFY(window->close());
}

// A shift on a farm whose second port never connects: the panel's figures are the records' own; that row shows
// it is out of auto polling, and why.
void MainWindowTest::stationPanelCountsWhatTheRecordsHold()
{
    QVERIFY(ConfigureFarm(QStringLiteral("faulty.ini"),
                          QStringLiteral("[Farm]\nTimeScale=0\nLinkMBps=0\n[Port-%1]\nFail=connect\nFailEvery=1\n").arg(PortName(1))));
    const qint64 since = QDateTime::currentMSecsSinceEpoch();
    auto window = NewWindow();
    window->show();
    window->SetElementContent(QStringLiteral("leFlashXmlPath"), load.flashXmlPath);
    window->SetElementCheck(QStringLiteral("rbFormatDownload"), true);
    window->SetElementCheck(QStringLiteral("cbAutoPolling"), true);
    for (uint row = 0; row < 16; ++row)
        window->SetPortSelectState(row, 2);
    QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("btnStartAll")), Qt::LeftButton);
    auto* panel = window->findChild<StationPanel*>(QStringLiteral("dockStationPanel"));
    QTRY_VERIFY_WITH_TIMEOUT(panel->Model().Station(QDateTime::currentDateTimeUtc()).ok >= 32 &&
                                 panel->Model().Row(1, QDateTime::currentDateTimeUtc()).quarantined, 30000);
    QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("btnStopAll")), Qt::LeftButton);
    // A row's own counts are ahead of its stored records until its worker has ended.
    QTRY_VERIFY_WITH_TIMEOUT(!AnyPortBusy(*window), 20000);

    StationReport::Report report;
    int okNotVerified = -1;
    {
        QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("panel"));
        database.setDatabaseName(StationDatabase::Path(StationRecordWriter::DefaultFolder()));
        QVERIFY(database.open());
        QString error;
        StationReport::Filter filter;
        filter.sinceMs = since;
        QVERIFY2(StationReport::Compute(database, filter, report, error), qPrintable(error));
        QSqlQuery unverified(QStringLiteral("SELECT COUNT(*) FROM attempt WHERE result = 'OK' AND start_ms >= %1 "
                                            "AND verified_images < images_written").arg(since), database);
        QVERIFY(unverified.next());
        okNotVerified = unverified.value(0).toInt();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("panel"));
    // Every record reaches the panel through the event queue after it is stored.
    QTRY_COMPARE_WITH_TIMEOUT(panel->Model().Station(QDateTime::currentDateTimeUtc()).Attempts(),
                              int(report.station.attempts), 10000);
    const PanelStationFigures station = panel->Model().Station(QDateTime::currentDateTimeUtc());
    QCOMPARE(station.ok, int(report.station.ok));
    QCOMPARE(station.failed, int(report.station.fail));
    QVERIFY(station.failed > 0);
    QCOMPARE(station.okNotVerified, okNotVerified);
    for (const StationReport::Group& row : report.rows) {
        const PanelRowFigures figures = panel->Model().Row(row.key.toInt() - 1, QDateTime::currentDateTimeUtc());
        QCOMPARE(QVector<qint64>({figures.ok, figures.failed, figures.cancelled}), QVector<qint64>({row.ok, row.fail, row.canl}));
    }
    const PanelRowFigures faulty = panel->Model().Row(1, QDateTime::currentDateTimeUtc());
    QCOMPARE(faulty.failedStage, QStringLiteral("connect"));
    QCOMPARE(faulty.recentFailureRate, 1.0);
    panel->Refresh();
    auto* rows = panel->findChild<QTableWidget*>(QStringLiteral("twStationRows"));
    QCOMPARE(rows->item(1, StationPanel::Fail)->text(), QString::number(faulty.failed));
    QCOMPARE(rows->item(1, StationPanel::Reason)->toolTip(), faulty.lastError);
    QVERIFY(faulty.lastError.contains(PortName(1)));
    QCOMPARE(rows->item(1, StationPanel::Last)->text(), QStringLiteral("QUARANTINED"));
    QTRY_COMPARE_WITH_TIMEOUT(rows->item(1, StationPanel::Last)->toolTip(),
                              Table(*window)->item(1, PortTableColumn::Message)->text(), 10000);
    prompt.answer = true;
    QVERIFY(window->close());
    window.reset();
    QVERIFY(ConfigureFarm(QStringLiteral("farm.ini"), QStringLiteral("[Farm]\nTimeScale=0\nLinkMBps=0\n")));
}

void MainWindowTest::stationPanelTargetEndsAutoPolling_data()
{
    QTest::addColumn<int>("target");
    QTest::addColumn<int>("devicesPerPort");
    QTest::addColumn<int>("fewestOk");
    QTest::addColumn<int>("mostOk");
    QTest::addColumn<QString>("shown");
    // Four rows: devices already being written when the target is met finish and count.
    QTest::newRow("target met") << 5 << 0 << 5 << 8 << QStringLiteral("Target met");
    QTest::newRow("rows end first") << 10 << 2 << 8 << 8 << QStringLiteral("Remaining: 2");
}

// The panel's target reaches the port manager at Start All; without it auto polling would never end here.
void MainWindowTest::stationPanelTargetEndsAutoPolling()
{
    QFETCH(int, target);
    QFETCH(int, devicesPerPort);
    QFETCH(int, fewestOk);
    QFETCH(int, mostOk);
    QFETCH(QString, shown);
    auto window = NewWindow();
    window->show();
    auto* spinBox = window->findChild<QSpinBox*>(QStringLiteral("sbStationTarget"));
    QVERIFY(spinBox->isEnabled());
    QCOMPARE(spinBox->text(), QStringLiteral("None"));
    spinBox->setValue(target);
    QCOMPARE(window->Ports().GetTarget(), 0);
    window->Ports().SetDevicesPerPort(devicesPerPort);
    window->SetElementContent(QStringLiteral("leFlashXmlPath"), load.flashXmlPath);
    window->SetElementCheck(QStringLiteral("rbFormatDownload"), true);
    window->SetElementCheck(QStringLiteral("cbAutoPolling"), true);
    for (uint row = 0; row < 4; ++row)
        window->SetPortSelectState(row, 2);
    QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("btnStartAll")), Qt::LeftButton);
    QCOMPARE(window->Ports().GetTarget(), target);
    QTRY_VERIFY_WITH_TIMEOUT(!AnyPortBusy(*window), 30000);
    const int ok = window->Ports().GetTotalPollingTimes();
    QVERIFY2(ok >= fewestOk && ok <= mostOk, qPrintable(QString::number(ok)));
    QTRY_COMPARE_WITH_TIMEOUT(window->findChild<QLabel*>(QStringLiteral("lblTargetRemaining"))->text(), shown, 10000);
    prompt.answer = true;
    QVERIFY(window->close());
}
