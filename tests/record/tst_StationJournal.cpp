// The station database as the journal: an attempt and its factory messages committed together or not at
// all, attempts a stopped station left open closed as interrupted only when their station is gone, and the
// day files caught up from the journal without a line twice.
#include "ParserTestSupport.h"
#include "StationRecordFiles.h"
#include "TestFiles.h"

#include "record/StationRecordWriter.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

#include <memory>
#include <mutex>
#include <thread>

using namespace StationRecordFiles;

namespace {

const QDate kDay(2023, 4, 12);

QDateTime Noon(int ms)
{
    return QDateTime(kDay, QTime(12, 0), Qt::UTC).addMSecs(ms);
}

AttemptRecord Attempt(const QString& tag, int ms)
{
    AttemptRecord record = MakeRecord(tag, Noon(ms));
    record.attempt = AttemptRecord::NewId();
    return record;
}

// One message per event, its unique id naming the event and the attempt's device.
class TaggingMessages : public AttemptMessages
{
public:
    JournalMessages Started(const AttemptRecord& attempt) override { return {Message("started", attempt)}; }
    JournalMessages Ended(const AttemptRecord& record) override
    {
        return {Message("ended-" + record.result + "-" + FailureKindWord(record.failureKind), record)};
    }
    void Stored() override {}

private:
    static JournalMessage Message(const QString& event, const AttemptRecord& attempt)
    {
        return JournalMessage{event + ":" + attempt.device, event, "test", Noon(0), QByteArray("{}")};
    }
};

QStringList Outbox(const QString& folder)
{
    return Reader(folder).Rows("SELECT unique_id FROM outbox ORDER BY sequence");
}

QStringList JsonDevices(const QString& folder)
{
    QStringList devices;
    for (const QJsonObject& object : ReadJsonLines(TestFiles::ReadFile(JsonPath(folder, kDay))).objects)
        devices << object["device"].toString();
    devices.sort();
    return devices;
}

// Pages written back from the write-ahead log, so that damage to the file meets them.
void Checkpoint(const QString& folder)
{
    QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("checkpoint"));
    database.setDatabaseName(StationDatabase::Path(folder));
    QVERIFY(database.open());
    QVERIFY(QSqlQuery(database).exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)")));
    database.close();
    database = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("checkpoint"));
}

void Damage(const QString& path, const QString& how)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    const qint64 size = file.size();
    if (how == "cut") {
        QVERIFY(file.resize(size - 1500));
    } else if (how == "overwrite") {
        QVERIFY(file.seek(size / 2 / 4096 * 4096));
        QCOMPARE(file.write(QByteArray(16384, '\x5a')), qint64(16384));
    } else {
        QVERIFY(file.resize(0));
        QCOMPARE(file.write(QByteArray(size, '\x5a')), size);
    }
}

QStringList Attempts(const QString& folder)
{
    return Reader(folder).Rows("SELECT device, result, failure_kind FROM attempt ORDER BY id");
}

} // namespace

class StationJournalTest : public QObject
{
    Q_OBJECT

private:
    QString folder;
    int caseNumber = 0;

private Q_SLOTS:
    void initTestCase() { ParserTestSupport::StartLogging(); }
    void init() { folder = ParserTestSupport::MakeCleanFolder(QStringLiteral("case-%1").arg(++caseNumber)); }
    void anAttemptAndItsMessagesAreCommittedTogether();
    void onlyAStoppedStationsAttemptsAreClosedAsInterrupted();
    void anInterruptedAttemptKeepsWhatItsOpenRowKnew_data();
    void anInterruptedAttemptKeepsWhatItsOpenRowKnew();
    void theDayFilesCatchUpFromTheJournalOnce();
    void anInterruptedAttemptIsFiledOnceAfterAFileRefusedIt();
    void aDatabaseTakenAwayMidRunIsSaidAndReplaced_data();
    void aDatabaseTakenAwayMidRunIsSaidAndReplaced();
    void portsAtOnceShareCommitsAndKeepEveryMessageInOrder();
    void aDamagedDatabaseIsRebuiltNotReopened_data();
    void aDamagedDatabaseIsRebuiltNotReopened();
};

