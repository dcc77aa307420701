#include "CmdXmlTestSupport.h"
#include "StdoutCapture.h"
#include "XML/ICmdXMLGenerator.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QtTest>

#include <cstring>

class TestCmdXml : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void everyBuilderWritesTheExactDocument_data();
    void everyBuilderWritesTheExactDocument();
    void pathsGetNativeSeparatorsWhilePathSeparatorStaysSlash_data();
    void pathsGetNativeSeparatorsWhilePathSeparatorStaysSlash();
    void valuesNeedingEscapesReadBackIntact_data();
    void valuesNeedingEscapesReadBackIntact();
    void metaOptionsOnlyForExactlyMETA_data();
    void metaOptionsOnlyForExactlyMETA();
    void checksumLevelBitsBecomeText_data();
    void checksumLevelBitsBecomeText();
    void batteryCodeBecomesText_data();
    void batteryCodeBecomesText();
    void runtimeStringsPassUnchangedAndSystemIsAlwaysWindows();
    void settingsChangedLaterReachTheNextDocument();
    void memoryTargetIsLowercaseHexWithoutLeadingZeros_data();
    void memoryTargetIsLowercaseHexWithoutLeadingZeros();
    void bothQueriesNameTheRealBufferTheEngineWrites();
    void bufferStartsZeroedAndIsNotClearedBetweenCommands();
    void answerFillingTheWholeBufferIsReadOnlyToItsEnd();
    void copiesShareTheBufferAndKeepItAlive();
    void noAnswerBeforeAnyQuery();
    void feedbackFolderIsCreatedAndFileNamesThePort_data();
    void feedbackFolderIsCreatedAndFileNamesThePort();
    void feedbackPathAloneCreatesNothing();
    void feedbackDocumentIsBuiltEvenWhenFolderCannotBeMade();
    void backupFolderIsNamedButNotCreated();
    void buildersLogTheFeedbackFileAndBackupFolder();
};

void TestCmdXml::everyBuilderWritesTheExactDocument_data()
{
    QTest::addColumn<QString>("document");
    QTest::addColumn<QString>("expected");

    const QString cwd = Native(QDir::currentPath());
    const QString load = Native("/load/scatter.txt");
    ICmdXMLGenerator generator;
    RuntimeParameters params;
    params.checksumLevel = 2;
    params.batteryExist = 1;
    params.hwResetKey = "POWER-KEY+X";
    params.daLogLevel = "INFO";
    params.logChannel = "UART";
    params.systemOs = "WINDOWS";
    generator.SetRuntimeParameters(params);
    generator.SetMetaSetting("WITH_UART", "ON", "");

    QTest::newRow("flash all") << generator.GetFlashAllCmdString("/load/scatter.txt")
                               << Expected("CMD:FLASH-ALL", {"<path_separator>/</path_separator>",
                                                             "<source_file>" + load + "</source_file>"});
    QTest::newRow("firmware upgrade")
        << generator.GetFWCmdString("/load/scatter.txt")
        << Expected("CMD:FLASH-UPDATE",
                    {"<path_separator>/</path_separator>", "<source_file>" + load + "</source_file>",
                     "<backup_folder>" + cwd + Native("/BackupFolder") + "</backup_folder>"});
    QTest::newRow("erase") << generator.GetEraseFlashCmdString()
                           << Expected("CMD:ERASE-FLASH", {"<partition>ALL</partition>",
                                                           "<offset>0x0</offset>", "<length>0x0</length>"});
    QTest::newRow("write efuse, empty path") << generator.GetWriteEfuseCmdString("")
                                             << Expected("CMD:WRITE-EFUSE", {"<source_file></source_file>"});
    QTest::newRow("read efuse") << generator.GetReadEfuseCmdString("/out/efuse.bin")
                                << Expected("CMD:READ-EFUSE",
                                            {"<target_file>" + Native("/out/efuse.bin") + "</target_file>"});
    QTest::newRow("boot mode META") << generator.GetSetBootModeCmdString("META")
                                    << Expected("CMD:SET-BOOT-MODE",
                                                {"<mode>META</mode>",
                                                 "<connect_type>WITH_UART</connect_type>",
                                                 "<mobile_log>ON</mobile_log>", "<adb></adb>"});
    QTest::newRow("reboot immediate")
        << generator.GetRebootCmdString(true) << Expected("CMD:REBOOT", {"<action>IMMEDIATE</action>"});
    QTest::newRow("reboot disconnect")
        << generator.GetRebootCmdString(false) << Expected("CMD:REBOOT", {"<action>DISCONNECT</action>"});
    QTest::newRow("feedback") << generator.GetDownloadImageFeedback(7)
                              << Expected("CMD:GET-DOWNLOADED-IMAGE-FEEDBACK",
                                          {"<target_file>" + cwd +
                                           Native("/Tmp/DownloadImageFeedback_7.xml") + "</target_file>"});
    QTest::newRow("runtime parameters")
        << generator.GetRuntimeParameterCmdString()
        << Expected("CMD:SET-RUNTIME-PARAMETER",
                    {"<checksum_level>USB</checksum_level>", "<battery_exist>YES</battery_exist>",
                     "<hw_reset_key>POWER-KEY+X</hw_reset_key>", "<da_log_level>INFO</da_log_level>",
                     "<log_channel>UART</log_channel>", "<system_os>WINDOWS</system_os>"});
    // The buffer's address is only known at run time; the test fills it in from the document after checking
    // its form.
    QTest::newRow("system property") << generator.GetSysPropertyCmdString("DA.SLA")
                                     << Expected("CMD:GET-SYS-PROPERTY",
                                                 {"<key>DA.SLA</key>",
                                                  "<target_file>MEM://0x%ADDR%:0x200000</target_file>"});
    QTest::newRow("device firmware info")
        << generator.GetDevFWInfoCmdString()
        << Expected("CMD:SECURITY-GET-DEV-FW-INFO", {"<target_file>MEM://0x%ADDR%:0x200000</target_file>"});
    QTest::newRow("flash policy") << generator.GetSetFlashPolicyCmdString(
                                         reinterpret_cast<const void*>(0xabc0), 0x3e8)
                                  << Expected("CMD:SECURITY-SET-FLASH-POLICY",
                                              {"<source_file>MEM://0xabc0:0x3e8</source_file>"});
}

