// Binding devices to rows with the farm: who gets which device, what a stop cancels, and that a pass
// never touches a running download or leaves a scan waiting out the engine's time-out.
#include "PortTestSupport.h"
#include "TestFrontEnd.h"

#include "common/PortManager.h"

#include <QDir>
#include <QtTest>

#include <memory>

using namespace PortTestSupport;
using ParserTestSupport::LogCapture;

namespace {

const QString kAbsentFarm = QStringLiteral("[Farm]\nTimeScale=0\nAbsent=true\n");

struct Station
{
    Station() : manager(std::make_unique<PortManager>()), frontEnd(*manager) {}
    ~Station() { manager.reset(); }

    void Select(std::initializer_list<int> rows)
    {
        frontEnd.rowSelected.fill(false);
        for (int row : rows)
            frontEnd.rowSelected[row] = true;
    }

    std::unique_ptr<PortManager> manager;
    TestFrontEnd frontEnd;
};

} // namespace

class ScanTest : public QObject
{
    Q_OBJECT

private:
    // A download starts only with a load; these ports wait for devices that never come.
    simtest::SampleLoad load;

private Q_SLOTS:
    void initTestCase();
    void firstRowGetsTheDeviceSecondWaitsForAnother();
    void stopAllCancelsEveryScanOfThePassEvenUnticked();
    void anEarlierStopDoesNotCancelTheNextPass();
    void noSelectedRowOnlyWarns();
    void answeringNoChangesNothing();
    void scanIsRefusedWhileAPortDownloads();
    void rowsOfARunningPassRefuseStartAndTheEndLeavesDownloadsAlone();
    void aPassThatStartsRowsStartsEachAsItsDeviceIsFound();
    void selectAllAndCellClicks();
};

void ScanTest::initTestCase()
{
    ParserTestSupport::StartLogging();
    load = WriteStationLoad(QDir::current().absoluteFilePath(QStringLiteral("load")));
}

void ScanTest::firstRowGetsTheDeviceSecondWaitsForAnother()
{
    // One device at once; the second port's device arrives a second and a half later.
    QVERIFY(ConfigureFarm(QStringLiteral("two.ini"), QStringLiteral("[Farm]\nPorts=2\nTimeScale=1\nArrivalMs=0\n"
                                                                    "ArrivalStepMs=1500\nReenumerateMs=100\n")));
    Station station;
    station.Select({0, 1});
    station.manager->Scan();
    QCOMPARE(station.frontEnd.prompts,
             QStringList{"Ask|Scan Comports|The selected ports will be reset, continue?"});
    QVERIFY(station.manager->IsScanBusy());
    QTRY_VERIFY_WITH_TIMEOUT(!station.manager->IsScanBusy(), 20000);

    QCOMPARE(station.frontEnd.Cell(0, 0), QStringLiteral("COM3+BROM"));
    QCOMPARE(station.frontEnd.Cell(1, 0), QStringLiteral("COM4+BROM"));
    for (int row : {0, 1}) {
        QCOMPARE(station.frontEnd.Cell(row, 1), QStringLiteral("OK"));
        QCOMPARE(station.frontEnd.Cell(row, 7), QStringLiteral("Operation Done"));
        QCOMPARE(station.frontEnd.Cell(row, 8), QStringLiteral("No Error Occurred"));
    }
    for (int row = 2; row < PortManager::kPortCount; ++row) {
        QCOMPARE(station.frontEnd.Cell(row, 0), QStringLiteral("N/A"));
        QCOMPARE(station.frontEnd.Cell(row, 1), QString());
    }
    for (int row = 0; row < PortManager::kPortCount; ++row)
        QCOMPARE(station.frontEnd.RowStateMismatch(row, station.manager->GetRowState(row)), QString());
    QCOMPARE(station.manager->Device(1).GetPortName(), QStringLiteral("COM4"));
    QCOMPARE(station.manager->GetRunningPortMask(), 0u);
    QVERIFY(station.frontEnd.enabled.value(QStringLiteral("btnScan")));
    QVERIFY(station.frontEnd.enabled.value(QStringLiteral("btnStartAll")));
    QVERIFY(station.frontEnd.CellEnabled(1, 5));
}

