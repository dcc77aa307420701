// A private broker for the Python drivers, which have no AMQP 1.0 client of their own: starts the test broker,
// says where it listens, and empties queues on request until its standard input closes.
//
//   pxl_soak_broker <folder>
//   out: {"url":"amqp://127.0.0.1:<port>"}          once the broker takes connections
//   in:  read <queue> <file>                          every message now in the queue, one JSON line each, to file
//   out: {"read":<n>,"depth":<n>,"error":"..."}       error empty when the reader got them all
// A start that fails prints {"error":"..."} and exits 1. The broker stops when standard input ends.
#include "BrokerReader.h"
#include "TestBroker.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <iostream>
#include <string>

namespace {

void Say(const QJsonObject& object)
{
    std::cout << QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString() << std::endl;
}

QJsonObject Drain(TestBroker& broker, const QString& queue, const QString& path)
{
    const qint64 depth = broker.QueueDepth(queue);
    std::vector<ReceivedMessage> messages;
    BrokerReader reader;
    if (depth > 0)
        messages = reader.Read(broker.Url(), QStringLiteral("/queue/") + queue, int(depth), 120000);
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return {{"read", 0}, {"depth", double(depth)}, {"error", QStringLiteral("cannot write ") + path}};
    for (const ReceivedMessage& message : messages)
        out.write(QJsonDocument(QJsonObject{{"body", QString::fromUtf8(message.body)}, {"id", message.messageId}})
                      .toJson(QJsonDocument::Compact) +
                  '\n');
    QString error = reader.Error();
    if (error.isEmpty() && qint64(messages.size()) < depth)
        error = QStringLiteral("%1 of %2 messages arrived").arg(messages.size()).arg(depth);
    return {{"read", int(messages.size())}, {"depth", double(depth)}, {"error", error}};
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: pxl_soak_broker <folder>\n");
        return 2;
    }
    TestBroker broker(QString::fromLocal8Bit(argv[1]));
    if (!broker.Start()) {
        Say({{"error", broker.Failure()}});
        return 1;
    }
    Say({{"url", broker.Url()}});
    std::string line;
    while (std::getline(std::cin, line)) {
        const QStringList words = QString::fromStdString(line).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (words.size() == 3 && words[0] == QLatin1String("read"))
            Say(Drain(broker, words[1], words[2]));
        else
            Say({{"error", QStringLiteral("unknown request: ") + QString::fromStdString(line)}});
    }
    return 0;
}
