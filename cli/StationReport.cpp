#include "cli/StationReport.h"

#include "cli/SqliteScan.h"

#include <QHash>
#include <QMap>
#include <QSqlDatabase>

#include <algorithm>
#include <limits>
#include <map>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace StationReport {

namespace {

constexpr qint64 kHourMs = 3600 * 1000;

// What one group gathers while the attempts stream past.
struct Tally
{
    explicit Tally(const QString& key) : key(key) {}

    QString key;
    qint64 attempts = 0;
    qint64 ok = 0;
    qint64 fail = 0;
    qint64 canl = 0;
    QHash<QString, qint64> errors;
    std::unordered_set<qint64> hours;
    std::map<int, std::vector<qint32>> stageMs; // by stage number
};

// Attempts that share row, port, load, result and failed stage: the unit the scans count in, merged into
// the groups of each dimension at the end, so that each attempt costs one lookup instead of one per group.
struct Combination
{
    Combination(const QString& row, const QString& port, const QString& load, const QString& result,
                const QString& failedStage)
        : row(row), port(port), load(load), result(result), failedStage(failedStage)
    {
    }

    QString row;
    QString port;
    QString load;
    QString result;
    QString failedStage;
    Tally tally{QString()};
    std::unordered_map<std::string, qint64> errors; // raw text while scanning
    qint64 lastHour = -1;
};

QString FromUtf8(std::string_view text)
{
    return QString::fromUtf8(text.data(), int(text.size()));
}

QByteArray WhereClause(const Filter& filter)
{
    QByteArrayList terms;
    if (filter.sinceMs >= 0)
        terms << "start_ms >= :since";
    if (filter.untilMs >= 0)
        terms << "start_ms < :until";
    if (!filter.load.isEmpty())
        terms << "load_digest = :load";
    return terms.isEmpty() ? QByteArray() : " WHERE " + terms.join(" AND ");
}

void Bind(SqliteScan& scan, const Filter& filter)
{
    if (filter.sinceMs >= 0)
        scan.Bind(":since", filter.sinceMs);
    if (filter.untilMs >= 0)
        scan.Bind(":until", filter.untilMs);
    if (!filter.load.isEmpty())
        scan.Bind(":load", filter.load.toUtf8());
}

void Count(Combination& combination, std::string_view error, qint64 hour)
{
    Tally& tally = combination.tally;
    ++tally.attempts;
    const bool ok = combination.result == QLatin1String("OK");
    if (ok)
        ++tally.ok;
    else if (combination.result == QLatin1String("CANL"))
        ++tally.canl;
    else
        ++tally.fail;
    if (!ok && !error.empty())
        ++combination.errors[std::string(error)];
    // Attempts come in the order they were written, so an hour mostly repeats the last one.
    if (hour != combination.lastHour) {
        tally.hours.insert(hour);
        combination.lastHour = hour;
    }
}

Group Figures(Tally& tally, const QStringList& stageNames)
{
    Group group;
    group.key = tally.key;
    group.attempts = tally.attempts;
    group.ok = tally.ok;
    group.fail = tally.fail;
    group.canl = tally.canl;
    group.yield = tally.attempts > 0 ? double(tally.ok) / double(tally.attempts) : 0;
    group.failureRate = tally.attempts > 0 ? double(tally.fail) / double(tally.attempts) : 0;
    group.activeHours = qint64(tally.hours.size());
    group.devicesPerHour = group.activeHours > 0 ? double(tally.ok) / double(group.activeHours) : 0;
    for (auto& [stage, values] : tally.stageMs) {
        const auto middle = values.begin() + (values.size() - 1) / 2;
        std::nth_element(values.begin(), middle, values.end());
        const qint64 median = *middle;
        const qint64 slowest = *std::max_element(middle, values.end());
        group.stages.append({stageNames.value(stage), median, slowest});
    }
    QVector<QPair<QString, qint64>> errors;
    for (auto it = tally.errors.constBegin(); it != tally.errors.constEnd(); ++it)
        errors.append({it.key(), it.value()});
    // Ties go to the text that sorts first, so that the same history always reads the same.
    std::sort(errors.begin(), errors.end(), [](const auto& a, const auto& b) {
        return a.second != b.second ? a.second > b.second : a.first < b.first;
    });
    group.errors = errors.mid(0, kTopErrors);
    return group;
}

void Merge(Tally& into, const Tally& from)
{
    into.attempts += from.attempts;
    into.ok += from.ok;
    into.fail += from.fail;
    into.canl += from.canl;
    for (auto it = from.errors.constBegin(); it != from.errors.constEnd(); ++it)
        into.errors[it.key()] += it.value();
    into.hours.insert(from.hours.begin(), from.hours.end());
    for (const auto& [stage, values] : from.stageMs) {
        std::vector<qint32>& target = into.stageMs[stage];
        target.insert(target.end(), values.begin(), values.end());
    }
}

// The figures of every group of one dimension, merged from the combinations the key function maps to it;
// a combination it maps to a null key belongs to no group.
template <typename KeyOf>
QVector<Group> Dimension(const std::vector<Combination>& combinations, const QStringList& stageNames,
                         KeyOf keyOf)
{
    QMap<QString, std::vector<const Combination*>> members;
    for (const Combination& combination : combinations) {
        const QString key = keyOf(combination);
        if (!key.isNull())
            members[key].push_back(&combination);
    }
    QVector<Group> groups;
    for (auto it = members.constBegin(); it != members.constEnd(); ++it) {
        Tally tally(it.key());
        for (const Combination* combination : it.value())
            Merge(tally, combination->tally);
        groups.append(Figures(tally, stageNames));
    }
    return groups;
}

// Reads the selected attempts into combinations; ids holds each one's id and combination.
bool ScanAttempts(const QSqlDatabase& database, const Filter& filter, std::vector<Combination>& combinations,
                  std::vector<std::pair<qint64, int>>& ids, QString& error)
{
    SqliteScan scan(database,
                    "SELECT id, row, port, load_digest, result, failed_stage, error, start_ms FROM attempt" +
                        WhereClause(filter));
    Bind(scan, filter);
    std::unordered_map<std::string, int> index;
    std::string key;
    while (scan.Next()) {
        key.clear();
        for (int column = 1; column <= 5; ++column)
            key.append(scan.Text(column)).push_back('\0');
        auto found = index.find(key);
        if (found == index.end()) {
            found = index.emplace(key, int(combinations.size())).first;
            combinations.emplace_back(FromUtf8(scan.Text(1)), FromUtf8(scan.Text(2)), FromUtf8(scan.Text(3)),
                                      FromUtf8(scan.Text(4)), FromUtf8(scan.Text(5)));
        }
        Count(combinations[size_t(found->second)], scan.Text(6), scan.Int(7) / kHourMs);
        ids.emplace_back(scan.Int(0), found->second);
    }
    error = scan.Error();
    for (Combination& combination : combinations) {
        for (const auto& [text, count] : combination.errors)
            combination.tally.errors.insert(FromUtf8(text), count);
        combination.errors.clear();
    }
    return error.isEmpty();
}

// Adds every stage of the selected attempts to their combinations; stageNames gets each stage's name.
bool ScanStages(const QSqlDatabase& database, std::vector<std::pair<qint64, int>> ids,
                std::vector<Combination>& combinations, QStringList& stageNames, QString& error)
{
    if (ids.empty())
        return true;
    qint64 first = ids.front().first;
    qint64 last = first;
    for (const auto& id : ids) {
        first = qMin(first, id.first);
        last = qMax(last, id.first);
    }
    std::vector<int> combinationOf(size_t(last - first + 1), -1);
    for (const auto& id : ids)
        combinationOf[size_t(id.first - first)] = id.second;
    // Through the index only when the selection is a small part of the history; reading the table in its own
    // order beats the index's lookups otherwise.
    qint64 all = 0;
    {
        SqliteScan count(database, "SELECT max(id) FROM attempt");
        if (count.Next())
            all = count.Int(0);
    }
    SqliteScan scan(database,
                    (last - first + 1) * 4 < all
                        ? "SELECT attempt, stage, ms FROM stage WHERE attempt BETWEEN :first AND :last"
                        : "SELECT attempt, stage, ms FROM stage");
    if ((last - first + 1) * 4 < all) {
        scan.Bind(":first", first);
        scan.Bind(":last", last);
    }
    std::vector<std::string> names;
    while (scan.Next()) {
        const qint64 id = scan.Int(0);
        if (id < first || id > last || combinationOf[size_t(id - first)] < 0)
            continue;
        const std::string_view name = scan.Text(1);
        size_t stage = 0;
        while (stage < names.size() && names[stage] != name)
            ++stage;
        if (stage == names.size()) {
            names.emplace_back(name);
            stageNames << FromUtf8(name);
        }
        const qint32 ms = qint32(qMin<qint64>(scan.Int(2), std::numeric_limits<qint32>::max()));
        combinations[size_t(combinationOf[size_t(id - first)])].tally.stageMs[int(stage)].push_back(ms);
    }
    error = scan.Error();
    return error.isEmpty();
}

} // namespace

