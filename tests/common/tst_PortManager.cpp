// Sixteen ports driven by the port manager against the farm, served by a front end in this thread: what
// starts, what is counted, what the rows show, and that every stop and exit is honoured without a hang.
#include "PortTestSupport.h"
#include "TestFrontEnd.h"

#include "common/PortManager.h"

#include <QDir>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

using namespace PortTestSupport;
using ParserTestSupport::LogCapture;

namespace {

const QString kWorkerTag = QStringLiteral("PortManager::ExecuteDownloadThread");
const QString kFastFarm = QStringLiteral("[Farm]\nTimeScale=0\nLinkMBps=0\n");
// Real time, so a transfer of a few megabytes lasts long enough to be stopped in the middle.
const QString kSlowLinkFarm =
    QStringLiteral("[Farm]\nTimeScale=1\nArrivalMs=0\nArrivalStepMs=0\nConnectMs=0\nDaLoadMs=0\nEraseMs=0\n"
                   "LinkMBps=4\n");
constexpr int kSlowImageSize = 16 * 1024 * 1024;

// The port manager with a front end, both destroyed in the order the window destroys them.
struct Station
{
    Station() : manager(std::make_unique<PortManager>()), frontEnd(*manager)
    {
        BindPorts(*manager);
        frontEnd.checks[QStringLiteral("rbFormatDownload")] = true;
        frontEnd.runtimeParameters.checksumLevel = 1;
        frontEnd.runtimeParameters.systemOs = QStringLiteral("WINDOWS");
    }

    void Select(std::initializer_list<int> rows)
    {
        for (int row : rows)
            frontEnd.rowSelected[row] = true;
    }

    bool AnyBusy() const
    {
        for (int i = 0; i < PortManager::kPortCount; ++i) {
            if (manager->IsPortBusy(i))
                return true;
        }
        return false;
    }

    std::unique_ptr<PortManager> manager;
    TestFrontEnd frontEnd;
};

// Replays the history and reports any point where the controls were enabled while one of the rows
// still showed INIT or RUN.
QString ControlsEnabledWhileRunning(const QStringList& history)
{
    QSet<int> active;
    for (const QString& line : history) {
        const QStringList parts = line.split(QLatin1Char(' '));
        if (parts.size() >= 4 && parts[0] == QLatin1String("cell") && parts[2] == QLatin1String("1")) {
            const bool running = parts[3] == QLatin1String("INIT") || parts[3] == QLatin1String("RUN");
            if (running)
                active.insert(parts[1].toInt());
            else
                active.remove(parts[1].toInt());
        }
        if (line == QLatin1String("enabled btnStartAll 1") && !active.isEmpty())
            return QStringLiteral("controls enabled while row %1 ran").arg(*active.begin());
    }
    return QString();
}

int WorkerLines(const LogCapture& log, const QString& fragment) { return log.CountContaining(kWorkerTag, fragment); }

} // namespace

class PortManagerTest : public QObject
{
    Q_OBJECT

private:
    simtest::SampleLoad load;
    simtest::SampleLoad slowLoad;

private Q_SLOTS:
    void initTestCase();
    void startAllStartsExactlyTheSelectedRows_data();
    void startAllStartsExactlyTheSelectedRows();
    void startWithoutAFlashXmlIsRefusedAndToldOnce_data();
    void startWithoutAFlashXmlIsRefusedAndToldOnce();
    void theNextDeviceOnARowStartsWithoutTheLastOnesError();
    void autoPollingCountsEveryDeviceOnSixteenPorts();
    void autoPollingWithFailingSessionsIsPacedAndNeverCounts();
    void faultAtEachStageEndsTheRowInFail_data();
    void faultAtEachStageEndsTheRowInFail();
    void stopEndsTheWorkerPromptly_data();
    void stopEndsTheWorkerPromptly();
    void stopAllWhileNothingRunsCancelsTheSelectedRows();
    void destroyingTheManagerMidTransferStopsEveryPort();
    void busyPortRefusesStartUntilItsLastDisplayIsApplied();
    void elapsedTimeText_data();
    void elapsedTimeText();
    void timerFirstTickAfterOneSecond();
};

