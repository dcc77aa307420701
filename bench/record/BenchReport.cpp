// The report over a busy station's year: 2 million attempts on 16 rows, seven stages each, in the writer's
// schema. Prints how long generating took and each report's wall and CPU time beside those of the bare count of the
// same selection's attempts per port, reading the table without an index as the report does, in the same process
// and on the same connection, the two taking turns at going first; then what the start's integrity check, the
// operator's full check and a rebuild of the whole year cost; asserts nothing.
//   bench_report [attempts, default 2000000] [database folder, default a temporary one] [v1]
// With v1 a new database's attempt rows lack their stages, as the first version of the writer left them, so
// the report reads table stage instead.
#include "record/JournalCheck.h"
#include "record/JournalRebuild.h"
#include "record/SqliteScan.h"
#include "record/StationReport.h"
#include "record/StageTimes.h"
#include "record/StationDatabase.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QVariant>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

const char* const kStages[] = {"scan",  "connect",  "enter-mode", "authentication",
                               "erase", "download", "verify"};
const char* const kErrors[] = {"timeout waiting for the device", "checksum mismatch in partition",
                               "link lost"};

bool Generate(QSqlDatabase& database, qint64 attempts, bool firstVersion)
{
    if (StationDatabase::CreateSchema(database).isValid() || !database.transaction())
        return false;
    QSqlQuery attempt(database);
    QSqlQuery stage(database);
    attempt.prepare(
        QStringLiteral("INSERT INTO attempt (id, start_ms, end_ms, row, port, device, scene, checksum_level, "
                       "flash_xml, load_digest,"
                       " result, failed_stage, error, stage_ms, poll, operator, work_order, station,"
                       " tool_version) VALUES (?, ?, ?, ?, ?, ?, 'format-download', 2, 'C:/loads/flash.xml',"
                       " ?, ?, ?, ?, ?, 1, 'op', 'WO-1', 'st', 'v')"));
    stage.prepare(QStringLiteral("INSERT INTO stage (attempt, stage, ms) VALUES (?, ?, ?)"));
    for (int s = 0; s < 7; ++s) {
        if (!QSqlQuery(database).exec(QStringLiteral("INSERT INTO stage_name (id, name) VALUES (%1, '%2')")
                                          .arg(s + 1)
                                          .arg(QLatin1String(kStages[s]))))
            return false;
    }
    std::vector<std::pair<qint64, qint64>> stageMs;
    QRandomGenerator random(7);
    const qint64 year = qint64(365) * 24 * 3600 * 1000;
    const qint64 start = QDateTime(QDate(2023, 1, 1), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
    const QString loads[] = {QStringLiteral("0123456789abcdef"), QStringLiteral("fedcba9876543210"),
                             QStringLiteral("00112233445566ff")};
    for (qint64 id = 1; id <= attempts; ++id) {
        const int row = int(id % 16) + 1;
        const int dice = int(random.bounded(1000));
        const bool fail = dice < (row == 7 ? 150 : 20);
        const bool canl = !fail && dice > 995;
        const int failedAt = fail ? int(random.bounded(7)) : 7;
        const qint64 at = start + id * (year / attempts);
        stageMs.clear();
        for (int s = 0; s < 7 && s <= failedAt; ++s)
            stageMs.emplace_back(s + 1, int(random.bounded(50, 5000)));
        const QVariantList values{id,
                                  at,
                                  at + 30000,
                                  row,
                                  QStringLiteral("COM%1").arg(row + 2),
                                  QStringLiteral("DEV%1").arg(id),
                                  loads[(id / 100000) % 3],
                                  fail   ? "FAIL"
                                  : canl ? "CANL"
                                         : "OK",
                                  fail ? kStages[failedAt] : "",
                                  fail   ? kErrors[id % 3]
                                  : canl ? "stopped"
                                         : "",
                                  firstVersion ? QVariant() : QVariant(StageTimes::Encode(stageMs))};
        for (int i = 0; i < values.size(); ++i)
            attempt.bindValue(i, values[i]);
        if (!attempt.exec())
            return false;
        for (const auto& [number, ms] : stageMs) {
            stage.bindValue(0, id);
            stage.bindValue(1, QString::fromLatin1(kStages[number - 1]));
            stage.bindValue(2, ms);
            if (!stage.exec())
                return false;
        }
    }
    return database.commit();
}

double Seconds(QElapsedTimer& timer)
{
    return double(timer.nsecsElapsed()) / 1e9;
}

// The process's CPU time: on a machine shared with other work the wall time also holds the waits for a core.
double CpuSeconds()
{
    return double(std::clock()) / CLOCKS_PER_SEC;
}

// What a query of SQLite alone costs for the selection: one pass over the table, one small group per port.
bool CountPerPort(QSqlDatabase& database, const StationReport::Filter& filter, qint64& counted)
{
    SqliteScan scan(database, "SELECT port, count(*) FROM attempt NOT INDEXED" +
                                  StationReport::WhereClause(filter) + " GROUP BY port");
    StationReport::Bind(scan, filter);
    counted = 0;
    while (scan.Next())
        counted += scan.Int(1);
    if (!scan.Error().isEmpty())
        std::fprintf(stderr, "count failed: %s\n", qPrintable(scan.Error()));
    return scan.Error().isEmpty();
}

// Min, median and max.
QByteArray Spread(std::vector<double> values, int decimals)
{
    std::sort(values.begin(), values.end());
    return QByteArray::number(values.front(), 'f', decimals) + " / " +
           QByteArray::number(values[values.size() / 2], 'f', decimals) + " / " +
           QByteArray::number(values.back(), 'f', decimals);
}

} // namespace

