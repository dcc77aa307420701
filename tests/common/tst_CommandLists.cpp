// The command list a port's start hands its session, for every scene and option, compared document by
// document with what the generator builds: a wrong list erases, flashes or reboots a device wrongly.
#include "PortTestSupport.h"
#include "TestFrontEnd.h"

#include "XML/ICmdXMLGenerator.h"
#include "common/DownloadFeedbackCallback.h"
#include "common/PortManager.h"

#include <QDir>
#include <QtTest>

using namespace PortTestSupport;

namespace {

struct Choice
{
    Choice() = default;
    Choice(const QString& scene, int checksumLevel, bool readEfuse = false, bool efuseEnable = false,
           bool blowAfterDownload = false, bool autoReboot = false)
        : scene(scene), checksumLevel(checksumLevel), readEfuse(readEfuse), efuseEnable(efuseEnable),
          blowAfterDownload(blowAfterDownload), autoReboot(autoReboot)
    {
    }

    QString scene; // "format", "upgrade", "efuse" or "none"
    int checksumLevel = 0;
    bool readEfuse = false;
    bool efuseEnable = false;
    bool blowAfterDownload = false;
    bool autoReboot = false;
    bool autoPolling = false;
    QString rebootScene;
    bool flashXmlReadable = true;
};

RuntimeParameters Parameters(int checksumLevel)
{
    RuntimeParameters parameters;
    parameters.checksumLevel = checksumLevel;
    parameters.hwResetKey = QStringLiteral("POWER-KEY+X");
    parameters.daLogLevel = QStringLiteral("INFO");
    parameters.logChannel = QStringLiteral("UART");
    parameters.systemOs = QStringLiteral("WINDOWS");
    return parameters;
}

} // namespace

Q_DECLARE_METATYPE(Choice)

class CommandListsTest : public QObject
{
    Q_OBJECT

private:
    simtest::SampleLoad load;
    void CheckList(bool typedSettings);

private Q_SLOTS:
    void initTestCase();
    void listForSceneAndOptions_data();
    void listForSceneAndOptions();
    void typedSettingsGiveTheSameList_data() { listForSceneAndOptions_data(); }
    void typedSettingsGiveTheSameList();
};

void CommandListsTest::initTestCase()
{
    ParserTestSupport::StartLogging();
    load = WriteStationLoad(QDir::current().absoluteFilePath(QStringLiteral("load")));
    QVERIFY(ConfigureFarm(QStringLiteral("farm.ini"), QStringLiteral("[Farm]\nTimeScale=0\nLinkMBps=0\n")));
}

void CommandListsTest::listForSceneAndOptions_data()
{
    QTest::addColumn<Choice>("choice");
    // Names of the expected documents in order; the test builds each one with its own generator.
    QTest::addColumn<QStringList>("expected");

    Choice plain{QStringLiteral("format"), 1};
    QTest::newRow("format, no verification") << plain << QStringList{"ERASE", "FLASH-ALL", "REBOOT:DISCONNECT"};

    Choice upgrade{QStringLiteral("upgrade"), 2, true};
    upgrade.autoReboot = true;
    upgrade.rebootScene = QStringLiteral("FASTBOOT");
    QTest::newRow("upgrade, read-back, fastboot")
        << upgrade << QStringList{"UPGRADE", "FEEDBACK", "READ-EFUSE", "BOOT:FASTBOOT", "REBOOT:IMMEDIATE"};

    Choice polling = plain;
    polling.autoReboot = true;
    polling.autoPolling = true;
    polling.rebootScene = QStringLiteral("FASTBOOT");
    QTest::newRow("auto polling adds no boot mode")
        << polling << QStringList{"ERASE", "FLASH-ALL", "REBOOT:IMMEDIATE"};

    Choice pollingOnly = plain;
    pollingOnly.autoPolling = true;
    QTest::newRow("auto polling alone reboots at once")
        << pollingOnly << QStringList{"ERASE", "FLASH-ALL", "REBOOT:IMMEDIATE"};

    Choice metaCase = plain;
    metaCase.autoReboot = true;
    metaCase.rebootScene = QStringLiteral("meta mode");
    QTest::newRow("boot mode name differs in case") << metaCase
                                                    << QStringList{"ERASE", "FLASH-ALL", "REBOOT:IMMEDIATE"};

    Choice efuseOff{QStringLiteral("efuse"), 1, true};
    QTest::newRow("efuse write while efuse is off") << efuseOff << QStringList{"REBOOT:DISCONNECT"};

    Choice efuseOn{QStringLiteral("efuse"), 1, true, true};
    QTest::newRow("efuse write") << efuseOn << QStringList{"WRITE-EFUSE", "READ-EFUSE", "REBOOT:DISCONNECT"};

    Choice blow{QStringLiteral("format"), 2, true, true, true, true};
    blow.rebootScene = QStringLiteral("META Mode");
    QTest::newRow("format, blow after download, meta")
        << blow
        << QStringList{"ERASE", "FLASH-ALL", "FEEDBACK", "WRITE-EFUSE", "READ-EFUSE", "BOOT:META",
                       "REBOOT:IMMEDIATE"};

    Choice noBlow{QStringLiteral("format"), 4, true, true, false, true};
    noBlow.rebootScene = QStringLiteral("Android Test Mode");
    QTest::newRow("format, efuse without blow")
        << noBlow
        << QStringList{"ERASE", "FLASH-ALL", "FEEDBACK", "READ-EFUSE", "BOOT:ANDROID-TEST-MODE", "REBOOT:IMMEDIATE"};

    Choice none{QStringLiteral("none"), 2, true, true, true};
    QTest::newRow("no scene") << none << QStringList{"REBOOT:DISCONNECT"};

    Choice unreadableXml{QStringLiteral("format"), 3};
    unreadableXml.flashXmlReadable = false;
    QTest::newRow("flash xml unreadable: no scatter path")
        << unreadableXml << QStringList{"ERASE", "FLASH-ALL:", "FEEDBACK:", "REBOOT:DISCONNECT"};
}

