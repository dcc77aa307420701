// The headless front end as a factory script drives it: a child process on the farm, its exit code, its
// JSON events and its refusals of bad input, and the signals it must answer for the port manager.
#include "PortTestSupport.h"
#include "TestFrontEnd.h"

#include "cli/HeadlessFrontEnd.h"
#include "cli/RunSummary.h"
#include "common/PortManager.h"
#include "record/LoadDigest.h"
#include "record/StationDatabase.h"
#include "record/StationRecordWriter.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaMethod>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include <csignal>

using namespace PortTestSupport;

namespace {

struct Run
{
    int exitCode = -1;
    QList<QJsonObject> events;
    QString errors;

    QList<QJsonObject> Events(const QString& kind) const
    {
        QList<QJsonObject> found;
        for (const QJsonObject& event : events) {
            if (event.value(QStringLiteral("event")).toString() == kind)
                found << event;
        }
        return found;
    }
};

// Lets the test ask whether a signal of the port manager has a receiver.
struct InspectablePortManager : PortManager
{
    using QObject::isSignalConnected;
};

QString Cli() { return QCoreApplication::applicationDirPath() + QStringLiteral("/praxilo-cli"); }

void Prepare(QProcess& process, const QString& farm, const QString& program = Cli())
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QUILLON_FARM"), QDir::current().absoluteFilePath(farm));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), QDir::current().absoluteFilePath(QStringLiteral("cli-logs")));
    process.setProcessEnvironment(environment);
    process.setProgram(program);
}

QList<QJsonObject> ParseEvents(const QByteArray& output)
{
    QList<QJsonObject> events;
    for (const QByteArray& line : output.split('\n')) {
        if (!line.trimmed().isEmpty())
            events << QJsonDocument::fromJson(line).object();
    }
    return events;
}

Run RunCli(const QString& farm, const QStringList& arguments, int timeoutMs = 120000, const QString& program = Cli())
{
    QProcess process;
    Prepare(process, farm, program);
    process.setArguments(arguments);
    process.start();
    Run run;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.events = ParseEvents(process.readAllStandardOutput());
    run.errors = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

// A run whose standard output is one document, not a line per event.
struct Output
{
    int exitCode = -1;
    QByteArray out;
    QString errors;
};

Output RunCliRaw(const QStringList& arguments, const QString& farm = QStringLiteral("three.ini"))
{
    QProcess process;
    Prepare(process, farm);
    process.setArguments(arguments);
    process.start();
    Output output;
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        return output;
    }
    output.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    output.out = process.readAllStandardOutput();
    output.errors = QString::fromLocal8Bit(process.readAllStandardError());
    return output;
}

} // namespace

class CliTest : public QObject
{
    Q_OBJECT

private:
    simtest::SampleLoad load;
    simtest::SampleLoad bigLoad;
    QString settings;
    QStringList Base(const QString& flashXml) const;

private Q_SLOTS:
    void initTestCase();
    void sixteenRowsThreeDevicesEach();
    void aFailingPortEndsTheRunWithOne();
    void quietShowsTheFailuresAndTheSummaryOnly();
    void aPrintedProfilePinsTheLoadAndATargetEndsTheRun();
    void aQuarantinedRowEndsTheRunWithOne();
    void badUsageIsRefusedBeforeAnySession_data();
    void badUsageIsRefusedBeforeAnySession();
    void aLockBesideTheExecutableBindsAnotherSettingsFile();
    void interruptStopsEveryPortAndRecordsEachAttempt();
    void aSecondCopyIsRefused();
    void everyGetSignalIsAnswered();
    void theReportCountsWhatTheRunRecorded();
    void theReportRefusesBadUsage_data();
    void theReportRefusesBadUsage();
    void aFrontEndForLongRunsKeepsStateButNoHistory();
    void theRunCountsOnlyWhatTheRecordKept_data();
    void theRunCountsOnlyWhatTheRecordKept();
    void theJournalIsCheckedUnchangedAndRebuiltOnDemand();
};

QStringList CliTest::Base(const QString& flashXml) const
{
    return {QStringLiteral("--flash-xml"), flashXml, QStringLiteral("--settings"), settings, QStringLiteral("--json"),
            QStringLiteral("--scene"), QStringLiteral("format-download")};
}

