// The station record writer as the ports use it: sixteen workers at once, each record in both files before
// its worker goes on, the day rolling over at UTC midnight, two writers and two processes sharing one day's
// files, a folder that takes no files, a link planted as a day file or the database, the modes of what the
// writer makes, and a day's CSV file of a version with other fields left to it.
#include "ParserTestSupport.h"
#include "StationRecordFiles.h"
#include "TestFiles.h"

#include "Utility/BuildInfo.h"
#include "record/StationRecordFormat.h"
#include "record/StationRecordWriter.h"
#include "platform/Platform.h"

#include <QDir>
#include <QJsonArray>
#include <QProcess>
#include <QSysInfo>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

using namespace StationRecordFiles;

namespace {

const QDate kDay(2023, 4, 12);
constexpr int kThreads = 16;

QDateTime Noon(const QDate& day, int ms = 0)
{
    return QDateTime(day, QTime(12, 0), Qt::UTC).addMSecs(ms);
}

// A field of a JSON record as the CSV writes it.
QString AsCsvText(const QJsonValue& value)
{
    if (value.isDouble())
        return QString::number(value.toInt());
    if (value.isBool())
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    if (!value.isArray())
        return value.toString();
    QStringList stages;
    for (const QJsonValue& stage : value.toArray())
        stages << stage["name"].toString() + '=' + QString::number(stage["ms"].toInt());
    return stages.join(';');
}

// One day's two files, read back.
struct Day
{
    CsvTable csv;
    JsonLines json;
    QStringList csvDevices;  // in file order
    QStringList jsonDevices; // in file order
    QString problem; // empty when both files are well formed, the header is there once and the files agree
};

Day ReadDay(const QString& folder, const QDate& date)
{
    Day day;
    day.csv = ReadCsv(TestFiles::ReadFile(CsvPath(folder, date)));
    day.json = ReadJsonLines(TestFiles::ReadFile(JsonPath(folder, date)));
    if (!day.csv.error.isEmpty() || !day.json.error.isEmpty()) {
        day.problem = QStringLiteral("CSV: %1; JSON: %2").arg(day.csv.error, day.json.error);
        return day;
    }
    const QStringList& names = StationRecordFormat::FieldNames();
    if (day.csv.rows.isEmpty() || day.csv.rows.first() != names) {
        day.problem = QStringLiteral("the CSV does not start with the header");
        return day;
    }
    QHash<QString, QJsonObject> byDevice;
    for (const QJsonObject& object : day.json.objects) {
        day.jsonDevices << object["device"].toString();
        byDevice.insert(object["device"].toString(), object);
    }
    for (int i = 1; i < day.csv.rows.size(); ++i) {
        const QStringList& row = day.csv.rows[i];
        if (row == names || row.size() != names.size()) {
            day.problem =
                QStringLiteral("CSV row %1 is a second header or has %2 fields").arg(i).arg(row.size());
            return day;
        }
        const QString device = Field(names, row, "device");
        day.csvDevices << device;
        for (const QString& name : names) {
            if (AsCsvText(byDevice.value(device).value(name)) != Field(names, row, name)) {
                day.problem = QStringLiteral("%1 of %2 differs between the files").arg(name, device);
                return day;
            }
        }
    }
    return day;
}

// Each tag exactly once, and nothing else.
QString ExactlyOnce(QStringList found, QStringList expected)
{
    std::sort(found.begin(), found.end());
    std::sort(expected.begin(), expected.end());
    if (found == expected)
        return QString();
    for (int i = 0; i < qMin(found.size(), expected.size()); ++i) {
        if (found[i] != expected[i])
            return QStringLiteral("found %1 where %2 was expected").arg(found[i], expected[i]);
    }
    return QStringLiteral("%1 records where %2 were expected").arg(found.size()).arg(expected.size());
}

// Releases its threads together, once per round, so that two writers reach each new day at the same time.
class Barrier
{
public:
    explicit Barrier(int count) : count(count) {}
    void Wait()
    {
        std::unique_lock<std::mutex> guard(lock);
        const int round = this->round;
        if (++waiting == count) {
            waiting = 0;
            ++this->round;
            released.notify_all();
            return;
        }
        released.wait(guard, [this, round] { return this->round != round; });
    }

private:
    const int count;
    std::mutex lock;
    std::condition_variable released;
    int waiting = 0;
    int round = 0;
};

// Lines the writer logged whose message holds every fragment.
int CountLines(const ParserTestSupport::LogCapture& capture, const QStringList& fragments)
{
    int count = 0;
    for (const QString& line : capture.Lines()) {
        bool all = line.contains(QStringLiteral("]: StationRecordWriter::"));
        for (const QString& fragment : fragments)
            all = all && line.contains(fragment);
        count += all;
    }
    return count;
}

} // namespace

