// The settings file carries a station's set-up from one shift to the next: what it restores, what it
// refuses, and what it writes back, byte for byte.
#include "PortTestSupport.h"
#include "TestFrontEnd.h"

#include "Utility/FileUtils.h"
#include "Utility/StationFolders.h"
#include "common/DaOptions.h"
#include "common/IniSetting.h"
#include "common/PortManager.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QtTest>

#include <memory>

using ParserTestSupport::LogCapture;

namespace {

const QString kFile = QStringLiteral("pxl_setting.ini");

// A port manager on the test's own settings file, with a front end, restored as the window does.
struct Station
{
    explicit Station(bool load = true) : manager(std::make_unique<PortManager>()), frontEnd(*manager)
    {
        manager->SetSettingsFile(QDir::current().absoluteFilePath(kFile));
        if (load) {
            manager->LoadCommonSetting();
            manager->LoadEfuseSetting();
        }
    }

    // The port manager saves at exit through the front end, which must still be there.
    ~Station() { manager.reset(); }

    std::unique_ptr<PortManager> manager;
    TestFrontEnd frontEnd;
};

// Where the settings restored in typed form differ from what the restore showed by element name.
QString RestoredMismatch(const Station& station)
{
    const RunSettings& restored = station.manager->GetRestoredSettings();
    const TestFrontEnd& shown = station.frontEnd;
    const auto checked = [&shown](const char* name) { return shown.checks.value(QLatin1String(name)); };
    const auto text = [&shown](const char* name) { return shown.contents.value(QLatin1String(name)); };
    const bool format = restored.scene == RunSettings::Scene::FormatDownload;
    QStringList differ;
    if (checked("rbFormatDownload") != format || checked("rbFirmwareUpgrade") == format)
        differ << QStringLiteral("scene");
    if (QList<bool>{checked("cbAutoPolling"), checked("cbAutoReboot"), checked("cbSelectAllPorts")} !=
        QList<bool>{restored.autoPolling, restored.autoReboot, restored.selectAllPorts})
        differ << QStringLiteral("boxes");
    if (QStringList{text("leFlashXmlPath"), text("leAuthFilePath"), text("leCertFilePath")} !=
        QStringList{restored.flashXmlPath, restored.authFilePath, restored.certFilePath})
        differ << QStringLiteral("files");
    for (int row = 0; row < PortManager::kPortCount; ++row) {
        if (shown.rowSelected[row] != restored.selectedRows[row] || shown.Cell(row, 0) != station.manager->GetRowState(row).port)
            differ << QStringLiteral("row %1").arg(row);
    }
    return differ.join(QLatin1Char(' '));
}

void WriteSettings(const QByteArray& text)
{
    QFile::remove(kFile);
    if (!text.isNull())
        QVERIFY(TestFiles::WriteFile(kFile, text));
}

} // namespace

class SettingsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void noFileGivesTheDefaults();
    void booleansAreTrueOnlyWhenTheySaySo_data();
    void booleansAreTrueOnlyWhenTheySaySo();
    void integersThatDoNotReadAreMinusOne_data();
    void integersThatDoNotReadAreMinusOne();
    void efuseSceneIsOfferedOnlyWhenAllowedAndNotAutomatic_data();
    void efuseSceneIsOfferedOnlyWhenAllowedAndNotAutomatic();
    void sceneIsMatchedExactly();
    void channelTableIsRestoredFromFriendlyNames_data();
    void channelTableIsRestoredFromFriendlyNames();
    void selectAllAndOneRestoredPort();
    void pathThatDocumentsCannotCarryIsLeftEmpty();
    void exitWritesTheOperatorsState_data();
    void exitWritesTheOperatorsState();
    void twoLifetimesWriteTheSameBytes();
    void fileWithAFormatErrorIsLeftUntouched_data();
    void fileWithAFormatErrorIsLeftUntouched();
    void garbageStartsWithDefaultsAndNeverCrashes();
    void stationGroupIsReadByItsRules_data();
    void stationGroupIsReadByItsRules();
    void stationGroupSurvivesTheSaveAtExit();
    void aLockInTheDefaultFileBindsAnyOther_data();
    void aLockInTheDefaultFileBindsAnyOther();
    void installersFileAnswersWhatTheUsersLacks_data();
    void installersFileAnswersWhatTheUsersLacks();
    void installedStationUsesTheUsersFileOverTheInstallers();
};