void CliTest::initTestCase()
{
    load = WriteStationLoad(QDir::current().absoluteFilePath(QStringLiteral("load")));
    bigLoad = WriteStationLoad(QDir::current().absoluteFilePath(QStringLiteral("bigload")), 8 * 1024 * 1024);
    const simtest::SampleLoad unlisted = WriteStationLoad(QDir::current().absoluteFilePath(QStringLiteral("unlisted")));
    QFile::remove(unlisted.folder + QStringLiteral("/scatter_checksum.xml"));
    const simtest::SampleLoad empty = WriteStationLoad(QDir::current().absoluteFilePath(QStringLiteral("empty")));
    QVERIFY(TestFiles::WriteFile(empty.scatterPath, "# every partition left out\npreloader NONE\n"));
    settings = QDir::current().absoluteFilePath(QStringLiteral("station.ini"));
    QVERIFY(TestFiles::WriteFile(settings, "; the station's own file\n[DownloadSetting]\nAutoPollingEnabled=false\n"));
    QVERIFY(TestFiles::WriteFile(QDir::current().absoluteFilePath(QStringLiteral("verify.ini")),
                                 "[Station]\nRequireVerification=true\n"));
    QVERIFY(TestFiles::WriteFile(QDir::current().absoluteFilePath(QStringLiteral("locked.ini")),
                                 "[Station]\nLocked=true\nLoadDigest=" + LoadDigest(load.scatterPath).toUtf8() + '\n'));
    simtest::WriteFarm(QStringLiteral("three.ini"), QStringLiteral("[Farm]\nTimeScale=0\nLinkMBps=0\nDevicesPerPort=3\n"));
    simtest::WriteFarm(QStringLiteral("connect.ini"), QStringLiteral("[Farm]\nTimeScale=0\nLinkMBps=0\n[Port-COM4]\nFail=connect\n"));
    simtest::WriteFarm(QStringLiteral("slow.ini"), QStringLiteral("[Farm]\nTimeScale=1\nArrivalMs=0\nArrivalStepMs=0\nConnectMs=0\n"
                                                                  "DaLoadMs=0\nEraseMs=0\nLinkMBps=2\n"));
}

// The day's files of a record folder, one line per record (the CSV also has its header).
QStringList RecordLines(const QString& folder, const QString& suffix)
{
    QStringList lines;
    for (const QFileInfo& file : QDir(folder).entryInfoList({QStringLiteral("station-*.") + suffix}, QDir::Files)) {
        QFile records(file.absoluteFilePath());
        if (records.open(QIODevice::ReadOnly))
            lines += QString::fromUtf8(records.readAll()).split(QRegularExpression(QStringLiteral("\\r?\\n")), Qt::SkipEmptyParts);
    }
    return lines;
}

void CliTest::sixteenRowsThreeDevicesEach()
{
    const QString folder = QDir::current().absoluteFilePath(QStringLiteral("records-three"));
    QDir(folder).removeRecursively();
    const Run run = RunCli(QStringLiteral("three.ini"), Base(load.flashXmlPath) << QStringLiteral("--auto-polling")
                                                                               << QStringLiteral("--devices") << QStringLiteral("3")
                                                                               << QStringLiteral("--record") << folder);
    QCOMPARE(run.exitCode, 0);
    // The engine's log is switched on with the tool's, so a normal run says nothing about logging.
    QVERIFY2(!run.errors.contains(QLatin1String("not logged")), qPrintable(run.errors));
    // The settings' options give checksum level 1: the run says once that nothing is verified.
    QCOMPARE(run.errors.count(QStringLiteral("praxilo-cli: Checksum level 1: device checksums are not compared")), 1);
    const QStringList json = RecordLines(folder, QStringLiteral("jsonl"));
    QCOMPARE(json.size(), 48);
    QSet<QString> recordedIds;
    for (const QString& line : json) {
        const QJsonObject object = QJsonDocument::fromJson(line.toUtf8()).object();
        QCOMPARE(object.value(QStringLiteral("result")).toString(), QStringLiteral("OK"));
        recordedIds << object.value(QStringLiteral("attempt")).toString();
    }
    QCOMPARE(RecordLines(folder, QStringLiteral("csv")).size(), 49);
    const QList<QJsonObject> records = run.Events(QStringLiteral("record"));
    QCOMPARE(records.size(), 48);
    QMap<int, int> perRow;
    QSet<QString> eventIds;
    for (const QJsonObject& record : records) {
        QCOMPARE(record.value(QStringLiteral("result")).toString(), QStringLiteral("OK"));
        ++perRow[record.value(QStringLiteral("row")).toInt()];
        eventIds << record.value(QStringLiteral("attempt")).toString();
    }
    // Each event names its attempt as the files do, and no two attempts share an id.
    QCOMPARE(eventIds.size(), 48);
    QCOMPARE(eventIds, recordedIds);
    QCOMPARE(perRow.size(), 16);
    for (int count : perRow)
        QCOMPARE(count, 3);
    QMap<int, QJsonObject> lastState;
    for (const QJsonObject& state : run.Events(QStringLiteral("state")))
        lastState[state.value(QStringLiteral("row")).toInt()] = state;
    QCOMPARE(lastState.size(), 16);
    for (const QJsonObject& state : lastState) {
        QCOMPARE(state.value(QStringLiteral("status")).toString(), QStringLiteral("OK"));
        QVERIFY(QRegularExpression(QStringLiteral("^COM\\d+\\+BROM$")).match(state.value(QStringLiteral("port")).toString()).hasMatch());
    }
    const QList<QJsonObject> summaries = run.Events(QStringLiteral("summary"));
    QCOMPARE(summaries.size(), 1);
    QCOMPARE(summaries[0].value(QStringLiteral("ok")).toInt(), 48);
    QCOMPARE(summaries[0].value(QStringLiteral("fail")).toInt(), 0);
    QCOMPARE(summaries[0].value(QStringLiteral("interrupted")).toBool(), false);
}

