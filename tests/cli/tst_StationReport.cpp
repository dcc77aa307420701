// The report's figures on a hand-made history, its time and load filters, the local times it is given,
// and the row it flags when one stands out from the station; the same figures whether the attempts' stages
// are read from their rows or from table stage, and medians as a sort of every value gives them.
#include "ParserTestSupport.h"

#include "StationRecordFiles.h"

#include "cli/ReportCommand.h"
#include "cli/ReportOptions.h"
#include "cli/ReportPrinter.h"
#include "cli/TerminalText.h"
#include "record/StageTimes.h"
#include "record/StationDatabase.h"
#include "record/StationReport.h"
#include "record/UnitHistory.h"

#include <QDir>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QtTest>

#include <cstdio>
#include <functional>

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
    QVector<QPair<QString, qint64>> stages;
    QString unit = QStringLiteral(""); // empty, not null: the column refuses NULL
};

// Six attempts on two rows whose figures are worked out by hand in the tests below.
const QVector<Attempt> kHandMade{
    {kT0, 1, "aaaaaaaaaaaaaaaa", "OK", "", "", {{"scan", 100}, {"download", 1000}}, "aa01"},
    {kT0 + 10 * kMinute, 1, "aaaaaaaaaaaaaaaa", "OK", "", "", {{"scan", 300}, {"download", 3000}}, "aa01"},
    {kT0 + 2 * kHour,
     1,
     "aaaaaaaaaaaaaaaa",
     "FAIL",
     "connect",
     "timeout",
     {{"scan", 200}, {"connect", 5000}},
     "bb02"},
    {kT0 + kHour, 2, "bbbbbbbbbbbbbbbb", "FAIL", "connect", "timeout", {{"scan", 400}, {"connect", 7000}}, "bb02"},
    {kT0 + kHour + 5 * kMinute,
     2,
     "bbbbbbbbbbbbbbbb",
     "FAIL",
     "download",
     "crc",
     {{"scan", 500}, {"download", 100}},
     "cc03"},
    {kT0 + 3 * kHour, 2, "bbbbbbbbbbbbbbbb", "CANL", "", "stopped", {{"scan", 600}}},
};

// Where an attempt's stages are besides table stage.
enum class InRow
{
    Nowhere,    // as the first version of the writer left them, or another tool in its place
    Compact,    // as the writer leaves them now
    Unreadable, // a layout the report does not know
    Unnumbered, // numbers table stage_name does not name
};

// A database of the writer's schema in a folder of its own, filled by plain SQL; with firstVersion, the
// schema the first version of the writer made.
class History
{
public:
    explicit History(const QString& folder, bool firstVersion = false) : firstVersion(firstVersion)
    {
        QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        database.setDatabaseName(StationDatabase::Path(ParserTestSupport::MakeCleanFolder(folder)));
        ok = database.open();
        if (!firstVersion) {
            ok = ok && !StationDatabase::CreateSchema(database).isValid();
            return;
        }
        QSqlQuery query(database);
        for (const QString& statement : StationRecordFiles::FirstVersionSchema())
            ok = ok && query.exec(statement);
    }
    ~History() { QSqlDatabase::removeDatabase(name); }

    bool Add(const QVector<Attempt>& attempts, InRow inRow = InRow::Nowhere)
    {
        return Add(attempts, [inRow](int) { return inRow; });
    }