void StationJournalTest::anAttemptAndItsMessagesAreCommittedTogether()
{
    TaggingMessages messages;
    StationRecordWriter writer(folder);
    writer.SetMessages(&messages);
    const AttemptRecord kept = Attempt("kept", 0);
    QVERIFY(writer.Started(kept));
    QCOMPARE(Reader(folder).Rows("SELECT attempt FROM open_attempt"), QStringList{kept.attempt});
    QCOMPARE(Outbox(folder), QStringList{"started:kept"});
    writer.Record(kept);
    QCOMPARE(Reader(folder).Rows("SELECT attempt FROM open_attempt"), QStringList());
    QCOMPARE(Attempts(folder), QStringList{"kept|FAIL|connect"});
    QCOMPARE(Outbox(folder), (QStringList{"started:kept", "ended-FAIL-connect:kept"}));

    // A close that cannot commit leaves neither the record nor its message; the attempt stays open.
    const AttemptRecord lost = Attempt("lost", 1);
    QVERIFY(writer.Started(lost));
    writer.SetCommitFault([] { return QStringLiteral("disk full"); });
    writer.Halt();
    writer.Record(lost);
    QCOMPARE(writer.Unrecorded(), int64_t(1));
    QCOMPARE(Attempts(folder), QStringList{"kept|FAIL|connect"});
    QCOMPARE(Outbox(folder), (QStringList{"started:kept", "ended-FAIL-connect:kept", "started:lost"}));
    QCOMPARE(Reader(folder).Rows("SELECT attempt FROM open_attempt"), QStringList{lost.attempt});
    // Nor is a device touched whose attempt cannot be opened.
    QVERIFY(!writer.Started(Attempt("untouched", 2)));
}

void StationJournalTest::onlyAStoppedStationsAttemptsAreClosedAsInterrupted()
{
    TaggingMessages messages;
    {
        // A station killed mid-attempt: its claim goes with it, its attempt stays open.
        StationRecordWriter killed(folder);
        QVERIFY(killed.Started(Attempt("cut", 0)));
    }
    StationRecordWriter running(folder);
    QVERIFY(running.Started(Attempt("running", 1)));
    {
        // Another host's station may still be at work on a shared folder.
        StationRecordWriter elsewhere(folder);
        QVERIFY(elsewhere.Started(Attempt("elsewhere", 2)));
    }
    {
        QSqlDatabase database = QSqlDatabase::addDatabase("QSQLITE", "edit");
        database.setDatabaseName(StationDatabase::Path(folder));
        QVERIFY(database.open());
        QSqlQuery query(database);
        QVERIFY(query.exec("UPDATE open_attempt SET host = 'another-host' WHERE CAST(started AS TEXT) LIKE '%elsewhere%'"));
        QCOMPARE(query.numRowsAffected(), 1);
    }
    QSqlDatabase::removeDatabase("edit");

    StationRecordWriter next(folder);
    next.SetMessages(&messages);
    next.CatchUp();
    QCOMPARE(next.Interrupted(), int64_t(1));
    QCOMPARE(Attempts(folder), QStringList{"cut|CANL|interrupted"});
    QCOMPARE(Outbox(folder), QStringList{"ended-CANL-interrupted:cut"});
    QCOMPARE(Reader(folder).Rows("SELECT instance = '" + running.Instance() + "' FROM open_attempt ORDER BY rowid"),
             (QStringList{"1", "0"}));
    const JsonLines json = ReadJsonLines(TestFiles::ReadFile(JsonPath(folder, QDateTime::currentDateTimeUtc().date())));
    const QJsonObject cut = json.objects.value(0);
    QVERIFY2(cut.value("error").toString().contains("station stopped during this attempt"), qPrintable(json.error));
    // A second start finds nothing more to close.
    StationRecordWriter again(folder);
    again.CatchUp();
    QCOMPARE(again.Interrupted(), int64_t(0));
}

