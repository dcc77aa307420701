#pragma once

#include "common/CfxMessage.h"
#include "common/FactoryOutbox.h"

#include <QString>

#include <atomic>
#include <memory>
#include <thread>

// Where and as whom the station publishes.
struct FactoryEndpoint
{
    QString broker;  // "amqp://host:port" or "amqps://host:port", without credentials
    QString address; // the target on the broker, "/queue/cfx" by default
    QString handle;  // the station's endpoint handle, the messages' Source
    QString user;    // empty: no SASL user
    QString password;
    int heartbeatSeconds = 60;
    int retryMs = 2000; // between a lost or refused connection and the next try
};

// The one connection to the broker, on a thread of its own: it sends the outbox's messages one at a time,
// oldest first, and removes each once the broker has accepted it. One at a time keeps the order even when
// the broker refuses one: nothing after it has gone yet. A broker that is away, slow or refusing only makes
// the outbox longer; nobody else waits for this thread.
class FactoryLink
{
public:
    FactoryLink(const FactoryEndpoint& endpoint, FactoryOutbox& outbox);
    // Closes the connection and joins the thread; what the broker has not accepted stays in the outbox.
    ~FactoryLink();

    FactoryLink(const FactoryLink&) = delete;
    FactoryLink& operator=(const FactoryLink&) = delete;

    // The outbox has a new message. Thread-safe, never blocks.
    void Nudge();

    bool Connected() const { return connected.load(); }
    int64_t Accepted() const { return accepted.load(); }
    int64_t Heartbeats() const { return heartbeats.load(); }

private:
    class Handler;
    friend class Handler;

    std::atomic<bool> connected{false};
    std::atomic<int64_t> accepted{0};
    std::atomic<int64_t> heartbeats{0};
    std::unique_ptr<Handler> handler;
    std::thread thread; // last: it starts once everything it uses exists
};