void ScanTest::stopAllCancelsEveryScanOfThePassEvenUnticked()
{
    QVERIFY(ConfigureFarm(QStringLiteral("absent.ini"), kAbsentFarm));
    Station station;
    station.Select({2, 7});
    station.manager->Scan();
    QTRY_VERIFY_WITH_TIMEOUT(station.frontEnd.history.contains(QStringLiteral("enabled btnScan 0")), 10000);
    // The operator unticks a row that is still waiting in the pass, then stops everything.
    station.frontEnd.rowSelected[7] = false;
    station.manager->StopAll();
    QTRY_VERIFY_WITH_TIMEOUT(!station.manager->IsScanBusy(), 5000);
    for (int row : {2, 7}) {
        QCOMPARE(station.frontEnd.Cell(row, 1), QStringLiteral("CANL"));
        QCOMPARE(station.frontEnd.Cell(row, 7), QStringLiteral("User Cancel"));
        QCOMPARE(station.frontEnd.Icon(row, 1), QStringLiteral(":image/status_fail.png"));
        QCOMPARE(station.frontEnd.RowStateMismatch(row, station.manager->GetRowState(row)), QString());
    }
}

void ScanTest::anEarlierStopDoesNotCancelTheNextPass()
{
    QVERIFY(ConfigureFarm(QStringLiteral("fast.ini"), QStringLiteral("[Farm]\nTimeScale=0\n")));
    Station station;
    station.Select({4});
    station.manager->StopAll();
    station.manager->Scan();
    QTRY_VERIFY_WITH_TIMEOUT(!station.manager->IsScanBusy(), 10000);
    QCOMPARE(station.frontEnd.Cell(4, 1), QStringLiteral("OK"));
    QVERIFY(station.frontEnd.Cell(4, 0).endsWith(QStringLiteral("+BROM")));
}

void ScanTest::noSelectedRowOnlyWarns()
{
    Station station;
    station.manager->Scan();
    QCOMPARE(station.frontEnd.prompts, QStringList{"Warning|Warning|No comport selected. Do nothing."});
    QVERIFY(station.frontEnd.history.isEmpty());
    QVERIFY(!station.manager->IsScanBusy());
}

void ScanTest::answeringNoChangesNothing()
{
    Station station;
    station.Select({1});
    station.frontEnd.askAnswer = false;
    station.manager->Scan();
    QCOMPARE(station.frontEnd.prompts.size(), 1);
    QVERIFY(station.frontEnd.history.isEmpty());
    QVERIFY(!station.manager->IsScanBusy());
}

void ScanTest::scanIsRefusedWhileAPortDownloads()
{
    QVERIFY(ConfigureFarm(QStringLiteral("absent.ini"), kAbsentFarm));
    Station station;
    station.manager->Device(0).SetPortName(PortName(0));
    station.manager->SetScanType(0);
    station.frontEnd.contents[QStringLiteral("leFlashXmlPath")] = load.flashXmlPath;
    station.Select({0});
    station.manager->Start(0);
    const LogCapture log;
    station.manager->Scan();
    QVERIFY(station.frontEnd.prompts.isEmpty());
    QVERIFY(!station.manager->IsScanBusy());
    QCOMPARE(log.Count(QStringLiteral("PortManager::Scan"), QStringLiteral("Ports are downloading; Scan ignored."),
                       QStringLiteral("PortManager")),
             1);
    station.manager->StopAll();
    QTRY_VERIFY_WITH_TIMEOUT(!station.manager->IsPortBusy(0), 5000);
}

