#include "factory/FactoryMessages.h"

#include <QSysInfo>

namespace {

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

JournalMessage ForJournal(const CfxMessage& message)
{
    return JournalMessage{message.uniqueId, message.name, message.source, message.timeStamp, message.json};
}

} // namespace

FactoryMessages::FactoryMessages(const QString& endpointHandle)
    : station(QSysInfo::machineHostName()), builder(endpointHandle)
{
}

QString FactoryMessages::UnitId(const QString& station, const AttemptRecord& attempt)
{
    if (!attempt.socid.isEmpty())
        return attempt.socid;
    return QStringLiteral("%1.R%2.%3")
        .arg(station)
        .arg(attempt.row)
        .arg(CfxMessageBuilder::Time(attempt.start));
}

JournalMessages FactoryMessages::Started(const AttemptRecord& attempt)
{
    if (!ValidRow(attempt.row))
        return {};
    return {ForJournal(
        builder.WorkStarted(attempt.attempt, attempt.row, UnitId(station, attempt), attempt.start))};
}

// The attempt's id names the transaction, so the factory's messages and the station's record match, and the
// unit is named as its start named it unless the session has learnt the device's own id since.
JournalMessages FactoryMessages::Ended(const AttemptRecord& record)
{
    if (!ValidRow(record.row))
        return {};
    JournalMessages last;
    const QDateTime end = record.end.isValid() ? record.end : QDateTime::currentDateTimeUtc();
    if (record.result == QLatin1String("FAIL")) {
        const QString code = record.failedStage.isEmpty() ? QStringLiteral("FAIL") : record.failedStage;
        last.push_back(
            ForJournal(builder.FaultOccurred(record.attempt, record.row, code, record.error, end)));
    }
    last.push_back(ForJournal(builder.WorkCompleted(record.attempt, record.row, UnitId(station, record),
                                                    WorkResult(record.result), end)));
    return last;
}
