// What a device in DA mode does with each command document: validation, host memory answers, downloads and
// the checksums it reports back.
#include "SimTestSupport.h"

#include "LoadFormat.h"
#include "quillon.h"

#include <QtTest>

#include <thread>
#include <vector>

using namespace simtest;

namespace {

struct ProgressLog
{
    struct Entry
    {
        unsigned int percent;
        quint64 transferred;
        QString text;
        std::thread::id thread;
    };
    std::vector<Entry> entries;

    static void Record(void* user, unsigned int percent, uint64_t transferred, const char* text)
    {
        static_cast<ProgressLog*>(user)->entries.push_back(
            {percent, transferred, QString::fromUtf8(text), std::this_thread::get_id()});
    }
    OperationCallbacks Callbacks()
    {
        return OperationCallbacks{this, nullptr, &ProgressLog::Record, nullptr, nullptr, nullptr, nullptr};
    }
};

int Execute(QuillonSession* session, const QByteArray& document,
            const OperationCallbacks* callbacks = nullptr)
{
    return quillon_execute_command(session, document.constData(), callbacks);
}

QByteArray FlashAll(const SampleLoad& load)
{
    return Command(QStringLiteral("CMD:FLASH-ALL"),
                   {{"path_separator", "/"}, {"source_file", load.scatterPath}});
}

QByteArray Feedback(const QString& path)
{
    return Command(QStringLiteral("CMD:GET-DOWNLOADED-IMAGE-FEEDBACK"), {{"target_file", path}});
}

} // namespace

class FarmCommandsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void commandValidationNamesTheProblem_data();
    void commandValidationNamesTheProblem();
    void enterModeValidation_data();
    void enterModeValidation();
    void malformedMemoryTargetsTouchNoMemory_data();
    void malformedMemoryTargetsTouchNoMemory();
    void answerNeverExceedsItsTarget();
    void deviceAnswersDescribeTheDevice();
    void flashPolicyReadsItsSource();
    void feedbackListsExactlyTheStreamedImages();
    void corruptImageMakesOneChecksumDiffer();
    void eraseForgetsDownloadedImages();
    void flashUpdateWritesOneBackupPerDevice();
    void efuseReadsBackWhatWasWritten();
    void progressRunsOnCallingThreadFromZeroToHundred();
    void engineTraceFollowsTheLogSwitch();
    void linkRateAndTimeScaleSetTheDownloadTime();

private:
    QuillonSession* session = nullptr;
    SampleLoad load;
};

void FarmCommandsTest::initTestCase()
{
    load = WriteLoad(QStringLiteral("load"), {{"preloader", "preloader.bin", 70000},
                                              {"boot", "boot.img", 3 * 1024 * 1024 + 17},
                                              {"cache", "NONE", 0},
                                              {"system", "system.img", 5 * 1024 * 1024 + 3},
                                              {"empty", "empty.img", 0}});
}

void FarmCommandsTest::init()
{
    QVERIFY(Restart(WriteFarm(QStringLiteral("commands.ini"),
                              QStringLiteral("[Farm]\nTimeScale=0\nPorts=2\n[Port-COM4]\nSla=Enabled\n"))));
    QString error;
    session = OpenDaSession(QStringLiteral("COM://COM3"), load, error);
    QVERIFY2(session != nullptr, qPrintable(error));
}

void FarmCommandsTest::cleanup()
{
    if (session != nullptr)
        quillon_destroy_session(session);
    session = nullptr;
    quillon_cleanup();
}

