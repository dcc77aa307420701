// One device session against the farm: the port identity a scan yields, each stage with its time and
// outcome, the engine's own error text on every failure, and what a stop leaves behind.
#include "PortTestSupport.h"

#include "XML/ICmdXMLGenerator.h"
#include "common/DeviceInstance.h"
#include "common/DownloadFeedbackCallback.h"
#include "common/PortDescription.h"

#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <QtTest>

using namespace PortTestSupport;
using ParserTestSupport::LogCapture;

namespace {

const QString kSessionTag = QStringLiteral("DeviceInstance::Start");
const QString kSource = QStringLiteral("DeviceInstance");

QString FarmWith(const QString& portGroup)
{
    return QStringLiteral("[Farm]\nTimeScale=0\nLinkMBps=0\n") + portGroup;
}

int FailingCallback(const CommandEntry&, DeviceInstance&) { return -1; }

// Lines of the session whose message is exactly this text; the messages that end in a line break leave
// their source tag on the next line.
int SessionLines(const LogCapture& log, const QString& message)
{
    QString ending = kSessionTag + QStringLiteral("(): ") + message;
    if (ending.endsWith(QLatin1Char('\n')))
        ending.chop(1);
    int count = 0;
    for (const QString& line : log.Lines())
        count += line.endsWith(ending) ? 1 : 0;
    return count;
}

} // namespace

class DeviceSessionTest : public QObject
{
    Q_OBJECT

private:
    bool UseFarm(const QString& text);
    void Prepare(DeviceInstance& device, int index);

    simtest::SampleLoad load;
    int farms = 0;

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void descriptionGivesThePortIdentity_data();
    void descriptionGivesThePortIdentity();
    void scanBindsTheDeviceThatArrives_data();
    void scanBindsTheDeviceThatArrives();
    void stoppedScanKeepsThePortIdentity();
    void sessionEndsWithTheEnginesErrorAtTheFailingStage_data();
    void sessionEndsWithTheEnginesErrorAtTheFailingStage();
    void engineWithoutSessionsFailsWithItsOwnText();
    void failingCallbackFailsTheSession();
    void instanceIdFindsTheDeviceWhenAskedTo();
    void previousDevicesFeedbackIsGoneWhenTheCommandFails();
    void resetClearsTheOutcomeButKeepsThePort();
    void stopKeepsAnOutcomeAlreadyReached();
};

bool DeviceSessionTest::UseFarm(const QString& text)
{
    return simtest::Restart(simtest::WriteFarm(QStringLiteral("farm%1.ini").arg(++farms), text));
}

void DeviceSessionTest::Prepare(DeviceInstance& device, int index)
{
    ICmdXMLGenerator generator;
    RuntimeParameters parameters;
    parameters.systemOs = QStringLiteral("WINDOWS");
    generator.SetRuntimeParameters(parameters);
    device.SetIndex(index);
    device.SetPortName(PortName(index));
    device.SetParameter("FLASH-XML-PATH", load.flashXmlPath.toUtf8());
    device.SetParameter("DA-MODE-SETTING", generator.GetRuntimeParameterCmdString().toUtf8());
}

void DeviceSessionTest::initTestCase()
{
    ParserTestSupport::StartLogging();
    load = WriteStationLoad(QDir::current().absoluteFilePath(QStringLiteral("load")));
}

void DeviceSessionTest::cleanupTestCase() { quillon_cleanup(); }