void CliTest::aFailingPortEndsTheRunWithOne()
{
    // A station that requires verification runs at a level that compares checksums, without the notice.
    const Run run = RunCli(QStringLiteral("connect.ini"), Base(load.flashXmlPath)
                                                              << QStringLiteral("--ports") << QStringLiteral("1-2")
                                                              << QStringLiteral("--require-verified")
                                                              << QStringLiteral("--checksum-level") << QStringLiteral("2")
                                                              << QStringLiteral("--stage-load"));
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(!run.errors.contains(QStringLiteral("Checksum level 1")), qPrintable(run.errors));
    // Staged under the log root, by the load's digest, and flashed from there.
    const QDir staged(QStringLiteral("cli-logs/QN_PXL_V6_Logs/StagedLoads"));
    QVERIFY(QFileInfo::exists(staged.filePath(staged.entryList(QDir::Dirs | QDir::NoDotAndDotDot).value(0) + "/flash.xml")));
    const QList<QJsonObject> records = run.Events(QStringLiteral("record"));
    QCOMPARE(records.size(), 2);
    for (const QJsonObject& record : records) {
        const bool second = record.value(QStringLiteral("row")).toInt() == 2;
        QCOMPARE(record.value(QStringLiteral("result")).toString(), second ? QStringLiteral("FAIL") : QStringLiteral("OK"));
        QCOMPARE(record.value(QStringLiteral("failureKind")).toString(),
                 second ? QStringLiteral("connect") : QString());
        if (second) {
            QCOMPARE(record.value(QStringLiteral("failedStage")).toString(), QStringLiteral("connect"));
            QVERIFY(record.value(QStringLiteral("error")).toString().contains(QStringLiteral("COM4")));
        }
    }
}

