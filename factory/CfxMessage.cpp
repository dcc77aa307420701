#include "factory/CfxMessage.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QUuid>

constexpr char CfxMessageBuilder::kVersion[];

QString CfxMessage::Topic() const
{
    const int last = name.lastIndexOf(QLatin1Char('.'));
    return last < 0 ? name : name.left(last);
}

CfxMessageBuilder::CfxMessageBuilder(const QString& endpointHandle) : endpointHandle(endpointHandle) {}

QString CfxMessageBuilder::NewId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

QString CfxMessageBuilder::MessageId(const QString& transactionId, const QString& name)
{
    // The station's own namespace, so that no other producer's names can give the same ids.
    static const QUuid kNamespace(QStringLiteral("{f3c8c755-1994-4849-909c-2c5ce5f87d1d}"));
    if (transactionId.isEmpty())
        return NewId();
    return QUuid::createUuidV5(kNamespace, transactionId + QLatin1Char('/') + name).toString(QUuid::WithoutBraces);
}

QString CfxMessageBuilder::Time(const QDateTime& at)
{
    return at.toUTC().toString(Qt::ISODateWithMs);
}

QString CfxMessageBuilder::TimeSpan(qint64 ms)
{
    if (ms < 0)
        ms = 0;
    const qint64 days = ms / 86400000;
    const qint64 rest = ms % 86400000;
    QString text = QStringLiteral("%1:%2:%3")
                       .arg(rest / 3600000, 2, 10, QLatin1Char('0'))
                       .arg(rest / 60000 % 60, 2, 10, QLatin1Char('0'))
                       .arg(rest / 1000 % 60, 2, 10, QLatin1Char('0'));
    if (rest % 1000 != 0)
        text += QStringLiteral(".%1").arg((rest % 1000) * 10000, 7, 10, QLatin1Char('0'));
    return days > 0 ? QString::number(days) + QLatin1Char('.') + text : text;
}

CfxMessage CfxMessageBuilder::Envelope(const QString& name, QJsonObject body, const QDateTime& at,
                                       const QString& uniqueId) const
{
    // The reference reader picks the body's class from "$type" only when it is the first key; a JSON object
    // writes its keys sorted, and "$" sorts before every letter.
    body.insert(QStringLiteral("$type"), name + QStringLiteral(", CFX"));
    CfxMessage message;
    message.uniqueId = uniqueId;
    message.name = name;
    message.source = endpointHandle;
    message.timeStamp = at.toUTC();
    QJsonObject envelope;
    envelope.insert(QStringLiteral("MessageName"), name);
    envelope.insert(QStringLiteral("Version"), QString::fromLatin1(kVersion));
    envelope.insert(QStringLiteral("TimeStamp"), Time(at));
    envelope.insert(QStringLiteral("UniqueID"), message.uniqueId);
    envelope.insert(QStringLiteral("Source"), endpointHandle);
    envelope.insert(QStringLiteral("Target"), QJsonValue::Null);
    envelope.insert(QStringLiteral("RequestID"), QJsonValue::Null);
    envelope.insert(QStringLiteral("MessageBody"), body);
    message.json = QJsonDocument(envelope).toJson(QJsonDocument::Compact);
    return message;
}

// One unit per attempt: a port flashes one device at a time.
QJsonObject CfxMessageBuilder::Units(QJsonObject body, int row, const QString& unitId) const
{
    QJsonObject unit;
    unit.insert(QStringLiteral("UnitIdentifier"), unitId);
    unit.insert(QStringLiteral("PositionNumber"), row);
    unit.insert(QStringLiteral("PositionName"), QStringLiteral("Row %1").arg(row));
    unit.insert(QStringLiteral("X"), 0.0);
    unit.insert(QStringLiteral("Y"), 0.0);
    unit.insert(QStringLiteral("Rotation"), 0.0);
    unit.insert(QStringLiteral("FlipX"), false);
    unit.insert(QStringLiteral("FlipY"), false);
    body.insert(QStringLiteral("PrimaryIdentifier"), unitId);
    body.insert(QStringLiteral("HermesIdentifier"), QJsonValue::Null);
    body.insert(QStringLiteral("UnitCount"), 1);
    body.insert(QStringLiteral("Units"), QJsonArray{unit});
    return body;
}