    // inRowOf gives the form of each attempt by its place in attempts.
    bool Add(const QVector<Attempt>& attempts, const std::function<InRow(int)>& inRowOf)
    {
        QSqlDatabase database = Database();
        QSqlQuery attempt(database);
        QSqlQuery stage(database);
        ok = ok && database.transaction() &&
             attempt.prepare(
                 QStringLiteral("INSERT INTO attempt (start_ms, end_ms, row, port, device, scene, checksum_level,"
                                " flash_xml, load_digest, result, failed_stage, error, poll, operator,"
                                " work_order, station, tool_version%1) VALUES (?, ?, ?, ?, 'dev',"
                                " 'format-download', 2, 'f.xml', ?, ?, ?, ?, 1, '', '', 'st', 'v'%2)")
                     .arg(firstVersion ? "" : ", stage_ms, unit", firstVersion ? "" : ", ?, ?")) &&
             stage.prepare("INSERT INTO stage (attempt, stage, ms) VALUES (?, ?, ?)");
        for (int at = 0; at < attempts.size(); ++at) {
            const Attempt& a = attempts[at];
            const InRow inRow = inRowOf(at);
            ok = ok && (inRow == InRow::Nowhere || !firstVersion);
            QVariantList values{
                a.startMs, a.startMs + 1000, a.row,         QStringLiteral("COM%1").arg(a.row + 2),
                a.load,    a.result,         a.failedStage, a.error};
            if (!firstVersion)
                values << (inRow == InRow::Nowhere ? QVariant(QVariant::ByteArray) : QVariant(StagesInRow(a, inRow)))
                       << a.unit;
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

    bool Exec(const QString& statement)
    {
        QSqlQuery query(Database());
        return ok = ok && query.exec(statement);
    }

    bool ok = false;

private:
    QByteArray StagesInRow(const Attempt& a, InRow inRow)
    {
        if (inRow == InRow::Unreadable)
            return QByteArray(1, char(StageTimes::kLayout + 7)) + QByteArray::number(a.startMs);
        std::vector<std::pair<qint64, qint64>> stages;
        for (const auto& s : a.stages)
            stages.emplace_back(inRow == InRow::Unnumbered ? 1000000 : Number(s.first), s.second);
        return StageTimes::Encode(stages);
    }

    qint64 Number(const QString& stage)
    {
        QSqlQuery query(Database());
        query.prepare("INSERT OR IGNORE INTO stage_name (name) VALUES (?)");
        query.addBindValue(stage);
        ok = ok && query.exec();
        query.prepare("SELECT id FROM stage_name WHERE name = ?");
        query.addBindValue(stage);
        ok = ok && query.exec() && query.next();
        return query.value(0).toLongLong();
    }

    const bool firstVersion;
    const QString name = QStringLiteral("history");
};

// A few months of five rows on three loads: stages in a shifting order, one that first turns up half way,
// milliseconds on both sides of 65536 and one past 32 bits, so that every way to the figures is taken.
QVector<Attempt> Generated()
{
    QVector<Attempt> attempts;
    QRandomGenerator random(20231207);
    const QStringList loads{"aaaaaaaaaaaaaaaa", "bbbbbbbbbbbbbbbb", "cccccccccccccccc"};
    const QStringList names{"scan", "connect", "erase", "download", "verify"};
    for (int i = 0; i < 1500; ++i) {
        Attempt a;
        // Empty, not null: the columns refuse NULL.
        a.failedStage = a.error = QStringLiteral("");
        a.startMs = kT0 + i * 97 * kMinute + int(random.bounded(60)) * kMinute;
        a.row = int(random.bounded(5)) + 1;
        a.load = loads[(i / 200 + a.row) % 3];
        const int dice = int(random.bounded(100));
        a.result = dice < 12 ? "FAIL" : dice < 15 ? "CANL" : "OK";
        QStringList stages = names;
        if (i >= 750 && i % 3 == 0)
            stages.insert(2, "late");
        if (random.bounded(4) == 0)
            std::swap(stages[0], stages[1 + int(random.bounded(stages.size() - 1))]);
        if (a.result != "OK")
            stages = stages.mid(0, 1 + int(random.bounded(stages.size())));
        if (a.result == "FAIL") {
            a.failedStage = stages.last();
            a.error = QStringLiteral("error %1").arg(random.bounded(4));
        } else if (a.result == "CANL") {
            a.error = "stopped";
        }
        for (const QString& stage : stages) {
            const int scale = stage == "download" ? 200000 : 70000;
            a.stages.append({stage, qint64(random.bounded(scale))});
        }
        attempts.append(a);
    }
    attempts[1000].stages.append({"verify", 3000000000LL});
    return attempts;
}

bool Selected(const Attempt& a, const Filter& filter)
{
    return (filter.sinceMs < 0 || a.startMs >= filter.sinceMs) &&
           (filter.untilMs < 0 || a.startMs < filter.untilMs) && (filter.load.isEmpty() || a.load == filter.load);
}

// Stage figures straight from their meaning: stages in the order the selected attempts first show them, the
// lower median of a sort of every value, the largest value. rowOnly limits the values, not the order, to
// one row's attempts.
QString Reference(const QVector<Attempt>& attempts, const Filter& filter, int rowOnly = 0)
{
    QStringList order;
    QMap<QString, std::vector<qint64>> values;
    for (const Attempt& a : attempts) {
        if (!Selected(a, filter))
            continue;
        for (const auto& s : a.stages) {
            if (!order.contains(s.first))
                order << s.first;
            if (rowOnly != 0 && a.row != rowOnly)
                continue;
            // The report counts in 32 bits.
            values[s.first].push_back(qMin<qint64>(s.second, std::numeric_limits<qint32>::max()));
        }
    }
    QStringList text;
    for (const QString& stage : order) {
        std::vector<qint64>& all = values[stage];
        if (all.empty())
            continue;
        std::sort(all.begin(), all.end());
        text << QStringLiteral("%1 %2/%3").arg(stage).arg(all[(all.size() - 1) / 2]).arg(all.back());
    }
    return text.join(", ");
}

QString InOrder(const Group& group)
{
    QStringList text;
    for (const StageFigure& stage : group.stages)
        text << QStringLiteral("%1 %2/%3").arg(stage.stage).arg(stage.medianMs).arg(stage.slowestMs);
    return text.join(", ");
}

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
    void everyFormOfTheStagesReadsTheSame_data();
    void everyFormOfTheStagesReadsTheSame();
    void terminalTextIsOneShortLine_data();
    void terminalTextIsOneShortLine();
    void textFromTheDatabaseCannotTakeOverTheTerminal();
    void aDamagedDatabaseIsLeftAsItIs_data();
    void aDamagedDatabaseIsLeftAsItIs();
    void okAttemptsAreVerifiedUnverifiedOrNotKnown_data();
    void okAttemptsAreVerifiedUnverifiedOrNotKnown();
    void oneUnitsHistory_data();
    void oneUnitsHistory();
};

void StationReportTest::initTestCase()
{
    ParserTestSupport::StartLogging();
}

void StationReportTest::figuresOfAHandMadeHistory_data()
{
    QTest::addColumn<bool>("inRow");
    QTest::addColumn<QString>("dimension");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("counts"); // attempts OK FAIL CANL, active hours, devices per hour
    QTest::addColumn<QString>("stages");
    QTest::addColumn<QString>("errors");

    for (const bool inRow : {false, true}) {
        const char* const form = inRow ? "stages in the rows" : "stages in their table";
        QTest::addRow("%s, %s", "station", form) << inRow << "station"
                                 << "station"
                                 << "6 2 3 1 h4 0.50/h"
                                 << "connect 5000/7000, download 1000/3000, scan 300/600"
                                 << "2xtimeout, 1xcrc, 1xstopped";
        QTest::addRow("%s, %s", "row 1", form) << inRow << "row"
                               << "1"
                               << "3 2 1 0 h2 1.00/h"
                               << "connect 5000/5000, download 1000/3000, scan 200/300"
                               << "1xtimeout";
        QTest::addRow("%s, %s", "row 2", form) << inRow << "row"
                               << "2"
                               << "3 0 2 1 h2 0.00/h"
                               << "connect 7000/7000, download 100/100, scan 500/600"
                               << "1xcrc, 1xstopped, 1xtimeout";
        QTest::addRow("%s, %s", "port of row 2", form) << inRow << "port"
                                       << "COM4"
                                       << "3 0 2 1 h2 0.00/h"
                                       << "connect 7000/7000, download 100/100, scan 500/600"
                                       << "1xcrc, 1xstopped, 1xtimeout";
        QTest::addRow("%s, %s", "load a", form) << inRow << "load"
                                << "aaaaaaaaaaaaaaaa"
                                << "3 2 1 0 h2 1.00/h"
                                << "connect 5000/5000, download 1000/3000, scan 200/300"
                                << "1xtimeout";
        QTest::addRow("%s, %s", "failed in connect", form) << inRow << "failed"
                                           << "connect"
                                           << "2 0 2 0 h2 0.00/h"
                                           << "connect 5000/7000, scan 200/400"
                                           << "2xtimeout";
        QTest::addRow("%s, %s", "failed in download", form) << inRow << "failed"
                                            << "download"
                                            << "1 0 1 0 h1 0.00/h"
                                            << "download 100/100, scan 500/500"
                                            << "1xcrc";
    }
}

void StationReportTest::figuresOfAHandMadeHistory()
{
    QFETCH(bool, inRow);
    QFETCH(QString, dimension);
    QFETCH(QString, key);
    QFETCH(QString, counts);
    QFETCH(QString, stages);
    QFETCH(QString, errors);

    History history(QStringLiteral("hand-made"), !inRow);
    QVERIFY(history.Add(kHandMade, inRow ? InRow::Compact : InRow::Nowhere));
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
    QCOMPARE(report.stagesFromTable, inRow ? 0 : qint64(kHandMade.size()));
}

void StationReportTest::filtersSelectByStartAndLoad_data()
{
    QTest::addColumn<qint64>("since");
    QTest::addColumn<qint64>("until");
    QTest::addColumn<QString>("load");
    QTest::addColumn<QString>("counts");
    QTest::addColumn<QString>("units");       // named, attempted more than once, OK more than once
    QTest::addColumn<QString>("unitHistory"); // unit bb02's attempts: row and result, oldest first

    QTest::newRow("from the second hour") << kT0 + kHour << qint64(-1) << QString() << "4 0 3 1 h3 0.00/h"
                                          << "2 1 0" << "2 FAIL, 1 FAIL";
    QTest::newRow("before the second hour") << qint64(-1) << kT0 + kHour << QString() << "2 2 0 0 h1 2.00/h"
                                            << "1 1 1" << "";
    QTest::newRow("the start is inclusive, the end not")
        << kT0 + 10 * kMinute << kT0 + kHour + 5 * kMinute << QString() << "2 1 1 0 h2 0.50/h" << "2 0 0"
        << "2 FAIL";
    QTest::newRow("one load") << qint64(-1) << qint64(-1) << "bbbbbbbbbbbbbbbb"
                              << "3 0 2 1 h2 0.00/h" << "2 0 0" << "2 FAIL";
    QTest::newRow("a load never flashed") << qint64(-1) << qint64(-1) << "cccccccccccccccc"
                                          << "0 0 0 0 h0 0.00/h" << "0 0 0" << "";
    QTest::newRow("everything") << qint64(-1) << qint64(-1) << QString() << "6 2 3 1 h4 0.50/h" << "3 2 1"
                                << "2 FAIL, 1 FAIL";
}

void StationReportTest::filtersSelectByStartAndLoad()
{
    QFETCH(qint64, since);
    QFETCH(qint64, until);
    QFETCH(QString, load);
    QFETCH(QString, counts);
    QFETCH(QString, units);
    QFETCH(QString, unitHistory);

    History history(QStringLiteral("filtered"));
    QVERIFY(history.Add(kHandMade));
    QSqlDatabase database = history.Database();
    Report report;
    QString error;
    QVERIFY2(Compute(database, Filter{since, until, load}, report, error), qPrintable(error));
    QCOMPARE(Counts(report.station), counts);
    QCOMPARE(QStringLiteral("%1 %2 %3").arg(report.units.named).arg(report.units.repeated).arg(report.units.okRepeated),
             units);
    QVector<UnitHistory::Attempt> attempts;
    QVERIFY2(UnitHistory::Read(database, Filter{since, until, load}, QStringLiteral("bb02"), attempts, error),
             qPrintable(error));
    QStringList read;
    for (const UnitHistory::Attempt& attempt : attempts)
        read << QStringLiteral("%1 %2").arg(attempt.record.row).arg(attempt.record.result);
    QCOMPARE(read.join(QStringLiteral(", ")), unitHistory);
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

void StationReportTest::everyFormOfTheStagesReadsTheSame_data()
{
    QTest::addColumn<qint64>("since");
    QTest::addColumn<qint64>("until");
    QTest::addColumn<QString>("load");

    // The history spans about 100 days from kT0.
    QTest::newRow("all of it") << qint64(-1) << qint64(-1) << QString();
    QTest::newRow("a month in the middle") << kT0 + 30 * 24 * kHour << kT0 + 60 * 24 * kHour << QString();
    QTest::newRow("from the second half") << kT0 + 55 * 24 * kHour << qint64(-1) << QString();
    QTest::newRow("one load") << qint64(-1) << qint64(-1) << "bbbbbbbbbbbbbbbb";
    QTest::newRow("one load in a month") << kT0 + 50 * 24 * kHour << kT0 + 80 * 24 * kHour
                                         << "cccccccccccccccc";
    QTest::newRow("nothing") << kT0 - 2 * kHour << kT0 - kHour << QString();
}

void StationReportTest::everyFormOfTheStagesReadsTheSame()
{
    QFETCH(qint64, since);
    QFETCH(qint64, until);
    QFETCH(QString, load);
    const Filter filter{since, until, load};
    const QVector<Attempt> attempts = Generated();
    const int half = attempts.size() / 2;
    // A row the report cannot read is read from table stage instead, whatever its neighbours are.
    const InRow each[] = {InRow::Compact, InRow::Unreadable, InRow::Compact, InRow::Unnumbered,
                          InRow::Nowhere};
    const struct
    {
        const char* name;
        bool firstVersion;
        std::function<bool(History&)> fill;
        std::function<bool(int)> fromTable; // whether the attempt at that place has its stages only there
    } forms[] = {
        {"first version", true, [&](History& h) { return h.Add(attempts); }, [](int) { return true; }},
        {"in the rows", false, [&](History& h) { return h.Add(attempts, InRow::Compact); },
         [](int) { return false; }},
        {"older half without", false,
         [&](History& h) {
             return h.Add(attempts.mid(0, half)) && h.Add(attempts.mid(half), InRow::Compact);
         },
         [&](int at) { return at < half; }},
        {"some unreadable", false,
         [&](History& h) { return h.Add(attempts, [&each](int at) { return each[at % 5]; }); },
         [&](int at) { return each[at % 5] != InRow::Compact; }},
        {"without the names of the numbers", false,
         [&](History& h) { return h.Add(attempts, InRow::Compact) && h.Exec("DROP TABLE stage_name"); },
         [](int) { return true; }},
    };
    QByteArray expected;
    for (const auto& form : forms) {
        History history(QStringLiteral("forms"), form.firstVersion);
        QVERIFY2(form.fill(history), form.name);
        QSqlDatabase database = history.Database();
        Report report;
        QString error;
        QVERIFY2(Compute(database, filter, report, error), qPrintable(QString(form.name) + ": " + error));
        QCOMPARE(InOrder(report.station), Reference(attempts, filter));
        // The figures would be the same from table stage alone, so only the count shows which way they came.
        qint64 fromTable = 0;
        for (int at = 0; at < attempts.size(); ++at)
            fromTable += Selected(attempts[at], filter) && form.fromTable(at);
        QCOMPARE(report.stagesFromTable, fromTable);
        for (const Group& row : report.rows)
            QCOMPARE(InOrder(row), Reference(attempts, filter, row.key.toInt()));
        const QByteArray json = ReportPrinter::Json(report, filter);
        if (expected.isEmpty())
            expected = json;
        QVERIFY2(json == expected, form.name);
    }
}

void StationReportTest::terminalTextIsOneShortLine_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("most");
    QTest::addColumn<QString>("shown");

    QTest::newRow("plain") << "timeout on COM4" << 20 << "timeout on COM4";
    QTest::newRow("a colour and a title") << "\x1b[31mred\x1b]0;x\x07" << 20 << "\\x1b[31mred\\x1b]0;x\\x07";
    QTest::newRow("line breaks and a tab") << "a\r\nb\tc" << 20 << "a\\r\\nb\\tc";
    QTest::newRow("DEL and a C1 control") << QString("a\x7f") + QChar(0x9b) << 20 << "a\\x7f\\x9b";
    QTest::newRow("right-to-left override") << QString("ok") + QChar(0x202e) + "gnp" << 20 << "ok\\u202egnp";
    QTest::newRow("just as long as allowed") << "abcde" << 5 << "abcde";
    QTest::newRow("longer") << "abcdefgh" << 5 << "abcde ... (8 characters in all)";
    QTest::newRow("a pair at the cut counts once") << "ab\U0001F600cd" << 3 << "ab\U0001F600 ... (5 characters in all)";
}

void StationReportTest::terminalTextIsOneShortLine()
{
    QFETCH(QString, text);
    QFETCH(int, most);
    QFETCH(QString, shown);
    QCOMPARE(TerminalText::OneLine(text, most), shown);
}

void StationReportTest::textFromTheDatabaseCannotTakeOverTheTerminal()
{
    const QString huge = QString(4 * 1024 * 1024, QLatin1Char('x'));
    QVector<Attempt> attempts = kHandMade;
    attempts.append({kT0 + 4 * kHour, 1, "aaaaaaaaaaaaaaaa", "PASS", "", "\x1b]0;owned\x07" + huge, {{"scan", 50}}});
    History history(QStringLiteral("hostile"));
    QVERIFY(history.Add(attempts));
    QSqlDatabase database = history.Database();
    Report report;
    QString error;
    QVERIFY2(Compute(database, Filter(), report, error), qPrintable(error));
    // A result the station never writes is neither a failure nor a cancel.
    QCOMPARE(Counts(report.station), QStringLiteral("7 2 3 1 h5 0.40/h"));
    QCOMPARE(report.station.unknown, qint64(1));
    QCOMPARE(Find(report.rows, "1")->unknown, qint64(1));

    const QByteArray text = ReportPrinter::Text(report, Filter());
    QVERIFY(text.contains("7 attempts, 2 OK, 3 FAIL, 1 CANL, 1 unknown, yield"));
    QVERIFY(text.contains("1x \\x1b]0;owned\\x07xxx"));
    QVERIFY(text.contains(QByteArray::number(huge.size() + 10) + " characters in all)"));
    QVERIFY2(text.size() < 8000, QByteArray::number(text.size()).constData());
    for (const char c : text)
        QVERIFY(uchar(c) >= 0x20 || c == '\n');
    // The JSON document keeps every text exactly as it was recorded.
    QVERIFY(ReportPrinter::Json(report, Filter()).contains("\\u001b]0;owned\\u0007" + huge.toLatin1()));
}

void StationReportTest::aDamagedDatabaseIsLeftAsItIs_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("message"); // empty when the report reads the database

