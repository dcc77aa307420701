// The farm's configuration, its devices coming and going, scanning, claiming and the session life cycle.
#include "SimTestSupport.h"

#include "quillon.h"
#include "quillon_sim.h"

#include <QtTest>

using namespace simtest;

namespace {

QString FarmText(const QString& farmKeys, const QString& groups = QString())
{
    return QStringLiteral("[Farm]\nTimeScale=0\n%1\n%2").arg(farmKeys, groups);
}

// The friendly port name as the tool builds it, and the instance id it later restores from its saved text.
QString RestoredInstanceId(const QByteArray& description)
{
    const QStringList at = QString::fromUtf8(description).split(QLatin1Char('@'));
    const QStringList hash = QString::fromUtf8(description).split(QLatin1Char('#'));
    const QString friendly =
        hash.value(1) + QLatin1Char('@') + hash.value(2) + QLatin1Char('@') + at.value(1);
    return friendly.section(QLatin1Char('@'), 0, 0);
}

} // namespace

class FarmScanTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { quillon_cleanup(); }

    void badConfigValueIsNamedAndBlocksEveryCall_data();
    void badConfigValueIsNamedAndBlocksEveryCall();
    void farmFileWithByteOrderMarkAndCrLfIsRead();
    void missingFarmFileIsNamed();
    void bareScansGetArrivalsInOrder();
    void secondScanSeesDeviceOnlyAfterReenumeration();
    void portAndInstanceIdTargetsFindTheirDevice_data();
    void portAndInstanceIdTargetsFindTheirDevice();
    void restoredInstanceIdNamesOnlyItsPort();
    void claimedDeviceIsNeverScannedAndRefusesSecondConnect();
    void scanTimeoutNamesThePort();
    void scanRefusesBadArguments_data();
    void scanRefusesBadArguments();
    void callsOutOfOrderFail();
    void staleAndForeignHandlesFailCleanly();
    void everyCallFailsAfterCleanupAndStartupRestarts();
    void lastErrorBelongsToSessionAndThread();
    void descriptionHasTheDocumentedShape();
};

void FarmScanTest::badConfigValueIsNamedAndBlocksEveryCall_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::newRow("time scale not a number") << QStringLiteral("[Farm]\nTimeScale=fast\n") << "TimeScale"
                                             << "fast";
    QTest::newRow("negative time scale") << QStringLiteral("[Farm]\nTimeScale=-1\n") << "TimeScale"
                                         << "-1";
    QTest::newRow("zero ports") << FarmText("Ports=0") << "Ports"
                                << "0";
    QTest::newRow("boolean spelled no") << FarmText("AuthRequired=no") << "AuthRequired"
                                        << "no";
    QTest::newRow("unknown type") << FarmText("Type=DA") << "Type"
                                  << "DA";
    QTest::newRow("unknown sla") << FarmText("Sla=maybe") << "Sla"
                                 << "maybe";
    QTest::newRow("fail stage") << FarmText("Ports=2", "[Port-COM4]\nFail=boot\n") << "Fail"
                                << "boot";
    QTest::newRow("fail unknown command")
        << FarmText("Ports=2", "[Port-COM4]\nFail=command:CMD:FOO\n") << "Fail"
        << "command:CMD:FOO";
    QTest::newRow("transfer percent") << FarmText("Ports=2", "[Port-COM4]\nFail=transfer:140\n") << "Fail"
                                      << "transfer:140";
    QTest::newRow("hang stage") << FarmText("Ports=2", "[Port-COM3]\nHang=command\n") << "Hang"
                                << "command";
    QTest::newRow("fail every zero") << FarmText("Ports=2", "[Port-COM3]\nFailEvery=0\n") << "FailEvery"
                                     << "0";
    QTest::newRow("fault rate above one") << FarmText("FaultRate=1.5") << "FaultRate"
                                          << "1.5";
    QTest::newRow("negative fault seed") << FarmText("FaultSeed=-3") << "FaultSeed"
                                         << "-3";
    QTest::newRow("a port's fault rate")
        << FarmText("Ports=2", "[Port-COM4]\nFaultRate=-0.1\n") << "FaultRate"
        << "-0.1";
    QTest::newRow("hub rate in a port") << FarmText("Ports=2", "[Port-COM3]\nHubMBps=10\n") << "HubMBps"
                                        << "10";
    QTest::newRow("swap after letters") << FarmText("SwapFailedAfter=two") << "SwapFailedAfter"
                                        << "two";
    QTest::newRow("ledger in a port") << FarmText("Ports=2", "[Port-COM3]\nLedger=ledger.jsonl\n") << "Ledger"
                                      << "ledger.jsonl";
    QTest::newRow("unknown key") << FarmText("ArivalMs=3") << "ArivalMs"
                                 << "3";
    QTest::newRow("farm key in a port") << FarmText("Ports=2", "[Port-COM3]\nTimeScale=2\n") << "TimeScale"
                                        << "2";
    QTest::newRow("port outside the farm") << FarmText("Ports=2", "[Port-COM9]\nAbsent=true\n") << "Port-COM9"
                                           << "COM3";
}

