#pragma once

#include "BrokerEnvironment.h"
#include "RabbitCtl.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class ChildProcess;

struct QueueState
{
    bool durable = false;
    qint64 messages = 0; // ready and unacknowledged together
};

// A private RabbitMQ node with the AMQP 1.0 plugin, for tests that publish to a real broker and read back
// what arrived. It runs from the installed server scripts but owns its home, cookie, node name, data, logs
// and ports, so it neither needs the machine's broker set up nor clashes with another test broker running at
// the same time. Whatever happens in the test, the destructor leaves none of its processes behind.
//
// Measured on a 2-core build machine: a first start on a fresh data folder takes 4-5.5 s, a restart on the
// same folder about 3.5 s, a stop about 1.5 s, and a node that fails to boot is noticed within about 5 s.
class TestBroker
{
public:
    // folder holds the node's home, data and logs; give each broker a folder of its own.
    explicit TestBroker(const QString& folder);
    ~TestBroker();
    TestBroker(const TestBroker&) = delete;
    TestBroker& operator=(const TestBroker&) = delete;

    // Starts the node and returns once it accepts AMQP 1.0 connections. Starting again after Stop() keeps the
    // data folder and the ports, so durable queues and their durable messages are back. False when the node
    // does not come up in time; Failure() then says why and ends with the last lines of its logs.
    bool Start(int timeoutMs = 60000);
    // Stops the node gracefully, killing it only when it does not go within the time.
    bool Stop(int timeoutMs = 30000);
    // Kills the node outright, as a crash or power cut would; Start() recovers from what is on disk.
    bool Kill();
    bool IsRunning() const;
    QString Failure() const { return failure; }
    int LastStartMs() const { return lastStartMs; }

    quint16 Port() const { return ports.amqp; }
    // amqp://127.0.0.1:<port>; without a user the AMQP 1.0 plugin lets the client in as guest.
    QString Url() const;
    QString Url(const QString& user, const QString& password) const;
    QString NodeName() const { return nodeName; }

    qint64 ServerPid() const { return serverPid; }
    qint64 EpmdPid() const { return epmdPid; }
    // NAME=value entry in the environment of every process of this broker (see ProcessScan).
    QByteArray ProcessMarker() const { return environment.Marker(); }

    // A user with full rights on the default virtual host.
    bool AddUser(const QString& user, const QString& password);
    // Makes sure a durable classic queue of that name exists; false when it cannot, or one exists not
    // durable.
    bool DeclareQueue(const QString& name);
    // What the node reports for the queue right now; nothing when there is no such queue or the node fails.
    std::optional<QueueState> Queue(const QString& name);
    // Messages in the queue, or -1 when there is no such queue.
    qint64 QueueDepth(const QString& name);

    // Any other command of the command-line tool, against this node.
    CtlResult Ctl(const QStringList& arguments, int timeoutMs = 60000);
    // The last lines of the server's own output and of the node's log.
    QString LogTail(int lines = 30) const;

private:
    bool StartEpmd();
    bool StartServer();
    bool WaitUntilReady(int timeoutMs);
    bool Fail(const QString& reason);
    bool FailWithLogs(const QString& reason);
    void SweepLeftovers();

    QString nodeName;
    BrokerPorts ports;
    BrokerEnvironment environment;
    std::unique_ptr<ChildProcess> epmd;
    std::unique_ptr<ChildProcess> server;
    qint64 serverPid = 0;
    qint64 epmdPid = 0;
    QString failure;
    int lastStartMs = 0;
};