bool Compute(QSqlDatabase& database, const Filter& filter, Report& report, QString& error)
{
    std::vector<Combination> combinations;
    std::vector<std::pair<qint64, int>> ids;
    QStringList stageNames;
    if (!ScanAttempts(database, filter, combinations, ids, error) ||
        !ScanStages(database, std::move(ids), combinations, stageNames, error))
        return false;

    const QVector<Group> station =
        Dimension(combinations, stageNames, [](const Combination&) { return QStringLiteral("station"); });
    Tally nothing(QStringLiteral("station"));
    report.station = station.isEmpty() ? Figures(nothing, stageNames) : station.first();
    report.rows = Dimension(combinations, stageNames, [](const Combination& c) { return c.row; });
    std::sort(report.rows.begin(), report.rows.end(),
              [](const Group& a, const Group& b) { return a.key.toInt() < b.key.toInt(); });
    report.ports = Dimension(combinations, stageNames, [](const Combination& c) { return c.port; });
    report.loads = Dimension(combinations, stageNames, [](const Combination& c) { return c.load; });
    report.failedStages = Dimension(combinations, stageNames, [](const Combination& c) {
        // Null keeps the others out; empty is a failure that named no stage.
        return c.result != QLatin1String("FAIL") ? QString()
               : c.failedStage.isNull()          ? QStringLiteral("")
                                                 : c.failedStage;
    });
    FlagOutliers(report.rows);
    return true;
}

void FlagOutliers(QVector<Group>& rows)
{
    std::vector<double> rates;
    for (const Group& row : rows) {
        if (row.attempts > 0)
            rates.push_back(row.failureRate);
    }
    if (rates.empty())
        return;
    std::sort(rates.begin(), rates.end());
    const size_t half = rates.size() / 2;
    const double median = rates.size() % 2 ? rates[half] : (rates[half - 1] + rates[half]) / 2;
    for (Group& row : rows) {
        if (row.attempts >= kOutlierMinAttempts && row.failureRate > kOutlierFactor * median &&
            row.failureRate > median + kOutlierMargin) {
            row.hint = QStringLiteral("check the cable or hub of row %1").arg(row.key);
        }
    }
}

} // namespace StationReport
