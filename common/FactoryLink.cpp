#include "common/FactoryLink.h"

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
#include <proton/ssl.hpp>
#include <proton/timestamp.hpp>
#include <proton/tracker.hpp>
#include <proton/transport.hpp>
#include <proton/types.hpp>
#include <proton/work_queue.hpp>

static constexpr char kLogSource[] = "common\\FactoryLink";

namespace {

constexpr int kMaxRetryMs = 30000;

proton::message ToAmqp(const QString& uniqueId, const QString& name, const QString& source, const QDateTime& at,
                       const QByteArray& json)
{
    proton::message message;
    message.id(uniqueId.toStdString());
    message.reply_to(source.toStdString());
    message.subject((source + QLatin1Char('.') + name).toStdString());
    message.content_type("application/json; charset=\"utf-8\"");
    message.creation_time(proton::timestamp(at.toMSecsSinceEpoch()));
    message.durable(true);
    // A data section, not an AMQP string: the exchange's readers take the body as UTF-8 bytes.
    message.inferred(true);
    message.body(proton::binary(json.constData(), json.constData() + json.size()));
    CfxMessage topic;
    topic.name = name;
    message.properties().put("cfx-topic", topic.Topic().toStdString());
    message.properties().put("cfx-message", name.toStdString());
    message.properties().put("cfx-handle", source.toStdString());
    message.properties().put("cfx-target", proton::scalar());
    return message;
}

} // namespace

class FactoryLink::Handler : public proton::messaging_handler
{
public:
    Handler(FactoryLink& link, const FactoryEndpoint& endpoint, FactoryOutbox& outbox)
        : link(link), endpoint(endpoint), outbox(outbox), heartbeat(endpoint.handle), container(*this),
          work(container), retryMs(endpoint.retryMs)
    {
        container.auto_stop(false);
    }

    void Run() { container.run(); }
    void Stop()
    {
        stopping = true;
        container.stop();
    }
    void Nudge()
    {
        work.add([this] { TrySend(); });
    }

    void on_container_start(proton::container&) override { Connect(); }

    void on_connection_open(proton::connection& connection) override
    {
        proton::sender_options options;
        sender = connection.open_sender(endpoint.address.toStdString(), options);
    }

    void on_sender_open(proton::sender&) override
    {
        link.connected = true;
        retryMs = endpoint.retryMs;
        if (outage) {
            LOGI("FactoryLink", "Factory broker %s reached again.", endpoint.broker.toUtf8().constData());
        } else {
            LOGI("FactoryLink", "Factory broker %s connected.", endpoint.broker.toUtf8().constData());
        }
        outage = false;
        ScheduleHeartbeat(++connectionSerial);
    }

    void on_sendable(proton::sender&) override { TrySend(); }

    void on_tracker_accept(proton::tracker& tracker) override
    {
        if (!inFlight || tracker != current)
            return;
        QString error;
        if (!outbox.Remove(currentSequence, error))
            LOGE("FactoryLink", "Factory outbox: an accepted message stays and will be sent again: %s",
                 error.toUtf8().constData());
        inFlight = false;
        ++link.accepted;
        TrySend();
    }

    // Rejected, released or modified: not taken. It is tried again, and nothing behind it goes first.
    void on_tracker_reject(proton::tracker& tracker) override { NotTaken(tracker, "rejected"); }
    void on_tracker_release(proton::tracker& tracker) override { NotTaken(tracker, "released"); }

    void on_transport_error(proton::transport& transport) override { Lost(transport.error().what()); }
    void on_connection_error(proton::connection& connection) override { Lost(connection.error().what()); }
    void on_sender_error(proton::sender& sender) override
    {
        const std::string reason = sender.error().what();
        sender.connection().close();
        Lost(reason);
    }
    void on_transport_close(proton::transport&) override { Lost("connection closed"); }
    void on_error(const proton::error_condition& error) override { Lost(error.what()); }

private:
    void Connect()
    {
        proton::connection_options options;
        if (!endpoint.user.isEmpty()) {
            options.user(endpoint.user.toStdString());
            options.password(endpoint.password.toStdString());
            // Plain credentials over an unencrypted link are the operator's choice of "amqp://".
            options.sasl_allow_insecure_mechs(true);
        }
        if (endpoint.broker.startsWith(QLatin1String("amqps://"), Qt::CaseInsensitive))
            options.ssl_client_options(proton::ssl_client_options());
        options.idle_timeout(proton::duration(30000));
        container.connect(endpoint.broker.toStdString(), options);
    }