void FarmCommandsTest::commandValidationNamesTheProblem_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("expected");
    const QString missing = QDir::current().filePath(QStringLiteral("missing/scatter.txt"));
    QTest::newRow("unknown command") << Command("CMD:FOO") << int(QUILLON_E_UNSUPPORTED)
                                     << "Unsupported command CMD:FOO";
    QTest::newRow("runtime parameters as a command") << RuntimeParameters() << int(QUILLON_E_UNSUPPORTED)
                                                     << "Unsupported command CMD:SET-RUNTIME-PARAMETER";
    QTest::newRow("not xml") << QByteArray("FLASH-ALL please") << int(QUILLON_E_INVALID_ARGUMENT)
                             << "Malformed command document";
    QTest::newRow("wrong root") << QByteArray(
                                       "<cmd><version>1.0</version><command>CMD:REBOOT</command><arg/></cmd>")
                                << int(QUILLON_E_INVALID_ARGUMENT) << "expected <da>";
    QTest::newRow("two arg elements")
        << QByteArray("<da><version>1.0</version><command>CMD:REBOOT</command><arg/><arg/></da>")
        << int(QUILLON_E_INVALID_ARGUMENT) << "one <arg>";
    QTest::newRow("entity expansion")
        << QByteArray("<!DOCTYPE da [<!ENTITY a "
                      "\"aaaaaaaa\">]><da><version>1.0</version><command>&a;</command><arg/></da>")
        << int(QUILLON_E_INVALID_ARGUMENT) << "DOCTYPE";
    QTest::newRow("deep nesting") << QByteArray("<da>") + QByteArray(100, 'x').replace("x", "<a>")
                                  << int(QUILLON_E_INVALID_ARGUMENT) << "Malformed command document";
    QTest::newRow("flash without source") << Command("CMD:FLASH-ALL", {{"path_separator", "/"}})
                                          << int(QUILLON_E_INVALID_ARGUMENT) << "<source_file>";
    QTest::newRow("missing scatter") << Command("CMD:FLASH-ALL", {{"source_file", missing}})
                                     << int(QUILLON_E_IO) << missing;
    QTest::newRow("update without backup folder")
        << Command("CMD:FLASH-UPDATE", {{"source_file", load.scatterPath}}) << int(QUILLON_E_INVALID_ARGUMENT)
        << "<backup_folder>";
    QTest::newRow("boot mode in lower case")
        << Command("CMD:SET-BOOT-MODE", {{"mode", "meta"}}) << int(QUILLON_E_UNSUPPORTED)
        << "Unsupported boot mode \"meta\"";
    QTest::newRow("reboot action") << Command("CMD:REBOOT", {{"action", "LATER"}})
                                   << int(QUILLON_E_UNSUPPORTED) << "LATER";
    QTest::newRow("missing efuse file")
        << Command("CMD:WRITE-EFUSE", {{"source_file", missing}}) << int(QUILLON_E_IO) << missing;
    QTest::newRow("feedback into a missing folder") << Feedback(missing) << int(QUILLON_E_IO) << missing;
    QTest::newRow("unknown property")
        << Command("CMD:GET-SYS-PROPERTY", {{"key", "DA.FOO"}, {"target_file", "MEM://0x10:0x10"}})
        << int(QUILLON_E_UNSUPPORTED) << "DA.FOO";
}

void FarmCommandsTest::commandValidationNamesTheProblem()
{
    QFETCH(QByteArray, document);
    QFETCH(int, code);
    QFETCH(QString, expected);
    QCOMPARE(Execute(session, document), code);
    QVERIFY2(LastError(session).contains(expected), qPrintable(LastError(session)));
    // The session stays usable after a refused command.
    QCOMPARE(Execute(session, Command("CMD:SET-BOOT-MODE", {{"mode", "FASTBOOT"}})), int(QUILLON_OK));
}

void FarmCommandsTest::enterModeValidation_data()
{
    QTest::addColumn<QByteArray>("mode");
    QTest::addColumn<QString>("flashXml");
    QTest::addColumn<QByteArray>("setting");
    QTest::addColumn<QString>("expected");
    const QString missing = QDir::current().filePath(QStringLiteral("nowhere/flash.xml"));
    QTest::newRow("other mode") << QByteArray("FLASH-MODE-BROM") << load.flashXmlPath << RuntimeParameters()
                                << "Unsupported mode \"FLASH-MODE-BROM\"";
    QTest::newRow("missing flash xml") << QByteArray("FLASH-MODE-DA") << missing << RuntimeParameters()
                                       << QStringLiteral("Flash XML not found: %1").arg(missing);
    QTest::newRow("malformed setting") << QByteArray("FLASH-MODE-DA") << load.flashXmlPath
                                       << QByteArray("<da><version>") << "DA mode setting";
    QTest::newRow("other command as setting")
        << QByteArray("FLASH-MODE-DA") << load.flashXmlPath
        << Command("CMD:REBOOT", {{"action", "DISCONNECT"}}) << "must be CMD:SET-RUNTIME-PARAMETER";
}