void PortManagerTest::initTestCase()
{
    ParserTestSupport::StartLogging();
    load = WriteStationLoad(QDir::current().absoluteFilePath(QStringLiteral("load")));
    slowLoad = WriteStationLoad(QDir::current().absoluteFilePath(QStringLiteral("slowload")), kSlowImageSize);
}

void PortManagerTest::startAllStartsExactlyTheSelectedRows_data()
{
    QTest::addColumn<bool>("typedSettings");
    QTest::newRow("the window read by name") << false;
    QTest::newRow("settings handed over") << true;
}

void PortManagerTest::startAllStartsExactlyTheSelectedRows()
{
    QFETCH(bool, typedSettings);
    QVERIFY(ConfigureFarm(QStringLiteral("fast.ini"), kFastFarm));
    Station station;
    station.frontEnd.contents[QStringLiteral("leFlashXmlPath")] = load.flashXmlPath;
    station.Select({2, 5});
    if (typedSettings) {
        RunSettings settings;
        settings.scene = RunSettings::Scene::FormatDownload;
        settings.flashXmlPath = load.flashXmlPath;
        settings.selectedRows[2] = settings.selectedRows[5] = true;
        settings.runtimeParameters = station.frontEnd.runtimeParameters;
        station.frontEnd.rowSelected.fill(false);
        station.manager->SetRunSettings(settings);
    }
    station.manager->StartAll();
    QVERIFY(station.manager->IsPortBusy(2) && station.manager->IsPortBusy(5));
    QTRY_VERIFY_WITH_TIMEOUT(!station.AnyBusy(), 20000);

    for (int row = 0; row < PortManager::kPortCount; ++row) {
        const bool started = row == 2 || row == 5;
        QCOMPARE(station.frontEnd.HistoryOfRow(row).isEmpty(), !started);
        QCOMPARE(station.manager->Device(row).GetStages().isEmpty(), !started);
        if (started) {
            QCOMPARE(station.frontEnd.Cell(row, 1), QStringLiteral("OK"));
            QCOMPARE(station.frontEnd.Icon(row, 1), QStringLiteral(":image/status_ok.png"));
            QCOMPARE(station.frontEnd.Cell(row, 7), QStringLiteral("Operation Done"));
            QCOMPARE(station.frontEnd.Cell(row, 8), QStringLiteral("No Error"));
            QVERIFY(station.frontEnd.CellEnabled(row, 0));
            QVERIFY(station.frontEnd.CellEnabled(row, 5));
        }
        QCOMPARE(station.frontEnd.RowStateMismatch(row, station.manager->GetRowState(row)), QString());
    }
    QCOMPARE(station.frontEnd.gets == 0, typedSettings);
    QCOMPARE(station.frontEnd.ContentHistory(QStringLiteral("lblPollingTimes")),
             (QStringList{"Polling Times: 0", "Polling Times: 1", "Polling Times: 2"}));
    QCOMPARE(station.manager->GetRunningPortMask(), 0u);
    QVERIFY(station.frontEnd.ControlsEnabled());
    QCOMPARE(ControlsEnabledWhileRunning(station.frontEnd.history), QString());
    QCOMPARE(station.frontEnd.getsOffThread, 0);
}

void PortManagerTest::startWithoutAFlashXmlIsRefusedAndToldOnce_data()
{
    QTest::addColumn<QString>("flashXml");
    QTest::addColumn<QString>("told");
    QTest::newRow("none chosen") << QString() << QStringLiteral("No flash XML is chosen.");
    QTest::newRow("gone") << QStringLiteral("/gone/flash.xml") << QStringLiteral("The flash XML does not exist:\n/gone/flash.xml");
}

void PortManagerTest::startWithoutAFlashXmlIsRefusedAndToldOnce()
{
    QFETCH(QString, flashXml);
    QFETCH(QString, told);
    Station station;
    station.frontEnd.contents[QStringLiteral("leFlashXmlPath")] = flashXml;
    station.frontEnd.rowSelected.fill(true);
    station.manager->StartAll();
    station.manager->Start(3);
    const QString box = QStringLiteral("Critical|Start|%1\nChoose the load with Open, then start again.").arg(told);
    // Once per click, and no row, port or device touched.
    QCOMPARE(station.frontEnd.prompts, (QStringList{box, box}));
    QCOMPARE(station.frontEnd.history, QStringList());
    QVERIFY(!station.AnyBusy());
}