void CliTest::quietShowsTheFailuresAndTheSummaryOnly()
{
    QStringList arguments = Base(load.flashXmlPath);
    arguments.removeOne(QStringLiteral("--json"));
    const Output output = RunCliRaw(arguments << QStringLiteral("--ports") << QStringLiteral("1-2") << QStringLiteral("--quiet"),
                                    QStringLiteral("connect.ini"));
    QCOMPARE(output.exitCode, 1);
    // The log's trace of every device stays in the log file; what is left is the tool's own word.
    for (const QString& line : output.errors.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        QVERIFY2(line.startsWith(QLatin1String("praxilo-cli: ")), qPrintable(output.errors));
    const QString out = QString::fromUtf8(output.out);
    QVERIFY2(out.contains(QRegularExpression(QStringLiteral("^row  2 COM4 FAIL \\S"), QRegularExpression::MultilineOption)),
             qPrintable(out));
    QVERIFY2(!out.contains(QStringLiteral("row  1")), qPrintable(out));
    QVERIFY2(out.contains(QStringLiteral("Total: 1 OK, 1 FAIL, 0 CANL")), qPrintable(out));
}

// The printed group locks the station to the load; the options a lock leaves free still work under it.
void CliTest::aPrintedProfilePinsTheLoadAndATargetEndsTheRun()
{
    const Output profile = RunCliRaw({QStringLiteral("profile"), QStringLiteral("--flash-xml"), load.flashXmlPath,
                                      QStringLiteral("--settings"), QDir::current().absoluteFilePath(QStringLiteral("verify.ini"))});
    QCOMPARE(profile.exitCode, 0);
    QCOMPARE(profile.out, "[Station]\nLocked=true\nLoadDigest=" + LoadDigest(load.scatterPath).toUtf8() +
                              "\nRequireVerification=true\n");
    const QString pinned = QDir::current().absoluteFilePath(QStringLiteral("pinned.ini"));
    QVERIFY(TestFiles::WriteFile(pinned, profile.out + "[DAOptions]\nUSBCheckSum=true\n"));
    const Run run = RunCli(QStringLiteral("three.ini"),
                           {"--flash-xml", load.flashXmlPath, "--settings", pinned, "--json", "--auto-polling",
                            "--ports", "1-2", "--devices", "3", "--target", "4"});
    QVERIFY2(run.exitCode == 0, qPrintable(run.errors));
    const QList<QJsonObject> summaries = run.Events(QStringLiteral("summary"));
    QCOMPARE(summaries.size(), 1);
    const int ok = summaries[0].value(QStringLiteral("ok")).toInt();
    QVERIFY2(ok == 4 || ok == 5, qPrintable(QString::number(ok)));
    QCOMPARE(summaries[0].value(QStringLiteral("target")).toInt(), 4);
    QCOMPARE(summaries[0].value(QStringLiteral("targetMet")).toBool(), true);
}

void CliTest::aQuarantinedRowEndsTheRunWithOne()
{
    simtest::WriteFarm(QStringLiteral("bad-slot.ini"), QStringLiteral("[Farm]\nTimeScale=0\nLinkMBps=0\n"
                                                                      "[Port-COM4]\nFail=connect\nFailEvery=1\n"));
    const Run run = RunCli(QStringLiteral("bad-slot.ini"), Base(load.flashXmlPath)
                                                               << QStringLiteral("--ports") << QStringLiteral("1-2")
                                                               << QStringLiteral("--auto-polling") << QStringLiteral("--devices")
                                                               << QStringLiteral("2") << QStringLiteral("--quarantine-after")
                                                               << QStringLiteral("2"));
    QCOMPARE(run.exitCode, 1);
    QStringList badRow;
    for (const QJsonObject& record : run.Events(QStringLiteral("record"))) {
        if (record.value(QStringLiteral("row")).toInt() == 2)
            badRow << record.value(QStringLiteral("result")).toString();
    }
    QCOMPARE(badRow, (QStringList{"FAIL", "FAIL"}));
    QJsonObject last;
    for (const QJsonObject& state : run.Events(QStringLiteral("state"))) {
        if (state.value(QStringLiteral("row")).toInt() == 2)
            last = state;
    }
    QVERIFY(last.value(QStringLiteral("quarantined")).toBool());
    QCOMPARE(last.value(QStringLiteral("fail")).toInt(), 2);
    QVERIFY2(last.value(QStringLiteral("message")).toString().startsWith(QStringLiteral("Quarantined after 2 FAIL")),
             qPrintable(last.value(QStringLiteral("message")).toString()));
    const QJsonObject summary = run.Events(QStringLiteral("summary")).value(0);
    QCOMPARE(summary.value(QStringLiteral("quarantined")).toInt(), 1);
    QCOMPARE(summary.value(QStringLiteral("ok")).toInt(), 2);
}

void CliTest::badUsageIsRefusedBeforeAnySession_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    const QString xml = QDir::current().absoluteFilePath(QStringLiteral("load/flash.xml"));
    const QString ini = QDir::current().absoluteFilePath(QStringLiteral("station.ini"));
    const QStringList base = {"--flash-xml", xml, "--settings", ini};
    QTest::newRow("unknown option") << (base + QStringList{"--turbo"}) << "turbo";
    QTest::newRow("row 0") << (base + QStringList{"--ports", "0"}) << "--ports";
    QTest::newRow("row 17") << (base + QStringList{"--ports", "1,17"}) << "--ports";
    QTest::newRow("backwards range") << (base + QStringList{"--ports", "3-1"}) << "backwards";
    QTest::newRow("letters") << (base + QStringList{"--ports", "a"}) << "--ports";
    QTest::newRow("no devices") << (base + QStringList{"--devices", "0"}) << "--devices";
    QTest::newRow("negative quarantine") << (base + QStringList{"--quarantine-after", "-1"}) << "--quarantine-after";
    QTest::newRow("checksum level") << (base + QStringList{"--checksum-level", "3"}) << "--checksum-level";
    QTest::newRow("scene") << (base + QStringList{"--scene", "erase"}) << "--scene";
    QTest::newRow("missing flash xml") << QStringList{"--flash-xml", xml + "-gone", "--settings", ini} << "no such file";
    QTest::newRow("missing settings") << QStringList{"--flash-xml", xml, "--settings", ini + "-gone"} << "--settings";
    QTest::newRow("control character") << QStringList{"--flash-xml", "/loads/a\x01" "b.xml", "--settings", ini} << "U+0001";
    QTest::newRow("efuse not enabled") << (base + QStringList{"--scene", "efuse-write"}) << "eFuse";
    QTest::newRow("unresolvable flash xml") << QStringList{"--flash-xml", ini, "--settings", ini} << "cannot be used";
    QTest::newRow("load fails its image check") << QStringList{"--flash-xml", QDir::current().absoluteFilePath("unlisted/flash.xml"), "--settings", ini}
                                              << "Failed to Verify Checksum!";
    QTest::newRow("load that writes nothing") << QStringList{"--flash-xml", QDir::current().absoluteFilePath("empty/flash.xml"), "--settings", ini}
                                              << "no image to download";
    QTest::newRow("verification required by option") << (base + QStringList{"--require-verified"})
                                                     << "requires verified devices";
    QTest::newRow("verification required by the station")
        << QStringList{"--flash-xml", xml, "--settings", QDir::current().absoluteFilePath("verify.ini")}
        << "requires verified devices";
    QTest::newRow("record folder is a file") << (base + QStringList{"--record", ini}) << "station record";
    QTest::newRow("record folder empty") << (base + QStringList{"--record", ""}) << "--record: no folder given";
    QTest::newRow("target") << (base + QStringList{"--target", "-1"}) << "--target";
    const QStringList locked = {"--flash-xml", xml, "--settings", QDir::current().absoluteFilePath("locked.ini")};
    QTest::newRow("locked: another load")
        << QStringList{"--flash-xml", QDir::current().absoluteFilePath("bigload/flash.xml"), "--settings", locked[3]}
        << "--flash-xml: The station's profile is locked to the load";
    QTest::newRow("locked: a load without a list")
        << QStringList{"--flash-xml", QDir::current().absoluteFilePath("unlisted/flash.xml"), "--settings", locked[3]}
        << "has no checksum list";
    QTest::newRow("locked: --scene") << (locked + QStringList{"--scene", "format-download"}) << "--scene: refused";
    QTest::newRow("locked: --checksum-level") << (locked + QStringList{"--checksum-level", "2"}) << "--checksum-level: refused";
    QTest::newRow("locked: --require-verified") << (locked + QStringList{"--require-verified"}) << "--require-verified: refused";
    QTest::newRow("profile without a load") << QStringList{"profile"} << "--flash-xml";
    QTest::newRow("profile of a load that fails its check")
        << QStringList{"profile", "--flash-xml", QDir::current().absoluteFilePath("unlisted/flash.xml")} << "image check";
}

