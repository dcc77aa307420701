// The station database as the writer fills it: every record in the order of the files, its stages in their
// own table and again in the attempt's row, WAL mode, a database of an older version upgraded in place, and
// a database that is not one moved aside without costing the files a record.
#include "ParserTestSupport.h"
#include "StationRecordFiles.h"
#include "TestFiles.h"

#include "record/StageTimes.h"
#include "record/StationDatabase.h"
#include "record/StationRecordWriter.h"
#include "record/StationReport.h"
#include "record/UnitHistory.h"

#include <QDir>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QtTest>

#include <thread>
#include <vector>

using namespace StationRecordFiles;

namespace {

const QDate kDay(2023, 4, 12);

QDateTime Noon(int ms)
{
    return QDateTime(kDay, QTime(12, 0), Qt::UTC).addMSecs(ms);
}

// Each attempt's stages as its row holds them, "device|name=ms,name=ms" in the order of the ids; the row's
// stage_ms decoded through table stage_name, "NULL" when the row has none.
QStringList StagesInRows(const Reader& reader)
{
    QMap<QString, QString> names;
    for (const QString& row : reader.Rows("SELECT id, name FROM stage_name")) {
        const int bar = row.indexOf('|');
        names.insert(row.left(bar), row.mid(bar + 1));
    }
    QStringList rows;
    for (const QString& row : reader.Rows("SELECT device, hex(stage_ms), stage_ms IS NULL FROM attempt ORDER BY id")) {
        const QStringList columns = row.split('|');
        if (columns.value(2) == "1") {
            rows << columns.value(0) + "|NULL";
            continue;
        }
        const QByteArray blob = QByteArray::fromHex(columns.value(1).toLatin1());
        QStringList stages;
        const bool read = StageTimes::Decode(reinterpret_cast<const unsigned char*>(blob.constData()),
                                             size_t(blob.size()), [&](qint64 number, qint64 ms) {
                                                 stages << names.value(QString::number(number), "?") + '=' +
                                                               QString::number(ms);
                                             });
        rows << columns.value(0) + '|' + (read ? stages.join(',') : QStringLiteral("unreadable"));
    }
    return rows;
}

// The same from table stage, in the order it was written.
QStringList StagesInTable(const Reader& reader)
{
    QStringList rows;
    QString device;
    QStringList stages;
    const QStringList all =
        reader.Rows("SELECT a.device, s.stage, s.ms FROM attempt a LEFT JOIN stage s ON s.attempt = a.id"
                    " ORDER BY a.id, s.rowid");
    for (int i = 0; i < all.size(); ++i) {
        const QStringList columns = all[i].split('|');
        if (!columns.value(1).isEmpty() || !columns.value(2).isEmpty())
            stages << columns.value(1) + '=' + columns.value(2);
        if (i + 1 == all.size() || all[i + 1].split('|').value(0) != columns.value(0)) {
            rows << columns.value(0) + '|' + stages.join(',');
            stages.clear();
        }
    }
    return rows;
}

// A database of an older version of the writer, made by its schema, with one attempt of two stages.
void CreateOlderVersion(const QString& folder, const QStringList& schema)
{
    const QString name = QStringLiteral("older-version");
    {
        QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        database.setDatabaseName(StationDatabase::Path(folder));
        QVERIFY(database.open());
        QSqlQuery query(database);
        const QStringList statements =
            schema +
            QStringList{
                "INSERT INTO attempt (id, start_ms, end_ms, row, port, device, scene, checksum_level,"
                " flash_xml, load_digest, result, failed_stage, error, poll, operator, work_order, station,"
                " tool_version) VALUES (1, 1000, 2000, 3, 'COM5', 'old-1', 's', 2, 'f.xml', 'aa',"
                " 'FAIL', 'connect', 'e', 1, '', '', 'st', 'v1')",
                "INSERT INTO stage VALUES (1, 'scan', 700)", "INSERT INTO stage VALUES (1, 'erase', 300)"};
        for (const QString& statement : statements)
            QVERIFY2(query.exec(statement), qPrintable(query.lastError().text()));
        database.close();
    }
    QSqlDatabase::removeDatabase(name);
}

// What the report and a unit's history read of the database, as the command line's report opens it.
QString ReportAndHistory(const QString& folder, const QString& unit)
{
    QString read = QStringLiteral("cannot open");
    {
        QSqlDatabase database =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("report"));
        database.setDatabaseName(StationDatabase::Path(folder));
        database.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        StationReport::Report report;
        QVector<UnitHistory::Attempt> history;
        QString error;
        if (database.open() && StationReport::Compute(database, StationReport::Filter(), report, error) &&
            UnitHistory::Read(database, StationReport::Filter(), unit, history, error)) {
            read = QStringLiteral(
                       "%1 attempts, %2 stages from table stage, slowest scan %3 ms, %4 not verified, "
                       "%5 units:")
                       .arg(report.station.attempts)
                       .arg(report.stagesFromTable)
                       .arg(report.station.stages.value(0).slowestMs)
                       .arg(report.verification.unverified + report.verification.notKnown)
                       .arg(report.units.named);
            for (const UnitHistory::Attempt& attempt : history)
                read += QStringLiteral(" %1 %2 %3")
                            .arg(attempt.identity.station, attempt.record.port, attempt.record.result);
        } else if (!error.isEmpty()) {
            read = error;
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("report"));
    return read;
}

QStringList JsonDevices(const QString& folder)
{
    QStringList devices;
    for (const QJsonObject& object : ReadJsonLines(TestFiles::ReadFile(JsonPath(folder, kDay))).objects)
        devices << object["device"].toString();
    return devices;
}

} // namespace

