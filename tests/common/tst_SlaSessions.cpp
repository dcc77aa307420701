// Sessions against authenticating devices: a DA SLA device flashes only when the library answers right, a
// BROM SLA port connects only with the library's SLA_Challenge pair, the resolver's folder decides which
// library answers, sixteen ports authenticate at once, and a session asked for the unit's id reads it when
// authentication did not, without failing the device when it cannot.
#include "PortTestSupport.h"
#include "SlaTestSupport.h"

#include "Utility/FileUtils.h"
#include "XML/ICmdXMLGenerator.h"
#include "common/DeviceInstance.h"
#include "common/SlaLibrary.h"

#include <QSignalSpy>
#include <QtTest>

#include <memory>
#include <thread>
#include <vector>

using namespace SlaTestSupport;
using ParserTestSupport::LogCapture;

namespace {

constexpr char kStart[] = "DeviceInstance::Start";
constexpr int kPorts = 16;

QString Farm(const QString& keys)
{
    return QStringLiteral("[Farm]\nTimeScale=0\nLinkMBps=0\n") + keys;
}

} // namespace

class SlaSessionsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();

    void slaDeviceFlashesOnlyWithTheRightAnswer_data();
    void slaDeviceFlashesOnlyWithTheRightAnswer();
    void bromSlaPortConnectsOnlyWithTheRightAnswer_data();
    void bromSlaPortConnectsOnlyWithTheRightAnswer();
    void resolverLooksInItsFolderFirst_data();
    void resolverLooksInItsFolderFirst();
    void sixteenPortsAuthenticateAtOnce();
    void unitIdIsReadOnlyWhenAuthenticationDidNot_data();
    void unitIdIsReadOnlyWhenAuthenticationDidNot();

private:
    bool UseFarm(const QString& text);

    simtest::SampleLoad load;
    int farms = 0;
};

bool SlaSessionsTest::UseFarm(const QString& text)
{
    return simtest::Restart(simtest::WriteFarm(QStringLiteral("farm%1.ini").arg(++farms), text));
}

void SlaSessionsTest::initTestCase()
{
    ParserTestSupport::StartLogging();
    UseLibraryConfig();
    load = PortTestSupport::WriteStationLoad(QDir::current().absoluteFilePath(QStringLiteral("load")));
}

void SlaSessionsTest::cleanupTestCase()
{
    SlaLibrary::SetFolder(QString());
    quillon_cleanup();
}

void SlaSessionsTest::slaDeviceFlashesOnlyWithTheRightAnswer_data()
{
    QTest::addColumn<QString>("library");
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<bool>("flashes");
    QTest::newRow("library present, built-in key and type") << "library" << QByteArray() << true;
    QTest::newRow("library absent") << "absent" << QByteArray() << false;
    QTest::newRow("library answers wrongly") << "wrong-answer" << QByteArray() << false;
    QTest::newRow("library with another key") << "library" << QByteArray("Key = not-the-farms") << false;
    QTest::newRow("library with another type") << "library" << QByteArray("Type = 2") << false;
}

void SlaSessionsTest::slaDeviceFlashesOnlyWithTheRightAnswer()
{
    QFETCH(QString, library);
    QFETCH(QByteArray, config);
    QFETCH(bool, flashes);
    QVERIFY(UseFarm(Farm(QStringLiteral("Ports=1\nSla=Enabled\n"))));
    ConfigureLibrary(config);
    SlaLibrary::SetFolder(FolderNamed(library));
    DeviceInstance device;
    Prepare(device, 0, load);
    ICmdXMLGenerator generator;
    device.AddCommand(generator.GetFlashAllCmdString(load.scatterPath));
    device.AddCommand(generator.GetRebootCmdString(false));
    QSignalSpy lastErrors(&device, &DeviceInstance::SigNotifyUpdateLastError);
    device.Start();

    QCOMPARE(device.IsFailed(), !flashes);
    QCOMPARE(device.GetStatus(), flashes ? PortStatus::OK : PortStatus::FAIL);
    const SessionStages stages = device.GetStages();
    QCOMPARE(stages.at(3).name, QStringLiteral("authentication"));
    QCOMPARE(stages.at(4).name, QStringLiteral("CMD:FLASH-ALL"));
    QCOMPARE(stages.at(4).result, flashes ? 0 : int(QUILLON_E_AUTH));
    if (flashes) {
        QCOMPARE(stages.size(), 6);
        QVERIFY(lastErrors.isEmpty());
        return;
    }
    QCOMPARE(stages.size(), 5);
    // The port's error is the engine's own text for the refused command.
    QVERIFY2(device.GetLastError().startsWith(
                 QStringLiteral("CMD:FLASH-ALL refused: the device on COM3 has DA SLA")),
             qPrintable(device.GetLastError()));
    QCOMPARE(lastErrors.size(), 1);
    QCOMPARE(lastErrors.at(0).at(1).toString(), device.GetLastError());
}