class StationRecordWriterTest : public QObject
{
    Q_OBJECT

private:
    QString folder;
    int caseNumber = 0;

private Q_SLOTS:
    void initTestCase();
    void init();
    void sixteenWorkersRecordEveryAttemptOnceInBothFiles();
    void aRecordIsOnDiskWhenRecordReturns();
    void theDayRollsOverAtUtcMidnight();
    void twoWritersStartingADayWriteOneHeader();
    void twoProcessesStartingADayWriteOneHeader();
    void theFolderIsCheckedAndRecordAlwaysReturns_data();
    void theFolderIsCheckedAndRecordAlwaysReturns();
    void aFileLockHeldElsewhereFailsTheRecordInTime();
    void writingResumesWhenTheFolderTakesFilesAgain();
    void aLinkInPlaceOfARecordFileIsRefused_data();
    void aLinkInPlaceOfARecordFileIsRefused();
    void aPipeInPlaceOfADayFileCannotHoldTheWriter();
    void filesAndFoldersGetTheirModesWhateverTheUmask_data();
    void filesAndFoldersGetTheirModesWhateverTheUmask();
    void theDefaultFolderIsStationInTheLogRoot();
    void aCsvPartWithOtherFieldsIsLeftAsItIs_data();
    void aCsvPartWithOtherFieldsIsLeftAsItIs();
};

void StationRecordWriterTest::initTestCase()
{
    ParserTestSupport::StartLogging();
}

void StationRecordWriterTest::init()
{
    folder = ParserTestSupport::MakeCleanFolder(QStringLiteral("case-%1").arg(++caseNumber));
}

void StationRecordWriterTest::sixteenWorkersRecordEveryAttemptOnceInBothFiles()
{
    constexpr int perThread = 25;
    QStringList expected;
    {
        StationRecordWriter writer(folder);
        std::vector<std::thread> workers;
        for (int t = 0; t < kThreads; ++t) {
            workers.emplace_back([&writer, t] {
                for (int i = 0; i < perThread; ++i) {
                    const QString tag = QStringLiteral("T%1-%2").arg(t).arg(i);
                    writer.Record(MakeRecord(tag, Noon(kDay, t * perThread + i), t + 1, i + 1));
                }
            });
            for (int i = 0; i < perThread; ++i)
                expected << QStringLiteral("T%1-%2").arg(t).arg(i);
        }
        for (std::thread& worker : workers)
            worker.join();
        QCOMPARE(writer.Written(), int64_t(kThreads * perThread));
        QCOMPARE(writer.Failed(), int64_t(0));
    }

    const Day day = ReadDay(folder, kDay);
    QVERIFY2(day.problem.isEmpty(), qPrintable(day.problem));
    QVERIFY2(ExactlyOnce(day.jsonDevices, expected).isEmpty(),
             qPrintable(ExactlyOnce(day.jsonDevices, expected)));
    QVERIFY2(ExactlyOnce(day.csvDevices, expected).isEmpty(),
             qPrintable(ExactlyOnce(day.csvDevices, expected)));

    // A worker waits for each of its records, so its records keep their order in the file.
    QHash<int, int> lastPoll;
    for (const QJsonObject& object : day.json.objects) {
        const int row = object["row"].toInt();
        QCOMPARE(object["poll"].toInt(), lastPoll.value(row) + 1);
        lastPoll[row] = object["poll"].toInt();
    }
    const QJsonObject first = day.json.objects.first();
    QCOMPARE(first["station"].toString(), QSysInfo::machineHostName());
    QCOMPARE(first["toolVersion"].toString(),
             QStringLiteral("%1 (%2)").arg(BuildInfo::Version(), BuildInfo::CommitId()));
}