void FarmScanTest::badConfigValueIsNamedAndBlocksEveryCall()
{
    QFETCH(QString, text);
    QFETCH(QString, key);
    QFETCH(QString, value);
    const QString path = WriteFarm(QStringLiteral("bad.ini"), text);
    QString error;
    QVERIFY(!Restart(path, &error));
    QVERIFY2(error.contains(path) && error.contains(key) && error.contains(value), qPrintable(error));

    QCOMPARE(quillon_create_session(), nullptr);
    QCOMPARE(LastError(), error);
    QByteArray description;
    QVERIFY(Scan(QStringLiteral("COM://"), description, 0) != QUILLON_OK);
    QCOMPARE(LastError(), error);

    QVERIFY(Restart(WriteFarm(QStringLiteral("good.ini"), FarmText("Ports=1"))));
    QVERIFY(Scan(QStringLiteral("COM://"), description, 5000) == QUILLON_OK);
}

void FarmScanTest::farmFileWithByteOrderMarkAndCrLfIsRead()
{
    const QString path =
        WriteFarm(QStringLiteral("bom.ini"),
                  QStringLiteral("\ufeff; written on Windows\r\n[Farm]\r\nTimeScale=0\r\nPorts=2\r\n"));
    QVERIFY(Restart(path));
    QByteArray description;
    QCOMPARE(Scan(QStringLiteral("COM://COM4"), description, 10000), int(QUILLON_OK));
    QCOMPARE(Scan(QStringLiteral("COM://COM5"), description, 0), int(QUILLON_E_INVALID_ARGUMENT));
}

void FarmScanTest::missingFarmFileIsNamed()
{
    const QString path = QDir::current().filePath(QStringLiteral("no_such_farm.ini"));
    QString error;
    QVERIFY(!Restart(path, &error));
    QVERIFY2(error.contains(path), qPrintable(error));
    QCOMPARE(quillon_create_session(), nullptr);
    QVERIFY(Restart(QString()));
}

void FarmScanTest::bareScansGetArrivalsInOrder()
{
    QVERIFY(Restart(WriteFarm(QStringLiteral("order.ini"),
                              QStringLiteral("[Farm]\nTimeScale=0.001\nPorts=4\n"
                                             "ArrivalStepMs=1000\nReenumerateMs=100000000\n"))));
    for (int com = 3; com < 7; ++com) {
        QByteArray description;
        QCOMPARE(Scan(QStringLiteral("COM://"), description, 10000), int(QUILLON_OK));
        QVERIFY2(description.contains(QStringLiteral("(COM%1)").arg(com).toUtf8()), description.constData());
    }
}

void FarmScanTest::secondScanSeesDeviceOnlyAfterReenumeration()
{
    // At real speed the device enumerates once and not again within the test.
    QVERIFY(Restart(
        WriteFarm(QStringLiteral("one.ini"),
                  QStringLiteral("[Farm]\nTimeScale=1\nPorts=1\nArrivalMs=0\nReenumerateMs=100000000\n"))));
    QByteArray first;
    QCOMPARE(Scan(QStringLiteral("COM://"), first, 10000), int(QUILLON_OK));
    QByteArray second;
    QCOMPARE(Scan(QStringLiteral("COM://"), second, 100), int(QUILLON_E_TIMEOUT));
    QCOMPARE(LastError(), QStringLiteral("No device arrived within 100 ms"));

    // With re-enumeration on, the unclaimed device comes up again for the next bare scan.
    QVERIFY(Restart(WriteFarm(QStringLiteral("reenum.ini"), FarmText("Ports=1\nReenumerateMs=0"))));
    QCOMPARE(Scan(QStringLiteral("COM://"), first, 10000), int(QUILLON_OK));
    QCOMPARE(Scan(QStringLiteral("COM://"), second, 10000), int(QUILLON_OK));
    QCOMPARE(second, first);
}