void CliTest::badUsageIsRefusedBeforeAnySession()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    const QByteArray before = TestFiles::ReadFile(settings);
    const Run run = RunCli(QStringLiteral("three.ini"), arguments);
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.errors.contains(message), qPrintable(run.errors));
    QVERIFY(run.Events(QStringLiteral("record")).isEmpty());
    QCOMPARE(TestFiles::ReadFile(settings), before);
}

// The station's own file is the one beside the executable: its lock holds whatever file --settings names.
void CliTest::aLockBesideTheExecutableBindsAnotherSettingsFile()
{
    const QString station = QDir::current().absoluteFilePath(QStringLiteral("locked-station"));
    QDir(station).removeRecursively();
    QVERIFY(QDir().mkpath(station));
    QVERIFY(QFile::copy(Cli(), station + QStringLiteral("/praxilo-cli")));
    QVERIFY(TestFiles::WriteFile(station + QStringLiteral("/pxl_setting.ini"),
                                 "[Station]\nLocked=true\nLoadDigest=" + LoadDigest(load.scatterPath).toUtf8() + '\n'));
    const Run run = RunCli(QStringLiteral("three.ini"), Base(load.flashXmlPath), 120000, station + QStringLiteral("/praxilo-cli"));
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.errors.contains(QStringLiteral("--scene: refused")), qPrintable(run.errors));
    QVERIFY(run.Events(QStringLiteral("record")).isEmpty());
}