    void TrySend()
    {
        if (!link.connected || inFlight || !sender || !sender.active() || sender.credit() <= 0)
            return;
        QString error;
        const std::vector<FactoryOutbox::Entry> head = outbox.Head(0, 1, error);
        if (!error.isEmpty()) {
            LOGE("FactoryLink", "Factory outbox cannot be read: %s", error.toUtf8().constData());
            return;
        }
        if (head.empty())
            return;
        const FactoryOutbox::Entry& entry = head.front();
        currentSequence = entry.sequence;
        current = sender.send(ToAmqp(entry.uniqueId, entry.name, entry.source, entry.timeStamp, entry.json));
        inFlight = true;
    }

    void NotTaken(proton::tracker& tracker, const char* outcome)
    {
        if (!inFlight || tracker != current)
            return;
        LOGE("FactoryLink", "Factory broker %s the message %lld; it is sent again in %d ms.", outcome,
             static_cast<long long>(currentSequence), retryMs);
        const int serial = connectionSerial;
        container.schedule(proton::duration(retryMs), [this, serial] {
            if (serial != connectionSerial)
                return;
            inFlight = false;
            TrySend();
        });
    }

    void Lost(const std::string& reason)
    {
        if (stopping)
            return;
        const bool wasUp = link.connected.exchange(false);
        ++connectionSerial;
        inFlight = false; // unsettled: sent again on the next connection, its UniqueID unchanged
        sender = proton::sender();
        if (!outage) {
            // Once per outage, so a broker that stays away does not flood the log. The address never holds
            // credentials; they come from the credentials file.
            LOGE("FactoryLink", "Factory broker %s %s: %s; messages wait in the outbox.",
                 endpoint.broker.toUtf8().constData(), wasUp ? "lost" : "not reachable", reason.c_str());
            outage = true;
        }
        if (reconnectPending)
            return;
        reconnectPending = true;
        container.schedule(proton::duration(retryMs), [this] {
            reconnectPending = false;
            if (!stopping)
                Connect();
        });
        retryMs = std::min(retryMs * 2, kMaxRetryMs);
    }

    void ScheduleHeartbeat(int serial)
    {
        container.schedule(proton::duration(int64_t(endpoint.heartbeatSeconds) * 1000), [this, serial] {
            if (serial != connectionSerial || !link.connected)
                return;
            if (sender && sender.active() && sender.credit() > 0) {
                const CfxMessage beat = heartbeat.Heartbeat(endpoint.heartbeatSeconds, QDateTime::currentDateTimeUtc());
                sender.send(ToAmqp(beat.uniqueId, beat.name, beat.source, beat.timeStamp, beat.json));
                ++link.heartbeats;
            }
            ScheduleHeartbeat(serial);
        });
    }

    FactoryLink& link;
    const FactoryEndpoint endpoint;
    FactoryOutbox& outbox;
    const CfxMessageBuilder heartbeat;
    proton::container container;
    proton::work_queue work;
    proton::sender sender;
    proton::tracker current;
    int64_t currentSequence = 0;
    bool inFlight = false;
    bool outage = false;
    bool reconnectPending = false;
    int connectionSerial = 0;
    int retryMs;
    std::atomic<bool> stopping{false}; // set by the thread that ends the link
};

FactoryLink::FactoryLink(const FactoryEndpoint& endpoint, FactoryOutbox& outbox)
    : handler(new Handler(*this, endpoint, outbox))
{
    thread = std::thread([this] { handler->Run(); });
}

FactoryLink::~FactoryLink()
{
    handler->Stop();
    thread.join();
}

void FactoryLink::Nudge() { handler->Nudge(); }