void StationJournalTest::anInterruptedAttemptKeepsWhatItsOpenRowKnew_data()
{
    QTest::addColumn<bool>("olderRow");
    QTest::newRow("opened by this version") << false;
    // A station killed mid-attempt and started again after an upgrade finds the row as the version before
    // wrote it: thirteen fields by name, its start in milliseconds.
    QTest::newRow("opened by the version before") << true;
}

void StationJournalTest::anInterruptedAttemptKeepsWhatItsOpenRowKnew()
{
    QFETCH(bool, olderRow);
    AttemptRecord started = Attempt("cut", 0);
    started.end = QDateTime();
    started.row = 5;
    started.poll = 3;
    started.imagesWritten = 7;
    const QStringList known{"start",         "row",           "port",       "device", "scene",
                            "checksumLevel", "flashXml",      "loadDigest", "poll",   "operator",
                            "workOrder",     "imagesWritten", "attempt"};
    const QJsonObject expected = ReadJsonLines(StationRecordFormat::JsonLine({}, started)).objects.value(0);
    {
        StationRecordWriter killed(folder);
        QVERIFY(killed.Started(started));
    }
    if (olderRow) {
        QJsonObject fields{{"start", started.start.toMSecsSinceEpoch()}, {"unit", ""}};
        for (const QString& name : known.mid(1, known.size() - 2))
            fields.insert(name, expected.value(name));
        {
            QSqlDatabase database = QSqlDatabase::addDatabase("QSQLITE", "edit");
            database.setDatabaseName(StationDatabase::Path(folder));
            QVERIFY(database.open());
            QSqlQuery update(database);
            update.prepare("UPDATE open_attempt SET started = ?");
            update.addBindValue(QJsonDocument(fields).toJson(QJsonDocument::Compact));
            QVERIFY(update.exec());
        }
        QSqlDatabase::removeDatabase("edit");
    }
    StationRecordWriter next(folder);
    next.CatchUp();
    QCOMPARE(next.Interrupted(), int64_t(1));
    const QJsonObject line =
        ReadJsonLines(TestFiles::ReadFile(JsonPath(folder, QDateTime::currentDateTimeUtc().date())))
            .objects.value(0);
    for (const QString& name : known)
        QVERIFY2(line.value(name) == expected.value(name), qPrintable(name));
}

void StationJournalTest::theDayFilesCatchUpFromTheJournalOnce()
{
    const QString blockedCsv = CsvPath(folder, kDay);
    QVERIFY(QDir().mkpath(blockedCsv));
    {
        StationRecordWriter writer(folder);
        writer.Record(Attempt("a", 0));
        writer.Record(Attempt("b", 1));
        QCOMPARE(writer.Written(), int64_t(2));
        QCOMPARE(writer.FilesFailed(), int64_t(2));
    }
    QCOMPARE(Reader(folder).Rows("SELECT count(*) FROM unfiled"), QStringList{"2"});
    QVERIFY(QDir(blockedCsv).removeRecursively());
    {
        StationRecordWriter writer(folder);
        writer.CatchUp();
    }
    QCOMPARE(Reader(folder).Rows("SELECT count(*) FROM unfiled"), QStringList{"0"});
    const JsonLines json = ReadJsonLines(TestFiles::ReadFile(JsonPath(folder, kDay)));
    const CsvTable csv = ReadCsv(TestFiles::ReadFile(CsvPath(folder, kDay)));
    QVERIFY2(json.error.isEmpty() && csv.error.isEmpty(), qPrintable(json.error + csv.error));
    QCOMPARE(json.objects.size(), 2);
    QCOMPARE(csv.rows.size(), 3);
}