void PortManagerTest::theNextDeviceOnARowStartsWithoutTheLastOnesError()
{
    // The second device drops out mid-transfer; the third is written.
    QVERIFY(ConfigureFarm(QStringLiteral("second.ini"),
                          kFastFarm + QStringLiteral("DevicesPerPort=3\n[Port-COM3]\nFail=transfer:40\nFailEvery=2\n")));
    Station station;
    station.manager->SetFailurePace(std::chrono::milliseconds(0));
    station.frontEnd.contents[QStringLiteral("leFlashXmlPath")] = load.flashXmlPath;
    station.frontEnd.checks[QStringLiteral("cbAutoPolling")] = true;
    station.Select({0});
    station.manager->StartAll();
    QTRY_COMPARE_WITH_TIMEOUT(station.frontEnd.contents.value(QStringLiteral("lblPollingTimes")),
                              QStringLiteral("Polling Times: 2"), 20000);
    QVERIFY(!station.frontEnd.HistoryOfRow(0).filter(QRegularExpression(QStringLiteral("^cell 0 8 (?!No Error)"))).isEmpty());
    QCOMPARE(station.frontEnd.Cell(0, 8), QStringLiteral("No Error"));
    QCOMPARE(station.manager->Device(0).GetLastError(), QStringLiteral("No Error Occurred"));
}

void PortManagerTest::autoPollingCountsEveryDeviceOnSixteenPorts()
{
    QVERIFY(ConfigureFarm(QStringLiteral("three.ini"), kFastFarm + QStringLiteral("DevicesPerPort=3\n")));
    const LogCapture log;
    Station station;
    station.frontEnd.contents[QStringLiteral("leFlashXmlPath")] = load.flashXmlPath;
    station.frontEnd.checks[QStringLiteral("cbAutoPolling")] = true;
    for (int row = 0; row < PortManager::kPortCount; ++row)
        station.Select({row});
    station.manager->StartAll();
    QTRY_COMPARE_WITH_TIMEOUT(station.manager->GetTotalPollingTimes(), 48, 60000);
    QTRY_COMPARE_WITH_TIMEOUT(station.frontEnd.contents.value(QStringLiteral("lblPollingTimes")),
                              QStringLiteral("Polling Times: 48"), 10000);
    // Every port waits for a fourth device: nothing has ended, so the controls stay disabled.
    QVERIFY(!station.frontEnd.ControlsEnabled());
    QCOMPARE(ControlsEnabledWhileRunning(station.frontEnd.history), QString());

    station.manager->StopAll();
    QTRY_VERIFY_WITH_TIMEOUT(!station.AnyBusy(), 20000);

    QStringList expectedLabels;
    for (int total = 0; total <= 48; ++total)
        expectedLabels << QStringLiteral("Polling Times: %1").arg(total);
    QCOMPARE(station.frontEnd.ContentHistory(QStringLiteral("lblPollingTimes")), expectedLabels);
    for (int row = 0; row < PortManager::kPortCount; ++row) {
        for (int device = 1; device <= 3; ++device) {
            QCOMPARE(WorkerLines(log, QStringLiteral("[%1]Download Success,DevicePollingTimes:%2,")
                                          .arg(PortName(row))
                                          .arg(device)),
                     1);
        }
        QCOMPARE(WorkerLines(log, QStringLiteral("[%1]Download Success,DevicePollingTimes:4,").arg(PortName(row))),
                 0);
        QCOMPARE(station.manager->Device(row).GetPollingTimes(), 3);
        QCOMPARE(station.frontEnd.RowStateMismatch(row, station.manager->GetRowState(row)), QString());
    }
    QCOMPARE(WorkerLines(log, QStringLiteral("Total PollingTimes:48.")), 1);
    QCOMPARE(station.manager->GetRunningPortMask(), 0u);
    QVERIFY(station.frontEnd.ControlsEnabled());
}