void SettingsTest::initTestCase()
{
    ParserTestSupport::StartLogging();
    QVERIFY(PortTestSupport::ConfigureFarm(QStringLiteral("farm.ini"), QStringLiteral("[Farm]\nTimeScale=0\n")));
}

void SettingsTest::noFileGivesTheDefaults()
{
    WriteSettings(QByteArray());
    Station station;
    const TestFrontEnd& frontEnd = station.frontEnd;
    QCOMPARE(frontEnd.checks.value(QStringLiteral("rbFirmwareUpgrade")), true);
    QVERIFY(!frontEnd.checks.contains(QStringLiteral("rbFormatDownload")));
    for (const char* box : {"cbAutoReboot", "cbAutoPolling", "cbSelectAllPorts"})
        QCOMPARE(frontEnd.checks.value(QLatin1String(box), true), false);
    for (const char* path : {"leFlashXmlPath", "leAuthFilePath", "leCertFilePath"})
        QCOMPARE(frontEnd.contents.value(QLatin1String(path), QStringLiteral("unset")), QString());
    for (int row = 0; row < PortManager::kPortCount; ++row) {
        QCOMPARE(frontEnd.Cell(row, 0), QStringLiteral("N/A"));
        QVERIFY(!frontEnd.rowSelected[row]);
        QCOMPARE(station.manager->Device(row).GetScanType(), -1);
    }
    QVERIFY(frontEnd.history.contains(QStringLiteral("hide rbEFUSEWrite")));
    QVERIFY(!station.manager->IsFlashXmlRestored());
    QCOMPARE(RestoredMismatch(station), QString());
}

void SettingsTest::booleansAreTrueOnlyWhenTheySaySo_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<bool>("value");
    for (const char* text : {"true", "TRUE", "True", "1", "yes", "On", " on "})
        QTest::newRow(text) << QByteArray(text) << true;
    for (const char* text : {"false", "0", "", "no", "off", "NO", "abc", "2", "truee"})
        QTest::newRow(*text ? text : "empty") << QByteArray(text) << false;
}

void SettingsTest::booleansAreTrueOnlyWhenTheySaySo()
{
    QFETCH(QByteArray, stored);
    QFETCH(bool, value);
    WriteSettings("[EfuseSettings]\nEnable=" + stored + "\n");
    QCOMPARE(IniSetting(kFile, QStringLiteral("EfuseSettings"), QStringLiteral("Enable")).ReadBool(), value);
    QVERIFY(!IniSetting(kFile, QStringLiteral("EfuseSettings"), QStringLiteral("Missing")).ReadBool());
}

void SettingsTest::integersThatDoNotReadAreMinusOne_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<int>("value");
    QTest::newRow("zero") << QByteArray("0") << 0;
    QTest::newRow("one") << QByteArray("1") << 1;
    QTest::newRow("letters") << QByteArray("abc") << -1;
    QTest::newRow("empty") << QByteArray() << -1;
    QTest::newRow("too large") << QByteArray("99999999999999999999") << -1;
    QTest::newRow("trailing text") << QByteArray("0x") << -1;
}

void SettingsTest::integersThatDoNotReadAreMinusOne()
{
    QFETCH(QByteArray, stored);
    QFETCH(int, value);
    WriteSettings("[ChanneltNumber]\nScanType=" + stored + "\n");
    Station station;
    for (int row = 0; row < PortManager::kPortCount; ++row)
        QCOMPARE(station.manager->Device(row).GetScanType(), value);
}

