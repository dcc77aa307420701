#include "factory/FactoryPublisher.h"

#include "logging/Log.h"

#include <QSysInfo>

static constexpr char kLogSource[] = "factory\\FactoryPublisher";

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

namespace {

JournalMessage ForJournal(const CfxMessage& message)
{
    return JournalMessage{message.uniqueId, message.name, message.source, message.timeStamp, message.json};
}

} // namespace

JournalMessages FactoryPublisher::Started(const AttemptRecord& attempt)
{
    if (!ValidRow(attempt.row))
        return {};
    return {ForJournal(builder.WorkStarted(attempt.attempt, attempt.row, UnitId(station, attempt), attempt.start))};
}

// The attempt's id names the transaction, so the factory's messages and the station's record match, and the
// unit is named as its start named it unless the session has learnt the device's own id since.
JournalMessages FactoryPublisher::Ended(const AttemptRecord& record)
{
    if (!ValidRow(record.row))
        return {};
    JournalMessages last;
    const QDateTime end = record.end.isValid() ? record.end : QDateTime::currentDateTimeUtc();
    if (record.result == QLatin1String("FAIL")) {
        const QString code = record.failedStage.isEmpty() ? QStringLiteral("FAIL") : record.failedStage;
        last.push_back(ForJournal(builder.FaultOccurred(record.attempt, record.row, code, record.error, end)));
    }
    last.push_back(ForJournal(
        builder.WorkCompleted(record.attempt, record.row, UnitId(station, record), WorkResult(record.result), end)));
    return last;
}

void FactoryPublisher::Stored()
{
    if (link)
        link->Nudge();
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
