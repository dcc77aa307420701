// Every attempt a port makes is handed over as a record before the port goes on: what each record says
// about a success, a failure and a stop, and that a port with a device limit ends by itself.
#include "PortTestSupport.h"
#include "TestFrontEnd.h"

#include "common/PortManager.h"

#include <QDir>
#include <QRegularExpression>
#include <QtTest>

#include <memory>
#include <mutex>
#include <vector>

using namespace PortTestSupport;

namespace {

class CollectingRecorder : public AttemptRecorder
{
public:
    void Record(const AttemptRecord& record) override
    {
        std::lock_guard<std::mutex> guard(lock);
        records.push_back(record);
    }

    std::vector<AttemptRecord> Records() const
    {
        std::lock_guard<std::mutex> guard(lock);
        return records;
    }

private:
    mutable std::mutex lock;
    std::vector<AttemptRecord> records;
};

struct Station
{
    Station() : manager(std::make_unique<PortManager>()), frontEnd(*manager)
    {
        BindPorts(*manager);
        manager->SetScanType(0);
        manager->SetAttemptRecorder(&recorder);
        manager->SetStationInfo(QStringLiteral("Ana"), QStringLiteral("WO-7"));
        frontEnd.checks[QStringLiteral("rbFormatDownload")] = true;
        frontEnd.runtimeParameters.checksumLevel = 2;
    }
    ~Station() { manager.reset(); }

    bool Idle() const
    {
        for (int i = 0; i < PortManager::kPortCount; ++i) {
            if (manager->IsPortBusy(i))
                return false;
        }
        return true;
    }

    CollectingRecorder recorder;
    std::unique_ptr<PortManager> manager;
    TestFrontEnd frontEnd;
};

} // namespace

class AttemptRecordsTest : public QObject
{
    Q_OBJECT

private:
    simtest::SampleLoad load;

private Q_SLOTS:
    void initTestCase();
    void successAndFailureAreRecorded();
    void aStoppedAttemptIsCancelled();
    void devicesPerPortEndsEachPortByItself();
};

void AttemptRecordsTest::initTestCase()
{
    ParserTestSupport::StartLogging();
    load = WriteStationLoad(QDir::current().absoluteFilePath(QStringLiteral("load")));
}

void AttemptRecordsTest::successAndFailureAreRecorded()
{
    QVERIFY(ConfigureFarm(QStringLiteral("fail.ini"), QStringLiteral("[Farm]\nTimeScale=0\nLinkMBps=0\n"
                                                                     "[Port-COM4]\nFail=connect\n")));
    Station station;
    station.frontEnd.contents[QStringLiteral("leFlashXmlPath")] = load.flashXmlPath;
    station.frontEnd.rowSelected[0] = station.frontEnd.rowSelected[1] = true;
    const QDateTime before = QDateTime::currentDateTimeUtc();
    station.manager->StartAll();
    QTRY_VERIFY_WITH_TIMEOUT(station.Idle(), 20000);

    std::vector<AttemptRecord> records = station.recorder.Records();
    QCOMPARE(records.size(), size_t(2));
    std::sort(records.begin(), records.end(), [](const AttemptRecord& a, const AttemptRecord& b) { return a.row < b.row; });
    const AttemptRecord& ok = records[0];
    QCOMPARE(ok.row, 1);
    QCOMPARE(ok.port, QStringLiteral("COM3"));
    QVERIFY(ok.device.startsWith(QStringLiteral("USB\\VID_1209")));
    QCOMPARE(ok.result, QStringLiteral("OK"));
    QCOMPARE(ok.failedStage, QString());
    QCOMPARE(ok.scene, QStringLiteral("format-download"));
    QCOMPARE(ok.checksumLevel, 2);
    QCOMPARE(ok.flashXml, load.flashXmlPath);
    QVERIFY(QRegularExpression(QStringLiteral("^[0-9a-f]{16}$")).match(ok.loadDigest).hasMatch());
    QCOMPARE(ok.poll, 1);
    QCOMPARE(ok.operatorName, QStringLiteral("Ana"));
    QCOMPARE(ok.workOrder, QStringLiteral("WO-7"));
    QVERIFY(ok.start >= before && ok.end >= ok.start);
    QCOMPARE(ok.start.timeSpec(), Qt::UTC);
    QStringList stages;
    for (const SessionStage& stage : ok.stages)
        stages << stage.name;
    QCOMPARE(stages, (QStringList{"scan", "connect", "enter-mode", "authentication", "CMD:ERASE-FLASH",
                                  "CMD:FLASH-ALL", "CMD:GET-DOWNLOADED-IMAGE-FEEDBACK", "CMD:REBOOT"}));

    const AttemptRecord& failed = records[1];
    QCOMPARE(failed.result, QStringLiteral("FAIL"));
    QCOMPARE(failed.port, QStringLiteral("COM4"));
    QCOMPARE(failed.failedStage, QStringLiteral("connect"));
    QCOMPARE(failed.error, station.manager->Device(1).GetLastError());
    QVERIFY(failed.error.contains(QStringLiteral("COM4")));
    QCOMPARE(failed.loadDigest, ok.loadDigest);
}

