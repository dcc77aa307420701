#include "factory/FactoryPublisher.h"

#include "logging/Log.h"

static constexpr char kLogSource[] = "factory\\FactoryPublisher";

namespace {

// The exchange's resource states: productive regular work while the tool runs, shutdown and start-up around.
const QString kProductive = QStringLiteral("1100");
const QString kShutdownAndStartup = QStringLiteral("6500");
constexpr int kDrainAtExitMs = 10000;

} // namespace

FactoryPublisher::FactoryPublisher(const FactoryEndpoint& endpoint, const QString& databasePath)
    : builder(endpoint.handle), messages(endpoint.handle), since(QDateTime::currentDateTimeUtc()),
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
    return FactoryMessages::UnitId(station, attempt);
}

JournalMessages FactoryPublisher::Started(const AttemptRecord& attempt)
{
    return messages.Started(attempt);
}

JournalMessages FactoryPublisher::Ended(const AttemptRecord& record)
{
    return messages.Ended(record);
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