// Closed as interrupted while today's CSV refuses it, then listed by the journal as waiting too: it must
// still reach the file once.
void StationJournalTest::anInterruptedAttemptIsFiledOnceAfterAFileRefusedIt()
{
    {
        StationRecordWriter killed(folder);
        QVERIFY(killed.Started(Attempt("cut", 0)));
    }
    const QString blockedCsv = CsvPath(folder, QDateTime::currentDateTimeUtc().date());
    QVERIFY(QDir().mkpath(blockedCsv));
    StationRecordWriter next(folder);
    next.CatchUp();
    QCOMPARE(next.Interrupted(), int64_t(1));
    QVERIFY(QDir(blockedCsv).removeRecursively());
    AttemptRecord later = Attempt("later", 1);
    later.end = QDateTime::currentDateTimeUtc();
    next.Record(later);
    const CsvTable csv = ReadCsv(TestFiles::ReadFile(blockedCsv));
    QVERIFY2(csv.error.isEmpty(), qPrintable(csv.error));
    QCOMPARE(csv.rows.size(), 3); // the header, then each attempt once
}

void StationJournalTest::aDatabaseTakenAwayMidRunIsSaidAndReplaced_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<QStringList>("kept"); // what the database at the path holds afterwards
    QTest::newRow("renamed") << "renamed" << QStringList{"after"};
    QTest::newRow("removed") << "removed" << QStringList{"after"};
    // The pages cut away were still in the write-ahead log, which the reopened database reads again.
    QTest::newRow("truncated") << "truncated" << QStringList{"before", "after"};
}

// Its open connection would otherwise go on writing to a file nobody finds, or past the end of one cut short.
void StationJournalTest::aDatabaseTakenAwayMidRunIsSaidAndReplaced()
{
    QFETCH(QString, change);
    QFETCH(QStringList, kept);
    const QString path = StationDatabase::Path(folder);
    const ParserTestSupport::LogCapture capture;
    {
        StationRecordWriter writer(folder);
        writer.Record(Attempt("before", 0));
        if (change == "renamed")
            QVERIFY(QFile::rename(path, path + ".elsewhere"));
        else if (change == "removed")
            QVERIFY(QFile::remove(path));
        else
            QVERIFY(QFile::resize(path, 1000));
        writer.Record(Attempt("after", 1));
        QCOMPARE(writer.Written(), int64_t(2));
    }
    QCOMPARE(capture.CountContaining("StationDatabase::Transact", "moved, replaced, removed or cut short"), 1);
    QCOMPARE(Reader(folder).Rows("SELECT device FROM attempt ORDER BY id"), kept);
}

// Sixteen ports opening and closing at once: their attempts go into the journal together, each whole.
void StationJournalTest::portsAtOnceShareCommitsAndKeepEveryMessageInOrder()
{
    constexpr int ports = 16;
    constexpr int perPort = 8;
    TaggingMessages messages;
    {
        StationRecordWriter writer(folder);
        writer.SetMessages(&messages);
        std::vector<std::thread> workers;
        for (int port = 0; port < ports; ++port) {
            workers.emplace_back([&writer, port] {
                for (int i = 0; i < perPort; ++i) {
                    const AttemptRecord attempt = Attempt(QStringLiteral("p%1-%2").arg(port).arg(i), port);
                    if (writer.Started(attempt))
                        writer.Record(attempt);
                }
            });
        }
        for (std::thread& worker : workers)
            worker.join();
        QCOMPARE(writer.Written(), int64_t(ports * perPort));
    }
    QCOMPARE(Reader(folder).Rows("SELECT count(*), count(DISTINCT attempt_uid) FROM attempt"),
             QStringList{QStringLiteral("%1|%1").arg(ports * perPort)});
    QCOMPARE(Reader(folder).Rows("SELECT count(*) FROM open_attempt UNION ALL SELECT count(*) FROM unfiled"),
             (QStringList{"0", "0"}));
    // Each device's start before its end, and a port's devices in their order.
    QHash<QString, int> seen;
    const QStringList outbox = Outbox(folder);
    QCOMPARE(outbox.size(), 2 * ports * perPort);
    for (const QString& id : outbox) {
        const QString device = id.section(':', 1);
        const int port = device.section('-', 0, 0).mid(1).toInt();
        const int step = seen[QString::number(port)]++;
        QCOMPARE(id, QStringLiteral("%1:p%2-%3").arg(step % 2 ? "ended-FAIL-connect" : "started").arg(port).arg(step / 2));
    }
    const JsonLines json = ReadJsonLines(TestFiles::ReadFile(JsonPath(folder, kDay)));
    const CsvTable csv = ReadCsv(TestFiles::ReadFile(CsvPath(folder, kDay)));
    QVERIFY2(json.error.isEmpty() && csv.error.isEmpty(), qPrintable(json.error + csv.error));
    QSet<QString> devices;
    for (const QJsonObject& object : json.objects)
        devices.insert(object.value("device").toString());
    QCOMPARE(devices.size(), ports * perPort);
    QCOMPARE(json.objects.size(), ports * perPort);
    QCOMPARE(csv.rows.size(), ports * perPort + 1);
}