void FarmScanTest::portAndInstanceIdTargetsFindTheirDevice_data()
{
    QTest::addColumn<QString>("uri");
    QTest::newRow("port name") << "COM://COM4";
    QTest::newRow("instance id") << "COM://USB\\VID_1209&PID_5A01\\7&2B1F0C3&0&01";
    QTest::newRow("instance id in lower case") << "COM://usb\\vid_1209&pid_5a01\\7&2b1f0c3&0&01";
    QTest::newRow("restored from the friendly name") << "COM://7&2b1f0c3&0&01";
}

void FarmScanTest::portAndInstanceIdTargetsFindTheirDevice()
{
    QFETCH(QString, uri);
    QVERIFY(Restart(WriteFarm(QStringLiteral("targets.ini"), FarmText("Ports=12"))));
    QByteArray description;
    QCOMPARE(Scan(uri, description, 10000), int(QUILLON_OK));
    QVERIFY2(description.contains("(COM4)"), description.constData());
    // A targeted scan does not take the arrival from a bare scan.
    QByteArray bare;
    QCOMPARE(Scan(QStringLiteral("COM://"), bare, 10000), int(QUILLON_OK));
    QVERIFY2(bare.contains("(COM3)"), bare.constData());
}

void FarmScanTest::restoredInstanceIdNamesOnlyItsPort()
{
    QVERIFY(Restart(WriteFarm(QStringLiteral("ids.ini"), FarmText("Ports=16"))));
    QList<QByteArray> descriptions;
    for (int com = 3; com < 19; ++com) {
        QByteArray description;
        QCOMPARE(Scan(QStringLiteral("COM://COM%1").arg(com), description, 10000), int(QUILLON_OK));
        descriptions.push_back(description);
    }
    for (int i = 0; i < descriptions.size(); ++i) {
        const QString id = RestoredInstanceId(descriptions[i]);
        for (int j = 0; j < descriptions.size(); ++j)
            QCOMPARE(QString::fromUtf8(descriptions[j]).contains(id, Qt::CaseInsensitive), i == j);
        QByteArray found;
        QCOMPARE(Scan(QStringLiteral("COM://") + id, found, 10000), int(QUILLON_OK));
        QCOMPARE(found, descriptions[i]);
    }
}

void FarmScanTest::claimedDeviceIsNeverScannedAndRefusesSecondConnect()
{
    QVERIFY(Restart(WriteFarm(QStringLiteral("claim.ini"), FarmText("Ports=1\nReenumerateMs=0"))));
    QByteArray description;
    QCOMPARE(Scan(QStringLiteral("COM://COM3"), description, 10000), int(QUILLON_OK));
    QuillonSession* first = quillon_create_session();
    QuillonSession* second = quillon_create_session();
    QVERIFY(first && second);
    QCOMPARE(quillon_connect_device(first, description.constData(), "115200@", "", "", nullptr),
             int(QUILLON_OK));

    QByteArray none;
    QCOMPARE(Scan(QStringLiteral("COM://COM3"), none, 200), int(QUILLON_E_TIMEOUT));
    QCOMPARE(Scan(QStringLiteral("COM://"), none, 200), int(QUILLON_E_TIMEOUT));
    QCOMPARE(Scan(QStringLiteral("COM://Serial"), none, 200), int(QUILLON_E_TIMEOUT));
    QCOMPARE(quillon_connect_device(second, description.constData(), "115200@", "", "", nullptr),
             int(QUILLON_E_DEVICE_BUSY));
    QVERIFY2(LastError(second).contains(QStringLiteral("device in use")), qPrintable(LastError(second)));

    QCOMPARE(quillon_destroy_session(first), int(QUILLON_OK));
    QCOMPARE(Scan(QStringLiteral("COM://COM3"), none, 10000), int(QUILLON_OK));
    QCOMPARE(quillon_connect_device(second, description.constData(), "115200@", "", "", nullptr),
             int(QUILLON_OK));
    quillon_destroy_session(second);
}

void FarmScanTest::scanTimeoutNamesThePort()
{
    QVERIFY(
        Restart(WriteFarm(QStringLiteral("absent.ini"), FarmText("Ports=5", "[Port-COM7]\nAbsent=true\n"))));
    QByteArray description("stale");
    QCOMPARE(Scan(QStringLiteral("COM://COM7"), description, 150), int(QUILLON_E_TIMEOUT));
    QCOMPARE(LastError(), QStringLiteral("No device arrived on COM7 within 150 ms"));
    QVERIFY(description.isEmpty());
    QCOMPARE(Scan(QStringLiteral("COM://COM99"), description, 150), int(QUILLON_E_INVALID_ARGUMENT));
    QVERIFY2(LastError().contains(QStringLiteral("COM99")), qPrintable(LastError()));
}