void SettingsTest::efuseSceneIsOfferedOnlyWhenAllowedAndNotAutomatic_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<bool>("hidden");
    QTest::newRow("not allowed") << QByteArray("Enable=false\nBlowAfterDownload=false\n") << true;
    QTest::newRow("allowed, separate scene") << QByteArray("Enable=true\nBlowAfterDownload=false\n") << false;
    QTest::newRow("allowed, after every download") << QByteArray("Enable=true\nBlowAfterDownload=true\n") << true;
    QTest::newRow("edited by hand: no and off") << QByteArray("Enable=no\nBlowAfterDownload=off\n") << true;
}

void SettingsTest::efuseSceneIsOfferedOnlyWhenAllowedAndNotAutomatic()
{
    QFETCH(QByteArray, settings);
    QFETCH(bool, hidden);
    WriteSettings("[EfuseSettings]\n" + settings + "EfuseImagePath=/loads/efuse.bin\nReadEfuseEnable=1\n"
                                                   "ReadbackPath=/loads/readback.bin\n");
    const LogCapture log;
    Station station;
    QCOMPARE(station.frontEnd.history.contains(QStringLiteral("hide rbEFUSEWrite")), hidden);
    const QString tag = QStringLiteral("PortManager::LoadEfuseSetting");
    const bool enable = settings.startsWith("Enable=true");
    const bool blow = settings.contains("BlowAfterDownload=true");
    QCOMPARE(log.Count(tag, QStringLiteral("BlowEfuseEnable = %1").arg(enable ? 1 : 0), QStringLiteral("PortManager")), 1);
    QCOMPARE(log.Count(tag, QStringLiteral("BlowAfterDownload = %1").arg(blow ? 1 : 0), QStringLiteral("PortManager")), 1);
    QCOMPARE(log.Count(tag, QStringLiteral("EfuseImagePath = /loads/efuse.bin"), QStringLiteral("PortManager")), 1);
    QCOMPARE(log.Count(tag, QStringLiteral("ReadEfuseEnable = 1"), QStringLiteral("PortManager")), 1);
    QCOMPARE(log.Count(tag, QStringLiteral("ReadbackPath= /loads/readback.bin"), QStringLiteral("PortManager")), 1);
}

void SettingsTest::sceneIsMatchedExactly()
{
    WriteSettings("[DownloadScene]\nScene=FormatAllAndDownload\n");
    {
        Station station;
        QVERIFY(station.frontEnd.checks.value(QStringLiteral("rbFormatDownload")));
    }
    WriteSettings("[DownloadScene]\nScene=formatallanddownload\n");
    Station station;
    QVERIFY(station.frontEnd.checks.value(QStringLiteral("rbFirmwareUpgrade")));
    QVERIFY(!station.frontEnd.checks.contains(QStringLiteral("rbFormatDownload")));
}

void SettingsTest::channelTableIsRestoredFromFriendlyNames_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("portName");
    QTest::addColumn<QString>("portType");
    QTest::addColumn<QString>("instanceId");
    QTest::newRow("parentheses") << "X (COM7)" << "COM7" << "BROM" << "X (COM7)";
    QTest::newRow("farm shape") << "7&2b1f0c3&0&04@vid_1209&pid_5a01@Sim PreLoader Serial (COM7)"
                                << "COM7" << "PreLoader" << "7&2b1f0c3&0&04";
    QTest::newRow("last pair wins") << "A (x) (COM3)" << "COM3" << "BROM" << "A (x) (COM3)";
    QTest::newRow("no parenthesis") << "COM9" << "COM9" << "BROM" << "COM9";
    QTest::newRow("empty") << "" << "" << "" << "";
}