void SlaSessionsTest::bromSlaPortConnectsOnlyWithTheRightAnswer_data()
{
    QTest::addColumn<QString>("library");
    QTest::addColumn<QString>("error"); // fragment of the engine's text; empty: connects
    QTest::newRow("library present") << "library" << QString();
    QTest::newRow("library answers wrongly") << "wrong-answer"
                                             << "the SLA_Challenge response does not answer its challenge";
    QTest::newRow("library absent") << "absent"
                                    << "no SLA_Challenge function was given";
}

void SlaSessionsTest::bromSlaPortConnectsOnlyWithTheRightAnswer()
{
    QFETCH(QString, library);
    QFETCH(QString, error);
    QVERIFY(UseFarm(Farm(QStringLiteral("Ports=1\nBromSla=Enabled\n"))));
    ConfigureLibrary(QByteArray());
    SlaLibrary::SetFolder(FolderNamed(library));
    DeviceInstance device;
    Prepare(device, 0, load);
    const LogCapture log;
    device.Start();

    const bool found = library != QLatin1String("absent");
    QCOMPARE(FlowLines(log, kStart, QStringLiteral("Found SLA_Challenge!")), found ? 1 : 0);
    QCOMPARE(FlowLines(log, kStart, QStringLiteral("Found SLA_Challenge_END!")), found ? 1 : 0);
    QCOMPARE(device.IsFailed(), !error.isEmpty());
    QCOMPARE(device.GetStages().at(1).name, QStringLiteral("connect"));
    QCOMPARE(device.GetStages().at(1).result == 0, error.isEmpty());
    QVERIFY2(device.GetLastError().contains(error), qPrintable(device.GetLastError()));
    const QStringList record = LibraryRecord();
    QCOMPARE(record.filter(QRegularExpression(QStringLiteral("^SLA_Challenge user=0 length=16 "))).size(),
             found ? 1 : 0);
    QCOMPARE(record.filter(QStringLiteral("SLA_Challenge_END user=0 response=1 released=32")).size(),
             found ? 1 : 0);
}

void SlaSessionsTest::resolverLooksInItsFolderFirst_data()
{
    QTest::addColumn<QString>("folder");    // what SlaLibrary::SetFolder gets; "" leaves the default
    QTest::addColumn<QString>("appFolder"); // the executable's folder as FileUtils knows it
    QTest::addColumn<QString>("function");
    QTest::addColumn<bool>("found");
    const QString library = QStringLiteral("library");
    QTest::newRow("chosen folder") << library << QString() << "DA_SLA_Challenge" << true;
    QTest::newRow("executable's folder by default") << QString() << library << "SLA_Feature_Config" << true;
    QTest::newRow("installed station: its private folder before the executable's")
        << QString() << "installed" << "SLA_Feature_Config" << true;
    QTest::newRow("chosen folder before the executable's")
        << "no-feature-config" << library << "SLA_Feature_Config" << false;
    QTest::newRow("variant keeps its other functions")
        << "no-feature-config" << library << "DA_SLA_Challenge" << true;
    QTest::newRow("folder without the library") << "absent" << library << "SLA_Challenge" << false;
    QTest::newRow("no folder known") << QString() << QString() << "SLA_Challenge" << false;
    QTest::newRow("unknown function") << library << QString() << "SLA_Nothing" << false;
}

void SlaSessionsTest::resolverLooksInItsFolderFirst()
{
    QFETCH(QString, folder);
    QFETCH(QString, appFolder);
    QFETCH(QString, function);
    QFETCH(bool, found);
    SlaLibrary::SetFolder(folder.isEmpty() ? QString() : FolderNamed(folder));
    FileUtils::SetAppDirectory(appFolder.isEmpty() ? QByteArray() : FolderNamed(appFolder).toUtf8());
    const QFunctionPointer resolved = SlaLibrary::Resolve(function.toLatin1().constData());
    FileUtils::SetAppDirectory(QByteArray());
    QCOMPARE(resolved != nullptr, found);
}

