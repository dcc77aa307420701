#include "BrokerReader.h"
#include "BrokerSender.h"
#include "ProcessScan.h"
#include "TestBroker.h"

#include <QDir>
#include <QtTest>

#include <proton/binary.hpp>
#include <proton/message.hpp>
#include <proton/message_id.hpp>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

namespace {

const int ioTimeoutMs = 20000;

proton::message JsonMessage(const std::string& json, const std::string& id, const std::string& station)
{
    proton::message message;
    message.body(proton::binary(json));
    message.inferred(true); // a data section, as the tool publishes, not an AMQP value holding binary
    message.content_type("application/json; charset=utf-8");
    message.id(proton::message_id(id));
    message.durable(true);
    message.properties().put("station", station);
    message.properties().put("attempt", 2);
    return message;
}

QString FreshFolder(const QString& name)
{
    const QString path = QDir::current().absoluteFilePath(name);
    QDir(path).removeRecursively();
    return path;
}

// Holds a port open the way another program would, so the broker cannot listen on it.
class PortSquatter
{
public:
    explicit PortSquatter(quint16 port) : fd(::socket(AF_INET, SOCK_STREAM, 0))
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        listening = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                    ::listen(fd, 1) == 0;
    }
    ~PortSquatter() { ::close(fd); }

    int fd;
    bool listening = false;
};

} // namespace

class TestBrokerHarness : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();

    // Messages
    void readsBackWhatWasSentInOrder();
    void readerReturnsWhatArrivedByItsDeadline();
    void declaredQueueIsDurable();

    // Restarts
    void durableMessageSurvivesStopAndStart();
    void acceptedDurableMessageSurvivesKill();

    // Users
    void wrongPasswordIsRefused_data();
    void wrongPasswordIsRefused();

    // Processes
    void secondBrokerRunsBesideTheFirstAndLeavesNothingBehind();
    void brokerThatCannotStartFailsWithItsLog();

private:
    std::unique_ptr<TestBroker> broker;
    bool usersAdded = false;
};

void TestBrokerHarness::initTestCase()
{
    broker = std::make_unique<TestBroker>(FreshFolder(QStringLiteral("broker")));
    QVERIFY2(broker->Start(), qPrintable(broker->Failure()));
    qInfo("first start took %d ms", broker->LastStartMs());
}

void TestBrokerHarness::cleanupTestCase()
{
    QVERIFY(broker);
    const qint64 server = broker->ServerPid();
    const qint64 epmd = broker->EpmdPid();
    const QByteArray marker = broker->ProcessMarker();
    QVERIFY(ProcessScan::IsAlive(server));
    QVERIFY(ProcessScan::IsAlive(epmd));
    QVERIFY(!ProcessScan::WithEnvironmentEntry(marker).empty());

    broker.reset();

    QVERIFY(!ProcessScan::IsAlive(server));
    QVERIFY(!ProcessScan::IsAlive(epmd));
    QCOMPARE(ProcessScan::WithEnvironmentEntry(marker).size(), size_t(0));
}

void TestBrokerHarness::readsBackWhatWasSentInOrder()
{
    QVERIFY2(broker->DeclareQueue(QStringLiteral("results")), qPrintable(broker->Failure()));
    const std::vector<proton::message> messages = {
        JsonMessage(R"({"serial":"A1","result":"pass"})", "m-1", "S1"),
        JsonMessage(R"({"serial":"A2","result":"fail"})", "m-2", "S2"),
        JsonMessage(R"({"serial":"A3","text":"ü"})", "m-3", "S3"),
    };
    const SendResult sent =
        BrokerSender().Send(broker->Url(), QStringLiteral("/queue/results"), messages, ioTimeoutMs);
    QVERIFY2(sent.AllAccepted(), qPrintable(sent.error));
    QCOMPARE(broker->QueueDepth(QStringLiteral("results")), qint64(3));

    BrokerReader reader;
    const std::vector<ReceivedMessage> got =
        reader.Read(broker->Url(), QStringLiteral("/queue/results"), 3, ioTimeoutMs);
    QVERIFY2(reader.Error().isEmpty(), qPrintable(reader.Error()));
    QCOMPARE(got.size(), size_t(3));
    QCOMPARE(got[0].body, QByteArray(R"({"serial":"A1","result":"pass"})"));
    QCOMPARE(got[1].body, QByteArray(R"({"serial":"A2","result":"fail"})"));
    QCOMPARE(QString::fromUtf8(got[2].body), QStringLiteral(R"({"serial":"A3","text":"ü"})"));
    const QStringList ids = {QStringLiteral("m-1"), QStringLiteral("m-2"), QStringLiteral("m-3")};
    for (size_t i = 0; i < got.size(); ++i) {
        QVERIFY(got[i].dataSection);
        QVERIFY(got[i].durable);
        QCOMPARE(got[i].contentType, QStringLiteral("application/json; charset=utf-8"));
        QCOMPARE(got[i].messageId, ids[int(i)]);
        QCOMPARE(got[i].properties.value(QStringLiteral("station")),
                 QVariant(QStringLiteral("S%1").arg(i + 1)));
        QCOMPARE(got[i].properties.value(QStringLiteral("attempt")).toLongLong(), 2LL);
    }
    QCOMPARE(broker->QueueDepth(QStringLiteral("results")), qint64(0));
}

