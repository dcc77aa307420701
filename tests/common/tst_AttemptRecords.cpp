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
    void aLoadThatGoesAwayStopsTheStationWithoutBlamingDevices();
    void aBadSlotIsQuarantinedWhileTheOthersFinish_data();
    void aBadSlotIsQuarantinedWhileTheOthersFinish();
    void aRowThatFailsFarMoreOftenIsFlagged();
    void aStreamingRowShowsItsRateAndTimeLeft();
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
    station.frontEnd.contents[QStringLiteral("leFlashXmlPath")] = load.folder + QStringLiteral("/missing.xml");
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

void AttemptRecordsTest::aLoadThatGoesAwayStopsTheStationWithoutBlamingDevices()
{
    QVERIFY(ConfigureFarm(QStringLiteral("fast.ini"), QStringLiteral("[Farm]\nTimeScale=0\nLinkMBps=0\n")));
    const QString away = load.folder + QStringLiteral("-away");
    Station station;
    station.frontEnd.contents[QStringLiteral("leFlashXmlPath")] = load.flashXmlPath;
    station.frontEnd.checks[QStringLiteral("cbAutoPolling")] = true;
    for (int row = 0; row < 4; ++row)
        station.frontEnd.rowSelected[size_t(row)] = true;
    QCOMPARE(station.manager->VerifyChecksum(), 0);
    station.manager->StartAll();
    QTRY_VERIFY_WITH_TIMEOUT(station.recorder.Records().size() >= 8, 30000);
    QVERIFY(QDir().rename(load.folder, away));
    // Without the watch, auto polling would fail every next device for ever.
    QTRY_VERIFY_WITH_TIMEOUT(station.Idle(), 30000);
    const std::vector<AttemptRecord> records = station.recorder.Records();
    int withdrawn = 0;
    int failed = 0;
    for (const AttemptRecord& record : records) {
        if (record.failedStage == QLatin1String("load-check")) {
            ++withdrawn;
            QCOMPARE(record.result, QStringLiteral("CANL"));
            QVERIFY2(record.error.contains(QStringLiteral("flash.xml is missing")), qPrintable(record.error));
        } else if (record.result == QLatin1String("FAIL")) {
            ++failed; // only a device already being written when the folder went
        }
    }
    QVERIFY(withdrawn >= 1);
    QVERIFY2(failed <= 4, qPrintable(QString::number(failed)));
    QCOMPARE(station.frontEnd.prompts.filter(QStringLiteral("Warning|Load Changed|")).size(), 1);
    QVERIFY(station.manager->GetLoadChangedReason().contains(QStringLiteral("is missing")));

    // A Start before the load is checked again touches nothing; a new check lets the station go on.
    station.manager->StartAll();
    QVERIFY(station.Idle());
    QCOMPARE(station.recorder.Records().size(), records.size());
    QVERIFY(QDir().rename(away, load.folder));
    QCOMPARE(station.manager->VerifyChecksum(), 0);
    station.manager->SetDevicesPerPort(1);
    station.manager->StartAll();
    QTRY_VERIFY_WITH_TIMEOUT(station.Idle(), 30000);
    QCOMPARE(station.recorder.Records().size(), records.size() + 4);
    QCOMPARE(station.frontEnd.prompts.filter(QStringLiteral("Warning|Load Changed|")).size(), 1);
}

namespace {

// Rows 1 to rows with auto polling, each ending after devices good ones.
void StartAutoPolling(Station& station, const QString& flashXml, int rows, int devices)
{
    station.manager->SetFailurePace(std::chrono::milliseconds(0));
    station.manager->SetDevicesPerPort(devices);
    station.frontEnd.contents[QStringLiteral("leFlashXmlPath")] = flashXml;
    station.frontEnd.checks[QStringLiteral("cbAutoPolling")] = true;
    for (int row = 0; row < rows; ++row)
        station.frontEnd.rowSelected[size_t(row)] = true;
    station.manager->StartAll();
}

} // namespace

void AttemptRecordsTest::aBadSlotIsQuarantinedWhileTheOthersFinish_data()
{
    QTest::addColumn<int>("after");
    QTest::newRow("default") << 3;
    QTest::newRow("at once") << 1;
}

