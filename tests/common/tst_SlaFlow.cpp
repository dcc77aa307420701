// The DA SLA authentication of a session, step by step: which queries and which library functions each
// outcome reaches, the exact log lines, the challenge block for each type, and that no outcome of the flow
// fails the session by itself.
#include "PortTestSupport.h"
#include "SlaTestSupport.h"

#include "XML/ICmdXMLGenerator.h"
#include "common/DeviceInstance.h"
#include "common/SlaChallengeData.h"
#include "common/SlaLibrary.h"

#include <QSignalSpy>
#include <QtTest>

using namespace SlaTestSupport;
using ParserTestSupport::LogCapture;

namespace {

constexpr char kFlow[] = "DeviceInstance::DASlaFlow";

// Every fixed line of the flow.
const QStringList kFlowLines{QStringLiteral("DA SLA Disabled, Skip!"),
                             QStringLiteral("NO SLA API SLA_Feature_Config."),
                             QStringLiteral("Failed to Alloc Memory for SLA DATA"),
                             QStringLiteral("NO SLA API DA_SLA_Challenge."),
                             QStringLiteral("Call DA_SLA_Challenge"),
                             QStringLiteral("NO SLA API DA_SLA_Challenge_END")};

QString Farm(const QString& keys)
{
    return QStringLiteral("[Farm]\nTimeScale=0\nLinkMBps=0\nPorts=1\n") + keys;
}

int Lines(const LogCapture& log, const QString& entry)
{
    return FlowLines(log, kFlow, entry);
}

} // namespace

class SlaFlowTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();

    void challengeDataDecodesHexAsTheDeviceGaveIt_data();
    void challengeDataDecodesHexAsTheDeviceGaveIt();
    void flowOutcomesLeaveTheSessionAlone_data();
    void flowOutcomesLeaveTheSessionAlone();
    void challengeBlockFollowsTheType_data();
    void challengeBlockFollowsTheType();

private:
    bool UseFarm(const QString& text);

    simtest::SampleLoad load;
    int farms = 0;
};

bool SlaFlowTest::UseFarm(const QString& text)
{
    return simtest::Restart(simtest::WriteFarm(QStringLiteral("farm%1.ini").arg(++farms), text));
}

void SlaFlowTest::initTestCase()
{
    ParserTestSupport::StartLogging();
    UseLibraryConfig();
    load = PortTestSupport::WriteStationLoad(QDir::current().absoluteFilePath(QStringLiteral("load")));
}

void SlaFlowTest::cleanupTestCase()
{
    SlaLibrary::SetFolder(QString());
    quillon_cleanup();
}

void SlaFlowTest::challengeDataDecodesHexAsTheDeviceGaveIt_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("rnd");
    QTest::addColumn<QString>("hrid");
    QTest::addColumn<QString>("socid");
    QTest::addColumn<QByteArray>("expected"); // hexadecimal

    const QString rnd = QStringLiteral("000102030405060708090a0b0c0d0e0f");
    const QString hrid = QStringLiteral("a0a1a2a3a4a5a6a7a8a9aaabacadaeaf");
    const QString socid = QStringLiteral("b0b1b2b3b4b5b6b7b8b9babbbcbdbebfc0c1c2c3c4c5c6c7c8c9cacbcccdcecf");
    const QByteArray zeros16(32, '0');
    QTest::newRow("type 1: hrid, then rnd") << 1 << rnd << hrid << socid << (hrid + rnd).toLatin1();
    QTest::newRow("type 2: socid, then rnd") << 2 << rnd << hrid << socid << (socid + rnd).toLatin1();
    QTest::newRow("type 0: rnd alone") << 0 << rnd << hrid << socid << rnd.toLatin1();
    QTest::newRow("another type: rnd alone") << 3 << rnd << hrid << socid << rnd.toLatin1();
    QTest::newRow("negative type: rnd alone") << -1 << rnd << hrid << socid << rnd.toLatin1();
    QTest::newRow("odd length: the first digit stands alone")
        << 1 << rnd << QStringLiteral("abc") << socid
        << QByteArray("0abc0000000000000000000000000000") + rnd.toLatin1();
    QTest::newRow("characters that are no hex digit are skipped")
        << 0 << QStringLiteral("0g1 2-3zz4") << hrid << socid << QByteArray("001234") + QByteArray(26, '0');
    QTest::newRow("upper-case digits")
        << 0 << QStringLiteral("ABCDEF") << hrid << socid << QByteArray("abcdef") + QByteArray(26, '0');
    QTest::newRow("characters outside Latin-1 are skipped")
        << 1 << rnd << QString::fromUtf8("1\u20ac2\u00fc3") << socid
        << QByteArray("0123") + QByteArray(28, '0') + rnd.toLatin1();
    QTest::newRow("a longer id is cut to its field")
        << 1 << rnd << hrid + QStringLiteral("ffff") << socid << (hrid + rnd).toLatin1();
    QTest::newRow("a longer rnd is cut to its field")
        << 2 << rnd + QStringLiteral("ee") << hrid << socid << (socid + rnd).toLatin1();
    QTest::newRow("a short socid leaves zeros") << 2 << rnd << hrid << QStringLiteral("0102")
                                                << QByteArray("0102") + QByteArray(60, '0') + rnd.toLatin1();
    QTest::newRow("empty texts leave zeros") << 1 << QString() << QString() << QString() << zeros16 + zeros16;
}

