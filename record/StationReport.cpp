#include "record/StationReport.h"

#include "record/DatabaseColumns.h"
#include "record/FailureOutliers.h"
#include "record/RecordFields.h"
#include "record/SqliteScan.h"
#include "record/StageFigures.h"
#include "record/StageTimes.h"
#include "record/UnitHistory.h"
#include "record/VerifiedCount.h"

#include <QByteArrayList>
#include <QHash>
#include <QMap>
#include <QSqlDatabase>

#include <algorithm>
#include <array>
#include <bitset>
#include <charconv>
#include <limits>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace StationReport {

namespace {

constexpr qint64 kHourMs = 3600 * 1000;

// What one group gathers while the attempts stream past, but for its stage times.
struct Tally
{
    explicit Tally(const QString& key) : key(key) {}

    QString key;
    qint64 attempts = 0;
    qint64 ok = 0;
    qint64 fail = 0;
    qint64 canl = 0;
    qint64 unknown = 0;
    QHash<QString, qint64> errors;
    std::vector<qint64> hours; // clock hours since the epoch, ascending, each once
};

// Attempts that share row, port, load, result and failed stage: the unit the scans count in, merged into
// the groups of each dimension at the end, so that each attempt costs one lookup instead of one per group.
struct Combination
{
    Combination(const QString& row, const QString& port, const QString& load, const QString& result,
                const QString& failedStage)
        : row(row), port(port), load(load), result(result), failedStage(failedStage),
          ok(result == QLatin1String("OK")), fail(result == QLatin1String("FAIL")),
          canl(result == QLatin1String("CANL"))
    {
    }

    QString row;
    QString port;
    QString load;
    QString result;
    QString failedStage;
    bool ok;
    bool fail;
    bool canl;
    Tally tally{QString()};
    std::unordered_map<std::string, qint64> errors; // raw text while scanning
    qint64 lastHour = -1;
    std::vector<StageSeries> stages; // by StageIndex
};

// The stage table holds 64-bit milliseconds; the report has always counted in 32 bits.
qint32 Clamped(qint64 ms)
{
    return qint32(qMin<qint64>(ms, std::numeric_limits<qint32>::max()));
}

QString FromUtf8(std::string_view text)
{
    return StageIndex::FromUtf8(text);
}

// The columns ScanAttempts reads, in this order, each by the record field it holds; the five from row to
// failed stage make an attempt's combination. The last two are VerifiedCount's.
constexpr const char* kScanFields[] = {"row",   "port",  "loadDigest", "result",        "failedStage",
                                       "error", "start", "stages",     "imagesWritten", "verifiedImages"};
enum ScanColumn
{
    kId,
    kRow,
    kPort,
    kLoad,
    kResult,
    kFailedStage,
    kError,
    kStart,
    kStages,
    kImagesWritten,
    kVerifiedImages,
};
static_assert(std::size(kScanFields) == kVerifiedImages, "one field for each column after the id");
static_assert(std::string_view(kScanFields[kImagesWritten - 1]) == VerifiedCount::kFields[0] &&
                  std::string_view(kScanFields[kVerifiedImages - 1]) == VerifiedCount::kFields[1],
              "the verification's fields where VerifiedCount::Add reads them");
constexpr int kCombinationColumns = kFailedStage - kRow + 1;
// The texts besides the row that a row's next attempt is matched by.
constexpr int kRecentTexts = kCombinationColumns - 1;

// Every figure but the units' (read through their own index) comes from this one pass over the selection: a
// second statement over the attempts would read the whole table again, at the cost of the scan itself.
QByteArray ScanStatement(const Filter& filter, bool stageColumn, bool verifiedColumns)
{
    QByteArrayList columns{"id"};
    for (const char* field : kScanFields)
        columns << RecordFields::SqlColumn(field);
    // A database of the first version has no stages in its rows, and one from before the station kept what it
    // checked no verification: NULL in their place keeps every column where it is.
    if (!stageColumn)
        columns[kStages] = "NULL";
    if (!verifiedColumns)
        columns[kImagesWritten] = columns[kVerifiedImages] = "NULL";
    return "SELECT " + columns.join(", ") + " FROM attempt" + WhereClause(filter);
}

void Count(Combination& combination, std::string_view error, qint64 hour)
{
    Tally& tally = combination.tally;
    ++tally.attempts;
    const bool ok = combination.ok;
    if (ok)
        ++tally.ok;
    else if (combination.fail)
        ++tally.fail;
    else if (combination.canl)
        ++tally.canl;
    else
        ++tally.unknown;
    if (!ok && !error.empty())
        ++combination.errors[std::string(error)];
    // Attempts come in the order they were written, so an hour mostly repeats the last one.
    if (hour != combination.lastHour) {
        tally.hours.push_back(hour);
        combination.lastHour = hour;
    }
}

// The clock hours of every member together, counted in a bitmap over the span of the whole selection when
// that is of a sensible size, which spares a set or a sort per group.
class Hours
{
public:
    explicit Hours(const std::vector<Combination>& combinations)
    {
        for (const Combination& combination : combinations) {
            if (!combination.tally.hours.empty()) {
                first = qMin(first, combination.tally.hours.front());
                last = qMax(last, combination.tally.hours.back());
            }
        }
        bitmap = first <= last && last - first < kMostBits;
    }