void ScanTest::rowsOfARunningPassRefuseStartAndTheEndLeavesDownloadsAlone()
{
    QVERIFY(ConfigureFarm(QStringLiteral("absent.ini"), kAbsentFarm));
    Station station;
    station.manager->SetScanType(0);
    station.Select({3});
    station.manager->Scan();
    QTRY_VERIFY_WITH_TIMEOUT(station.frontEnd.history.contains(QStringLiteral("enabled btnScan 0")), 10000);

    const LogCapture log;
    station.manager->Start(3);
    QVERIFY(!station.manager->IsPortBusy(3));
    QCOMPARE(log.Count(QStringLiteral("PortManager::Start"), QStringLiteral("Port 3 is being scanned; start refused."),
                       QStringLiteral("PortManager")),
             1);

    // A row outside the pass starts a download, which waits for its device; then the pass is stopped.
    station.manager->Device(5).SetPortName(PortName(5));
    station.frontEnd.contents[QStringLiteral("leFlashXmlPath")] = load.flashXmlPath;
    station.frontEnd.rowSelected[5] = true;
    station.manager->Start(5);
    QVERIFY(station.manager->IsPortBusy(5));
    QTRY_VERIFY_WITH_TIMEOUT(station.frontEnd.history.contains(QStringLiteral("enabled btnStartAll 0")), 10000);
    station.manager->Stop(3);
    QTRY_VERIFY_WITH_TIMEOUT(!station.manager->IsScanBusy(), 5000);
    QVERIFY(!station.frontEnd.enabled.value(QStringLiteral("btnScan"), true));
    QVERIFY(!station.frontEnd.enabled.value(QStringLiteral("btnStartAll"), true));
    QVERIFY(!station.frontEnd.CellEnabled(5, 5));
    QVERIFY(station.frontEnd.CellEnabled(3, 5));

    station.manager->Stop(5);
    QTRY_VERIFY_WITH_TIMEOUT(!station.manager->IsPortBusy(5), 5000);
    QVERIFY(station.frontEnd.ControlsEnabled());
}

void ScanTest::aPassThatStartsRowsStartsEachAsItsDeviceIsFound()
{
    // Row 0's device is there at once; row 2's port never gets one, so the pass cannot end until stopped.
    QVERIFY(ConfigureFarm(QStringLiteral("half.ini"),
                          QStringLiteral("[Farm]\nPorts=2\nTimeScale=0\n[Port-COM4]\nAbsent=true\n")));
    Station station;
    station.frontEnd.contents[QStringLiteral("leFlashXmlPath")] = load.flashXmlPath;
    station.Select({0, 2});
    station.manager->ScanAndStart();
    QTRY_VERIFY_WITH_TIMEOUT(station.frontEnd.ContentHistory(QStringLiteral("lblPollingTimes"))
                                 .contains(QStringLiteral("Polling Times: 1")),
                             20000);
    QTRY_VERIFY_WITH_TIMEOUT(!station.manager->IsPortBusy(0), 10000);
    QVERIFY(station.manager->IsScanBusy());
    QCOMPARE(station.frontEnd.Cell(0, 0), QStringLiteral("COM3+BROM"));
    QVERIFY(!station.manager->Device(0).GetStages().isEmpty());
    QVERIFY(!station.frontEnd.enabled.value(QStringLiteral("btnStartAll"), true));

    // A cancelled scan starts nothing; the pass then ends as a Start All does.
    station.manager->StopAll();
    QTRY_VERIFY_WITH_TIMEOUT(!station.manager->IsScanBusy(), 5000);
    QVERIFY(!station.manager->IsPortBusy(2));
    QVERIFY(station.manager->Device(2).GetStages().isEmpty());
    QCOMPARE(station.frontEnd.Cell(2, 1), QStringLiteral("CANL"));
    QCOMPARE(station.frontEnd.ContentHistory(QStringLiteral("lblPollingTimes")),
             (QStringList{"Polling Times: 0", "Polling Times: 1"}));
    QVERIFY(station.frontEnd.ControlsEnabled());
    QCOMPARE(station.frontEnd.getsOffThread, 0);
}

void ScanTest::selectAllAndCellClicks()
{
    Station station;
    station.manager->SelectAllPorts(2);
    for (int row = 0; row < PortManager::kPortCount; ++row)
        QVERIFY(station.frontEnd.rowSelected[row]);
    station.manager->SelectAllPorts(0);
    for (int row = 0; row < PortManager::kPortCount; ++row)
        QVERIFY(!station.frontEnd.rowSelected[row]);

    station.manager->OnTableCellClicked(9, 8);
    QCOMPARE(station.frontEnd.prompts, QStringList{"Information|Last Error Message|No Error Occurred"});
    station.manager->OnTableCellClicked(9, 4);
    station.manager->OnTableCellClicked(9, 5);
    QCOMPARE(station.frontEnd.prompts.size(), 1);
    QVERIFY(!station.manager->IsPortBusy(9));
}

QTEST_GUILESS_MAIN(ScanTest)
#include "tst_Scan.moc"