class StationDatabaseTest : public QObject
{
    Q_OBJECT

private:
    QString folder;
    int caseNumber = 0;

private Q_SLOTS:
    void initTestCase();
    void init();
    void sixteenWorkersInsertEveryRecordInTheFilesOrder();
    void aRecordAndItsStagesReadBackAsRecorded();
    void aDatabaseThatIsNotOneIsMovedAsideOnce_data();
    void aDatabaseThatIsNotOneIsMovedAsideOnce();
    void eachRowHoldsTheStagesOfTableStage();
    void anOlderDatabaseGainsTheColumnsAndKeepsItsRows_data();
    void anOlderDatabaseGainsTheColumnsAndKeepsItsRows();
    void stageTimesReadBackAsWritten_data();
    void stageTimesReadBackAsWritten();
    void stageTimesRefuseWhatTheyCannotRead_data();
    void stageTimesRefuseWhatTheyCannotRead();
};

void StationDatabaseTest::initTestCase()
{
    ParserTestSupport::StartLogging();
}

void StationDatabaseTest::init()
{
    folder = ParserTestSupport::MakeCleanFolder(QStringLiteral("case-%1").arg(++caseNumber));
}

void StationDatabaseTest::sixteenWorkersInsertEveryRecordInTheFilesOrder()
{
    constexpr int kThreads = 16;
    constexpr int perThread = 10;
    {
        StationRecordWriter writer(folder);
        std::vector<std::thread> workers;
        for (int t = 0; t < kThreads; ++t) {
            workers.emplace_back([&writer, t] {
                for (int i = 0; i < perThread; ++i)
                    writer.Record(MakeRecord(QStringLiteral("T%1-%2").arg(t).arg(i), Noon(i), t + 1, i + 1));
            });
        }
        for (std::thread& worker : workers)
            worker.join();
        QCOMPARE(writer.Failed(), int64_t(0));
    }
    const QStringList files = JsonDevices(folder);
    QCOMPARE(files.size(), kThreads * perThread);
    const Reader reader(folder);
    QCOMPARE(reader.Rows("SELECT device FROM attempt ORDER BY id"), files);
    QCOMPARE(reader.Rows("SELECT count(*) FROM stage"),
             QStringList{QString::number(kThreads * perThread * 2)});
    QCOMPARE(reader.Rows("PRAGMA journal_mode"), QStringList{"wal"});
}

void StationDatabaseTest::aRecordAndItsStagesReadBackAsRecorded()
{
    AttemptRecord record = MakeRecord(QStringLiteral("dev-1"), Noon(0), 7, 3);
    // A stage still running when the attempt ended counts until the end.
    const qint64 startMs = record.start.toMSecsSinceEpoch();
    record.stages.append({QStringLiteral("download"), startMs + 4000, 0, 0});
    {
        StationRecordWriter writer(folder);
        writer.Record(record);
    }
    const Reader reader(folder);
    const QStringList expected{
        QStringList{QString::number(startMs), QString::number(record.end.toMSecsSinceEpoch()), "7",
                    record.port, "dev-1", record.scene, "2", record.flashXml, record.loadDigest, "FAIL",
                    "connect", record.error, "3", record.operatorName, "WO-7", record.attempt, "connect"}
            .join('|')};
    QCOMPARE(reader.Rows("SELECT start_ms, end_ms, row, port, device, scene, checksum_level, flash_xml,"
                         " load_digest, result, failed_stage, error, poll, operator, work_order, attempt_uid,"
                         " failure_kind FROM attempt"),
             expected);
    QCOMPARE(reader.Rows("SELECT a.device, s.stage, s.ms FROM stage s JOIN attempt a ON a.id = s.attempt"
                         " ORDER BY s.rowid"),
             (QStringList{"dev-1|scan|1200", "dev-1|connect|3121", "dev-1|download|321"}));
}