    qint64 Count(const std::vector<const Combination*>& members) const
    {
        if (bitmap) {
            std::vector<uint64_t> bits(size_t((last - first) / 64 + 1));
            for (const Combination* member : members) {
                for (const qint64 hour : member->tally.hours)
                    bits[size_t((hour - first) / 64)] |= uint64_t(1) << ((hour - first) % 64);
            }
            qint64 count = 0;
            for (const uint64_t word : bits)
                count += std::bitset<64>(word).count();
            return count;
        }
        std::vector<qint64> all;
        for (const Combination* member : members)
            all.insert(all.end(), member->tally.hours.begin(), member->tally.hours.end());
        std::sort(all.begin(), all.end());
        return qint64(std::unique(all.begin(), all.end()) - all.begin());
    }

private:
    static constexpr qint64 kMostBits = qint64(1) << 24;

    qint64 first = std::numeric_limits<qint64>::max();
    qint64 last = std::numeric_limits<qint64>::min();
    bool bitmap = false;
};

void Add(Combination& combination, int stage, qint32 ms)
{
    if (size_t(stage) >= combination.stages.size())
        combination.stages.resize(size_t(stage) + 1);
    combination.stages[size_t(stage)].Add(ms);
}

Group Figures(const Tally& tally, const std::vector<const Combination*>& members, const Hours& hours,
              const StageIndex& stages, const std::vector<int>& stageOrder)
{
    Group group;
    group.key = tally.key;
    group.attempts = tally.attempts;
    group.ok = tally.ok;
    group.fail = tally.fail;
    group.canl = tally.canl;
    group.unknown = tally.unknown;
    group.yield = tally.attempts > 0 ? double(tally.ok) / double(tally.attempts) : 0;
    group.failureRate = tally.attempts > 0 ? double(tally.fail) / double(tally.attempts) : 0;
    group.activeHours = hours.Count(members);
    group.devicesPerHour = group.activeHours > 0 ? double(tally.ok) / double(group.activeHours) : 0;
    std::vector<const StageSeries*> series;
    for (const int stage : stageOrder) {
        series.clear();
        for (const Combination* member : members) {
            if (size_t(stage) < member->stages.size() && !member->stages[size_t(stage)].values.empty())
                series.push_back(&member->stages[size_t(stage)]);
        }
        if (series.empty())
            continue;
        const auto [median, slowest] = LowerMedianAndMost(series);
        group.stages.append({stages.Name(stage), median, slowest});
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
    into.unknown += from.unknown;
    for (auto it = from.errors.constBegin(); it != from.errors.constEnd(); ++it)
        into.errors[it.key()] += it.value();
}

// The figures of every group of one dimension, merged from the combinations the key function maps to it;
// a combination it maps to a null key belongs to no group.
template <typename KeyOf>
QVector<Group> Dimension(const std::vector<Combination>& combinations, const Hours& hours,
                         const StageIndex& stages, const std::vector<int>& stageOrder, KeyOf keyOf)
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
        groups.append(Figures(tally, it.value(), hours, stages, stageOrder));
    }
    return groups;
}

// Short texts compare faster in a loop than through a call to memcmp.
bool Same(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i])
            return false;
    }
    return true;
}

// The distinct texts of one column, numbered as they come, so that an attempt's combination is found by
// five small numbers instead of its texts; most attempts repeat the previous one's text.
class Column
{
public:
    int Of(std::string_view text)
    {
        if (last >= 0 && Same(texts[size_t(last)], text))
            return last;
        scratch.assign(text.data(), text.size());
        auto found = numbers.find(scratch);
        if (found == numbers.end()) {
            found = numbers.emplace(scratch, int(texts.size())).first;
            texts.push_back(scratch);
        }
        return last = found->second;
    }

private:
    std::vector<std::string> texts;
    std::unordered_map<std::string, int> numbers;
    std::string scratch;
    int last = -1;
};

// The last combination of each row number and the texts that led to it: a row mostly flashes the same
// load through the same port with the same result, so most attempts are matched without a lookup.
class RecentByRow
{
public:
    // -1 when the row's last attempt differed in any of the texts, or the row is not a small number.
    int Find(qint64 row, const std::string_view (&texts)[kRecentTexts]) const
    {
        if (row < 0 || row >= qint64(recent.size()) || recent[size_t(row)].combination < 0)
            return -1;
        const Recent& last = recent[size_t(row)];
        for (int i = 0; i < kRecentTexts; ++i) {
            if (!Same(last.texts[i], texts[i]))
                return -1;
        }
        return last.combination;
    }