void CliTest::interruptStopsEveryPortAndRecordsEachAttempt()
{
    const QString folder = QDir::current().absoluteFilePath(QStringLiteral("records-interrupted"));
    QDir(folder).removeRecursively();
    QProcess process;
    Prepare(process, QStringLiteral("slow.ini"));
    process.setArguments(Base(bigLoad.flashXmlPath) << QStringLiteral("--auto-polling") << QStringLiteral("--record") << folder);
    process.start();
    QVERIFY(process.waitForStarted());
    QByteArray output;
    QElapsedTimer waited;
    waited.start();
    while (!output.contains("Downloading") && waited.elapsed() < 60000 && process.state() == QProcess::Running) {
        process.waitForReadyRead(200);
        output += process.readAllStandardOutput();
    }
    QVERIFY2(output.contains("Downloading"), output.constData());
    QElapsedTimer stopping;
    stopping.start();
    ::kill(static_cast<pid_t>(process.processId()), SIGINT);
    QVERIFY(process.waitForFinished(10000));
    QVERIFY2(stopping.elapsed() < 2000, qPrintable(QString::number(stopping.elapsed())));
    QCOMPARE(process.exitCode(), 130);
    output += process.readAllStandardOutput();
    Run run;
    run.events = ParseEvents(output);
    const QList<QJsonObject> records = run.Events(QStringLiteral("record"));
    QCOMPARE(records.size(), 16);
    QSet<int> rows;
    for (const QJsonObject& record : records) {
        rows.insert(record.value(QStringLiteral("row")).toInt());
        QCOMPARE(record.value(QStringLiteral("result")).toString(), QStringLiteral("CANL"));
    }
    QCOMPARE(rows.size(), 16);
    // A progress event names the stage of its own step: a start's first is INIT, not the message before it.
    QMap<int, QString> firstStage;
    for (const QJsonObject& progress : run.Events(QStringLiteral("progress"))) {
        if (!firstStage.contains(progress.value(QStringLiteral("row")).toInt()))
            firstStage[progress.value(QStringLiteral("row")).toInt()] = progress.value(QStringLiteral("stage")).toString();
    }
    QCOMPARE(firstStage.size(), 16);
    QCOMPARE(QSet<QString>(firstStage.begin(), firstStage.end()), QSet<QString>{QStringLiteral("INIT")});
    // Each row's last state says what its record says.
    QHash<int, QString> lastStatus;
    for (const QJsonObject& state : run.Events(QStringLiteral("state")))
        lastStatus[state.value(QStringLiteral("row")).toInt()] = state.value(QStringLiteral("status")).toString();
    for (int row = 1; row <= 16; ++row)
        QCOMPARE(lastStatus.value(row), QStringLiteral("CANL"));
    QCOMPARE(run.Events(QStringLiteral("summary")).size(), 1);
    const QStringList lines = RecordLines(folder, QStringLiteral("jsonl"));
    QCOMPARE(lines.size(), 16);
    for (const QString& line : lines)
        QVERIFY2(!QJsonDocument::fromJson(line.toUtf8()).isNull(), qPrintable(line));
}

void CliTest::aSecondCopyIsRefused()
{
    QProcess first;
    Prepare(first, QStringLiteral("slow.ini"));
    first.setArguments(Base(bigLoad.flashXmlPath) << QStringLiteral("--auto-polling") << QStringLiteral("--ports") << QStringLiteral("1"));
    first.start();
    QVERIFY(first.waitForStarted());
    QByteArray output;
    QElapsedTimer waited;
    waited.start();
    while (!output.contains("\"state\"") && waited.elapsed() < 30000 && first.state() == QProcess::Running) {
        first.waitForReadyRead(200);
        output += first.readAllStandardOutput();
    }
    QVERIFY2(first.state() == QProcess::Running, first.readAllStandardError().constData());
    const Run second = RunCli(QStringLiteral("slow.ini"), Base(load.flashXmlPath));
    const qint64 holder = first.processId();
    ::kill(static_cast<pid_t>(holder), SIGINT);
    QVERIFY(first.waitForFinished(10000));
    QCOMPARE(second.exitCode, 2);
    QVERIFY2(second.errors.contains(QStringLiteral("another copy of the tool is running")), qPrintable(second.errors));
    QVERIFY(second.errors.contains(QStringLiteral("process %1 ").arg(holder)));
}

void CliTest::everyGetSignalIsAnswered()
{
    InspectablePortManager manager;
    TestFrontEnd frontEnd(manager);
    const QMetaObject& meta = PortManager::staticMetaObject;
    int gets = 0;
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
        const QMetaMethod method = meta.method(i);
        if (method.methodType() != QMetaMethod::Signal || !method.name().startsWith("SigGet"))
            continue;
        ++gets;
        QVERIFY2(manager.isSignalConnected(method), method.methodSignature().constData());
    }
    QCOMPARE(gets, 5);
}

