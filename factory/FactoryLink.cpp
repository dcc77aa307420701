#include "factory/FactoryLink.h"

#include "logging/Log.h"

#include <proton/connection.hpp>
#include <proton/connection_options.hpp>
#include <proton/container.hpp>
#include <proton/delivery.hpp>
#include <proton/error_condition.hpp>
#include <proton/message.hpp>
#include <proton/message_id.hpp>
#include <proton/scalar.hpp>
#include <proton/messaging_handler.hpp>
#include <proton/sender.hpp>
#include <proton/sender_options.hpp>
#include <proton/session.hpp>
#include <proton/target_options.hpp>
#include <proton/terminus.hpp>
#include <proton/ssl.hpp>
#include <proton/timestamp.hpp>
#include <proton/tracker.hpp>
#include <proton/transport.hpp>
#include <proton/types.hpp>
#include <proton/work_queue.hpp>

static constexpr char kLogSource[] = "factory\\FactoryLink";

namespace {

constexpr int kMaxRetryMs = 30000;
constexpr int kTickMs = 100;
// Up to this many envelopes in one transfer, as the reference endpoint sends them.
constexpr int kBatch = 30;

// Several envelopes travel as one JSON array, as the exchange's reference endpoint sends a backlog; the
// transport's headers then describe the first.
QByteArray Batch(const std::vector<FactoryOutbox::Entry>& entries)
{
    if (entries.size() == 1)
        return entries.front().message.json;
    QByteArray json("[");
    for (const FactoryOutbox::Entry& entry : entries) {
        if (json.size() > 1)
            json += ',';
        json += entry.message.json;
    }
    return json + ']';
}

// The headers are the given message's; the body may be a batch that begins with it.
proton::message ToAmqp(const CfxMessage& first, const QByteArray& json)
{
    proton::message message;
    message.id(first.uniqueId.toStdString());
    message.reply_to(first.source.toStdString());
    message.subject((first.source + QLatin1Char('.') + first.name).toStdString());
    message.content_type("application/json; charset=\"utf-8\"");
    message.creation_time(proton::timestamp(first.timeStamp.toMSecsSinceEpoch()));
    message.durable(true);
    // A data section, not an AMQP string: the exchange's readers take the body as UTF-8 bytes.
    message.inferred(true);
    message.body(proton::binary(json.constData(), json.constData() + json.size()));
    message.properties().put("cfx-topic", first.Topic().toStdString());
    message.properties().put("cfx-message", first.name.toStdString());
    message.properties().put("cfx-handle", first.source.toStdString());
    message.properties().put("cfx-target", proton::scalar());
    return message;
}

} // namespace

// One connection's life: opened by Run, ended by a loss or a stop. Everything here runs on the link's
// thread, in the connection's context, so frames go out as soon as they are made.
class FactoryLink::Connection : public proton::messaging_handler
{
public:
    explicit Connection(FactoryLink& link) : link(link), endpoint(link.endpoint) {}

    // Why the connection ended; empty after a stop.
    std::string Reason() const { return reason; }
    bool WasUp() const { return wasUp; }

    void on_container_start(proton::container& container) override
    {
        proton::connection_options options;
        if (!endpoint.user.isEmpty()) {
            options.user(endpoint.user.toStdString());
            options.password(endpoint.password.toStdString());
            // Left to choose, the client takes ANONYMOUS when a broker offers it, and the credentials go unused.
            options.sasl_allowed_mechs("PLAIN");
            // Plain credentials over an unencrypted link are the operator's choice of "amqp://".
            options.sasl_allow_insecure_mechs(true);
        }
        if (endpoint.broker.startsWith(QLatin1String("amqps://"), Qt::CaseInsensitive))
            options.ssl_client_options(proton::ssl_client_options());
        options.idle_timeout(proton::duration(30000));
        try {
            container.connect(endpoint.broker.toStdString(), options);
        } catch (const std::exception& error) {
            reason = error.what();
            container.stop();
        }
    }

    void on_connection_open(proton::connection& connection) override
    {
        // The queue must be declared durable, as the factory's is: a durable queue refuses a link that asks
        // for a transient one, and a transient one would lose accepted messages when the broker restarts.
        proton::target_options target;
        target.durability_mode(proton::terminus::CONFIGURATION);
        sender = connection.open_sender(endpoint.address.toStdString(), proton::sender_options().target(target));
    }

