// The report's figures on a hand-made history, its time and load filters, the local times it is given,
// and the row it flags when one stands out from the station.
#include "ParserTestSupport.h"

#include "cli/ReportOptions.h"
#include "cli/StationReport.h"
#include "common/StationDatabase.h"

#include <QDir>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QtTest>

using namespace StationReport;

namespace {

const qint64 kT0 = QDateTime(QDate(2024, 3, 1), QTime(8, 0), Qt::UTC).toMSecsSinceEpoch();
constexpr qint64 kMinute = 60 * 1000;
constexpr qint64 kHour = 60 * kMinute;

struct Attempt
{
    qint64 startMs;
    int row;
    QString load;
    QString result;
    QString failedStage;
    QString error;
    QVector<QPair<QString, int>> stages;
};

// Six attempts on two rows whose figures are worked out by hand in the tests below.
const QVector<Attempt> kHandMade{
    {kT0, 1, "aaaaaaaaaaaaaaaa", "OK", "", "", {{"scan", 100}, {"download", 1000}}},
    {kT0 + 10 * kMinute, 1, "aaaaaaaaaaaaaaaa", "OK", "", "", {{"scan", 300}, {"download", 3000}}},
    {kT0 + 2 * kHour,
     1,
     "aaaaaaaaaaaaaaaa",
     "FAIL",
     "connect",
     "timeout",
     {{"scan", 200}, {"connect", 5000}}},
    {kT0 + kHour, 2, "bbbbbbbbbbbbbbbb", "FAIL", "connect", "timeout", {{"scan", 400}, {"connect", 7000}}},
    {kT0 + kHour + 5 * kMinute,
     2,
     "bbbbbbbbbbbbbbbb",
     "FAIL",
     "download",
     "crc",
     {{"scan", 500}, {"download", 100}}},
    {kT0 + 3 * kHour, 2, "bbbbbbbbbbbbbbbb", "CANL", "", "stopped", {{"scan", 600}}},
};

// A database of the writer's schema in a folder of its own, filled by plain SQL.
class History
{
public:
    explicit History(const QString& folder)
    {
        QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        database.setDatabaseName(StationDatabase::Path(ParserTestSupport::MakeCleanFolder(folder)));
        ok = database.open() && !StationDatabase::CreateSchema(database).isValid();
    }
    ~History() { QSqlDatabase::removeDatabase(name); }

    bool Add(const QVector<Attempt>& attempts)
    {
        QSqlDatabase database = Database();
        QSqlQuery attempt(database);
        QSqlQuery stage(database);
        ok = ok && database.transaction() &&
             attempt.prepare(
                 "INSERT INTO attempt (start_ms, end_ms, row, port, device, scene, checksum_level,"
                 " flash_xml, load_digest, result, failed_stage, error, poll, operator, work_order,"
                 " station, tool_version) VALUES (?, ?, ?, ?, 'dev', 'format-download', 2, 'f.xml',"
                 " ?, ?, ?, ?, 1, '', '', 'st', 'v')") &&
             stage.prepare("INSERT INTO stage (attempt, stage, ms) VALUES (?, ?, ?)");
        for (const Attempt& a : attempts) {
            const QVariantList values{
                a.startMs, a.startMs + 1000, a.row,         QStringLiteral("COM%1").arg(a.row + 2),
                a.load,    a.result,         a.failedStage, a.error};
            for (int i = 0; i < values.size(); ++i)
                attempt.bindValue(i, values[i]);
            ok = ok && attempt.exec();
            const QVariant id = attempt.lastInsertId();
            for (const auto& s : a.stages) {
                stage.bindValue(0, id);
                stage.bindValue(1, s.first);
                stage.bindValue(2, s.second);
                ok = ok && stage.exec();
            }
        }
        return ok && database.commit();
    }

    QSqlDatabase Database() const { return QSqlDatabase::database(name); }
    bool ok = false;

private:
    const QString name = QStringLiteral("history");
};

const Group* Find(const QVector<Group>& groups, const QString& key)
{
    for (const Group& group : groups) {
        if (group.key == key)
            return &group;
    }
    return nullptr;
}

QString Stages(const Group& group)
{
    QStringList text;
    for (const StageFigure& stage : group.stages)
        text << QStringLiteral("%1 %2/%3").arg(stage.stage).arg(stage.medianMs).arg(stage.slowestMs);
    text.sort();
    return text.join(", ");
}

QString Errors(const Group& group)
{
    QStringList text;
    for (const auto& error : group.errors)
        text << QStringLiteral("%1x%2").arg(error.second).arg(error.first);
    return text.join(", ");
}

QString Counts(const Group& group)
{
    return QStringLiteral("%1 %2 %3 %4 h%5 %6/h")
        .arg(group.attempts)
        .arg(group.ok)
        .arg(group.fail)
        .arg(group.canl)
        .arg(group.activeHours)
        .arg(group.devicesPerHour, 0, 'f', 2);
}

Group RowOf(int row, qint64 attempts, qint64 fail)
{
    Group group;
    group.key = QString::number(row);
    group.attempts = attempts;
    group.fail = fail;
    group.failureRate = attempts > 0 ? double(fail) / double(attempts) : 0;
    return group;
}

} // namespace

class StationReportTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void figuresOfAHandMadeHistory_data();
    void figuresOfAHandMadeHistory();
    void filtersSelectByStartAndLoad_data();
    void filtersSelectByStartAndLoad();
    void localTimesBecomeUtc_data();
    void localTimesBecomeUtc();
    void aRowStandsOutOnlyPastBothBounds_data();
    void aRowStandsOutOnlyPastBothBounds();
    void aBadCableStandsOutInAGeneratedHistory();
};

void StationReportTest::initTestCase()
{
    ParserTestSupport::StartLogging();
}

void StationReportTest::figuresOfAHandMadeHistory_data()
{
    QTest::addColumn<QString>("dimension");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("counts"); // attempts OK FAIL CANL, active hours, devices per hour
    QTest::addColumn<QString>("stages");
    QTest::addColumn<QString>("errors");

    QTest::newRow("station") << "station"
                             << "station"
                             << "6 2 3 1 h4 0.50/h"
                             << "connect 5000/7000, download 1000/3000, scan 300/600"
                             << "2xtimeout, 1xcrc, 1xstopped";
    QTest::newRow("row 1") << "row"
                           << "1"
                           << "3 2 1 0 h2 1.00/h"
                           << "connect 5000/5000, download 1000/3000, scan 200/300"
                           << "1xtimeout";
    QTest::newRow("row 2") << "row"
                           << "2"
                           << "3 0 2 1 h2 0.00/h"
                           << "connect 7000/7000, download 100/100, scan 500/600"
                           << "1xcrc, 1xstopped, 1xtimeout";
    QTest::newRow("port of row 2") << "port"
                                   << "COM4"
                                   << "3 0 2 1 h2 0.00/h"
                                   << "connect 7000/7000, download 100/100, scan 500/600"
                                   << "1xcrc, 1xstopped, 1xtimeout";
    QTest::newRow("load a") << "load"
                            << "aaaaaaaaaaaaaaaa"
                            << "3 2 1 0 h2 1.00/h"
                            << "connect 5000/5000, download 1000/3000, scan 200/300"
                            << "1xtimeout";
    QTest::newRow("failed in connect") << "failed"
                                       << "connect"
                                       << "2 0 2 0 h2 0.00/h"
                                       << "connect 5000/7000, scan 200/400"
                                       << "2xtimeout";
    QTest::newRow("failed in download") << "failed"
                                        << "download"
                                        << "1 0 1 0 h1 0.00/h"
                                        << "download 100/100, scan 500/500"
                                        << "1xcrc";
}

void StationReportTest::figuresOfAHandMadeHistory()
{
    QFETCH(QString, dimension);
    QFETCH(QString, key);
    QFETCH(QString, counts);
    QFETCH(QString, stages);
    QFETCH(QString, errors);

    History history(QStringLiteral("hand-made"));
    QVERIFY(history.Add(kHandMade));
    QSqlDatabase database = history.Database();
    Report report;
    QString error;
    QVERIFY2(Compute(database, Filter(), report, error), qPrintable(error));
    const QMap<QString, const QVector<Group>*> lists{{"row", &report.rows},
                                                     {"port", &report.ports},
                                                     {"load", &report.loads},
                                                     {"failed", &report.failedStages}};
    const Group* group = dimension == "station" ? &report.station : Find(*lists.value(dimension), key);
    QVERIFY2(group, qPrintable(key));
    QCOMPARE(Counts(*group), counts);
    QCOMPARE(Stages(*group), stages);
    QCOMPARE(Errors(*group), errors);
    // Neither row has the twenty attempts it takes to stand out.
    QCOMPARE(group->hint, QString());
    QCOMPARE(report.failedStages.size(), 2);
}

void StationReportTest::filtersSelectByStartAndLoad_data()
{
    QTest::addColumn<qint64>("since");
    QTest::addColumn<qint64>("until");
    QTest::addColumn<QString>("load");
    QTest::addColumn<QString>("counts");

    QTest::newRow("from the second hour") << kT0 + kHour << qint64(-1) << QString() << "4 0 3 1 h3 0.00/h";
    QTest::newRow("before the second hour") << qint64(-1) << kT0 + kHour << QString() << "2 2 0 0 h1 2.00/h";
    QTest::newRow("the start is inclusive, the end not")
        << kT0 + 10 * kMinute << kT0 + kHour + 5 * kMinute << QString() << "2 1 1 0 h2 0.50/h";
    QTest::newRow("one load") << qint64(-1) << qint64(-1) << "bbbbbbbbbbbbbbbb"
                              << "3 0 2 1 h2 0.00/h";
    QTest::newRow("a load never flashed") << qint64(-1) << qint64(-1) << "cccccccccccccccc"
                                          << "0 0 0 0 h0 0.00/h";
}

