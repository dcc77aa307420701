#include "BrokerReader.h"

#include "BoundedClient.h"
#include "ProtonText.h"

#include <proton/connection.hpp>
#include <proton/delivery.hpp>
#include <proton/receiver.hpp>
#include <proton/receiver_options.hpp>
#include <proton/source_options.hpp>
#include <proton/types.hpp>

namespace {

class ReadClient : public BoundedClient
{
public:
    ReadClient(const QString& url, const QString& address_, int count_, int timeoutMs)
        : BoundedClient(url.toStdString(), std::chrono::milliseconds(timeoutMs)),
          address(address_.toStdString()), count(count_)
    {
    }

    std::vector<ReceivedMessage> messages;

private:
    void Opened(proton::connection& connection) override
    {
        // No credit until the link is up, and then exactly what was asked for: anything fetched beyond it
        // would go back to the queue on close, behind messages that came later.
        // The source is durable because the broker re-declares the queue behind /queue/<name> with the
        // source's durability and refuses the link when the queue, durable as tests declare it, differs.
        connection.open_receiver(
            address, proton::receiver_options().credit_window(0).auto_accept(false).source(
                         proton::source_options().durability_mode(proton::terminus::CONFIGURATION)));
    }

    void on_receiver_open(proton::receiver& receiver) override
    {
        if (count > 0)
            receiver.add_credit(count);
        else
            Finish();
    }

    void on_message(proton::delivery& delivery, proton::message& message) override
    {
        ReceivedMessage received;
        received.body = ProtonText::Body(message.body());
        received.dataSection = message.inferred() && message.body().type() == proton::BINARY;
        received.contentType = QString::fromStdString(message.content_type());
        received.messageId = ProtonText::MessageId(message.id());
        received.properties = ProtonText::Properties(message);
        received.durable = message.durable();
        messages.push_back(std::move(received));
        // Accepted before the close below, so the broker settles it rather than putting it back.
        delivery.accept();
        if (static_cast<int>(messages.size()) >= count)
            Finish();
    }

    std::string address;
    int count;
};

} // namespace

std::vector<ReceivedMessage> BrokerReader::Read(const QString& url, const QString& address, int count,
                                                int timeoutMs)
{
    ReadClient client(url, address, count, timeoutMs);
    error = QString::fromStdString(client.Run());
    return std::move(client.messages);
}