    void Keep(qint64 row, const std::string_view (&texts)[kRecentTexts], int combination)
    {
        if (row < 0 || row >= kRows)
            return;
        if (row >= qint64(recent.size()))
            recent.resize(size_t(row) + 1);
        Recent& last = recent[size_t(row)];
        for (int i = 0; i < kRecentTexts; ++i)
            last.texts[i].assign(texts[i].data(), texts[i].size());
        last.combination = combination;
    }

private:
    static constexpr qint64 kRows = 4096;

    struct Recent
    {
        std::string texts[kRecentTexts];
        int combination = -1;
    };
    std::vector<Recent> recent;
};

struct ColumnsHash
{
    size_t operator()(const std::array<int, kCombinationColumns>& numbers) const
    {
        size_t hash = 0;
        for (const int number : numbers)
            hash = hash * 1000003u ^ size_t(number);
        return hash;
    }
};

// Whether the attempts carry their stages in their own rows, as the writer's second version stores them,
// with the table that names their numbers.
bool HasStageColumn(const DatabaseColumns& columns)
{
    return columns.Has({"stages"}) && columns.HasTable(QStringLiteral("stage_name"));
}

// Names the stage numbers the attempts' rows use.
bool ReadStageNumbers(const QSqlDatabase& database, StageIndex& stages, QString& error)
{
    SqliteScan scan(database, "SELECT id, name FROM stage_name");
    while (scan.Next())
        stages.Number(scan.Int(0), scan.Text(1));
    error = scan.Error();
    return error.isEmpty();
}

// Reads the selected attempts into combinations, with the stages their rows carry; unread holds each
// attempt whose stages are only in table stage, with its combination; verification counts the OK attempts
// by what was checked of them.
bool ScanAttempts(const QSqlDatabase& database, const Filter& filter, bool stageColumn, bool verifiedColumns,
                  std::vector<Combination>& combinations, StageIndex& stages,
                  std::vector<std::pair<qint64, int>>& unread, Verification& verification, QString& error)
{
    verification = Verification();
    SqliteScan scan(database, ScanStatement(filter, stageColumn, verifiedColumns));
    Bind(scan, filter);
    Column columns[kCombinationColumns];
    std::unordered_map<std::array<int, kCombinationColumns>, int, ColumnsHash> index;
    RecentByRow recent;
    std::vector<std::pair<int, qint32>> decoded;
    char rowText[24];
    while (scan.Next()) {
        // The row is an INTEGER column, whose text SQLite would make in a buffer of its own for each attempt;
        // the same decimal digits, made here.
        std::string_view row;
        qint64 rowNumber = -1;
        if (scan.IsInteger(kRow)) {
            rowNumber = scan.Int(kRow);
            const auto made = std::to_chars(std::begin(rowText), std::end(rowText), rowNumber);
            row = std::string_view(rowText, size_t(made.ptr - rowText));
        } else {
            row = scan.Text(kRow);
        }
        const std::string_view texts[kRecentTexts]{scan.Text(kPort), scan.Text(kLoad), scan.Text(kResult),
                                                   scan.Text(kFailedStage)};
        int at = recent.Find(rowNumber, texts);
        if (at < 0) {
            const std::array<int, kCombinationColumns> key{columns[0].Of(row), columns[1].Of(texts[0]),
                                                           columns[2].Of(texts[1]), columns[3].Of(texts[2]),
                                                           columns[4].Of(texts[3])};
            auto found = index.find(key);
            if (found == index.end()) {
                found = index.emplace(key, int(combinations.size())).first;
                combinations.emplace_back(FromUtf8(row), FromUtf8(texts[0]), FromUtf8(texts[1]),
                                          FromUtf8(texts[2]), FromUtf8(texts[3]));
            }
            at = found->second;
            recent.Keep(rowNumber, texts, at);
        }
        Combination& combination = combinations[size_t(at)];
        // Only attempts that did not end OK count their error, so an OK attempt's is not fetched.
        Count(combination, combination.ok ? std::string_view() : scan.Text(kError),
              scan.Int(kStart) / kHourMs);
        if (combination.ok)
            VerifiedCount::Add(scan, kImagesWritten, verification);
        const qint64 id = scan.Int(kId);
        // Decoded whole before any is counted, so that a row that cannot be read counts from table stage
        // alone.
        decoded.clear();
        // NULL reads as no bytes, which no layout is.
        const auto blob = stageColumn ? scan.Blob(kStages) : std::basic_string_view<unsigned char>();
        const bool read = StageTimes::Decode(blob.data(), blob.size(), [&](qint64 number, qint64 ms) {
            decoded.emplace_back(stages.OfNumber(number), Clamped(ms));
        });
        if (!read || std::any_of(decoded.begin(), decoded.end(), [](const auto& d) { return d.first < 0; })) {
            unread.emplace_back(id, at);
            continue;
        }
        for (size_t place = 0; place < decoded.size(); ++place) {
            stages.Seen(decoded[place].first, id, qint64(place));
            Add(combination, decoded[place].first, decoded[place].second);
        }
    }
    error = scan.Error();
    for (Combination& combination : combinations) {
        for (const auto& [text, count] : combination.errors)
            combination.tally.errors.insert(FromUtf8(text), count);
        combination.errors.clear();
        std::vector<qint64>& hours = combination.tally.hours;
        std::sort(hours.begin(), hours.end());
        hours.erase(std::unique(hours.begin(), hours.end()), hours.end());
    }
    return error.isEmpty();
}