void SlaSessionsTest::sixteenPortsAuthenticateAtOnce()
{
    QVERIFY(UseFarm(Farm(QStringLiteral("Sla=Enabled\nBromSla=Enabled\nSlaType=2\n"))));
    ConfigureLibrary("Type = 2");
    SlaLibrary::SetFolder(LibraryFolder());
    std::vector<std::unique_ptr<DeviceInstance>> devices;
    for (int i = 0; i < kPorts; ++i) {
        devices.push_back(std::make_unique<DeviceInstance>());
        Prepare(*devices.back(), i, load);
        devices.back()->AddCommand(ICmdXMLGenerator().GetFlashAllCmdString(load.scatterPath));
    }
    std::vector<std::thread> workers;
    for (const auto& device : devices)
        workers.emplace_back([&device] { device->Start(); });
    for (std::thread& worker : workers)
        worker.join();

    for (const auto& device : devices)
        QVERIFY2(!device->IsFailed(),
                 qPrintable(device->GetPortName() + QStringLiteral(": ") + device->GetLastError()));
    const QStringList record = LibraryRecord();
    QCOMPARE(record.filter(QRegularExpression(QStringLiteral("^DA_SLA_Challenge user=0 length=48 "))).size(),
             kPorts);
    QCOMPARE(record.filter(QStringLiteral("DA_SLA_Challenge_END user=0 response=0 released=32")).size(),
             kPorts);
    QCOMPARE(record.filter(QStringLiteral("SLA_Challenge_END user=0 response=1 released=32")).size(), kPorts);
}

void SlaSessionsTest::unitIdIsReadOnlyWhenAuthenticationDidNot_data()
{
    QTest::addColumn<QString>("farm");
    QTest::addColumn<bool>("readUnitId");
    QTest::addColumn<bool>("named");
    QTest::addColumn<int>("commands"); // every call the engine took, the command list's two among them
    QTest::newRow("no DA SLA, not asked") << "" << false << false << 3;
    QTest::newRow("no DA SLA, asked") << "" << true << true << 4;
    QTest::newRow("DA SLA names the unit, not asked") << "Sla=Enabled\n" << false << true << 5;
    QTest::newRow("DA SLA names the unit, asked: no second query") << "Sla=Enabled\n" << true << true << 5;
    QTest::newRow("the query fails: flashed all the same")
        << "[Port-COM3]\nFail=command:CMD:SECURITY-GET-DEV-FW-INFO\n" << true << false << 4;
}

void SlaSessionsTest::unitIdIsReadOnlyWhenAuthenticationDidNot()
{
    QFETCH(QString, farm);
    QFETCH(bool, readUnitId);
    QFETCH(bool, named);
    QFETCH(int, commands);
    QVERIFY(UseFarm(Farm(QStringLiteral("Ports=1\n") + farm)));
    ConfigureLibrary(QByteArray());
    SlaLibrary::SetFolder(FolderNamed(QStringLiteral("library")));
    DeviceInstance device;
    Prepare(device, 0, load);
    device.SetReadUnitId(readUnitId);
    ICmdXMLGenerator generator;
    device.AddCommand(generator.GetFlashAllCmdString(load.scatterPath));
    device.AddCommand(generator.GetRebootCmdString(false));
    const LogCapture log;
    const CommandCounter counter;
    device.Start();

    QCOMPARE(device.GetStatus(), PortStatus::OK);
    QCOMPARE(counter.Count(), commands);
    QCOMPARE(log.CountContaining(QStringLiteral("DeviceInstance::ReadUnitId"), QStringLiteral("Unit id not read")),
             readUnitId && !named ? 1 : 0);
    QByteArray hrid;
    QByteArray socid;
    if (named)
        QVERIFY(DeviceIds(PortTestSupport::PortName(0), load, hrid, socid));
    QCOMPARE(device.GetSocid(), QString::fromLatin1(socid.toHex()));
    QCOMPARE(device.GetSocid().isEmpty(), !named);
}

QTEST_GUILESS_MAIN(SlaSessionsTest)
#include "tst_SlaSessions.moc"
