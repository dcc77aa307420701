#pragma once

#include <QString>

#include <proton/message.hpp>

#include <vector>

// How the broker settled one message.
enum class SendOutcome
{
    None, // no answer by the deadline, or the connection failed first
    Accepted,
    Rejected,
    Released,
    Modified,
};

struct SendResult
{
    std::vector<SendOutcome> outcomes; // one per message, in sending order
    QString error;                     // the first connection, session or link error, if any

    bool AllAccepted() const;
};

// Sends messages to a broker address over AMQP 1.0 and waits for the broker to settle each, so a test can put
// known messages in place or see what the broker makes of an attempt (wrong password, unknown address).
class BrokerSender
{
public:
    // The broker's AMQP 1.0 plugin declares the queue behind a /queue/<name> target with the durability of
    // the link's target terminus, and refuses the link when an existing queue differs; the queues tests
    // declare are durable, so the target is by default too.
    BrokerSender& DurableTarget(bool durable);

    SendResult Send(const QString& url, const QString& address, const std::vector<proton::message>& messages,
                    int timeoutMs);

private:
    bool durableTarget = true;
};