// Adds the stages of the given attempts from table stage to their combinations.
bool ScanStages(const QSqlDatabase& database, const std::vector<std::pair<qint64, int>>& ids,
                std::vector<Combination>& combinations, StageIndex& stages, QString& error)
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
    // Either way an attempt's stages come in the order they were written, which is their place.
    qint64 place = 0;
    while (scan.Next()) {
        const qint64 id = scan.Int(0);
        if (id < first || id > last || combinationOf[size_t(id - first)] < 0)
            continue;
        const int stage = stages.Of(scan.Text(1));
        stages.Seen(stage, id, place++);
        Add(combinations[size_t(combinationOf[size_t(id - first)])], stage, Clamped(scan.Int(2)));
    }
    error = scan.Error();
    return error.isEmpty();
}

} // namespace

QByteArray WhereClause(const Filter& filter, const QByteArray& also)
{
    const QByteArray start = RecordFields::SqlColumn("start");
    QByteArrayList terms;
    if (filter.sinceMs >= 0)
        terms << start + " >= :since";
    if (filter.untilMs >= 0)
        terms << start + " < :until";
    if (!filter.load.isEmpty())
        terms << RecordFields::SqlColumn("loadDigest") + " = :load";
    if (!also.isEmpty())
        terms << also;
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

bool Compute(QSqlDatabase& database, const Filter& filter, Report& report, QString& error)
{
    std::vector<Combination> combinations;
    std::vector<std::pair<qint64, int>> unread;
    StageIndex stages;
    const DatabaseColumns columns(database);
    const bool stageColumn = HasStageColumn(columns);
    if ((stageColumn && !ReadStageNumbers(database, stages, error)) ||
        !ScanAttempts(database, filter, stageColumn, VerifiedCount::Present(columns), combinations, stages, unread,
                      report.verification, error) ||
        !ScanStages(database, unread, combinations, stages, error) ||
        !UnitHistory::CountRepeats(database, columns, filter, report.units, error))
        return false;
    report.stagesFromTable = qint64(unread.size());
    const std::vector<int> stageOrder = stages.Order();
    const Hours hours(combinations);

    const QVector<Group> station = Dimension(combinations, hours, stages, stageOrder,
                                             [](const Combination&) { return QStringLiteral("station"); });
    report.station =
        station.isEmpty() ? Figures(Tally(QStringLiteral("station")), {}, hours, stages, stageOrder) : station.first();
    report.rows = Dimension(combinations, hours, stages, stageOrder, [](const Combination& c) { return c.row; });
    std::sort(report.rows.begin(), report.rows.end(),
              [](const Group& a, const Group& b) { return a.key.toInt() < b.key.toInt(); });
    report.ports = Dimension(combinations, hours, stages, stageOrder, [](const Combination& c) { return c.port; });
    report.loads = Dimension(combinations, hours, stages, stageOrder, [](const Combination& c) { return c.load; });
    report.failedStages = Dimension(combinations, hours, stages, stageOrder, [](const Combination& c) {
        // Null keeps the others out; empty is a failure that named no stage.
        return !c.fail ? QString() : c.failedStage.isNull() ? QStringLiteral("") : c.failedStage;
    });
    FlagOutliers(report.rows);
    return true;
}

void FlagOutliers(QVector<Group>& rows)
{
    std::vector<FailureOutliers::RowFailures> failures;
    for (const Group& row : rows)
        failures.push_back({row.attempts, row.failureRate});
    const std::vector<bool> flagged = FailureOutliers::Flag(failures);
    for (int i = 0; i < rows.size(); ++i) {
        if (flagged[static_cast<size_t>(i)])
            rows[i].hint = QStringLiteral("check the cable or hub of row %1").arg(rows[i].key);
    }
}

} // namespace StationReport