void DeviceSessionTest::descriptionGivesThePortIdentity_data()
{
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("portName");
    QTest::addColumn<QString>("instanceId");
    QTest::addColumn<QString>("friendlyPortName");
    QTest::addColumn<QString>("comportType");

    QTest::newRow("farm shape") << QStringLiteral("\\\\?\\usb#7&2b1f0c3&0&04#vid_1209&pid_5a01#{a5dc}@Sim Boot ROM "
                                                  "Serial (COM7)@USB\\VID_1209&PID_5A01\\7&2B1F0C3&0&04")
                                << QStringLiteral("COM7") << QStringLiteral("USB\\VID_1209&PID_5A01\\7&2B1F0C3&0&04")
                                << QStringLiteral("7&2b1f0c3&0&04@vid_1209&pid_5a01@Sim Boot ROM Serial (COM7)")
                                << QStringLiteral("BROM");
    QTest::newRow("last parentheses win") << QStringLiteral("a#b#c@A (x) (COM3)@id") << QStringLiteral("COM3")
                                          << QStringLiteral("id") << QStringLiteral("b@c@A (x) (COM3)@id@A (x) (COM3)")
                                          << QStringLiteral("BROM");
    QTest::newRow("preloader anywhere") << QStringLiteral("a#PreLoader-x#c@n (COM4)@id") << QStringLiteral("COM4")
                                        << QStringLiteral("id") << QStringLiteral("PreLoader-x@c@n (COM4)@id@n (COM4)")
                                        << QStringLiteral("PreLoader");
    QTest::newRow("lower-case preloader") << QStringLiteral("a#b#c@preloader (COM5)@id") << QStringLiteral("COM5")
                                          << QStringLiteral("id") << QStringLiteral("b@c@preloader (COM5)@id@preloader (COM5)")
                                          << QStringLiteral("BROM");
    QTest::newRow("empty fields count") << QStringLiteral("x@@id") << QStringLiteral("x@@id") << QStringLiteral("id")
                                        << QStringLiteral("@@") << QStringLiteral("BROM");
    QTest::newRow("no closing parenthesis") << QStringLiteral("a (COM9") << QStringLiteral("COM9") << QString()
                                            << QStringLiteral("@@") << QStringLiteral("BROM");
    QTest::newRow("empty") << QString() << QString() << QString() << QStringLiteral("@@") << QStringLiteral("BROM");
}

void DeviceSessionTest::descriptionGivesThePortIdentity()
{
    QFETCH(QString, description);
    const PortIdentity identity = ParsePortDescription(description);
    QTEST(identity.portName, "portName");
    QTEST(identity.instanceId, "instanceId");
    QTEST(identity.friendlyPortName, "friendlyPortName");
    QTEST(identity.comportType, "comportType");
}

void DeviceSessionTest::scanBindsTheDeviceThatArrives_data()
{
    QTest::addColumn<QString>("type");
    QTest::newRow("boot rom") << QStringLiteral("BROM");
    QTest::newRow("preloader") << QStringLiteral("PreLoader");
}

void DeviceSessionTest::scanBindsTheDeviceThatArrives()
{
    QFETCH(QString, type);
    QVERIFY(UseFarm(QStringLiteral("[Farm]\nTimeScale=0\nPorts=1\nFirstCom=12\nType=%1\n").arg(type)));
    DeviceInstance device;
    const LogCapture log;
    QString description;
    QCOMPARE(device.Scan(description), 0);
    QVERIFY(description.contains(QStringLiteral("(COM12)")));
    QCOMPARE(device.GetPortName(), QStringLiteral("COM12"));
    QCOMPARE(device.GetPortType(), type);
    QVERIFY(device.GetFriendlyPortName().endsWith(QStringLiteral("(COM12)")));
    QVERIFY(description.startsWith(QStringLiteral("\\\\?\\usb#") + device.GetFriendlyPortName().section('@', 0, 0)));
    QVERIFY(description.endsWith(QLatin1Char('@') + device.GetInstanceId()));

    QCOMPARE(log.Count(QStringLiteral("DeviceInstance::Scan"),
                       QStringLiteral("Scan Comport: %1, Result = 0").arg(description), kSource),
             1);
    QCOMPARE(log.Count(QStringLiteral("DeviceInstance::Scan"),
                       QStringLiteral("Comport FriendlyPortName: ") + device.GetFriendlyPortName(), kSource),
             1);
    QCOMPARE(log.Count(QStringLiteral("DeviceInstance::Scan"), QStringLiteral("comportType: ") + type, kSource), 1);
    QCOMPARE(log.Count(QStringLiteral("DeviceInstance::Scan"),
                       QStringLiteral("DeviceIntanceID: ") + device.GetInstanceId(), kSource),
             1);
}

void DeviceSessionTest::stoppedScanKeepsThePortIdentity()
{
    QVERIFY(UseFarm(QStringLiteral("[Farm]\nTimeScale=0\nPorts=1\n[Port-COM3]\nAbsent=true\n")));
    DeviceInstance device;
    device.SetPortName(QStringLiteral("COM3"));
    device.SetPortType(QStringLiteral("PreLoader"));
    device.SetFriendlyPortName(QStringLiteral("kept"));
    device.Stop();
    QString description;
    QCOMPARE(device.Scan(description), QUILLON_E_STOPPED);
    QCOMPARE(device.GetPortName(), QStringLiteral("COM3"));
    QCOMPARE(device.GetPortType(), QStringLiteral("PreLoader"));
    QCOMPARE(device.GetFriendlyPortName(), QStringLiteral("kept"));
}