void StationDatabaseTest::aDatabaseThatIsNotOneIsMovedAsideOnce_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("directory");

    QTest::newRow("text") << QByteArray("attempt,row,result\r\n1,7,OK\r\n") << false;
    QTest::newRow("damaged SQLite header")
        << QByteArray("SQLite format 3\0", 16) + QByteArray(4080, '\xff') << false;
    QTest::newRow("random bytes") << QByteArray(8192, '\x5a') << false;
    QTest::newRow("a folder in its place") << QByteArray() << true;
}

void StationDatabaseTest::aDatabaseThatIsNotOneIsMovedAsideOnce()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, directory);
    const QString path = StationDatabase::Path(folder);
    if (directory)
        QVERIFY(QDir().mkpath(path + QStringLiteral("/inside")));
    else
        QVERIFY(TestFiles::WriteFile(path, content));

    const ParserTestSupport::LogCapture capture;
    {
        StationRecordWriter writer(folder);
        for (int i = 0; i < 3; ++i)
            writer.Record(MakeRecord(QStringLiteral("r-%1").arg(i), Noon(i)));
        QCOMPARE(writer.Written(), int64_t(3));
        QCOMPARE(writer.Failed(), int64_t(0));
    }
    QCOMPARE(capture.CountContaining("StationDatabase::Rebuild", "moved aside to"), 1);
    QCOMPARE(JsonDevices(folder), (QStringList{"r-0", "r-1", "r-2"}));
    const QStringList aside =
        QDir(folder).entryList({"station.db.broken-*"}, QDir::AllEntries | QDir::NoDotAndDotDot);
    QCOMPARE(aside.size(), 1);
    if (directory)
        QVERIFY(QFileInfo(folder + '/' + aside.first() + "/inside").isDir());
    else
        QCOMPARE(TestFiles::ReadFile(folder + '/' + aside.first()), content);
    const Reader reader(folder);
    QCOMPARE(reader.Rows("SELECT device FROM attempt ORDER BY id"), (QStringList{"r-0", "r-1", "r-2"}));
}

void StationDatabaseTest::eachRowHoldsTheStagesOfTableStage()
{
    // Names come and go between records, one repeats within a record, one is empty, and a stage still
    // running at the end counts until the end; the numbering must survive the writer being started again.
    QVector<AttemptRecord> records;
    for (int i = 0; i < 6; ++i) {
        AttemptRecord record = MakeRecord(QStringLiteral("dev-%1").arg(i), Noon(i * 1000), i % 3 + 1, 1);
        const qint64 startMs = record.start.toMSecsSinceEpoch();
        if (i == 1)
            record.stages.append({QStringLiteral("download"), startMs + 100, startMs + 100 + 200000, 0});
        if (i == 2)
            record.stages = {};
        if (i == 3)
            record.stages.append({QStringLiteral("scan"), startMs, 0, 0});
        if (i == 4)
            record.stages.prepend({QString(), startMs, startMs + 5, 0});
        if (i == 5)
            record.stages.append({QStringLiteral("verify"), startMs, startMs + 1, 0});
        records << record;
    }
    {
        StationRecordWriter writer(folder);
        for (int i = 0; i < 3; ++i)
            writer.Record(records[i]);
    }
    {
        StationRecordWriter writer(folder);
        for (int i = 3; i < records.size(); ++i)
            writer.Record(records[i]);
        QCOMPARE(writer.Failed(), int64_t(0));
    }
    const Reader reader(folder);
    const QStringList table = StagesInTable(reader);
    QCOMPARE(table.size(), records.size());
    QCOMPARE(table[1], QStringLiteral("dev-1|scan=1200,connect=3121,download=200000"));
    QCOMPARE(table[2], QStringLiteral("dev-2|"));
    QCOMPARE(StagesInRows(reader), table);
    QCOMPARE(reader.Rows("SELECT count(*), count(DISTINCT name) FROM stage_name"), QStringList{"5|5"});
    QCOMPARE(reader.Rows("PRAGMA user_version"), QStringList{QString::number(StationDatabase::kSchemaVersion)});
}

void StationDatabaseTest::anOlderDatabaseGainsTheColumnsAndKeepsItsRows_data()
{
    QTest::addColumn<QStringList>("schema");

    QTest::newRow("first version") << FirstVersionSchema();
    QTest::newRow("second version") << SecondVersionSchema();
    QTest::newRow("third version") << LaterVersionSchema(3);
    QTest::newRow("fourth version") << LaterVersionSchema(4);
    QTest::newRow("fifth version") << LaterVersionSchema(5);
}