void StationRecordWriterTest::aRecordIsOnDiskWhenRecordReturns()
{
    constexpr int perThread = 4;
    StationRecordWriter writer(folder);
    std::atomic<int> missing{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([this, &writer, &missing, t] {
            for (int i = 0; i < perThread; ++i) {
                const QString tag = QStringLiteral("disk-%1-%2").arg(t).arg(i);
                writer.Record(MakeRecord(tag, Noon(kDay), t + 1, i + 1));
                // Read by this worker before it goes on, as the next device would be flashed.
                const QByteArray json = TestFiles::ReadFile(JsonPath(folder, kDay));
                const QByteArray csv = TestFiles::ReadFile(CsvPath(folder, kDay));
                missing += !json.contains("\"device\":\"" + tag.toUtf8() + '"');
                missing += !csv.contains(',' + tag.toUtf8() + ',');
            }
        });
    }
    for (std::thread& worker : workers)
        worker.join();
    QCOMPARE(missing.load(), 0);
    QCOMPARE(writer.Written(), int64_t(kThreads * perThread));
}

void StationRecordWriterTest::theDayRollsOverAtUtcMidnight()
{
    const QDate next = kDay.addDays(1);
    struct Case
    {
        QString tag;
        QDateTime end;
        QDate day;
    };
    const QVector<Case> cases{
        {"last-ms", QDateTime(kDay, QTime(23, 59, 59, 999), Qt::UTC), kDay},
        {"midnight", QDateTime(next, QTime(0, 0, 0, 0), Qt::UTC), next},
        {"east-after-midnight", QDateTime(next, QTime(0, 30), Qt::OffsetFromUTC, 7200), kDay},
        {"late-next", QDateTime(next, QTime(23, 0), Qt::UTC), next},
        {"no-end", QDateTime(), kDay},
    };
    StationRecordWriter writer(folder);
    QStringList first;
    QStringList second;
    for (const Case& c : cases) {
        AttemptRecord record = MakeRecord(c.tag, c.end);
        // Without an end, the start decides.
        if (!c.end.isValid())
            record.start = QDateTime(kDay, QTime(23, 59, 59), Qt::UTC);
        writer.Record(record);
        (c.day == kDay ? first : second) << c.tag;
    }
    QCOMPARE(writer.Written(), int64_t(cases.size()));
    const Day one = ReadDay(folder, kDay);
    const Day two = ReadDay(folder, next);
    QVERIFY2(one.problem.isEmpty(), qPrintable(one.problem));
    QVERIFY2(two.problem.isEmpty(), qPrintable(two.problem));
    QCOMPARE(one.csvDevices, first);
    QCOMPARE(one.jsonDevices, first);
    QCOMPARE(two.csvDevices, second);
    QCOMPARE(two.jsonDevices, second);
    // Two days of files; the database beside them is one for all days.
    QCOMPARE(QDir(folder).entryList({QStringLiteral("station-*")}, QDir::Files).size(), 4);
}

