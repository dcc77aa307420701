#include "cli/RunSummary.h"

RunSummary::RunSummary(AttemptRecorder* next) : next(next) { qRegisterMetaType<AttemptRecord>("AttemptRecord"); }

bool RunSummary::Record(const AttemptRecord& record)
{
    if (next != nullptr && !next->Record(record)) {
        Q_EMIT NotRecorded(record);
        return false;
    }
    {
        std::lock_guard<std::mutex> guard(lock);
        Row& row = rows.at(static_cast<size_t>(record.row - 1));
        row.port = record.port;
        if (record.result == QLatin1String("OK")) {
            ++row.ok;
            if (record.verifiedImages < record.imagesWritten)
                ++row.unverified;
        }
        else if (record.result == QLatin1String("CANL"))
            ++row.cancelled;
        else
            ++row.failed;
    }
    Q_EMIT Recorded(record);
    return true;
}

std::array<RunSummary::Row, 16> RunSummary::Rows() const
{
    std::lock_guard<std::mutex> guard(lock);
    return rows;
}

int RunSummary::Total(const QString& result) const
{
    int total = 0;
    for (const Row& row : Rows())
        total += result == QLatin1String("OK") ? row.ok : result == QLatin1String("CANL") ? row.cancelled : row.failed;
    return total;
}

int RunSummary::Unverified() const
{
    int total = 0;
    for (const Row& row : Rows())
        total += row.unverified;
    return total;
}