void FarmCommandsTest::enterModeValidation()
{
    QFETCH(QByteArray, mode);
    QFETCH(QString, flashXml);
    QFETCH(QByteArray, setting);
    QFETCH(QString, expected);
    QuillonSession* other = quillon_create_session();
    QByteArray description;
    QCOMPARE(Scan(QStringLiteral("COM://COM4"), description, 10000), int(QUILLON_OK));
    QCOMPARE(quillon_connect_device(other, description.constData(), "115200@", nullptr, nullptr, nullptr),
             int(QUILLON_OK));
    QVERIFY(quillon_enter_mode(other, mode.constData(), flashXml.toUtf8().constData(), setting.constData(),
                               nullptr) != QUILLON_OK);
    QVERIFY2(LastError(other).contains(expected), qPrintable(LastError(other)));
    quillon_destroy_session(other);
}

void FarmCommandsTest::malformedMemoryTargetsTouchNoMemory_data()
{
    // "@A" stands for the canary's address in hexadecimal, "@D" for it in decimal.
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("expected");
    QTest::newRow("no prefix") << "0x@A:0x40"
                               << "Malformed";
    QTest::newRow("decimal") << "MEM://@D:64"
                             << "Malformed";
    QTest::newRow("trailing text") << "MEM://0x@A:0x40x"
                                   << "Malformed";
    QTest::newRow("not hex") << "MEM://0x@Ag:0x40"
                             << "Malformed";
    QTest::newRow("too many digits") << "MEM://0x10000000000000000:0x40"
                                     << "Malformed";
    QTest::newRow("address zero") << "MEM://0x0:0x40"
                                  << "address 0";
    QTest::newRow("length zero") << "MEM://0x@A:0x0"
                                 << "length 0";
    QTest::newRow("over 16 MiB") << "MEM://0x@A:0x1000001"
                                 << "longer than";
    QTest::newRow("overflow") << "MEM://0xfffffffffffff000:0x2000"
                              << "address space";
}

void FarmCommandsTest::malformedMemoryTargetsTouchNoMemory()
{
    QFETCH(QString, target);
    QFETCH(QString, expected);
    std::vector<char> canary(64, char(0x5c));
    target.replace(QStringLiteral("@A"), QString::number(quintptr(canary.data()), 16));
    target.replace(QStringLiteral("@D"), QString::number(quintptr(canary.data())));
    for (const QString& command :
         {QStringLiteral("CMD:GET-SYS-PROPERTY"), QStringLiteral("CMD:SECURITY-GET-DEV-FW-INFO")}) {
        const QByteArray document = Command(command, {{"key", "DA.SLA"}, {"target_file", target}});
        QCOMPARE(Execute(session, document), int(QUILLON_E_INVALID_ARGUMENT));
        QVERIFY2(LastError(session).contains(expected), qPrintable(LastError(session)));
        QVERIFY(std::all_of(canary.begin(), canary.end(), [](char c) { return c == char(0x5c); }));
    }
    const QByteArray policy = Command("CMD:SECURITY-SET-FLASH-POLICY", {{"source_file", target}});
    QCOMPARE(Execute(session, policy), int(QUILLON_E_INVALID_ARGUMENT));
    QVERIFY2(LastError(session).contains(expected), qPrintable(LastError(session)));
}