void StationRecordWriterTest::twoWritersStartingADayWriteOneHeader()
{
    constexpr int days = 40;
    const QStringList tags{"A", "B"};
    {
        // Two objects open the files separately, as the window and a command-line run would.
        StationRecordWriter first(folder);
        StationRecordWriter second(folder);
        Barrier barrier(tags.size());
        std::vector<std::thread> workers;
        for (int w = 0; w < tags.size(); ++w) {
            StationRecordWriter& writer = w == 0 ? first : second;
            workers.emplace_back([&writer, &barrier, tag = tags[w]] {
                for (int d = 0; d < days; ++d) {
                    barrier.Wait();
                    writer.Record(MakeRecord(QStringLiteral("%1-%2").arg(tag).arg(d), Noon(kDay.addDays(d))));
                }
            });
        }
        for (std::thread& worker : workers)
            worker.join();
        QCOMPARE(first.Written() + second.Written(), int64_t(days * tags.size()));
    }
    for (int d = 0; d < days; ++d) {
        const Day day = ReadDay(folder, kDay.addDays(d));
        QVERIFY2(day.problem.isEmpty(), qPrintable(QStringLiteral("day %1: %2").arg(d).arg(day.problem)));
        const QStringList expected{QStringLiteral("A-%1").arg(d), QStringLiteral("B-%1").arg(d)};
        QVERIFY2(ExactlyOnce(day.csvDevices, expected).isEmpty(),
                 qPrintable(ExactlyOnce(day.csvDevices, expected)));
        QVERIFY2(ExactlyOnce(day.jsonDevices, expected).isEmpty(),
                 qPrintable(ExactlyOnce(day.jsonDevices, expected)));
    }
}

void StationRecordWriterTest::twoProcessesStartingADayWriteOneHeader()
{
    constexpr int records = 60;
    constexpr int perDay = 3;
    const QStringList tags{"P", "Q"};
    std::vector<std::unique_ptr<QProcess>> probes;
    for (const QString& tag : tags) {
        probes.push_back(std::make_unique<QProcess>());
        probes.back()->start(QCoreApplication::applicationDirPath() + "/station_record_probe",
                             {folder, tag, QString::number(records), QString::number(perDay)});
    }
    for (std::unique_ptr<QProcess>& probe : probes) {
        QVERIFY2(probe->waitForFinished(120000), qPrintable(probe->errorString()));
        QCOMPARE(probe->exitStatus(), QProcess::NormalExit);
        QVERIFY2(probe->exitCode() == 0, probe->readAllStandardOutput().constData());
    }
    for (int d = 0; d < records / perDay; ++d) {
        const Day day = ReadDay(folder, kDay.addDays(d));
        QVERIFY2(day.problem.isEmpty(), qPrintable(QStringLiteral("day %1: %2").arg(d).arg(day.problem)));
        QStringList expected;
        for (const QString& tag : tags) {
            for (int i = d * perDay; i < (d + 1) * perDay; ++i)
                expected << QStringLiteral("%1-%2").arg(tag).arg(i);
        }
        QVERIFY2(ExactlyOnce(day.csvDevices, expected).isEmpty(),
                 qPrintable(ExactlyOnce(day.csvDevices, expected)));
        QVERIFY2(ExactlyOnce(day.jsonDevices, expected).isEmpty(),
                 qPrintable(ExactlyOnce(day.jsonDevices, expected)));
    }
}

void StationRecordWriterTest::theFolderIsCheckedAndRecordAlwaysReturns_data()
{
    QTest::addColumn<QString>("relative");
    QTest::addColumn<QString>("blocker");   // a plain file made first
    QTest::addColumn<QString>("dayFolder"); // a folder made where today's CSV would go
    QTest::addColumn<int>("jsonLines");
    QTest::addColumn<int>("csvLines");

    QTest::newRow("a missing folder is made") << "a/b/Station"
                                              << ""
                                              << "" << 3 << 3;
    // The journal takes nothing here: the stopped writer tries each record once.
    // Files and folders in the way block root too, unlike permissions.
    QTest::newRow("the folder is a plain file") << "station"
                                                << "station"
                                                << "" << 0 << 0;
    QTest::newRow("the folder is under a plain file") << "plain/station"
                                                      << "plain"
                                                      << "" << 0 << 0;
    // The journal keeps the records, the JSON file gets them; the CSV file would get them once it can.
    QTest::newRow("today's CSV is a folder") << "station"
                                             << ""
                                             << "station/csv" << 3 << 0;
}