void PortManagerTest::autoPollingWithFailingSessionsIsPacedAndNeverCounts()
{
    QVERIFY(ConfigureFarm(QStringLiteral("failing.ini"), kFastFarm + QStringLiteral("[Port-COM3]\nFail=connect\n")));
    const LogCapture log;
    Station station;
    constexpr int kPaceMs = 200;
    station.manager->SetFailurePace(std::chrono::milliseconds(kPaceMs));
    station.manager->SetQuarantineAfter(0); // a row that never leaves auto polling by itself

    station.frontEnd.contents[QStringLiteral("leFlashXmlPath")] = load.flashXmlPath;
    station.frontEnd.checks[QStringLiteral("cbAutoPolling")] = true;
    station.Select({0});
    QElapsedTimer clock;
    clock.start();
    station.manager->StartAll();
    QTRY_VERIFY_WITH_TIMEOUT(WorkerLines(log, QStringLiteral("[COM3]Download Fail,Last Error:")) >= 4, 20000);
    // Four failed sessions, each stretched to the pace before the next began.
    QVERIFY(clock.elapsed() >= 3 * kPaceMs);
    QVERIFY(station.manager->IsPortBusy(0));

    station.manager->Stop(0);
    QTRY_VERIFY_WITH_TIMEOUT(!station.AnyBusy(), 5000);
    QCOMPARE(station.manager->GetTotalPollingTimes(), 0);
    QCOMPARE(station.frontEnd.ContentHistory(QStringLiteral("lblPollingTimes")), QStringList{"Polling Times: 0"});
    QCOMPARE(WorkerLines(log, QStringLiteral("Download Success")), 0);
    // FAIL when the stop came between two sessions, CANL when it ended one.
    QVERIFY(QStringList({"FAIL", "CANL"}).contains(station.frontEnd.Cell(0, 1)));
}

void PortManagerTest::faultAtEachStageEndsTheRowInFail_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("checksumLevel");
    QTest::newRow("scan") << QStringLiteral("Fail=scan") << 1;
    QTest::newRow("connect") << QStringLiteral("Fail=connect") << 1;
    QTest::newRow("enter mode") << QStringLiteral("Fail=enter") << 1;
    QTest::newRow("command") << QStringLiteral("Fail=command:CMD:FLASH-ALL") << 1;
    QTest::newRow("transfer") << QStringLiteral("Fail=transfer:40") << 1;
    QTest::newRow("checksum callback") << QStringLiteral("CorruptImage=system.img") << 2;
}

void PortManagerTest::faultAtEachStageEndsTheRowInFail()
{
    QFETCH(QString, fault);
    QFETCH(int, checksumLevel);
    QVERIFY(ConfigureFarm(QStringLiteral("fault.ini"), kFastFarm + QStringLiteral("[Port-COM3]\n%1\n").arg(fault)));
    const LogCapture log;
    Station station;
    station.frontEnd.contents[QStringLiteral("leFlashXmlPath")] = load.flashXmlPath;
    station.frontEnd.runtimeParameters.checksumLevel = checksumLevel;
    station.Select({0});
    station.manager->StartAll();
    QTRY_VERIFY_WITH_TIMEOUT(!station.AnyBusy(), 20000);

    const QString lastError = station.manager->Device(0).GetLastError();
    QCOMPARE(station.frontEnd.Cell(0, 1), QStringLiteral("FAIL"));
    QCOMPARE(station.frontEnd.Icon(0, 1), QStringLiteral(":image/status_fail.png"));
    QCOMPARE(station.frontEnd.Cell(0, 7), QString());
    QCOMPARE(station.frontEnd.Cell(0, 8), lastError);
    QCOMPARE(station.frontEnd.RowStateMismatch(0, station.manager->GetRowState(0)), QString());
    if (checksumLevel == 1)
        QVERIFY2(!lastError.isEmpty() && lastError != QLatin1String("No Error Occurred"), qPrintable(lastError));
    QCOMPARE(WorkerLines(log, QStringLiteral("[COM3]Download Fail,Last Error:%1.").arg(lastError)), 1);
    QCOMPARE(station.manager->GetTotalPollingTimes(), 0);
    QVERIFY(station.frontEnd.ControlsEnabled());
}

void PortManagerTest::stopEndsTheWorkerPromptly_data()
{
    QTest::addColumn<bool>("duringTransfer");
    QTest::newRow("during the scan") << false;
    QTest::newRow("during the transfer") << true;
}