void CommandListsTest::listForSceneAndOptions() { CheckList(false); }

// The same list, with the window's choices handed over as settings rather than asked by element name.
void CommandListsTest::typedSettingsGiveTheSameList() { CheckList(true); }

void CommandListsTest::CheckList(bool typedSettings)
{
    QFETCH(Choice, choice);
    QFETCH(QStringList, expected);
    const QString efuseImage = QDir(load.folder).filePath(QStringLiteral("efuse.bin"));
    const QString readback = QDir(load.folder).filePath(QStringLiteral("readback.bin"));
    const QString scatter = QDir::toNativeSeparators(load.folder + QStringLiteral("/load_scatter.txt"));

    const ParserTestSupport::LogCapture log;
    {
        PortManager manager;
        TestFrontEnd frontEnd(manager);
        BindPorts(manager);
        manager.SetReadEfuseEnable(choice.readEfuse);
        manager.SetEfuseEnable(choice.efuseEnable);
        manager.SetBlowAfterDownload(choice.blowAfterDownload);
        manager.SetEfuseImagePath(efuseImage);
        manager.SetReadbackPath(readback);
        manager.SetRebootScene(choice.rebootScene);
        manager.SetMetaSetting(QStringLiteral("USB"), QStringLiteral("ON"), QStringLiteral("OFF"));
        frontEnd.rowSelected[4] = true;
        frontEnd.contents[QStringLiteral("leFlashXmlPath")] = load.flashXmlPath;
        frontEnd.checks[QStringLiteral("rbFormatDownload")] = choice.scene == QLatin1String("format");
        frontEnd.checks[QStringLiteral("rbFirmwareUpgrade")] = choice.scene == QLatin1String("upgrade");
        frontEnd.checks[QStringLiteral("rbEFUSEWrite")] = choice.scene == QLatin1String("efuse");
        frontEnd.checks[QStringLiteral("cbAutoReboot")] = choice.autoReboot;
        frontEnd.checks[QStringLiteral("cbAutoPolling")] = choice.autoPolling;
        frontEnd.runtimeParameters = Parameters(choice.checksumLevel);
        RunSettings settings;
        settings.selectedRows[4] = true;
        settings.flashXmlPath = load.flashXmlPath;
        using Scene = RunSettings::Scene;
        const QHash<QString, Scene> scenes = {
            {"format", Scene::FormatDownload}, {"upgrade", Scene::FirmwareUpgrade}, {"efuse", Scene::EfuseWrite}};
        settings.scene = scenes.value(choice.scene, Scene::None);
        settings.autoReboot = choice.autoReboot;
        settings.autoPolling = choice.autoPolling;
        settings.runtimeParameters = frontEnd.runtimeParameters;
        if (typedSettings)
            manager.SetRunSettings(settings);

        if (!choice.flashXmlReadable) {
            // A load resolved earlier must not be written once the operator's flash XML no longer names one.
            manager.Start(4);
            QTRY_VERIFY_WITH_TIMEOUT(!manager.IsPortBusy(4), 20000);
            frontEnd.contents[QStringLiteral("leFlashXmlPath")] =
                simtest::WriteFile(load.folder + QStringLiteral("/unreadable.xml"), "not a flash XML\n");
            settings.flashXmlPath = frontEnd.contents.value(QStringLiteral("leFlashXmlPath"));
            if (typedSettings)
                manager.SetRunSettings(settings);
        }
        manager.Start(4);
        QVERIFY(manager.IsPortBusy(4));
        if (choice.autoPolling)
            manager.Stop(4);
        QTRY_VERIFY_WITH_TIMEOUT(!manager.IsPortBusy(4), 20000);
        QCOMPARE(frontEnd.getsOffThread, 0);
        QCOMPARE(frontEnd.gets == 0, typedSettings);

        ICmdXMLGenerator generator;
        generator.SetRuntimeParameters(frontEnd.runtimeParameters);
        QCOMPARE(manager.Device(4).GetParameter("DA-MODE-SETTING"), generator.GetRuntimeParameterCmdString().toUtf8());
        QCOMPARE(manager.Device(4).GetParameter("FLASH-XML-PATH"),
                 frontEnd.contents.value(QStringLiteral("leFlashXmlPath")).toUtf8());

        const QVector<CommandEntry> commands = manager.Device(4).GetCommands();
        QCOMPARE(commands.size(), expected.size());
        for (int i = 0; i < expected.size(); ++i) {
            const QString name = expected.at(i).section(QLatin1Char(':'), 0, 0);
            const QString value = expected.at(i).section(QLatin1Char(':'), 1);
            const QString loadPath = expected.at(i).endsWith(QLatin1Char(':')) ? QString() : scatter;
            QString document;
            if (name == QLatin1String("ERASE")) {
                document = generator.GetEraseFlashCmdString();
            } else if (name == QLatin1String("FLASH-ALL")) {
                document = generator.GetFlashAllCmdString(loadPath);
            } else if (name == QLatin1String("UPGRADE")) {
                document = generator.GetFWCmdString(loadPath);
            } else if (name == QLatin1String("FEEDBACK")) {
                document = generator.GetDownloadImageFeedback(4);
                QVERIFY(commands.at(i).callback == &DownloadFeedbackCallback);
                QCOMPARE(commands.at(i).index, 4);
                QCOMPARE(commands.at(i).argument, loadPath);
            } else if (name == QLatin1String("WRITE-EFUSE")) {
                document = generator.GetWriteEfuseCmdString(efuseImage);
            } else if (name == QLatin1String("READ-EFUSE")) {
                document = generator.GetReadEfuseCmdString(readback);
            } else if (name == QLatin1String("BOOT")) {
                if (value == QLatin1String("META"))
                    generator.SetMetaSetting(QStringLiteral("USB"), QStringLiteral("ON"), QStringLiteral("OFF"));
                document = generator.GetSetBootModeCmdString(value);
            } else if (name == QLatin1String("REBOOT")) {
                document = generator.GetRebootCmdString(value == QLatin1String("IMMEDIATE"));
            }
            QVERIFY2(!document.isEmpty(), qPrintable(expected.at(i)));
            QCOMPARE(commands.at(i).command, document);
            if (name != QLatin1String("FEEDBACK"))
                QVERIFY(commands.at(i).callback == nullptr);
        }
    }

    const int feedbacks = expected.filter(QStringLiteral("FEEDBACK")).size() * (choice.flashXmlReadable ? 1 : 2);
    QCOMPARE(log.Count(QStringLiteral("PortManager::Start"), QStringLiteral("checksumLevel:%1").arg(choice.checksumLevel),
                       QStringLiteral("PortManager")),
             feedbacks);
    QCOMPARE(log.Count(QStringLiteral("PortManager::Start"), QStringLiteral("ScatterFile not found!"),
                       QStringLiteral("PortManager")),
             choice.flashXmlReadable ? 0 : 1);
}

QTEST_GUILESS_MAIN(CommandListsTest)
#include "tst_CommandLists.moc"