void StationRecordWriterTest::theFolderIsCheckedAndRecordAlwaysReturns()
{
    QFETCH(QString, relative);
    QFETCH(QString, blocker);
    QFETCH(QString, dayFolder);
    QFETCH(int, jsonLines);
    QFETCH(int, csvLines);

    const QString target = folder + '/' + relative;
    const QDate today = QDateTime::currentDateTimeUtc().date();
    if (!blocker.isEmpty())
        QVERIFY(TestFiles::WriteFile(folder + '/' + blocker, "in the way"));
    QString blocked = target;
    if (!dayFolder.isEmpty()) {
        blocked = CsvPath(target, today);
        QVERIFY(QDir().mkpath(blocked));
    }
    const bool writable = blocker.isEmpty() && dayFolder.isEmpty();

    const QString reason = StationRecordWriter::CheckFolder(target);
    if (writable) {
        QCOMPARE(reason, QString());
        // The check's own file is gone again.
        QCOMPARE(QDir(target).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList());
    } else {
        QVERIFY2(reason.contains(QDir::toNativeSeparators(blocked)), qPrintable(reason));
    }

    const bool journal = blocker.isEmpty();
    const ParserTestSupport::LogCapture capture;
    StationRecordWriter writer(target);
    writer.Halt();
    std::future<void> recorded = std::async(std::launch::async, [&writer, today] {
        for (int i = 0; i < 3; ++i)
            writer.Record(MakeRecord(QStringLiteral("r-%1").arg(i), Noon(today, i)));
    });
    QVERIFY2(recorded.wait_for(std::chrono::seconds(60)) == std::future_status::ready,
             "Record() did not return");
    QCOMPARE(writer.Written(), int64_t(journal ? 3 : 0));
    QCOMPARE(writer.Failed(), int64_t(journal ? 0 : 3));
    QCOMPARE(writer.Unrecorded(), writer.Failed());
    // One line for the series of three, naming what is in the way.
    const char* told = journal ? "day file not written" : "cannot be written to";
    QCOMPARE(CountLines(capture, {told, QDir::toNativeSeparators(blocked)}), writable ? 0 : 1);
    QCOMPARE(CountLines(capture, {"not written"}) + CountLines(capture, {"cannot be written"}), writable ? 0 : 1);
    // The format that could be written keeps the records.
    QCOMPARE(ReadJsonLines(TestFiles::ReadFile(JsonPath(target, today))).objects.size(), jsonLines);
    const CsvTable csv = ReadCsv(TestFiles::ReadFile(CsvPath(target, today)));
    QCOMPARE(csv.rows.size(), csvLines > 0 ? csvLines + 1 : 0);
}

void StationRecordWriterTest::aFileLockHeldElsewhereFailsTheRecordInTime()
{
    // Another writer that hangs while it holds the CSV's lock, as a stuck process would.
    QString error;
    const Platform::FileHandle held = Platform::OpenForAppend(CsvPath(folder, kDay), error);
    QVERIFY2(held != Platform::kNoFile, qPrintable(error));
    QVERIFY2(Platform::LockFile(held, 0, error), qPrintable(error));

    const ParserTestSupport::LogCapture capture;
    {
        StationRecordWriter writer(folder, 200);
        std::future<void> recorded =
            std::async(std::launch::async, [&writer] { writer.Record(MakeRecord("held", Noon(kDay))); });
        const bool returned = recorded.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
        Platform::UnlockFile(held);
        Platform::CloseFile(held);
        QVERIFY2(returned, "Record() waited for the lock without end");
        QCOMPARE(writer.Written(), int64_t(1));
        QCOMPARE(writer.FilesFailed(), int64_t(1));
        QCOMPARE(CountLines(capture, {"day file not written", "cannot lock",
                                      QDir::toNativeSeparators(CsvPath(folder, kDay))}),
                 1);

        // The file that could not be written then gets the record it lacks from the journal first.
        writer.Record(MakeRecord("after", Noon(kDay)));
        QCOMPARE(writer.Written(), int64_t(2));
        QCOMPARE(CountLines(capture, {"day files written again"}), 1);
    }
    const Day day = ReadDay(folder, kDay);
    QVERIFY2(day.problem.isEmpty(), qPrintable(day.problem));
    QCOMPARE(day.csvDevices, (QStringList{"held", "after"}));
    QCOMPARE(day.jsonDevices, (QStringList{"held", "after"}));
}

