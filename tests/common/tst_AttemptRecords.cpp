// Every attempt a port makes is handed over as a record before the port goes on: what each record says
// about a success, a failure and a stop, why each failure the farm can make failed, and that a port with a
// device limit ends by itself.
#include "PortTestSupport.h"
#include "RecordingStation.h"
#include "TestFrontEnd.h"

#include "common/PortManager.h"

#include <QDir>
#include <QRegularExpression>
#include <QUuid>
#include <QtTest>

#include <vector>

using namespace PortTestSupport;

Q_DECLARE_METATYPE(FailureKind)

using Station = RecordingStation;

class AttemptRecordsTest : public QObject
{
    Q_OBJECT

private:
    simtest::SampleLoad load;

private Q_SLOTS:
    void initTestCase();
    void successAndFailureAreRecorded();
    void aStoppedAttemptIsCancelled();
    void eachFailureOfTheFarmHasItsKind_data();
    void eachFailureOfTheFarmHasItsKind();
    void devicesPerPortEndsEachPortByItself();
    void aTargetEndsTheStation_data();
    void aTargetEndsTheStation();
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
    QCOMPARE(ok.failureKind, FailureKind::None);
    QCOMPARE(QUuid::fromString(ok.attempt).version(), QUuid::Random);
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
    QCOMPARE(failed.failureKind, FailureKind::Connect);
    QVERIFY(failed.attempt != ok.attempt);
    // The start of an attempt that found its device names the same attempt as its record.
    QVERIFY(station.recorder.StartedIds().contains(ok.attempt));
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
    QCOMPARE(records[0].failureKind, FailureKind::Cancelled);
    // The row says what the record says.
    QCOMPARE(station.frontEnd.Cell(2, 1), QStringLiteral("CANL"));
    QCOMPARE(station.frontEnd.Cell(2, 7), QStringLiteral("User Cancel"));
}

void AttemptRecordsTest::eachFailureOfTheFarmHasItsKind_data()
{
    QTest::addColumn<QString>("farm");    // keys of the fast farm's group, or a port's group after it
    QTest::addColumn<QString>("removed"); // a file of the load removed after the load was written
    QTest::addColumn<FailureKind>("kind");
    QTest::addColumn<QString>("error"); // part of the error text, which a failure never leaves empty

    const QString port = QStringLiteral("[Port-COM3]\n");
    QTest::newRow("no engine session") << "RefuseSessions=true" << QString() << FailureKind::Connect << "session";
    QTest::newRow("scan") << port + "Fail=scan" << QString() << FailureKind::Scan << "";
    QTest::newRow("handshake") << port + "Fail=connect" << QString() << FailureKind::Connect << "COM3";
    QTest::newRow("authentication file") << "AuthRequired=true" << QString() << FailureKind::Authentication << "";
    QTest::newRow("download agent") << port + "Fail=enter" << QString() << FailureKind::EnterMode << "";
    QTest::newRow("a command") << port + "Fail=command:CMD:ERASE-FLASH" << QString() << FailureKind::Command << "";
    QTest::newRow("dropped mid-transfer") << port + "Fail=transfer:40" << QString() << FailureKind::Command << "";
    QTest::newRow("a corrupted image")
        << port + "CorruptImage=system.img" << QString() << FailureKind::ChecksumMismatch
        << "Checksum mismatch: image system.img (partition system): the device computed ";
    QTest::newRow("an image gone") << QString() << "system.img" << FailureKind::LoadChanged << "system.img";
    QTest::newRow("the checksum list gone") << QString() << "scatter_checksum.xml" << FailureKind::FeedbackUnreadable
                                            << "checksum list";
}

