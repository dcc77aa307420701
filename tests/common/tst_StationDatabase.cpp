// The station database as the writer fills it: every record in the order of the files, its stages in their
// own table, WAL mode, and a database that is not one moved aside without costing the files a record.
#include "ParserTestSupport.h"
#include "StationRecordFiles.h"
#include "TestFiles.h"

#include "common/StationDatabase.h"
#include "common/StationRecordWriter.h"

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

// A read-only connection of the test's own, closed and removed when it goes.
class Reader
{
public:
    explicit Reader(const QString& folder)
    {
        QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        database.setDatabaseName(StationDatabase::Path(folder));
        database.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        opened = database.open();
    }
    ~Reader() { QSqlDatabase::removeDatabase(name); }

    // Every row of the query, its columns joined by "|"; a single "error: ..." element when it fails.
    QStringList Rows(const QString& statement) const
    {
        QStringList rows;
        QSqlQuery query(QSqlDatabase::database(name));
        if (!opened || !query.exec(statement))
            return {QStringLiteral("error: ") + query.lastError().text()};
        while (query.next()) {
            QStringList columns;
            for (int i = 0; i < query.record().count(); ++i)
                columns << query.value(i).toString();
            rows << columns.join(QLatin1Char('|'));
        }
        return rows;
    }

private:
    const QString name = QStringLiteral("test-reader");
    bool opened = false;
};

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
        QCOMPARE(writer.DatabaseFailed(), int64_t(0));
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
    const QStringList expected{QStringList{QString::number(startMs),
                                           QString::number(record.end.toMSecsSinceEpoch()), "7", record.port,
                                           "dev-1", record.scene, "2", record.flashXml, record.loadDigest,
                                           "FAIL", "connect", record.error, "3", record.operatorName, "WO-7"}
                                   .join('|')};
    QCOMPARE(
        reader.Rows("SELECT start_ms, end_ms, row, port, device, scene, checksum_level, flash_xml,"
                    " load_digest, result, failed_stage, error, poll, operator, work_order FROM attempt"),
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
        QCOMPARE(writer.DatabaseFailed(), int64_t(0));
    }
    QCOMPARE(capture.CountContaining("StationDatabase::Open", "moved aside"), 1);
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

QTEST_GUILESS_MAIN(StationDatabaseTest)
#include "tst_StationDatabase.moc"