void SettingsTest::channelTableIsRestoredFromFriendlyNames()
{
    QFETCH(QString, stored);
    QFETCH(QString, portName);
    QFETCH(QString, portType);
    QFETCH(QString, instanceId);
    QFile::remove(kFile);
    IniSetting(kFile, QStringLiteral("ChannelInfo"), QStringLiteral("Channel-06")).WriteString(stored);
    IniSetting(kFile, QStringLiteral("ChanneltNumber"), QStringLiteral("ScanType")).WriteString(QStringLiteral("0"));
    Station station;
    const DeviceInstance& device = station.manager->Device(6);
    QCOMPARE(device.GetFriendlyPortName(), stored);
    QCOMPARE(device.GetPortName(), portName);
    QCOMPARE(device.GetPortType(), portType);
    QCOMPARE(device.GetInstanceId(), instanceId);
    QCOMPARE(device.GetScanType(), 0);
    QCOMPARE(station.frontEnd.Cell(6, 0), portName.isEmpty() ? QStringLiteral("N/A") : portName + '+' + portType);
    QCOMPARE(station.frontEnd.rowSelected[6], !portName.isEmpty());
    QCOMPARE(RestoredMismatch(station), QString());
}

void SettingsTest::selectAllAndOneRestoredPort()
{
    WriteSettings("[DownloadSetting]\nSelectAllComports=true\n[ChannelInfo]\nChannel-03=\"x@y@Sim (COM5)\"\n");
    Station station;
    for (int row = 0; row < PortManager::kPortCount; ++row) {
        QVERIFY(station.frontEnd.rowSelected[row]);
        QCOMPARE(station.frontEnd.Cell(row, 0), row == 3 ? QStringLiteral("COM5+BROM") : QStringLiteral("N/A"));
    }
    QCOMPARE(RestoredMismatch(station), QString());
}

void SettingsTest::pathThatDocumentsCannotCarryIsLeftEmpty()
{
    // A single backslash is an escape to QSettings: "\e" and "\n" arrive as control characters.
    WriteSettings("[Files]\nFlashXMLFile=C:\\efuse\\new.xml\nAuthFile=/loads/a.auth\n");
    const LogCapture log;
    Station station;
    QCOMPARE(station.frontEnd.contents.value(QStringLiteral("leFlashXmlPath"), QStringLiteral("unset")), QString());
    QCOMPARE(station.frontEnd.contents.value(QStringLiteral("leAuthFilePath")), QStringLiteral("/loads/a.auth"));
    QVERIFY(!station.manager->IsFlashXmlRestored());
    QCOMPARE(log.CountContaining(QStringLiteral("PortManager::LoadCommonSetting"), QStringLiteral("Files/FlashXMLFile ignored")), 1);
    QCOMPARE(RestoredMismatch(station), QString());
}

void SettingsTest::exitWritesTheOperatorsState_data()
{
    QTest::addColumn<bool>("typedSettings");
    QTest::newRow("the window read by name") << false;
    QTest::newRow("settings handed over") << true;
}