void TestCmdXml::everyBuilderWritesTheExactDocument()
{
    QFETCH(QString, document);
    QFETCH(QString, expected);
    if (expected.contains("%ADDR%")) {
        const QRegularExpression address("MEM://0x([1-9a-f][0-9a-f]*):");
        const QRegularExpressionMatch match = address.match(document);
        QVERIFY2(match.hasMatch(), qPrintable(document));
        expected.replace("%ADDR%", match.captured(1));
    }
    QCOMPARE(document, expected);
}

void TestCmdXml::pathsGetNativeSeparatorsWhilePathSeparatorStaysSlash_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("forward slashes") << "C:/loads/v6/load_scatter.txt";
    QTest::newRow("mixed separators") << "C:\\loads/v6\\load_scatter.txt";
    QTest::newRow("relative") << "loads/v6/load_scatter.txt";
}

void TestCmdXml::pathsGetNativeSeparatorsWhilePathSeparatorStaysSlash()
{
    QFETCH(QString, path);
    const ICmdXMLGenerator generator;
    const QString flashAll = generator.GetFlashAllCmdString(path);
    QCOMPARE(Argument(flashAll, "CMD:FLASH-ALL", "path_separator"), QString("/"));
    QCOMPARE(Argument(flashAll, "CMD:FLASH-ALL", "source_file"), Native(path));
    const QString update = generator.GetFWCmdString(path);
    QCOMPARE(Argument(update, "CMD:FLASH-UPDATE", "path_separator"), QString("/"));
    QCOMPARE(Argument(update, "CMD:FLASH-UPDATE", "source_file"), Native(path));
    QCOMPARE(Argument(update, "CMD:FLASH-UPDATE", "backup_folder"),
             Native(QDir::currentPath() + "/BackupFolder"));
    QCOMPARE(Argument(generator.GetWriteEfuseCmdString(path), "CMD:WRITE-EFUSE", "source_file"),
             Native(path));
    QCOMPARE(Argument(generator.GetReadEfuseCmdString(path), "CMD:READ-EFUSE", "target_file"), Native(path));
}

void TestCmdXml::valuesNeedingEscapesReadBackIntact_data()
{
    QTest::addColumn<QString>("value");
    QTest::newRow("ampersand") << "R&D/load&more.txt";
    QTest::newRow("angle brackets") << "<load>/a<b>c.txt";
    QTest::newRow("quotes") << "say \"load\" and 'go'";
    QTest::newRow("cdata end") << "x]]>y";
    QTest::newRow("non-ASCII path") << QString::fromUtf8("C:/Prüfung/固件/ładunek.txt");
    QTest::newRow("entity look-alike") << "&amp;&lt;&#65;";
    QTest::newRow("empty") << "";
}