CfxMessage CfxMessageBuilder::WorkStarted(const QString& transactionId, int row, const QString& unitId,
                                          const QDateTime& at) const
{
    QJsonObject body;
    body.insert(QStringLiteral("TransactionID"), transactionId);
    body.insert(QStringLiteral("Lane"), row);
    const QString name = QStringLiteral("CFX.Production.WorkStarted");
    return Envelope(name, Units(body, row, unitId), at, MessageId(transactionId, name));
}

CfxMessage CfxMessageBuilder::WorkCompleted(const QString& transactionId, int row, const QString& unitId,
                                            CfxWorkResult result, const QDateTime& at) const
{
    static const char* const kResults[] = {"Completed", "Failed", "Aborted"};
    QJsonObject body;
    body.insert(QStringLiteral("TransactionID"), transactionId);
    body.insert(QStringLiteral("Result"), QString::fromLatin1(kResults[static_cast<int>(result)]));
    body.insert(QStringLiteral("PerformanceImpacts"), QJsonArray());
    const QString name = QStringLiteral("CFX.Production.WorkCompleted");
    return Envelope(name, Units(body, row, unitId), at, MessageId(transactionId, name));
}

CfxMessage CfxMessageBuilder::FaultOccurred(const QString& transactionId, int row, const QString& faultCode,
                                            const QString& description, const QDateTime& at) const
{
    QJsonObject fault;
    fault.insert(QStringLiteral("TransactionID"), transactionId);
    fault.insert(QStringLiteral("Cause"), QStringLiteral("QualityCheck"));
    fault.insert(QStringLiteral("Severity"), QStringLiteral("Error"));
    fault.insert(QStringLiteral("FaultCode"), faultCode);
    fault.insert(QStringLiteral("FaultOccurrenceId"), MessageId(transactionId, QStringLiteral("FaultOccurrence")));
    fault.insert(QStringLiteral("Lane"), row);
    fault.insert(QStringLiteral("Stage"), QJsonValue::Null);
    fault.insert(QStringLiteral("Description"), description);
    fault.insert(QStringLiteral("OccurredAt"), Time(at));
    QJsonObject body;
    body.insert(QStringLiteral("Fault"), fault);
    const QString name = QStringLiteral("CFX.ResourcePerformance.FaultOccurred");
    return Envelope(name, body, at, MessageId(transactionId, name));
}

CfxMessage CfxMessageBuilder::StationStateChanged(const QString& oldState, qint64 oldStateMs, const QString& newState,
                                                  const QDateTime& at) const
{
    QJsonObject body;
    body.insert(QStringLiteral("OldState"), oldState);
    body.insert(QStringLiteral("OldStateDuration"), TimeSpan(oldStateMs));
    body.insert(QStringLiteral("NewState"), newState);
    body.insert(QStringLiteral("RelatedFault"), QJsonValue::Null);
    return Envelope(QStringLiteral("CFX.ResourcePerformance.StationStateChanged"), body, at, NewId());
}

CfxMessage CfxMessageBuilder::Heartbeat(int frequencySeconds, const QDateTime& at) const
{
    QJsonObject body;
    body.insert(QStringLiteral("CFXHandle"), endpointHandle);
    body.insert(QStringLiteral("HeartbeatFrequency"), TimeSpan(qint64(frequencySeconds) * 1000));
    body.insert(QStringLiteral("ActiveFaults"), QJsonArray());
    body.insert(QStringLiteral("ActiveRecipes"), QJsonArray());
    return Envelope(QStringLiteral("CFX.Heartbeat"), body, at, NewId());
}