void StationJournalTest::aDamagedDatabaseIsRebuiltNotReopened_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("running"); // the damage comes while the station runs, not between two starts
    QTest::newRow("16 KiB overwritten in place") << "overwrite" << false;
    QTest::newRow("cut inside a page mid-run") << "cut" << true;
    QTest::newRow("replaced by what is no database") << "garbage" << false;
}

// Salvage, then the day files: every closed attempt is back, and every attempt's messages wait again (their
// ids are those they had, so a receiver drops what it got before).
void StationJournalTest::aDamagedDatabaseIsRebuiltNotReopened()
{
    QFETCH(QString, how);
    QFETCH(bool, running);
    const QString path = StationDatabase::Path(folder);
    TaggingMessages messages;
    const ParserTestSupport::LogCapture capture;
    auto writer = std::make_unique<StationRecordWriter>(folder);
    writer->SetMessages(&messages);
    for (int i = 0; i < 300; ++i) {
        const AttemptRecord attempt = Attempt(QStringLiteral("a%1").arg(i, 3, 10, QLatin1Char('0')), i);
        QVERIFY(writer->Started(attempt));
        writer->Record(attempt);
    }
    Checkpoint(folder);
    if (!running) {
        writer.reset();
        Damage(path, how);
        writer = std::make_unique<StationRecordWriter>(folder);
        writer->SetMessages(&messages);
        writer->CatchUp();
    } else {
        Damage(path, how);
    }
    const AttemptRecord after = Attempt("after", 1000);
    QVERIFY(writer->Started(after));
    QVERIFY(writer->Record(after));
    QCOMPARE(writer->Rebuilds(), int64_t(1));
    QCOMPARE(writer->Failed(), int64_t(0));
    writer.reset();

    QCOMPARE(capture.CountContaining("StationDatabase::Rebuild", "moved aside to"), 1);
    QCOMPARE(QDir(folder).entryList({"station.db.broken-*"}, QDir::Files).size(), 1);
    const Reader reader(folder);
    QCOMPARE(reader.Rows("PRAGMA integrity_check"), QStringList{"ok"});
    QStringList kept = reader.Rows("SELECT device FROM attempt");
    kept.sort();
    QCOMPARE(kept, JsonDevices(folder));
    QCOMPARE(kept.size(), 301);
    const QStringList outbox = Outbox(folder);
    for (const QString& device : kept) {
        QVERIFY2(outbox.contains("started:" + device), qPrintable(device));
        QVERIFY2(outbox.contains("ended-FAIL-connect:" + device), qPrintable(device));
    }
}

QTEST_GUILESS_MAIN(StationJournalTest)
#include "tst_StationJournal.moc"