void TestCmdXml::valuesNeedingEscapesReadBackIntact()
{
    QFETCH(QString, value);
    ICmdXMLGenerator generator;
    RuntimeParameters params;
    params.hwResetKey = value;
    params.daLogLevel = value;
    params.logChannel = value;
    generator.SetRuntimeParameters(params);
    generator.SetMetaSetting(value, value, value);

    QCOMPARE(Argument(generator.GetFlashAllCmdString(value), "CMD:FLASH-ALL", "source_file"), Native(value));
    QCOMPARE(Argument(generator.GetFWCmdString(value), "CMD:FLASH-UPDATE", "source_file"), Native(value));
    QCOMPARE(Argument(generator.GetWriteEfuseCmdString(value), "CMD:WRITE-EFUSE", "source_file"),
             Native(value));
    QCOMPARE(Argument(generator.GetReadEfuseCmdString(value), "CMD:READ-EFUSE", "target_file"),
             Native(value));
    QCOMPARE(Argument(generator.GetSetBootModeCmdString(value), "CMD:SET-BOOT-MODE", "mode"), value);
    QCOMPARE(Argument(generator.GetSysPropertyCmdString(value), "CMD:GET-SYS-PROPERTY", "key"), value);
    const QString meta = generator.GetSetBootModeCmdString("META");
    for (const char* name : {"connect_type", "mobile_log", "adb"}) {
        QCOMPARE(Argument(meta, "CMD:SET-BOOT-MODE", name), value);
    }
    const QString runtime = generator.GetRuntimeParameterCmdString();
    for (const char* name : {"hw_reset_key", "da_log_level", "log_channel"}) {
        QCOMPARE(Argument(runtime, "CMD:SET-RUNTIME-PARAMETER", name), value);
    }
}

void TestCmdXml::metaOptionsOnlyForExactlyMETA_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("connectType");
    QTest::addColumn<QStringList>("expectedNames");
    const QStringList modeOnly{"mode"};
    const QStringList withMeta{"mode", "connect_type", "mobile_log", "adb"};
    QTest::newRow("META") << "META"
                          << "WITH_USB" << withMeta;
    QTest::newRow("META with empty settings") << "META"
                                              << "" << withMeta;
    QTest::newRow("lower case") << "meta"
                                << "WITH_USB" << modeOnly;
    QTest::newRow("mixed case") << "Meta"
                                << "WITH_USB" << modeOnly;
    QTest::newRow("trailing space") << "META "
                                    << "WITH_USB" << modeOnly;
    QTest::newRow("FASTBOOT") << "FASTBOOT"
                              << "WITH_USB" << modeOnly;
    QTest::newRow("ANDROID-TEST-MODE") << "ANDROID-TEST-MODE"
                                       << "WITH_USB" << modeOnly;
    QTest::newRow("empty") << ""
                           << "WITH_USB" << modeOnly;
}

void TestCmdXml::metaOptionsOnlyForExactlyMETA()
{
    QFETCH(QString, mode);
    QFETCH(QString, connectType);
    QFETCH(QStringList, expectedNames);
    ICmdXMLGenerator generator;
    generator.SetMetaSetting(connectType, connectType.isEmpty() ? "" : "OFF",
                             connectType.isEmpty() ? "" : "ON");

    const auto arguments = Arguments(generator.GetSetBootModeCmdString(mode), "CMD:SET-BOOT-MODE");
    QStringList names;
    for (const auto& argument : arguments) {
        names << argument.first;
    }
    QCOMPARE(names, expectedNames);
    QCOMPARE(arguments.first().second, mode);
    if (arguments.size() == 4) {
        QCOMPARE(arguments.at(1).second, connectType);
        QCOMPARE(arguments.at(2).second, QString(connectType.isEmpty() ? "" : "OFF"));
        QCOMPARE(arguments.at(3).second, QString(connectType.isEmpty() ? "" : "ON"));
    }
}