void CliTest::theReportCountsWhatTheRunRecorded()
{
    const QString folder = QDir::current().absoluteFilePath(QStringLiteral("records-report"));
    QDir(folder).removeRecursively();
    const Run run = RunCli(QStringLiteral("connect.ini"), Base(load.flashXmlPath) << QStringLiteral("--ports") << QStringLiteral("1-2")
                                                                                 << QStringLiteral("--record") << folder);
    QCOMPARE(run.exitCode, 1);
    const Output report = RunCliRaw({QStringLiteral("report"), QStringLiteral("--record"), folder, QStringLiteral("--json")});
    QVERIFY2(report.exitCode == 0, qPrintable(report.errors));
    const QJsonObject document = QJsonDocument::fromJson(report.out).object();
    const QJsonObject station = document.value(QStringLiteral("station")).toObject();
    QCOMPARE(station.value(QStringLiteral("attempts")).toInt(), 2);
    QCOMPARE(station.value(QStringLiteral("ok")).toInt(), 1);
    QCOMPARE(station.value(QStringLiteral("fail")).toInt(), 1);
    QStringList rows;
    for (const QJsonValue& row : document.value(QStringLiteral("rows")).toArray())
        rows << row.toObject().value(QStringLiteral("key")).toString() + '=' + QString::number(row.toObject().value(QStringLiteral("ok")).toInt());
    QCOMPARE(rows, (QStringList{"1=1", "2=0"}));
    const QJsonArray failed = document.value(QStringLiteral("failedStages")).toArray();
    QCOMPARE(failed.size(), 1);
    QCOMPARE(failed[0].toObject().value(QStringLiteral("key")).toString(), QStringLiteral("connect"));
    QVERIFY(failed[0].toObject().value(QStringLiteral("errors")).toArray()[0].toObject().value(QStringLiteral("error")).toString().contains(QStringLiteral("COM4")));

    const Output text = RunCliRaw({QStringLiteral("report"), QStringLiteral("--record"), folder});
    QCOMPARE(text.exitCode, 0);
    QVERIFY2(text.out.contains("Station      2 attempts, 1 OK, 1 FAIL, 0 CANL, yield 50.0 %"), text.out.constData());
}

void CliTest::theReportRefusesBadUsage_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");

    const QString empty = QDir::current().absoluteFilePath(QStringLiteral("no-records"));
    QTest::newRow("no database") << QStringList{"--record", empty} << "no station database";
    QTest::newRow("a time that is not one") << QStringList{"--since", "last week"} << "--since";
    QTest::newRow("an end before the start") << QStringList{"--since", "2024-03-02", "--until", "2024-03-01 12:00"} << "--until";
    QTest::newRow("a digest that is not one") << QStringList{"--load", "flash.xml"} << "--load";
    QTest::newRow("a stray argument") << QStringList{"rows"} << "unexpected argument";
    QTest::newRow("an empty record folder") << QStringList{"--record", ""} << "--record: no folder given";
}

void CliTest::theReportRefusesBadUsage()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    QDir().mkpath(QDir::current().absoluteFilePath(QStringLiteral("no-records")));
    const Output output = RunCliRaw(QStringList{QStringLiteral("report")} + arguments);
    QCOMPARE(output.exitCode, 2);
    QVERIFY2(output.errors.startsWith(QStringLiteral("praxilo-cli report: ")) && output.errors.contains(message),
             qPrintable(output.errors));
    QVERIFY(output.out.isEmpty());
}

namespace {

// Keeps or refuses every record, as a journal that commits or one that gave up does.
class Keeping : public AttemptRecorder
{
public:
    explicit Keeping(bool keeps) : keeps(keeps) {}
    bool Record(const AttemptRecord&) override { return keeps; }

private:
    const bool keeps;
};

} // namespace

void CliTest::theRunCountsOnlyWhatTheRecordKept_data()
{
    QTest::addColumn<bool>("kept");
    QTest::newRow("committed") << true;
    QTest::newRow("not recorded") << false;
}