// The line stops while the journal cannot commit: the record waits, the operator is told once, the writer
// goes on by itself when the folder takes files again, and a stop gives up on what waits.
void StationRecordWriterTest::writingResumesWhenTheFolderTakesFilesAgain()
{
    const QString target = folder + "/station";
    QVERIFY(TestFiles::WriteFile(target, "in the way"));
    const ParserTestSupport::LogCapture capture;
    std::atomic<int> troubles{0};
    std::atomic<int> recoveries{0};
    StationRecordWriter writer(target);
    writer.SetRetryInterval(std::chrono::milliseconds(20));
    writer.SetTroubleHandler([&troubles](const QString& reason) { troubles += reason.contains("station") ? 1 : 100; },
                             [&recoveries] { ++recoveries; });
    std::future<void> kept = std::async(std::launch::async, [&writer] { writer.Record(MakeRecord("kept", Noon(kDay))); });
    QTRY_COMPARE_WITH_TIMEOUT(troubles.load(), 1, 30000);
    QCOMPARE(writer.Pending(), int64_t(1));
    QVERIFY(QFile::remove(target));
    QVERIFY2(kept.wait_for(std::chrono::seconds(60)) == std::future_status::ready, "Record() did not go on");
    QCOMPARE(writer.Written(), int64_t(1));
    QCOMPARE(writer.Failed(), int64_t(0));
    QCOMPARE(recoveries.load(), 1);
    QCOMPARE(CountLines(capture, {"cannot be written to"}), 1);
    QCOMPARE(CountLines(capture, {"written again; the ports go on"}), 1);
    const Day day = ReadDay(target, kDay);
    QVERIFY2(day.problem.isEmpty(), qPrintable(day.problem));
    QCOMPARE(day.csvDevices, QStringList{"kept"});

    // A second series is told again; the operator's stop gives up on the record that waits.
    QVERIFY(QDir(target).removeRecursively());
    QVERIFY(TestFiles::WriteFile(target, "in the way"));
    std::future<void> lost = std::async(std::launch::async, [&writer] { writer.Record(MakeRecord("lost", Noon(kDay))); });
    QTRY_COMPARE_WITH_TIMEOUT(troubles.load(), 2, 30000);
    writer.Halt();
    QVERIFY2(lost.wait_for(std::chrono::seconds(60)) == std::future_status::ready, "Halt() did not end the wait");
    QCOMPARE(writer.Failed(), int64_t(1));
    QCOMPARE(CountLines(capture, {"cannot be written to"}), 2);
    QCOMPARE(CountLines(capture, {"lost", "could not take it"}), 1);
}

void StationRecordWriterTest::aLinkInPlaceOfARecordFileIsRefused_data()
{
    QTest::addColumn<QString>("name"); // "jsonl" and "csv" stand for today's files
    QTest::addColumn<bool>("dangling");
    for (const char* name : {"jsonl", "csv", "station.db", "station.db-wal", "station.db-shm"}) {
        QTest::addRow("%s, to a file", name) << name << false;
        QTest::addRow("%s, dangling", name) << name << true;
    }
}