void TestCmdXml::checksumLevelBitsBecomeText_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<QString>("expected");
    QTest::newRow("0 unfilled") << 0 << "";
    QTest::newRow("1 none") << 1 << "NONE";
    QTest::newRow("2 usb") << 2 << "USB";
    QTest::newRow("3 none wins") << 3 << "NONE";
    QTest::newRow("4 storage") << 4 << "STORAGE";
    QTest::newRow("5 none wins") << 5 << "NONE";
    QTest::newRow("6 both") << 6 << "USB-STORAGE";
    QTest::newRow("7 none wins") << 7 << "NONE";
    QTest::newRow("unknown bit only") << 8 << "";
    QTest::newRow("unknown bit with both") << 14 << "USB-STORAGE";
    QTest::newRow("all bits") << -1 << "NONE";
}

void TestCmdXml::checksumLevelBitsBecomeText()
{
    QFETCH(int, level);
    QFETCH(QString, expected);
    ICmdXMLGenerator generator;
    RuntimeParameters params;
    params.checksumLevel = level;
    generator.SetRuntimeParameters(params);
    QCOMPARE(
        Argument(generator.GetRuntimeParameterCmdString(), "CMD:SET-RUNTIME-PARAMETER", "checksum_level"),
        expected);
}

void TestCmdXml::batteryCodeBecomesText_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("expected");
    QTest::newRow("0 auto") << 0 << "AUTO-DETECT";
    QTest::newRow("1 with battery") << 1 << "YES";
    QTest::newRow("2 without battery") << 2 << "NO";
    QTest::newRow("3 unknown") << 3 << "AUTO-DETECT";
    QTest::newRow("255 unknown") << 255 << "AUTO-DETECT";
}

void TestCmdXml::batteryCodeBecomesText()
{
    QFETCH(int, code);
    QFETCH(QString, expected);
    ICmdXMLGenerator generator;
    RuntimeParameters params;
    params.batteryExist = static_cast<uint8_t>(code);
    generator.SetRuntimeParameters(params);
    QCOMPARE(Argument(generator.GetRuntimeParameterCmdString(), "CMD:SET-RUNTIME-PARAMETER", "battery_exist"),
             expected);
}

void TestCmdXml::runtimeStringsPassUnchangedAndSystemIsAlwaysWindows()
{
    ICmdXMLGenerator generator;
    RuntimeParameters params;
    params.hwResetKey = "VOL-DOWN";
    params.daLogLevel = " DEBUG ";
    params.logChannel = "USB";
    params.systemOs = "LINUX";
    generator.SetRuntimeParameters(params);
    const QString document = generator.GetRuntimeParameterCmdString();
    const QVector<QPair<QString, QString>> expected{
        {"checksum_level", ""},      {"battery_exist", "AUTO-DETECT"}, {"hw_reset_key", "VOL-DOWN"},
        {"da_log_level", " DEBUG "}, {"log_channel", "USB"},           {"system_os", "WINDOWS"}};
    QCOMPARE(Arguments(document, "CMD:SET-RUNTIME-PARAMETER"), expected);
}

void TestCmdXml::settingsChangedLaterReachTheNextDocument()
{
    ICmdXMLGenerator generator;
    RuntimeParameters params;
    params.checksumLevel = 4;
    generator.SetRuntimeParameters(params);
    generator.SetMetaSetting("A", "B", "C");
    const QString before = generator.GetRuntimeParameterCmdString();
    params.checksumLevel = 1;
    generator.SetRuntimeParameters(params);
    generator.SetMetaSetting("X", "Y", "Z");
    QCOMPARE(Argument(before, "CMD:SET-RUNTIME-PARAMETER", "checksum_level"), QString("STORAGE"));
    QCOMPARE(
        Argument(generator.GetRuntimeParameterCmdString(), "CMD:SET-RUNTIME-PARAMETER", "checksum_level"),
        QString("NONE"));
    QCOMPARE(Argument(generator.GetSetBootModeCmdString("META"), "CMD:SET-BOOT-MODE", "adb"), QString("Z"));
}

void TestCmdXml::memoryTargetIsLowercaseHexWithoutLeadingZeros_data()
{
    QTest::addColumn<quint64>("address");
    QTest::addColumn<uint>("length");
    QTest::addColumn<QString>("expected");
    QTest::newRow("small address, 256 bytes") << quint64(0x9f020) << 256u << "MEM://0x9f020:0x100";
    QTest::newRow("query length") << quint64(0x9f020) << 0x200000u << "MEM://0x9f020:0x200000";
    QTest::newRow("letters are lowercase") << quint64(0xABCDEF) << 0xFFu << "MEM://0xabcdef:0xff";
    QTest::newRow("no fill to width") << quint64(0x10) << 1u << "MEM://0x10:0x1";
    QTest::newRow("largest length") << quint64(0x1000) << 0xFFFFFFFFu << "MEM://0x1000:0xffffffff";
    QTest::newRow("null and empty still build") << quint64(0) << 0u << "MEM://0x0:0x0";
    if (sizeof(quintptr) == 8) {
        QTest::newRow("high 64-bit address")
            << quint64(0x7ffd12a4b0c8ULL) << 4096u << "MEM://0x7ffd12a4b0c8:0x1000";
    }
}