void AttemptRecordsTest::eachFailureOfTheFarmHasItsKind()
{
    QFETCH(QString, farm);
    QFETCH(QString, removed);
    QFETCH(FailureKind, kind);
    QFETCH(QString, error);
    const simtest::SampleLoad own = WriteStationLoad(QDir::current().absoluteFilePath("load-kind"));
    if (!removed.isEmpty())
        QVERIFY(QFile::remove(QDir(own.folder).filePath(removed)));
    QVERIFY(ConfigureFarm("kind.ini", "[Farm]\nTimeScale=0\nLinkMBps=0\n" + farm + '\n'));
    Station station;
    station.frontEnd.contents[QStringLiteral("leFlashXmlPath")] = own.flashXmlPath;
    station.frontEnd.rowSelected[0] = true;
    station.manager->Start(0);
    QTRY_VERIFY_WITH_TIMEOUT(station.Idle(), 20000);
    const std::vector<AttemptRecord> records = station.recorder.Records();
    QCOMPARE(records.size(), size_t(1));
    QCOMPARE(records[0].result, QStringLiteral("FAIL"));
    QCOMPARE(records[0].failureKind, kind);
    QVERIFY(!records[0].error.trimmed().isEmpty());
    QVERIFY2(records[0].error.contains(error, Qt::CaseInsensitive), qPrintable(records[0].error));
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
    const std::vector<AttemptRecord> records = station.recorder.Records();
    QCOMPARE(int(records.size()), 48);
    QSet<QString> attempts;
    for (const AttemptRecord& record : records)
        attempts.insert(record.attempt);
    QCOMPARE(attempts.size(), 48);
    for (int row = 0; row < PortManager::kPortCount; ++row) {
        QCOMPARE(station.frontEnd.Cell(row, 1), QStringLiteral("OK"));
        QCOMPARE(station.manager->Device(row).GetPollingTimes(), 3);
    }
    QVERIFY(station.frontEnd.ControlsEnabled());
}

void AttemptRecordsTest::aTargetEndsTheStation_data()
{
    QTest::addColumn<int>("target");
    QTest::addColumn<int>("devicesPerPort");
    QTest::addColumn<bool>("autoPolling");
    QTest::addColumn<int>("fewestOk");
    QTest::addColumn<int>("mostOk");
    // Four rows: devices already being written when the target is met finish and count.
    QTest::newRow("target") << 5 << 0 << true << 5 << 8;
    QTest::newRow("per-port limit first") << 100 << 1 << true << 4 << 4;
    QTest::newRow("target first") << 3 << 5 << true << 3 << 6;
    QTest::newRow("ignored without auto polling") << 2 << 0 << false << 4 << 4;
}

void AttemptRecordsTest::aTargetEndsTheStation()
{
    QFETCH(int, target);
    QFETCH(int, devicesPerPort);
    QFETCH(bool, autoPolling);
    QFETCH(int, fewestOk);
    QFETCH(int, mostOk);
    QVERIFY(ConfigureFarm(QStringLiteral("fast.ini"), QStringLiteral("[Farm]\nTimeScale=0\nLinkMBps=0\n")));
    Station station;
    station.manager->SetTarget(target);
    station.manager->SetDevicesPerPort(devicesPerPort);
    station.frontEnd.contents[QStringLiteral("leFlashXmlPath")] = load.flashXmlPath;
    station.frontEnd.checks[QStringLiteral("cbAutoPolling")] = autoPolling;
    for (int row = 0; row < 4; ++row)
        station.frontEnd.rowSelected[size_t(row)] = true;
    // A second Start All counts afresh.
    for (int run = 1; run <= 2; ++run) {
        const size_t before = station.recorder.Records().size();
        const ParserTestSupport::LogCapture log;
        station.manager->StartAll();
        QTRY_VERIFY_WITH_TIMEOUT(station.Idle(), 60000);
        QCOMPARE(log.CountContaining(QStringLiteral("PortManager::Start"), QStringLiteral("applies to auto polling only")),
                 autoPolling ? 0 : 1);
        const int ok = int(station.recorder.Records().size() - before);
        QVERIFY2(ok >= fewestOk && ok <= mostOk, qPrintable(QString::number(ok)));
        QCOMPARE(station.manager->GetTotalPollingTimes(), ok);
        QCOMPARE(station.manager->IsTargetMet(), autoPolling && ok >= target);
        for (int row = 0; row < 4; ++row)
            QCOMPARE(station.frontEnd.Cell(row, 1), QStringLiteral("OK"));
    }
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
        if (record.failedStage == QLatin1String("load-check") && record.result == QLatin1String("CANL")) {
            ++withdrawn;
            QCOMPARE(record.failureKind, FailureKind::LoadChanged);
            QVERIFY2(record.error.contains(QStringLiteral("flash.xml is missing")), qPrintable(record.error));
        } else if (record.result == QLatin1String("FAIL")) {
            ++failed; // only a device already being written when the folder went, and not for its own fault
            QCOMPARE(record.failureKind, FailureKind::LoadChanged);
        }
    }
    // The row that saw the change first stopped the others: each ended with one such attempt at most.
    QVERIFY(withdrawn + failed >= 1);
    QVERIFY2(withdrawn + failed <= 4, qPrintable(QString::number(failed)));
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
                                                                     "AnswerTimeoutMs=100\n[Port-COM4]\nFaultRate=0.9\nFaultSeed=7\n")));
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