    void on_sender_open(proton::sender& opened) override
    {
        wasUp = true;
        link.connected = true;
        link.SetQueue(&opened.connection().work_queue(), this);
        LOGI("FactoryLink", "Factory broker %s %s.", endpoint.broker.toUtf8().constData(),
             link.outage ? "reached again" : "connected");
        link.outage = false;
        nextHeartbeat = Now() + int64_t(endpoint.heartbeatSeconds) * 1000;
        container = &opened.container();
        ScheduleTick();
    }

    void on_sendable(proton::sender&) override { TrySend(); }

    void on_tracker_accept(proton::tracker& tracker) override
    {
        if (!IsCurrent(tracker))
            return;
        QString error;
        if (!link.outbox.RemoveThrough(currentSequence, error))
            LOGE("FactoryLink", "Factory outbox: accepted messages stay and will be sent again: %s",
                 error.toUtf8().constData());
        inFlight = false;
        link.accepted += currentCount;
        link.Notify();
        TrySend();
    }

    // Rejected, released or modified: not taken. It is tried again, and nothing behind it goes first.
    void on_tracker_reject(proton::tracker& tracker) override { NotTaken(tracker, "rejected"); }
    void on_tracker_release(proton::tracker& tracker) override { NotTaken(tracker, "released"); }

    void on_transport_error(proton::transport& transport) override { End(transport.error().what()); }
    void on_connection_error(proton::connection& connection) override { End(connection.error().what()); }
    void on_session_error(proton::session& session) override { End(session.error().what()); }
    void on_sender_error(proton::sender& failed) override { End(failed.error().what()); }
    void on_transport_close(proton::transport&) override { End("connection closed"); }

    void Nudge() { TrySend(); }

private:
    static int64_t Now() { return QDateTime::currentMSecsSinceEpoch(); }

    void End(const std::string& why)
    {
        if (reason.empty())
            reason = why;
        // Nothing may reach the connection's queue once the connection is going.
        link.SetQueue(nullptr, nullptr);
        if (sender)
            sender.connection().close();
        sender = proton::sender();
    }

    // Heartbeats and refused messages wait on a container timer: a timer of the connection's own outlives a
    // closed connection and then fires into it. The timer hops into the connection's queue, so what it sends
    // leaves at once, and ends with the connection, so the container stops soon after.
    void ScheduleTick()
    {
        container->schedule(proton::duration(kTickMs), [this] {
            if (!sender || link.stopping)
                return;
            sender.connection().work_queue().add([this] { Tick(); });
            ScheduleTick();
        });
    }

    void Tick()
    {
        if (!sender || link.stopping)
            return;
        const int64_t now = Now();
        if (retryAt != 0 && now >= retryAt) {
            retryAt = 0;
            inFlight = false;
        }
        if (now >= nextHeartbeat) {
            SendHeartbeat();
            nextHeartbeat = now + int64_t(endpoint.heartbeatSeconds) * 1000;
        }
        TrySend();
    }

    bool IsCurrent(const proton::tracker& tracker) const { return inFlight && tracker.tag() == currentTag; }

    void TrySend()
    {
        if (link.stopping || inFlight || !sender || !sender.active() || sender.credit() <= 0)
            return;
        QString error;
        const std::vector<FactoryOutbox::Entry> head = link.outbox.Head(0, kBatch, error);
        if (!error.isEmpty()) {
            LOGE("FactoryLink", "Factory outbox cannot be read: %s", error.toUtf8().constData());
            return;
        }
        if (head.empty())
            return;
        currentSequence = head.back().sequence;
        currentCount = int(head.size());
        currentTag = sender.send(ToAmqp(head.front().message, Batch(head))).tag();
        inFlight = true;
    }

    void SendHeartbeat()
    {
        if (!sender.active() || sender.credit() <= 0)
            return;
        const CfxMessage beat = heartbeat.Heartbeat(endpoint.heartbeatSeconds, QDateTime::currentDateTimeUtc());
        sender.send(ToAmqp(beat, beat.json));
        ++link.heartbeats;
    }