void StationReportTest::filtersSelectByStartAndLoad()
{
    QFETCH(qint64, since);
    QFETCH(qint64, until);
    QFETCH(QString, load);
    QFETCH(QString, counts);

    History history(QStringLiteral("filtered"));
    QVERIFY(history.Add(kHandMade));
    QSqlDatabase database = history.Database();
    Report report;
    QString error;
    QVERIFY2(Compute(database, Filter{since, until, load}, report, error), qPrintable(error));
    QCOMPARE(Counts(report.station), counts);
    qint64 perRow = 0;
    for (const Group& row : report.rows)
        perRow += row.attempts;
    QCOMPARE(perRow, report.station.attempts);
}

void StationReportTest::localTimesBecomeUtc_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("endOfDay");
    QTest::addColumn<QDateTime>("expected"); // invalid when the text must be refused

    const QDate day(2024, 3, 1);
    QTest::newRow("a date") << "2024-03-01" << false << QDateTime(day, QTime(0, 0), Qt::LocalTime);
    QTest::newRow("a date as an end")
        << "2024-03-01" << true << QDateTime(day.addDays(1), QTime(0, 0), Qt::LocalTime);
    QTest::newRow("with minutes") << "2024-03-01 14:30" << true
                                  << QDateTime(day, QTime(14, 30), Qt::LocalTime);
    QTest::newRow("with seconds") << "2024-03-01T14:30:15" << false
                                  << QDateTime(day, QTime(14, 30, 15), Qt::LocalTime);
    QTest::newRow("no such day") << "2024-02-30" << false << QDateTime();
    QTest::newRow("an offset") << "2024-03-01T14:30+02:00" << false << QDateTime();
    QTest::newRow("words") << "yesterday" << false << QDateTime();
    QTest::newRow("empty") << "" << false << QDateTime();
}

void StationReportTest::localTimesBecomeUtc()
{
    QFETCH(QString, text);
    QFETCH(bool, endOfDay);
    QFETCH(QDateTime, expected);
    QCOMPARE(ReportOptions::ParseLocalTime(text, endOfDay),
             expected.isValid() ? expected.toMSecsSinceEpoch() : qint64(-1));
}

void StationReportTest::aRowStandsOutOnlyPastBothBounds_data()
{
    QTest::addColumn<int>("attempts");
    QTest::addColumn<int>("fails");
    QTest::addColumn<int>("othersFailPerHundred");
    QTest::addColumn<bool>("flagged");

    // The other fifteen rows have 100 attempts each, so the median row is theirs.
    QTest::newRow("four times the median, fourteen points above") << 100 << 16 << 2 << true;
    QTest::newRow("nineteen attempts are too few") << 19 << 19 << 2 << false;
    QTest::newRow("twenty attempts are enough") << 20 << 10 << 2 << true;
    QTest::newRow("ten points above a low median is not enough") << 100 << 11 << 1 << false;
    QTest::newRow("just past ten points above a low median") << 100 << 12 << 1 << true;
    QTest::newRow("below three times a high median") << 100 << 59 << 20 << false;
    QTest::newRow("past three times a high median") << 100 << 61 << 20 << true;
    QTest::newRow("a median of zero") << 100 << 11 << 0 << true;
}

void StationReportTest::aRowStandsOutOnlyPastBothBounds()
{
    QFETCH(int, attempts);
    QFETCH(int, fails);
    QFETCH(int, othersFailPerHundred);
    QFETCH(bool, flagged);

    QVector<Group> rows;
    for (int row = 1; row <= 16; ++row)
        rows.append(row == 7 ? RowOf(row, attempts, fails) : RowOf(row, 100, othersFailPerHundred));
    FlagOutliers(rows);
    for (const Group& row : rows) {
        const bool expected = flagged && row.key == "7";
        QCOMPARE(row.hint, expected ? QStringLiteral("check the cable or hub of row 7") : QString());
    }
}

void StationReportTest::aBadCableStandsOutInAGeneratedHistory()
{
    // A month of 16 rows, each failing now and then; row 11's cable fails a quarter of its devices.
    QVector<Attempt> attempts;
    QRandomGenerator random(20240301);
    for (int hour = 0; hour < 24 * 30; hour += 3) {
        for (int row = 1; row <= 16; ++row) {
            const int failPercent = row == 11 ? 25 : int(random.bounded(1, 6));
            const bool fails = int(random.bounded(100)) < failPercent;
            attempts.append({kT0 + hour * kHour + row * kMinute,
                             row,
                             "aaaaaaaaaaaaaaaa",
                             fails ? "FAIL" : "OK",
                             fails ? "connect" : "",
                             fails ? "timeout" : "",
                             {{"scan", int(random.bounded(100, 900))}}});
        }
    }
    History history(QStringLiteral("generated"));
    QVERIFY(history.Add(attempts));
    QSqlDatabase database = history.Database();
    Report report;
    QString error;
    QVERIFY2(Compute(database, Filter(), report, error), qPrintable(error));
    QCOMPARE(report.rows.size(), 16);
    QStringList hints;
    for (const Group& row : report.rows) {
        if (!row.hint.isEmpty())
            hints << row.hint;
    }
    QCOMPARE(hints, QStringList{"check the cable or hub of row 11"});
}

QTEST_GUILESS_MAIN(StationReportTest)
#include "tst_StationReport.moc"
