#include "BrokerSender.h"

#include "BoundedClient.h"

#include <proton/connection.hpp>
#include <proton/sender.hpp>
#include <proton/sender_options.hpp>
#include <proton/target_options.hpp>
#include <proton/tracker.hpp>

#include <map>
#include <string>

bool SendResult::AllAccepted() const
{
    for (const SendOutcome outcome : outcomes)
        if (outcome != SendOutcome::Accepted)
            return false;
    return error.isEmpty();
}

namespace {

class SendClient : public BoundedClient
{
public:
    SendClient(const QString& url, const QString& address_, bool durableTarget_,
               const std::vector<proton::message>& messages_, int timeoutMs)
        : BoundedClient(url.toStdString(), std::chrono::milliseconds(timeoutMs)),
          address(address_.toStdString()), durableTarget(durableTarget_), messages(messages_),
          outcomes(messages_.size(), SendOutcome::None)
    {
    }

    std::vector<SendOutcome> Outcomes() const { return outcomes; }

private:
    void Opened(proton::connection& connection) override
    {
        if (messages.empty()) {
            Finish();
            return;
        }
        const auto durability =
            durableTarget ? proton::terminus::CONFIGURATION : proton::terminus::NONDURABLE;
        connection.open_sender(
            address, proton::sender_options().target(proton::target_options().durability_mode(durability)));
    }

    void on_sendable(proton::sender& sender) override
    {
        while (sender.credit() > 0 && next < messages.size()) {
            const proton::tracker tracker = sender.send(messages[next]);
            indexByTag[Tag(tracker)] = next;
            ++next;
        }
    }

    void on_tracker_accept(proton::tracker& tracker) override { Settle(tracker, SendOutcome::Accepted); }
    void on_tracker_reject(proton::tracker& tracker) override { Settle(tracker, SendOutcome::Rejected); }
    void on_tracker_release(proton::tracker& tracker) override
    {
        Settle(tracker,
               tracker.state() == proton::transfer::MODIFIED ? SendOutcome::Modified : SendOutcome::Released);
    }

    static std::string Tag(const proton::tracker& tracker)
    {
        const proton::binary tag = tracker.tag();
        return std::string(tag.begin(), tag.end());
    }

    void Settle(const proton::tracker& tracker, SendOutcome outcome)
    {
        const auto found = indexByTag.find(Tag(tracker));
        if (found == indexByTag.end())
            return;
        outcomes[found->second] = outcome;
        if (++settled == messages.size())
            Finish();
    }

    std::string address;
    bool durableTarget;
    const std::vector<proton::message>& messages;
    std::vector<SendOutcome> outcomes;
    std::map<std::string, size_t> indexByTag;
    size_t next = 0;
    size_t settled = 0;
};

} // namespace

BrokerSender& BrokerSender::DurableTarget(bool durable)
{
    durableTarget = durable;
    return *this;
}

SendResult BrokerSender::Send(const QString& url, const QString& address,
                              const std::vector<proton::message>& messages, int timeoutMs)
{
    SendClient client(url, address, durableTarget, messages, timeoutMs);
    SendResult result;
    result.error = QString::fromStdString(client.Run());
    result.outcomes = client.Outcomes();
    return result;
}