void FarmCommandsTest::answerNeverExceedsItsTarget()
{
    std::vector<char> large(0x200000, char(0x5c));
    const QByteArray query =
        Command("CMD:GET-SYS-PROPERTY",
                {{"key", "DA.SLA"}, {"target_file", MemoryTarget(large.data(), large.size())}});
    QCOMPARE(Execute(session, query), int(QUILLON_OK));
    const int length = int(strlen(large.data()));
    QVERIFY(length > 0);

    std::vector<char> exact(size_t(length) + 8, char(0x5c));
    const QByteArray fits = Command(
        "CMD:GET-SYS-PROPERTY", {{"key", "DA.SLA"}, {"target_file", MemoryTarget(exact.data(), length + 1)}});
    QCOMPARE(Execute(session, fits), int(QUILLON_OK));
    QCOMPARE(QByteArray(exact.data()), QByteArray(large.data()));
    QVERIFY(std::all_of(exact.begin() + length + 1, exact.end(), [](char c) { return c == char(0x5c); }));

    std::fill(exact.begin(), exact.end(), char(0x5c));
    const QByteArray tooShort = Command(
        "CMD:GET-SYS-PROPERTY", {{"key", "DA.SLA"}, {"target_file", MemoryTarget(exact.data(), length)}});
    QCOMPARE(Execute(session, tooShort), int(QUILLON_E_INVALID_ARGUMENT));
    QVERIFY2(LastError(session).contains(QStringLiteral("does not fit")), qPrintable(LastError(session)));
    QCOMPARE(exact[0], '\0');
    QVERIFY(std::all_of(exact.begin() + 1, exact.end(), [](char c) { return c == char(0x5c); }));
}

void FarmCommandsTest::deviceAnswersDescribeTheDevice()
{
    QuillonSession* enabled = nullptr;
    QString error;
    enabled = OpenDaSession(QStringLiteral("COM://COM4"), load, error);
    QVERIFY2(enabled != nullptr, qPrintable(error));
    std::vector<char> buffer(0x200000);
    const QString target = MemoryTarget(buffer.data(), buffer.size());
    for (QuillonSession* s : {session, enabled}) {
        QCOMPARE(Execute(s, Command("CMD:GET-SYS-PROPERTY", {{"key", "DA.SLA"}, {"target_file", target}})),
                 int(QUILLON_OK));
        loadformat::XmlNode root;
        QVERIFY2(loadformat::ReadXmlTree(QByteArray(buffer.data()), root, error), qPrintable(error));
        const loadformat::XmlNode* item = root.Child(QStringLiteral("item"));
        QVERIFY(item != nullptr);
        QCOMPARE(item->attributes.value(QStringLiteral("key")), QStringLiteral("DA.SLA"));
        QCOMPARE(item->text, s == enabled ? QStringLiteral("ENABLED") : QStringLiteral("DISABLED"));
    }
    QStringList rnds;
    for (int i = 0; i < 2; ++i) {
        QCOMPARE(Execute(session, Command("CMD:SECURITY-GET-DEV-FW-INFO", {{"target_file", target}})),
                 int(QUILLON_OK));
        loadformat::XmlNode root;
        QVERIFY2(loadformat::ReadXmlTree(QByteArray(buffer.data()), root, error), qPrintable(error));
        const QRegularExpression hex(QStringLiteral("^[0-9a-f]+$"));
        for (const auto& [name, bytes] : {std::pair<QString, int>{"rnd", 16}, {"hrid", 16}, {"socid", 32}}) {
            const loadformat::XmlNode* node = root.Child(name);
            QVERIFY2(node != nullptr, qPrintable(name));
            QCOMPARE(node->text.size(), bytes * 2);
            QVERIFY(hex.match(node->text).hasMatch());
        }
        rnds << root.Child(QStringLiteral("rnd"))->text;
    }
    QVERIFY(rnds[0] != rnds[1]);
    quillon_destroy_session(enabled);
}

void FarmCommandsTest::flashPolicyReadsItsSource()
{
    const QByteArray response(256, 'r');
    const QByteArray policy = Command("CMD:SECURITY-SET-FLASH-POLICY",
                                      {{"source_file", MemoryTarget(response.constData(), response.size())}});
    QCOMPARE(Execute(session, policy), int(QUILLON_OK));
    QCOMPARE(Execute(session, Command("CMD:SECURITY-SET-FLASH-POLICY")), int(QUILLON_E_INVALID_ARGUMENT));
    QVERIFY(LastError(session).contains(QStringLiteral("<source_file>")));
}