    void NotTaken(proton::tracker& tracker, const char* outcome)
    {
        if (!IsCurrent(tracker))
            return;
        LOGE("FactoryLink", "Factory broker %s messages up to %lld; they are sent again in %d ms.", outcome,
             static_cast<long long>(currentSequence), endpoint.retryMs);
        retryAt = Now() + endpoint.retryMs;
    }

    FactoryLink& link;
    const FactoryEndpoint& endpoint;
    const CfxMessageBuilder heartbeat{endpoint.handle};
    proton::container* container = nullptr;
    proton::sender sender;
    proton::binary currentTag;
    int64_t currentSequence = 0; // the last message of the transfer in flight
    int currentCount = 0;
    bool inFlight = false;
    int64_t nextHeartbeat = 0;
    int64_t retryAt = 0;
    std::string reason;
    bool wasUp = false;
};

FactoryLink::FactoryLink(const FactoryEndpoint& endpoint, FactoryOutbox& outbox)
    : endpoint(endpoint), outbox(outbox)
{
    thread = std::thread([this] { Run(); });
}

FactoryLink::~FactoryLink()
{
    {
        std::lock_guard<std::mutex> guard(lock);
        stopping = true;
        if (container != nullptr)
            container->stop();
        wake.notify_all();
    }
    thread.join();
}

// A container runs once, so each connection gets its own; between them the thread waits, and a stop ends
// the wait at once.
void FactoryLink::Run()
{
    int retryMs = endpoint.retryMs;
    while (!stopping) {
        Connection connection(*this);
        {
            proton::container current(connection);
            {
                std::lock_guard<std::mutex> guard(lock);
                if (stopping)
                    break;
                container = &current;
            }
            current.run();
            std::lock_guard<std::mutex> guard(lock);
            container = nullptr;
            queue = nullptr;
            this->current = nullptr;
        }
        connected = false;
        ++connectionsEnded;
        Notify();
        if (stopping)
            break;
        if (connection.WasUp())
            retryMs = endpoint.retryMs;
        if (!outage) {
            // Once per outage, so a broker that stays away does not flood the log. The address never holds
            // credentials; they come from the credentials file.
            LOGE("FactoryLink", "Factory broker %s %s: %s; messages wait in the outbox.",
                 endpoint.broker.toUtf8().constData(), connection.WasUp() ? "lost" : "not reachable",
                 connection.Reason().c_str());
            outage = true;
        }
        std::unique_lock<std::mutex> guard(lock);
        wake.wait_for(guard, std::chrono::milliseconds(retryMs), [this] { return stopping || draining; });
        retryMs = std::min(retryMs * 2, kMaxRetryMs);
    }
}

void FactoryLink::SetQueue(proton::work_queue* connectionQueue, Connection* connection)
{
    std::lock_guard<std::mutex> guard(lock);
    queue = connectionQueue;
    current = connection;
}

void FactoryLink::Nudge()
{
    std::lock_guard<std::mutex> guard(lock);
    // The connection outlives every piece of work its queue still holds: the container that runs them goes
    // first.
    if (queue != nullptr) {
        Connection* connection = current;
        queue->add([connection] { connection->Nudge(); });
    }
}

void FactoryLink::Notify()
{
    std::lock_guard<std::mutex> guard(progressLock);
    progress.notify_all();
}

// While draining, a link between tries tries again at once: the broker may be back, and the tool is about
// to go. Two connections ended since the drain began (the one there was, and one more) end the wait, and so
// does the time.
bool FactoryLink::Drain(int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    const int64_t endedBefore = connectionsEnded.load();
    SetDraining(true);
    const bool empty = WaitEmpty(deadline, endedBefore);
    SetDraining(false);
    return empty;
}

void FactoryLink::SetDraining(bool on)
{
    std::lock_guard<std::mutex> guard(lock);
    draining = on;
    wake.notify_all();
}

bool FactoryLink::WaitEmpty(std::chrono::steady_clock::time_point deadline, int64_t endedBefore)
{
    std::unique_lock<std::mutex> guard(progressLock);
    for (;;) {
        if (outbox.Count() == 0)
            return true;
        if (connectionsEnded.load() >= endedBefore + 2 || std::chrono::steady_clock::now() >= deadline)
            return false;
        // Bounded, so a count that changed between the look and the wait is seen soon all the same.
        progress.wait_for(guard, std::chrono::milliseconds(50));
    }
}