void DeviceSessionTest::sessionEndsWithTheEnginesErrorAtTheFailingStage_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QStringList>("stages");
    QTest::addColumn<QString>("failureLine");

    const QStringList all = {"scan",           "connect",         "enter-mode",
                             "authentication", "CMD:ERASE-FLASH", "CMD:REBOOT"};
    QTest::newRow("no fault") << QString() << all << QString();
    QTest::newRow("scan") << QStringLiteral("Fail=scan") << QStringList(all.mid(0, 1))
                          << QStringLiteral("Failed to scan the device with port COM://COM3@\n");
    QTest::newRow("connect") << QStringLiteral("Fail=connect") << QStringList(all.mid(0, 2))
                             << QStringLiteral("Failed to connect the device\n");
    QTest::newRow("enter mode") << QStringLiteral("Fail=enter") << QStringList(all.mid(0, 3))
                                << QStringLiteral("Failed to enter DA mode\n");
    QTest::newRow("command") << QStringLiteral("Fail=command:CMD:ERASE-FLASH") << QStringList(all.mid(0, 5))
                             << QStringLiteral("Failed to execute the command\n");
}

void DeviceSessionTest::sessionEndsWithTheEnginesErrorAtTheFailingStage()
{
    QFETCH(QString, fault);
    QFETCH(QStringList, stages);
    QFETCH(QString, failureLine);
    QVERIFY(UseFarm(FarmWith(QStringLiteral("[Port-COM3]\n") + fault + QLatin1Char('\n'))));
    DeviceInstance device;
    Prepare(device, 0);
    ICmdXMLGenerator generator;
    device.AddCommand(generator.GetEraseFlashCmdString());
    device.AddCommand(generator.GetRebootCmdString(false));
    QSignalSpy lastErrors(&device, &DeviceInstance::SigNotifyUpdateLastError);
    QSignalSpy progress(&device, &DeviceInstance::SigNotifyProgress);

    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    const LogCapture log;
    device.Start();

    const bool fails = !fault.isEmpty();
    QCOMPARE(device.IsFailed(), fails);
    QCOMPARE(device.GetStatus(), fails ? PortStatus::FAIL : PortStatus::OK);
    const SessionStages recorded = device.GetStages();
    QStringList names;
    for (const SessionStage& stage : recorded) {
        names << stage.name;
        QVERIFY(stage.startMs >= before && stage.endMs >= stage.startMs);
    }
    QCOMPARE(names, stages);
    QCOMPARE(recorded.last().result != 0, fails);
    if (!fails) {
        QVERIFY(!progress.isEmpty());
        QVERIFY(lastErrors.isEmpty());
        QCOMPARE(device.GetLastError(), QStringLiteral("No Error Occurred"));
        return;
    }
    QVERIFY(!device.GetLastError().isEmpty());
    QVERIFY(device.GetLastError() != QStringLiteral("No Error Occurred"));
    QCOMPARE(lastErrors.size(), 1);
    QCOMPARE(lastErrors.at(0).at(0).toInt(), 0);
    QCOMPARE(lastErrors.at(0).at(1).toString(), device.GetLastError());
    QCOMPARE(SessionLines(log, failureLine), 1);
}

void DeviceSessionTest::engineWithoutSessionsFailsWithItsOwnText()
{
    QVERIFY(UseFarm(FarmWith(QStringLiteral("RefuseSessions=true\n"))));
    DeviceInstance device;
    Prepare(device, 0);
    QSignalSpy lastErrors(&device, &DeviceInstance::SigNotifyUpdateLastError);
    const LogCapture log;
    device.Start();
    QVERIFY(device.IsFailed());
    QCOMPARE(device.GetStatus(), PortStatus::FAIL);
    QCOMPARE(device.GetLastError(), QStringLiteral("Failed to create session"));
    QCOMPARE(lastErrors.size(), 1);
    QVERIFY(device.GetStages().isEmpty());
    QCOMPARE(SessionLines(log, QStringLiteral("Failed to create session\n")), 1);
}