void FarmCommandsTest::feedbackListsExactlyTheStreamedImages()
{
    QCOMPARE(Execute(session, FlashAll(load)), int(QUILLON_OK));
    const QString path = QDir::current().filePath(QStringLiteral("feedback.xml"));
    QCOMPARE(Execute(session, Feedback(path)), int(QUILLON_OK));
    QString error;
    const auto items = ReadFeedback(path, error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(items.size(), load.checksums.size());
    for (auto it = load.checksums.cbegin(); it != load.checksums.cend(); ++it) {
        QVERIFY2(items.contains(it.key()), qPrintable(it.key()));
        QCOMPARE(items.value(it.key()).first, it.value());
        QCOMPARE(items.value(it.key()).second, load.partitions.value(it.key()));
    }
    QVERIFY(!items.contains(QStringLiteral("NONE")));
}

void FarmCommandsTest::corruptImageMakesOneChecksumDiffer()
{
    QVERIFY(Restart(
        WriteFarm(QStringLiteral("corrupt.ini"),
                  QStringLiteral("[Farm]\nTimeScale=0\nPorts=1\n[Port-COM3]\nCorruptImage=boot.img\n"))));
    QString error;
    session = OpenDaSession(QStringLiteral("COM://COM3"), load, error);
    QVERIFY2(session != nullptr, qPrintable(error));
    QCOMPARE(Execute(session, FlashAll(load)), int(QUILLON_OK));
    const QString path = QDir::current().filePath(QStringLiteral("corrupt_feedback.xml"));
    QCOMPARE(Execute(session, Feedback(path)), int(QUILLON_OK));
    const auto items = ReadFeedback(path, error);
    QCOMPARE(items.size(), load.checksums.size());
    for (auto it = load.checksums.cbegin(); it != load.checksums.cend(); ++it)
        QCOMPARE(items.value(it.key()).first == it.value(), it.key() != QLatin1String("boot.img"));
}

void FarmCommandsTest::eraseForgetsDownloadedImages()
{
    QCOMPARE(Execute(session, FlashAll(load)), int(QUILLON_OK));
    QCOMPARE(Execute(session, Command("CMD:ERASE-FLASH",
                                      {{"partition", "ALL"}, {"offset", "0x0"}, {"length", "0x0"}})),
             int(QUILLON_OK));
    const QString path = QDir::current().filePath(QStringLiteral("erased_feedback.xml"));
    QCOMPARE(Execute(session, Feedback(path)), int(QUILLON_OK));
    QString error;
    QVERIFY(ReadFeedback(path, error).isEmpty());
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

void FarmCommandsTest::flashUpdateWritesOneBackupPerDevice()
{
    const QString folder = QDir::current().filePath(QStringLiteral("BackupFolder/nested"));
    QDir(folder).removeRecursively();
    const QByteArray update =
        Command("CMD:FLASH-UPDATE",
                {{"path_separator", "/"}, {"source_file", load.scatterPath}, {"backup_folder", folder}});
    QCOMPARE(Execute(session, update), int(QUILLON_OK));
    QCOMPARE(Execute(session, update), int(QUILLON_OK));
    QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 1);
}

void FarmCommandsTest::efuseReadsBackWhatWasWritten()
{
    const QByteArray fuses = QByteArray::fromHex("00112233445566778899aabbccddeeff");
    const QString source = WriteFile(QDir::current().filePath(QStringLiteral("efuse.bin")), fuses);
    const QString target = QDir::current().filePath(QStringLiteral("efuse_readback.bin"));
    QFile::remove(target);
    QCOMPARE(Execute(session, Command("CMD:WRITE-EFUSE", {{"source_file", source}})), int(QUILLON_OK));
    QCOMPARE(Execute(session, Command("CMD:READ-EFUSE", {{"target_file", target}})), int(QUILLON_OK));
    QFile file(target);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), fuses);
}