void SettingsTest::exitWritesTheOperatorsState()
{
    QFETCH(bool, typedSettings);
    WriteSettings("[RebootScene]\nScene=FASTBOOT\n[EfuseSettings]\nEnable=true\n[MetaSetting]\nADB=ON\n");
    const LogCapture log;
    {
        Station station;
        station.frontEnd.checks[QStringLiteral("rbFormatDownload")] = false;
        station.frontEnd.checks[QStringLiteral("rbFirmwareUpgrade")] = false;
        station.frontEnd.checks[QStringLiteral("rbEFUSEWrite")] = true;
        station.frontEnd.checks[QStringLiteral("cbAutoPolling")] = true;
        station.frontEnd.contents[QStringLiteral("leFlashXmlPath")] = QStringLiteral("/loads/flash.xml");
        station.manager->Device(5).SetFriendlyPortName(QStringLiteral("a@b@Sim (COM8)"));
        if (typedSettings) {
            RunSettings settings;
            settings.scene = RunSettings::Scene::EfuseWrite;
            settings.autoPolling = true;
            settings.flashXmlPath = station.frontEnd.contents.take(QStringLiteral("leFlashXmlPath"));
            station.frontEnd.checks.clear();
            station.manager->SetRunSettings(settings);
        }
        station.manager.reset();
        QCOMPARE(station.frontEnd.gets == 0, typedSettings);
    }
    const IniSetting scene(kFile, QStringLiteral("DownloadScene"), QStringLiteral("Scene"));
    QCOMPARE(scene.ReadString(), QStringLiteral("FirmwareUpgrade"));
    QVERIFY(IniSetting(kFile, QStringLiteral("DownloadSetting"), QStringLiteral("AutoPollingEnabled")).ReadBool());
    QCOMPARE(IniSetting(kFile, QStringLiteral("Files"), QStringLiteral("FlashXMLFile")).ReadString(),
             QStringLiteral("/loads/flash.xml"));
    for (int channel = 0; channel < PortManager::kPortCount; ++channel) {
        const QString key = QStringLiteral("Channel-%1").arg(channel, 2, 10, QLatin1Char('0'));
        const QVariant value = IniSetting(kFile, QStringLiteral("ChannelInfo"), key).ReadValue();
        QVERIFY(value.isValid());
        QCOMPARE(value.toString(), channel == 5 ? QStringLiteral("a@b@Sim (COM8)") : QString());
    }
    // Groups that are only read keep what the installer wrote.
    QCOMPARE(IniSetting(kFile, QStringLiteral("RebootScene"), QStringLiteral("Scene")).ReadString(), QStringLiteral("FASTBOOT"));
    QVERIFY(IniSetting(kFile, QStringLiteral("EfuseSettings"), QStringLiteral("Enable")).ReadBool());
    QCOMPARE(IniSetting(kFile, QStringLiteral("MetaSetting"), QStringLiteral("ADB")).ReadString(), QStringLiteral("ON"));
    QCOMPARE(log.Count(QStringLiteral("PortManager::SaveCommonSetting"), QStringLiteral("Channel 5 save FriendlyPortName:a@b@Sim (COM8)"),
                       QStringLiteral("PortManager")),
             0); // the message ends in a line break, so its source tag is on the next line
    QCOMPARE(log.CountContaining(QStringLiteral("PortManager::SaveCommonSetting"), QStringLiteral("Channel 5 save FriendlyPortName:a@b@Sim (COM8)")), 1);
}

void SettingsTest::twoLifetimesWriteTheSameBytes()
{
    WriteSettings("[DownloadScene]\nScene=FormatAllAndDownload\n[DownloadSetting]\nSelectAllComports=true\n"
                  "[Files]\nFlashXMLFile=/loads/flash.xml\n[ChannelInfo]\nChannel-02=\"x@y@Sim (COM5)\"\n"
                  "[EfuseSettings]\nEfuseImagePath=\"C:\\\\efuse\\\\new.bin\"\n");
    QByteArray afterFirst;
    for (int lifetime = 0; lifetime < 2; ++lifetime) {
        { Station station; }
        const QByteArray bytes = TestFiles::ReadFile(kFile);
        QVERIFY(!bytes.isEmpty());
        if (lifetime == 0)
            afterFirst = bytes;
        else
            QCOMPARE(bytes, afterFirst);
    }
    QCOMPARE(IniSetting(kFile, QStringLiteral("EfuseSettings"), QStringLiteral("EfuseImagePath")).ReadString(),
             QStringLiteral("C:\\efuse\\new.bin"));
}