void TestBrokerHarness::readerReturnsWhatArrivedByItsDeadline()
{
    QVERIFY2(broker->DeclareQueue(QStringLiteral("short")), qPrintable(broker->Failure()));
    const SendResult sent = BrokerSender().Send(broker->Url(), QStringLiteral("/queue/short"),
                                                {JsonMessage("{}", "only", "S1")}, ioTimeoutMs);
    QVERIFY2(sent.AllAccepted(), qPrintable(sent.error));

    BrokerReader reader;
    const std::vector<ReceivedMessage> got =
        reader.Read(broker->Url(), QStringLiteral("/queue/short"), 2, 1500);
    QCOMPARE(got.size(), size_t(1));
    QCOMPARE(got[0].messageId, QStringLiteral("only"));
    QVERIFY2(reader.Error().isEmpty(), qPrintable(reader.Error()));
    // The one that did arrive was accepted, not left for the next reader.
    QCOMPARE(broker->QueueDepth(QStringLiteral("short")), qint64(0));
}

void TestBrokerHarness::declaredQueueIsDurable()
{
    QVERIFY2(broker->DeclareQueue(QStringLiteral("kept")), qPrintable(broker->Failure()));
    // Declaring what exists already is fine and keeps its messages.
    const SendResult sent = BrokerSender().Send(broker->Url(), QStringLiteral("/queue/kept"),
                                                {JsonMessage("{}", "k", "S1")}, ioTimeoutMs);
    QVERIFY2(sent.AllAccepted(), qPrintable(sent.error));
    QVERIFY2(broker->DeclareQueue(QStringLiteral("kept")), qPrintable(broker->Failure()));
    const std::optional<QueueState> state = broker->Queue(QStringLiteral("kept"));
    QVERIFY(state);
    QVERIFY(state->durable);
    QCOMPARE(state->messages, qint64(1));
    QVERIFY(!broker->Queue(QStringLiteral("never-declared")));
    QCOMPARE(broker->QueueDepth(QStringLiteral("never-declared")), qint64(-1));
    QCOMPARE(BrokerReader().Read(broker->Url(), QStringLiteral("/queue/kept"), 1, ioTimeoutMs).size(),
             size_t(1));
}

void TestBrokerHarness::durableMessageSurvivesStopAndStart()
{
    QVERIFY2(broker->DeclareQueue(QStringLiteral("restart")), qPrintable(broker->Failure()));
    const SendResult sent =
        BrokerSender().Send(broker->Url(), QStringLiteral("/queue/restart"),
                            {JsonMessage(R"({"n":1})", "before-stop", "S1")}, ioTimeoutMs);
    QVERIFY2(sent.AllAccepted(), qPrintable(sent.error));
    const quint16 port = broker->Port();

    QElapsedTimer clock;
    clock.start();
    QVERIFY2(broker->Stop(), qPrintable(broker->Failure()));
    qInfo("stop took %lld ms", clock.elapsed());
    QVERIFY(!broker->IsRunning());
    QVERIFY(BrokerReader().Read(broker->Url(), QStringLiteral("/queue/restart"), 1, 1000).empty());

    QVERIFY2(broker->Start(), qPrintable(broker->Failure()));
    qInfo("restart took %d ms", broker->LastStartMs());
    QCOMPARE(broker->Port(), port);
    QCOMPARE(broker->QueueDepth(QStringLiteral("restart")), qint64(1));
    const std::vector<ReceivedMessage> got =
        BrokerReader().Read(broker->Url(), QStringLiteral("/queue/restart"), 1, ioTimeoutMs);
    QCOMPARE(got.size(), size_t(1));
    QCOMPARE(got[0].messageId, QStringLiteral("before-stop"));
    QCOMPARE(got[0].body, QByteArray(R"({"n":1})"));
}

void TestBrokerHarness::acceptedDurableMessageSurvivesKill()
{
    QVERIFY2(broker->DeclareQueue(QStringLiteral("crash")), qPrintable(broker->Failure()));
    const SendResult sent =
        BrokerSender().Send(broker->Url(), QStringLiteral("/queue/crash"),
                            {JsonMessage(R"({"n":2})", "before-kill", "S1")}, ioTimeoutMs);
    QVERIFY2(sent.AllAccepted(), qPrintable(sent.error));

    QVERIFY(broker->Kill());
    QVERIFY2(broker->Start(), qPrintable(broker->Failure()));
    const std::vector<ReceivedMessage> got =
        BrokerReader().Read(broker->Url(), QStringLiteral("/queue/crash"), 1, ioTimeoutMs);
    QCOMPARE(got.size(), size_t(1));
    QCOMPARE(got[0].messageId, QStringLiteral("before-kill"));
}