    QTest::newRow("sound, nobody has it open") << "none" << "";
    QTest::newRow("not a database") << "text" << "not a SQLite database";
    QTest::newRow("empty") << "empty" << "not a SQLite database";
    QTest::newRow("cut inside a page") << "cut" << "ends inside a page";
    QTest::newRow("cut at a page") << "cut at a page" << "malformed";
    QTest::newRow("pages overwritten") << "overwritten" << "malformed";
}

void StationReportTest::aDamagedDatabaseIsLeftAsItIs()
{
    QFETCH(QString, damage);
    QFETCH(QString, message);
    const QString folder = QDir::current().absoluteFilePath(QStringLiteral("damaged"));
    const QString path = StationDatabase::Path(folder);
    qint64 attemptPage = 0; // a page of the attempts themselves, which every report reads
    {
        History history(folder);
        QVERIFY(history.Exec("PRAGMA journal_mode = WAL") && history.Add(Generated()));
        QSqlQuery pages(history.Database());
        QVERIFY(pages.exec("SELECT pageno FROM dbstat WHERE name = 'attempt' AND pagetype = 'leaf' ORDER BY pageno"));
        QList<qint64> leaves;
        while (pages.next())
            leaves << pages.value(0).toLongLong();
        QVERIFY(leaves.size() > 2);
        attemptPage = leaves.at(leaves.size() / 2);
    }
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    const qint64 size = file.size();
    QVERIFY(size > 64 * 1024);
    const bool damaged =
        damage == "none" || (damage == "text" && file.resize(0) && file.write("attempts\n") > 0) ||
        (damage == "empty" && file.resize(0)) || (damage == "cut" && file.resize(size / 2 + 100)) ||
        (damage == "cut at a page" && file.resize(size / 2 / 4096 * 4096)) ||
        (damage == "overwritten" && file.seek((attemptPage - 1) * 4096) && file.write(QByteArray(3 * 4096, '\xa5')) > 0);
    QVERIFY(damaged);
    file.close();

    FILE* out = std::tmpfile();
    FILE* err = std::tmpfile();
    const int code = ReportCommand::Run({"praxilo-cli", "report", "--record", folder}, out, err);
    QByteArray errors(4096, '\0');
    std::rewind(err);
    errors.resize(int(std::fread(errors.data(), 1, size_t(errors.size()), err)));
    std::fclose(out);
    std::fclose(err);
    QCOMPARE(code, message.isEmpty() ? 0 : 2);
    QVERIFY2(errors.contains(message.toUtf8()), errors.constData());
    // Nothing beside it: a read-only connection cannot take away the -wal and -shm files it makes.
    QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{"station.db"});
}