constexpr int kRounds = 5;

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const qint64 attempts = argc > 1 ? QString::fromLocal8Bit(argv[1]).toLongLong() : 2000000;
    QTemporaryDir temporary;
    const QString folder = argc > 2 ? QString::fromLocal8Bit(argv[2]) : temporary.path();
    QDir().mkpath(folder);
    const QString path = StationDatabase::Path(folder);
    const bool existed = QFileInfo::exists(path);
    {
        QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench"));
        database.setDatabaseName(path);
        if (!database.open()) {
            std::fprintf(stderr, "cannot open %s\n", qPrintable(path));
            return 1;
        }
        QElapsedTimer timer;
        timer.start();
        if (!existed) {
            QSqlQuery(database).exec(QStringLiteral("PRAGMA journal_mode = WAL"));
            if (!Generate(database, attempts, argc > 3 && qstrcmp(argv[3], "v1") == 0)) {
                std::fprintf(stderr, "generating failed: %s\n", qPrintable(database.lastError().text()));
                return 1;
            }
            std::printf("generated %lld attempts in %.1f s, %.0f MB\n", static_cast<long long>(attempts),
                        Seconds(timer), double(QFileInfo(path).size()) / 1e6);
        }
        const qint64 lastMonth = QDateTime(QDate(2023, 12, 1), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
        const struct
        {
            const char* name;
            StationReport::Filter filter;
        } cases[] = {{"the whole year", {}},
                     {"the last month", {lastMonth, -1, QString()}},
                     {"one load", {-1, -1, QStringLiteral("fedcba9876543210")}}};
        std::printf("min / median / max of %d rounds; the ratios are each round's report over its count, of the wall "
                    "and of the process's CPU time\n",
                    kRounds);
        for (const auto& c : cases) {
            std::vector<double> times;
            std::vector<double> counts;
            std::vector<double> ratios;
            std::vector<double> cpuRatios;
            qint64 counted = 0;
            for (int round = 0; round < kRounds; ++round) {
                double reportTime = 0;
                double countTime = 0;
                double reportCpu = 0;
                double countCpu = 0;
                for (int turn = 0; turn < 2; ++turn) {
                    timer.restart();
                    const double cpu = CpuSeconds();
                    if ((turn + round) % 2 == 0) {
                        StationReport::Report report;
                        QString error;
                        if (!StationReport::Compute(database, c.filter, report, error)) {
                            std::fprintf(stderr, "report failed: %s\n", qPrintable(error));
                            return 1;
                        }
                        reportTime = Seconds(timer);
                        reportCpu = CpuSeconds() - cpu;
                        counted = report.station.attempts;
                    } else {
                        qint64 perPort = 0;
                        if (!CountPerPort(database, c.filter, perPort))
                            return 1;
                        countTime = Seconds(timer);
                        countCpu = CpuSeconds() - cpu;
                    }
                }
                times.push_back(reportTime);
                counts.push_back(countTime);
                ratios.push_back(reportTime / countTime);
                cpuRatios.push_back(reportCpu / countCpu);
            }
            std::printf("%-16s %8lld attempts: report %s s, count %s s, ratio %s, of CPU time %s\n", c.name,
                        static_cast<long long>(counted), Spread(times, 3).constData(),
                        Spread(counts, 3).constData(), Spread(ratios, 2).constData(),
                        Spread(cpuRatios, 2).constData());
        }
        const struct
        {
            const char* name;
            JournalCheck::Depth depth;
        } checks[] = {{"quick_check", JournalCheck::Depth::Quick}, {"integrity_check", JournalCheck::Depth::Full}};
        for (const auto& check : checks) {
            std::vector<double> times;
            QString findings;
            for (int round = 0; round < 3; ++round) {
                timer.restart();
                if (JournalCheck::Run(database, check.depth, findings) != JournalCheck::Verdict::Sound) {
                    std::fprintf(stderr, "%s failed: %s\n", check.name, qPrintable(findings));
                    return 1;
                }
                times.push_back(Seconds(timer));
            }
            std::sort(times.begin(), times.end());
            std::printf("%-16s best %.3f s, median %.3f s\n", check.name, times.front(), times[1]);
        }
    }
    {
        // Every row copied from a file that reads: the most a rebuild has to do, the day files aside.
        const QString target = folder + QStringLiteral("/rebuilt.db");
        QFile::remove(target);
        JournalRebuild rebuild(folder + QStringLiteral("/no-day-files"), {QStringLiteral("st"), QStringLiteral("v")},
                               nullptr);
        JournalRebuild::Outcome outcome;
        QString error;
        QElapsedTimer timer;
        timer.start();
        if (!rebuild.Build(path, target, outcome, error)) {
            std::fprintf(stderr, "rebuild failed: %s\n", qPrintable(error));
            return 1;
        }
        std::printf("rebuild          %.1f s: %s\n", Seconds(timer), qPrintable(outcome.Summary()));
        QFile::remove(target);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench"));
    return 0;
}