void SettingsTest::fileWithAFormatErrorIsLeftUntouched_data()
{
    QTest::addColumn<QByteArray>("original");
    QTest::newRow("line that is no key") << QByteArray("; installer\n[Files]\nFlashXMLFile=/loads/flash.xml\nnot a key\n");
    QTest::newRow("broken group header") << QByteArray("; installer\n[Files\nFlashXMLFile=/loads/flash.xml\n");
    QTest::newRow("broken header, binary bytes") << QByteArray("[EfuseSettings\nEnable=true\n\x01\xff\xfe\n[DAOptions]\n");
}

void SettingsTest::fileWithAFormatErrorIsLeftUntouched()
{
    QFETCH(QByteArray, original);
    WriteSettings(original);
    const LogCapture log;
    {
        Station station;
        station.frontEnd.contents[QStringLiteral("leFlashXmlPath")] = QStringLiteral("/other/flash.xml");
        // The options dialog's writer keeps to the same rule.
        DaOptions().Save(kFile);
    }
    QCOMPARE(TestFiles::ReadFile(kFile), original);
    QCOMPARE(log.CountContaining(QStringLiteral("PortManager::LoadCommonSetting"), QStringLiteral("could not be read whole")), 1);
}

void SettingsTest::garbageStartsWithDefaultsAndNeverCrashes()
{
    QByteArray garbage("[DownloadSetting\n=\n[]\nAutoPollingEnabled=maybe\n\xff\xfe\x00\x01[Files]\nAuthFile=");
    garbage += QByteArray(100000, 'A');
    garbage += "\n[ChannelInfo]\nChannel-00=((((\nChannel-01=))))\nChannel-02=@@@@\n";
    WriteSettings(garbage);
    Station station;
    QCOMPARE(station.frontEnd.checks.value(QStringLiteral("cbAutoPolling"), true), false);
    for (int row = 0; row < PortManager::kPortCount; ++row)
        QVERIFY(!station.frontEnd.Cell(row, 0).isNull());
    QCOMPARE(RestoredMismatch(station), QString());
}

void SettingsTest::stationGroupIsReadByItsRules_data()
{
    QTest::addColumn<QByteArray>("group");
    QTest::addColumn<QString>("expected"); // the settings as read, in the order of Describe below
    QTest::addColumn<int>("unknown");      // keys logged once at I
    QTest::addColumn<int>("refused");      // values logged at E, the key keeping its default
    const QString logs = QStringLiteral(" logs=4096/14/64/15 free=512 stage=0");
    const QString defaults = QStringLiteral("verify=0 quarantine=3 locked=0 digest= target=0 unit=0") + logs;
    QTest::newRow("no group") << QByteArray() << defaults << 0 << 0;
    QTest::newRow("every key")
        << QByteArray("RequireVerification=yes\nQuarantineAfter=0\nLocked=ON\nLoadDigest=00112233AABBCCDD\n"
                      "Target=250\nReadUnitId=1\nLogBudgetMB=100\nLogKeepDays=0\nLogFileMB=2\nLogFilesKept=1\n"
                      "MinFreeMB=0\nStageLoad=true\n")
        << QStringLiteral("verify=1 quarantine=0 locked=1 digest=00112233aabbccdd target=250 unit=1 logs=100/0/2/1 free=0 "
                          "stage=1")
        << 0 << 0;
    QTest::newRow("false words") << QByteArray("RequireVerification=off\nLocked=No\nReadUnitId=0\nStageLoad=no\n")
                                 << defaults << 0 << 0;
    QTest::newRow("bad values keep defaults")
        << QByteArray("RequireVerification=maybe\nQuarantineAfter=-1\nLocked=2\nLoadDigest=xyz\nTarget=ten\n"
                      "ReadUnitId=\"\"\nLogBudgetMB=-5\nLogKeepDays=week\nLogFileMB=1.5\nLogFilesKept=\nMinFreeMB=1e3\n"
                      "StageLoad=copy\n")
        << defaults << 0 << 12;
    QTest::newRow("a list is no value") << QByteArray("Target=1,2\nLoadDigest=0011223344556677\n")
                                        << QStringLiteral("verify=0 quarantine=3 locked=0 digest=0011223344556677 target=0 unit=0") + logs
                                        << 0 << 1;
    QTest::newRow("unknown key, any letter case") << QByteArray("Lock=true\nrequireverification=true\nTarget=5\n")
                                  << QStringLiteral("verify=1 quarantine=3 locked=0 digest= target=5 unit=0") + logs << 1 << 0;
}