void StationDatabaseTest::anOlderDatabaseGainsTheColumnsAndKeepsItsRows()
{
    QFETCH(QStringList, schema);
    CreateOlderVersion(folder, schema);
    AttemptRecord record = MakeRecord(QStringLiteral("new-1"), Noon(0));
    record.socid = QStringLiteral("5eed01");
    // Read before the station upgrades it, as a report beside an older station would, and after.
    QCOMPARE(ReportAndHistory(folder, record.socid),
             QStringLiteral(
                 "1 attempts, 1 stages from table stage, slowest scan 700 ms, 0 not verified, 0 units:"));
    {
        StationRecordWriter writer(folder);
        writer.Record(record);
        QCOMPARE(writer.Failed(), int64_t(0));
    }
    QCOMPARE(QDir(folder).entryList({"station.db.broken-*"}, QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList());
    const Reader reader(folder);
    QCOMPARE(reader.Rows("PRAGMA user_version"), QStringList{QString::number(StationDatabase::kSchemaVersion)});
    QCOMPARE(StagesInTable(reader), (QStringList{"old-1|scan=700,erase=300", "new-1|scan=1200,connect=3121"}));
    QCOMPARE(StagesInRows(reader), (QStringList{"old-1|NULL", "new-1|scan=1200,connect=3121"}));
    // An older row's failure was never told apart: it stays unknown, not guessed from its stage.
    QCOMPARE(reader.Rows("SELECT device, result, attempt_uid, failure_kind, unit FROM attempt ORDER BY id"),
             (QStringList{"old-1|FAIL|||", "new-1|FAIL|" + record.attempt + "|connect|" + record.socid}));
    QCOMPARE(ReportAndHistory(folder, record.socid),
             "2 attempts, 1 stages from table stage, slowest scan 1200 ms, 0 not verified, 1 units: " +
                 StationRecordWriter::ThisStation().station + " COM3 FAIL");
}

void StationDatabaseTest::stageTimesReadBackAsWritten_data()
{
    QTest::addColumn<QVector<qint64>>("numbersAndMs");

    QTest::newRow("none") << QVector<qint64>{};
    QTest::newRow("one byte each") << QVector<qint64>{1, 0, 127, 63};
    QTest::newRow("across byte bounds") << QVector<qint64>{128, 64, 16384, 8191, 300, 8192};
    QTest::newRow("a day and a repeat") << QVector<qint64>{2, 86400000, 2, 86400000};
    QTest::newRow("the ends of 64 bits")
        << QVector<qint64>{std::numeric_limits<qint64>::max(), std::numeric_limits<qint64>::max(), 0,
                           std::numeric_limits<qint64>::min()};
    QTest::newRow("negative milliseconds") << QVector<qint64>{5, -1, 6, -64, 7, -65};
}

void StationDatabaseTest::stageTimesReadBackAsWritten()
{
    QFETCH(QVector<qint64>, numbersAndMs);
    std::vector<std::pair<qint64, qint64>> stages;
    for (int i = 0; i + 1 < numbersAndMs.size(); i += 2)
        stages.emplace_back(numbersAndMs[i], numbersAndMs[i + 1]);
    const QByteArray blob = StageTimes::Encode(stages);
    std::vector<std::pair<qint64, qint64>> read;
    QVERIFY(StageTimes::Decode(reinterpret_cast<const unsigned char*>(blob.constData()), size_t(blob.size()),
                               [&](qint64 number, qint64 ms) { read.emplace_back(number, ms); }));
    QCOMPARE(read, stages);
}

void StationDatabaseTest::stageTimesRefuseWhatTheyCannotRead_data()
{
    QTest::addColumn<QByteArray>("blob");

    const QByteArray good = StageTimes::Encode({{3, 1200}, {300, 5}});
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("another layout") << QByteArray(1, char(StageTimes::kLayout + 1)) + good.mid(1);
    QTest::newRow("cut in a value") << good.left(good.size() - 2);
    QTest::newRow("a number without its milliseconds") << good.left(2);
    QTest::newRow("more than 64 bits") << QByteArray(1, char(StageTimes::kLayout)) + QByteArray(11, '\xff') + '\x01';
}

void StationDatabaseTest::stageTimesRefuseWhatTheyCannotRead()
{
    QFETCH(QByteArray, blob);
    QVERIFY(!StageTimes::Decode(reinterpret_cast<const unsigned char*>(blob.constData()), size_t(blob.size()),
                                [](qint64, qint64) {}));
}

QTEST_GUILESS_MAIN(StationDatabaseTest)
#include "tst_StationDatabase.moc"