void StationReportTest::okAttemptsAreVerifiedUnverifiedOrNotKnown_data()
{
    QTest::addColumn<bool>("firstVersion");
    QTest::addColumn<QStringList>("updates");
    QTest::addColumn<qint64>("sinceMs");
    QTest::addColumn<qint64>("unverified");
    QTest::addColumn<qint64>("notKnown");

    const QString first = QString::number(kT0);
    // The failed attempts are short of their checks too, and never count.
    const QStringList oneShort{
        "UPDATE attempt SET images_written = 2, verified_images = 0 WHERE result <> 'OK' OR start_ms = " + first,
        "UPDATE attempt SET images_written = 2, verified_images = 2 WHERE result = 'OK' AND start_ms <> " + first};
    // Rows from before the station kept what it checked count apart, never as unverified.
    QTest::newRow("a database from before the fields") << true << QStringList() << qint64(-1) << qint64(0) << qint64(2);
    QTest::newRow("rows written before them") << false << QStringList() << qint64(-1) << qint64(0) << qint64(2);
    QTest::newRow("one of two short") << false << oneShort << qint64(-1) << qint64(1) << qint64(0);
    QTest::newRow("the short one before the selection") << false << oneShort << kT0 + 1 << qint64(0) << qint64(0);
    QTest::newRow("one known, one not") << false << QStringList{oneShort.first()} << kT0 - 1 << qint64(1) << qint64(1);
}

