#include "factory/FactoryPublisher.h"

#include "logging/Log.h"

#include <QSysInfo>

static constexpr char kLogSource[] = "common\\FactoryPublisher";

namespace {

// The exchange's resource states: productive regular work while the tool runs, shutdown and start-up around.
const QString kProductive = QStringLiteral("1100");
const QString kShutdownAndStartup = QStringLiteral("6500");
constexpr int kDrainAtExitMs = 10000;

CfxWorkResult WorkResult(const QString& result)
{
    if (result == QLatin1String("OK"))
        return CfxWorkResult::Completed;
    if (result == QLatin1String("CANL"))
        return CfxWorkResult::Aborted;
    return CfxWorkResult::Failed;
}

bool ValidRow(int row)
{
    return row >= 1 && row <= 16;
}

} // namespace

FactoryPublisher::FactoryPublisher(const FactoryEndpoint& endpoint, const QString& databasePath)
    : station(QSysInfo::machineHostName()), builder(endpoint.handle), since(QDateTime::currentDateTimeUtc()),
      outbox(databasePath)
{
    Publish(builder.StationStateChanged(kShutdownAndStartup, 0, kProductive, since));
    link.reset(new FactoryLink(endpoint, outbox));
    link->Nudge();
}

FactoryPublisher::~FactoryPublisher()
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    Publish(builder.StationStateChanged(kProductive, since.msecsTo(now), kShutdownAndStartup, now));
    // A reachable broker gets what is left before the tool goes; the rest waits for the next start.
    if (!link->Drain(kDrainAtExitMs))
        LOGI("FactoryPublisher", "Factory outbox keeps %lld messages for the next start.",
             static_cast<long long>(outbox.Count()));
    link.reset();
}

QString FactoryPublisher::UnitId(const QString& station, const AttemptRecord& attempt)
{
    if (!attempt.socid.isEmpty())
        return attempt.socid;
    return QStringLiteral("%1.R%2.%3").arg(station).arg(attempt.row).arg(CfxMessageBuilder::Time(attempt.start));
}

void FactoryPublisher::Started(const AttemptRecord& attempt)
{
    if (!ValidRow(attempt.row))
        return;
    // The attempt's own id names the transaction, so a factory's messages and the station's record match.
    Work work{attempt.attempt.isEmpty() ? CfxMessageBuilder::NewId() : attempt.attempt, UnitId(station, attempt)};
    {
        std::lock_guard<std::mutex> guard(lock);
        open[attempt.row - 1] = work;
    }
    Publish(builder.WorkStarted(work.transactionId, attempt.row, work.unitId, attempt.start));
}

// An attempt that never found its device had no unit to work on; its failure is in the station record.
void FactoryPublisher::Record(const AttemptRecord& record)
{
    if (!ValidRow(record.row))
        return;
    Work work;
    {
        std::lock_guard<std::mutex> guard(lock);
        std::swap(work, open[record.row - 1]);
    }
    if (work.transactionId.isEmpty())
        return;
    if (!record.socid.isEmpty())
        work.unitId = record.socid;
    const QDateTime end = record.end.isValid() ? record.end : QDateTime::currentDateTimeUtc();
    if (record.result == QLatin1String("FAIL")) {
        const QString code = record.failedStage.isEmpty() ? QStringLiteral("FAIL") : record.failedStage;
        Publish(builder.FaultOccurred(work.transactionId, record.row, code, record.error, end));
    }
    Publish(builder.WorkCompleted(work.transactionId, record.row, work.unitId, WorkResult(record.result), end));
}

void FactoryPublisher::Publish(const CfxMessage& message)
{
    QString error;
    const bool stored = outbox.Append(message, error);
    {
        std::lock_guard<std::mutex> guard(lock);
        if (!stored && !failing)
            LOGE("FactoryPublisher::Publish", "Factory outbox cannot store messages; they wait in memory: %s",
                 error.toUtf8().constData());
        else if (stored && failing)
            LOGI("FactoryPublisher::Publish", "Factory outbox stores messages again.");
        failing = !stored;
    }
    if (link)
        link->Nudge();
}