void AttemptRecordsTest::aStoppedAttemptIsCancelled()
{
    QVERIFY(ConfigureFarm(QStringLiteral("absent.ini"), QStringLiteral("[Farm]\nTimeScale=0\nAbsent=true\n")));
    Station station;
    // A flash XML without a readable load: the record names no load digest.
    station.frontEnd.contents[QStringLiteral("leFlashXmlPath")] =
        simtest::WriteFile(QDir::current().absoluteFilePath(QStringLiteral("noload.xml")), "<flash/>\n");
    station.frontEnd.rowSelected[2] = true;
    station.manager->Start(2);
    QTRY_VERIFY_WITH_TIMEOUT(!station.manager->Device(2).GetStages().isEmpty(), 10000);
    station.manager->Stop(2);
    QTRY_VERIFY_WITH_TIMEOUT(station.Idle(), 10000);
    const std::vector<AttemptRecord> records = station.recorder.Records();
    QCOMPARE(records.size(), size_t(1));
    QCOMPARE(records[0].result, QStringLiteral("CANL"));
    QCOMPARE(records[0].failedStage, QStringLiteral("scan"));
    QCOMPARE(records[0].port, QStringLiteral("COM5"));
    QCOMPARE(records[0].loadDigest, QString());
    // The row says what the record says.
    QCOMPARE(station.frontEnd.Cell(2, 1), QStringLiteral("CANL"));
    QCOMPARE(station.frontEnd.Cell(2, 7), QStringLiteral("User Cancel"));
}

void AttemptRecordsTest::devicesPerPortEndsEachPortByItself()
{
    QVERIFY(ConfigureFarm(QStringLiteral("fast.ini"), QStringLiteral("[Farm]\nTimeScale=0\nLinkMBps=0\n")));
    Station station;
    station.manager->SetDevicesPerPort(3);
    station.frontEnd.contents[QStringLiteral("leFlashXmlPath")] = load.flashXmlPath;
    station.frontEnd.checks[QStringLiteral("cbAutoPolling")] = true;
    station.frontEnd.rowSelected.fill(true);
    station.manager->StartAll();
    QTRY_VERIFY_WITH_TIMEOUT(station.Idle(), 60000);
    QCOMPARE(station.manager->GetTotalPollingTimes(), 48);
    QCOMPARE(int(station.recorder.Records().size()), 48);
    for (int row = 0; row < PortManager::kPortCount; ++row) {
        QCOMPARE(station.frontEnd.Cell(row, 1), QStringLiteral("OK"));
        QCOMPARE(station.manager->Device(row).GetPollingTimes(), 3);
    }
    QVERIFY(station.frontEnd.ControlsEnabled());
}

QTEST_GUILESS_MAIN(AttemptRecordsTest)
#include "tst_AttemptRecords.moc"
