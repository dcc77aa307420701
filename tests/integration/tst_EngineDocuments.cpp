// Every command document the tool builds must be accepted by the engine, and every answer the engine
// leaves must read through the tool's own parsers: a mismatch here is a device that is never flashed.
#include "SimTestSupport.h"

#include "XML/DownloadImageFeedbackCheck.h"
#include "XML/ICmdXMLGenerator.h"
#include "XML/parser/SecDevFWInfoParser.h"
#include "XML/parser/SysPropsParser.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest>

using simtest::LastError;
using simtest::SampleLoad;
using simtest::Scan;

namespace {

// Characters that XML must escape, spaces and non-ASCII text in every path the documents carry.
const QString kAwkwardFolder = QStringLiteral("R&D <lab> 'Ünïcode' load");

RuntimeParameters UsbChecksumParameters()
{
    RuntimeParameters parameters;
    parameters.checksumLevel = 2;
    parameters.batteryExist = 0;
    parameters.hwResetKey = QStringLiteral("POWER-KEY+X");
    parameters.daLogLevel = QStringLiteral("INFO");
    parameters.logChannel = QStringLiteral("UART");
    parameters.systemOs = QStringLiteral("WINDOWS");
    return parameters;
}

// Releases the device even when a check fails half way, so later tests still find it free.
struct SessionGuard
{
    QuillonSession* session;
    ~SessionGuard()
    {
        if (session != nullptr)
            quillon_destroy_session(session);
    }
};

int Execute(QuillonSession* session, const QString& document)
{
    return quillon_execute_command(session, document.toUtf8().constData(), nullptr);
}

} // namespace

class EngineDocumentsTest : public QObject
{
    Q_OBJECT

private:
    // Scans the port, connects and enters DA mode with the generator's runtime-parameter document.
    QuillonSession* OpenSession(const QString& port, const SampleLoad& load, ICmdXMLGenerator& generator);

    SampleLoad load;

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void everyBuilderIsAcceptedOnAPathThatNeedsEscaping();
    void queryAnswersReadThroughTheToolsParsers();
    void downloadedChecksumsAreComparedWithTheLoad_data();
    void downloadedChecksumsAreComparedWithTheLoad();
};

QuillonSession* EngineDocumentsTest::OpenSession(const QString& port, const SampleLoad& sampleLoad,
                                                 ICmdXMLGenerator& generator)
{
    QuillonSession* session = quillon_create_session();
    if (session == nullptr)
        return nullptr;
    QByteArray description;
    int result = Scan(QStringLiteral("COM://") + port, description, 10000);
    if (result == QUILLON_OK)
        result = quillon_connect_device(session, description.constData(), "115200@", "", "", nullptr);
    generator.SetRuntimeParameters(UsbChecksumParameters());
    if (result == QUILLON_OK)
        result = quillon_enter_mode(session, "FLASH-MODE-DA", sampleLoad.flashXmlPath.toUtf8().constData(),
                                    generator.GetRuntimeParameterCmdString().toUtf8().constData(), nullptr);
    if (result != QUILLON_OK) {
        qWarning("%s", qPrintable(LastError(session)));
        quillon_destroy_session(session);
        return nullptr;
    }
    return session;
}

void EngineDocumentsTest::initTestCase()
{
    load = simtest::WriteLoad(QDir::current().filePath(kAwkwardFolder),
                              {{QStringLiteral("preloader"), QStringLiteral("preloader.bin"), 70000},
                               {QStringLiteral("boot"), QStringLiteral("boot.img"), 300000},
                               {QStringLiteral("cache"), QStringLiteral("NONE"), 0},
                               {QStringLiteral("system"), QStringLiteral("system.img"), 1100000}});
    QVERIFY(QFileInfo::exists(load.scatterPath));
    const QString farm = simtest::WriteFarm(QStringLiteral("farm.ini"),
                                            QStringLiteral("[Farm]\nTimeScale=0\nPorts=3\n"
                                                           "[Port-COM5]\nCorruptImage=boot.img\n"));
    QString error;
    QVERIFY2(simtest::Restart(farm, &error), qPrintable(error));
}

void EngineDocumentsTest::cleanupTestCase()
{
    quillon_cleanup();
}

