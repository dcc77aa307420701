#pragma once

#include <QByteArray>
#include <QString>
#include <QVariantMap>

#include <string>
#include <vector>

struct ReceivedMessage
{
    QByteArray body;          // the data section's bytes, or a string body's UTF-8
    bool dataSection = false; // the body came as a data section, not as an AMQP value
    QString contentType;
    QString messageId;      // a string id as is, any other kind in Proton's text form
    QVariantMap properties; // application properties, scalars converted to the nearest QVariant
    bool durable = false;
};

// Takes messages off a broker queue over AMQP 1.0, accepting each so the queue drains.
class BrokerReader
{
public:
    // Up to count messages from address (e.g. "/queue/results") in the order they arrive. Returns whatever
    // came by the deadline, fewer than count when it passed; Error() then says whether the connection failed.
    std::vector<ReceivedMessage> Read(const QString& url, const QString& address, int count, int timeoutMs);
    QString Error() const { return error; }

private:
    QString error;
};