void SettingsTest::stationGroupIsReadByItsRules()
{
    QFETCH(QByteArray, group);
    QFETCH(QString, expected);
    QFETCH(int, unknown);
    QFETCH(int, refused);
    WriteSettings("[Files]\nFlashXMLFile=/loads/flash.xml\n" + (group.isEmpty() ? QByteArray() : "[Station]\n" + group));
    const LogCapture log;
    Station station;
    const StationSettings& read = station.manager->GetStationSettings();
    const QString described = QStringLiteral("verify=%1 quarantine=%2 locked=%3 digest=%4 target=%5 unit=%6")
                                  .arg(int(read.requireVerification))
                                  .arg(read.quarantineAfter)
                                  .arg(int(read.locked))
                                  .arg(read.loadDigest)
                                  .arg(read.target)
                                  .arg(int(read.readUnitId)) +
                              QStringLiteral(" logs=%1/%2/%3/%4 free=%5 stage=%6")
                                  .arg(read.logBudgetMB)
                                  .arg(read.logKeepDays)
                                  .arg(read.logFileMB)
                                  .arg(read.logFilesKept)
                                  .arg(read.minFreeMB)
                                  .arg(int(read.stageLoad && station.manager->StagesLoad()));
    QCOMPARE(described, expected);
    QCOMPARE(log.CountContaining(QStringLiteral("StationSettings::Read"), QStringLiteral("is not a key this version knows")),
             unknown);
    QCOMPARE(log.CountContaining(QStringLiteral("StationSettings::Read"), QStringLiteral("the key is ignored")), refused);
}

void SettingsTest::aLockInTheDefaultFileBindsAnyOther_data()
{
    QTest::addColumn<QByteArray>("defaultGroup");
    QTest::addColumn<QByteArray>("namedGroup");
    QTest::addColumn<QString>("expected");
    QTest::newRow("locked default") << QByteArray("Locked=true\nLoadDigest=0011223344556677\n")
                                    << QByteArray("Locked=false\nTarget=9\n") << QStringLiteral("1 0011223344556677 0");
    QTest::newRow("unlocked default") << QByteArray("RequireVerification=true\nTarget=3\n")
                                      << QByteArray("Target=9\n") << QStringLiteral("0  9");
    QTest::newRow("no default file") << QByteArray() << QByteArray("Locked=true\n") << QStringLiteral("1  0");
}

void SettingsTest::aLockInTheDefaultFileBindsAnyOther()
{
    QFETCH(QByteArray, defaultGroup);
    QFETCH(QByteArray, namedGroup);
    QFETCH(QString, expected);
    const QString defaultFile = QDir::current().absoluteFilePath(QStringLiteral("default.ini"));
    const QString named = QDir::current().absoluteFilePath(QStringLiteral("named.ini"));
    QFile::remove(defaultFile);
    if (!defaultGroup.isNull())
        QVERIFY(TestFiles::WriteFile(defaultFile, "[Station]\n" + defaultGroup));
    QVERIFY(TestFiles::WriteFile(named, "[Station]\n" + namedGroup));
    const StationSettings read = StationSettings::InForce(named, defaultFile);
    QCOMPARE(QStringLiteral("%1 %2 %3").arg(int(read.locked)).arg(read.loadDigest).arg(read.target), expected);
}