void PortManagerTest::stopEndsTheWorkerPromptly()
{
    QFETCH(bool, duringTransfer);
    QVERIFY(ConfigureFarm(QStringLiteral("stop.ini"),
                          duringTransfer ? kSlowLinkFarm : kFastFarm + QStringLiteral("[Port-COM3]\nAbsent=true\n")));
    const LogCapture log;
    Station station;
    station.frontEnd.contents[QStringLiteral("leFlashXmlPath")] =
        duringTransfer ? slowLoad.flashXmlPath : load.flashXmlPath;
    station.frontEnd.checks[QStringLiteral("cbAutoPolling")] = true;
    station.Select({0});
    station.manager->StartAll();
    if (duringTransfer) {
        QTRY_VERIFY_WITH_TIMEOUT(station.frontEnd.Cell(0, 7).startsWith(QStringLiteral("Downloading")), 20000);
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(!station.manager->Device(0).GetStages().isEmpty(), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(station.frontEnd.Cell(0, 7), QStringLiteral("Running"), 5000);
    }

    station.manager->Stop(0);
    QTRY_VERIFY_WITH_TIMEOUT(!station.manager->IsPortBusy(0), 2000);
    // The cancellation showed at once, and the session the stop ended keeps it, as its record does.
    const QStringList row = station.frontEnd.HistoryOfRow(0);
    const int cancelled = row.indexOf(QStringLiteral("cell 0 1 CANL"));
    QVERIFY(cancelled >= 0);
    QCOMPARE(row.value(cancelled + 1), QStringLiteral("cell 0 7 User Cancel"));
    QVERIFY(!row.mid(cancelled).contains(QStringLiteral("cell 0 1 FAIL")));

    const QString lastError = station.manager->Device(0).GetLastError();
    QVERIFY(!lastError.isEmpty());
    QCOMPARE(station.frontEnd.Cell(0, 1), QStringLiteral("CANL"));
    QCOMPARE(station.frontEnd.Cell(0, 7), QStringLiteral("User Cancel"));
    QCOMPARE(station.frontEnd.Cell(0, 8), lastError);
    QCOMPARE(station.frontEnd.RowStateMismatch(0, station.manager->GetRowState(0)), QString());
    QCOMPARE(WorkerLines(log, QStringLiteral("[COM3]Download Fail,Last Error:%1.").arg(lastError)), 1);
    QCOMPARE(WorkerLines(log, QStringLiteral("Download Fail")), 1);
    QVERIFY(station.frontEnd.ControlsEnabled());
}

void PortManagerTest::stopAllWhileNothingRunsCancelsTheSelectedRows()
{
    QVERIFY(ConfigureFarm(QStringLiteral("fast.ini"), kFastFarm));
    Station station;
    station.Select({1, 9});
    station.manager->StopAll();
    QTRY_VERIFY_WITH_TIMEOUT(station.frontEnd.ControlsEnabled() && station.frontEnd.enabled.size() == 11, 5000);
    for (int row = 0; row < PortManager::kPortCount; ++row) {
        const bool selected = row == 1 || row == 9;
        QCOMPARE(station.frontEnd.Cell(row, 1), selected ? QStringLiteral("CANL") : QString());
        QCOMPARE(station.frontEnd.Cell(row, 7), selected ? QStringLiteral("User Cancel") : QString());
    }
    QVERIFY(station.frontEnd.ControlsEnabled());
    QCOMPARE(station.frontEnd.enabled.size(), 11);
}

void PortManagerTest::destroyingTheManagerMidTransferStopsEveryPort()
{
    QVERIFY(ConfigureFarm(QStringLiteral("slow.ini"), kSlowLinkFarm));
    Station station;
    station.frontEnd.contents[QStringLiteral("leFlashXmlPath")] = slowLoad.flashXmlPath;
    station.frontEnd.checks[QStringLiteral("cbAutoPolling")] = true;
    for (int row = 0; row < PortManager::kPortCount; ++row)
        station.Select({row});
    station.manager->StartAll();
    QTRY_VERIFY_WITH_TIMEOUT(
        [&station] {
            for (int row = 0; row < PortManager::kPortCount; ++row) {
                if (!station.frontEnd.Cell(row, 7).startsWith(QStringLiteral("Downloading")))
                    return false;
            }
            return true;
        }(),
        60000);

    QElapsedTimer clock;
    clock.start();
    station.manager.reset();
    // Each worker is stopped and joined; without that the destructor would block for whole transfers.
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(quillon_create_session() == nullptr);
}

void PortManagerTest::busyPortRefusesStartUntilItsLastDisplayIsApplied()
{
    QVERIFY(ConfigureFarm(QStringLiteral("fast.ini"), kFastFarm));
    Station station;
    station.frontEnd.contents[QStringLiteral("leFlashXmlPath")] = load.flashXmlPath;
    station.Select({3});
    station.manager->Start(3);

    // Without the event loop the worker's displays stay queued: the session ends, the port stays busy.
    QElapsedTimer clock;
    clock.start();
    while (station.manager->Device(3).GetStatus() != PortStatus::OK && clock.elapsed() < 20000)
        QThread::yieldCurrentThread();
    QCOMPARE(station.manager->Device(3).GetStatus(), PortStatus::OK);
    const QStringList before = station.frontEnd.history;
    const int commands = station.manager->Device(3).GetCommands().size();
    station.manager->Start(3);
    QCOMPARE(station.frontEnd.history, before);
    QCOMPARE(station.manager->Device(3).GetCommands().size(), commands);
    QVERIFY(station.manager->IsPortBusy(3));

    QTRY_VERIFY_WITH_TIMEOUT(!station.manager->IsPortBusy(3), 20000);
    const int restart = station.frontEnd.history.size();
    station.manager->Start(3);
    QTRY_VERIFY_WITH_TIMEOUT(!station.manager->IsPortBusy(3), 20000);
    const QStringList second = station.frontEnd.history.mid(restart);
    QCOMPARE(second.filter(QStringLiteral("cell 3 7 INIT")).size(), 1);
    QCOMPARE(second.filter(QRegularExpression(QStringLiteral("^cell 3 1 (OK|FAIL|CANL)$"))),
             QStringList{"cell 3 1 OK"});
    QVERIFY(second.indexOf(QStringLiteral("cell 3 7 INIT")) < second.indexOf(QStringLiteral("cell 3 1 RUN")));
    QVERIFY(second.indexOf(QStringLiteral("cell 3 1 RUN")) < second.indexOf(QStringLiteral("cell 3 1 OK")));
}

void PortManagerTest::elapsedTimeText_data()
{
    QTest::addColumn<qint64>("milliseconds");
    QTest::addColumn<QString>("text");
    QTest::newRow("nothing yet") << qint64(0) << QStringLiteral("00 : 00");
    QTest::newRow("nine seconds") << qint64(9000) << QStringLiteral("00 : 09");
    QTest::newRow("just under a minute") << qint64(59999) << QStringLiteral("00 : 59");
    QTest::newRow("a minute and five") << qint64(65400) << QStringLiteral("01 : 05");
    QTest::newRow("past two digits") << qint64(6005000) << QStringLiteral("100 : 05");
    QTest::newRow("negative seconds") << qint64(-5000) << QStringLiteral("00 : -5");
    QTest::newRow("negative minutes") << qint64(-65000) << QStringLiteral("00 : -5");
}

void PortManagerTest::elapsedTimeText()
{
    QFETCH(qint64, milliseconds);
    QTEST(PortTimer::FormatElapsed(milliseconds), "text");
}

void PortManagerTest::timerFirstTickAfterOneSecond()
{
    PortTimer timer;
    timer.SetIndex(6);
    QSignalSpy ticks(&timer, &PortTimer::SigNotifyTimeout);
    for (int round = 0; round < 2; ++round) {
        ticks.clear();
        timer.Start(1000);
        QTRY_VERIFY_WITH_TIMEOUT(!ticks.isEmpty(), 10000);
        timer.Stop();
        QCOMPARE(ticks.at(0).at(0).toInt(), 6);
        const QString text = ticks.at(0).at(1).toString();
        QVERIFY2(text != QLatin1String("00 : 00") && text.startsWith(QStringLiteral("00 : 0")), qPrintable(text));
    }
}

QTEST_GUILESS_MAIN(PortManagerTest)
#include "tst_PortManager.moc"
