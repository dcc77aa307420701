#pragma once

#include "factory/CfxMessage.h"
#include "factory/FactoryOutbox.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace proton {
class container;
class work_queue;
} // namespace proton

// Where and as whom the station publishes.
struct FactoryEndpoint
{
    QString broker;  // "amqp://host:port" or "amqps://host:port", without credentials
    QString address; // the target on the broker, "/queue/cfx" by default
    QString handle;  // the station's endpoint handle, the messages' Source
    QString user;    // empty: no SASL user
    QString password;
    int heartbeatSeconds = 60;
    int retryMs = 2000; // between a lost or refused connection and the next try; doubles up to 30 s
};

// The one connection to the broker, on a thread of its own: it sends the outbox's messages one transfer at
// a time, oldest first (a backlog as arrays of up to 30), and removes them once the broker has accepted the
// transfer. One transfer at a time keeps the order even when the broker refuses one: nothing after it has
// gone yet. A broker that is away, slow or refusing only makes the outbox longer; nobody else waits for this
// thread.
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
    // Waits until the outbox is empty, or the time is up, or two connections have ended (a link between tries
    // tries again at once); true when the outbox is empty.
    bool Drain(int timeoutMs);

    bool Connected() const { return connected.load(); }
    // Messages the broker has accepted, counted one per envelope.
    int64_t Accepted() const { return accepted.load(); }
    int64_t Heartbeats() const { return heartbeats.load(); }

private:
    class Connection;
    friend class Connection;

    void Run();
    void Notify();
    void SetDraining(bool on);
    bool WaitEmpty(std::chrono::steady_clock::time_point deadline, int64_t endedBefore);
    // The connection's own queue, so that what it sends is written out at once; null while there is none.
    void SetQueue(proton::work_queue* queue, Connection* connection);

    const FactoryEndpoint endpoint;
    FactoryOutbox& outbox;
    std::atomic<bool> connected{false};
    std::atomic<int64_t> accepted{0};
    std::atomic<int64_t> heartbeats{0};
    std::atomic<bool> stopping{false};
    std::atomic<int64_t> connectionsEnded{0};
    bool outage = false; // link thread only: the loss has been logged

    std::mutex lock; // guards container and queue, which other threads use to stop and to nudge
    proton::container* container = nullptr;
    proton::work_queue* queue = nullptr;
    Connection* current = nullptr;
    std::condition_variable wake; // stop, or try again now, for the wait between tries
    bool draining = false;
    std::mutex progressLock;
    std::condition_variable progress; // an acceptance, or the connection lost

    std::thread thread; // last: it starts once everything it uses exists
};