void FarmScanTest::scanRefusesBadArguments_data()
{
    QTest::addColumn<QByteArray>("uri");
    QTest::addColumn<bool>("withBuffer");
    QTest::addColumn<unsigned int>("length");
    QTest::newRow("null uri") << QByteArray() << true << 512u;
    QTest::newRow("other scheme") << QByteArray("USB://") << true << 512u;
    QTest::newRow("scheme in lower case") << QByteArray("com://") << true << 512u;
    QTest::newRow("blank text") << QByteArray("COM://   ") << true << 512u;
    QTest::newRow("null buffer") << QByteArray("COM://") << false << 512u;
    QTest::newRow("short buffer") << QByteArray("COM://") << true << 40u;
}

void FarmScanTest::scanRefusesBadArguments()
{
    QFETCH(QByteArray, uri);
    QFETCH(bool, withBuffer);
    QFETCH(unsigned int, length);
    QVERIFY(Restart(WriteFarm(QStringLiteral("args.ini"), FarmText("Ports=1"))));
    char buffer[512];
    memset(buffer, 'x', sizeof buffer);
    const int result = quillon_scan_device(uri.isNull() ? nullptr : uri.constData(),
                                           withBuffer ? buffer : nullptr, length, 1000, nullptr);
    QCOMPARE(result, int(QUILLON_E_INVALID_ARGUMENT));
    QVERIFY(!LastError().isEmpty());
    if (withBuffer)
        QCOMPARE(buffer[0], '\0');
    // The arrival was not used up by the refused call.
    QByteArray description;
    QCOMPARE(Scan(QStringLiteral("COM://"), description, 10000), int(QUILLON_OK));
}

void FarmScanTest::callsOutOfOrderFail()
{
    const SampleLoad load = WriteLoad(QStringLiteral("order_load"), {{"system", "system.img", 1000}});
    QVERIFY(Restart(WriteFarm(QStringLiteral("seq.ini"), FarmText("Ports=1"))));
    QuillonSession* session = quillon_create_session();
    QVERIFY(session != nullptr);
    const QByteArray flash = load.flashXmlPath.toUtf8();
    QCOMPARE(quillon_enter_mode(session, "FLASH-MODE-DA", flash.constData(), RuntimeParameters().constData(),
                                nullptr),
             int(QUILLON_E_SEQUENCE));
    QVERIFY2(LastError(session).contains(QStringLiteral("not connected")), qPrintable(LastError(session)));
    const QByteArray erase = Command(QStringLiteral("CMD:ERASE-FLASH"), {{"partition", "ALL"}});
    QCOMPARE(quillon_execute_command(session, erase.constData(), nullptr), int(QUILLON_E_SEQUENCE));
    QVERIFY2(LastError(session).contains(QStringLiteral("not in DA mode")), qPrintable(LastError(session)));

    QByteArray description;
    QCOMPARE(Scan(QStringLiteral("COM://"), description, 10000), int(QUILLON_OK));
    QCOMPARE(quillon_connect_device(session, description.constData(), "115200@", "", "", nullptr),
             int(QUILLON_OK));
    QCOMPARE(quillon_execute_command(session, erase.constData(), nullptr), int(QUILLON_E_SEQUENCE));
    QVERIFY2(LastError(session).contains(QStringLiteral("not in DA mode")), qPrintable(LastError(session)));
    QCOMPARE(quillon_connect_device(session, description.constData(), "115200@", "", "", nullptr),
             int(QUILLON_E_SEQUENCE));
    QCOMPARE(quillon_enter_mode(session, "FLASH-MODE-DA", flash.constData(), RuntimeParameters().constData(),
                                nullptr),
             int(QUILLON_OK));
    QCOMPARE(quillon_enter_mode(session, "FLASH-MODE-DA", flash.constData(), RuntimeParameters().constData(),
                                nullptr),
             int(QUILLON_E_SEQUENCE));
    QCOMPARE(quillon_execute_command(session, erase.constData(), nullptr), int(QUILLON_OK));
    QCOMPARE(quillon_destroy_session(session), int(QUILLON_OK));
}