void DeviceSessionTest::failingCallbackFailsTheSession()
{
    QVERIFY(UseFarm(FarmWith(QString())));
    DeviceInstance device;
    Prepare(device, 1);
    CommandEntry entry;
    entry.command = ICmdXMLGenerator().GetEraseFlashCmdString();
    entry.callback = &FailingCallback;
    device.AddCommandWithCallback(entry);
    device.AddCommand(ICmdXMLGenerator().GetRebootCmdString(false));
    const LogCapture log;
    device.Start();
    QVERIFY(device.IsFailed());
    QCOMPARE(device.GetStatus(), PortStatus::FAIL);
    QCOMPARE(device.GetStages().last().name, QStringLiteral("CMD:ERASE-FLASH"));
    QCOMPARE(log.Count(kSessionTag, QStringLiteral("call back"), kSource), 1);
    QCOMPARE(SessionLines(log, QStringLiteral("Failed to execute the command callback\n")), 1);
}

void DeviceSessionTest::instanceIdFindsTheDeviceWhenAskedTo()
{
    QVERIFY(UseFarm(FarmWith(QString())));
    DeviceInstance scanner;
    QString description;
    QCOMPARE(scanner.Scan(description), 0);

    DeviceInstance device;
    Prepare(device, 0);
    device.SetPortName(QStringLiteral("COM99"));
    device.SetInstanceId(scanner.GetInstanceId());
    device.SetScanType(1);
    const LogCapture log;
    device.Start();
    QVERIFY2(!device.IsFailed(), qPrintable(device.GetLastError()));
    QCOMPARE(SessionLines(log, QStringLiteral("scan the device with IntanceID\n")), 1);
    QCOMPARE(SessionLines(log, QStringLiteral("Scan the device with port COM://COM99@%1 done\n")
                                   .arg(scanner.GetInstanceId())),
             1);
}

void DeviceSessionTest::previousDevicesFeedbackIsGoneWhenTheCommandFails()
{
    QVERIFY(UseFarm(FarmWith(QStringLiteral("[Port-COM5]\nFail=command:CMD:GET-DOWNLOADED-IMAGE-FEEDBACK\n"))));
    // A previous device's matching answer, left on this port's file name.
    const QString feedbackPath = ICmdXMLGenerator::FeedbackFilePath(2);
    QVERIFY(TestFiles::WriteFile(feedbackPath, "<feedback/>"));

    DeviceInstance device;
    Prepare(device, 2);
    CommandEntry entry;
    entry.command = ICmdXMLGenerator().GetDownloadImageFeedback(2);
    entry.callback = &DownloadFeedbackCallback;
    entry.index = 2;
    entry.argument = load.scatterPath;
    device.AddCommandWithCallback(entry);
    device.Start();
    QVERIFY(device.IsFailed());
    QVERIFY(!QFileInfo::exists(feedbackPath));
}

void DeviceSessionTest::resetClearsTheOutcomeButKeepsThePort()
{
    QVERIFY(UseFarm(FarmWith(QStringLiteral("[Port-COM3]\nFail=connect\n"))));
    DeviceInstance device;
    Prepare(device, 0);
    device.AddCommand(ICmdXMLGenerator().GetRebootCmdString(false));
    device.Start();
    QVERIFY(device.IsFailed());

    QSignalSpy lastErrors(&device, &DeviceInstance::SigNotifyUpdateLastError);
    device.Reset();
    QVERIFY(!device.IsFailed());
    QVERIFY(device.GetCommands().isEmpty());
    QCOMPARE(device.GetLastError(), QStringLiteral("No Error Occurred"));
    QCOMPARE(lastErrors.size(), 1);
    QCOMPARE(lastErrors.at(0).at(1).toString(), QStringLiteral("No Error Occurred"));
    QCOMPARE(device.GetStatus(), PortStatus::FAIL);
    QCOMPARE(device.GetPortName(), PortName(0));
    QCOMPARE(device.GetParameter("FLASH-XML-PATH"), load.flashXmlPath.toUtf8());
}

void DeviceSessionTest::stopKeepsAnOutcomeAlreadyReached()
{
    QVERIFY(UseFarm(FarmWith(QString())));
    DeviceInstance device;
    Prepare(device, 0);
    device.Start();
    QCOMPARE(device.GetStatus(), PortStatus::OK);
    device.Stop();
    QCOMPARE(device.GetStatus(), PortStatus::OK);

    // A stop before the next session starts still ends that session: the scan is abandoned.
    device.Start();
    QVERIFY(device.IsFailed());
    QCOMPARE(device.GetStatus(), PortStatus::FAIL);
    QCOMPARE(device.GetStages().last().result, QUILLON_E_STOPPED);
}

QTEST_GUILESS_MAIN(DeviceSessionTest)
#include "tst_DeviceSession.moc"