// Its events and totals were once the ports' own: OK devices the record, after a restart, called interrupted.
void CliTest::theRunCountsOnlyWhatTheRecordKept()
{
    QFETCH(bool, kept);
    Keeping journal(kept);
    RunSummary summary(&journal);
    QSignalSpy recorded(&summary, &RunSummary::Recorded);
    QSignalSpy notRecorded(&summary, &RunSummary::NotRecorded);
    AttemptRecord record;
    record.row = 3;
    record.port = QStringLiteral("COM5");
    record.result = QStringLiteral("OK");
    record.attempt = AttemptRecord::NewId();
    QCOMPARE(summary.Record(record), kept);
    QCOMPARE(summary.Total(QStringLiteral("OK")), kept ? 1 : 0);
    QCOMPARE(recorded.size(), kept ? 1 : 0);
    QCOMPARE(notRecorded.size(), kept ? 0 : 1);
    if (!kept)
        QCOMPARE(notRecorded.at(0).at(0).value<AttemptRecord>().attempt, record.attempt);
}

void CliTest::theJournalIsCheckedUnchangedAndRebuiltOnDemand()
{
    const QString folder = QDir::current().absoluteFilePath(QStringLiteral("records-journal"));
    QDir(folder).removeRecursively();
    {
        StationRecordWriter writer(folder);
        for (int i = 0; i < 200; ++i) {
            AttemptRecord record;
            record.row = 1 + i % 16;
            record.start = record.end = QDateTime::currentDateTimeUtc();
            record.result = QStringLiteral("OK");
            record.attempt = AttemptRecord::NewId();
            QVERIFY(writer.Record(record));
        }
    }
    const QStringList record{QStringLiteral("--record"), folder};
    const Output sound = RunCliRaw(QStringList{QStringLiteral("journal"), QStringLiteral("check")} + record);
    QCOMPARE(sound.exitCode, 0);
    QVERIFY2(sound.out.endsWith(": sound\n"), sound.out.constData());

    const QString path = StationDatabase::Path(folder);
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.seek(file.size() / 2 / 4096 * 4096));
        QCOMPARE(file.write(QByteArray(16384, '\x5a')), qint64(16384));
    }
    const QStringList before = QDir(folder).entryList(QDir::Files);
    const QByteArray bytes = TestFiles::ReadFile(path);
    const Output damaged = RunCliRaw(QStringList{QStringLiteral("journal"), QStringLiteral("check")} + record);
    QCOMPARE(damaged.exitCode, 1);
    QVERIFY2(damaged.out.contains(": damaged: "), damaged.out.constData());
    QCOMPARE(QDir(folder).entryList(QDir::Files), before);
    QVERIFY(TestFiles::ReadFile(path) == bytes);

    const Output rebuilt = RunCliRaw(QStringList{QStringLiteral("journal"), QStringLiteral("rebuild")} + record);
    QCOMPARE(rebuilt.exitCode, 0);
    QVERIFY2(rebuilt.out.contains("moved aside to") && rebuilt.out.contains("salvaged"), rebuilt.out.constData());
    QCOMPARE(RunCliRaw(QStringList{QStringLiteral("journal"), QStringLiteral("check")} + record).exitCode, 0);
    QCOMPARE(QDir(folder).entryList({QStringLiteral("station.db.broken-*")}, QDir::Files).size(), 1);
    const Output unknown = RunCliRaw(QStringList{QStringLiteral("journal"), QStringLiteral("mend")} + record);
    QCOMPARE(unknown.exitCode, 2);
    QVERIFY2(unknown.errors.contains(QStringLiteral("unknown verb mend")), qPrintable(unknown.errors));
}

QTEST_GUILESS_MAIN(CliTest)
// The command line once kept every progress step of the run, so a long soak saw its memory grow per device;
// a front end that serves the element names for a long run still keeps the state alone.
void CliTest::aFrontEndForLongRunsKeepsStateButNoHistory()
{
    PortManager manager;
    TestFrontEnd frontEnd(manager);
    frontEnd.keepHistory = false;
    for (int percent = 0; percent < 100; ++percent)
        Q_EMIT manager.SigSetMWTableWidgetItemContext(QStringLiteral("tableWidget"), 2, 7, QStringLiteral("%1%").arg(percent));
    Q_EMIT manager.SigSetMWElementContent(QStringLiteral("lblPollingTimes"), QStringLiteral("Polling Times: 3"));
    QCOMPARE(frontEnd.Cell(2, 7), QStringLiteral("99%"));
    QCOMPARE(frontEnd.contents.value(QStringLiteral("lblPollingTimes")), QStringLiteral("Polling Times: 3"));
    QCOMPARE(frontEnd.history.size(), 0);
    frontEnd.keepHistory = true;
    Q_EMIT manager.SigSetMWTableWidgetItemContext(QStringLiteral("tableWidget"), 2, 7, QStringLiteral("100%"));
    QCOMPARE(frontEnd.history, QStringList{QStringLiteral("cell 2 7 100%")});
}

#include "tst_Cli.moc"
