#include "common/RowOutcomes.h"

#include "record/FailureOutliers.h"
#include "record/StationRecordFormat.h"

#include <algorithm>

namespace {

constexpr int kShortReasonLength = 48;

bool IsRow(int row) { return row >= 0 && row < RowOutcomes::kRows; }

// The lower median, as the station's report gives it.
int64_t LowerMedian(std::vector<int64_t> values)
{
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>((values.size() - 1) / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

} // namespace

void RowOutcomes::Restart(int row, int quarantineAfter)
{
    if (!IsRow(row))
        return;
    std::lock_guard<std::mutex> guard(lock);
    Row& kept = rows[static_cast<size_t>(row)];
    kept.figures = RowOutcomeFigures();
    kept.figures.version = ++version;
    kept.quarantineAfter = std::max(0, quarantineAfter);
    kept.sessionStartMs = kept.sessionEndMs = 0;
    // The stage times stay: the same port and load keep their pace from one Start to the next.
}

void RowOutcomes::BeginSession(int row, int64_t startMs)
{
    if (!IsRow(row))
        return;
    std::lock_guard<std::mutex> guard(lock);
    Row& kept = rows[static_cast<size_t>(row)];
    kept.sessionStartMs = startMs;
    kept.sessionEndMs = 0;
}

bool RowOutcomes::Count(int row, const AttemptRecord& record, std::vector<int>& flagChanged)
{
    if (!IsRow(row))
        return false;
    std::lock_guard<std::mutex> guard(lock);
    Row& kept = rows[static_cast<size_t>(row)];
    RowOutcomeFigures& figures = kept.figures;
    kept.sessionEndMs = record.end.isValid() ? record.end.toMSecsSinceEpoch() : kept.sessionStartMs;
    figures.lastResult = record.result;
    if (record.result == QLatin1String("OK")) {
        ++figures.ok;
        figures.failStreak = 0;
        LearnStages(kept, record);
    } else {
        figures.lastFailure = record.failedStage;
        figures.lastReason = ShortReason(record.error);
        if (record.result == QLatin1String("CANL")) {
            ++figures.cancelled;
        } else {
            ++figures.failed;
            ++figures.failStreak;
        }
    }
    figures.yield = double(figures.ok) / figures.Attempts();
    const bool trips = !figures.quarantined && kept.quarantineAfter > 0 && figures.failStreak >= kept.quarantineAfter;
    figures.quarantined = figures.quarantined || trips;
    figures.version = ++version;
    JudgeRows(flagChanged);
    return trips;
}

void RowOutcomes::LearnStages(Row& row, const AttemptRecord& record)
{
    row.goodSessions.push_back(record.stages);
    if (row.goodSessions.size() > size_t(kSessionsKept))
        row.goodSessions.pop_front();
    // A stage's own end, or the attempt's for one that never ended, as the record counts it.
    for (SessionStage& stage : row.goodSessions.back())
        stage.endMs = stage.startMs + StationRecordFormat::StageMs(stage, record);
    row.stageOrder.clear();
    for (const SessionStage& stage : record.stages)
        row.stageOrder << stage.name;
    row.medianMs.clear();
    if (row.goodSessions.size() < size_t(kSessionsForEstimate))
        return;
    QHash<QString, std::vector<int64_t>> series;
    for (const SessionStages& session : row.goodSessions) {
        for (const SessionStage& stage : session)
            series[stage.name].push_back(stage.endMs - stage.startMs);
    }
    for (auto it = series.cbegin(); it != series.cend(); ++it) {
        if (it.value().size() >= size_t(kSessionsForEstimate))
            row.medianMs.insert(it.key(), LowerMedian(it.value()));
    }
}

void RowOutcomes::JudgeRows(std::vector<int>& flagChanged)
{
    std::vector<FailureOutliers::RowFailures> failures;
    for (const Row& kept : rows) {
        const int attempts = kept.figures.Attempts();
        failures.push_back({attempts, attempts > 0 ? double(kept.figures.failed) / attempts : 0});
    }
    const std::vector<bool> flagged = FailureOutliers::Flag(failures);
    for (int i = 0; i < kRows; ++i) {
        RowOutcomeFigures& figures = rows[static_cast<size_t>(i)].figures;
        if (figures.flagged == flagged[static_cast<size_t>(i)])
            continue;
        figures.flagged = flagged[static_cast<size_t>(i)];
        figures.version = version;
        flagChanged.push_back(i);
    }
}

RowOutcomeFigures RowOutcomes::Figures(int row) const
{
    if (!IsRow(row))
        return RowOutcomeFigures();
    std::lock_guard<std::mutex> guard(lock);
    return rows[static_cast<size_t>(row)].figures;
}

int64_t RowOutcomes::DeviceElapsedMs(int row, int64_t nowMs) const
{
    if (!IsRow(row))
        return 0;
    std::lock_guard<std::mutex> guard(lock);
    const Row& kept = rows[static_cast<size_t>(row)];
    if (kept.sessionStartMs == 0)
        return 0;
    return std::max<int64_t>(0, (kept.sessionEndMs > 0 ? kept.sessionEndMs : nowMs) - kept.sessionStartMs);
}

StreamFigures RowOutcomes::Streaming(int row, const SessionStages& current, uint64_t streamed, unsigned percent,
                                     int64_t nowMs) const
{
    StreamFigures figures;
    if (!IsRow(row) || current.isEmpty() || streamed == 0 || percent >= 100)
        return figures;
    const SessionStage& stage = current.last();
    if (stage.endMs != 0)
        return figures;
    const int64_t streamingMs = nowMs - stage.startMs;
    if (streamingMs > 0)
        figures.megabytesPerSecond = double(streamed) / 1.0e6 * 1000.0 / double(streamingMs);

    std::lock_guard<std::mutex> guard(lock);
    const Row& kept = rows[static_cast<size_t>(row)];
    const int place = kept.stageOrder.indexOf(stage.name);
    if (place < 0 || !kept.medianMs.contains(stage.name))
        return figures;
    int64_t left = kept.medianMs.value(stage.name) * int64_t(100 - percent) / 100;
    for (int later = place + 1; later < kept.stageOrder.size(); ++later) {
        const auto median = kept.medianMs.constFind(kept.stageOrder.at(later));
        if (median == kept.medianMs.constEnd())
            return figures;
        left += median.value();
    }
    figures.timeLeftMs = left;
    return figures;
}

QString RowOutcomes::ShortReason(const QString& error)
{
    const QString line = error.section(QLatin1Char('\n'), 0, 0).trimmed();
    return line.size() <= kShortReasonLength ? line : line.left(kShortReasonLength - 3) + QStringLiteral("...");
}