void FarmScanTest::staleAndForeignHandlesFailCleanly()
{
    QVERIFY(Restart(WriteFarm(QStringLiteral("handles.ini"), FarmText("Ports=1"))));
    QuillonSession* session = quillon_create_session();
    QVERIFY(session != nullptr);
    QCOMPARE(quillon_destroy_session(session), int(QUILLON_OK));
    int local = 0;
    auto* foreign = reinterpret_cast<QuillonSession*>(&local);
    for (QuillonSession* handle : {session, foreign, static_cast<QuillonSession*>(nullptr)}) {
        QCOMPARE(quillon_destroy_session(handle), int(QUILLON_E_INVALID_HANDLE));
        QCOMPARE(quillon_connect_device(handle, "x", "115200@", "", "", nullptr),
                 int(QUILLON_E_INVALID_HANDLE));
        QCOMPARE(quillon_execute_command(handle, "<da/>", nullptr), int(QUILLON_E_INVALID_HANDLE));
        QVERIFY2(LastError(handle).contains(QStringLiteral("session handle")), qPrintable(LastError(handle)));
    }
    QCOMPARE(local, 0);
}

void FarmScanTest::everyCallFailsAfterCleanupAndStartupRestarts()
{
    QVERIFY(Restart(WriteFarm(QStringLiteral("restart.ini"), FarmText("Ports=1"))));
    QuillonSession* session = quillon_create_session();
    QVERIFY(session != nullptr);
    QCOMPARE(quillon_cleanup(), int(QUILLON_OK));
    QByteArray description;
    QCOMPARE(Scan(QStringLiteral("COM://"), description, 10), int(QUILLON_E_NOT_STARTED));
    QCOMPARE(quillon_create_session(), nullptr);
    QCOMPARE(quillon_destroy_session(session), int(QUILLON_E_NOT_STARTED));
    QCOMPARE(quillon_env_set_log(QUILLON_LOG_ON, "."), int(QUILLON_E_NOT_STARTED));
    QVERIFY(LastError().contains(QStringLiteral("not started")));
    QCOMPARE(quillon_startup(nullptr), int(QUILLON_OK));
    QCOMPARE(quillon_destroy_session(session), int(QUILLON_E_INVALID_HANDLE));
    QCOMPARE(Scan(QStringLiteral("COM://"), description, 10000), int(QUILLON_OK));
}

void FarmScanTest::lastErrorBelongsToSessionAndThread()
{
    QVERIFY(Restart(WriteFarm(QStringLiteral("errors.ini"), FarmText("Ports=1"))));
    QuillonSession* a = quillon_create_session();
    QuillonSession* b = quillon_create_session();
    QCOMPARE(quillon_enter_mode(a, "FLASH-MODE-DA", "a.xml", "<da/>", nullptr), int(QUILLON_E_SEQUENCE));
    const QString errorA = LastError(a);
    QCOMPARE(quillon_connect_device(b, "no such port", "115200@", "", "", nullptr),
             int(QUILLON_E_INVALID_ARGUMENT));
    const QString errorB = LastError(b);
    QVERIFY(errorA != errorB);
    QCOMPARE(LastError(a), errorA);
    QCOMPARE(LastError(nullptr), errorB);

    // A scan names no session, so its failure is what the session reports next, as the tool reads it.
    QByteArray description;
    QCOMPARE(Scan(QStringLiteral("COM://COM77"), description, 10), int(QUILLON_E_INVALID_ARGUMENT));
    QVERIFY(LastError(a).contains(QStringLiteral("COM77")));
    QuillonSession* fresh = quillon_create_session();
    QCOMPARE(LastError(fresh), QString());
    for (QuillonSession* s : {a, b, fresh})
        quillon_destroy_session(s);
}

void FarmScanTest::descriptionHasTheDocumentedShape()
{
    QVERIFY(Restart(WriteFarm(QStringLiteral("shape.ini"),
                              FarmText("Ports=12\nFirstCom=3", "[Port-COM14]\nType=PreLoader\n"))));
    QByteArray description;
    QCOMPARE(Scan(QStringLiteral("COM://COM14"), description, 10000), int(QUILLON_OK));
    QCOMPARE(description,
             QByteArray("\\\\?\\usb#7&2b1f0c3&0&11#vid_1209&pid_5a01#{a5dcbf10-6530-11d2-901f-00c04fb951ed}"
                        "@Sim PreLoader Serial (COM14)@USB\\VID_1209&PID_5A01\\7&2B1F0C3&0&11"));
    QCOMPARE(Scan(QStringLiteral("COM://COM3"), description, 10000), int(QUILLON_OK));
    QVERIFY(description.contains("@Sim Boot ROM Serial (COM3)@"));
}

QTEST_GUILESS_MAIN(FarmScanTest)
#include "tst_FarmScan.moc"
