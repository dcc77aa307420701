// The download agent's options: what the dialog restores, what every start receives, what it keeps.
#include "PortTestSupport.h"

#include "Utility/FileUtils.h"
#include "common/IniSetting.h"
#include "ui/MainWindow.h"
#include "ui/OptionDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QRadioButton>
#include <QtTest>

#include <memory>

namespace {

const QString kFile = QStringLiteral("pxl_setting.ini");

void WriteOptions(const QByteArray& group)
{
    QFile::remove(kFile);
    if (!group.isNull())
        QVERIFY(TestFiles::WriteFile(kFile, "[DAOptions]\n" + group));
}

class Yes : public OperatorPrompt
{
public:
    void Tell(Kind, const QString&, const QString&) override {}
    bool Ask(const QString&, const QString&) override { return true; }
};

} // namespace

class OptionDialogTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void storedValuesAndTheirFallbacks_data();
    void storedValuesAndTheirFallbacks();
    void checksumBoxesGiveTheLevel_data();
    void checksumBoxesGiveTheLevel();
    void exitWritesTheFiveKeys();
    void aChangeInTheOpenDialogReachesTheNextStart();
};

void OptionDialogTest::initTestCase()
{
    FileUtils::SetAppDirectory(QDir::currentPath().toUtf8());
    ParserTestSupport::StartLogging();
}

void OptionDialogTest::storedValuesAndTheirFallbacks_data()
{
    QTest::addColumn<QByteArray>("group");
    QTest::addColumn<QString>("battery");
    QTest::addColumn<QString>("level");
    QTest::addColumn<QString>("channel");
    QTest::addColumn<int>("batteryExist");
    QTest::newRow("no file") << QByteArray() << "rbAutoDetect" << "INFO" << "UART" << 0;
    QTest::newRow("all set") << QByteArray("BatterySetting=WithBattery\nDALogLevel=ERROR\nDALogChannel=USB\n")
                             << "rbWithBattery" << "ERROR" << "USB" << 1;
    QTest::newRow("without battery") << QByteArray("BatterySetting=WithoutBattery\nDALogLevel=DEBUG\n")
                                     << "rbWithoutBattery" << "DEBUG" << "UART" << 2;
    QTest::newRow("other spellings") << QByteArray("BatterySetting=withbattery\nDALogLevel=info\nDALogChannel=usb\n")
                                     << "rbAutoDetect" << "INFO" << "UART" << 0;
}

void OptionDialogTest::storedValuesAndTheirFallbacks()
{
    QFETCH(QByteArray, group);
    QFETCH(QString, battery);
    QFETCH(QString, level);
    QFETCH(QString, channel);
    QFETCH(int, batteryExist);
    WriteOptions(group);
    OptionDialog dialog(nullptr, nullptr, kFile);
    QVERIFY(dialog.findChild<QRadioButton*>(battery)->isChecked());
    QCOMPARE(dialog.findChild<QComboBox*>(QStringLiteral("cmbDALogLevel"))->currentText(), level);
    QCOMPARE(dialog.findChild<QComboBox*>(QStringLiteral("cmbDALogChannel"))->currentText(), channel);
    RuntimeParameters parameters;
    dialog.GetRuntimeParameters(parameters);
    QCOMPARE(int(parameters.batteryExist), batteryExist);
    QCOMPARE(parameters.daLogLevel, level);
    QCOMPARE(parameters.logChannel, channel);
    QCOMPARE(parameters.checksumLevel, 1);
    QCOMPARE(parameters.hwResetKey, QStringLiteral("POWER-KEY+X"));
    QCOMPARE(parameters.systemOs, QStringLiteral("WINDOWS"));
}

void OptionDialogTest::checksumBoxesGiveTheLevel_data()
{
    QTest::addColumn<bool>("usb");
    QTest::addColumn<bool>("storage");
    QTest::addColumn<int>("level");
    QTest::newRow("neither") << false << false << 1;
    QTest::newRow("usb") << true << false << 2;
    QTest::newRow("storage") << false << true << 4;
    QTest::newRow("both") << true << true << 6;
}

void OptionDialogTest::checksumBoxesGiveTheLevel()
{
    QFETCH(bool, usb);
    QFETCH(bool, storage);
    QFETCH(int, level);
    WriteOptions(QStringLiteral("USBCheckSum=%1\nStorageCheckSum=%2\n").arg(usb).arg(storage).toUtf8());
    OptionDialog dialog(nullptr, nullptr, kFile);
    QCOMPARE(dialog.findChild<QCheckBox*>(QStringLiteral("cbUSBChecksum"))->isChecked(), usb);
    QCOMPARE(dialog.findChild<QCheckBox*>(QStringLiteral("cbStorageChecksum"))->isChecked(), storage);
    RuntimeParameters parameters;
    dialog.GetRuntimeParameters(parameters);
    QCOMPARE(parameters.checksumLevel, level);
}

void OptionDialogTest::exitWritesTheFiveKeys()
{
    WriteOptions(QByteArray());
    {
        OptionDialog dialog(nullptr, nullptr, kFile);
        dialog.findChild<QRadioButton*>(QStringLiteral("rbWithoutBattery"))->setChecked(true);
        dialog.findChild<QComboBox*>(QStringLiteral("cmbDALogLevel"))->setCurrentIndex(2);
        dialog.findChild<QComboBox*>(QStringLiteral("cmbDALogChannel"))->setCurrentIndex(1);
        dialog.findChild<QCheckBox*>(QStringLiteral("cbStorageChecksum"))->setChecked(true);
    }
    const auto read = [](const char* key) {
        return IniSetting(kFile, QStringLiteral("DAOptions"), QLatin1String(key)).ReadString();
    };
    QCOMPARE(read("BatterySetting"), QStringLiteral("WithoutBattery"));
    QCOMPARE(read("DALogLevel"), QStringLiteral("WARN"));
    QCOMPARE(read("DALogChannel"), QStringLiteral("USB"));
    QCOMPARE(read("USBCheckSum"), QStringLiteral("false"));
    QCOMPARE(read("StorageCheckSum"), QStringLiteral("true"));
}

void OptionDialogTest::aChangeInTheOpenDialogReachesTheNextStart()
{
    QFile::remove(kFile);
    QVERIFY(PortTestSupport::ConfigureFarm(QStringLiteral("farm.ini"), QStringLiteral("[Farm]\nTimeScale=0\n")));
    const simtest::SampleLoad load = PortTestSupport::WriteStationLoad(QDir::current().absoluteFilePath("load"));
    Yes yes;
    MainWindow window;
    window.SetOperatorPrompt(&yes);
    window.ShowOptions();
    window.Options().findChild<QComboBox*>(QStringLiteral("cmbDALogLevel"))->setCurrentText(QStringLiteral("DEBUG"));
    window.Options().findChild<QCheckBox*>(QStringLiteral("cbUSBChecksum"))->setChecked(true);
    window.Ports().Device(0).SetPortName(PortTestSupport::PortName(0));
    window.Ports().SetScanType(0);
    window.SetElementContent(QStringLiteral("leFlashXmlPath"), load.flashXmlPath);
    window.SetPortSelectState(0, 2);
    window.Ports().Start(0);
    const QByteArray setting = window.Ports().Device(0).GetParameter("DA-MODE-SETTING");
    QVERIFY2(setting.contains("DEBUG"), setting.constData());
    QVERIFY2(setting.contains("USB"), setting.constData());
    QTRY_VERIFY_WITH_TIMEOUT(!window.Ports().IsPortBusy(0), 20000);
}

QTEST_MAIN(OptionDialogTest)
#include "tst_OptionDialog.moc"