void TestCmdXml::memoryTargetIsLowercaseHexWithoutLeadingZeros()
{
    QFETCH(quint64, address);
    QFETCH(uint, length);
    QFETCH(QString, expected);
    const ICmdXMLGenerator generator;
    const QString document = generator.GetSetFlashPolicyCmdString(
        reinterpret_cast<const void*>(static_cast<quintptr>(address)), length);
    QCOMPARE(Argument(document, "CMD:SECURITY-SET-FLASH-POLICY", "source_file"), expected);
}

void TestCmdXml::bothQueriesNameTheRealBufferTheEngineWrites()
{
    ICmdXMLGenerator generator;
    const quintptr property = TargetAddress(
        Argument(generator.GetSysPropertyCmdString("DA.SLA"), "CMD:GET-SYS-PROPERTY", "target_file"),
        0x200000);
    const quintptr firmware = TargetAddress(
        Argument(generator.GetDevFWInfoCmdString(), "CMD:SECURITY-GET-DEV-FW-INFO", "target_file"), 0x200000);
    QVERIFY(property != 0);
    QCOMPARE(firmware, property);

    // Answer as the engine does: write through the named address, including the last byte of the range.
    char* memory = reinterpret_cast<char*>(property);
    const QByteArray answer = QString::fromUtf8("<item key=\"DA.SLA\">ENABLED</item> ü").toUtf8();
    std::memcpy(memory, answer.constData(), static_cast<size_t>(answer.size()) + 1);
    memory[ICmdXMLGenerator::kMemoryBufferSize - 1] = 'z';
    QCOMPARE(generator.GetMemoryBufferString(), QString::fromUtf8(answer));
}

void TestCmdXml::bufferStartsZeroedAndIsNotClearedBetweenCommands()
{
    ICmdXMLGenerator generator;
    char* memory = reinterpret_cast<char*>(TargetAddress(
        Argument(generator.GetDevFWInfoCmdString(), "CMD:SECURITY-GET-DEV-FW-INFO", "target_file"),
        0x200000));
    QVERIFY(memory != nullptr);
    const QByteArray zeros(static_cast<int>(ICmdXMLGenerator::kMemoryBufferSize), '\0');
    QVERIFY(std::memcmp(memory, zeros.constData(), ICmdXMLGenerator::kMemoryBufferSize) == 0);
    QCOMPARE(generator.GetMemoryBufferString(), QString());

    std::memcpy(memory, "first answer", 13);
    const QString second = generator.GetSysPropertyCmdString("DA.SLA");
    QCOMPARE(TargetAddress(Argument(second, "CMD:GET-SYS-PROPERTY", "target_file"), 0x200000),
             reinterpret_cast<quintptr>(memory));
    QCOMPARE(generator.GetMemoryBufferString(), QString("first answer"));

    // A shorter second answer leaves the tail of the first behind its terminator, unseen.
    std::memcpy(memory, "ok", 3);
    QCOMPARE(generator.GetMemoryBufferString(), QString("ok"));
    QCOMPARE(QByteArray(memory + 3, 9), QByteArray("st answer"));
}

void TestCmdXml::answerFillingTheWholeBufferIsReadOnlyToItsEnd()
{
    ICmdXMLGenerator generator;
    char* memory = reinterpret_cast<char*>(TargetAddress(
        Argument(generator.GetSysPropertyCmdString("k"), "CMD:GET-SYS-PROPERTY", "target_file"), 0x200000));
    QVERIFY(memory != nullptr);
    std::memset(memory, 'a', ICmdXMLGenerator::kMemoryBufferSize);
    const QString text = generator.GetMemoryBufferString();
    QCOMPARE(text.size(), static_cast<int>(ICmdXMLGenerator::kMemoryBufferSize));
    QVERIFY(text.count(QLatin1Char('a')) == text.size());
}