void StationRecordWriterTest::aLinkInPlaceOfARecordFileIsRefused()
{
    QFETCH(QString, name);
    QFETCH(bool, dangling);
    const QDate today = QDateTime::currentDateTimeUtc().date();
    const bool dayFile = !name.startsWith("station");
    const QString link = name == "jsonl" ? JsonPath(folder, today)
                         : dayFile       ? CsvPath(folder, today)
                                         : folder + '/' + name;
    const QString target = folder + "/elsewhere";
    if (!dangling)
        QVERIFY(TestFiles::WriteFile(target, "not the record\n"));
    QVERIFY(QFile::link(target, link));
    const QString refused = QStringLiteral("station record file %1 is a symbolic link; refused").arg(link);
    QCOMPARE(StationRecordWriter::CheckFolder(folder), refused);

    const ParserTestSupport::LogCapture capture;
    {
        StationRecordWriter writer(folder);
        // A day file that cannot be written costs the record nothing; a journal that cannot stops the line.
        if (!dayFile)
            writer.Halt();
        writer.Record(MakeRecord("a", Noon(today)));
        writer.Record(MakeRecord("b", Noon(today, 1)));
        QCOMPARE(writer.Failed(), int64_t(dayFile ? 0 : 2));
        QCOMPARE(writer.FilesFailed(), int64_t(dayFile ? 2 : 0));
    }
    // Told once for the series, as any failed record.
    QCOMPARE(capture.CountContaining(
                 dayFile ? "StationRecordWriter::FileLines" : "StationRecordWriter::Commit", refused),
             1);
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(QFileInfo::exists(target), !dangling);
    QCOMPARE(TestFiles::ReadFile(target), dangling ? QByteArray() : QByteArray("not the record\n"));
    // A link is not a broken database: nothing is moved aside.
    QCOMPARE(QDir(folder).entryList({"station.db.broken-*"}, QDir::AllEntries | QDir::System), QStringList());
}

void StationRecordWriterTest::aPipeInPlaceOfADayFileCannotHoldTheWriter()
{
    const QDate today = QDateTime::currentDateTimeUtc().date();
    QCOMPARE(mkfifo(QFile::encodeName(CsvPath(folder, today)).constData(), 0644), 0);
    const QString reason = StationRecordWriter::CheckFolder(folder);
    QVERIFY2(reason.contains("is not a regular file"), qPrintable(reason));
    StationRecordWriter writer(folder);
    std::future<void> recorded =
        std::async(std::launch::async, [&writer, today] { writer.Record(MakeRecord("p", Noon(today))); });
    QVERIFY2(recorded.wait_for(std::chrono::seconds(60)) == std::future_status::ready,
             "Record() waited for a reader");
    QCOMPARE(writer.Written(), int64_t(1));
    QCOMPARE(writer.FilesFailed(), int64_t(1));
}

void StationRecordWriterTest::filesAndFoldersGetTheirModesWhateverTheUmask_data()
{
    QTest::addColumn<int>("mask");
    QTest::newRow("umask 000") << 0;
    QTest::newRow("umask 077") << 077;
}

void StationRecordWriterTest::filesAndFoldersGetTheirModesWhateverTheUmask()
{
    QFETCH(int, mask);
    const QString target = folder + "/made/Station";
    const TestFiles::UmaskScope scope(mask);
    QCOMPARE(StationRecordWriter::CheckFolder(target), QString());
    StationRecordWriter writer(target);
    writer.Record(MakeRecord("first", Noon(kDay)));
    QCOMPARE(writer.Failed(), int64_t(0));
    QCOMPARE(TestFiles::Mode(folder + "/made"), 0755);
    QCOMPARE(TestFiles::Mode(target), 0755);
    // The database's journal files, there while the writer's connection is open, too.
    QStringList modes;
    for (const QString& name : QDir(target).entryList(QDir::Files | QDir::Hidden, QDir::Name))
        modes << QStringLiteral("%1 %2").arg(name).arg(TestFiles::Mode(target + '/' + name), 0, 8);
    const QString day = QStringLiteral("station-") + kDay.toString(Qt::ISODate);
    QCOMPARE(modes, (QStringList{day + ".csv 644", day + ".jsonl 644", "station.db 644", "station.db-shm 644",
                                 "station.db-wal 644"}));
    // A file that is there keeps its mode.
    QVERIFY(QFile::setPermissions(JsonPath(target, kDay), QFile::ReadOwner | QFile::WriteOwner));
    writer.Record(MakeRecord("second", Noon(kDay, 1)));
    QCOMPARE(writer.Written(), int64_t(2));
    QCOMPARE(TestFiles::Mode(JsonPath(target, kDay)), 0600);
}

