#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>

// One factory message as it travels: the envelope's JSON (UTF-8) and the fields the transport repeats in
// its own headers.
struct CfxMessage
{
    QString uniqueId;    // the envelope's UniqueID, also the transport's message id
    QString name;        // "CFX.Production.WorkStarted", ...
    QString source;      // the station's endpoint handle
    QDateTime timeStamp; // when the event happened, not when it was sent
    QByteArray json;     // the whole envelope

    // "CFX.Production" for "CFX.Production.WorkStarted": the topic the message belongs to.
    QString Topic() const;
};

// The result a finished attempt reports: completed, failed or aborted for OK, FAIL and CANL.
enum class CfxWorkResult
{
    Completed,
    Failed,
    Aborted
};

// Builds the station's messages in the exchange's common envelope (MessageName, Version, TimeStamp,
// UniqueID, Source, Target, RequestID, MessageBody), with the body's type named the way the exchange's
// reference reader looks for it.
class CfxMessageBuilder
{
public:
    // The newest version the reference reader we checked against writes.
    static constexpr char kVersion[] = "1.3";

    explicit CfxMessageBuilder(const QString& endpointHandle);

    static QString NewId(); // a GUID without braces, lower case
    // An attempt's message is named by its transaction and its name (a name-based UUID): a message built
    // again, after its database was rebuilt, carries the id it had, so a receiver drops the repeat.
    static QString MessageId(const QString& transactionId, const QString& name);

    CfxMessage WorkStarted(const QString& transactionId, int row, const QString& unitId, const QDateTime& at) const;
    CfxMessage WorkCompleted(const QString& transactionId, int row, const QString& unitId, CfxWorkResult result,
                             const QDateTime& at) const;
    CfxMessage FaultOccurred(const QString& transactionId, int row, const QString& faultCode,
                             const QString& description, const QDateTime& at) const;
    // States are the exchange's resource state codes ("1100" regular work, "6500" shutdown and start-up).
    CfxMessage StationStateChanged(const QString& oldState, qint64 oldStateMs, const QString& newState,
                                   const QDateTime& at) const;
    CfxMessage Heartbeat(int frequencySeconds, const QDateTime& at) const;

    // "1.02:03:04.5000000": a duration as the exchange writes one.
    static QString TimeSpan(qint64 ms);
    // ISO 8601 in UTC with milliseconds and "Z".
    static QString Time(const QDateTime& at);

private:
    CfxMessage Envelope(const QString& name, QJsonObject body, const QDateTime& at, const QString& uniqueId) const;
    QJsonObject Units(QJsonObject body, int row, const QString& unitId) const;

    QString endpointHandle;
};