void EngineDocumentsTest::everyBuilderIsAcceptedOnAPathThatNeedsEscaping()
{
    ICmdXMLGenerator generator;
    QuillonSession* session = OpenSession(QStringLiteral("COM3"), load, generator);
    SessionGuard guard{session};
    QVERIFY(session != nullptr);

    const QString efuseImage = QDir(load.folder).filePath(QStringLiteral("efuse & keys.bin"));
    QFile efuse(efuseImage);
    QVERIFY(efuse.open(QIODevice::WriteOnly));
    efuse.write("fuse bits");
    efuse.close();
    const QString readback = QDir(load.folder).filePath(QStringLiteral("read back <efuse>.bin"));
    generator.SetMetaSetting(QStringLiteral("USB"), QStringLiteral("ON"), QStringLiteral("OFF"));
    const QByteArray policy(256, '\x5a');

    const QList<QPair<QString, QString>> documents{
        {QStringLiteral("erase"), generator.GetEraseFlashCmdString()},
        {QStringLiteral("flash all"), generator.GetFlashAllCmdString(load.scatterPath)},
        {QStringLiteral("firmware upgrade"), generator.GetFWCmdString(load.scatterPath)},
        {QStringLiteral("feedback"), generator.GetDownloadImageFeedback(0)},
        {QStringLiteral("write efuse"), generator.GetWriteEfuseCmdString(efuseImage)},
        {QStringLiteral("read efuse"), generator.GetReadEfuseCmdString(readback)},
        {QStringLiteral("boot mode META"), generator.GetSetBootModeCmdString(QStringLiteral("META"))},
        {QStringLiteral("boot mode FASTBOOT"), generator.GetSetBootModeCmdString(QStringLiteral("FASTBOOT"))},
        {QStringLiteral("system property"), generator.GetSysPropertyCmdString(QStringLiteral("DA.SLA"))},
        {QStringLiteral("firmware info"), generator.GetDevFWInfoCmdString()},
        {QStringLiteral("flash policy"),
         generator.GetSetFlashPolicyCmdString(policy.constData(), uint32_t(policy.size()))},
        {QStringLiteral("reboot"), generator.GetRebootCmdString(false)},
    };
    for (const auto& document : documents) {
        QVERIFY2(Execute(session, document.second) == QUILLON_OK,
                 qPrintable(document.first + QStringLiteral(": ") + LastError(session)));
    }
    QVERIFY(QFileInfo::exists(readback));
    QVERIFY(QFileInfo::exists(ICmdXMLGenerator::FeedbackFilePath(0)));
}

void EngineDocumentsTest::queryAnswersReadThroughTheToolsParsers()
{
    ICmdXMLGenerator generator;
    QuillonSession* session = OpenSession(QStringLiteral("COM4"), load, generator);
    SessionGuard guard{session};
    QVERIFY(session != nullptr);

    QVERIFY2(Execute(session, generator.GetSysPropertyCmdString(QStringLiteral("DA.SLA"))) == QUILLON_OK,
             qPrintable(LastError(session)));
    SysPropsParser properties;
    QVERIFY2(properties.ParseXMLString(generator.GetMemoryBufferString()),
             qPrintable(properties.GetErrorMsg()));
    QVERIFY(!properties.IsSLAEnabled());

    QVERIFY2(Execute(session, generator.GetDevFWInfoCmdString()) == QUILLON_OK,
             qPrintable(LastError(session)));
    SecDevFWInfoParser firmware;
    QVERIFY2(firmware.ParseXMLString(generator.GetMemoryBufferString()), qPrintable(firmware.GetErrorMsg()));
    QCOMPARE(QByteArray::fromHex(firmware.GetRnd().toLatin1()).size(), 16);
    QCOMPARE(QByteArray::fromHex(firmware.GetHrid().toLatin1()).size(), 16);
    QCOMPARE(QByteArray::fromHex(firmware.GetSocid().toLatin1()).size(), 32);
}

void EngineDocumentsTest::downloadedChecksumsAreComparedWithTheLoad_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<int>("portIndex");
    QTest::addColumn<int>("expected");
    QTest::newRow("every image intact") << QStringLiteral("COM3") << 0 << 0;
    QTest::newRow("one image corrupted on the device") << QStringLiteral("COM5") << 2 << -1;
}

void EngineDocumentsTest::downloadedChecksumsAreComparedWithTheLoad()
{
    QFETCH(QString, port);
    QFETCH(int, portIndex);
    QFETCH(int, expected);
    ICmdXMLGenerator generator;
    QuillonSession* session = OpenSession(port, load, generator);
    SessionGuard guard{session};
    QVERIFY(session != nullptr);
    QVERIFY2(Execute(session, generator.GetFlashAllCmdString(load.scatterPath)) == QUILLON_OK,
             qPrintable(LastError(session)));
    QVERIFY2(Execute(session, generator.GetDownloadImageFeedback(portIndex)) == QUILLON_OK,
             qPrintable(LastError(session)));
    QCOMPARE(CbGetDownloadImageFeedback(portIndex, load.scatterPath, portIndex), expected);
}

QTEST_GUILESS_MAIN(EngineDocumentsTest)
#include "tst_EngineDocuments.moc"