void TestBrokerHarness::wrongPasswordIsRefused_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("wrong password") << "station" << "wrong" << false;
    QTest::newRow("unknown user") << "nobody" << "s3cret" << false;
    // Only a client that logs in as the user it was given is refused here: guest, whom an anonymous login
    // becomes, may use the host.
    QTest::newRow("right password, no rights on the host") << "visitor" << "v1sitor" << false;
    QTest::newRow("right password") << "station" << "s3cret" << true;
}

void TestBrokerHarness::wrongPasswordIsRefused()
{
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(bool, accepted);

    if (!usersAdded) {
        QVERIFY2(broker->DeclareQueue(QStringLiteral("users")), qPrintable(broker->Failure()));
        QVERIFY2(broker->AddUser(QStringLiteral("station"), QStringLiteral("s3cret")),
                 qPrintable(broker->Failure()));
        const CtlResult visitor = broker->Ctl({QStringLiteral("add_user"), QStringLiteral("visitor"),
                                               QStringLiteral("v1sitor")});
        QVERIFY2(visitor.ok, qPrintable(visitor.output));
        usersAdded = true;
    }
    const qint64 before = broker->QueueDepth(QStringLiteral("users"));
    const SendResult sent = BrokerSender().Send(broker->Url(user, password), QStringLiteral("/queue/users"),
                                                {JsonMessage("{}", "u", "S1")}, ioTimeoutMs);
    if (accepted) {
        QVERIFY2(sent.AllAccepted(), qPrintable(sent.error));
    } else {
        QVERIFY(!sent.AllAccepted());
        QVERIFY(!sent.error.isEmpty());
        QCOMPARE(sent.outcomes.at(0), SendOutcome::None);
    }
    QCOMPARE(broker->QueueDepth(QStringLiteral("users")), before + (accepted ? 1 : 0));
}

void TestBrokerHarness::secondBrokerRunsBesideTheFirstAndLeavesNothingBehind()
{
    qint64 server = 0;
    qint64 epmd = 0;
    QByteArray marker;
    {
        TestBroker second(FreshFolder(QStringLiteral("second")));
        QVERIFY2(second.Start(), qPrintable(second.Failure()));
        QVERIFY(second.Port() != broker->Port());
        QVERIFY(second.NodeName() != broker->NodeName());
        // A queue name no other test uses, so the first broker's count does not depend on what ran before.
        QVERIFY2(broker->DeclareQueue(QStringLiteral("beside")), qPrintable(broker->Failure()));
        QVERIFY2(second.DeclareQueue(QStringLiteral("beside")), qPrintable(second.Failure()));
        const SendResult sent = BrokerSender().Send(second.Url(), QStringLiteral("/queue/beside"),
                                                    {JsonMessage("{}", "second", "S9")}, ioTimeoutMs);
        QVERIFY2(sent.AllAccepted(), qPrintable(sent.error));
        QCOMPARE(second.QueueDepth(QStringLiteral("beside")), qint64(1));
        QCOMPARE(broker->QueueDepth(QStringLiteral("beside")), qint64(0));
        server = second.ServerPid();
        epmd = second.EpmdPid();
        marker = second.ProcessMarker();
        QVERIFY(ProcessScan::IsAlive(server));
        QVERIFY(ProcessScan::IsAlive(epmd));
    }
    QVERIFY(!ProcessScan::IsAlive(server));
    QVERIFY(!ProcessScan::IsAlive(epmd));
    QCOMPARE(ProcessScan::WithEnvironmentEntry(marker).size(), size_t(0));
    QVERIFY(broker->IsRunning());
}

void TestBrokerHarness::brokerThatCannotStartFailsWithItsLog()
{
    QByteArray marker;
    {
        TestBroker blocked(FreshFolder(QStringLiteral("blocked")));
        PortSquatter squatter(blocked.Port());
        QVERIFY(squatter.listening);
        marker = blocked.ProcessMarker();
        QVERIFY(!blocked.Start(60000));
        QVERIFY(blocked.Failure().contains(blocked.NodeName() + QStringLiteral(".log")));
        QVERIFY2(blocked.Failure().contains(QString::number(blocked.Port())), qPrintable(blocked.Failure()));
        QVERIFY(!blocked.IsRunning());
    }
    QCOMPARE(ProcessScan::WithEnvironmentEntry(marker).size(), size_t(0));
}

QTEST_GUILESS_MAIN(TestBrokerHarness)
#include "tst_TestBroker.moc"