void FarmCommandsTest::progressRunsOnCallingThreadFromZeroToHundred()
{
    ProgressLog log;
    const OperationCallbacks callbacks = log.Callbacks();
    QCOMPARE(Execute(session, FlashAll(load), &callbacks), int(QUILLON_OK));
    QVERIFY(!log.entries.empty());
    QCOMPARE(log.entries.front().percent, 0u);
    QCOMPARE(log.entries.back().percent, 100u);
    quint64 total = 0;
    for (const QString& name : load.checksums.keys())
        total += quint64(QFileInfo(QDir(load.folder).filePath(name)).size());
    QCOMPARE(log.entries.back().transferred, total);
    bool sawSystem = false;
    for (size_t i = 0; i < log.entries.size(); ++i) {
        QCOMPARE(log.entries[i].thread, std::this_thread::get_id());
        if (i > 0)
            QVERIFY(log.entries[i].percent >= log.entries[i - 1].percent);
        sawSystem = sawSystem || log.entries[i].text == QLatin1String("Downloading system.img");
    }
    QVERIFY(sawSystem);
    // Thinned out: no more than one report per whole percent and stage text, not one per chunk.
    QVERIFY2(log.entries.size() <= 101 + 2 * size_t(load.checksums.size()),
             qPrintable(QString::number(log.entries.size())));
}

void FarmCommandsTest::engineTraceFollowsTheLogSwitch()
{
    const QString folder = QDir::current().filePath(QStringLiteral("trace"));
    QDir(folder).removeRecursively();
    QCOMPARE(quillon_env_set_log(QUILLON_LOG_ON, folder.toUtf8().constData()), int(QUILLON_OK));
    QCOMPARE(Execute(session, Command("CMD:FOO")), int(QUILLON_E_UNSUPPORTED));
    QFile trace(QDir(folder).filePath(QStringLiteral("quillon_engine.log")));
    QVERIFY(trace.open(QIODevice::ReadOnly));
    QVERIFY(trace.readAll().contains("Unsupported command CMD:FOO"));
    QCOMPARE(quillon_env_set_log(QUILLON_LOG_OFF, nullptr), int(QUILLON_OK));
    const qint64 size = QFileInfo(trace.fileName()).size();
    QCOMPARE(Execute(session, Command("CMD:BAR")), int(QUILLON_E_UNSUPPORTED));
    QCOMPARE(QFileInfo(trace.fileName()).size(), size);
    QCOMPARE(quillon_env_set_log(QUILLON_LOG_ON, nullptr), int(QUILLON_E_INVALID_ARGUMENT));
    QCOMPARE(quillon_env_set_log(3, folder.toUtf8().constData()), int(QUILLON_E_INVALID_ARGUMENT));
}

void FarmCommandsTest::linkRateAndTimeScaleSetTheDownloadTime()
{
    // 8.4 MB at 4 MB/s is 2.1 s of farm time, 0.21 s at a tenth of the scale: the download cannot end sooner.
    quillon_destroy_session(session);
    QVERIFY(Restart(
        WriteFarm(QStringLiteral("rate.ini"), QStringLiteral("[Farm]\nTimeScale=0.1\nPorts=1\nArrivalMs=0\n"
                                                             "ConnectMs=0\nDaLoadMs=0\nLinkMBps=4\n"))));
    QString error;
    session = OpenDaSession(QStringLiteral("COM://COM3"), load, error);
    QVERIFY2(session != nullptr, qPrintable(error));
    qint64 bytes = 0;
    for (const QString& name : load.checksums.keys())
        bytes += QFileInfo(QDir(load.folder).filePath(name)).size();
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(Execute(session, FlashAll(load)), int(QUILLON_OK));
    const double expectedMs = double(bytes) / 4.0e6 * 1000.0 * 0.1;
    QVERIFY2(timer.elapsed() >= qint64(expectedMs * 0.95),
             qPrintable(QStringLiteral("%1 ms for %2 expected").arg(timer.elapsed()).arg(expectedMs)));
}

QTEST_GUILESS_MAIN(FarmCommandsTest)
#include "tst_FarmCommands.moc"