void AttemptRecordsTest::aBadSlotIsQuarantinedWhileTheOthersFinish()
{
    QFETCH(int, after);
    QVERIFY(ConfigureFarm(QStringLiteral("bad-slot.ini"), QStringLiteral("[Farm]\nTimeScale=0\nLinkMBps=0\n"
                                                                         "[Port-COM4]\nFail=connect\nFailEvery=1\n")));
    Station station;
    station.manager->SetQuarantineAfter(after);
    StartAutoPolling(station, load.flashXmlPath, 4, 3);
    QTRY_VERIFY_WITH_TIMEOUT(station.Idle(), 60000);

    QMap<int, QStringList> results; // per row: result, and "Q" for the record that tripped the row
    for (const AttemptRecord& record : station.recorder.Records())
        results[record.row] << record.result + (record.quarantined ? QStringLiteral("Q") : QString());
    QStringList tripped;
    for (int attempt = 1; attempt <= after; ++attempt)
        tripped << (attempt < after ? QStringLiteral("FAIL") : QStringLiteral("FAILQ"));
    QCOMPARE(results.value(2), tripped);
    for (int row : {1, 3, 4})
        QCOMPARE(results.value(row), (QStringList{"OK", "OK", "OK"}));
    const PortRowState bad = station.manager->GetRowState(1);
    QCOMPARE(bad.statusText, QStringLiteral("FAIL"));
    QVERIFY2(bad.message.startsWith(QStringLiteral("Quarantined after %1 FAIL in a row (last: connect").arg(after)),
             qPrintable(bad.message));
    QCOMPARE(station.frontEnd.Cell(1, 7), bad.message);
    QVERIFY(bad.outcomes.quarantined);
    QCOMPARE(bad.outcomes.failed, after);
    QCOMPARE(bad.outcomes.lastFailure, QStringLiteral("connect"));
    QVERIFY(!station.manager->GetRowState(0).outcomes.quarantined);
    QCOMPARE(station.manager->GetRowState(0).outcomes.ok, 3);

    // The operator's Start clears it; the port then earns its quarantine again.
    station.manager->Start(1);
    QVERIFY(!station.manager->GetRowState(1).outcomes.quarantined);
    QCOMPARE(station.manager->GetRowState(1).outcomes.failed, 0);
    QTRY_VERIFY_WITH_TIMEOUT(station.Idle(), 30000);
    QVERIFY(station.manager->GetRowState(1).outcomes.quarantined);
    QCOMPARE(station.manager->GetRowState(1).outcomes.failed, after);
}

void AttemptRecordsTest::aRowThatFailsFarMoreOftenIsFlagged()
{
    // Row 2's devices fail now and then; a failed one is swapped, so the row still reaches its count.
    QVERIFY(ConfigureFarm(QStringLiteral("worn.ini"), QStringLiteral("[Farm]\nTimeScale=0\nLinkMBps=0\nSwapFailedAfter=1\n"
                                                                     "AnswerTimeoutMs=100\n[Port-COM4]\nFaultRate=0.6\nFaultSeed=7\n")));
    Station station;
    // A device with a damaged image would otherwise stay on the port and fail for ever.
    station.frontEnd.runtimeParameters.checksumLevel = 1;
    station.manager->SetQuarantineAfter(0);
    StartAutoPolling(station, load.flashXmlPath, 4, 12);
    QTRY_VERIFY_WITH_TIMEOUT(station.Idle(), 120000);
    const RowOutcomeFigures worn = station.manager->GetRowState(1).outcomes;
    QVERIFY2(worn.Attempts() >= 20 && worn.flagged, qPrintable(QStringLiteral("%1 of %2").arg(worn.failed).arg(worn.Attempts())));
    QVERIFY(!worn.quarantined);
    for (int row : {0, 2, 3})
        QVERIFY(!station.manager->GetRowState(row).outcomes.flagged);
}

void AttemptRecordsTest::aStreamingRowShowsItsRateAndTimeLeft()
{
    QVERIFY(ConfigureFarm(QStringLiteral("link.ini"), QStringLiteral("[Farm]\nTimeScale=1\nArrivalMs=0\nArrivalStepMs=0\n"
                                                                     "ConnectMs=0\nDaLoadMs=0\nEraseMs=0\nSwapMs=50\nLinkMBps=8\n")));
    // Four chunks of the engine's, so a stream reports bytes more than once before it ends.
    const simtest::SampleLoad big = WriteStationLoad(QDir::current().absoluteFilePath(QStringLiteral("big")), 2 * 1024 * 1024);
    Station station;
    std::vector<StreamFigures> seen;
    QObject::connect(station.manager.get(), &PortManager::SigNotifyPortRowState,
                     [&seen](int, const PortRowState& state) {
                         if (state.stream.megabytesPerSecond >= 0)
                             seen.push_back(state.stream);
                     });
    StartAutoPolling(station, big.flashXmlPath, 1, 4);
    QTRY_VERIFY_WITH_TIMEOUT(station.Idle(), 60000);
    QVERIFY(!seen.empty());
    bool estimated = false;
    for (const StreamFigures& stream : seen) {
        // Never faster than the link; a stage's start before its first byte only lowers the rate.
        QVERIFY2(stream.megabytesPerSecond > 0 && stream.megabytesPerSecond <= 8.5, qPrintable(QString::number(stream.megabytesPerSecond)));
        estimated = estimated || stream.timeLeftMs >= 0;
    }
    QVERIFY(estimated); // from the fourth device on, after three good ones
    QCOMPARE(station.manager->GetRowState(0).stream.megabytesPerSecond, -1.0);
}

QTEST_GUILESS_MAIN(AttemptRecordsTest)
#include "tst_AttemptRecords.moc"