void SettingsTest::stationGroupSurvivesTheSaveAtExit()
{
    WriteSettings("[Files]\nFlashXMLFile=/loads/flash.xml\n"
                  "[Station]\nLocked=true\nLoadDigest=00112233aabbccdd\nTarget=40\nFutureKey=kept\n");
    {
        Station station;
        station.frontEnd.contents[QStringLiteral("leFlashXmlPath")] = QStringLiteral("/other/flash.xml");
    }
    QCOMPARE(IniSetting(kFile, QStringLiteral("Files"), QStringLiteral("FlashXMLFile")).ReadString(),
             QStringLiteral("/other/flash.xml")); // the save did run
    QSettings after(kFile, QSettings::IniFormat);
    after.beginGroup(QStringLiteral("Station"));
    QStringList entries;
    for (const QString& key : after.childKeys())
        entries << key + QLatin1Char('=') + after.value(key).toString();
    QCOMPARE(entries, (QStringList{QStringLiteral("FutureKey=kept"), QStringLiteral("LoadDigest=00112233aabbccdd"),
                                   QStringLiteral("Locked=true"), QStringLiteral("Target=40")}));
}

void SettingsTest::installersFileAnswersWhatTheUsersLacks_data()
{
    QTest::addColumn<QString>("group");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::newRow("the user's own value wins") << "Files" << "FlashXMLFile" << "/mine/flash.xml";
    QTest::newRow("the user's empty value wins") << "Files" << "CertFile" << "";
    QTest::newRow("a key only the installer set") << "Files" << "AuthFile" << "/installer/auth.bin";
    QTest::newRow("a group only the installer set") << "EfuseSettings" << "Enable" << "true";
    QTest::newRow("a key neither set") << "Files" << "Nothing" << "";
}

void SettingsTest::installersFileAnswersWhatTheUsersLacks()
{
    QFETCH(QString, group);
    QFETCH(QString, key);
    QFETCH(QString, value);
    const QByteArray installers("[Files]\nFlashXMLFile=/installer/flash.xml\nAuthFile=/installer/auth.bin\n"
                                "CertFile=/installer/cert.pem\n[EfuseSettings]\nEnable=true\n");
    QVERIFY(TestFiles::WriteFile(QStringLiteral("installer.ini"), installers));
    WriteSettings("[Files]\nFlashXMLFile=/mine/flash.xml\nCertFile=\n");
    IniSetting setting(kFile, group, key);
    setting.defaults = QStringLiteral("installer.ini");
    QCOMPARE(setting.ReadString(), value);

    setting.WriteString(QStringLiteral("/written"));
    QCOMPARE(IniSetting(kFile, group, key).ReadString(), QStringLiteral("/written"));
    QCOMPARE(TestFiles::ReadFile(QStringLiteral("installer.ini")), installers);
}

void SettingsTest::installedStationUsesTheUsersFileOverTheInstallers()
{
    const QString bin = QDir::current().absoluteFilePath(QStringLiteral("installed/usr/bin"));
    QVERIFY(QDir().mkpath(QDir(bin).filePath(StationFolders::InstalledLibraryFolder())));
    const QString config = QDir::current().absoluteFilePath(QStringLiteral("installed/config"));
    const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config));
    FileUtils::SetAppDirectory(QFile::encodeName(bin));
    const QString path = IniSetting::DefaultPath();
    const QString defaults = IniSetting(path, QStringLiteral("Files"), QStringLiteral("AuthFile")).defaults;
    const QString otherFilesDefaults = IniSetting(kFile, QStringLiteral("Files"), QStringLiteral("AuthFile")).defaults;
    FileUtils::SetAppDirectory(QByteArray());
    qputenv("XDG_CONFIG_HOME", oldConfig);

    QCOMPARE(path, config + QStringLiteral("/praxilo/pxl_setting.ini"));
    QCOMPARE(defaults, StationFolders::InstallerSettingsFile());
    QVERIFY(otherFilesDefaults.isEmpty());
}

QTEST_GUILESS_MAIN(SettingsTest)
#include "tst_Settings.moc"