void StationRecordWriterTest::theDefaultFolderIsStationInTheLogRoot()
{
    // initTestCase pointed the log root into this test's working folder.
    const QString expected = QDir::current().absoluteFilePath("logs/QN_PXL_V6_Logs/Station");
    QDir(expected).removeRecursively();
    {
        StationRecordWriter writer;
        QCOMPARE(QFileInfo(writer.Folder()), QFileInfo(expected));
        writer.Record(MakeRecord("default", Noon(kDay)));
    }
    const Day day = ReadDay(expected, kDay);
    QVERIFY2(day.problem.isEmpty(), qPrintable(day.problem));
    QCOMPARE(day.jsonDevices, QStringList{"default"});
}

void StationRecordWriterTest::aCsvPartWithOtherFieldsIsLeftAsItIs_data()
{
    // The day's CSV parts before, in order, "own" for this version's header; the part the records go to.
    QTest::addColumn<QStringList>("headers");
    QTest::addColumn<int>("written");

    const QStringList& names = StationRecordFormat::FieldNames();
    const QString older = names.mid(0, names.size() - 2).join(',');
    QTest::newRow("an older version's part: the next one") << QStringList{older} << 2;
    QTest::newRow("older and newer parts: the third") << QStringList{older, names.join(',') + ",later"} << 3;
    QTest::newRow("an own part after an older one") << QStringList{older, "own"} << 2;
    QTest::newRow("an empty part takes the header") << QStringList{""} << 1;
}

void StationRecordWriterTest::aCsvPartWithOtherFieldsIsLeftAsItIs()
{
    QFETCH(QStringList, headers);
    QFETCH(int, written);
    const QStringList& names = StationRecordFormat::FieldNames();
    const auto path = [this](int part) {
        return folder + '/' + StationRecordFormat::CsvFileName(kDay, part);
    };
    QList<QByteArray> before;
    for (int part = 1; part <= headers.size(); ++part) {
        const QString header = headers[part - 1] == "own" ? names.join(',') : headers[part - 1];
        before << (header.isEmpty() ? QByteArray() : (header + "\r\nold\r\n").toUtf8());
        QVERIFY(TestFiles::WriteFile(path(part), before.last()));
    }
    QVERIFY(TestFiles::WriteFile(JsonPath(folder, kDay), "{\"device\":\"old\"}\n"));
    // A restart in the middle of the day goes on in the same part.
    for (const char* tag : {"new-1", "new-2"})
        StationRecordWriter(folder).Record(MakeRecord(tag, Noon(kDay)));
    for (int part = 1; part <= headers.size() + 1; ++part) {
        if (part != written) {
            QCOMPARE(QFileInfo::exists(path(part)), part <= headers.size());
            QCOMPARE(TestFiles::ReadFile(path(part)), before.value(part - 1));
            continue;
        }
        const CsvTable csv = ReadCsv(TestFiles::ReadFile(path(part)));
        QVERIFY2(csv.error.isEmpty() && csv.rows.size() >= 3, qPrintable(csv.error));
        QCOMPARE(csv.rows.first(), names);
        QCOMPARE(Field(names, csv.rows[csv.rows.size() - 2], "device"), QStringLiteral("new-1"));
        QCOMPARE(Field(names, csv.rows.last(), "device"), QStringLiteral("new-2"));
    }
    // The JSON lines name their fields, so old and new share the day's one file.
    const JsonLines json = ReadJsonLines(TestFiles::ReadFile(JsonPath(folder, kDay)));
    QCOMPARE(json.objects.size(), 3);
    QCOMPARE(json.objects.last().value("failureKind").toString(), QStringLiteral("connect"));
}

QTEST_GUILESS_MAIN(StationRecordWriterTest)
#include "tst_StationRecordWriter.moc"