void StationReportTest::okAttemptsAreVerifiedUnverifiedOrNotKnown()
{
    QFETCH(bool, firstVersion);
    QFETCH(QStringList, updates);
    QFETCH(qint64, sinceMs);
    QFETCH(qint64, unverified);
    QFETCH(qint64, notKnown);
    History history(QStringLiteral("verified"), firstVersion);
    QVERIFY(history.Add(kHandMade));
    for (const QString& update : updates)
        QVERIFY(history.Exec(update));
    QSqlDatabase database = history.Database();
    Report report;
    QString error;
    Filter filter;
    filter.sinceMs = sinceMs;
    QVERIFY2(Compute(database, filter, report, error), qPrintable(error));
    QCOMPARE(report.verification.unverified, unverified);
    QCOMPARE(report.verification.notKnown, notKnown);
    // The pass that counts them still reads every other figure.
    QCOMPARE(report.station.ok, sinceMs > kT0 ? qint64(1) : qint64(2));
    const QString verified = QStringLiteral("Verified     %1 OK not verified, %2 OK from before");
    QVERIFY(ReportPrinter::Text(report, filter).contains(verified.arg(unverified).arg(notKnown).toUtf8()));
}

void StationReportTest::oneUnitsHistory_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("printed"); // what the output holds, or the error
    QTest::addColumn<int>("lines");

    QTest::newRow("typed in capitals") << QStringList{"--unit", "BB02"} << 0 << "2 attempts: 2 FAIL" << 4;
    QTest::newRow("one load") << QStringList{"--unit", "bb02", "--load", "aaaaaaaaaaaaaaaa"} << 0
                              << "st  row 1  COM3  load aaaaaaaaaaaaaaaa  FAIL  connect  timeout" << 3;
    QTest::newRow("a unit never seen") << QStringList{"--unit", "ffff"} << 0 << "0 attempts" << 2;
    QTest::newRow("as JSON") << QStringList{"--unit", "aa01", "--json"} << 0 << "\"unit\": \"aa01\"" << -1;
    QTest::newRow("not hexadecimal") << QStringList{"--unit", "COM3"} << 2 << "is not a unit id" << 0;
}

void StationReportTest::oneUnitsHistory()
{
    QFETCH(QStringList, options);
    QFETCH(int, code);
    QFETCH(QString, printed);
    QFETCH(int, lines);
    const QString folder = QDir::current().absoluteFilePath(QStringLiteral("unit"));
    {
        History history(QStringLiteral("unit"));
        QVERIFY(history.Add(kHandMade));
    }
    FILE* out = std::tmpfile();
    FILE* err = std::tmpfile();
    QCOMPARE(ReportCommand::Run(QStringList{"praxilo-cli", "report", "--record", folder} + options, out, err),
             code);
    QByteArray text(65536, '\0');
    FILE* read = code == 0 ? out : err;
    std::rewind(read);
    text.resize(int(std::fread(text.data(), 1, size_t(text.size()), read)));
    std::fclose(out);
    std::fclose(err);
    QVERIFY2(text.contains(printed.toUtf8()), text.constData());
    if (lines >= 0 && code == 0)
        QCOMPARE(text.count('\n'), lines);
}

QTEST_GUILESS_MAIN(StationReportTest)
#include "tst_StationReport.moc"