void SlaFlowTest::challengeDataDecodesHexAsTheDeviceGaveIt()
{
    QFETCH(int, type);
    QFETCH(QString, rnd);
    QFETCH(QString, hrid);
    QFETCH(QString, socid);
    QFETCH(QByteArray, expected);
    const QByteArray bytes = QByteArray::fromHex(expected);
    QCOMPARE(int(SlaChallengeData::BlockLength(type)), bytes.size());
    // Guard bytes after the block catch a field written past its end.
    QByteArray block(bytes.size() + 8, '\0');
    block.replace(bytes.size(), 8, QByteArray(8, '\xee'));
    SlaChallengeData::Fill(type, rnd, hrid, socid, reinterpret_cast<uint8_t*>(block.data()));
    QCOMPARE(block.left(bytes.size()).toHex(), bytes.toHex());
    QCOMPARE(block.mid(bytes.size()), QByteArray(8, '\xee'));
}

void SlaFlowTest::flowOutcomesLeaveTheSessionAlone_data()
{
    QTest::addColumn<QString>("farm");
    QTest::addColumn<QString>("library");
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<QStringList>("lines"); // "<level>|<message>" expected once each
    QTest::addColumn<int>("commands");      // engine commands the flow executes
    QTest::addColumn<QStringList>("calls"); // library functions, in order

    const QString sla = QStringLiteral("Sla=Enabled\n");
    const QString type1 = QStringLiteral("SLA API SLA_Feature_Config exists, Type: 1");
    const QString call = QStringLiteral("Call DA_SLA_Challenge");
    const QStringList full{"SLA_Feature_Config", "DA_SLA_Challenge", "DA_SLA_Challenge_END"};
    QTest::newRow("device without DA SLA") << QString() << "library" << QByteArray()
                                           << QStringList{"DA SLA Disabled, Skip!"} << 1 << QStringList();
    QTest::newRow("answered") << sla << "library" << QByteArray() << QStringList{type1, call} << 3 << full;
    QTest::newRow("no library") << sla << "absent" << QByteArray()
                                << QStringList{"NO SLA API SLA_Feature_Config.",
                                               "NO SLA API DA_SLA_Challenge."}
                                << 2 << QStringList();
    QTest::newRow("no DA_SLA_Challenge: no policy, no end")
        << sla << "no-da-challenge" << QByteArray() << QStringList{type1, "NO SLA API DA_SLA_Challenge."} << 2
        << QStringList{"SLA_Feature_Config"};
    QTest::newRow("failing DA_SLA_Challenge: no policy")
        << sla << "library" << QByteArray("Result = 9")
        << QStringList{type1, call, "Call DA_SLA_Challenge Function Failed, Return Code = 9"} << 2
        << QStringList(full.mid(0, 2));
    QTest::newRow("library that cannot read its configuration")
        << sla << "library" << QByteArray("Type = one")
        << QStringList{"SLA API SLA_Feature_Config exists, Type: -1", call,
                       "Call DA_SLA_Challenge Function Failed, Return Code = -1"}
        << 2 << QStringList(full.mid(0, 2));
    QTest::newRow("wrong answer is sent and refused")
        << sla << "wrong-answer" << QByteArray() << QStringList{type1, call} << 3 << full;
    QTest::newRow("no DA_SLA_Challenge_END")
        << sla << "no-da-challenge-end" << QByteArray()
        << QStringList{type1, call, "NO SLA API DA_SLA_Challenge_END"} << 3 << QStringList(full.mid(0, 2));
    QTest::newRow("property query without answer")
        << sla + "[Port-COM3]\nFail=command:CMD:GET-SYS-PROPERTY\n"
        << "library" << QByteArray() << QStringList{"Parse Device Sys Properties Error: "} << 1
        << QStringList();
    QTest::newRow("firmware query without answer")
        << sla + "[Port-COM3]\nFail=command:CMD:SECURITY-GET-DEV-FW-INFO\n"
        << "library" << QByteArray() << QStringList{"Parse SLA Device FW Info Error: rnd Node Not Exists."}
        << 2 << QStringList();
}