void TestCmdXml::copiesShareTheBufferAndKeepItAlive()
{
    auto original = std::make_unique<ICmdXMLGenerator>();
    const quintptr address = TargetAddress(
        Argument(original->GetDevFWInfoCmdString(), "CMD:SECURITY-GET-DEV-FW-INFO", "target_file"), 0x200000);
    QVERIFY(address != 0);
    const ICmdXMLGenerator copy(*original);
    original.reset();
    std::memcpy(reinterpret_cast<char*>(address), "still here", 11);
    QCOMPARE(copy.GetMemoryBufferString(), QString("still here"));
}

void TestCmdXml::noAnswerBeforeAnyQuery()
{
    const ICmdXMLGenerator generator;
    QCOMPARE(generator.GetMemoryBufferString(), QString());
}

void TestCmdXml::feedbackFolderIsCreatedAndFileNamesThePort_data()
{
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("fileName");
    QTest::newRow("port 0") << 0 << "DownloadImageFeedback_0.xml";
    QTest::newRow("port 3") << 3 << "DownloadImageFeedback_3.xml";
    QTest::newRow("port 15") << 15 << "DownloadImageFeedback_15.xml";
    QTest::newRow("out of range still builds") << -1 << "DownloadImageFeedback_-1.xml";
}

void TestCmdXml::feedbackFolderIsCreatedAndFileNamesThePort()
{
    QFETCH(int, port);
    QFETCH(QString, fileName);
    ScopedWorkingFolder working;
    QVERIFY(working.IsValid());
    const QString folder = QDir::currentPath() + "/Tmp";
    QVERIFY(!QFileInfo::exists(folder));

    const QString document = ICmdXMLGenerator().GetDownloadImageFeedback(port);
    QVERIFY(QFileInfo(folder).isDir());
    QCOMPARE(Argument(document, "CMD:GET-DOWNLOADED-IMAGE-FEEDBACK", "target_file"),
             Native(folder + "/" + fileName));
    QCOMPARE(ICmdXMLGenerator::FeedbackFilePath(port), folder + "/" + fileName);
}

void TestCmdXml::feedbackPathAloneCreatesNothing()
{
    ScopedWorkingFolder working;
    QVERIFY(working.IsValid());
    const QString path = ICmdXMLGenerator::FeedbackFilePath(5);
    QCOMPARE(path, QDir::currentPath() + "/Tmp/DownloadImageFeedback_5.xml");
    QVERIFY(QDir::current().entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty());
}

void TestCmdXml::feedbackDocumentIsBuiltEvenWhenFolderCannotBeMade()
{
    ScopedWorkingFolder working;
    QVERIFY(working.IsValid());
    QFile blocker(QDir::currentPath() + "/Tmp");
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    const QString document = ICmdXMLGenerator().GetDownloadImageFeedback(2);
    QVERIFY(QFileInfo(blocker.fileName()).isFile());
    QCOMPARE(Argument(document, "CMD:GET-DOWNLOADED-IMAGE-FEEDBACK", "target_file"),
             Native(QDir::currentPath() + "/Tmp/DownloadImageFeedback_2.xml"));
}

void TestCmdXml::backupFolderIsNamedButNotCreated()
{
    ScopedWorkingFolder working;
    QVERIFY(working.IsValid());
    const QString document = ICmdXMLGenerator().GetFWCmdString("/load/scatter.txt");
    QCOMPARE(Argument(document, "CMD:FLASH-UPDATE", "backup_folder"),
             Native(QDir::currentPath() + "/BackupFolder"));
    QVERIFY(!QFileInfo::exists(QDir::currentPath() + "/BackupFolder"));
}

void TestCmdXml::buildersLogTheFeedbackFileAndBackupFolder()
{
    ScopedWorkingFolder working;
    QVERIFY(working.IsValid());
    const QByteArray cwd = QDir::currentPath().toLocal8Bit();
    StdoutCapture capture;
    QVERIFY(capture.IsActive());
    ICmdXMLGenerator generator;
    generator.GetDownloadImageFeedback(4);
    generator.GetFWCmdString("/load/scatter.txt");
    const QByteArray output = capture.Finish();
    QVERIFY2(output.contains("DownloadImageFeedbackFilePath = " + cwd + "/Tmp/DownloadImageFeedback_4.xml\n"),
             output.constData());
    QVERIFY2(output.contains("backupFolder = " + cwd + "/BackupFolder\n"), output.constData());
}

QTEST_GUILESS_MAIN(TestCmdXml)
#include "tst_cmdxml.moc"