void SlaFlowTest::flowOutcomesLeaveTheSessionAlone()
{
    QFETCH(QString, farm);
    QFETCH(QString, library);
    QFETCH(QByteArray, config);
    QFETCH(QStringList, lines);
    QFETCH(int, commands);
    QFETCH(QStringList, calls);
    QVERIFY(UseFarm(Farm(farm)));
    ConfigureLibrary(config);
    SlaLibrary::SetFolder(FolderNamed(library));
    DeviceInstance device;
    Prepare(device, 0, load);
    QSignalSpy lastErrors(&device, &DeviceInstance::SigNotifyUpdateLastError);
    const CommandCounter counter;
    const LogCapture log;
    device.Start();

    QCOMPARE(device.GetStatus(), PortStatus::OK);
    QVERIFY(!device.IsFailed());
    QCOMPARE(device.GetLastError(), QStringLiteral("No Error Occurred"));
    QVERIFY(lastErrors.isEmpty());
    const SessionStages stages = device.GetStages();
    QCOMPARE(stages.size(), 4);
    QCOMPARE(stages[3].name, QStringLiteral("authentication"));
    QCOMPARE(stages[3].result, 0);
    QVERIFY(stages[3].startMs >= stages[2].endMs && stages[3].endMs >= stages[3].startMs);

    QCOMPARE(counter.Count(), commands);
    QCOMPARE(RecordedFunctions(), calls);
    for (const QString& line : LibraryRecord().filter(QStringLiteral("DA_SLA_Challenge_END")))
        QCOMPARE(line, QStringLiteral("DA_SLA_Challenge_END user=0 response=0 released=32"));
    for (const QString& line : LibraryRecord().filter(QStringLiteral("DA_SLA_Challenge ")))
        QVERIFY2(line.startsWith(QStringLiteral("DA_SLA_Challenge user=0 ")), qPrintable(line));
    for (const QString& entry : lines) {
        if (entry.endsWith(QLatin1String(": ")))
            QCOMPARE(log.CountContaining(kFlow, entry), 1);
        else
            QVERIFY2(Lines(log, entry) == 1, qPrintable(entry));
    }
    for (const QString& entry : kFlowLines) {
        if (!lines.contains(entry))
            QVERIFY2(Lines(log, entry) == 0, qPrintable(entry));
    }
}

void SlaFlowTest::challengeBlockFollowsTheType_data()
{
    QTest::addColumn<QString>("library");
    QTest::addColumn<int>("type"); // what the library reports and the farm expects
    QTest::addColumn<int>("blockLength");
    QTest::addColumn<QString>("typeLine");
    QTest::newRow("type 1") << "library" << 1 << 32 << "SLA API SLA_Feature_Config exists, Type: 1";
    QTest::newRow("type 2") << "library" << 2 << 48 << "SLA API SLA_Feature_Config exists, Type: 2";
    QTest::newRow("type 0") << "library" << 0 << 16 << "SLA API SLA_Feature_Config exists, Type: 0";
    QTest::newRow("another type") << "library" << 5 << 16 << "SLA API SLA_Feature_Config exists, Type: 5";
    QTest::newRow("no SLA_Feature_Config")
        << "no-feature-config" << 0 << 16 << "NO SLA API SLA_Feature_Config.";
}

void SlaFlowTest::challengeBlockFollowsTheType()
{
    QFETCH(QString, library);
    QFETCH(int, type);
    QFETCH(int, blockLength);
    QFETCH(QString, typeLine);
    QVERIFY(UseFarm(Farm(QStringLiteral("Sla=Enabled\nSlaKey=block\nSlaType=%1\n").arg(type))));
    ConfigureLibrary("Key = block\nType = " + QByteArray::number(type));
    SlaLibrary::SetFolder(FolderNamed(library));
    DeviceInstance device;
    Prepare(device, 0, load);
    device.AddCommand(ICmdXMLGenerator().GetFlashAllCmdString(load.scatterPath));
    const LogCapture log;
    device.Start();

    // The farm builds the block of its own type independently: the flash runs only if the blocks agree.
    QVERIFY2(!device.IsFailed(), qPrintable(device.GetLastError()));
    QCOMPARE(FlowLines(log, kFlow, typeLine), 1);
    const QStringList challenges =
        LibraryRecord().filter(QRegularExpression(QStringLiteral("^DA_SLA_Challenge ")));
    QCOMPARE(challenges.size(), 1);
    const QByteArray block = RecordedData(challenges.first());
    QCOMPARE(block.size(), blockLength);
    QVERIFY2(challenges.first().contains(QStringLiteral(" length=%1 ").arg(blockLength)),
             qPrintable(challenges[0]));

    QByteArray hrid;
    QByteArray socid;
    QVERIFY(DeviceIds(QStringLiteral("COM3"), load, hrid, socid));
    const QByteArray id = type == 1 ? hrid : type == 2 ? socid : QByteArray();
    QCOMPARE(block.left(id.size()).toHex(), id.toHex());
    QVERIFY(block.mid(id.size()) != QByteArray(16, '\0'));
}

QTEST_GUILESS_MAIN(SlaFlowTest)
#include "tst_SlaFlow.moc"
